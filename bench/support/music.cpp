#include "music.h"

#include "audio/wave_format.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int TableBits = 14;
constexpr int VoicesPerChannel = 4;

const std::array<float, (1 << TableBits) + 1>& SineTable()
{
    static const auto table = [] {
        std::array<float, (1 << TableBits) + 1> values{};
        for (std::size_t i = 0; i < values.size(); ++i)
            values[i] = static_cast<float>(std::sin(2 * M_PI * static_cast<double>(i) / (1 << TableBits)));
        return values;
    }();
    return table;
}

double SineAt(std::uint32_t phase)
{
    const std::uint32_t index = phase >> (32 - TableBits);
    const double fraction =
        static_cast<double>(phase & ((1u << (32 - TableBits)) - 1)) / (1u << (32 - TableBits));
    const auto& table = SineTable();
    return table[index] + (table[index + 1] - table[index]) * fraction;
}

std::uint32_t NextRandom(std::uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

[[noreturn]] void Fail(const QString& path)
{
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    std::exit(2);
}

} // namespace

TMusic::TMusic(int rate, int channels)
    : Rate(rate), Channels(channels), ChordFrames(rate / 2),
      Voices(static_cast<std::size_t>(channels * VoicesPerChannel))
{
    NextChord();
}

void TMusic::NextChord()
{
    // A minor pentatonic over three octaves; the right channel plays the
    // chord an octave lower and slightly detuned, as a second instrument.
    static constexpr std::array<int, 5> Scale = {0, 3, 5, 7, 10};
    const int root = static_cast<int>(NextRandom(Random) % 12);
    for (int c = 0; c < Channels; ++c) {
        const int voices = 3 + static_cast<int>(NextRandom(Random) % 2);
        for (int v = 0; v < VoicesPerChannel; ++v) {
            TVoice& voice = Voices[static_cast<std::size_t>(c * VoicesPerChannel + v)];
            if (v >= voices) {
                voice.Level = 0;
                continue;
            }
            const int note = root + Scale[NextRandom(Random) % Scale.size()] +
                             12 * static_cast<int>(NextRandom(Random) % 3);
            const double frequency = 110.0 * std::pow(2.0, (note - 12 * c) / 12.0) * (1.0 + 0.002 * c);
            voice.Step = static_cast<std::uint32_t>(frequency / Rate * 4294967296.0);
            voice.Level = 5000.0 / voices;
        }
    }
}

void TMusic::Next(std::int16_t* out, std::int64_t frames)
{
    for (std::int64_t f = 0; f < frames; ++f, ++Frame) {
        const std::int64_t inChord = Frame % ChordFrames;
        if (inChord == 0 && Frame > 0)
            NextChord();
        // Struck: a quick rise, then a decay over the half second.
        const double t = static_cast<double>(inChord) / Rate;
        const double envelope = std::min(1.0, t * 200.0) * std::exp(-3.0 * t);
        const double vibrato = SineAt(static_cast<std::uint32_t>(Frame * 5.5 / Rate * 4294967296.0));
        for (int c = 0; c < Channels; ++c) {
            double value = 0;
            for (int v = 0; v < VoicesPerChannel; ++v) {
                TVoice& voice = Voices[static_cast<std::size_t>(c * VoicesPerChannel + v)];
                if (voice.Level == 0)
                    continue;
                voice.Phase += static_cast<std::uint32_t>(voice.Step * (1.0 + 0.003 * vibrato));
                value += voice.Level * SineAt(voice.Phase);
            }
            const double noise = static_cast<double>(NextRandom(Random) % 2001) - 1000.0;
            const double sample = std::clamp(value * envelope * 3.0 + 0.3 * noise, -32768.0, 32767.0);
            out[f * Channels + c] = static_cast<std::int16_t>(std::lround(sample));
        }
    }
}

void WriteMusicWav(const QString& path, int rate, int channels, int seconds)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        Fail(path);
    const auto frames = static_cast<std::int64_t>(seconds) * rate;
    file.write(PcmWavHeader(channels, rate, 16, static_cast<quint32>(frames * channels * 2)));
    TMusic music(rate, channels);
    std::vector<std::int16_t> block(static_cast<std::size_t>(rate * channels));
    for (std::int64_t done = 0; done < frames; done += rate) {
        const std::int64_t n = std::min<std::int64_t>(rate, frames - done);
        music.Next(block.data(), n);
        for (std::int64_t i = 0; i < n * channels; ++i)
            block[static_cast<std::size_t>(i)] = qToLittleEndian(block[static_cast<std::size_t>(i)]);
        if (file.write(reinterpret_cast<const char*>(block.data()), n * channels * 2) != n * channels * 2)
            Fail(path);
    }
    if (!file.flush())
        Fail(path);
}

void WriteMusicImage(const QString& cuePath, const std::vector<std::int64_t>& trackFrames)
{
    constexpr int SamplesPerFrame = 588; // 2352 bytes of 16-bit stereo
    const QFileInfo info(cuePath);
    const QString binPath = info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".bin");
    QFile bin(binPath);
    if (!bin.open(QIODevice::WriteOnly | QIODevice::Truncate))
        Fail(binPath);
    QByteArray cue = "FILE \"" + QFileInfo(binPath).fileName().toUtf8() + "\" BINARY\n";
    TMusic music(44100, 2);
    std::vector<std::int16_t> block(75 * SamplesPerFrame * 2);
    std::int64_t start = 0;
    for (std::size_t t = 0; t < trackFrames.size(); ++t) {
        cue += QStringLiteral("  TRACK %1 AUDIO\n    INDEX 01 %2:%3:%4\n")
                   .arg(t + 1, 2, 10, QLatin1Char('0'))
                   .arg(start / 4500, 2, 10, QLatin1Char('0'))
                   .arg(start / 75 % 60, 2, 10, QLatin1Char('0'))
                   .arg(start % 75, 2, 10, QLatin1Char('0'))
                   .toUtf8();
        for (std::int64_t done = 0; done < trackFrames[t]; done += 75) {
            const std::int64_t n = std::min<std::int64_t>(75, trackFrames[t] - done);
            music.Next(block.data(), n * SamplesPerFrame);
            for (std::int64_t i = 0; i < n * SamplesPerFrame * 2; ++i)
                block[static_cast<std::size_t>(i)] = qToLittleEndian(block[static_cast<std::size_t>(i)]);
            const qint64 bytes = n * SamplesPerFrame * 4;
            if (bin.write(reinterpret_cast<const char*>(block.data()), bytes) != bytes)
                Fail(binPath);
        }
        start += trackFrames[t];
    }
    QFile file(cuePath);
    if (!bin.flush() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(cue) != cue.size())
        Fail(cuePath);
}

std::vector<std::int64_t> SongLengths(int minutes, int count)
{
    const std::int64_t total = static_cast<std::int64_t>(minutes) * 60 * 75;
    std::vector<std::int64_t> lengths;
    std::int64_t left = total;
    for (int i = 0; i < count && left > 0; ++i) {
        // Alternately a little shorter and longer than the average.
        const std::int64_t swing = std::min<std::int64_t>(900, total / count / 4);
        const std::int64_t frames =
            i == count - 1 ? left : std::min(left, total / count + (i % 2 ? swing : -swing));
        lengths.push_back(frames);
        left -= frames;
    }
    return lengths;
}
