#pragma once

#include "audio/buffered_converter.h"
#include "audio/filters.h"

#include <array>
#include <atomic>
#include <vector>

// Changes the sample rate of 16-bit mono or stereo PCM. Upsampling (and equal
// rates) interpolates linearly to the output rate and smooths the result with
// a windowed-sinc low-pass. Downsampling by a whole number filters the input
// with the low-pass and keeps every n-th filtered frame; by any other ratio,
// each output applies the low-pass shifted to the exact time the output falls
// on between two input frames (a polyphase filter bank over the same kernel).
// The filter history is carried from block to block, so the blocks join
// without a seam. Output samples are clipped to the 16-bit range.
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
    void SetUpPhases();

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
    // Downsampling by a ratio that is not whole: how far each output lies
    // before its picked frame, in units of PhaseStep / OutRate input frames.
    std::vector<int> Delays;
    // The kernel shifted by every delay the ratio can produce (ExactPhases),
    // or by PhaseCount + 1 evenly spaced delays from 0 to 1 frame, between
    // which a ratio needing too many is interpolated; each PaddedTaps long,
    // zero-padded.
    std::vector<double> PhaseKernels;
    bool WholeRatio = true;
    bool ExactPhases = true;
    // The greatest common divisor of the two rates.
    qint64 PhaseStep = 1;
    int PhaseCount = 0;
    int PaddedTaps = 0;
};
