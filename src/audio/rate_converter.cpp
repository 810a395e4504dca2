#include "rate_converter.h"

#include "audio/acs_exception.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <numeric>

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

// The phase table's size limit in coefficients (512 KB): common pairs of
// rates need far fewer (48000 -> 44100 Hz: 147 phases of 32).
constexpr qint64 MaxPhaseValues = 1 << 16;

// sum over t of k[t] x[t], taps a multiple of four, as four partial sums (tap
// index modulo four) added pairwise at the end: the same additions in the same
// order for either vector width.
template <int Width> [[gnu::always_inline]] inline double Dot(const double* k, const double* x, int taps)
{
    using TVec = typename TVecOf<Width>::Type;
    constexpr int Vectors = 4 / Width;
    TVec sums[Vectors] = {};
    for (int t = 0; t < taps; t += 4) {
        for (int v = 0; v < Vectors; ++v) {
            TVec a;
            TVec b;
            std::memcpy(&a, k + t + v * Width, sizeof a);
            std::memcpy(&b, x + t + v * Width, sizeof b);
            sums[v] += a * b;
        }
    }
    double lanes[4];
    std::memcpy(lanes, sums, sizeof lanes);
    return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
}

struct TPhaseBank {
    const double* Kernels;
    int PaddedTaps;
    bool Exact;
    int Count;
    // Delays run from 0 to Span - 1.
    qint64 Span;
};

// out[p] = the input filtered at delays[p] / Span frames before frame
// picks[p] (plane[picks[p] + t] is the kernel's tap t).
template <int Width>
[[gnu::always_inline]] inline void PolyphaseBody(const TPhaseBank& bank, const double* plane,
                                                 const int* picks, const int* delays, int count, double* out)
{
    const int n = bank.PaddedTaps;
    for (int p = 0; p < count; ++p) {
        const double* x = plane + picks[p];
        if (bank.Exact) {
            out[p] = Dot<Width>(bank.Kernels + static_cast<qint64>(delays[p]) * n, x, n);
            continue;
        }
        const double position = static_cast<double>(delays[p]) * bank.Count / static_cast<double>(bank.Span);
        const int k = std::min(static_cast<int>(position), bank.Count - 1);
        const double weight = position - k;
        const double* kernel = bank.Kernels + static_cast<qint64>(k) * n;
        out[p] = (1.0 - weight) * Dot<Width>(kernel, x, n) + weight * Dot<Width>(kernel + n, x, n);
    }
}

void PolyphaseSse(const TPhaseBank& bank, const double* plane, const int* picks, const int* delays, int count,
                  double* out)
{
    PolyphaseBody<2>(bank, plane, picks, delays, count, out);
}

[[gnu::target("avx")]] void PolyphaseAvx(const TPhaseBank& bank, const double* plane, const int* picks,
                                         const int* delays, int count, double* out)
{
    PolyphaseBody<4>(bank, plane, picks, delays, count, out);
}

void Polyphase(const TPhaseBank& bank, const double* plane, const int* picks, const int* delays, int count,
               double* out)
{
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx)
        PolyphaseAvx(bank, plane, picks, delays, count, out);
    else
        PolyphaseSse(bank, plane, picks, delays, count, out);
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
    WholeRatio = up || InRate % OutRate == 0;
    PaddedTaps = (Taps + 3) / 4 * 4;
    const qint64 maxFrames = ReadSize / FrameBytes;
    const qint64 maxOut = up ? (maxFrames * OutRate + InRate - 1) / InRate : maxFrames;
    InBuffer.assign(static_cast<std::size_t>(ReadSize), 0);
    OutBuffer.assign(static_cast<std::size_t>(maxOut * FrameBytes), 0);
    // The padding is read (times zero coefficients) by the phase filters.
    for (int c = 0; c < Channels; ++c)
        Planes[static_cast<std::size_t>(c)].assign(
            static_cast<std::size_t>(PaddedTaps - 1 + std::max(maxOut, maxFrames)), 0.0);
    for (int c = 0; c < Channels; ++c)
        Filtered[static_cast<std::size_t>(c)].assign(static_cast<std::size_t>(std::max(maxOut, maxFrames)),
                                                     0.0);
    if (!up)
        Picks.assign(static_cast<std::size_t>(maxFrames), 0);
    if (!WholeRatio) {
        Delays.assign(static_cast<std::size_t>(maxFrames), 0);
        SetUpPhases();
    }
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

void TRateConverter::SetUpPhases()
{
    // Every delay is a multiple of the rates' greatest common divisor.
    PhaseStep = std::gcd(InRate, OutRate);
    const qint64 span = OutRate / PhaseStep;
    ExactPhases = span * PaddedTaps <= MaxPhaseValues;
    PhaseCount = static_cast<int>(ExactPhases ? span : std::max<qint64>(16, MaxPhaseValues / PaddedTaps - 1));
    const int kernels = ExactPhases ? PhaseCount : PhaseCount + 1;
    PhaseKernels.assign(static_cast<std::size_t>(kernels) * static_cast<std::size_t>(PaddedTaps), 0.0);
    for (int k = 0; k < kernels; ++k) {
        const double offset = static_cast<double>(k) / static_cast<double>(ExactPhases ? span : PhaseCount);
        const std::vector<double> kernel = ShiftedSincKernel(Taps, FilterWindow(), CutoffValue, offset);
        std::copy(kernel.begin(), kernel.end(),
                  PhaseKernels.begin() + static_cast<std::ptrdiff_t>(k) * PaddedTaps);
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
    std::vector<int>().swap(Delays);
    std::vector<double>().swap(PhaseKernels);
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
    // Output p lies at input frame p In / Out; it is picked at the next whole
    // frame j and lies Out - remainder (before the pick) units of 1 / Out
    // before it. In units of the rates' common divisor the delay is the index
    // of its phase.
    const qint64 unit = WholeRatio ? 1 : PhaseStep;
    const qint64 inUnits = InRate / unit;
    const qint64 outUnits = OutRate / unit;
    qint64 remainder = Remainder / unit;
    int produced = 0;
    for (int j = 0; j < frames; ++j) {
        if (remainder > outUnits) {
            remainder -= outUnits;
        } else {
            if (!WholeRatio)
                Delays[static_cast<std::size_t>(produced)] = static_cast<int>(outUnits - remainder);
            Picks[static_cast<std::size_t>(produced++)] = j;
            remainder += inUnits - outUnits;
        }
    }
    Remainder = remainder * unit;
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
        if (!WholeRatio) {
            const TPhaseBank bank{PhaseKernels.data(), PaddedTaps, ExactPhases, PhaseCount,
                                  OutRate / PhaseStep};
            Polyphase(bank, plane, Picks.data(), Delays.data(), produced, filtered);
        } else if (dense) {
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
