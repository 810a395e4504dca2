#pragma once

#include "audio/adpcm.h"

#include <QByteArray>
#include <QtGlobal>

class QIODevice;

// The WAV (RIFF) layout: reading the chunks in front of the samples, and the
// two headers this program writes. All numbers in a WAV file are little-endian.

enum TWavType { wtUnsupported = 0, wtPCM = 1, wtDVIADPCM = 2, wtMSADPCM = 3, wtACM = 4 };

inline constexpr int WavPcmHeaderSize = 44;
inline constexpr int WavImaHeaderSize = 60;
inline constexpr int WavFormatPcm = 1;
inline constexpr int WavFormatMsAdpcm = 2;
inline constexpr int WavFormatImaAdpcm = 17;
inline constexpr int WavFormatMpegLayer3 = 85;

// What the scan found in front of the samples. Fields the file does not carry
// stay 0; nothing here is validated beyond what the scan needs to go on.
struct TWavHeader {
    TWavType WavType = wtUnsupported;
    int FormatTag = 0;
    int Channels = 0;
    int SampleRate = 0;
    int BlockAlign = 0;
    int BitsPerSample = 0;
    int SamplesPerBlock = 0;
    int FmtSize = 0; // size of the fmt chunk's body as declared
    // Microsoft ADPCM: the declared pair count, and the pairs when there are at
    // most 32 of them and the fmt chunk holds them all.
    int CoefficientCount = 0;
    bool CoefficientsComplete = false;
    TMsAdpcmCoefficients Coefficients{};
    qint64 RiffOffset = -1; // stream offset of "RIFF"
    bool HasFact = false;
    quint32 FactFrames = 0;
    qint64 FactValueOffset = -1; // stream offset of the fact chunk's frame count
    quint32 DataSize = 0;        // as declared by the data chunk
    qint64 DataSizeOffset = -1;  // stream offset of the data chunk's size field
    qint64 DataOffset = -1;      // stream offset of the first sample byte
};

// Reads the chunks of a RIFF/WAVE stream from offset 0 up to the start of the
// "data" chunk's samples. Identifiers match in either case ("fmt " or "FMT ").
// Chunks of odd size are followed by a pad byte, which is skipped (a writer
// that leaves it out is tolerated). Chunks the scan does not need are skipped
// without reading them, so large metadata chunks cost nothing. The scan ends
// with wtUnsupported when no data chunk follows a usable fmt chunk, for an
// unknown format tag, and when the stream ends early. Leaves the stream at an
// unspecified position.
TWavHeader ScanWavHeader(QIODevice& stream);

// The chunks of a RIFF/WAVE stream, for readers that need more than the scan
// above. Identifiers match in either case ("fmt " or "FMT ").
inline constexpr int MaxWavChunks = 4096; // a walk gives up after this many

struct TWavChunk {
    char Id[4] = {};
    quint32 Size = 0;
    qint64 Offset = 0; // stream offset of the identifier
    qint64 Body() const { return Offset + 8; }
};

bool WavIdMatches(const char* got, const char* want);
// Finds "RIFF" and then "WAVE" within the first 8 KB and returns the offset of
// the first chunk, or -1; riffOffset receives where "RIFF" starts.
qint64 FindFirstWavChunk(QIODevice& stream, qint64* riffOffset = nullptr);
// Reads the identifier and size of the chunk at offset; false at the end of
// the stream. Leaves the stream at the chunk's body.
bool ReadWavChunk(QIODevice& stream, qint64 offset, TWavChunk& chunk);
// Where the chunk after this one starts (after the pad byte of an odd chunk,
// unless the writer left it out).
qint64 NextWavChunk(QIODevice& stream, const TWavChunk& chunk);

// The 44-byte header of a PCM file.
QByteArray PcmWavHeader(int channels, int sampleRate, int bitsPerSample, quint32 dataSize);

// The 60-byte header of an IMA ADPCM file with a fact chunk.
QByteArray ImaWavHeader(int channels, int sampleRate, int blockSize, quint32 frames, quint32 dataSize);
