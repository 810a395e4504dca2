#include "app/disc_texts.h"
#include "app/drive_session.h"
#include "app_test_support.h"
#include "codecs/genre_list.h"
#include "core/disc_info.h"
#include "core/ini_file.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

// Reads the disc as the main window and the command line do; the titles of
// its rows.
QStringList ReadTitles()
{
    TDriveSession session;
    TStatusText status;
    session.DriveHandle = session.OpenDrive(0, &status);
    std::vector<TTrackRow> rows;
    EXPECT_TRUE(session.ReadDisc(&rows, &status));
    QStringList titles;
    for (const TTrackRow& row : rows)
        titles.append(row.Title);
    return titles;
}

void CacheSection(const QString& discId, const QStringList& lines)
{
    TIniFile ini;
    ini.Load(DiscInfoFilePath());
    for (const QString& line : lines)
        ini.WriteString(discId, line.section('=', 0, 0), line.section('=', 1));
    ASSERT_TRUE(ini.Save(DiscInfoFilePath()));
}

} // namespace

TEST(DiscTexts, SheetTextsNameTheTracksUnlessTheCacheHasTitles)
{
    TAppTest test;
    const QString cue = test.UseImage("disc.cue", {TImageFormat::Cue, {{100}, {120, 0, false, 1, 1}, {90}}});
    QByteArray sheet = test.Home.Read("disc.cue");
    sheet.insert(sheet.indexOf("  TRACK 02"), "    TITLE \"First\"\n");
    sheet.insert(sheet.indexOf("  TRACK 03"), "    TITLE \"Second\"\n    PERFORMER \"A Guest\"\n");
    test.Home.Write("disc.cue", "REM GENRE \"rock music\"\nREM DATE 1999-05-01\nPERFORMER \"The Band\"\n"
                                "TITLE \"The Album\"\n" +
                                    sheet);
    const QString discId = GetDiscId();
    ASSERT_FALSE(discId.isEmpty());

    DiscInfo() = TDiscInfo{};
    EXPECT_EQ(ReadTitles(), (QStringList{"First", "A Guest - Second", "Track03"}));
    EXPECT_EQ(DiscInfo().Artist, "The Band");
    EXPECT_EQ(DiscInfo().Album, "The Album");
    EXPECT_EQ(DiscInfo().Year, "1999");
    EXPECT_EQ(DiscInfo().Genre, GenreNames().indexOf("Rock"));

    // Only default titles in the cache: the disc's texts still name the
    // tracks, and album data typed for it stays.
    CacheSection(discId, {"Artist=Typed", "Genre=-1", "TrackNumber=3", "1=Track01", "2=Track02", "3="});
    EXPECT_EQ(ReadTitles(), (QStringList{"First", "A Guest - Second", "Track03"}));
    EXPECT_EQ(DiscInfo().Artist, "Typed");
    EXPECT_EQ(DiscInfo().Album, "The Album");

    // Titles of its own in the cache win.
    CacheSection(discId, {"2=Typed Title"});
    EXPECT_EQ(ReadTitles(), (QStringList{"Track01", "Typed Title", "Track03"}));
    EXPECT_EQ(DiscInfo().Album, "");
}

TEST(DiscTexts, GenreNamesFindTheirPlaceInTheList)
{
    const QStringList& names = GenreNames();
    const std::vector<std::pair<QString, int>> cases = {
        {"Rock", int(names.indexOf("Rock"))},
        {"rock", int(names.indexOf("Rock"))},
        {"Rock Music", int(names.indexOf("Rock"))},
        {"Hip Hop", int(names.indexOf("Hip-Hop"))},
        {"Classical", int(names.indexOf("Classical"))},
        {"Nothing Like It", -1},
        {"", -1},
        {"Music", -1},
    };
    for (const auto& [name, position] : cases) {
        EXPECT_EQ(GenreListPosition(name), position) << qPrintable(name);
        EXPECT_NE(position, 0);
    }
}
