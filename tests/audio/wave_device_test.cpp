#include "audio/wave_device.h"
#include "audio/wave_format.h"

#include "audio_test_support.h"
#include "support/disk_audio.h"
#include "support/small_disk.h"
#include "support/temp_home.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <thread>

// The recorder's device on SDL's disk driver: the "microphone" is a file of a
// known signal (SDL_DISKAUDIOFILEIN), the speaker a file the test reads back.

namespace {

using namespace std::chrono_literals;

QByteArray SignalBytes(qint64 frames, int channels, int bits, int rate)
{
    const std::vector<qint16> samples = TestSignal(frames, channels, rate);
    if (bits == 16)
        return Bytes(samples);
    QByteArray bytes;
    for (qint16 sample : samples)
        bytes.append(static_cast<char>((sample >> 8) + 128));
    return bytes;
}

// The signal upside down, so that it cannot be mistaken for the file's own.
QByteArray OtherSignalBytes(qint64 frames, int channels)
{
    std::vector<qint16> samples = TestSignal(frames, channels, 22050);
    for (qint16& sample : samples)
        sample = static_cast<qint16>(-sample);
    return Bytes(samples);
}

class WaveDeviceTest : public ::testing::Test {
protected:
    explicit WaveDeviceTest(bool realTime = true) : Disk(realTime)
    {
        HadMicrophone = qEnvironmentVariableIsSet("SDL_DISKAUDIOFILEIN");
        PreviousMicrophone = qgetenv("SDL_DISKAUDIOFILEIN");
        qputenv("SDL_DISKAUDIOFILEIN", QFile::encodeName(Home.File("microphone.raw")));
    }
    ~WaveDeviceTest() override
    {
        if (HadMicrophone)
            qputenv("SDL_DISKAUDIOFILEIN", PreviousMicrophone);
        else
            qunsetenv("SDL_DISKAUDIOFILEIN");
    }

    void Speak(const QByteArray& bytes) { WriteFile(Home.File("microphone.raw"), bytes); }
    QString NewWav(const QString& name, int channels, int rate, int bits, const QByteArray& data = {})
    {
        const QString path = Home.File(name);
        WriteFile(path, PcmWavHeader(channels, rate, bits, static_cast<quint32>(data.size())) + data);
        return path;
    }
    // Records for about the given time; the disk driver hears in real time.
    void RecordFor(qint64 from, std::chrono::milliseconds time)
    {
        QString error;
        ASSERT_TRUE(Device.Record(from, &error)) << error.toStdString();
        EXPECT_EQ(Device.Mode(), TDeviceMode::Recording);
        std::this_thread::sleep_for(time);
        Device.Stop();
        EXPECT_EQ(Device.Mode(), TDeviceMode::Stopped);
    }

    TTempHome Home;
    TDiskAudio Disk;
    TWaveDevice Device;
    QByteArray PreviousMicrophone;
    bool HadMicrophone = false;
};

class WaveDeviceFastTest : public WaveDeviceTest {
protected:
    WaveDeviceFastTest() : WaveDeviceTest(false) {}
};

TEST_F(WaveDeviceTest, RecordsTheMicrophoneIntoANewFileOfItsFormat)
{
    const struct {
        int Rate, Channels, Bits;
        std::chrono::milliseconds Time;
    } cases[] = {{22050, 1, 16, 2000ms}, {11025, 2, 8, 700ms}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Rate);
        const QByteArray spoken = SignalBytes(c.Rate * 3, c.Channels, c.Bits, c.Rate);
        Speak(spoken);
        const QString path = NewWav("new.wav", c.Channels, c.Rate, c.Bits);
        ASSERT_TRUE(Device.Open(path));
        EXPECT_EQ(Device.Length(), 0);
        RecordFor(-1, c.Time);
        const qint64 length = Device.Length();
        EXPECT_GT(length, 0);
        EXPECT_LT(length, c.Time.count() * 3);
        EXPECT_EQ(Device.Position(), length);
        EXPECT_FALSE(Device.Save().Failed());

        const QByteArray file = ReadFile(path);
        ASSERT_GT(file.size(), WavPcmHeaderSize);
        EXPECT_EQ(file.left(4), "RIFF");
        EXPECT_EQ(U32At(file, 4), quint32(file.size() - 8));
        EXPECT_EQ(U16At(file, 20), 1);
        EXPECT_EQ(U16At(file, 22), c.Channels);
        EXPECT_EQ(U32At(file, 24), quint32(c.Rate));
        EXPECT_EQ(U16At(file, 34), c.Bits);
        EXPECT_EQ(U32At(file, 40), quint32(file.size() - WavPcmHeaderSize));
        const QByteArray data = file.mid(WavPcmHeaderSize);
        EXPECT_EQ(data, spoken.left(data.size()));
        Device.Close();
    }
}

TEST_F(WaveDeviceTest, RecordingInTheMiddleInsertsTheNewSoundThere)
{
    const QByteArray first = SignalBytes(22050 * 4, 1, 16, 22050);
    const QString path = NewWav("four.wav", 1, 22050, 16, first);
    const QByteArray spoken = OtherSignalBytes(22050 * 3, 1);
    Speak(spoken);
    ASSERT_TRUE(Device.Open(path));
    EXPECT_EQ(Device.Length(), 4000);
    RecordFor(2000, 1000ms);
    ASSERT_FALSE(Device.Save().Failed());

    const QByteArray data = ReadFile(path).mid(WavPcmHeaderSize);
    const qint64 half = 22050 * 2 * 2;
    const qint64 added = data.size() - first.size();
    EXPECT_GT(added, 0);
    EXPECT_LT(added, 22050 * 2 * 3);
    EXPECT_EQ(data.left(half), first.left(half));
    EXPECT_EQ(data.mid(half, added), spoken.left(added));
    EXPECT_EQ(data.mid(half + added), first.mid(half));
    EXPECT_EQ(Device.Position(), (half + added) / 2 * 1000 / 22050);
}

TEST_F(WaveDeviceFastTest, PlaysFromAPositionToTheEnd)
{
    const QByteArray sound = SignalBytes(44100 * 2, 2, 16, 44100);
    const QString path = NewWav("play.wav", 2, 44100, 16, sound);
    ASSERT_TRUE(Device.Open(path));
    const struct {
        qint64 From;
        qint64 Offset;
    } cases[] = {{0, 0}, {1000, 44100 * 4}, {1500, 66150 * 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.From);
        QFile::remove(Disk.File());
        QString error;
        ASSERT_TRUE(Device.Play(c.From, &error)) << error.toStdString();
        ASSERT_TRUE(WaitUntil([&] { return Device.Mode() == TDeviceMode::Stopped; }));
        EXPECT_EQ(Heard(Disk.Played()), sound.mid(c.Offset));
        EXPECT_EQ(Device.Position(), 2000);
    }
}

TEST_F(WaveDeviceTest, StopCutsPlaybackOffWhereItStands)
{
    const QString path = NewWav("long.wav", 1, 8000, 16, SignalBytes(8000 * 20, 1, 16, 8000));
    ASSERT_TRUE(Device.Open(path));
    ASSERT_TRUE(Device.Play(5000));
    EXPECT_EQ(Device.Mode(), TDeviceMode::Playing);
    std::this_thread::sleep_for(300ms);
    Device.Stop();
    EXPECT_EQ(Device.Mode(), TDeviceMode::Stopped);
    EXPECT_GE(Device.Position(), 5000);
    EXPECT_LT(Device.Position(), 19000);
}

TEST_F(WaveDeviceTest, AMicrophoneThatCannotBeOpenedFailsAtOnce)
{
    qputenv("SDL_DISKAUDIOFILEIN", QFile::encodeName(Home.File("no such folder/in.raw")));
    const QByteArray sound = SignalBytes(8000, 1, 16, 8000);
    ASSERT_TRUE(Device.Open(NewWav("a.wav", 1, 8000, 16, sound)));
    QString error;
    EXPECT_FALSE(Device.Record(-1, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(Device.Mode(), TDeviceMode::Stopped);
    EXPECT_EQ(Device.Sound(), sound);
}

TEST_F(WaveDeviceFastTest, RefusesFilesThatHoldNoPcmSound)
{
    const struct {
        const char* Name;
        QByteArray Bytes;
    } cases[] = {
        {"empty", {}},
        {"text", "hello, this is not sound at all, only words"},
        {"cut header", PcmWavHeader(2, 44100, 16, 0).left(30)},
        {"24 bits", MakePcmWav(2, 44100, 24, QByteArray(600, '\1'))},
        {"6 channels", MakePcmWav(6, 44100, 16, QByteArray(600, '\1'))},
        {"ima adpcm", ImaWavHeader(1, 22050, 256, 505, 256) + QByteArray(256, '\0')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString path = Home.File("bad.wav");
        WriteFile(path, c.Bytes);
        QString error;
        EXPECT_FALSE(Device.Open(path, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(Device.Mode(), TDeviceMode::Closed);
    }
    // A writer that stopped early leaves a data size past the end: the bytes
    // there are the sound.
    const QString cut = Home.File("cut.wav");
    WriteFile(cut, PcmWavHeader(1, 8000, 16, 16000) + QByteArray(1001, '\2'));
    ASSERT_TRUE(Device.Open(cut));
    EXPECT_EQ(Device.Sound().size(), 1000);
}

TEST_F(WaveDeviceFastTest, SaveNeverLeavesAHalfFileOrWritesThroughALink)
{
    const QByteArray sound = SignalBytes(8000, 1, 16, 8000);
    const QByteArray before = PcmWavHeader(1, 8000, 16, 4) + QByteArray(4, '\7');

    // A link in the opened file's place: its target stays as it was.
    const QString target = Home.File("elsewhere.wav");
    WriteFile(target, before);
    const QString link = Home.File("linked.wav");
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_TRUE(Device.Open(link));
    EXPECT_FALSE(Device.Save().Failed());
    EXPECT_EQ(ReadFile(target), before);
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    Device.Close();

    // A write-protected file is kept.
    const QString kept = NewWav("kept.wav", 1, 8000, 16, sound);
    ASSERT_TRUE(Device.Open(kept));
    ASSERT_EQ(chmod(QFile::encodeName(kept).constData(), 0444), 0);
    EXPECT_TRUE(Device.Save().Failed());
    EXPECT_EQ(ReadFile(kept).mid(WavPcmHeaderSize), sound);
    Device.Close();

    // A full disk: the file on the disk stays whole and no private file is
    // left beside it.
    const QString grown = NewWav("grow.wav", 1, 8000, 16, sound);
    ASSERT_TRUE(Device.Open(grown));
    const QByteArray old = PcmWavHeader(1, 8000, 16, 100) + QByteArray(100, '\3');
    WriteFile(grown, old);
    const auto entries = [&] {
        return QDir(Home.Path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    };
    const QStringList listed = entries();
    {
        TFileSizeLimit limit(WavPcmHeaderSize + 1000);
        const TFileError failed = Device.Save();
        EXPECT_EQ(failed.ErrorNumber(), EFBIG);
    }
    EXPECT_EQ(ReadFile(grown), old);
    EXPECT_EQ(entries(), listed);
}

} // namespace
