#pragma once

#include "cd/disc_image.h"

#include <QString>

#include <cstdint>
#include <memory>

// What FFmpeg finds in a sound file of an album image.
struct TAudioFileInfo {
    qint64 Samples = 0; // stereo samples, as the file declares them
    QString Problem;    // why it cannot be read as CD audio; empty when it can
};

// Probes a sound file. Only CD audio (44100 Hz, 16 bits, 2 channels) is
// accepted; anything else gets a Problem naming its format. Results are kept
// per file (path, size and modification time), so the same files asked about
// again are not decoded again. Any thread.
TAudioFileInfo ProbeAudioFile(const QString& path);

// Serves the sectors of an album image: silence, raw sectors of BINARY and
// MOTOROLA files, and the audio of sound files decoded by FFmpeg. A sound file
// is read forward and seeked where a read jumps; one file is open at a time, so
// memory does not grow with the album.
//
// Sectors a file cannot give (it ends before them, or its data is damaged
// there) fail to read, as on a scratched disc; the sectors around them read.
//
// Threads: one at a time (the drive's lock serialises its reads).
class TAlbumReader {
public:
    explicit TAlbumReader(const TDiscImage& image);
    ~TAlbumReader();
    TAlbumReader(const TAlbumReader&) = delete;
    TAlbumReader& operator=(const TAlbumReader&) = delete;

    // Reads count sectors from start (all within the lead-out) into data. False
    // with a sentence for the user in error when any of them cannot be read.
    bool Read(qint64 start, qint64 count, std::uint8_t* data, QString* error);

private:
    class TDecoder;
    bool ReadRaw(int file, qint64 first, qint64 count, std::uint8_t* data, QString* error);
    bool ReadAudio(int file, qint64 first, qint64 count, std::uint8_t* data, QString* error);

    TDiscImage Image;
    std::unique_ptr<TDecoder> Decoder; // of the sound file read last
    int DecoderFile = -1;
    int RawFile = -1; // the raw file held open, its index
    int RawHandle = -1;
};
