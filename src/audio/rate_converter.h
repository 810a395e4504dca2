#pragma once

#include "audio/buffered_converter.h"
#include "audio/filters.h"

#include <array>
#include <atomic>
#include <vector>

// Changes the sample rate of 16-bit mono or stereo PCM. Upsampling (and equal
// rates) interpolates linearly to the output rate and smooths the result with
// a windowed-sinc low-pass; downsampling filters the input with the low-pass
// and keeps the filtered value at the frames the output rate falls on. The
// filter history is carried from block to block, so the blocks join without a
// seam. Output samples are clipped to the 16-bit range.
//
// The input must deliver 16-bit samples; that is not checked.
//
// Threads: as TBufferedConverter. The set-up values (Ratio, InBufSize, Cutoff,
// Kernel) are those of the last BeginRead; read them while no run is going.
class TRateConverter final : public TBufferedConverter {
public:
    explicit TRateConverter(QObject* parent = nullptr);
    ~TRateConverter() override;

    int OutSampleRate() const { return OutSampleRateValue.load(); }
    // Accepted while idle, for rates above 0.
    void SetOutSampleRate(int rate);
    int KernelWidth() const { return KernelWidthValue.load(); }
    // Accepted while idle, for more than one tap.
    void SetKernelWidth(int taps);
    TFilterWindowType FilterWindow() const { return FilterWindowValue.load(); }
    void SetFilterWindow(TFilterWindowType window) { FilterWindowValue = window; }

    int GetBitsPerSample() override { return 16; }
    int GetChannels() override;
    int GetSampleRate() override { return OutSampleRate(); }

    // Output rate / input rate, in single precision.
    float Ratio() const { return RatioValue; }
    // Input bytes gathered per block.
    int InBufSize() const { return ReadSize; }
    // Cutoff of the kernel, a fraction of the output rate when upsampling and
    // of the input rate when downsampling.
    double Cutoff() const { return CutoffValue; }
    const std::vector<double>& Kernel() const { return KernelValue; }

protected:
    void SetUp(TACSInput& input) override;
    int ConvertBlock(int frames) override;
    void TearDown() override;

private:
    int Upsample(int frames);
    int Downsample(int frames);

    std::atomic<int> OutSampleRateValue{22050};
    std::atomic<int> KernelWidthValue{30};
    std::atomic<TFilterWindowType> FilterWindowValue{fwBlackman};

    // The run's set-up (BeginRead) and state (worker thread).
    float RatioValue = 0;
    double CutoffValue = 0;
    std::vector<double> KernelValue;
    // The kernel reversed: Reversed[t] = Kernel[taps - 1 - t].
    std::vector<double> Reversed;
    int Taps = 0;
    int Channels = 1;
    qint64 InRate = 0;
    qint64 OutRate = 0;
    qint64 Remainder = -1;
    // Last input frame of the previous block, the start of the first
    // interpolation interval.
    std::array<qint16, 2> LastFrame{};
    // Per channel: Taps - 1 samples of history followed by the block's samples
    // (upsampling: interpolated values; downsampling: input samples).
    std::array<std::vector<double>, 2> Planes;
    // Per channel: the filtered outputs of the block.
    std::array<std::vector<double>, 2> Filtered;
    // Downsampling: the frames of the block that produce an output.
    std::vector<int> Picks;
};
