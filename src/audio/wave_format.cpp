#include "wave_format.h"

#include <QIODevice>
#include <QtEndian>

#include <cstring>

namespace {

// The hunt for "RIFF" and "WAVE" slides one byte at a time (so a file with a
// few bytes in front of its RIFF header still opens); it gives up here.
constexpr qint64 HuntLimit = 8192;
// The fmt chunk fields we use end at byte 22 + 4 x 32; more is never needed.
constexpr int FmtBufferSize = 256;

bool LooksLikeId(const char* id)
{
    for (int i = 0; i < 4; ++i) {
        const unsigned char c = static_cast<unsigned char>(id[i]);
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

bool ReadExact(QIODevice& stream, void* buffer, qint64 length)
{
    char* out = static_cast<char*>(buffer);
    qint64 got = 0;
    while (got < length) {
        const qint64 n = stream.read(out + got, length - got);
        if (n <= 0)
            return false;
        got += n;
    }
    return true;
}

// Seeks only inside the stream: a chunk size pointing past the end means the
// stream ends there (and a memory buffer would complain about the seek).
bool SeekTo(QIODevice& stream, qint64 offset)
{
    return offset <= stream.size() && stream.seek(offset);
}

bool IdAt(QIODevice& stream, qint64 offset, char* id)
{
    return SeekTo(stream, offset) && ReadExact(stream, id, 4);
}

quint16 U16(const unsigned char* p)
{
    return qFromLittleEndian<quint16>(p);
}

quint32 U32(const unsigned char* p)
{
    return qFromLittleEndian<quint32>(p);
}

void PutU16(QByteArray& bytes, int at, quint16 value)
{
    qToLittleEndian<quint16>(value, bytes.data() + at);
}

void PutU32(QByteArray& bytes, int at, quint32 value)
{
    qToLittleEndian<quint32>(value, bytes.data() + at);
}

// Fills the format fields from the fmt chunk's body (length bytes of it were
// read). Returns the type the tag names.
TWavType ReadFormat(TWavHeader& h, const unsigned char* body, int length)
{
    auto u16 = [&](int at) { return at + 2 <= length ? U16(body + at) : 0; };
    auto u32 = [&](int at) { return at + 4 <= length ? U32(body + at) : 0u; };
    h.FormatTag = u16(0);
    h.Channels = u16(2);
    const quint32 rate = u32(4);
    h.SampleRate = rate > 0x7FFFFFFFu ? 0 : static_cast<int>(rate);
    h.BlockAlign = u16(12);
    h.BitsPerSample = u16(14);
    switch (h.FormatTag) {
    case WavFormatPcm:
        return wtPCM;
    case WavFormatMsAdpcm:
        h.SamplesPerBlock = u16(18);
        h.CoefficientCount = u16(20);
        if (h.CoefficientCount <= MaxMsAdpcmCoefficients && 22 + 4 * h.CoefficientCount <= length) {
            for (int i = 0; i < h.CoefficientCount; ++i) {
                h.Coefficients[static_cast<size_t>(i)][0] = static_cast<qint16>(u16(22 + 4 * i));
                h.Coefficients[static_cast<size_t>(i)][1] = static_cast<qint16>(u16(24 + 4 * i));
            }
            h.CoefficientsComplete = true;
        }
        return wtMSADPCM;
    case WavFormatImaAdpcm:
        h.SamplesPerBlock = u16(18);
        return wtDVIADPCM;
    case WavFormatMpegLayer3:
        h.SamplesPerBlock = u16(18);
        return wtACM;
    default:
        return wtUnsupported;
    }
}

} // namespace

bool WavIdMatches(const char* got, const char* want)
{
    for (int i = 0; i < 4; ++i) {
        const int d = static_cast<unsigned char>(got[i]) - static_cast<unsigned char>(want[i]);
        if (d != 0 && d != 32 && d != -32)
            return false;
    }
    return true;
}

qint64 FindFirstWavChunk(QIODevice& stream, qint64* riffOffset)
{
    if (!stream.seek(0))
        return -1;
    char window[4];
    if (!ReadExact(stream, window, 4))
        return -1;
    qint64 offset = 4;
    auto slide = [&]() {
        if (offset >= HuntLimit)
            return false;
        std::memmove(window, window + 1, 3);
        if (!ReadExact(stream, window + 3, 1))
            return false;
        ++offset;
        return true;
    };
    while (!WavIdMatches(window, "RIFF")) {
        if (!slide())
            return -1;
    }
    if (riffOffset)
        *riffOffset = offset - 4;
    // The RIFF size is not used: writers that stream leave it wrong.
    if (!ReadExact(stream, window, 4))
        return -1;
    offset += 4;
    while (!WavIdMatches(window, "WAVE")) {
        if (!slide())
            return -1;
    }
    return offset;
}

bool ReadWavChunk(QIODevice& stream, qint64 offset, TWavChunk& chunk)
{
    unsigned char header[8];
    if (!SeekTo(stream, offset) || !ReadExact(stream, header, 8))
        return false;
    std::memcpy(chunk.Id, header, 4);
    chunk.Size = U32(header + 4);
    chunk.Offset = offset;
    return true;
}

// RIFF pads odd chunks to an even length; some writers forget the pad byte,
// which we notice when only the unpadded position holds something that looks
// like a chunk identifier.
qint64 NextWavChunk(QIODevice& stream, const TWavChunk& chunk)
{
    const qint64 next = chunk.Body() + chunk.Size;
    if ((chunk.Size & 1) == 0)
        return next;
    char id[4];
    if (IdAt(stream, next + 1, id) && LooksLikeId(id))
        return next + 1;
    if (IdAt(stream, next, id) && LooksLikeId(id))
        return next;
    return next + 1;
}

TWavHeader ScanWavHeader(QIODevice& stream)
{
    TWavHeader h;
    qint64 offset = FindFirstWavChunk(stream, &h.RiffOffset);
    if (offset < 0) {
        h.RiffOffset = -1;
        return h;
    }
    enum class TState { Fmt, Fact, Data };
    TState state = TState::Fmt;
    TWavType type = wtUnsupported;
    for (int count = 0; count < MaxWavChunks; ++count) {
        TWavChunk chunk;
        if (!ReadWavChunk(stream, offset, chunk))
            return h;
        const quint32 size = chunk.Size;
        if (state == TState::Fmt && WavIdMatches(chunk.Id, "fmt ")) {
            unsigned char fmt[FmtBufferSize];
            const int length = static_cast<int>(qMin<quint32>(size, FmtBufferSize));
            if (!ReadExact(stream, fmt, length))
                return h;
            h.FmtSize = static_cast<int>(qMin<quint32>(size, 0x7FFFFFFF));
            type = ReadFormat(h, fmt, length);
            if (type == wtUnsupported)
                return h;
            state = type == wtPCM ? TState::Data : TState::Fact;
        } else if (state == TState::Fact && WavIdMatches(chunk.Id, "fact")) {
            unsigned char frames[4];
            if (size >= 4 && ReadExact(stream, frames, 4)) {
                h.HasFact = true;
                h.FactFrames = U32(frames);
                h.FactValueOffset = chunk.Body();
            }
            state = TState::Data;
        } else if (state != TState::Fmt && WavIdMatches(chunk.Id, "data")) {
            // Compressed data without a fact chunk is read as well: streaming
            // writers leave it out, and the frame count follows from the data.
            h.DataSize = size;
            h.DataSizeOffset = chunk.Offset + 4;
            h.DataOffset = chunk.Body();
            h.WavType = type;
            return h;
        }
        offset = NextWavChunk(stream, chunk);
    }
    return h;
}

QByteArray PcmWavHeader(int channels, int sampleRate, int bitsPerSample, quint32 dataSize)
{
    QByteArray h(WavPcmHeaderSize, '\0');
    const int blockAlign = bitsPerSample * channels / 8;
    std::memcpy(h.data(), "RIFF", 4);
    PutU32(h, 4, dataSize + 36);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    PutU32(h, 16, 16);
    PutU16(h, 20, WavFormatPcm);
    PutU16(h, 22, static_cast<quint16>(channels));
    PutU32(h, 24, static_cast<quint32>(sampleRate));
    PutU32(h, 28, static_cast<quint32>(sampleRate) * static_cast<quint32>(blockAlign));
    PutU16(h, 32, static_cast<quint16>(blockAlign));
    PutU16(h, 34, static_cast<quint16>(bitsPerSample));
    std::memcpy(h.data() + 36, "data", 4);
    PutU32(h, 40, dataSize);
    return h;
}

QByteArray ImaWavHeader(int channels, int sampleRate, int blockSize, quint32 frames, quint32 dataSize)
{
    QByteArray h(WavImaHeaderSize, '\0');
    const int samplesPerBlock = ImaSamplesPerBlock(channels, blockSize);
    std::memcpy(h.data(), "RIFF", 4);
    PutU32(h, 4, dataSize + 52);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    PutU32(h, 16, 20);
    PutU16(h, 20, WavFormatImaAdpcm);
    PutU16(h, 22, static_cast<quint16>(channels));
    PutU32(h, 24, static_cast<quint32>(sampleRate));
    PutU32(h, 28, static_cast<quint32>(sampleRate / samplesPerBlock * blockSize));
    PutU16(h, 32, static_cast<quint16>(blockSize));
    PutU16(h, 34, 4);
    PutU16(h, 36, 2);
    PutU16(h, 38, static_cast<quint16>(samplesPerBlock));
    std::memcpy(h.data() + 40, "fact", 4);
    PutU32(h, 44, 4);
    PutU32(h, 48, frames);
    std::memcpy(h.data() + 52, "data", 4);
    PutU32(h, 56, dataSize);
    return h;
}
