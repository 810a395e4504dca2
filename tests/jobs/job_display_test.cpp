#include "core/language.h"
#include "core/messages.h"
#include "core/settings.h"
#include "job_test_support.h"
#include "jobs/track_items.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;

namespace {

using TOutcome = TJobEngine::TItemOutcome;

// A job engine whose WMA estimate runs on a clock the test moves.
struct TWmaEstimate {
    TJobFixture F;
    TClock::time_point Clock = Now();
    QString Source;

    TWmaEstimate()
    {
        F.Engine->SetClock([this] { return Clock; });
    }

    void Start(double seconds)
    {
        Source = F.HomeFile("in/source.wav");
        WriteTone(Source, seconds);
        F.Engine->Start(TJobEngine::WavToWma, 0, {Source});
    }
    // One timer tick, s seconds after the start.
    void TickAt(int s)
    {
        Clock = StartTime + std::chrono::seconds(s);
        F.Engine->WmaTimerTick();
    }
    TClock::time_point StartTime = Clock;
};

// Posts a report to the engine as a worker would and delivers it.
void Report(TJobEngine& engine, int percent, const QString& elapsed, const QString& estimated)
{
    PostProcessInfo(&engine, percent, elapsed, estimated);
    QCoreApplication::sendPostedEvents(&engine);
}

// A language file that gives every message a marked text.
void WriteMarkedLanguage(const TJobFixture& f)
{
    QByteArray text = "[ResourceString]\n";
    for (const TResString& res : AllResStrings())
        text += QByteArray(res.Key) +
                "=\"T:" + QByteArray(res.Text).replace("\r", "\\r").replace("\n", "\\n") + "\"\n";
    f.Cd.Home.Write("CLan_Test.ini", text);
    AppSettings().Language = "Test";
}

} // namespace

TEST(JobProgress, ReportsSetTheTimesAndTheGaugeWhichAnEmptyReportLeaves)
{
    TJobFixture f;
    // Without a drive the extraction cannot start: the job stands, and only
    // the reports below reach the view.
    f.Engine->Start(TJobEngine::Extract, 0, {"01A"});
    ASSERT_TRUE(f.Pump([&] { return !f.StandingReasons.isEmpty(); }));
    EXPECT_TRUE(f.View.InitializingVisible);
    EXPECT_FALSE(f.View.GaugeTextVisible);

    Report(*f.Engine, 40, "00:04", "00:10");
    EXPECT_EQ(f.View.Elapsed, "00:04");
    EXPECT_EQ(f.View.Estimated, "00:10");
    EXPECT_EQ(f.View.GaugeValue, 40);
    EXPECT_TRUE(f.View.GaugeTextVisible);
    EXPECT_FALSE(f.View.InitializingVisible);

    Report(*f.Engine, 0, "", "");
    EXPECT_EQ(f.View.Elapsed, "");
    EXPECT_EQ(f.View.Estimated, "");
    EXPECT_EQ(f.View.GaugeValue, 40);

    Report(*f.Engine, 150, "00:05", "00:05");
    EXPECT_EQ(f.View.GaugeValue, 100);
    f.Engine->Stop();
    // Reports that arrive after the end change nothing.
    Report(*f.Engine, 70, "00:07", "00:08");
    EXPECT_EQ(f.View.Elapsed, "00:05");
    EXPECT_EQ(f.View.GaugeValue, 100);
}

TEST(WmaEstimate, SmallFileEstimatesTwoSecondsThenOneMoreThanElapsed)
{
    TWmaEstimate w;
    w.Start(6.0); // 1058444 bytes
    ASSERT_TRUE(w.F.Engine->WmaTimerActive());
    EXPECT_EQ(w.F.View.GaugeValue, 0);
    QStringList estimates;
    std::vector<int> gauges;
    for (int s = 1; s <= 5; ++s) {
        w.TickAt(s);
        EXPECT_EQ(w.F.View.Elapsed, TimeText(s));
        estimates.append(w.F.View.Estimated);
        gauges.push_back(w.F.View.GaugeValue);
    }
    EXPECT_EQ(estimates, (QStringList{"00:02", "00:03", "00:04", "00:05", "00:06"}));
    EXPECT_EQ(gauges, (std::vector<int>{50, 67, 75, 80, 83}));
    EXPECT_TRUE(w.F.View.GaugeTextVisible);
    // The bar never moves back during the step.
    w.F.View.GaugeValue = 95;
    w.TickAt(6);
    EXPECT_EQ(w.F.View.GaugeValue, 95);

    ASSERT_TRUE(w.F.Pump({}));
    EXPECT_EQ(w.F.Outcomes(), (std::vector<TOutcome>{TOutcome::Produced}));
    EXPECT_FALSE(w.F.Engine->WmaTimerActive());
}

TEST(WmaEstimate, LargeFileEstimatesFromTheOutputGrowth)
{
    TWmaEstimate w;
    const QString output = w.F.Output("source.wma");
    qint64 written = 573657;
    w.F.Engine->SetFileSizeSource([&](const QString& path) {
        if (path.endsWith("source.wav"))
            return qint64(50000000);
        return path == output ? written : FileSizeOf(path);
    });
    AppSettings().WmaSetting = 8;
    w.Start(1.0);
    // 50 MB at 21790 gives 2294631 bytes; a quarter is there after 10 s.
    w.TickAt(10);
    EXPECT_EQ(w.F.View.Elapsed, "00:10");
    EXPECT_EQ(w.F.View.Estimated, "00:40");
    EXPECT_EQ(w.F.View.GaugeValue, 25);
    // More written than expected: the output so far is the better guess.
    written = 3000000;
    w.TickAt(20);
    EXPECT_EQ(w.F.View.Estimated, "00:21");
    EXPECT_EQ(w.F.View.GaugeValue, 95);
    ASSERT_TRUE(w.F.Pump({}));
}

TEST(WmaEstimate, SettingOutsideTheListIsResetAndNothingWrittenGivesNoEstimate)
{
    TWmaEstimate w;
    const QString output = w.F.Output("source.wma");
    qint64 written = -1;
    w.F.Engine->SetFileSizeSource([&](const QString& path) {
        if (path.endsWith("source.wav"))
            return qint64(50000000);
        return path == output ? written : FileSizeOf(path);
    });
    w.Start(1.0);
    AppSettings().WmaSetting = 40;
    w.TickAt(3);
    EXPECT_EQ(AppSettings().WmaSetting, 8);
    EXPECT_EQ(w.F.View.Elapsed, "00:03");
    EXPECT_EQ(w.F.View.Estimated, "");
    EXPECT_EQ(w.F.View.GaugeValue, 0);
    written = 573657;
    w.TickAt(10);
    EXPECT_EQ(w.F.View.Estimated, "00:40");
    ASSERT_TRUE(w.F.Pump({}));
}

TEST(TrackItems, TitlesBecomeDistinctUsableFileNames)
{
    EXPECT_EQ(ItemTrack("07Song"), 7);
    EXPECT_EQ(ItemTitle("07Song"), "Song");
    EXPECT_EQ(ItemTrack("xxSong"), 0);
    const QStringList items{"01Song", "02SONG",    "03song (2)", "04",     "05  ",
                            "06..",   "07.hidden", "08a:b",      "09Song", "10 .ok"};
    const QStringList safe = SafeTrackItems(items);
    EXPECT_EQ(safe, (QStringList{"01Song", "02SONG (2)", "03song (2) (2)", "04Track04", "05Track05",
                                 "06Track06", "07Track07", "08ab", "09Song (3)", "10 .ok"}));
    // Safe items stay as they are, so the engine may check a list again.
    EXPECT_EQ(SafeTrackItems(safe), safe);
}

TEST(JobTranslation, EveryTextTheEngineShowsComesFromTheLanguageFile)
{
    QStringList messages;
    QStringList titles;
    {
        TJobFixture f;
        WriteMarkedLanguage(f);
        qputenv("VELBROOK_UNREADABLE_SECTORS", "10");
        f.UseDisc({0.5, 0.5});
        AppSettings().OutputFormat = 0;
        ASSERT_TRUE(f.Run(TJobEngine::Extract, {"01A", "02B"}));
        EXPECT_EQ(f.Prompter.Messages(), QStringList{"T:Error while reading CD information!"});
        EXPECT_EQ(f.View.InitializingTexts, (QStringList{"T:Initializing...", "T:Initializing..."}));
        messages += f.Prompter.Messages();
        titles += f.View.GroupTitles;
    }
    {
        TJobFixture f;
        WriteMarkedLanguage(f);
        qputenv("VELBROOK_FAILING_CD_CALLS", "ReadTOC");
        f.UseDisc({0.5});
        ASSERT_TRUE(f.Run(TJobEngine::Extract, {"01A"}, [&] { return !f.StandingReasons.isEmpty(); }));
        EXPECT_EQ(f.StandingReasons, QStringList{"T:Error while reading TOC information!"});
        messages += f.Prompter.Messages();
    }
    {
        TJobFixture f;
        WriteMarkedLanguage(f);
        const QString self = f.Output("self.mp3");
        const QString slow = f.HomeFile("in/slow.wav");
        const QString fast = f.HomeFile("in/fast.wav");
        WriteTone(self, 0.5);
        WriteTone(slow, 0.5, 22050);
        WriteTone(fast, 0.5);
        ASSERT_TRUE(f.Run(TJobEngine::WavToMp3, {self, slow, fast}));
        EXPECT_EQ(f.Prompter.Messages(),
                  QStringList{self + "\nT:Please check the output directory setting."});
        messages += f.Prompter.Messages();
        titles += f.View.GroupTitles;
    }
    for (const auto& [kind, name] :
         {std::pair{TJobEngine::Mp3ToWav, "in/x.mp3"}, std::pair{TJobEngine::WavToOgg, "in/x.wav"},
          std::pair{TJobEngine::WavToWma, "in/x.wav"}}) {
        TJobFixture f;
        WriteMarkedLanguage(f);
        const QString wav = f.HomeFile("in/x.wav");
        WriteTone(wav, 0.5);
        if (kind == TJobEngine::Mp3ToWav) {
            ASSERT_EQ(RunProgram("lame", {"--quiet", wav, f.HomeFile(name)}).ExitCode, 0);
        }
        ASSERT_TRUE(f.Run(kind, {f.HomeFile(name)}));
        messages += f.Prompter.Messages();
        titles += f.View.GroupTitles;
    }
    EXPECT_EQ(titles, (QStringList{"T:Extracting", "T:Extracting", "T:Encoding", "T:Encoding WAV to MP3",
                                   "T:Resampling WAV", "T:Encoding", "T:Encoding", "T:Decoding MP3 to WAV",
                                   "T:Encoding WAV to OGG", "T:Encoding WAV to WMA"}));
    for (const QString& message : messages)
        EXPECT_TRUE(message.contains("T:")) << qPrintable(message);
}
