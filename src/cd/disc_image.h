#pragma once

#include "cd/cd_text.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <vector>

// Disc images that stand in for a CD drive: a cdrdao TOC file describing one
// raw data file of 2352-byte sectors, or a CUE sheet over raw data files or
// audio files (WAV, FLAC, WavPack, APE: whatever FFmpeg decodes to CD audio),
// one for the whole disc or one per track.
//
// libcdio's own parsers of these files write past their track table on more than
// 99 tracks, open a TOC's data file relative to the working folder, always read
// the BIN named like the CUE whatever the sheet says, and get the lead-out of a
// TOC wrong. So we parse the description ourselves, accept only what reads back
// correctly, and hand libcdio a plain copy of it that names the data file
// unambiguously (see TDiscImage::CanonicalDescription). Sheets libcdio cannot
// read at all (audio files, several files, silence that no file holds) are
// served sector by sector by the drive library itself (album_reader.h).

inline constexpr int CDFrameBytes = 2352;
inline constexpr int CDFramesPerSecond = 75;
// Minute/second/frame addresses count the 2-second lead-in: 00:02:00 is sector 0.
inline constexpr int CDLeadInFrames = 150;
inline constexpr int CDMaxTracks = 99;
// Between the sessions of a multi-session disc: the first lead-out (90 s), the
// next lead-in (60 s) and the pregap of the next session's first track (2 s).
inline constexpr qint64 CDSessionGapFrames = 11400;
// The last address a TOC entry can hold is 99:59:74.
inline constexpr qint64 CDMaxFrames = 100LL * 60 * CDFramesPerSecond - CDLeadInFrames;

// Audio sectors hold 588 stereo samples of 16 bits.
inline constexpr int CDSamplesPerFrame = CDFrameBytes / 4;
// More files than a sheet of 99 tracks, each with its pregap in a file of its
// own, can need.
inline constexpr int CDMaxImageFiles = 2 * CDMaxTracks;

enum class TImageFormat { Cue, Toc };

// How a file named by the description holds its sectors.
enum class TImageFileKind {
    Binary,   // raw sectors, audio little-endian
    Motorola, // raw sectors, audio big-endian
    Audio,    // a sound file decoded by FFmpeg
};

struct TImageFile {
    QString Name; // as the description names it
    QString Type; // the sheet's type word (BINARY, WAVE, ...)
    TImageFileKind Kind = TImageFileKind::Binary;
    int Line = 0; // where the description names it
    // Found and measured by LoadDiscImage:
    QString Path;       // absolute
    qint64 Frames = 0;  // sectors it holds; an audio file's last partial sector counts
    qint64 Samples = 0; // audio files: stereo samples, as the file declares them
};

// A stretch of the disc: sectors of one file, or silence that no file holds.
struct TImagePiece {
    qint64 DiscStart = 0;
    qint64 Frames = 0;
    int File = -1; // index into the files; -1 for silence
    qint64 FileStart = 0;
};

struct TImageTrack {
    int Number = 0;
    bool Audio = true;
    QString Mode = QStringLiteral("AUDIO"); // AUDIO, MODE1/2352 or MODE2/2352
    int Session = 1;
    qint64 Start = 0;        // sector of index 1: the track's address
    qint64 PregapStart = -1; // sector of index 0, -1 when there is none
    // TOC files: where the track's data begins in the file, and its length in
    // sectors (-1: up to the end of the file).
    qint64 FileStart = 0;
    qint64 Length = -1;
    bool CopyPermitted = false;
    bool Preemphasis = false;
    bool FourChannel = false;
    // CUE sheets: the files that hold index 1 and index 0. Until LoadDiscImage
    // places the tracks on the disc, Start and PregapStart count from the
    // start of those files.
    int StartFile = 0;
    int PregapFile = 0;
    qint64 PregapFrames = 0;  // PREGAP: silence before index 1
    qint64 PostgapFrames = 0; // POSTGAP: silence after the track
};

struct TImageDescription {
    TImageFormat Format = TImageFormat::Cue;
    QString DataFile; // the first file, as the description names it
    std::vector<TImageFile> Files;
    std::vector<TImageTrack> Tracks;
    TCDText Text;
    QString DiscId;  // a sheet's REM DISCID, as written
    QString Problem; // why the description is refused; empty when accepted

    bool IsAccepted() const { return Problem.isEmpty(); }
};

// Parsers of the description text. They never fail on any input: what they do
// not accept comes back with a Problem naming the line. A CUE sheet is read as
// UTF-8 when it is valid UTF-8 (with or without a byte-order mark), otherwise
// as code page 1252, as Windows programs write it.
TImageDescription ParseCueSheet(const QByteArray& text);
TImageDescription ParseTocFile(const QByteArray& text);

// "mm:ss:ff" of a number of frames (no lead-in added).
QString FramesToMsfText(qint64 frames);

// A description checked against its data file.
struct TDiscImage {
    QString DescriptionPath; // absolute
    QString DataPath;        // absolute path of the (first) data file
    TImageFormat Format = TImageFormat::Cue;
    std::vector<TImageFile> Files;
    std::vector<TImageTrack> Tracks;
    qint64 LeadOut = 0; // first sector after the last track
    // Set when the drive library serves the sectors itself: the disc from its
    // first sector to the lead-out, piece by piece. Otherwise libcdio reads the
    // one data file.
    bool Served = false;
    std::vector<TImagePiece> Pieces;
    TCDText Text;
    // Something the user should know about an image that reads: the sheet's
    // REM DISCID disagreeing with the id of the tracks, for one.
    QString Note;
    QString Problem;

    bool IsValid() const { return Problem.isEmpty(); }
    // Tracks of the first session when the later sessions hold only data (an
    // Enhanced CD), else all tracks.
    int AudioSessionTrackCount() const;
    // Where the first session ends on such a disc, else the lead-out: as on the
    // disc, CDSessionGapFrames before the second session's first track, unless
    // that is not after the last audio track's start (an image made up without
    // the gap); then where the second session's first track or its pregap begins.
    qint64 AudioSessionLeadOut() const;
    // The description as libcdio gets it: the data file named by dataPath,
    // one track per entry, nothing that libcdio would read differently.
    QByteArray CanonicalDescription(const QString& dataPath) const;
};

// Reads and checks the description at path and its data file. Problems are
// sentences for the user, naming the file.
TDiscImage LoadDiscImage(const QString& path);
