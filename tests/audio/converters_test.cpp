#include "audio/acs_exception.h"
#include "audio/filters.h"
#include "audio/ms_converter.h"
#include "audio/rate_converter.h"
#include "audio/sample_converter.h"
#include "audio/stereo_balance.h"
#include "audio/wave_in.h"
#include "audio/wave_out.h"
#include "audio_test_support.h"
#include "core/helpers.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <thread>

namespace {

QString ErrorText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EACSException& error) {
        return error.Message();
    }
    return QStringLiteral("(nothing raised)");
}

std::vector<qint16> Sine(qint64 frames, int channels, int rate, double frequency, double amplitude)
{
    std::vector<qint16> samples(static_cast<std::size_t>(frames * channels));
    for (qint64 f = 0; f < frames; ++f) {
        const double value = amplitude * std::sin(2 * M_PI * frequency * static_cast<double>(f) / rate);
        for (int c = 0; c < channels; ++c)
            samples[static_cast<std::size_t>(f * channels + c)] = static_cast<qint16>(std::lround(value));
    }
    return samples;
}

std::vector<qint16> Channel(const std::vector<qint16>& samples, int channels, int channel)
{
    std::vector<qint16> one;
    for (std::size_t i = static_cast<std::size_t>(channel); i < samples.size();
         i += static_cast<std::size_t>(channels))
        one.push_back(samples[i]);
    return one;
}

// What a least-squares fit of a sine of the given frequency (plus a constant)
// finds in the samples: its amplitude, and the ratio of its power to the
// power of everything else, in dB.
struct TSineFit {
    double Amplitude = 0;
    double SignalToNoise = 0;
};

TSineFit FitSine(const std::vector<qint16>& samples, int rate, double frequency)
{
    double ss = 0, sc = 0, cc = 0, s1 = 0, c1 = 0, n = 0, ys = 0, yc = 0, y1 = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double phase = 2 * M_PI * frequency * static_cast<double>(i) / rate;
        const double s = std::sin(phase), c = std::cos(phase), y = samples[i];
        ss += s * s, sc += s * c, cc += c * c, s1 += s, c1 += c, n += 1;
        ys += y * s, yc += y * c, y1 += y;
    }
    // Solve the 3x3 normal equations by Cramer's rule.
    auto det = [](double a, double b, double c, double d, double e, double f, double g, double h, double i) {
        return a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    };
    const double d = det(ss, sc, s1, sc, cc, c1, s1, c1, n);
    const double a = det(ys, sc, s1, yc, cc, c1, y1, c1, n) / d;
    const double b = det(ss, ys, s1, sc, yc, c1, s1, y1, n) / d;
    const double k = det(ss, sc, ys, sc, cc, yc, s1, c1, y1) / d;
    double noise = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double phase = 2 * M_PI * frequency * static_cast<double>(i) / rate;
        const double e = samples[i] - (a * std::sin(phase) + b * std::cos(phase) + k);
        noise += e * e;
    }
    TSineFit fit;
    fit.Amplitude = std::hypot(a, b);
    fit.SignalToNoise = 10 * std::log10((fit.Amplitude * fit.Amplitude / 2) / (noise / n));
    return fit;
}

// Frequency from the rising zero crossings of the samples.
double CrossingFrequency(const std::vector<qint16>& samples, int rate)
{
    int first = -1, last = -1, count = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            if (first < 0)
                first = static_cast<int>(i);
            else
                ++count;
            last = static_cast<int>(i);
        }
    }
    return count * static_cast<double>(rate) / (last - first);
}

std::vector<qint16> Middle(const std::vector<qint16>& samples, std::size_t margin)
{
    return std::vector<qint16>(samples.begin() + static_cast<std::ptrdiff_t>(margin),
                               samples.end() - static_cast<std::ptrdiff_t>(margin));
}

// The rate conversion written out plainly, one channel, the whole signal as
// one block: interpolated values are scattered over the kernel into an
// accumulator when upsampling; when downsampling, output p lies at input time
// p In / Out, and the kernel shifted to it is applied at the next whole frame.
std::vector<double> ModelConvert(const std::vector<qint16>& in, int inRate, int outRate,
                                 const TRateConverter& converter)
{
    const std::vector<double>& kernel = converter.Kernel();
    const int taps = static_cast<int>(kernel.size());
    const qint64 n = static_cast<qint64>(in.size());
    std::vector<double> out;
    if (outRate >= inRate) {
        std::vector<double> acc(static_cast<std::size_t>(n * outRate / inRate + 2 + taps), 0.0);
        qint64 remainder = 0;
        std::size_t f = 0;
        auto interval = [&](qint64 a, qint64 b) {
            while (remainder < outRate) {
                const double v = static_cast<double>(
                    RoundHalfEven(static_cast<double>((outRate - remainder) * a + remainder * b) / outRate));
                for (int k = 0; k < taps; ++k)
                    acc[f + static_cast<std::size_t>(k)] += v * kernel[static_cast<std::size_t>(k)];
                ++f;
                remainder += inRate;
            }
            remainder -= outRate;
        };
        interval(0, in[0]);
        for (qint64 m = 0; m + 1 < n; ++m)
            interval(in[static_cast<std::size_t>(m)], in[static_cast<std::size_t>(m + 1)]);
        out.assign(acc.begin(), acc.begin() + static_cast<std::ptrdiff_t>(f));
    } else {
        std::map<qint64, std::vector<double>> kernels{{0, kernel}};
        for (qint64 p = 0;; ++p) {
            const qint64 j = (p * inRate + outRate - 1) / outRate;
            if (j >= n)
                break;
            const qint64 before = j * outRate - p * inRate;
            auto [at, made] = kernels.try_emplace(before);
            if (made)
                at->second = ShiftedSincKernel(taps, converter.FilterWindow(), converter.Cutoff(),
                                               static_cast<double>(before) / outRate);
            const std::vector<double>& shifted = at->second;
            double y = 0;
            for (int k = 0; k < taps; ++k) {
                const double x = j - k >= 0 ? in[static_cast<std::size_t>(j - k)] : 0.0;
                y += shifted[static_cast<std::size_t>(taps - 1 - k)] * x;
            }
            out.push_back(y);
        }
    }
    return out;
}

std::vector<qint16> Clipped(const std::vector<double>& values)
{
    std::vector<qint16> out;
    for (double v : values)
        out.push_back(static_cast<qint16>(std::clamp<qint64>(RoundHalfEven(v), -32768, 32767)));
    return out;
}

// Runs a converter over the samples, reading pieces of the given size.
std::vector<qint16> Convert(TACSConverter& converter, const std::vector<qint16>& samples, int channels,
                            int rate, int piece = 5000)
{
    TBytesSource source(Bytes(samples), channels, 16, rate);
    converter.AssignInput(&source);
    const std::vector<qint16> out = Samples(ReadAll(converter, piece));
    converter.AssignInput(nullptr);
    return out;
}

} // namespace

TEST(FilterWindows, SincKernelHasUnityGainAndItsCutoff)
{
    for (TFilterWindowType window : {fwHamming, fwHann, fwBlackman}) {
        const std::vector<double> kernel = SincKernel(64, window, 0.2);
        double sum = 0;
        for (double h : kernel)
            sum += h;
        EXPECT_NEAR(sum, 1.0, 1e-12);
        // Response at a frequency f (fraction of the rate).
        auto gain = [&](double f) {
            double re = 0, im = 0;
            for (std::size_t i = 0; i < kernel.size(); ++i) {
                re += kernel[i] * std::cos(2 * M_PI * f * static_cast<double>(i));
                im += kernel[i] * std::sin(2 * M_PI * f * static_cast<double>(i));
            }
            return std::hypot(re, im);
        };
        EXPECT_NEAR(gain(0.05), 1.0, 0.02);
        EXPECT_NEAR(gain(0.2), 0.5, 0.1); // half amplitude at the cutoff
        EXPECT_LT(gain(0.35), 0.03);
    }
    // Shifted by a fraction of a sample, the kernel keeps its gain and filters
    // that fraction earlier: offset 0 is the kernel itself.
    EXPECT_EQ(ShiftedSincKernel(30, fwBlackman, 0.3, 0.0), SincKernel(30, fwBlackman, 0.3));
    for (double offset : {0.25, 0.5, 0.9}) {
        SCOPED_TRACE(offset);
        const std::vector<double> shifted = ShiftedSincKernel(30, fwBlackman, 0.3, offset);
        double sum = 0;
        double y = 0;
        const double w = 2 * M_PI * 0.02; // a slow sine sampled at whole frames
        for (int i = 0; i < 30; ++i) {
            sum += shifted[static_cast<std::size_t>(i)];
            y += shifted[static_cast<std::size_t>(i)] * std::sin(w * (100 + i));
        }
        EXPECT_NEAR(sum, 1.0, 1e-12);
        // Tap 15 is the centre: the result is the sine at 100 + 15 - offset.
        EXPECT_NEAR(y, std::sin(w * (100 + 15 - offset)), 1e-3);
    }
    // The symmetric form, for analysis frames, ends where it starts.
    const std::vector<double> hann = FilterWindowCoefficients(fwHann, 32, true);
    EXPECT_NEAR(hann[0], 0.0, 1e-11);
    EXPECT_NEAR(hann[31], 0.0, 1e-11);
}

TEST(RateConverter, SetsUpRatioBlockSizeAndCutoffFromTheRates)
{
    struct TCase {
        int From;
        int To;
        float Ratio;
        int InBufSize;
        double Cutoff;
    };
    const TCase cases[] = {
        {22050, 44100, 2.0f, 16384, 0.2},
        {44100, 22050, 0.5f, 32768, 0.2},
        {32000, 44100, 1.378125f, 23776, 0.4 / 1.378125},
        {44100, 44100, 1.0f, 32768, 0.4},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.From) + " -> " + std::to_string(c.To));
        TBytesSource source(QByteArray(400, '\0'), 1, 16, c.From);
        TRateConverter converter;
        converter.SetOutSampleRate(c.To);
        converter.AssignInput(&source);
        converter.BeginRead();
        EXPECT_EQ(converter.Ratio(), c.Ratio);
        EXPECT_EQ(converter.InBufSize(), c.InBufSize);
        EXPECT_NEAR(converter.Cutoff(), c.Cutoff, 1e-6);
        EXPECT_EQ(converter.Kernel().size(), 30u);
        EXPECT_EQ(converter.GetSampleRate(), c.To);
        EXPECT_EQ(converter.GetBitsPerSample(), 16);
        EXPECT_EQ(converter.GetChannels(), 1);
        converter.EndRead();
    }
    EXPECT_NEAR(0.4 / 1.378125, 0.2902, 1e-4);
}

TEST(RateConverter, DeliversTheFramesItAnnounces)
{
    const int rates[][2] = {{22050, 44100}, {44100, 22050}, {48000, 44100}, {32000, 44100}, {44100, 8000}};
    for (int channels : {1, 2}) {
        for (const auto& r : rates) {
            for (qint64 frames : {1, 29, 20000, 70001}) {
                SCOPED_TRACE(std::to_string(r[0]) + " -> " + std::to_string(r[1]) + ", " +
                             std::to_string(channels) + " ch, " + std::to_string(frames) + " frames");
                TRateConverter converter;
                converter.SetOutSampleRate(r[1]);
                const std::vector<qint16> out =
                    Convert(converter, TestSignal(frames, channels), channels, r[0]);
                const double expected = static_cast<double>(frames) * r[1] / r[0];
                const qint64 got = static_cast<qint64>(out.size()) / channels;
                EXPECT_NEAR(static_cast<double>(got), expected, 1.0);
                EXPECT_EQ(static_cast<qint64>(out.size()) * 2, converter.Size());
            }
        }
    }
    // Twice the frames exactly, and the first output of a halving comes
    // from input frame 0.
    TRateConverter up;
    up.SetOutSampleRate(44100);
    EXPECT_EQ(Convert(up, TestSignal(12345, 1, 22050), 1, 22050).size(), 24690u);
}

TEST(RateConverter, KeepsSilenceSilent)
{
    for (int channels : {1, 2}) {
        for (const auto& r : {std::pair{22050, 44100}, std::pair{48000, 44100}, std::pair{44100, 11025}}) {
            TRateConverter converter;
            converter.SetOutSampleRate(r.second);
            const std::vector<qint16> out =
                Convert(converter, std::vector<qint16>(100000 * channels, 0), channels, r.first);
            ASSERT_FALSE(out.empty());
            EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](qint16 s) { return s == 0; }));
        }
    }
}

TEST(RateConverter, KeepsTheFrequencyAndAmplitudeOfASine)
{
    struct TCase {
        int From;
        int To;
        double MinSignalToNoise;
    };
    // Upsampling interpolates between neighbours and filters the images away;
    // downsampling filters at the exact time of each output, so a ratio that
    // is not whole adds no timing noise either (the nearest filtered frame
    // left only 28 dB at 48000 -> 44100).
    for (const TCase c : {TCase{22050, 44100, 85.0}, TCase{48000, 44100, 85.0}, TCase{44100, 32000, 85.0},
                          TCase{44100, 22050, 85.0}}) {
        for (int channels : {1, 2}) {
            SCOPED_TRACE(std::to_string(c.From) + " -> " + std::to_string(c.To) + ", " +
                         std::to_string(channels) + " ch");
            TRateConverter converter;
            converter.SetOutSampleRate(c.To);
            const std::vector<qint16> out =
                Convert(converter, Sine(2 * c.From, channels, c.From, 1000, 16000), channels, c.From);
            for (int channel = 0; channel < channels; ++channel) {
                const std::vector<qint16> one = Middle(Channel(out, channels, channel), 200);
                EXPECT_NEAR(CrossingFrequency(one, c.To), 1000.0, 0.5);
                const TSineFit fit = FitSine(one, c.To, 1000);
                EXPECT_NEAR(fit.Amplitude, 16000, 16000 * 0.01);
                EXPECT_GT(fit.SignalToNoise, c.MinSignalToNoise);
            }
        }
    }
}

TEST(RateConverter, JoinsBlocksWithoutASeam)
{
    // The whole signal converted at once by the plain algorithm is what the
    // converter delivers block by block; odd read sizes and sources that
    // deliver in pieces change nothing. Upsampling and whole ratios match
    // sample for sample. Other ratios may round the other way where the sums
    // are added in another order or, for a pair of rates with too many
    // phases to keep (44100 -> 44099), between two phases.
    struct TCase {
        int From;
        int To;
        int Tolerance;
        qint64 Frames = 90001;
    };
    const TCase cases[] = {{22050, 44100, 0}, {32000, 44100, 0}, {44100, 44100, 0}, {44100, 22050, 0},
                           {44100, 11025, 0}, {48000, 44100, 1}, {44100, 8000, 1},  {44100, 44099, 1, 20001}};
    for (const TCase& r : cases) {
        for (int channels : {1, 2}) {
            SCOPED_TRACE(std::to_string(r.From) + " -> " + std::to_string(r.To) + ", " +
                         std::to_string(channels));
            const std::vector<qint16> signal = TestSignal(r.Frames, channels, r.From);
            TRateConverter converter;
            converter.SetOutSampleRate(r.To);
            converter.SetKernelWidth(31);
            converter.SetFilterWindow(fwHamming);
            TBytesSource source(Bytes(signal), channels, 16, r.From);
            source.MaxRead = 10006;
            converter.AssignInput(&source);
            const std::vector<qint16> out = Samples(ReadAll(converter, 4099));
            for (int c = 0; c < channels; ++c) {
                const std::vector<qint16> model =
                    Clipped(ModelConvert(Channel(signal, channels, c), r.From, r.To, converter));
                const std::vector<qint16> got = Channel(out, channels, c);
                if (r.Tolerance == 0) {
                    ASSERT_EQ(got, model);
                    continue;
                }
                ASSERT_EQ(got.size(), model.size());
                int worst = 0;
                for (std::size_t i = 0; i < got.size(); ++i)
                    worst = std::max(worst, std::abs(got[i] - model[i]));
                EXPECT_LE(worst, r.Tolerance);
            }
        }
    }
}

TEST(RateConverter, ClipsSumsBeyondSixteenBitsInsteadOfWrapping)
{
    // A full-scale square wave rings past full scale at its edges.
    std::vector<qint16> square;
    for (int i = 0; i < 40000; ++i)
        square.push_back((i / 50) % 2 ? qint16(-32768) : qint16(32767));
    for (const auto& r : {std::pair{22050, 44100}, std::pair{44100, 22050}}) {
        TRateConverter converter;
        converter.SetOutSampleRate(r.second);
        const std::vector<qint16> out = Convert(converter, square, 1, r.first);
        TRateConverter probe;
        probe.SetOutSampleRate(r.second);
        Convert(probe, {0, 0}, 1, r.first);
        const std::vector<double> exact = ModelConvert(square, r.first, r.second, probe);
        ASSERT_EQ(out.size(), exact.size());
        int over = 0, under = 0;
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (exact[i] > 32767.5) {
                ++over;
                EXPECT_EQ(out[i], 32767) << i;
            } else if (exact[i] < -32768.5) {
                ++under;
                EXPECT_EQ(out[i], -32768) << i;
            }
        }
        EXPECT_GT(over, 10);
        EXPECT_GT(under, 10);
    }
}

TEST(RateConverter, StartsEveryRunFromSilence)
{
    // The last frame of one file must not leak into the start of the next.
    TRateConverter converter;
    converter.SetOutSampleRate(44100);
    const std::vector<qint16> loud(2000, 30000);
    const std::vector<qint16> quiet = TestSignal(5000, 1, 22050);
    Convert(converter, loud, 1, 22050);
    TRateConverter fresh;
    fresh.SetOutSampleRate(44100);
    EXPECT_EQ(Convert(converter, quiet, 1, 22050), Convert(fresh, quiet, 1, 22050));
}

TEST(Converters, RefuseWhatTheyCannotDo)
{
    TRateConverter rate;
    rate.SetKernelWidth(1);
    rate.SetOutSampleRate(0);
    rate.SetOutSampleRate(-5);
    EXPECT_EQ(rate.KernelWidth(), 30);
    EXPECT_EQ(rate.OutSampleRate(), 22050);
    // Fixed answers need no input; the rest do.
    EXPECT_EQ(rate.GetBitsPerSample(), 16);
    EXPECT_EQ(rate.GetSampleRate(), 22050);
    EXPECT_EQ(ErrorText([&] { rate.GetChannels(); }), "Input not assigned");
    TMSConverter ms;
    EXPECT_EQ(ms.GetBitsPerSample(), 16);
    EXPECT_EQ(ErrorText([&] { ms.GetChannels(); }), "Input not assigned");
    EXPECT_EQ(ErrorText([&] { ms.GetSampleRate(); }), "Input not assigned");
    TSampleConverter sample;
    TStereoBalance balance;
    for (TACSConverter* converter : std::initializer_list<TACSConverter*>{&rate, &ms, &sample, &balance}) {
        EXPECT_EQ(ErrorText([&] { converter->BeginRead(); }), "Input not assigned");
        EXPECT_FALSE(converter->Busy());
        char buffer[8];
        EXPECT_EQ(ErrorText([&] { converter->FetchData(buffer, 8); }), "The Stream is not opened");
    }
    EXPECT_EQ(ErrorText([&] { sample.GetBitsPerSample(); }), "Input not assigned");
    EXPECT_EQ(ErrorText([&] { balance.GetSampleRate(); }), "Input not assigned");
    EXPECT_EQ(balance.GetChannels(), 2);

    // Settings cannot change during a run.
    TBytesSource source(QByteArray(4000, '\0'), 2, 16, 22050);
    rate.AssignInput(&source);
    rate.SetOutSampleRate(44100);
    rate.BeginRead();
    rate.SetOutSampleRate(48000);
    rate.SetKernelWidth(12);
    EXPECT_EQ(rate.OutSampleRate(), 44100);
    EXPECT_EQ(rate.KernelWidth(), 30);
    rate.EndRead();
    EXPECT_FALSE(source.Busy());

    // A rate converter cannot work without a rate or with more than two
    // channels; the input's read is ended again.
    TBytesSource surround(QByteArray(600, '\0'), 6, 16, 48000);
    rate.AssignInput(&surround);
    EXPECT_EQ(ErrorText([&] { rate.BeginRead(); }), "The rate converter takes mono or stereo sound only.");
    EXPECT_FALSE(surround.Busy());
    TBytesSource noRate(QByteArray(600, '\0'), 2, 16, 0);
    rate.AssignInput(&noRate);
    EXPECT_EQ(ErrorText([&] { rate.BeginRead(); }), "The input has no sample rate to convert from.");
    EXPECT_FALSE(rate.Busy());
}

TEST(Converters, MixAndSplitChannels)
{
    TMSConverter ms;
    const std::vector<qint16> stereo{-3, 0, 3, 0, -32768, -32768, 32767, 32767, 1001, -2000, -1, -1};
    TBytesSource stereoSource(Bytes(stereo), 2, 16, 8000);
    ms.AssignInput(&stereoSource);
    EXPECT_EQ(ms.GetChannels(), 1);
    EXPECT_EQ(ms.GetSampleRate(), 8000);
    EXPECT_EQ(Samples(ReadAll(ms)), (std::vector<qint16>{-1, 1, -32768, 32767, -499, -1}));
    EXPECT_EQ(ms.Size(), 12);

    const std::vector<qint16> mono{5, -7, 32767};
    struct TCase {
        TMSConverterMode Mode;
        std::vector<qint16> Expected;
    };
    for (const TCase& c :
         {TCase{msmMonoToBoth, {5, 5, -7, -7, 32767, 32767}}, TCase{msmMonoToLeft, {5, 0, -7, 0, 32767, 0}},
          TCase{msmMonoToRight, {0, 5, 0, -7, 0, 32767}}}) {
        ms.SetMode(c.Mode);
        EXPECT_EQ(Convert(ms, mono, 1, 8000, 3), c.Expected) << c.Mode;
    }
    // Whole blocks of a long stream: every frame gets the mean.
    const std::vector<qint16> signal = TestSignal(50001, 2);
    const std::vector<qint16> mixed = Convert(ms, signal, 2, 44100, 777);
    ASSERT_EQ(mixed.size(), 50001u);
    for (std::size_t f = 0; f < mixed.size(); f += 997)
        EXPECT_EQ(mixed[f], (signal[2 * f] + signal[2 * f + 1]) / 2);
}

TEST(Converters, ChangeTheSampleSize)
{
    TSampleConverter converter;
    const std::vector<qint16> wide{-32768, 32767, 0, -1, 255, 256, -256, -257};
    TBytesSource wideSource(Bytes(wide), 2, 16, 8000);
    converter.AssignInput(&wideSource);
    EXPECT_EQ(converter.GetBitsPerSample(), 8);
    EXPECT_EQ(converter.GetChannels(), 2);
    EXPECT_EQ(ReadAll(converter), QByteArray::fromHex("00ff807f80817f7e"));
    EXPECT_EQ(converter.Size(), 8);

    TBytesSource narrowSource(QByteArray::fromHex("0080ff7f01"), 1, 8, 8000);
    converter.AssignInput(&narrowSource);
    EXPECT_EQ(converter.GetBitsPerSample(), 16);
    EXPECT_EQ(Samples(ReadAll(converter, 3)), (std::vector<qint16>{-32768, 0, 32512, -256, -32512}));
    EXPECT_EQ(converter.Size(), 10);
}

TEST(Converters, BalanceFadesOneSide)
{
    struct TCase {
        float Balance;
        std::vector<qint16> Expected;
    };
    const std::vector<qint16> frames{1000, 1000, -3001, 2001};
    for (const TCase& c : {TCase{0.5f, {1000, 1000, -3001, 2001}}, TCase{0.75f, {500, 1000, -1500, 2001}},
                           TCase{1.0f, {0, 1000, 0, 2001}}, TCase{0.25f, {1000, 500, -3001, 1000}},
                           TCase{0.0f, {1000, 0, -3001, 0}}}) {
        TStereoBalance balance;
        balance.SetBalance(c.Balance);
        EXPECT_EQ(Convert(balance, frames, 2, 44100), c.Expected) << c.Balance;
    }
    TStereoBalance balance;
    balance.SetBalance(1.5f);
    balance.SetBalance(-0.1f);
    EXPECT_EQ(balance.Balance(), 0.5f);

    // Mono comes out as stereo, twice the size; 8-bit samples fade towards
    // their silence, 128. Requests of any size, down to one byte, get the
    // same bytes.
    TBytesSource mono(QByteArray::fromHex("00ff80c0"), 1, 8, 8000);
    balance.SetBalance(1.0f);
    balance.AssignInput(&mono);
    EXPECT_EQ(balance.GetChannels(), 2);
    EXPECT_EQ(balance.GetBitsPerSample(), 8);
    for (int piece : {1, 3, 100}) {
        EXPECT_EQ(ReadAll(balance, piece), QByteArray::fromHex("800080ff808080c0")) << piece;
        EXPECT_EQ(balance.Size(), 8);
    }
}

TEST(Converters, RunInAChainOnTheSinkThread)
{
    // WAV file -> stereo balance -> channel mixer -> rate converter -> WAV
    // file, the balance changing from this thread while the worker reads.
    TTempHome home;
    const std::vector<qint16> signal = TestSignal(200000, 2, 22050);
    WriteFile(home.File("in.wav"), MakePcmWav(2, 22050, 16, Bytes(signal)));
    TWaveIn in;
    in.SetFileName(home.File("in.wav"));
    TStereoBalance balance;
    balance.AssignInput(&in);
    TMSConverter mixer;
    mixer.AssignInput(&balance);
    TRateConverter rate;
    rate.SetOutSampleRate(44100);
    rate.AssignInput(&mixer);
    TWaveOut out;
    out.SetFileName(home.File("out.wav"));
    out.AssignInput(&rate);
    TSinkEvents events(out);
    out.Run();
    for (int i = 0; out.Busy() && i < 1000; ++i) {
        balance.SetBalance(i % 2 ? 0.5f : 0.6f);
        std::this_thread::yield();
    }
    ASSERT_TRUE(events.WaitForEnd());
    EXPECT_EQ(events.Done(), 1);
    EXPECT_EQ(events.ProgressValues().back(), 100);
    TWaveIn result;
    result.SetFileName(home.File("out.wav"));
    EXPECT_EQ(result.GetChannels(), 1);
    EXPECT_EQ(result.GetSampleRate(), 44100);
    EXPECT_EQ(result.GetTotalSamples(), 400000);
    // With the balance left in the middle the same chain pulled here gives
    // the same file.
    balance.SetBalance(0.5f);
    out.Run();
    ASSERT_TRUE(events.WaitFor([&] { return events.Done() == 2; }));
    const QByteArray written = ReadFile(home.File("out.wav")).mid(44);
    EXPECT_EQ(written, ReadAll(rate));
}
