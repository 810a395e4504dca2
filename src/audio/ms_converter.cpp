#include "ms_converter.h"

#include <QtEndian>

TMSConverter::TMSConverter(QObject* parent) : TBufferedConverter(parent)
{
}

TMSConverter::~TMSConverter()
{
    DetachUsers();
}

int TMSConverter::GetChannels()
{
    return RequireInput()->GetChannels() == 1 ? 2 : 1;
}

int TMSConverter::GetSampleRate()
{
    return RequireInput()->GetSampleRate();
}

void TMSConverter::SetUp(TACSInput& input)
{
    StereoInput = input.GetChannels() != 1;
    RunMode = Mode();
    FrameBytes = StereoInput ? 4 : 2;
    ReadSize = StereoInput ? 32768 : 16384;
    InBuffer.assign(static_cast<std::size_t>(ReadSize), 0);
    OutBuffer.assign(32768, 0);
    const qint64 inputSize = input.Size();
    if (inputSize < 0)
        SizeValue = -1;
    else
        SizeValue = StereoInput ? inputSize / 4 * 2 : inputSize / 2 * 4;
}

int TMSConverter::ConvertBlock(int frames)
{
    const char* in = InBuffer.data();
    char* out = OutBuffer.data();
    if (StereoInput) {
        for (int f = 0; f < frames; ++f) {
            const int left = qFromLittleEndian<qint16>(in + 4 * f);
            const int right = qFromLittleEndian<qint16>(in + 4 * f + 2);
            qToLittleEndian<qint16>(static_cast<qint16>((left + right) / 2), out + 2 * f);
        }
        return 2 * frames;
    }
    for (int f = 0; f < frames; ++f) {
        const qint16 sample = qFromLittleEndian<qint16>(in + 2 * f);
        const qint16 left = RunMode == msmMonoToRight ? 0 : sample;
        const qint16 right = RunMode == msmMonoToLeft ? 0 : sample;
        qToLittleEndian<qint16>(left, out + 4 * f);
        qToLittleEndian<qint16>(right, out + 4 * f + 2);
    }
    return 4 * frames;
}
