#include "rate_converter.h"

#include "audio/acs_exception.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {

constexpr int BlockBytes = 32768;

// y[i] = sum over t = 0..taps-1, in that order, of r[t] x[i + t] (Forward) or
// r[t] x[i + taps - 1 - t]. Each output keeps that order of additions, so the
// result does not depend on how the loop is split into vectors, nor on the
// vector width. Four vectors of outputs at a time keep four independent sums
// in registers.
template <int Width> struct TVecOf;
template <> struct TVecOf<2> {
    using Type = double __attribute__((vector_size(16)));
};
template <> struct TVecOf<4> {
    using Type = double __attribute__((vector_size(32)));
};

template <bool Forward, int Width>
[[gnu::always_inline]] inline void FirBody(const double* x, int count, const double* r, int taps, double* y)
{
    using TVec = typename TVecOf<Width>::Type;
    constexpr int Step = 4 * Width;
    int i = 0;
    for (; i + Step <= count; i += Step) {
        TVec a[4] = {};
        for (int t = 0; t < taps; ++t) {
            const double* p = x + i + (Forward ? t : taps - 1 - t);
            TVec c;
            for (int k = 0; k < Width; ++k)
                c[k] = r[t];
            for (int v = 0; v < 4; ++v) {
                TVec in;
                std::memcpy(&in, p + v * Width, sizeof in);
                a[v] += c * in;
            }
        }
        std::memcpy(y + i, a, sizeof a);
    }
    for (; i < count; ++i) {
        double sum = 0.0;
        for (int t = 0; t < taps; ++t)
            sum += r[t] * x[i + (Forward ? t : taps - 1 - t)];
        y[i] = sum;
    }
}

template <bool Forward> void FirSse(const double* x, int count, const double* r, int taps, double* y)
{
    FirBody<Forward, 2>(x, count, r, taps, y);
}

// The same sums four at a time where the processor has AVX (no fused
// multiply-add: it would round differently).
template <bool Forward>
[[gnu::target("avx")]] void FirAvx(const double* x, int count, const double* r, int taps, double* y)
{
    FirBody<Forward, 4>(x, count, r, taps, y);
}

template <bool Forward> void Fir(const double* x, int count, const double* r, int taps, double* y)
{
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx)
        FirAvx<Forward>(x, count, r, taps, y);
    else
        FirSse<Forward>(x, count, r, taps, y);
}

// Nearest integer, halves to even, for |x| < 2^51: adding 1.5 x 2^52 leaves no
// bits below the unit, and the default rounding of the addition is to even.
inline double RoundEven(double x)
{
    constexpr double Shift = 6755399441055744.0;
    return (x + Shift) - Shift;
}

// A sum outside the 16-bit range is clipped: wrapping it would be a click.
// Written with plain comparisons so that the loops around it vectorise.
inline qint16 Clip16(double y)
{
    y = y < -32768.0 ? -32768.0 : y;
    y = y > 32767.0 ? 32767.0 : y;
    return static_cast<qint16>(static_cast<int>(RoundEven(y)));
}

// Stores the filtered planes interleaved as 16-bit samples.
void Interleave(const double* left, const double* right, int frames, char* out)
{
    if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
        qint16* samples = reinterpret_cast<qint16*>(out);
        if (right) {
            for (int f = 0; f < frames; ++f) {
                samples[2 * f] = Clip16(left[f]);
                samples[2 * f + 1] = Clip16(right[f]);
            }
        } else {
            for (int f = 0; f < frames; ++f)
                samples[f] = Clip16(left[f]);
        }
    } else {
        const int channels = right ? 2 : 1;
        for (int f = 0; f < frames; ++f) {
            qToLittleEndian<qint16>(Clip16(left[f]), out + 2 * channels * f);
            if (right)
                qToLittleEndian<qint16>(Clip16(right[f]), out + 2 * channels * f + 2);
        }
    }
}

inline qint16 SampleAt(const char* frames, int index)
{
    return qFromLittleEndian<qint16>(frames + 2 * index);
}

} // namespace

TRateConverter::TRateConverter(QObject* parent) : TBufferedConverter(parent)
{
}

TRateConverter::~TRateConverter()
{
    DetachUsers();
}

void TRateConverter::SetOutSampleRate(int rate)
{
    if (rate > 0 && !Busy())
        OutSampleRateValue = rate;
}

void TRateConverter::SetKernelWidth(int taps)
{
    if (taps > 1 && !Busy())
        KernelWidthValue = taps;
}

int TRateConverter::GetChannels()
{
    return RequireInput()->GetChannels();
}

void TRateConverter::SetUp(TACSInput& input)
{
    const int channels = input.GetChannels();
    const int inRate = input.GetSampleRate();
    if (channels < 1 || channels > 2)
        throw EACSException(QStringLiteral("The rate converter takes mono or stereo sound only."));
    if (inRate <= 0)
        throw EACSException(QStringLiteral("The input has no sample rate to convert from."));
    Channels = channels;
    FrameBytes = 2 * channels;
    InRate = inRate;
    OutRate = OutSampleRate();
    Taps = KernelWidth();
    RatioValue = static_cast<float>(static_cast<double>(OutRate) / static_cast<double>(InRate));
    const double ratio = RatioValue;
    // Upsampling shrinks the input block so that its output fits the output
    // block; at least one frame is read even at absurd ratios.
    const int inBytes = ratio > 1 ? static_cast<int>(BlockBytes / ratio) / 4 * 4 : BlockBytes;
    ReadSize = std::max(inBytes, FrameBytes);
    CutoffValue = 0.4 * (ratio > 1 ? 1.0 / ratio : ratio);
    KernelValue = SincKernel(Taps, FilterWindow(), CutoffValue);
    Reversed.assign(KernelValue.rbegin(), KernelValue.rend());

    const bool up = OutRate >= InRate;
    const qint64 maxFrames = ReadSize / FrameBytes;
    const qint64 maxOut = up ? (maxFrames * OutRate + InRate - 1) / InRate : maxFrames;
    InBuffer.assign(static_cast<std::size_t>(ReadSize), 0);
    OutBuffer.assign(static_cast<std::size_t>(maxOut * FrameBytes), 0);
    for (int c = 0; c < Channels; ++c)
        Planes[static_cast<std::size_t>(c)].assign(
            static_cast<std::size_t>(Taps - 1 + std::max(maxOut, maxFrames)), 0.0);
    for (int c = 0; c < Channels; ++c)
        Filtered[static_cast<std::size_t>(c)].assign(static_cast<std::size_t>(std::max(maxOut, maxFrames)),
                                                     0.0);
    if (!up)
        Picks.assign(static_cast<std::size_t>(maxFrames), 0);
    Remainder = -1;
    // Each run starts from silence: the end of the previous file must not
    // leak into the first samples of the next one.
    LastFrame = {0, 0};

    // The exact output length: every input frame opens one interpolation
    // interval when upsampling, and output p takes input frame ceil(p In / Out)
    // when downsampling.
    const qint64 inputSize = input.Size();
    if (inputSize < 0) {
        SizeValue = -1;
    } else {
        const qint64 frames = inputSize / FrameBytes;
        qint64 outFrames = 0;
        if (up)
            outFrames = (frames * OutRate + InRate - 1) / InRate;
        else if (frames > 0)
            outFrames = (frames - 1) * OutRate / InRate + 1;
        SizeValue = outFrames * FrameBytes;
    }
}

void TRateConverter::TearDown()
{
    TBufferedConverter::TearDown();
    for (std::vector<double>& plane : Planes)
        std::vector<double>().swap(plane);
    for (std::vector<double>& filtered : Filtered)
        std::vector<double>().swap(filtered);
    std::vector<int>().swap(Picks);
}

int TRateConverter::ConvertBlock(int frames)
{
    return OutRate >= InRate ? Upsample(frames) : Downsample(frames);
}

int TRateConverter::Upsample(int frames)
{
    if (Remainder < 0)
        Remainder = 0;
    const char* in = InBuffer.data();
    const int history = Taps - 1;
    double* planes[2] = {Planes[0].data() + history, Channels == 2 ? Planes[1].data() + history : nullptr};
    const double outRate = static_cast<double>(OutRate);
    qint64 remainder = Remainder;
    int produced = 0;
    // Interval j runs from input frame j - 1 (the previous block's last frame
    // for j = 0) to frame j. The numerators are exact integers in doubles, and
    // a quotient is never close enough to a half to round the wrong way.
    const double inRate = static_cast<double>(InRate);
    for (int j = 0; j < frames; ++j) {
        for (int c = 0; c < Channels; ++c) {
            const double a =
                j > 0 ? SampleAt(in, (j - 1) * Channels + c) : LastFrame[static_cast<std::size_t>(c)];
            const double b = SampleAt(in, j * Channels + c);
            double* plane = planes[c] + produced;
            for (double w = static_cast<double>(remainder); w < outRate; w += inRate)
                *plane++ = RoundEven(((outRate - w) * a + w * b) / outRate);
        }
        while (remainder < OutRate) {
            ++produced;
            remainder += InRate;
        }
        remainder -= OutRate;
    }
    Remainder = remainder;
    for (int c = 0; c < Channels; ++c) {
        LastFrame[static_cast<std::size_t>(c)] = SampleAt(in, (frames - 1) * Channels + c);
        Fir<true>(planes[c] - history, produced, Reversed.data(), Taps,
                  Filtered[static_cast<std::size_t>(c)].data());
        std::memmove(planes[c] - history, planes[c] - history + produced,
                     static_cast<std::size_t>(history) * sizeof(double));
    }
    Interleave(Filtered[0].data(), Channels == 2 ? Filtered[1].data() : nullptr, produced, OutBuffer.data());
    return produced * FrameBytes;
}

int TRateConverter::Downsample(int frames)
{
    if (Remainder < 0)
        Remainder = OutRate;
    int produced = 0;
    for (int j = 0; j < frames; ++j) {
        if (Remainder > OutRate) {
            Remainder -= OutRate;
        } else {
            Picks[static_cast<std::size_t>(produced++)] = j;
            Remainder += InRate - OutRate;
        }
    }
    const char* in = InBuffer.data();
    char* out = OutBuffer.data();
    const int history = Taps - 1;
    const double* r = Reversed.data();
    // Filtering every frame runs at vector speed; when most frames are
    // dropped, only the kept ones are worth the work.
    const bool dense = 2 * produced >= frames;
    for (int c = 0; c < Channels; ++c) {
        double* plane = Planes[static_cast<std::size_t>(c)].data();
        for (int j = 0; j < frames; ++j)
            plane[history + j] = SampleAt(in, j * Channels + c);
        double* filtered = Filtered[static_cast<std::size_t>(c)].data();
        if (dense) {
            Fir<false>(plane, frames, r, Taps, filtered);
            for (int p = 0; p < produced; ++p)
                filtered[p] = filtered[Picks[static_cast<std::size_t>(p)]];
        } else {
            for (int p = 0; p < produced; ++p) {
                const int j = Picks[static_cast<std::size_t>(p)];
                double y = 0.0;
                for (int t = 0; t < Taps; ++t)
                    y += r[t] * plane[j + history - t];
                filtered[p] = y;
            }
        }
        std::memmove(plane, plane + frames, static_cast<std::size_t>(history) * sizeof(double));
    }
    Interleave(Filtered[0].data(), Channels == 2 ? Filtered[1].data() : nullptr, produced, out);
    return produced * FrameBytes;
}
