#pragma once

#include "audio/buffered_converter.h"

#include <atomic>

enum TMSConverterMode { msmMonoToBoth = 0, msmMonoToLeft = 1, msmMonoToRight = 2 };

// Turns 16-bit stereo into mono (the mean of both channels, truncated toward
// zero) or mono into stereo: the sample in both channels, or in the left or the
// right one only with silence in the other. The input must deliver 16-bit
// samples; that is not checked.
//
// Threads: as TBufferedConverter; Mode is read once per run.
class TMSConverter final : public TBufferedConverter {
public:
    explicit TMSConverter(QObject* parent = nullptr);
    ~TMSConverter() override;

    TMSConverterMode Mode() const { return ModeValue.load(); }
    void SetMode(TMSConverterMode mode) { ModeValue = mode; }

    int GetBitsPerSample() override { return 16; }
    int GetChannels() override;
    int GetSampleRate() override;

protected:
    void SetUp(TACSInput& input) override;
    int ConvertBlock(int frames) override;

private:
    std::atomic<TMSConverterMode> ModeValue{msmMonoToBoth};
    bool StereoInput = false;
    TMSConverterMode RunMode = msmMonoToBoth;
};
