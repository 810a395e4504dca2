#include "stereo_balance.h"

#include "audio/acs_exception.h"
#include "core/helpers.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

TStereoBalance::TStereoBalance(QObject* parent) : TACSConverter(parent)
{
}

TStereoBalance::~TStereoBalance()
{
    DetachUsers();
}

void TStereoBalance::SetBalance(float balance)
{
    if (balance >= 0.0f && balance <= 1.0f)
        BalanceValue = balance;
}

int TStereoBalance::GetBitsPerSample()
{
    return RequireInput()->GetBitsPerSample();
}

int TStereoBalance::GetSampleRate()
{
    return RequireInput()->GetSampleRate();
}

void TStereoBalance::BeginRead()
{
    TACSInput* input = RequireInput();
    input->BeginRead();
    SampleBytes = input->GetBitsPerSample() == 8 ? 1 : 2;
    InputChannels = input->GetChannels() == 1 ? 1 : 2;
    const qint64 inputSize = input->Size();
    SizeValue = inputSize < 0 ? -1 : inputSize * (InputChannels == 1 ? 2 : 1);
    PositionValue = 0;
    Delivered = 0;
    PendingStart = PendingEnd = 0;
    BusyValue = true;
}

void TStereoBalance::EndRead()
{
    BusyValue = false;
    if (TACSInput* input = Input())
        input->EndRead();
}

int TStereoBalance::ReadFrames(char* buffer, int frames)
{
    const int inFrame = SampleBytes * InputChannels;
    const int wanted = frames * inFrame;
    // Mono frames are read into the back half and spread out from the front,
    // so no sample is overwritten before it is copied.
    char* target = InputChannels == 1 ? buffer + wanted : buffer;
    int got = 0;
    while (got < wanted) {
        const int count = FetchFromInput(target + got, wanted - got);
        if (count <= 0)
            break;
        got += count;
        if (got % inFrame == 0)
            break;
    }
    const int whole = got / inFrame;
    if (InputChannels == 1) {
        for (int f = 0; f < whole; ++f) {
            std::memmove(buffer + 2 * f * SampleBytes, target + f * SampleBytes,
                         static_cast<std::size_t>(SampleBytes));
            std::memmove(buffer + (2 * f + 1) * SampleBytes, target + f * SampleBytes,
                         static_cast<std::size_t>(SampleBytes));
        }
    }
    const float balance = Balance();
    if (balance != 0.5f) {
        // One side keeps its level; the other fades from full at 0.5 to
        // silence at the end of the range.
        const int channel = balance > 0.5f ? 0 : 1;
        const double factor = balance > 0.5f ? 2.0 * (1.0 - balance) : 2.0 * balance;
        for (int f = 0; f < whole; ++f) {
            char* sample = buffer + (2 * f + channel) * SampleBytes;
            if (SampleBytes == 2) {
                const double scaled = qFromLittleEndian<qint16>(sample) * factor;
                qToLittleEndian<qint16>(static_cast<qint16>(RoundHalfEven(scaled)), sample);
            } else {
                // Unsigned samples scale around their silence, 128.
                const double scaled = (static_cast<unsigned char>(*sample) - 128) * factor;
                *sample = static_cast<char>(RoundHalfEven(scaled) + 128);
            }
        }
    }
    return whole * 2 * SampleBytes;
}

int TStereoBalance::FetchData(void* buffer, int bufferSize)
{
    if (!Busy())
        throw EACSException(QStringLiteral("The Stream is not opened"));
    if (bufferSize <= 0)
        return 0;
    char* out = static_cast<char*>(buffer);
    const int outFrame = 2 * SampleBytes;
    int count = 0;
    if (PendingStart < PendingEnd) {
        count = std::min(bufferSize, PendingEnd - PendingStart);
        std::memcpy(out, Pending.data() + PendingStart, static_cast<std::size_t>(count));
        PendingStart += count;
    } else if (bufferSize < outFrame) {
        PendingStart = 0;
        PendingEnd = ReadFrames(Pending.data(), 1);
        count = std::min(bufferSize, PendingEnd);
        std::memcpy(out, Pending.data(), static_cast<std::size_t>(count));
        PendingStart = count;
    } else {
        count = ReadFrames(out, bufferSize / outFrame);
    }
    Delivered += count;
    UpdatePosition();
    return count;
}

void TStereoBalance::UpdatePosition()
{
    const TACSInput* input = Input();
    const qint64 inputSize = input ? input->Size() : -1;
    if (inputSize > 0 && Size() >= 0)
        PositionValue = RoundHalfEven(static_cast<double>(Size()) / static_cast<double>(inputSize) *
                                      static_cast<double>(input->Position()));
    else
        PositionValue = Delivered;
}
