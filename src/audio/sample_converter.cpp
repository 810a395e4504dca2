#include "sample_converter.h"

#include <QtEndian>

#include <algorithm>

TSampleConverter::TSampleConverter(QObject* parent) : TBufferedConverter(parent)
{
}

TSampleConverter::~TSampleConverter()
{
    DetachUsers();
}

int TSampleConverter::GetBitsPerSample()
{
    return RequireInput()->GetBitsPerSample() == 16 ? 8 : 16;
}

int TSampleConverter::GetChannels()
{
    return RequireInput()->GetChannels();
}

int TSampleConverter::GetSampleRate()
{
    return RequireInput()->GetSampleRate();
}

void TSampleConverter::SetUp(TACSInput& input)
{
    WideInput = input.GetBitsPerSample() == 16;
    Channels = std::max(input.GetChannels(), 1);
    FrameBytes = (WideInput ? 2 : 1) * Channels;
    ReadSize = (WideInput ? 32768 : 16384) / FrameBytes * FrameBytes;
    InBuffer.assign(static_cast<std::size_t>(ReadSize), 0);
    OutBuffer.assign(32768, 0);
    const qint64 inputSize = input.Size();
    if (inputSize < 0)
        SizeValue = -1;
    else
        SizeValue = WideInput ? inputSize / 2 : inputSize * 2;
}

int TSampleConverter::ConvertBlock(int frames)
{
    const int samples = frames * Channels;
    const char* in = InBuffer.data();
    char* out = OutBuffer.data();
    if (WideInput) {
        for (int i = 0; i < samples; ++i) {
            const int s = qFromLittleEndian<qint16>(in + 2 * i);
            out[i] = static_cast<char>((s + 32768) / 256);
        }
        return samples;
    }
    for (int i = 0; i < samples; ++i) {
        const int u = static_cast<unsigned char>(in[i]);
        qToLittleEndian<qint16>(static_cast<qint16>((u - 128) * 256), out + 2 * i);
    }
    return 2 * samples;
}
