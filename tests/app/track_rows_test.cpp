#include "app/track_rows.h"
#include "core/disc_info.h"

#include "support/temp_home.h"

#include <gtest/gtest.h>

namespace {

// A table of contents with minute/second/frame addresses: one entry per track
// start and the lead-out last.
CDTOC MsfToc(int firstTrack, const std::vector<std::array<int, 3>>& addresses)
{
    CDTOC toc{};
    toc.FirstTrack = static_cast<std::uint8_t>(firstTrack);
    toc.LastTrack = static_cast<std::uint8_t>(firstTrack + static_cast<int>(addresses.size()) - 2);
    for (size_t i = 0; i < addresses.size(); ++i) {
        CDTOCEntry& entry = toc.Entries[i];
        entry.TrackNumber =
            i + 1 == addresses.size() ? CDLeadOutTrack : static_cast<std::uint8_t>(firstTrack + i);
        entry.Address[1] = static_cast<std::uint8_t>(addresses[i][0]);
        entry.Address[2] = static_cast<std::uint8_t>(addresses[i][1]);
        entry.Address[3] = static_cast<std::uint8_t>(addresses[i][2]);
    }
    return toc;
}

} // namespace

TEST(TrackRows, LengthsCountWholeSecondsAndBorrowAMinute)
{
    EXPECT_EQ(TrackLengthText(TrackSeconds(0, 2, 4, 35)), "04:33");
    EXPECT_EQ(TrackLengthText(TrackSeconds(3, 50, 5, 10)), "01:20");
    EXPECT_EQ(TrackLengthText(TrackSeconds(10, 0, 84, 0)), "74:00");
    EXPECT_EQ(TrackLengthText(TrackSeconds(0, 2, 0, 2)), "00:00");
    // A lead-out before the track's start is a broken table, not a negative time.
    EXPECT_EQ(TrackLengthText(TrackSeconds(5, 0, 4, 0)), "00:00");
}

TEST(TrackRows, SizesAreMegabytesOfCdAudioRoundedHalfToEven)
{
    EXPECT_EQ(TrackSizeText(273), "45.93");
    EXPECT_EQ(TrackSizeText(59), "09.93");
    EXPECT_EQ(TrackSizeText(5), "00.84");
    EXPECT_EQ(TrackSizeText(74 * 60), "746.93");
    EXPECT_EQ(TrackSizeText(0), "00.00");
    EXPECT_EQ(TrackSizeText(-3), "00.00");
}

TEST(TrackRows, RowsOfATableOfContentsIgnoreFramesAndTakeCachedTitles)
{
    TTempHome home;
    DiscInfo().SetTitle(2, QStringLiteral("Second: Part 1"));
    const CDTOC toc = MsfToc(1, {{0, 2, 0}, {4, 35, 50}, {5, 34, 74}, {5, 40, 0}});
    const std::vector<TTrackRow> rows = TrackRowsOfToc(toc);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].Number, 1);
    EXPECT_EQ(rows[0].LengthText, "04:33");
    EXPECT_EQ(rows[0].SizeText, "45.93");
    EXPECT_EQ(rows[1].LengthText, "00:59");
    EXPECT_EQ(rows[1].SizeText, "09.93");
    EXPECT_EQ(rows[2].LengthText, "00:06");
    for (const TTrackRow& row : rows)
        EXPECT_TRUE(row.Ticked);
    EXPECT_EQ(rows[0].Title, "Track01");
    EXPECT_EQ(rows[1].Title, "Second: Part 1");
    // The record and the list agree on the default titles.
    EXPECT_EQ(DiscInfo().Title(1), "Track01");
    EXPECT_EQ(DiscInfo().Title(3), "Track03");
}

TEST(TrackRows, ADiscWhoseFirstTrackIsNotOneNumbersRowsByTrack)
{
    TTempHome home;
    const CDTOC toc = MsfToc(5, {{0, 2, 0}, {1, 2, 0}, {3, 0, 0}});
    const std::vector<TTrackRow> rows = TrackRowsOfToc(toc);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Number, 5);
    EXPECT_EQ(rows[0].LengthText, "01:00");
    EXPECT_EQ(rows[1].Number, 6);
    EXPECT_EQ(rows[1].LengthText, "01:58");
    EXPECT_EQ(rows[1].Title, "Track06");
}

TEST(TrackRows, AnImpossibleTableGivesNoRows)
{
    TTempHome home;
    CDTOC toc{};
    toc.FirstTrack = 3;
    toc.LastTrack = 2;
    EXPECT_TRUE(TrackRowsOfToc(toc).empty());
    toc.FirstTrack = 0;
    toc.LastTrack = 0;
    EXPECT_TRUE(TrackRowsOfToc(toc).empty());
    toc.FirstTrack = 1;
    toc.LastTrack = 255;
    EXPECT_TRUE(TrackRowsOfToc(toc).empty());
}
