#pragma once

#include "audio/acs_input.h"

#include <array>
#include <atomic>
#include <vector>

// A pass-through converter that measures the spectrum of the sound flowing
// through it, for a level display: 32 bands, each covering rate / 64 Hz, from
// a 64-point FFT of every 64-frame block (stereo as the mean of both
// channels). The bytes pass unchanged.
//
// The levels add up between two GetLevels calls (each analysed read averages
// the sum so far over its own blocks) and GetLevels clears them. A read of
// fewer than 64 frames leaves them as they are.
//
// Threads: FetchData and the analysis run on the sink's worker, GetLevels on
// the window thread. AnalysisLock keeps the two apart: while the window holds
// it, a read passes through unanalysed.
class TSoundIndicator final : public TACSConverter {
public:
    static constexpr int Bands = 32;

    explicit TSoundIndicator(QObject* parent = nullptr);
    ~TSoundIndicator() override;

    // The input's format; "Input is not assigned." without an input.
    int GetBitsPerSample() override;
    int GetChannels() override;
    int GetSampleRate() override;
    int GetTotalTime() override;

    void BeginRead() override;
    void EndRead() override;
    int FetchData(void* buffer, int bufferSize) override;

    // The levels since the last call, scaled for drawing (20 per decade of
    // the band's magnitude), into out; then starts counting afresh. Returns
    // how many reads were analysed since the last call: with none, the zeros
    // say nothing about the sound.
    int GetLevels(double* out);
    std::array<double, Bands> GetLevels();

private:
    TACSInput* Required() const;
    void Analyse(const char* data, int count);

    std::vector<double> HannTable;
    // Guarded by AnalysisLock.
    std::array<double, Bands> Levels{};
    int Analysed = 0;
    std::atomic<bool> AnalysisLock{false};
    // The run's format and the bytes passed so far (worker thread once the
    // run is going).
    int FrameBytes = 4;
    int SampleBytes = 2;
    int Channels = 2;
    qint64 Passed = 0;
    std::vector<char> Copy;
};
