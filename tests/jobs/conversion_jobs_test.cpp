#include "codecs/encoder_process.h"
#include "codecs/vorbis_out.h"
#include "core/settings.h"
#include "job_test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <cerrno>

namespace {

using TOutcome = TJobEngine::TItemOutcome;
constexpr TOutcome Produced = TOutcome::Produced;
constexpr TOutcome Skipped = TOutcome::Skipped;
constexpr TOutcome Failed = TOutcome::Failed;

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Decodes an encoded file with FFmpeg and checks that both channels still hold
// their tones (440 Hz left, 880 Hz right): noise or a wrong rate would not.
void ExpectTones(const QString& path, int rate, double seconds)
{
    const TProbe probe = ProbeAudio(path);
    ASSERT_TRUE(probe.Valid) << qPrintable(path);
    EXPECT_EQ(probe.SampleRate, rate) << qPrintable(path);
    EXPECT_NEAR(probe.Duration, seconds, 0.15) << qPrintable(path);
    const std::vector<qint16> samples = DecodeWithFfmpeg(path, path + ".raw");
    QFile::remove(path + ".raw");
    ASSERT_FALSE(samples.empty()) << qPrintable(path);
    const int channels = probe.Channels;
    EXPECT_NEAR(CrossingsPerSecond(samples, channels, 0, rate), 880, 30) << qPrintable(path);
    if (channels == 2) {
        EXPECT_NEAR(CrossingsPerSecond(samples, channels, 1, rate), 1760, 60) << qPrintable(path);
    }
}

// Restores PATH when the test ends.
class TPathGuard {
public:
    TPathGuard() : Previous(qgetenv("PATH")) {}
    ~TPathGuard() { qputenv("PATH", Previous); }
    TPathGuard(const TPathGuard&) = delete;
    TPathGuard& operator=(const TPathGuard&) = delete;

private:
    QByteArray Previous;
};

} // namespace

TEST(ConversionJob, WavToMp3ResamplesSlowFilesThroughTheTemporaryFileAndEncodesOthersDirectly)
{
    TJobFixture f;
    const QString low = f.HomeFile("in/low.wav");
    const QString high = f.HomeFile("in/high.wav");
    WriteTone(low, 1.5, 22050);
    WriteTone(high, 1.5, 48000);
    const QString temp = f.Output("MyMP3ReTemp.wav");
    TWavFacts tempFacts;
    QObject::connect(f.Engine.get(), &TJobEngine::ItemEnded, [&](int index, TJobEngine::TItemOutcome) {
        if (index == 0)
            tempFacts = ReadWavFacts(temp);
    });

    ASSERT_TRUE(f.Run(TJobEngine::WavToMp3, {low, high}));
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced, Produced}));
    EXPECT_TRUE(f.Prompter.Messages().isEmpty()) << qPrintable(f.Prompter.Messages().join('|'));
    // The slow file went through a 44100 Hz copy of itself, deleted at the end.
    ASSERT_TRUE(tempFacts.Valid);
    EXPECT_EQ(tempFacts.SampleRate, 44100);
    EXPECT_EQ(tempFacts.BitsPerSample, 16);
    EXPECT_EQ(tempFacts.Channels, 2);
    EXPECT_NEAR(tempFacts.Frames, 1.5 * 44100, 2);
    EXPECT_FALSE(QFileInfo::exists(temp));
    ExpectTones(f.Output("low.mp3"), 44100, 1.5);
    ExpectTones(f.Output("high.mp3"), 48000, 1.5);
    EXPECT_EQ(FilesIn(AppSettings().OutputFolder), (QStringList{"high.mp3", "low.mp3"}));
    EXPECT_EQ(f.View.Captions, (QStringList{"Resampling(01/02): " + low, "Encoding(01/02): " + low,
                                            "Encoding(02/02): " + high}));
    EXPECT_EQ(f.View.GroupTitles, (QStringList{"Resampling WAV", "Encoding", "Encoding"}));
    EXPECT_EQ(f.View.CloseCount, 1);
}

TEST(ConversionJob, EightBitWavsAreWidenedBeforeResamplingAndOggEncoding)
{
    {
        TJobFixture f;
        const QString slow = f.HomeFile("in/slow8.wav");
        WriteTone(slow, 1.5, 22050, 2, 8);
        ASSERT_TRUE(f.Run(TJobEngine::WavToMp3, {slow}));
        EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced}));
        ExpectTones(f.Output("slow8.mp3"), 44100, 1.5);
    }
    {
        TJobFixture f;
        const QString slow = f.HomeFile("in/slow8.wav");
        const QString fast = f.HomeFile("in/fast8.wav");
        WriteTone(slow, 1.5, 22050, 2, 8);
        WriteTone(fast, 1.5, 44100, 2, 8);
        ASSERT_TRUE(f.Run(TJobEngine::WavToOgg, {slow, fast}));
        EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced, Produced}));
        EXPECT_TRUE(f.Prompter.Messages().isEmpty()) << qPrintable(f.Prompter.Messages().join('|'));
        ExpectTones(f.Output("slow8.ogg"), 44100, 1.5);
        ExpectTones(f.Output("fast8.ogg"), 44100, 1.5);
    }
}

TEST(ConversionJob, Mp3ToWavDecodesIntoTheOutputFolder)
{
    TJobFixture f;
    const QString wav = f.HomeFile("in/tone.wav");
    const QString mp3 = f.HomeFile("in/tone.mp3");
    WriteTone(wav, 2.0);
    ASSERT_EQ(RunProgram("lame", {"--quiet", "-b", "128", wav, mp3}).ExitCode, 0);
    ASSERT_TRUE(f.Run(TJobEngine::Mp3ToWav, {mp3}));
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced}));
    const TWavFacts facts = ReadWavFacts(f.Output("tone.wav"));
    ASSERT_TRUE(facts.Valid);
    EXPECT_EQ(facts.SampleRate, 44100);
    EXPECT_EQ(facts.Channels, 2);
    EXPECT_NEAR(facts.Frames, 2 * 44100, 2500);
    EXPECT_EQ(f.View.Captions, QStringList{"Decoding(01/01): " + mp3});
    EXPECT_EQ(f.View.GroupTitles, QStringList{"Decoding MP3 to WAV"});
}

TEST(ConversionJob, RecordingIsEncodedBesideItsWav)
{
    TJobFixture f;
    const QString recording = f.HomeFile("rec/a.wav");
    WriteTone(recording, 1.0);
    ASSERT_TRUE(f.Run(TJobEngine::RecorderToMp3, {recording}));
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced}));
    EXPECT_EQ(f.Engine->ResultFile(0), f.HomeFile("rec/a.mp3"));
    ExpectTones(f.HomeFile("rec/a.mp3"), 44100, 1.0);
    EXPECT_TRUE(FilesIn(AppSettings().OutputFolder).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(recording));
}

TEST(ConversionJob, WavToOggResamplesThroughItsTemporaryFile)
{
    TJobFixture f;
    const QString fast = f.HomeFile("in/fast.wav");
    const QString slow = f.HomeFile("in/slow.wav");
    WriteTone(fast, 1.5, 44100);
    WriteTone(slow, 1.0, 22050);
    ASSERT_TRUE(f.Run(TJobEngine::WavToOgg, {fast, slow}));
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced, Produced}));
    ExpectTones(f.Output("fast.ogg"), 44100, 1.5);
    ExpectTones(f.Output("slow.ogg"), 44100, 1.0);
    EXPECT_EQ(FilesIn(AppSettings().OutputFolder), (QStringList{"fast.ogg", "slow.ogg"}));
    EXPECT_EQ(f.View.Captions, (QStringList{"Encoding(01/02): " + fast, "Resampling(02/02): " + slow,
                                            "Encoding(02/02): " + slow}));
    EXPECT_EQ(f.View.GroupTitles, (QStringList{"Encoding WAV to OGG", "Resampling WAV", "Encoding"}));
    EXPECT_TRUE(f.View.GaugeTextVisible);
    EXPECT_EQ(f.View.GaugeValue, 100);
}

TEST(ConversionJob, WavToWmaEncodesEachFile)
{
    TJobFixture f;
    const QString a = f.HomeFile("in/a.wav");
    const QString b = f.HomeFile("in/b.wav");
    WriteTone(a, 1.5);
    WriteTone(b, 1.0);
    ASSERT_TRUE(f.Run(TJobEngine::WavToWma, {a, b}));
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced, Produced}));
    EXPECT_TRUE(f.Prompter.Messages().isEmpty()) << qPrintable(f.Prompter.Messages().join('|'));
    for (const auto& [name, seconds] : {std::pair{"a.wma", 1.5}, std::pair{"b.wma", 1.0}}) {
        const TProbe probe = ProbeAudio(f.Output(name));
        ASSERT_TRUE(probe.Valid) << name;
        EXPECT_EQ(probe.CodecName, "wmav2");
        EXPECT_NEAR(probe.Duration, seconds, 0.2);
    }
    EXPECT_EQ(f.View.GroupTitles, (QStringList{"Encoding WAV to WMA", "Encoding"}));
    EXPECT_FALSE(f.Engine->WmaTimerActive());
}

TEST(ConversionJob, DecliningToOverwriteSkipsTheFileSilently)
{
    TJobFixture f;
    const QString a = f.HomeFile("in/a.wav");
    const QString b = f.HomeFile("in/b.wav");
    WriteTone(a, 1.0);
    WriteTone(b, 1.0);
    f.Cd.Home.Write("Output/a.mp3", "the user's own file");
    f.Prompter.QueueAnswer(TPrompter::TAnswer::No);
    ASSERT_TRUE(f.Run(TJobEngine::WavToMp3, {a, b}));
    EXPECT_TRUE(f.Prompter.ScriptUsedUp());
    EXPECT_TRUE(f.Prompter.Messages().isEmpty());
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Skipped, Produced}));
    EXPECT_EQ(ReadBytes(f.Output("a.mp3")), "the user's own file");
    ExpectTones(f.Output("b.mp3"), 44100, 1.0);
}

TEST(ConversionJob, AConversionOntoItsOwnInputIsRefusedAndTheInputKept)
{
    {
        // A WAV file named .mp3 in the output folder would be its own output.
        TJobFixture f;
        const QString self = f.Output("song.mp3");
        const QString other = f.HomeFile("in/other.wav");
        WriteTone(self, 1.0);
        WriteTone(other, 1.0);
        const QByteArray before = ReadBytes(self);
        ASSERT_TRUE(f.Run(TJobEngine::WavToMp3, {self, other}));
        EXPECT_EQ(f.Prompter.Messages(), QStringList{self + "\nPlease check the output directory setting."});
        EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Failed, Produced}));
        EXPECT_TRUE(ReadBytes(self) == before);
    }
    {
        // A slow WAV that is the resampling's own temporary file.
        TJobFixture f;
        const QString self = f.Output("MyReTemp.wav");
        WriteTone(self, 1.0, 22050);
        const QByteArray before = ReadBytes(self);
        ASSERT_TRUE(f.Run(TJobEngine::WavToOgg, {self}));
        EXPECT_EQ(f.Prompter.Messages(), QStringList{self + "\nPlease check the output directory setting."});
        EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Failed}));
        EXPECT_TRUE(ReadBytes(self) == before);
        EXPECT_FALSE(QFileInfo::exists(f.Output("MyReTemp.ogg")));
    }
    {
        // The same file reached through a link: the WAV in the input folder is
        // a link to a file in the output folder that has the result's name.
        TJobFixture f;
        const QString target = f.Output("linked.mp3");
        const QString link = f.HomeFile("in/linked.wav");
        WriteTone(target, 1.0);
        QDir().mkpath(f.HomeFile("in"));
        ASSERT_TRUE(QFile::link(target, link));
        const QByteArray before = ReadBytes(target);
        ASSERT_TRUE(f.Run(TJobEngine::WavToMp3, {link}));
        EXPECT_EQ(f.Prompter.Messages(), QStringList{link + "\nPlease check the output directory setting."});
        EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Failed}));
        EXPECT_TRUE(ReadBytes(target) == before);
    }
}

TEST(ConversionJob, APipelineFailingWhileItRunsFailsItsItemAndTheJobGoesOn)
{
    TJobFixture f;
    const QString big = f.HomeFile("in/big.wav");
    const QString small = f.HomeFile("in/small.wav");
    WriteTone(big, 20.0);
    WriteTone(small, 1.0);
    {
        // The disk fills up during the first file; the second one fits.
        TFileSizeLimit limit(64 * 1024);
        ASSERT_TRUE(f.Run(TJobEngine::WavToOgg, {big, small}));
    }
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Failed, Produced}));
    ASSERT_EQ(f.Prompter.Messages().size(), 1);
    EXPECT_TRUE(
        f.Prompter.Messages().front().startsWith("Error while saving sound file!\n" + f.Output("big.ogg")))
        << qPrintable(f.Prompter.Messages().front());
    ExpectTones(f.Output("small.ogg"), 44100, 1.0);
}

TEST(ConversionJob, AVorbisModeTheEncoderRefusesFailsThatItemOnly)
{
    TJobFixture f;
    const QString mono = f.HomeFile("in/mono.wav");
    const QString stereo = f.HomeFile("in/stereo.wav");
    WriteTone(mono, 1.0, 44100, 1);
    WriteTone(stereo, 1.0);
    AppSettings().OggUseQuality = false;
    AppSettings().OggNominalBitRate = br320;
    ASSERT_TRUE(f.Run(TJobEngine::WavToOgg, {mono, stereo}));
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Failed, Produced}));
    ASSERT_EQ(f.Prompter.Messages().size(), 1);
    EXPECT_TRUE(f.Prompter.Messages().front().contains("does not support"))
        << qPrintable(f.Prompter.Messages()[0]);
    EXPECT_FALSE(QFileInfo::exists(f.Output("mono.ogg")));
    ExpectTones(f.Output("stereo.ogg"), 44100, 1.0);
}

TEST(ConversionJob, StopEndsARunningPipelineAndRemovesTheTemporaryFile)
{
    {
        TJobFixture f;
        const QString slow = f.HomeFile("in/slow.wav");
        WriteTone(slow, 120.0, 22050);
        bool progressed = false;
        f.View.OnGauge = [&](int percent) { progressed = progressed || percent > 0; };
        ASSERT_TRUE(f.Run(TJobEngine::WavToOgg, {slow}, [&] { return progressed; }));
        EXPECT_EQ(f.View.CloseCount, 1);
        EXPECT_TRUE(f.Engine->Finished());
        EXPECT_FALSE(QFileInfo::exists(f.Output("MyReTemp.wav")));
        EXPECT_TRUE(f.Prompter.Messages().isEmpty());
    }
    {
        TJobFixture f;
        const QString long_ = f.HomeFile("in/long.wav");
        WriteTone(long_, 120.0);
        bool progressed = false;
        f.View.OnGauge = [&](int percent) { progressed = progressed || percent > 0; };
        ASSERT_TRUE(f.Run(TJobEngine::WavToOgg, {long_}, [&] { return progressed; }));
        EXPECT_EQ(f.View.CloseCount, 1);
        EXPECT_TRUE(f.Ended.empty());
        // The Ogg file is closed cleanly with what was encoded.
        const TProbe probe = ProbeAudio(f.Output("long.ogg"));
        ASSERT_TRUE(probe.Valid);
        EXPECT_EQ(probe.CodecName, "vorbis");
        EXPECT_LT(probe.Duration, 120.0);
    }
}

TEST(ConversionJob, AnEncoderThatCannotStartFailsStartOrLeavesTheJobStanding)
{
    TPathGuard path;
    {
        TJobFixture f;
        const QString a = f.HomeFile("in/a.wav");
        WriteTone(a, 1.0);
        qputenv("PATH", QFile::encodeName(f.HomeFile("empty")));
        try {
            f.Engine->Start(TJobEngine::WavToMp3, 0, {a});
            ADD_FAILURE() << "no error raised";
        } catch (const EEncoderError& error) {
            EXPECT_EQ(error.ErrorNumber(), ENOENT);
        }
        EXPECT_TRUE(f.Engine->Finished());
        EXPECT_EQ(f.View.CloseCount, 0);
        EXPECT_FALSE(f.Mp3.Running);
    }
    {
        TJobFixture f;
        const QString a = f.HomeFile("in/a.wav");
        const QString b = f.HomeFile("in/b.wav");
        WriteTone(a, 1.0);
        WriteTone(b, 1.0);
        const QByteArray previous = qgetenv("PATH");
        f.Engine->Start(TJobEngine::WavToMp3, 0, {a, b});
        // The first file's encoder runs; the second cannot be started.
        qputenv("PATH", QFile::encodeName(f.HomeFile("empty")));
        ASSERT_TRUE(f.Pump([&] { return !f.StandingReasons.isEmpty(); }));
        const QString reason = "Error while creating mp3 encoding process!" + QString::number(ENOENT);
        EXPECT_EQ(f.StandingReasons, QStringList{reason});
        EXPECT_EQ(f.Prompter.Messages(), QStringList{reason});
        EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced}));
        EXPECT_EQ(f.View.CloseCount, 0);
        qputenv("PATH", previous);
        f.Engine->Stop();
        EXPECT_EQ(f.View.CloseCount, 1);
        EXPECT_TRUE(f.Engine->Finished());
    }
}
