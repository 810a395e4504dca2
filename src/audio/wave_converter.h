#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <array>

class QIODevice;

// Turns the samples of a WAV file in a compressed format the program does not
// decode itself (MPEG audio, format tag 85, above all) into PCM with FFmpeg's
// decoders, chosen by the format tag, and writes the result as a PCM WAV image.
// The whole compressed data and the whole decoded data are held in memory.
//
// Use: ReadWavData, set the target's format tag to 1, FormatSuggest,
// ConvertData, then WriteWavImage or TakeWavImage. Each step that can fail
// returns one of the result codes below, 0 on success.
//
// One thread at a time; FFmpeg's objects live only inside a call.
class TWaveConverter {
public:
    // Bytes of a format area: a WAVEFORMATEX and the codec's extra bytes.
    static constexpr int FormatAreaSize = 129;
    using TFormatArea = std::array<quint8, FormatAreaSize>;

    static constexpr int ResultOk = 0;
    static constexpr int ResultNoMemory = 7;
    static constexpr int ResultWriteFailed = 286;
    // No decoder for the format, nothing to decode, or nothing decoded.
    static constexpr int ResultNotPossible = 512;

    TWaveConverter();
    ~TWaveConverter();
    TWaveConverter(const TWaveConverter&) = delete;
    TWaveConverter& operator=(const TWaveConverter&) = delete;

    // The largest format description kept: longer fmt chunks are cut here.
    int MaxFormatSize() const { return FormatAreaSize; }
    // The format of the memory contents: tag, channels, rate, bytes per
    // second, block align, bits, extra size, then the codec's extra bytes.
    TFormatArea SourceFormat{};
    TFormatArea TargetFormat{};

    // Loads the fmt chunk into SourceFormat (at most FormatAreaSize bytes of
    // it) and the samples of the first data chunk after it into memory, from
    // a RIFF/WAVE stream. Loads nothing from anything else; never more than
    // the stream holds, whatever the chunk sizes claim.
    void ReadWavData(QIODevice& stream);
    // Fills TargetFormat with what the decoder makes of the source: its own
    // sample rate and channel count, with 16-bit samples. The target's format
    // tag must be 1 (PCM). A fmt chunk shorter than 16 bytes or longer than
    // the format area is refused here and by ConvertData.
    int FormatSuggest();
    // Decodes the memory contents from SourceFormat into TargetFormat (PCM, 8
    // or 16 bits); on success SourceFormat becomes TargetFormat. Damaged
    // packets are skipped; a source that yields no samples at all fails.
    int ConvertData();
    // Writes the contents behind a 44-byte PCM header built from SourceFormat.
    int WriteWavImage(QIODevice& stream);
    // The same image handed over without copying the samples; the memory is
    // empty afterwards.
    QByteArray TakeWavImage();

    // The memory contents: compressed after ReadWavData, PCM after ConvertData.
    qint64 DataSize() const { return Size; }
    const char* Data() const { return Memory.constData() + Offset; }

private:
    QByteArray ImageHeader() const;
    bool SourceUsable() const;

    // The contents live at Offset in Memory: decoded samples leave room for the
    // image header in front, compressed ones zeroed padding behind, which
    // FFmpeg's parsers may read into.
    QByteArray Memory;
    qint64 Offset = 0;
    qint64 Size = 0;
    int SourceFormatLength = 0;      // bytes of SourceFormat the file filled
    qint64 SourceFormatDeclared = 0; // size of the fmt chunk as declared
};
