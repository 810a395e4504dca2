#include "codecs/vorbis_out.h"
#include "core/settings.h"
#include "job_test_support.h"

#include <QFileInfo>
#include <gtest/gtest.h>

// WAV to Ogg Vorbis jobs: the resampling and Ogg pipelines, their worker
// threads and their failures, under the sanitizers, ThreadSanitizer included.

namespace {

using TOutcome = TJobEngine::TItemOutcome;
constexpr TOutcome Produced = TOutcome::Produced;
constexpr TOutcome Failed = TOutcome::Failed;

} // namespace

TEST(PipelineJob, WavToOggResamplesThroughItsTemporaryFile)
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

TEST(PipelineJob, EightBitWavsAreWidenedBeforeResamplingAndOggEncoding)
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

TEST(PipelineJob, ResamplingBesideAFileOfTheTemporaryNameUsesAnotherName)
{
    {
        // A slow WAV that has the resampling's temporary name.
        TJobFixture f;
        const QString self = f.Output("MyReTemp.wav");
        WriteTone(self, 1.0, 22050);
        const QByteArray before = ReadBytes(self);
        ASSERT_TRUE(f.Run(TJobEngine::WavToOgg, {self}));
        EXPECT_TRUE(f.Prompter.Messages().isEmpty()) << qPrintable(f.Prompter.Messages().join('\n'));
        EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced}));
        EXPECT_TRUE(ReadBytes(self) == before);
        ExpectTones(f.Output("MyReTemp.ogg"), 44100, 1.0);
        EXPECT_EQ(FilesIn(AppSettings().OutputFolder), (QStringList{"MyReTemp.ogg", "MyReTemp.wav"}));
    }
    {
        // An earlier file of the job has the temporary file's name.
        TJobFixture f;
        const QString early = f.Output("MyReTemp.wav");
        const QString slow = f.HomeFile("in/slow.wav");
        WriteTone(early, 1.0);
        WriteTone(slow, 1.0, 22050);
        const QByteArray before = ReadBytes(early);
        ASSERT_TRUE(f.Run(TJobEngine::WavToOgg, {early, slow}));
        EXPECT_TRUE(f.Prompter.Messages().isEmpty()) << qPrintable(f.Prompter.Messages().join('\n'));
        EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced, Produced}));
        EXPECT_TRUE(ReadBytes(early) == before);
        ExpectTones(f.Output("MyReTemp.ogg"), 44100, 1.0);
        ExpectTones(f.Output("slow.ogg"), 44100, 1.0);
        EXPECT_EQ(FilesIn(AppSettings().OutputFolder),
                  (QStringList{"MyReTemp.ogg", "MyReTemp.wav", "slow.ogg"}));
    }
}

TEST(PipelineJob, APipelineFailingWhileItRunsFailsItsItemAndTheJobGoesOn)
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
    // The system's reason, not a cut-off file that looks complete.
    EXPECT_TRUE(f.Prompter.Messages().front().endsWith("File too large"))
        << qPrintable(f.Prompter.Messages()[0]);
    EXPECT_EQ(FilesIn(AppSettings().OutputFolder), QStringList{"small.ogg"});
    ExpectTones(f.Output("small.ogg"), 44100, 1.0);
}

TEST(PipelineJob, AFileThePipelineCannotReadFailsItsItemEvenFirst)
{
    TJobFixture f;
    const QString bad = f.HomeFile("in/bad.wav");
    const QString good = f.HomeFile("in/good.wav");
    f.Cd.Home.Write("in/bad.wav", QByteArray("RIFF....WAVEjunk") + QByteArray(4000, 'x'));
    WriteTone(good, 1.0, 22050);
    // Not a WAV file: its rate reads as 0, so it goes to the resampler, which
    // refuses it when it starts. Start itself raises nothing.
    ASSERT_TRUE(f.Run(TJobEngine::WavToOgg, {bad, good}));
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Failed, Produced}));
    ASSERT_EQ(f.Prompter.Messages().size(), 1);
    EXPECT_TRUE(f.Prompter.Messages().front().startsWith("Error while saving sound file!\n" +
                                                         f.Output("bad.ogg") + "\n"))
        << qPrintable(f.Prompter.Messages().front());
    EXPECT_FALSE(QFileInfo::exists(f.Output("bad.ogg")));
    EXPECT_FALSE(QFileInfo::exists(f.Output("MyReTemp.wav")));
    ExpectTones(f.Output("good.ogg"), 44100, 1.0);
}

TEST(PipelineJob, AVorbisModeTheEncoderRefusesFailsThatItemOnly)
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

TEST(PipelineJob, StopEndsARunningPipelineAndRemovesItsUnfinishedFiles)
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
        // A cut-off Ogg file would look complete: nothing of it stays.
        EXPECT_EQ(FilesIn(AppSettings().OutputFolder), QStringList{});
    }
}
