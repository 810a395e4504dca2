#include "cd/cd_rip_thread.h"
#include "codecs/genre_list.h"
#include "codecs/id3_tag.h"
#include "core/disc_info.h"
#include "core/settings.h"
#include "job_test_support.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>

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

// The WAV file an extraction must write for a track of the disc: the fixed
// header, then the track's sectors as the image holds them.
QByteArray ExpectedWav(const TJobFixture& f, qint64 firstFrame, qint64 frames)
{
    const QByteArray data = DataSlice(f.DiscData, firstFrame, frames);
    return CDWavHeader(data.size()) + data;
}

// Decodes an encoded file and checks its format and length.
void ExpectDecodable(const QString& path, const QString& codec, double seconds, int rate = 44100)
{
    const TProbe probe = ProbeAudio(path);
    ASSERT_TRUE(probe.Valid) << qPrintable(path);
    EXPECT_EQ(probe.CodecName, codec) << qPrintable(path);
    EXPECT_EQ(probe.SampleRate, rate) << qPrintable(path);
    EXPECT_EQ(probe.Channels, 2) << qPrintable(path);
    const std::vector<qint16> samples = DecodeWithFfmpeg(path, path + ".raw");
    QFile::remove(path + ".raw");
    EXPECT_NEAR(static_cast<double>(samples.size()) / 2 / rate, seconds, 0.1) << qPrintable(path);
}

} // namespace

TEST(ExtractionJob, EncodesEveryTrackToATaggedMp3AndRemovesTheWavFiles)
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

TEST(ExtractionJob, WavOutputExtractsEachTrackAndClosesAfterTheLast)
{
    TJobFixture f;
    f.UseDisc({1.0, 0.5, 1.0});
    AppSettings().OutputFormat = 1;
    int endedAtClose = -1;
    f.View.OnClose = [&] { endedAtClose = static_cast<int>(f.Ended.size()); };

    ASSERT_TRUE(f.Run(TJobEngine::Extract, {"01A", "02B", "03C"}));
    EXPECT_EQ(f.View.CloseCount, 1);
    EXPECT_EQ(endedAtClose, 3);
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced, Produced, Produced}));
    EXPECT_TRUE(f.Prompter.Messages().isEmpty());
    // Nothing but the extracted tracks, bit for bit, and none deleted.
    EXPECT_EQ(FilesIn(AppSettings().OutputFolder), (QStringList{"A.wav", "B.wav", "C.wav"}));
    EXPECT_TRUE(ReadBytes(f.Output("A.wav")) == ExpectedWav(f, 0, 75));
    EXPECT_TRUE(ReadBytes(f.Output("B.wav")) == ExpectedWav(f, 75, 38));
    EXPECT_TRUE(ReadBytes(f.Output("C.wav")) == ExpectedWav(f, 113, 75));
    EXPECT_EQ(f.View.Captions,
              (QStringList{"Extracting(01/03): A", "Extracting(02/03): B", "Extracting(03/03): C"}));
    EXPECT_EQ(f.View.GroupTitles, (QStringList{"Extracting", "Extracting", "Extracting"}));
    EXPECT_FALSE(f.Mp3.ProcessActive());
}

TEST(ExtractionJob, GainPassRenamesTheStep)
{
    TJobFixture f;
    f.UseDisc({0.5});
    AppSettings().OutputFormat = 1;
    AppSettings().Normalize = true;
    AppSettings().NormalizePercent = 50;
    ASSERT_TRUE(f.Run(TJobEngine::Extract, {"01Quiet"}));
    EXPECT_EQ(f.View.Captions, (QStringList{"Extracting(01/01): Quiet", "Normalizing(01/01): Quiet"}));
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced}));
}

TEST(ExtractionJob, OggAndWmaOutputsAreEncodedAndKeepWavKeepsTheTracks)
{
    {
        TJobFixture f;
        f.UseDisc({1.5, 1.0});
        AppSettings().OutputFormat = 2;
        AppSettings().KeepWav = true;
        ASSERT_TRUE(f.Run(TJobEngine::Extract, {"01One", "02Two"}));
        EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Produced, Produced}));
        EXPECT_TRUE(f.Prompter.Messages().isEmpty());
        ExpectDecodable(f.Output("One.ogg"), "vorbis", 1.5);
        ExpectDecodable(f.Output("Two.ogg"), "vorbis", 1.0);
        EXPECT_EQ(FilesIn(AppSettings().OutputFolder),
                  (QStringList{"One.ogg", "One.wav", "Two.ogg", "Two.wav"}));
    }
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
}

TEST(ExtractionJob, UnreadableSecondTrackIsSkippedAndTheOthersAreEncoded)
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
    // The damaged track's WAV is what there is of it; it stays.
    EXPECT_EQ(FilesIn(AppSettings().OutputFolder),
              (QStringList{"A.mp3", "B.wav", "C.mp3", "D.mp3", "E.mp3"}));
}

TEST(ExtractionJob, StopAfterTwoOfFiveTracksKeepsTheirWavAndMp3Files)
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
    TReportReceiver::Pump(300);
    EXPECT_EQ(f.View.CloseCount, 1);
    EXPECT_EQ(FilesIn(AppSettings().OutputFolder).size(), 4);
}

TEST(ExtractionJob, StopDuringAnExtractionEndsTheThreadAndKeepsTheTrackSoFar)
{
    TJobFixture f;
    f.UseDisc({60});
    AppSettings().OutputFormat = 0;
    // Stop at the first progress report, while the track is being read (an
    // image reads fast: the thread may be near its end, but its completion
    // has not been handled).
    bool stopped = false;
    f.View.OnGauge = [&](int percent) {
        if (percent > 0 && !stopped) {
            stopped = true;
            f.Engine->Stop();
        }
    };
    ASSERT_TRUE(f.Run(TJobEngine::Extract, {"01Long"}));
    EXPECT_TRUE(stopped);
    EXPECT_EQ(f.View.CloseCount, 1);
    EXPECT_TRUE(f.Ended.empty());
    // A stopped track is a valid WAV file of what was read; no encoder ran.
    const TWavFacts facts = ReadWavFacts(f.Output("Long.wav"));
    ASSERT_TRUE(facts.Valid);
    EXPECT_GT(facts.Frames, 0);
    EXPECT_LE(facts.Frames, 60 * 44100);
    EXPECT_EQ(QFileInfo(f.Output("Long.wav")).size(), 44 + facts.Frames * 4);
    EXPECT_FALSE(QFileInfo::exists(f.Output("Long.mp3")));
    EXPECT_FALSE(f.Mp3.ProcessActive());
    TReportReceiver::Pump(200);
    EXPECT_EQ(f.View.CloseCount, 1);
    EXPECT_FALSE(QFileInfo::exists(f.Output("Long.mp3")));
}

TEST(ExtractionJob, DriveErrorsLeaveTheJobStandingUntilStop)
{
    const std::pair<const char*, const char*> cases[] = {
        {"ReadTOC", "Error while reading TOC information!"},
        {"ModifyCDParms", "CD extract failed!Please try again."},
    };
    for (const auto& [call, message] : cases) {
        TJobFixture f;
        qputenv("VELBROOK_FAILING_CD_CALLS", call);
        f.UseDisc({1, 1});
        ASSERT_TRUE(f.Run(TJobEngine::Extract, {"01A", "02B"}, [&] { return !f.StandingReasons.isEmpty(); }));
        EXPECT_EQ(f.Prompter.Messages(), QStringList{message});
        EXPECT_EQ(f.StandingReasons, QStringList{message});
        EXPECT_TRUE(f.Ended.empty());
        // Closed by the Stop the test pressed, not by the error.
        EXPECT_EQ(f.View.CloseCount, 1);
        EXPECT_TRUE(f.Engine->Finished());
    }
}

TEST(ExtractionJob, TracksWithEqualOrUnusableTitlesGetFilesOfTheirOwn)
{
    TJobFixture f;
    f.UseDisc({0.5, 0.5, 0.5, 0.5, 0.5, 0.5});
    AppSettings().OutputFormat = 1;
    ASSERT_TRUE(f.Run(TJobEngine::Extract, {"01Song", "02song", "03SONG", "04", "05.hidden", "06a/b"}));
    EXPECT_EQ(f.Engine->Items(),
              (QStringList{"01Song", "02song (2)", "03SONG (3)", "04Track04", "05Track05", "06ab"}));
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>(6, Produced)));
    const QStringList names{"Song.wav",    "song (2).wav", "SONG (3).wav",
                            "Track04.wav", "Track05.wav",  "ab.wav"};
    for (int i = 0; i < names.size(); ++i) {
        EXPECT_EQ(f.Engine->ResultFile(i), f.Output(names[i]));
        EXPECT_TRUE(ReadBytes(f.Output(names[i])) == ExpectedWav(f, 38 * i, 38)) << qPrintable(names[i]);
    }
    EXPECT_EQ(FilesIn(AppSettings().OutputFolder).size(), 6);
}

TEST(ExtractionJob, TagsFollowTheId3SettingAndGenreNoneIs255)
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

TEST(ExtractionJob, DiskFillingUpDuringEncodingKeepsTheWavAndWritesNoTag)
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
    EXPECT_EQ(f.Prompter.Messages(),
              (QStringList{"Create MP3 file error!\r\nPlease check the output and lame "
                           "options or run application again."}));
    // The WAV file is the only good copy of the track: it stays, whole.
    EXPECT_TRUE(ReadBytes(f.Output("Full.wav")) == ExpectedWav(f, 0, 225));
    const QString mp3 = f.Output("Full.mp3");
    if (QFileInfo::exists(mp3)) {
        EXPECT_LE(QFileInfo(mp3).size(), 16 * 1024);
        EXPECT_FALSE(HasId3Block(mp3));
    }
}
