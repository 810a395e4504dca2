#pragma once

#include "audio/acs_input.h"
#include "audio/wave_format.h"

#include <vector>

// The WAV file source: PCM (8 or 16 bits, mono or stereo), IMA ADPCM and
// Microsoft ADPCM, the ADPCM kinds decoded to 16 bits. Compressed formats the
// program does not decode itself (wtACM) are not valid until they can be
// converted; so are files with 0 or more than 2 channels, no sample rate, or a
// sample size other than 8 or 16 bits.
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

    int FetchData(void* buffer, int bufferSize) override;
    bool SeekSample(qint64 frame) override;

protected:
    void OpenSource() override;
    void CloseSource() override;

private:
    void ReadHeader();
    bool CheckFormat(const TWavHeader& header);
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
};
