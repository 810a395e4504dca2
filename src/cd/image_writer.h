#pragma once

#include "cd/disc_image.h"

#include <QString>

#include <vector>

// Writes disc images of synthesized music: the demo disc that lets a new user
// see a disc without a drive, and the discs the tests and benchmarks read.

struct TImageTrackSpec {
    qint64 Frames = 0;       // from index 1 to the next track
    qint64 PregapFrames = 0; // between index 0 and index 1 (before track 1: a hidden track)
    bool Data = false;       // a data track (MODE1/2352 sectors) instead of audio
    int Session = 1;
    int Voice = 0; // which tune the track plays
};

struct TImageSpec {
    TImageFormat Format = TImageFormat::Cue;
    std::vector<TImageTrackSpec> Tracks;
};

// Fills frames sectors of stereo audio for voice, starting at firstFrame of the
// tune: the same arguments always give the same bytes. The channels play
// different parts.
void SynthesizeFrames(int voice, qint64 firstFrame, qint64 frames, char* out);

// Writes the description at path (.cue or .toc) and its data file beside it,
// named like it with ".bin". Returns an error text, empty on success.
QString WriteDiscImage(const QString& path, const TImageSpec& spec);

// The demo disc: four short tracks of different lengths, one shorter than a second.
TImageSpec DemoDiscSpec();
QString WriteDemoDisc(const QString& cuePath);
