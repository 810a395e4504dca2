#include "core/messages.h"
#include "core/settings.h"
#include "job_test_support.h"
#include "jobs/track_items.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

// Posts a report to the engine as a worker would and delivers it.
void Report(TJobEngine& engine, int percent, const QString& elapsed, const QString& estimated)
{
    PostProcessInfo(&engine, percent, elapsed, estimated);
    QCoreApplication::sendPostedEvents(&engine);
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
