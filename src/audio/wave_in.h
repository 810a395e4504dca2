#pragma once

#include "audio/acs_input.h"
#include "audio/wave_converter.h"
#include "audio/wave_format.h"

#include <QDateTime>

#include <memory>
#include <vector>

// The WAV file source: PCM (8 or 16 bits, mono or stereo), IMA ADPCM and
// Microsoft ADPCM, the ADPCM kinds decoded to 16 bits. MPEG audio inside a WAV
// file (wtACM) is decoded piece by piece as it is read, and delivered as the
// decoder's own rate and channels with 16 bits; its length is found by
// decoding it once, without keeping what is decoded. Not valid: files with 0
// or more than 2 channels, no sample rate, a sample size other than 8 or 16
// bits, or compressed data that decodes to nothing.
//
// A wtACM file is measured only the first time: what the queries answer, and
// the length a read delivers, are kept while the file's size and modification
// time stay the same. Seeking back in one decodes again from its start.
//
// ADPCM output stops at the frame count of the fact chunk (or, without one,
// at the end of the data chunk), so the padding of the last block is not
// delivered. A damaged block (a header outside the codec's tables) comes out
// as silence of the block's length.
//
// Threads: as TACSFileIn; FetchData and SeekSample hold SourceLock.
class TWaveIn final : public TACSFileIn {
public:
    explicit TWaveIn(QObject* parent = nullptr);
    ~TWaveIn() override;

    // The file's type; wtUnsupported when it cannot be read.
    TWavType GetWavType();

    void BeginRead() override;
    int FetchData(void* buffer, int bufferSize) override;
    bool SeekSample(qint64 frame) override;

protected:
    void OpenSource() override;
    void CloseSource() override;

private:
    void ReadHeader();
    bool CheckFormat(const TWavHeader& header);
    // Sets up the decoding of a wtACM file, measuring it unless an earlier
    // decoding of the same file did.
    void OpenCompressed();
    void ReleaseCompressed();
    // wtACM: the decoded sound from ReadOffset on; the bytes delivered.
    int FillDecoded(char* destination, qint64 wanted);
    bool SeekDecoded(qint64 offset);
    void TakePendingJump();
    bool IsAdpcm() const;
    // Fills the buffer (or direct, capacity bytes) from the file; the bytes
    // produced, 0 at the end.
    int Refill(char* direct, int capacity);
    int FillPcm(char* destination, qint64 wanted);
    int FillAdpcm(qint64 wanted);
    qint64 ReadData(void* buffer, qint64 length);

    TWavType WavTypeValue = wtUnsupported;
    TWavHeader Header;
    qint64 DataStart = 0;          // stream offset of the first sample byte
    qint64 DataEnd = 0;            // end of the data chunk, as far as the stream goes
    qint64 ReadOffset = 0;         // stream offset of the next byte to read
    int FrameBytes = 0;            // bytes per delivered frame
    int BlockFrames = 0;           // ADPCM: frames one whole block decodes to
    qint64 SkipFrames = 0;         // ADPCM: frames of the next block to drop (seeking)
    std::vector<qint16> OutBuffer; // decoded or copied samples, bytes for 8-bit PCM
    std::vector<quint8> BlockBuffer;

    // wtACM: the decoder reading the file; ReadOffset counts decoded bytes.
    std::unique_ptr<TWaveConverter> Converter;
    // Set while BeginRead opens the source: a read needs the samples, a query
    // only the format.
    bool OpeningForRead = false;
    // What the last decoding of a wtACM file found, and which file it was.
    struct TDecodedFormat {
        QString FileName;
        qint64 FileSize = -1;
        QDateTime Modified;
        bool Valid = false;
        TWavHeader Header;
        int BitsPerSample = 0;
        qint64 TotalSamples = 0;
        qint64 Size = 0;
    };
    TDecodedFormat Remembered;
};
