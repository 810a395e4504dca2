#pragma once

#include "audio/acs_input.h"

#include <array>
#include <atomic>

// Attenuates one channel of 8- or 16-bit PCM; mono input comes out as stereo
// with the sample in both channels. Balance 0.5 leaves both channels as they
// are; towards 1 the left channel fades out (silent at 1), towards 0 the right
// one (silent at 0). Unbuffered: each read goes straight to the input, so a
// change of Balance is heard in the next read.
//
// Threads: Balance may be set from any thread while the sink's worker reads.
class TStereoBalance final : public TACSConverter {
public:
    explicit TStereoBalance(QObject* parent = nullptr);
    ~TStereoBalance() override;

    float Balance() const { return BalanceValue.load(); }
    // Accepted for 0..1 inclusive; other values are ignored.
    void SetBalance(float balance);

    int GetBitsPerSample() override;
    int GetChannels() override { return 2; }
    int GetSampleRate() override;

    void BeginRead() override;
    void EndRead() override;
    // Hands out whole stereo frames; a request smaller than one frame is
    // served from a frame kept aside.
    int FetchData(void* buffer, int bufferSize) override;

private:
    // Reads whole input frames into buffer and turns them into balanced stereo
    // frames in place; the output bytes, 0 at the end.
    int ReadFrames(char* buffer, int frames);
    void UpdatePosition();

    std::atomic<float> BalanceValue{0.5f};
    // The run's format (worker thread once the run is going).
    int SampleBytes = 2;
    int InputChannels = 2;
    qint64 Delivered = 0;
    // What is left of a frame split by a tiny request.
    std::array<char, 4> Pending{};
    int PendingStart = 0;
    int PendingEnd = 0;
};
