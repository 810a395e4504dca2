#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <vector>

// Disc images that stand in for a CD drive: a CUE sheet or a cdrdao TOC file
// describing one raw data file of 2352-byte sectors.
//
// libcdio's own parsers of these files write past their track table on more than
// 99 tracks, open a TOC's data file relative to the working folder, always read
// the BIN named like the CUE whatever the sheet says, and get the lead-out of a
// TOC wrong. So we parse the description ourselves, accept only what reads back
// correctly, and hand libcdio a plain copy of it that names the data file
// unambiguously (see TDiscImage::CanonicalDescription).

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

enum class TImageFormat { Cue, Toc };

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
};

struct TImageDescription {
    TImageFormat Format = TImageFormat::Cue;
    QString DataFile; // as the description names it
    std::vector<TImageTrack> Tracks;
    QString Problem; // why the description is refused; empty when accepted

    bool IsAccepted() const { return Problem.isEmpty(); }
};

// Parsers of the description text. They never fail on any input: what they do
// not accept comes back with a Problem naming the line.
TImageDescription ParseCueSheet(const QByteArray& text);
TImageDescription ParseTocFile(const QByteArray& text);

// "mm:ss:ff" of a number of frames (no lead-in added).
QString FramesToMsfText(qint64 frames);

// A description checked against its data file.
struct TDiscImage {
    QString DescriptionPath; // absolute
    QString DataPath;        // absolute path of the data file
    TImageFormat Format = TImageFormat::Cue;
    std::vector<TImageTrack> Tracks;
    qint64 LeadOut = 0; // first sector after the last track
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
