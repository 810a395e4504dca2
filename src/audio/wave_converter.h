#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <array>
#include <memory>

class QIODevice;

// Turns the samples of a WAV file in a compressed format the program does not
// decode itself (MPEG audio, format tag 85, above all) into PCM with FFmpeg's
// decoders, chosen by the format tag. The compressed samples are read from the
// file and decoded piece by piece as the PCM is asked for, so memory does not
// grow with the file's length.
//
// Use: ReadWavData, set the target's format tag to 1, FormatSuggest,
// ConvertData, then ReadConverted until it gives 0. MeasureData tells the
// length of the whole PCM beforehand. Each step that can fail returns one of
// the result codes below, 0 on success.
//
// One thread at a time; the stream given to ReadWavData must stay open for as
// long as the converter reads it.
class TWaveConverter {
public:
    // Bytes of a format area: a WAVEFORMATEX and the codec's extra bytes.
    static constexpr int FormatAreaSize = 129;
    using TFormatArea = std::array<quint8, FormatAreaSize>;

    static constexpr int ResultOk = 0;
    static constexpr int ResultNoMemory = 7;
    static constexpr int ResultReadFailed = 286;
    // No decoder for the format, nothing to decode, or nothing decoded.
    static constexpr int ResultNotPossible = 512;

    TWaveConverter();
    ~TWaveConverter();
    TWaveConverter(const TWaveConverter&) = delete;
    TWaveConverter& operator=(const TWaveConverter&) = delete;

    // The largest format description kept: longer fmt chunks are cut here.
    int MaxFormatSize() const { return FormatAreaSize; }
    // The format of the compressed samples, and the one they are decoded to:
    // tag, channels, rate, bytes per second, block align, bits, extra size,
    // then the codec's extra bytes.
    TFormatArea SourceFormat{};
    TFormatArea TargetFormat{};

    // Loads the fmt chunk into SourceFormat (at most FormatAreaSize bytes of
    // it) and finds the samples of the first data chunk after it, from a
    // RIFF/WAVE stream; the samples are read later, as they are decoded. Finds
    // nothing in anything else; never more than the stream holds, whatever the
    // chunk sizes claim.
    void ReadWavData(QIODevice& stream);
    // Fills TargetFormat with what the decoder makes of the source: its own
    // sample rate and channel count, with 16-bit samples. The target's format
    // tag must be 1 (PCM). A fmt chunk shorter than 16 bytes or longer than
    // the format area is refused here and by ConvertData.
    int FormatSuggest();
    // Starts decoding from SourceFormat into TargetFormat (PCM, 8 or 16 bits)
    // at the first compressed byte; called again, it starts over.
    int ConvertData();
    // The next decoded PCM bytes, at most length of them; 0 at the end, -1
    // when the stream cannot be read. Damaged packets are skipped. A decoding
    // that would pass 4 GB, the most a WAV file holds, ends there.
    qint64 ReadConverted(char* buffer, qint64 length);
    // Decodes everything once to count it: bytes receives the length of the
    // PCM that ConvertData and ReadConverted deliver. A source that yields no
    // samples at all fails. Leaves the conversion at its start.
    int MeasureData(qint64* bytes);

    // Bytes of compressed samples the stream holds.
    qint64 DataSize() const { return DataLength; }

private:
    class TRun;
    bool SourceUsable() const;

    QIODevice* Stream = nullptr;
    qint64 DataOffset = 0; // stream offset of the first compressed byte
    qint64 DataLength = 0;
    int SourceFormatLength = 0;      // bytes of SourceFormat the file filled
    qint64 SourceFormatDeclared = 0; // size of the fmt chunk as declared
    std::unique_ptr<TRun> Run;       // the conversion ConvertData started
};
