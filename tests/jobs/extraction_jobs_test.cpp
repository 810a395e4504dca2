#include "core/settings.h"
#include "job_test_support.h"

#include <QFileInfo>
#include <gtest/gtest.h>

// Extraction jobs that stay in this process (WAV and Ogg Vorbis output): the
// extraction thread and the Ogg pipeline under the sanitizers, ThreadSanitizer
// included.

namespace {

using TOutcome = TJobEngine::TItemOutcome;
constexpr TOutcome Produced = TOutcome::Produced;

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

TEST(ExtractionJob, StopDuringAnExtractionEndsTheThreadAndKeepsTheTrackSoFar)
{
    TJobFixture f;
    f.UseDisc({60});
    AppSettings().OutputFormat = 2;
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
    // A stopped track is a valid WAV file of what was read; no encoding began.
    const TWavFacts facts = ReadWavFacts(f.Output("Long.wav"));
    ASSERT_TRUE(facts.Valid);
    EXPECT_GT(facts.Frames, 0);
    EXPECT_LE(facts.Frames, 60 * 44100);
    EXPECT_EQ(QFileInfo(f.Output("Long.wav")).size(), 44 + facts.Frames * 4);
    EXPECT_FALSE(QFileInfo::exists(f.Output("Long.ogg")));
    PumpEvents(200);
    EXPECT_EQ(f.View.CloseCount, 1);
    EXPECT_FALSE(QFileInfo::exists(f.Output("Long.ogg")));
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
