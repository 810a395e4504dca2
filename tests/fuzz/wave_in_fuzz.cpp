// Arbitrary bytes as a WAV file: the queries answer, and a read either is
// refused or runs to the end of the stream, delivering exactly the Size it
// announced, whole frames only, never more than a block's worth past the
// header's promise.
#include "audio/acs_exception.h"
#include "audio/wave_in.h"

#include <QBuffer>

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TWaveIn in;
    in.SetStream(&buffer);
    const bool valid = in.IsValid();
    const int channels = in.GetChannels();
    const int bits = in.GetBitsPerSample();
    in.GetSampleRate();
    in.GetTotalTime();
    in.GetWavType();
    if (!valid)
        return 0;
    if (channels < 1 || channels > 2 || (bits != 8 && bits != 16))
        std::abort();
    // A start and end inside the file, taken from the input itself.
    const qint64 total = in.GetTotalSamples();
    if (size > 2 && total > 0) {
        in.SetStartSample(data[size - 1] % (total + 1));
        if (data[size - 2] & 1)
            in.SetEndSample(in.StartSample() + data[size - 2] % (total - in.StartSample() + 1));
    }
    try {
        in.BeginRead();
    } catch (const EACSException&) {
        std::abort(); // a valid source must open
    }
    const qint64 announced = in.Size();
    std::vector<char> chunk(7919);
    qint64 delivered = 0;
    for (;;) {
        const int count = in.FetchData(chunk.data(), static_cast<int>(chunk.size()));
        if (count < 0 || count > static_cast<int>(chunk.size()))
            std::abort();
        if (count == 0)
            break;
        delivered += count;
        if (delivered > announced)
            std::abort();
    }
    if (delivered != announced || delivered % (channels * bits / 8) != 0)
        std::abort();
    in.EndRead();
    return 0;
}
