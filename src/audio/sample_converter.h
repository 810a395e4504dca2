#pragma once

#include "audio/buffered_converter.h"

// Turns 16-bit samples into 8-bit ones (the high byte of the sample offset to
// unsigned, no rounding) or 8-bit samples into 16-bit ones, any channel count.
//
// Threads: as TBufferedConverter.
class TSampleConverter final : public TBufferedConverter {
public:
    explicit TSampleConverter(QObject* parent = nullptr);
    ~TSampleConverter() override;

    int GetBitsPerSample() override;
    int GetChannels() override;
    int GetSampleRate() override;

protected:
    void SetUp(TACSInput& input) override;
    int ConvertBlock(int frames) override;

private:
    bool WideInput = false;
    int Channels = 1;
};
