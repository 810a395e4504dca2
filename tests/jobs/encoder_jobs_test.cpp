#include "cd/cd_rip_thread.h"
#include "codecs/encoder_process.h"
#include "codecs/genre_list.h"
#include "codecs/id3_tag.h"
#include "core/disc_info.h"
#include "core/language.h"
#include "core/settings.h"
#include "job_test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <sys/stat.h>

// Jobs that run the real MP3 and WMA encoder programs. The engine starts them
// with QProcess, which ThreadSanitizer cannot follow, so these run in a program
// of their own under AddressSanitizer and UndefinedBehaviorSanitizer only.

namespace {

using TOutcome = TJobEngine::TItemOutcome;
constexpr TOutcome Produced = TOutcome::Produced;
constexpr TOutcome Skipped = TOutcome::Skipped;
constexpr TOutcome Failed = TOutcome::Failed;

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

TEST(EncoderJob, EncodesEveryTrackToATaggedMp3AndRemovesTheWavFiles)
{
    TJobFixture f;
    f.UseDisc({2.0, 1.5});
    AppSettings().OutputFormat = 0;
    AppSettings().UseId3 = true;
    DiscInfo().Artist = "The Artist";
    DiscInfo().Album = "An Album";
    DiscInfo().Year = "2001";
    DiscInfo().Genre = 5;
    DiscInfo().Comment = "Made here";
    int endedAtClose = -1;
    f.View.OnClose = [&] { endedAtClose = static_cast<int>(f.Ended.size()); };

    ASSERT_TRUE(f.Run(TJobEngine::Extract, {"01First", "02Second"}));
    EXPECT_EQ(f.View.CloseCount, 1);
    EXPECT_EQ(endedAtClose, 2);
    EXPECT_TRUE(f.Prompter.Messages().isEmpty()) << qPrintable(f.Prompter.Messages().join('|'));
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced, Produced}));
    EXPECT_TRUE(f.Engine->Finished());
    EXPECT_EQ(f.Engine->ResultFile(1), f.Output("Second.mp3"));

    ExpectDecodable(f.Output("First.mp3"), "mp3", 2.0);
    ExpectDecodable(f.Output("Second.mp3"), "mp3", 1.5);
    const QStringList titles{"First", "Second"};
    for (int i = 0; i < 2; ++i) {
        Tid3tag tag;
        ASSERT_LT(tag.ReadTag(f.Output(titles[i] + ".mp3")), 256);
        EXPECT_EQ(tag.Title, titles[i]);
        EXPECT_EQ(tag.Artist, "The Artist");
        EXPECT_EQ(tag.Album, "An Album");
        EXPECT_EQ(tag.Year, "2001");
        EXPECT_EQ(tag.Comment, "Made here");
        EXPECT_EQ(tag.Genre, GenreFromListIndex(5));
        EXPECT_TRUE(tag.HasTrack);
        EXPECT_EQ(tag.Track, i + 1);
    }
    EXPECT_EQ(FilesIn(AppSettings().OutputFolder), (QStringList{"First.mp3", "Second.mp3"}));
    EXPECT_EQ(f.View.Captions, (QStringList{"Extracting(01/02): First", "Encoding(01/02): First",
                                            "Extracting(02/02): Second", "Encoding(02/02): Second"}));
    EXPECT_EQ(f.View.GroupTitles, (QStringList{"Extracting", "Encoding", "Extracting", "Encoding"}));
    EXPECT_EQ(f.View.InitializingTexts, (QStringList{"Initializing...", "Initializing..."}));
    EXPECT_FALSE(f.Mp3.Running);
}

TEST(EncoderJob, ExtractionToWmaEncodesEachTrackAndRemovesTheWavFiles)
{
    TJobFixture f;
    f.UseDisc({1.5, 1.0});
    AppSettings().OutputFormat = 3;
    ASSERT_TRUE(f.Run(TJobEngine::Extract, {"01One", "02Two"}));
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced, Produced}));
    EXPECT_TRUE(f.Prompter.Messages().isEmpty()) << qPrintable(f.Prompter.Messages().join('|'));
    const TProbe probe = ProbeAudio(f.Output("One.wma"));
    ASSERT_TRUE(probe.Valid);
    EXPECT_EQ(probe.CodecName, "wmav2");
    EXPECT_NEAR(probe.Duration, 1.5, 0.2);
    EXPECT_EQ(FilesIn(AppSettings().OutputFolder), (QStringList{"One.wma", "Two.wma"}));
    EXPECT_FALSE(f.Engine->WmaTimerActive());
}

TEST(EncoderJob, UnreadableSecondTrackIsSkippedAndTheOthersAreEncoded)
{
    TJobFixture f;
    // Sector 100 lies in the second of five one-second tracks.
    qputenv("VELBROOK_UNREADABLE_SECTORS", "100");
    f.UseDisc({1, 1, 1, 1, 1});
    AppSettings().OutputFormat = 0;
    int endedAtClose = -1;
    f.View.OnClose = [&] { endedAtClose = static_cast<int>(f.Ended.size()); };

    ASSERT_TRUE(f.Run(TJobEngine::Extract, {"01A", "02B", "03C", "04D", "05E"}));
    EXPECT_EQ(f.Prompter.Messages(), (QStringList{"Error while reading CD information!"}));
    EXPECT_EQ(f.Prompter.Calls().front().Icon, TPrompter::TIcon::Error);
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced, Skipped, Produced, Produced, Produced}));
    EXPECT_EQ(endedAtClose, 5);
    EXPECT_EQ(f.View.CloseCount, 1);
    EXPECT_FALSE(QFileInfo::exists(f.Output("B.mp3")));
    for (const char* name : {"A", "C", "D", "E"})
        ExpectDecodable(f.Output(QString(name) + ".mp3"), "mp3", 1.0);
    // What was read of the damaged track stays, behind a header of length 0,
    // so neither a player nor a later run takes it for a whole track.
    EXPECT_EQ(FilesIn(AppSettings().OutputFolder),
              (QStringList{"A.mp3", "B.wav", "C.mp3", "D.mp3", "E.mp3"}));
    EXPECT_EQ(ReadBytes(f.Output("B.wav")).mid(40, 4), QByteArray(4, '\0'));
}

TEST(EncoderJob, StopAfterTwoOfFiveTracksKeepsTheirWavAndMp3Files)
{
    TJobFixture f;
    f.UseDisc({1, 1, 1, 1, 1});
    AppSettings().OutputFormat = 0;
    // Stop as soon as the second track is done, before the third begins.
    QObject::connect(f.Engine.get(), &TJobEngine::ItemEnded, [&](int index, TJobEngine::TItemOutcome) {
        if (index == 1)
            f.Engine->Stop();
    });
    ASSERT_TRUE(f.Run(TJobEngine::Extract, {"01A", "02B", "03C", "04D", "05E"}));
    EXPECT_EQ(f.View.CloseCount, 1);
    EXPECT_TRUE(f.Engine->Finished());
    EXPECT_EQ(f.Ended.size(), 2u);
    EXPECT_EQ(FilesIn(AppSettings().OutputFolder), (QStringList{"A.mp3", "A.wav", "B.mp3", "B.wav"}));
    // Nothing happens after the stop.
    PumpEvents(300);
    EXPECT_EQ(f.View.CloseCount, 1);
    EXPECT_EQ(FilesIn(AppSettings().OutputFolder).size(), 4);
}

TEST(EncoderJob, TagsFollowTheId3SettingAndGenreNoneIs255)
{
    {
        TJobFixture f;
        f.UseDisc({1});
        AppSettings().OutputFormat = 0;
        AppSettings().UseId3 = false;
        DiscInfo().Artist = "Someone";
        ASSERT_TRUE(f.Run(TJobEngine::Extract, {"01Plain"}));
        ASSERT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced}))
            << qPrintable(f.Prompter.Messages().join('|'));
        EXPECT_FALSE(HasId3Block(f.Output("Plain.mp3")));
    }
    {
        // Only the seventh track of the disc, whose number goes to the tag.
        TJobFixture f;
        f.UseDisc({0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 1});
        AppSettings().OutputFormat = 0;
        AppSettings().UseId3 = true;
        DiscInfo().Genre = -1;
        ASSERT_TRUE(f.Run(TJobEngine::Extract, {"07Tagged"}));
        ASSERT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced}));
        const QByteArray bytes = ReadBytes(f.Output("Tagged.mp3"));
        ASSERT_TRUE(HasId3Block(f.Output("Tagged.mp3")));
        EXPECT_EQ(static_cast<quint8>(bytes.back()), 255);
        Tid3tag tag;
        ASSERT_LT(tag.ReadTag(f.Output("Tagged.mp3")), 256);
        EXPECT_EQ(tag.Genre, 255);
        EXPECT_EQ(tag.Title, "Tagged");
        EXPECT_EQ(tag.Track, 7);
    }
}

TEST(EncoderJob, DiskFillingUpDuringEncodingKeepsTheWavAndWritesNoTag)
{
    TJobFixture f;
    f.UseDisc({3});
    AppSettings().OutputFormat = 0;
    AppSettings().UseId3 = true;
    AppSettings().KeepWav = false;
    DiscInfo().Artist = "Someone";
    // The encoder inherits a file-size limit it meets after a few kilobytes:
    // its writes then fail with EFBIG, as on a full disk. The limit is lifted
    // again as soon as the encoder has been started.
    std::unique_ptr<TFileSizeLimit> limit;
    f.View.OnGroupTitle = [&](const QString& title) {
        if (title != "Encoding")
            return;
        limit = std::make_unique<TFileSizeLimit>(16 * 1024);
        QTimer::singleShot(0, [&] { limit.reset(); });
    };
    ASSERT_TRUE(f.Run(TJobEngine::Extract, {"01Full"}));
    EXPECT_FALSE(limit);
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Failed}));
    // What failed, the file, and what the encoder said.
    ASSERT_EQ(f.Prompter.Messages().size(), 1);
    EXPECT_TRUE(
        f.Prompter.Messages()[0].startsWith("Create MP3 file error!\r\nPlease check the output and lame "
                                            "options or run application again.\n" +
                                            f.Output("Full.mp3") + "\n"))
        << qPrintable(f.Prompter.Messages()[0]);
    EXPECT_TRUE(f.Prompter.Messages()[0].contains("lame said: Error writing mp3 output"))
        << qPrintable(f.Prompter.Messages()[0]);
    // The WAV file is the only good copy of the track: it stays, whole; no
    // cut-off MP3 file stands beside it.
    EXPECT_TRUE(ReadBytes(f.Output("Full.wav")) == ExpectedWav(f, 0, 225));
    EXPECT_EQ(FilesIn(AppSettings().OutputFolder), QStringList{"Full.wav"});
}

TEST(EncoderJob, StopDuringEncodingLeavesNoUnfinishedFile)
{
    for (const int kind : {TJobEngine::WavToMp3, TJobEngine::WavToWma, TJobEngine::Mp3ToWav}) {
        SCOPED_TRACE(kind);
        TJobFixture f;
        const QString wav = f.HomeFile("in/long.wav");
        WriteTone(wav, 120.0);
        QString input = wav;
        if (kind == TJobEngine::Mp3ToWav) {
            ASSERT_EQ(RunTool("lame", {"--silent", "-b", "64", wav, f.HomeFile("in/long.mp3")}).ExitCode, 0);
            input = f.HomeFile("in/long.mp3");
        }
        // Stopped once the encoder has written part of its file.
        ASSERT_TRUE(f.Run(kind, {input}, [&] {
            const QString written =
                kind == TJobEngine::WavToWma ? f.Wma.ProgramOutputFile() : f.Mp3.ProgramOutputFile();
            return FileSizeOf(written) > 20000;
        }));
        EXPECT_EQ(f.View.CloseCount, 1);
        EXPECT_TRUE(f.Ended.empty());
        EXPECT_EQ(FilesIn(AppSettings().OutputFolder), QStringList{});
    }
}

TEST(EncoderJob, ReadOnlyResultsAreLeftAloneWithoutAQuestion)
{
    TJobFixture f;
    const QString a = f.HomeFile("in/a.wav");
    WriteTone(a, 1.0);
    f.Cd.Home.Write("Output/a.mp3", "kept as it is");
    ::chmod(QFile::encodeName(f.Output("a.mp3")).constData(), 0444);
    ASSERT_TRUE(f.Run(TJobEngine::WavToMp3, {a}));
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Failed}));
    // No question about a file that will not be replaced anyway.
    EXPECT_TRUE(f.Prompter.ScriptUsedUp());
    ASSERT_EQ(f.Prompter.Calls().size(), 1u);
    EXPECT_TRUE(f.Prompter.Messages()[0].contains("read-only")) << qPrintable(f.Prompter.Messages()[0]);
    EXPECT_EQ(ReadBytes(f.Output("a.mp3")), "kept as it is");
    EXPECT_EQ(FilesIn(AppSettings().OutputFolder), QStringList{"a.mp3"});
}

TEST(EncoderJob, WavToMp3ResamplesSlowFilesThroughTheTemporaryFileAndEncodesOthersDirectly)
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

TEST(EncoderJob, EightBitWavIsWidenedBeforeResamplingForMp3)
{
    TJobFixture f;
    const QString slow = f.HomeFile("in/slow8.wav");
    WriteTone(slow, 1.5, 22050, 2, 8);
    ASSERT_TRUE(f.Run(TJobEngine::WavToMp3, {slow}));
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced}));
    ExpectTones(f.Output("slow8.mp3"), 44100, 1.5);
}

TEST(EncoderJob, Mp3ToWavDecodesIntoTheOutputFolder)
{
    TJobFixture f;
    const QString wav = f.HomeFile("in/tone.wav");
    const QString mp3 = f.HomeFile("in/tone.mp3");
    WriteTone(wav, 2.0);
    ASSERT_EQ(RunTool("lame", {"--quiet", "-b", "128", wav, mp3}).ExitCode, 0);
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

TEST(EncoderJob, RecordingIsEncodedBesideItsWav)
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

TEST(EncoderJob, WavToWmaEncodesEachFile)
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

TEST(EncoderJob, DecliningToOverwriteSkipsTheFileSilently)
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

TEST(EncoderJob, AConversionOntoItsOwnInputIsRefusedAndTheInputKept)
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

TEST(EncoderJob, AnEncoderThatCannotStartFailsStartOrLeavesTheJobStanding)
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
        const QString reason = "Error while creating mp3 encoding process!\nlame: No such file or directory";
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
    qint64 written = 573657;
    // The growing file is the one the encoder writes beside the output.
    w.F.Engine->SetFileSizeSource([&](const QString& path) {
        if (path.endsWith("source.wav"))
            return qint64(50000000);
        return path == w.F.Wma.ProgramOutputFile() && path != w.F.Output("source.wma") ? written
                                                                                       : FileSizeOf(path);
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
    qint64 written = -1;
    w.F.Engine->SetFileSizeSource([&](const QString& path) {
        if (path.endsWith("source.wav"))
            return qint64(50000000);
        return path == w.F.Wma.ProgramOutputFile() && path != w.F.Output("source.wma") ? written
                                                                                       : FileSizeOf(path);
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
            ASSERT_EQ(RunTool("lame", {"--quiet", wav, f.HomeFile(name)}).ExitCode, 0);
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
