#include "audio/acs_exception.h"
#include "audio/audio_out.h"
#include "audio/sound_devices.h"
#include "audio/sound_indicator.h"

#include "audio_test_support.h"
#include "support/disk_audio.h"

#include <QtEndian>
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

// The sound-card sink on SDL's disk driver: what the device plays lands in a
// file, which is compared with what the source delivered.

namespace {

using namespace std::chrono_literals;

// The bytes of a tone source, read without a sink.
QByteArray ToneBytes(qint64 frames, int channels = 2, int bits = 16)
{
    TToneSource source(frames, channels, bits);
    return ReadAll(source);
}

// The bytes without the all-zero 16-bit stereo frames the device plays while
// it waits (a tone source has none of its own).
QByteArray WithoutSilence(const QByteArray& bytes)
{
    QByteArray kept;
    for (qsizetype at = 0; at + 4 <= bytes.size(); at += 4) {
        if (qFromLittleEndian<quint32>(bytes.constData() + at) != 0)
            kept.append(bytes.constData() + at, 4);
    }
    return kept;
}

class AudioOutTest : public ::testing::Test {
protected:
    explicit AudioOutTest(bool realTime = false) : Disk(realTime) {}

    TDiskAudio Disk;
    TAudioOut Sink;
    TSinkEvents Events{Sink};
};

class AudioOutRealTimeTest : public AudioOutTest {
protected:
    AudioOutRealTimeTest() : AudioOutTest(true) {}
};

} // namespace

TEST_F(AudioOutTest, PlaysEveryByteInBuffersOfAtMost8192AndEndsOnce)
{
    QByteArray bytes(100000, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 + 1);
    TBytesSource source(bytes, 2, 16, 44100);
    Sink.AssignInput(&source);
    Sink.Run();
    ASSERT_TRUE(Events.WaitForEnd());
    EXPECT_TRUE(Sink.DeviceError().isEmpty()) << Sink.DeviceError().toStdString();

    std::vector<int> expected(12, 8192);
    expected.push_back(1696);
    expected.push_back(0);
    EXPECT_EQ(source.Reads(), expected);
    EXPECT_EQ(Sink.PlayedBytes(), 100000);
    EXPECT_EQ(Sink.Queued(), 0);
    EXPECT_TRUE(Heard(Disk.Played()) == bytes);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Events.Done(), 1);
    EXPECT_EQ(Events.Errors(), 0);
    EXPECT_EQ(Sink.Status(), osIdle);
}

TEST_F(AudioOutTest, OpensTheDeviceInTheInputsFormat)
{
    struct TCase {
        int Channels;
        int Bits;
        int Rate;
    };
    for (const TCase& c : {TCase{1, 8, 8000}, TCase{1, 16, 22050}, TCase{2, 8, 11025}, TCase{2, 16, 48000}}) {
        SCOPED_TRACE(testing::Message() << c.Channels << " channels, " << c.Bits << " bits, " << c.Rate);
        TDiskAudio disk;
        TSinkEvents events(Sink);
        TToneSource source(30000, c.Channels, c.Bits, c.Rate);
        Sink.AssignInput(&source);
        Sink.Run();
        ASSERT_TRUE(events.WaitForEnd());
        // Around the sound, only silence of the format's own kind.
        const int frameBytes = c.Channels * c.Bits / 8;
        EXPECT_TRUE(Heard(disk.Played(), frameBytes, c.Bits == 8 ? '\x80' : '\0') ==
                    ToneBytes(30000, c.Channels, c.Bits));
    }
}

TEST_F(AudioOutRealTimeTest, StopPlaysOutWhatIsQueued)
{
    TToneSource source(44100 * 60);
    Sink.AssignInput(&source);
    Sink.Run();
    ASSERT_TRUE(WaitUntil([&] { return Sink.Queued() == TAudioOut::QueueDepth + 1; }));
    Sink.Stop();
    ASSERT_TRUE(Events.WaitForEnd());
    const qint64 read = source.Position();
    EXPECT_LT(read, source.TotalBytes());
    EXPECT_EQ(Sink.PlayedBytes(), read);
    EXPECT_TRUE(Heard(Disk.Played()) == ToneBytes(44100 * 60).left(read));
    EXPECT_EQ(Events.Done(), 1);
}

TEST_F(AudioOutTest, PauseStopsTheRefillAndResumeGoesOn)
{
    TToneSource source(44100 * 4);
    source.ReadDelayMs = 1;
    Sink.AssignInput(&source);
    Sink.Run();
    ASSERT_TRUE(WaitUntil([&] { return source.Position() > 100000; }));
    Sink.Pause();
    EXPECT_EQ(Sink.Status(), osPaused);
    const qint64 pausedAt = source.Position();
    // The device plays what is queued and falls silent; nothing more is read.
    ASSERT_TRUE(WaitUntil([&] { return Sink.Queued() == 0; }));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(source.Position(), pausedAt);
    EXPECT_EQ(Sink.PlayedBytes(), pausedAt);
    EXPECT_EQ(Events.Done(), 0);

    Sink.Resume();
    ASSERT_TRUE(Events.WaitForEnd());
    EXPECT_EQ(Events.Done(), 1);
    EXPECT_EQ(source.Position(), source.TotalBytes());
    EXPECT_TRUE(WithoutSilence(Disk.Played()) == ToneBytes(44100 * 4));
}

TEST_F(AudioOutTest, ReportsProgressOnlyForASourceOfKnownSize)
{
    for (const qint64 announced : {qint64{-1}, qint64{0}, qint64{-2}}) {
        SCOPED_TRACE(announced);
        TSinkEvents events(Sink);
        TToneSource source(100000);
        source.AnnouncedSize = announced;
        Sink.AssignInput(&source);
        Sink.Run();
        ASSERT_TRUE(events.WaitForEnd());
        if (announced == -2) {
            ASSERT_FALSE(events.ProgressValues().empty());
            EXPECT_EQ(events.ProgressValues().back(), 100);
        } else {
            EXPECT_EQ(events.Progress(), 0);
        }
    }
}

TEST_F(AudioOutTest, BaseChannelMustNameAnOutputDevice)
{
    const int devices = OutputDeviceCount();
    ASSERT_GE(devices, 1);
    try {
        Sink.SetBaseChannel(devices);
        FAIL() << "no error";
    } catch (const EACSException& error) {
        EXPECT_EQ(error.Message(), QStringLiteral("Channel %1 is not available").arg(devices));
    }
    EXPECT_THROW(Sink.SetBaseChannel(-1), EACSException);
    EXPECT_EQ(Sink.BaseChannel(), 0);
    Sink.SetBaseChannel(devices - 1);
    EXPECT_EQ(Sink.BaseChannel(), devices - 1);
    Sink.SetBaseChannel(0);

    TToneSource source(44100 * 10);
    source.ReadDelayMs = 5;
    Sink.AssignInput(&source);
    Sink.Run();
    try {
        Sink.SetBaseChannel(0);
        FAIL() << "no error";
    } catch (const EACSException& error) {
        EXPECT_EQ(error.Message(), QStringLiteral("Component is buisy"));
    }
    Sink.Stop();
    EXPECT_TRUE(Events.WaitForEnd());
}

// A device that does not open must not leave the run waiting for buffers no
// device will hand back: the input is read to its end at once (a real-time
// device would take 30 s for it) and the reason is kept.
TEST_F(AudioOutTest, ADeviceThatDoesNotOpenEndsTheRunAtOnce)
{
    struct TCase {
        const char* Name;
        QByteArray Driver;
        QString FileFolder;
        QString Reason;
    };
    const QString missing = QStringLiteral("/nonexistent-velbrook-folder");
    const QByteArray previousDriver = qgetenv("SDL_AUDIODRIVER");
    for (const TCase& c : {TCase{"no such file", previousDriver, missing, missing},
                           TCase{"no such driver", "no-such-driver", QString(), "no-such-driver"}}) {
        SCOPED_TRACE(c.Name);
        qputenv("SDL_AUDIODRIVER", c.Driver);
        if (!c.FileFolder.isEmpty())
            qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(c.FileFolder + "/played.raw"));
        StartSoundSystem();
        if (c.Driver != previousDriver) {
            EXPECT_EQ(OutputDeviceCount(), 0);
            EXPECT_TRUE(SoundSystemError().contains(c.Reason));
            // Without devices any channel is taken as the first.
            Sink.SetBaseChannel(3);
            EXPECT_EQ(Sink.BaseChannel(), 0);
        }
        TSinkEvents events(Sink);
        TToneSource source(44100 * 30);
        Sink.AssignInput(&source);
        Sink.Run();
        const bool ended = events.WaitForEnd(20s);
        Sink.Stop();
        EXPECT_TRUE(ended);
        EXPECT_TRUE(events.WaitForEnd());
        EXPECT_EQ(events.Done(), 1);
        EXPECT_TRUE(Sink.DeviceError().contains(c.Reason)) << Sink.DeviceError().toStdString();
        EXPECT_EQ(source.Position(), source.TotalBytes());
        EXPECT_EQ(Sink.PlayedBytes(), 0);
        qputenv("SDL_AUDIODRIVER", previousDriver);
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(Disk.File()));
        StartSoundSystem();
    }
    // The next run plays again.
    TSinkEvents events(Sink);
    TToneSource source(10000);
    Sink.AssignInput(&source);
    Sink.Run();
    ASSERT_TRUE(events.WaitForEnd());
    EXPECT_TRUE(Sink.DeviceError().isEmpty());
    EXPECT_TRUE(Heard(Disk.Played()) == ToneBytes(10000));
}

namespace {

QByteArray SineBytes(int frames, int rate, double frequency, int channels, int bits)
{
    QByteArray bytes;
    for (int n = 0; n < frames; ++n) {
        const double value = std::sin(2 * M_PI * frequency * n / rate);
        for (int c = 0; c < channels; ++c) {
            if (bits == 16) {
                qint16 s = static_cast<qint16>(std::lround(value * 32767));
                bytes.append(reinterpret_cast<const char*>(&s), 2);
            } else {
                bytes.append(static_cast<char>(std::lround(value * 127) + 128));
            }
        }
    }
    return bytes;
}

// Runs bytes through an indicator, count bytes a read; the bytes come out as
// they went in.
std::array<double, TSoundIndicator::Bands> Levels(TSoundIndicator& indicator, const QByteArray& bytes,
                                                  int channels, int bits, int rate, int count = 8192)
{
    TBytesSource source(bytes, channels, bits, rate);
    indicator.AssignInput(&source);
    EXPECT_TRUE(ReadAll(indicator, count) == bytes);
    indicator.AssignInput(nullptr);
    return indicator.GetLevels();
}

} // namespace

TEST(SoundIndicator, SilenceShowsNoLevels)
{
    for (int bits : {8, 16}) {
        for (int channels : {1, 2}) {
            TSoundIndicator indicator;
            const QByteArray silence(4096 * channels * bits / 8, bits == 8 ? '\x80' : '\0');
            EXPECT_EQ(Levels(indicator, silence, channels, bits, 44100),
                      (std::array<double, TSoundIndicator::Bands>{}))
                << bits << " bits, " << channels << " channels";
        }
    }
}

TEST(SoundIndicator, AFullScaleSineShowsInTheBandOfItsFrequency)
{
    struct TCase {
        int Rate;
        int Band;
        int Channels;
        int Bits;
    };
    for (const TCase& c : {TCase{44100, 8, 2, 16}, TCase{22050, 3, 1, 16}, TCase{8000, 12, 1, 8},
                           TCase{44100, 20, 2, 8}, TCase{48000, 30, 2, 16}}) {
        SCOPED_TRACE(testing::Message()
                     << c.Rate << " Hz, band " << c.Band << ", " << c.Channels << "x" << c.Bits);
        TSoundIndicator indicator;
        const double frequency = c.Band * c.Rate / 64.0;
        const auto levels = Levels(indicator, SineBytes(4096, c.Rate, frequency, c.Channels, c.Bits),
                                   c.Channels, c.Bits, c.Rate);
        const auto loudest = std::max_element(levels.begin(), levels.end());
        EXPECT_EQ(loudest - levels.begin(), c.Band);
        // 20 per decade of the band's magnitude.
        EXPECT_GT(*loudest, 40.0);
        // Read again without sound in between: nothing, and no read analysed.
        std::array<double, TSoundIndicator::Bands> again{};
        again.fill(-1);
        EXPECT_EQ(indicator.GetLevels(again.data()), 0);
        EXPECT_EQ(again, (std::array<double, TSoundIndicator::Bands>{}));
    }
}

TEST(SoundIndicator, AReadOfFewerThan64FramesLeavesTheLevels)
{
    const QByteArray sine = SineBytes(64, 44100, 8 * 44100 / 64.0, 2, 16);
    TSoundIndicator reference;
    const auto expected = Levels(reference, sine, 2, 16, 44100);

    // The same block followed by silence in a short read, which counts for
    // nothing.
    TSoundIndicator indicator;
    TBytesSource source(sine + QByteArray(63 * 4, '\0'), 2, 16, 44100);
    indicator.AssignInput(&source);
    ReadAll(indicator, 64 * 4);
    std::array<double, TSoundIndicator::Bands> levels{};
    EXPECT_EQ(indicator.GetLevels(levels.data()), 1);
    EXPECT_EQ(levels, expected);
}
