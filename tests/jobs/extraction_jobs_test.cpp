#include "core/settings.h"
#include "job_test_support.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

// Extraction jobs that stay in this process (WAV and Ogg Vorbis output): the
// extraction thread and the Ogg pipeline under the sanitizers, ThreadSanitizer
// included.

namespace {

using TOutcome = TJobEngine::TItemOutcome;
constexpr TOutcome Produced = TOutcome::Produced;
constexpr TOutcome Failed = TOutcome::Failed;

} // namespace

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

TEST(ExtractionJob, OggOutputIsEncodedAndKeepWavKeepsTheTracks)
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
    EXPECT_EQ(FilesIn(AppSettings().OutputFolder), (QStringList{"One.ogg", "One.wav", "Two.ogg", "Two.wav"}));
}

TEST(ExtractionJob, StopLeavesNothingUnfinishedUnderATracksNames)
{
    enum class TStep { Reading, Normalizing, Encoding };
    for (const TStep step : {TStep::Reading, TStep::Normalizing, TStep::Encoding}) {
        SCOPED_TRACE(int(step));
        TJobFixture f;
        f.UseDisc({180});
        AppSettings().OutputFormat = 2;
        AppSettings().Normalize = step == TStep::Normalizing;
        // Stop at the first progress of the step (an image reads fast: the
        // thread may be near its end, but its completion has not been handled).
        bool inStep = step == TStep::Reading;
        bool stopped = false;
        f.View.OnGroupTitle = [&](const QString& title) { inStep = inStep || title == "Encoding"; };
        f.View.OnGauge = [&](int percent) {
            if (step == TStep::Normalizing)
                inStep = inStep ||
                         (!f.View.Captions.isEmpty() && f.View.Captions.back().startsWith("Normalizing"));
            if (inStep && percent > 0 && !stopped) {
                stopped = true;
                f.Engine->Stop();
            }
        };
        ASSERT_TRUE(f.Run(TJobEngine::Extract, {"01Long"}));
        EXPECT_TRUE(stopped);
        EXPECT_EQ(f.View.CloseCount, 1);
        EXPECT_TRUE(f.Ended.empty());
        EXPECT_TRUE(f.Prompter.Messages().isEmpty());
        PumpEvents(200);
        EXPECT_EQ(f.View.CloseCount, 1);
        // What was read stays as a valid WAV (unscaled when its scaling was
        // stopped); a half-scaled track or a cut-off Ogg file never stays.
        EXPECT_EQ(FilesIn(AppSettings().OutputFolder), QStringList{"Long.wav"});
        const QByteArray wav = ReadBytes(f.Output("Long.wav"));
        if (step == TStep::Reading) {
            const QByteArray whole = ExpectedWav(f, 0, 180 * 75);
            ASSERT_GT(wav.size(), 44);
            // A thread that read to the end before the stop came keeps it all.
            ASSERT_LE(wav.size(), whole.size());
            EXPECT_TRUE(wav.mid(44) == whole.mid(44, wav.size() - 44));
            EXPECT_EQ(qFromLittleEndian<quint32>(wav.constData() + 40), quint32(wav.size() - 44));
        } else {
            EXPECT_TRUE(wav == ExpectedWav(f, 0, 180 * 75));
        }
    }
}

TEST(ExtractionJob, ReadOnlyTracksAndLinksAtTheirNamesAreLeftAlone)
{
    TJobFixture f;
    f.UseDisc({1, 1});
    AppSettings().OutputFormat = 1;
    const QString victim = f.HomeFile("victim.txt");
    f.Cd.Home.Write("victim.txt", "the user's");
    f.Cd.Home.Write("Output/One.wav", "kept as it is");
    ::chmod(QFile::encodeName(f.Output("One.wav")).constData(), 0444);
    ASSERT_EQ(
        ::symlink(QFile::encodeName(victim).constData(), QFile::encodeName(f.Output("Two.wav")).constData()),
        0);
    ASSERT_TRUE(f.Run(TJobEngine::Extract, {"01One", "02Two"}));
    EXPECT_EQ(f.Outcomes(), (std::vector<TOutcome>{Failed, Produced}));
    ASSERT_EQ(f.Prompter.Messages().size(), 1);
    EXPECT_TRUE(
        f.Prompter.Messages()[0].startsWith("Error while creating file!\n" + f.Output("One.wav") + "\n"));
    EXPECT_TRUE(f.Prompter.Messages()[0].contains("read-only"));
    EXPECT_EQ(ReadBytes(f.Output("One.wav")), "kept as it is");
    // The window replaces a track's file without asking: the link goes, what
    // it led to stays.
    EXPECT_EQ(ReadBytes(victim), "the user's");
    EXPECT_FALSE(QFileInfo(f.Output("Two.wav")).isSymLink());
    EXPECT_TRUE(ReadBytes(f.Output("Two.wav")) == ExpectedWav(f, 75, 75));
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
