#include "core/disc_info.h"
#include "core/ini_file.h"

#include "support/temp_home.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

TEST(DiscInfo, ADiscWithoutSectionGetsTheDefaults)
{
    TTempHome home;
    DiscInfo().Artist = "previous";
    LoadDiscInfo("12345");
    const TDiscInfo& d = DiscInfo();
    EXPECT_EQ(d.Artist, "");
    EXPECT_EQ(d.Album, "");
    EXPECT_EQ(d.Year, "");
    EXPECT_EQ(d.Genre, -1);
    EXPECT_EQ(d.Comment, "");
    EXPECT_EQ(d.TrackCount, 100);
    EXPECT_EQ(d.Title(1), "Track01");
    EXPECT_EQ(d.Title(12), "Track12");
    EXPECT_EQ(d.Title(100), "Track100");
    EXPECT_EQ(d.Title(0), "");
    EXPECT_EQ(d.Title(101), "");
}

TEST(DiscInfo, MissingAndEmptyTitlesGetTheirDefaultNames)
{
    TTempHome home;
    home.Write("cdinfo.dat", "[777]\nArtist=Band\nGenre=17\nTrackNumber=4\n1=Intro\n2=\n4=Outro\n");
    LoadDiscInfo("777");
    EXPECT_EQ(DiscInfo().Artist, "Band");
    EXPECT_EQ(DiscInfo().Genre, 17);
    EXPECT_EQ(DiscInfo().TrackCount, 4);
    EXPECT_EQ(DiscInfo().Title(1), "Intro");
    EXPECT_EQ(DiscInfo().Title(2), "Track02");
    EXPECT_EQ(DiscInfo().Title(3), "Track03");
    EXPECT_EQ(DiscInfo().Title(4), "Outro");
}

TEST(DiscInfo, SlotsAboveTheCountKeepWhatTheyHeld)
{
    TTempHome home;
    home.Write("cdinfo.dat", "[1]\nTrackNumber=2\n1=a\n2=b\n[2]\nTrackNumber=0\n1=never read\n");
    DiscInfo().SetTitle(3, "kept");
    LoadDiscInfo("1");
    EXPECT_EQ(DiscInfo().Title(3), "kept");
    LoadDiscInfo("2");
    EXPECT_EQ(DiscInfo().TrackCount, 0);
    EXPECT_EQ(DiscInfo().Title(1), "a");
}

TEST(DiscInfo, AnEmptyIdentityReadsAndWritesNothing)
{
    TTempHome home;
    DiscInfo().Artist = "stays";
    DiscInfo().TrackCount = 1;
    LoadDiscInfo("");
    EXPECT_EQ(DiscInfo().Artist, "stays");
    EXPECT_TRUE(SaveDiscInfo(""));
    EXPECT_FALSE(QFileInfo::exists(home.File("cdinfo.dat")));
}

TEST(DiscInfo, SaveWritesTheSectionInOrderAndKeepsOtherDiscs)
{
    TTempHome home;
    home.Write("cdinfo.dat", "[-1437892214]\nArtist=Other\nTrackNumber=1\n1=Their song\n");
    TDiscInfo& d = DiscInfo();
    d.Artist = "AC/DC";
    d.Album = "Live: \"Part 1\"";
    d.Year = "1992";
    d.Genre = 0;
    d.Comment = "ripped; at home";
    d.TrackCount = 3;
    d.SetTitle(1, "Thunder/Struck?");
    d.SetTitle(2, "Für Elise = piano");
    d.SetTitle(3, "[Hidden]");
    ASSERT_TRUE(SaveDiscInfo("123"));

    TIniFile saved;
    saved.Load(home.File("cdinfo.dat"));
    EXPECT_EQ(saved.Keys("123"),
              (QStringList{"Artist", "Album", "Year", "Genre", "Comment", "TrackNumber", "1", "2", "3"}));
    EXPECT_EQ(saved.ReadString("-1437892214", "1", ""), "Their song");

    d = TDiscInfo{};
    LoadDiscInfo("123");
    EXPECT_EQ(d.Artist, "AC/DC");
    EXPECT_EQ(d.Album, "Live: \"Part 1\"");
    EXPECT_EQ(d.Genre, 0);
    EXPECT_EQ(d.Comment, "ripped; at home");
    EXPECT_EQ(d.Title(1), "Thunder/Struck?");
    EXPECT_EQ(d.Title(2), "Für Elise = piano");
    EXPECT_EQ(d.Title(3), "[Hidden]");
    LoadDiscInfo("-1437892214");
    EXPECT_EQ(d.Artist, "Other");
}

TEST(DiscInfo, OversizedInputIsCutNotFatal)
{
    TTempHome home;
    QByteArray file = "[5]\nTrackNumber=150\n1=" + QByteArray(10 * 1024 * 1024, 'L') + "\n";
    for (int n = 2; n <= 150; ++n)
        file += QByteArray::number(n) + "=Song " + QByteArray::number(n) + "\n";
    file += "[6]\nArtist=Neighbour\n";
    home.Write("cdinfo.dat", file);
    LoadDiscInfo("5");
    EXPECT_EQ(DiscInfo().TrackCount, 100);
    EXPECT_EQ(DiscInfo().Title(1).size(), 2047);
    EXPECT_EQ(DiscInfo().Title(100), "Song 100");
    ASSERT_TRUE(SaveDiscInfo("5"));
    TIniFile saved;
    saved.Load(home.File("cdinfo.dat"));
    EXPECT_EQ(saved.ReadString("6", "Artist", ""), "Neighbour");
    EXPECT_EQ(saved.ReadString("5", "150", ""), "Song 150"); // titles beyond the slots stay in the file
}

TEST(DiscInfo, AFileThatCannotBeReadIsNeverReplaced)
{
    TTempHome home;
    QDir(home.Path()).mkdir("cdinfo.dat");
    DiscInfo().TrackCount = 1;
    EXPECT_FALSE(SaveDiscInfo("1"));
    EXPECT_TRUE(QFileInfo(home.File("cdinfo.dat")).isDir());
}
