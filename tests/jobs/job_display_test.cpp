#include "core/helpers.h"
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

// File names never carry control characters, and a title too long for a file
// name is shortened at a character boundary so that the longest file a track
// makes, with its extension and any " (n)", fits the 255 bytes Linux takes.
TEST(TrackItems, ControlCharactersGoAndLongTitlesAreShortenedAtACharacter)
{
    const QString acute = QString::fromUtf8("e\xCC\x81");       // e and a combining accent: 3 bytes
    const QString note = QString::fromUtf8("\xF0\x9F\x8E\xB5"); // outside the BMP: 4 bytes
    const QString marked = "a" + QString(300, QChar(0x0301));   // one character of 601 bytes
    struct TCase {
        const char* Name;
        QString Title;
        QString Expected;
    };
    const TCase cases[] = {
        {"escape sequences and bell",
         "A\x1b]0;owned\x07"
         "B\x7f\t\r\nC",
         "A]0;ownedBC"},
        {"only control characters", "\x1b\x07", "Track02"},
        {"plain letters", QString(5000, 'x'), QString(251, 'x')},
        {"the same again, numbered", QString(6000, 'x'), QString(247, 'x') + " (2)"},
        {"two-byte letters", QString(2000, QChar(0xE9)), QString(125, QChar(0xE9))},
        {"accents stay on their letters", acute.repeated(200), acute.repeated(83)},
        {"surrogate pairs stay whole", note.repeated(100), note.repeated(62)},
        {"one character too long for a name", marked, marked.left(126)},
        {"exactly at the limit", QString(249, 'y') + QChar(0xE9), QString(249, 'y') + QChar(0xE9)},
    };
    QStringList items;
    for (int i = 0; i < int(std::size(cases)); ++i)
        items.append(FormatTwoDigits(i + 1) + cases[i].Title);
    const QStringList safe = SafeTrackItems(items);
    ASSERT_EQ(safe.size(), items.size());
    for (int i = 0; i < int(std::size(cases)); ++i) {
        SCOPED_TRACE(cases[i].Name);
        const QString title = ItemTitle(safe[i]);
        EXPECT_EQ(title, cases[i].Expected);
        EXPECT_LE(title.toUtf8().size() + 4, 255);
        for (const QChar c : title)
            EXPECT_TRUE(c.unicode() >= 0x20 && c.unicode() != 0x7F);
    }
    EXPECT_EQ(SafeTrackItems(safe), safe);
}
