#include "sound_indicator.h"

#include "audio/acs_exception.h"
#include "audio/filters.h"

#include <QtEndian>

#include <cmath>
#include <complex>
#include <cstring>
#include <thread>

namespace {

constexpr int BlockFrames = 64;
constexpr int HannEntries = 1024;

// An in-place radix-2 FFT of 64 points; the twiddles and the bit-reversed
// order are worked out once.
class TFft64 {
public:
    TFft64()
    {
        constexpr double pi = 3.14159265358979323846;
        for (int i = 0; i < BlockFrames / 2; ++i)
            Twiddles[static_cast<std::size_t>(i)] = std::polar(1.0, -2.0 * pi * i / BlockFrames);
        for (int i = 0; i < BlockFrames; ++i) {
            int reversed = 0;
            for (int bit = 1, j = i; bit < BlockFrames; bit <<= 1, j >>= 1)
                reversed = (reversed << 1) | (j & 1);
            Reversed[static_cast<std::size_t>(i)] = reversed;
        }
    }

    void Transform(std::array<std::complex<double>, BlockFrames>& x) const
    {
        for (int i = 0; i < BlockFrames; ++i) {
            const int j = Reversed[static_cast<std::size_t>(i)];
            if (j > i)
                std::swap(x[static_cast<std::size_t>(i)], x[static_cast<std::size_t>(j)]);
        }
        for (int size = 2; size <= BlockFrames; size *= 2) {
            const int half = size / 2;
            const int step = BlockFrames / size;
            for (int start = 0; start < BlockFrames; start += size) {
                for (int k = 0; k < half; ++k) {
                    const auto a = static_cast<std::size_t>(start + k);
                    const auto b = a + static_cast<std::size_t>(half);
                    const std::complex<double> t = Twiddles[static_cast<std::size_t>(k * step)] * x[b];
                    x[b] = x[a] - t;
                    x[a] += t;
                }
            }
        }
    }

private:
    std::array<std::complex<double>, BlockFrames / 2> Twiddles{};
    std::array<int, BlockFrames> Reversed{};
};

const TFft64& Fft()
{
    static const TFft64 fft;
    return fft;
}

} // namespace

TSoundIndicator::TSoundIndicator(QObject* parent)
    : TACSConverter(parent), HannTable(FilterWindowCoefficients(fwHann, HannEntries, true))
{
}

TSoundIndicator::~TSoundIndicator()
{
    DetachUsers();
}

TACSInput* TSoundIndicator::Required() const
{
    TACSInput* input = Input();
    if (!input)
        throw EACSException(QStringLiteral("Input is not assigned."));
    return input;
}

int TSoundIndicator::GetBitsPerSample()
{
    return Required()->GetBitsPerSample();
}

int TSoundIndicator::GetChannels()
{
    return Required()->GetChannels();
}

int TSoundIndicator::GetSampleRate()
{
    return Required()->GetSampleRate();
}

int TSoundIndicator::GetTotalTime()
{
    return Required()->GetTotalTime();
}

void TSoundIndicator::BeginRead()
{
    TACSInput* input = Required();
    input->BeginRead();
    SampleBytes = input->GetBitsPerSample() == 8 ? 1 : 2;
    Channels = input->GetChannels() == 1 ? 1 : 2;
    FrameBytes = SampleBytes * Channels;
    Passed = 0;
    SizeValue = input->Size();
    PositionValue = 0;
    while (AnalysisLock.exchange(true, std::memory_order_acquire))
        std::this_thread::yield();
    Levels.fill(0.0);
    Analysed = 0;
    AnalysisLock.store(false, std::memory_order_release);
    BusyValue = true;
}

void TSoundIndicator::EndRead()
{
    if (TACSInput* input = Input())
        input->EndRead();
    BusyValue = false;
}

int TSoundIndicator::FetchData(void* buffer, int bufferSize)
{
    if (!Busy())
        throw EACSException(QStringLiteral("The Stream is not opened"));
    const int count = FetchFromInput(buffer, bufferSize);
    if (const TACSInput* input = Input())
        PositionValue = input->Position();
    if (count <= 0)
        return count;
    const qint64 before = Passed;
    Passed += count;
    // While the window reads the levels this read goes by unanalysed.
    if (AnalysisLock.exchange(true, std::memory_order_acquire))
        return count;
    // Blocks start on a frame, even after a read that ended inside one.
    const int skip = static_cast<int>((FrameBytes - before % FrameBytes) % FrameBytes);
    if (count > skip) {
        Copy.assign(static_cast<const char*>(buffer) + skip, static_cast<const char*>(buffer) + count);
        Analyse(Copy.data(), count - skip);
    }
    AnalysisLock.store(false, std::memory_order_release);
    return count;
}

void TSoundIndicator::Analyse(const char* data, int count)
{
    const int blocks = count / FrameBytes / BlockFrames;
    if (blocks == 0)
        return;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    auto sample = [&](int frame, int channel) -> double {
        const int at = (frame * Channels + channel) * SampleBytes;
        if (SampleBytes == 2)
            return qFromLittleEndian<qint16>(bytes + at);
        // 8-bit samples are centred and widened, so a sound shows the same
        // bars at either size and silence shows none.
        return (bytes[at] - 128) * 256.0;
    };
    std::array<std::complex<double>, BlockFrames> x;
    for (int block = 0; block < blocks; ++block) {
        const int first = block * BlockFrames;
        for (int i = 0; i < BlockFrames; ++i) {
            const double value =
                Channels == 2 ? (sample(first + i, 0) + sample(first + i, 1)) / 2.0 : sample(first + i, 0);
            // The first 64 entries of the long window: its rising edge.
            x[static_cast<std::size_t>(i)] = {value * HannTable[static_cast<std::size_t>(i)], 0.0};
        }
        Fft().Transform(x);
        bool overflow = false;
        for (int k = 0; k < Bands; ++k) {
            const double magnitude = std::abs(x[static_cast<std::size_t>(k)]) / BlockFrames;
            double level = magnitude > 0.0 ? std::log10(magnitude) : 0.0;
            if (!(level > 0.0))
                level = 0.0;
            double& sum = Levels[static_cast<std::size_t>(k)];
            sum += level;
            if (!std::isfinite(sum))
                overflow = true;
        }
        if (overflow)
            Levels.fill(0.0);
    }
    for (double& level : Levels)
        level /= blocks;
    ++Analysed;
}

int TSoundIndicator::GetLevels(double* out)
{
    while (AnalysisLock.exchange(true, std::memory_order_acquire))
        std::this_thread::yield();
    for (int k = 0; k < Bands; ++k)
        out[k] = Levels[static_cast<std::size_t>(k)] * 20.0;
    Levels.fill(0.0);
    const int analysed = Analysed;
    Analysed = 0;
    AnalysisLock.store(false, std::memory_order_release);
    return analysed;
}

std::array<double, TSoundIndicator::Bands> TSoundIndicator::GetLevels()
{
    std::array<double, Bands> levels{};
    GetLevels(levels.data());
    return levels;
}
