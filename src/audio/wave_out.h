#pragma once

#include "audio/acs_output.h"
#include "audio/adpcm.h"
#include "audio/wave_format.h"

#include <vector>

// The WAV file sink: writes PCM (the input's format behind a 44-byte header) or
// IMA ADPCM (16-bit input, BlockSize-byte blocks behind a 60-byte header).
//
// The header always ends up telling the truth: when the run ends, however it
// ends, the data size, the fact frame count and the RIFF size are rewritten from
// what was actually written. A write error (a full disk) ends the run through
// OnThreadException, never OnDone. A WAV file cannot hold more than 4 GB; a run
// that would pass that ends with an error, its file complete up to there.
//
// With foAppend an existing PCM or IMA ADPCM file of the same format is
// continued; its data chunk must be its last chunk.
//
// Threads: as TACSOutput. PrepareOutput runs on the thread calling Run,
// OutputStep and the finishing on the worker.
class TWaveOut final : public TACSFileOut {
public:
    explicit TWaveOut(QObject* parent = nullptr);
    ~TWaveOut() override;

    TWavType WavType() const { return WavTypeValue; }
    // Accepted while idle, for wtPCM and wtDVIADPCM only.
    void SetWavType(TWavType type);
    quint16 BlockSize() const { return BlockSizeValue; }
    // Accepted while idle, for non-zero multiples of 4 only.
    void SetBlockSize(quint16 size);
    void SetFileMode(TFileOutputMode mode) override;

protected:
    void PrepareOutput() override;
    bool OutputStep(bool abort) override;
    void DoFinishOutput() override;

private:
    void CheckImaInput(int blockSize) const;
    void OpenDestination();
    void ContinueExistingFile();
    void StartNewFile();
    void WriteRaw(const void* data, qint64 length);
    void WriteData(const void* data, qint64 length);
    void WriteAt(qint64 offset, quint32 value);
    qint64 DataRoom() const;
    [[noreturn]] void RaiseSizeLimit() const;
    void FlushBlocks();
    bool StepPcm();
    bool StepIma();

    TWavType WavTypeValue = wtPCM;
    quint16 BlockSizeValue = 512;

    // The run's format and bookkeeping (worker thread once the run is going).
    TWavType RunType = wtPCM;
    int RunBlockSize = 512;
    int Channels = 0;
    int SampleRate = 0;
    int BitsPerSample = 0;
    bool EndOfInput = false;
    bool Appending = false;
    qint64 HeaderStart = 0;    // stream offset of "RIFF"
    qint64 DataSizeOffset = 0; // stream offsets of the fields rewritten at the end
    qint64 FactValueOffset = -1;
    qint64 DataStart = 0;
    qint64 DataBytes = 0; // data bytes in the file, old and new, written
    qint64 Frames = 0;    // frames for the fact chunk, of the blocks written
    std::vector<qint16> Transfer;
    std::vector<quint8> Blocks; // encoded blocks not yet written
    std::size_t BlocksUsed = 0; // bytes of Blocks in use
    qint64 StagedFrames = 0;    // frames the staged blocks hold
    TImaState Ima[2];
};
