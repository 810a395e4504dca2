#include "cd/disc_image.h"
#include "support/temp_home.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

std::vector<qint64> Starts(const TImageDescription& description)
{
    std::vector<qint64> starts;
    for (const TImageTrack& track : description.Tracks)
        starts.push_back(track.Start);
    return starts;
}

} // namespace

TEST(CueSheet, ReadsWhatWindowsToolsWrite)
{
    const QByteArray text = "\xEF\xBB\xBFREM GENRE Rock\r\n"
                            "PERFORMER \"Someone\"\r\n"
                            "TITLE \"An Album\"\r\n"
                            "file \"My Album.bin\" binary\r\n"
                            "  TRACK 01 AUDIO\r\n"
                            "    FLAGS DCP PRE\r\n"
                            "    TITLE \"First\"\r\n"
                            "    INDEX 00 00:00:00\r\n"
                            "    INDEX 01 00:02:00\r\n"
                            "  TRACK 02 AUDIO\r\n"
                            "    PREGAP 00:02:00\r\n"
                            "    INDEX 01 03:10:74\r\n"
                            "    INDEX 02 03:20:00\r\n"
                            "  REM SESSION 02\r\n"
                            "  TRACK 03 MODE1/2352\r\n"
                            "    INDEX 01 04:00:00\r\n";
    const TImageDescription cue = ParseCueSheet(text);
    ASSERT_TRUE(cue.IsAccepted()) << qPrintable(cue.Problem);
    EXPECT_EQ(cue.DataFile, "My Album.bin");
    EXPECT_EQ(Starts(cue), (std::vector<qint64>{150, (3 * 60 + 10) * 75 + 74, 4 * 60 * 75}));
    EXPECT_EQ(cue.Tracks[0].PregapStart, 0);
    EXPECT_TRUE(cue.Tracks[0].CopyPermitted);
    EXPECT_TRUE(cue.Tracks[0].Preemphasis);
    EXPECT_FALSE(cue.Tracks[1].CopyPermitted);
    EXPECT_FALSE(cue.Tracks[2].Audio);
    EXPECT_EQ(cue.Tracks[2].Session, 2);
}

TEST(CueSheet, RefusesWhatCannotBeReadCorrectly)
{
    const QByteArray file = "FILE \"a.bin\" BINARY\n";
    const std::vector<std::pair<QByteArray, const char*>> cases = {
        {file + "TRACK 02 AUDIO\nINDEX 01 00:00:00\n", "expected track 1"},
        {file + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 03 AUDIO\nINDEX 01 00:01:00\n", "expected track 2"},
        {file + "TRACK 01 AUDIO\nINDEX 01 00:60:00\n", "INDEX needs"},
        {file + "TRACK 01 AUDIO\nINDEX 01 00:00:75\n", "INDEX needs"},
        {file + "TRACK 01 AUDIO\nINDEX 01 100:00:00\n", "INDEX needs"},
        {file + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nINDEX 01 00:00:10\n", "two INDEX 01"},
        {file + "TRACK 01 AUDIO\nINDEX 00 00:00:00\n", "no INDEX 01"},
        {file + "TRACK 01 AUDIO\nINDEX 01 00:05:00\nTRACK 02 AUDIO\nINDEX 01 00:01:00\n", "starts before"},
        {file + "TRACK 01 AUDIO\nINDEX 00 00:03:00\nINDEX 01 00:01:00\n", "index 0 comes after"},
        {file + "TRACK 01 MODE1/2048\nINDEX 01 00:00:00\n", "raw 2352-byte"},
        {file + "PREGAP 00:02:00\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", "PREGAP outside a track"},
        {file + "TRACK 01 AUDIO\nPOSTGAP 2\nINDEX 01 00:00:00\n", "POSTGAP needs a time"},
        {file +
             "TRACK 01 AUDIO\nINDEX 01 00:05:00\nFILE \"b.wav\" WAVE\nTRACK 02 AUDIO\nINDEX 00 00:01:00\n"
             "FILE \"c.wav\" WAVE\nINDEX 01 00:00:00\nTRACK 03 AUDIO\nINDEX 01 00:00:10\nINDEX 00 00:00:20\n",
         "track 3: index 0 comes after"},
        {file.repeated(CDMaxImageFiles + 1), "more than 198 files"},
        {"TRACK 01 AUDIO\nINDEX 01 00:00:00\n", "TRACK before any FILE"},
        {file + "INDEX 01 00:00:00\n", "outside a track"},
        {file + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nREM SESSION 02\nTRACK 02 AUDIO\nINDEX 01 00:01:00\n"
                "REM SESSION 01\nTRACK 03 AUDIO\nINDEX 01 00:02:00\n",
         "sessions must not go back"},
        {file, "no track"},
        {"", "no track"},
    };
    for (const auto& [text, why] : cases) {
        const TImageDescription cue = ParseCueSheet(text);
        EXPECT_TRUE(cue.Problem.contains(why)) << text.constData() << " -> " << qPrintable(cue.Problem);
        EXPECT_FALSE(cue.IsAccepted());
    }
    QByteArray hundred = file;
    for (int i = 1; i <= 100; ++i)
        hundred += QStringLiteral("TRACK %1 AUDIO\nINDEX 01 00:%2:00\n")
                       .arg(i)
                       .arg(i % 60, 2, 10, QChar('0'))
                       .toLatin1();
    EXPECT_TRUE(ParseCueSheet(hundred).Problem.contains("at most 99"));
}

TEST(CueSheet, ReadsAlbumSheetsOverSoundFilesWithTheirTexts)
{
    const QByteArray text = "REM GENRE \"Hip Hop\"\r\n"
                            "REM DATE 1999\r\n"
                            "REM DISCID 2A0B1C03\r\n"
                            "REM COMMENT \"a ripper\"\r\n"
                            "CATALOG 0123456789012\r\n"
                            "PERFORMER \"The Band\"\r\n"
                            "TITLE \"The \"Big\" Album\"\r\n"
                            "FILE \"01 - One.wav\" WAVE\r\n"
                            "  TRACK 01 AUDIO\r\n"
                            "    TITLE \"One\"\r\n"
                            "    SONGWRITER \"Someone\"\r\n"
                            "    ISRC ABCDE1234567\r\n"
                            "    PREGAP 00:01:00\r\n"
                            "    INDEX 01 00:00:00\r\n"
                            "  TRACK 02 AUDIO\r\n"
                            "    TITLE \"Two\"\r\n"
                            "    PERFORMER \"A Guest\"\r\n"
                            "    FLAGS PRE\r\n"
                            "    INDEX 00 03:00:10\r\n"
                            "FILE \"..\\Disc\\02 - Two.flac\" FLAC\r\n"
                            "    INDEX 01 00:00:00\r\n"
                            "    POSTGAP 00:02:00\r\n"
                            "FILE \"rest.bin\" motorola\r\n"
                            "  TRACK 03 AUDIO\r\n"
                            "    INDEX 01 00:00:00\r\n";
    const TImageDescription cue = ParseCueSheet(text);
    ASSERT_TRUE(cue.IsAccepted()) << qPrintable(cue.Problem);
    ASSERT_EQ(cue.Files.size(), 3u);
    EXPECT_EQ(cue.Files[1].Name, "..\\Disc\\02 - Two.flac");
    EXPECT_EQ(cue.Files[0].Kind, TImageFileKind::Audio);
    EXPECT_EQ(cue.Files[1].Kind, TImageFileKind::Audio);
    EXPECT_EQ(cue.Files[2].Kind, TImageFileKind::Motorola);
    EXPECT_EQ(cue.Files[1].Line, 20);
    ASSERT_EQ(cue.Tracks.size(), 3u);
    // Positions count within the file each index stands in.
    EXPECT_EQ(cue.Tracks[0].PregapFrames, 75);
    EXPECT_EQ(cue.Tracks[1].PregapFile, 0);
    EXPECT_EQ(cue.Tracks[1].PregapStart, 3 * 60 * 75 + 10);
    EXPECT_EQ(cue.Tracks[1].StartFile, 1);
    EXPECT_EQ(cue.Tracks[1].Start, 0);
    EXPECT_EQ(cue.Tracks[1].PostgapFrames, 150);
    EXPECT_TRUE(cue.Tracks[1].Preemphasis);
    EXPECT_EQ(cue.Tracks[2].StartFile, 2);
    EXPECT_EQ(cue.Text.Artist, "The Band");
    EXPECT_EQ(cue.Text.Album, "The \"Big\" Album");
    EXPECT_EQ(cue.Text.Genre, "Hip Hop");
    EXPECT_EQ(cue.Text.Year, "1999");
    EXPECT_EQ(cue.DiscId, "2A0B1C03");
    EXPECT_EQ(cue.Text.TrackTitle(1), "One");
    EXPECT_EQ(cue.Text.TrackTitle(2), "A Guest - Two");
    EXPECT_EQ(cue.Text.TrackTitle(3), "");

    // UTF-8 with or without a byte-order mark, or code page 1252.
    for (const QByteArray& title :
         {QByteArray("\xEF\xBB\xBFTITLE \"Caf\xC3\xA9 \xE2\x82\xAC\"\n"),
          QByteArray("TITLE \"Caf\xC3\xA9 \xE2\x82\xAC\"\n"), QByteArray("TITLE \"Caf\xE9 \x80\"\n")}) {
        const TImageDescription coded =
            ParseCueSheet(title + "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
        ASSERT_TRUE(coded.IsAccepted()) << qPrintable(coded.Problem);
        EXPECT_EQ(coded.Text.Album, QStringLiteral("Caf\u00E9 \u20AC")) << title.constData();
    }
}

TEST(DiscImage, SheetDiscIdThatDisagreesIsNoted)
{
    TTempHome home;
    home.Write("disc.bin", QByteArray(2000 * CDFrameBytes, '\0'));
    const QByteArray tracks = "FILE \"disc.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n"
                              "INDEX 01 00:10:00\n";
    // The id of tracks at 2 and 12 seconds (digit sums 2 and 1 + 2) with the
    // lead-out 26 seconds after the first: 05, 001a, 02.
    home.Write("right.cue", "REM DISCID 05001A02\n" + tracks);
    EXPECT_EQ(LoadDiscImage(home.File("right.cue")).Note, "");
    home.Write("wrong.cue", "REM DISCID 05001B03\n" + tracks);
    const TDiscImage wrong = LoadDiscImage(home.File("wrong.cue"));
    EXPECT_TRUE(wrong.IsValid());
    EXPECT_TRUE(wrong.Note.contains("05001b03") && wrong.Note.contains("05001a02")) << qPrintable(wrong.Note);
}

TEST(TocFile, ReadsSingleFileAudioTocs)
{
    const QByteArray text = "CD_DA\n"
                            "// written by hand\n"
                            "TRACK AUDIO\nNO COPY\nTWO_CHANNEL_AUDIO\nFILE \"data.bin\" 0 00:04:00\n\n"
                            "TRACK AUDIO\nCOPY\nFILE \"data.bin\" 00:04:00 00:10:00 // the second\n"
                            "START 00:02:00\nINDEX 00:05:00\n"
                            "TRACK AUDIO\nAUDIOFILE \"data.bin\" 00:14:00\n";
    const TImageDescription toc = ParseTocFile(text);
    ASSERT_TRUE(toc.IsAccepted()) << qPrintable(toc.Problem);
    EXPECT_EQ(Starts(toc), (std::vector<qint64>{0, 450, 1050}));
    EXPECT_EQ(toc.Tracks[1].PregapStart, 300);
    EXPECT_EQ(toc.Tracks[1].Length, 750);
    EXPECT_TRUE(toc.Tracks[1].CopyPermitted);
    EXPECT_EQ(toc.Tracks[2].Length, -1);
}

TEST(TocFile, RefusesWhatLibcdioWouldMisread)
{
    const std::vector<std::pair<QByteArray, const char*>> cases = {
        {"TRACK AUDIO\nFILE \"a.bin\" 0 00:01:00\nTRACK AUDIO\nFILE \"b.bin\" 00:01:00\n", "more than one"},
        {"TRACK AUDIO\nFILE \"a.bin\" 0\nTRACK AUDIO\nFILE \"a.bin\" 00:01:00\n", "without gap or overlap"},
        {"TRACK AUDIO\nFILE \"a.bin\" 0 00:01:00\nTRACK AUDIO\nFILE \"a.bin\" 00:02:00\n", "without gap"},
        {"TRACK MODE1\nDATAFILE \"a.bin\"\n", "only AUDIO tracks"},
        {"TRACK AUDIO\nDATAFILE \"a.bin\"\n", "DATAFILE is not supported"},
        {"CD_TEXT {\n}\nTRACK AUDIO\nFILE \"a.bin\" 0\n", "CD_TEXT is not supported"},
        {"TRACK AUDIO\nSILENCE 00:02:00\nFILE \"a.bin\" 0\n", "SILENCE is not supported"},
        {"TRACK AUDIO\nFILE \"a.bin\" #2352 0\n", "mm:ss:ff"},
        {"TRACK AUDIO\nFILE \"a.bin\" 588\n", "mm:ss:ff"},
        {"TRACK AUDIO\nFILE \"a.bin\" 0 00:01:00\nSTART 00:02:00\n", "beyond the end"},
        {"TRACK AUDIO\nTRACK AUDIO\nFILE \"a.bin\" 0\n", "track 1 has no FILE"},
        {"TRACK AUDIO\nFILE \"a.bin\" 0\nFILE \"a.bin\" 0\n", "more than one FILE"},
        {"COPY\n", "outside a track"},
    };
    for (const auto& [text, why] : cases) {
        const TImageDescription toc = ParseTocFile(text);
        EXPECT_TRUE(toc.Problem.contains(why)) << text.constData() << " -> " << qPrintable(toc.Problem);
    }
}

TEST(DiscImage, CanonicalCopyReadsBackTheSameTracks)
{
    TTempHome home;
    home.Write("disc.bin", QByteArray(2000 * CDFrameBytes, '\0'));
    home.Write("disc.cue",
               "FILE \"C:\\Rips\\disc.bin\" BINARY\nTRACK 01 AUDIO\nFLAGS 4CH\nINDEX 00 00:00:00\n"
               "INDEX 01 00:01:00\nTRACK 02 AUDIO\nINDEX 01 00:10:00\n");
    const TDiscImage cue = LoadDiscImage(home.File("disc.cue"));
    ASSERT_TRUE(cue.IsValid()) << qPrintable(cue.Problem);
    EXPECT_EQ(cue.DataPath, home.File("disc.bin")); // found beside the sheet
    EXPECT_EQ(cue.LeadOut, 2000);
    const TImageDescription again = ParseCueSheet(cue.CanonicalDescription("x.bin"));
    ASSERT_TRUE(again.IsAccepted()) << qPrintable(again.Problem);
    EXPECT_EQ(Starts(again), (std::vector<qint64>{75, 750}));
    EXPECT_TRUE(again.Tracks[0].FourChannel);
    EXPECT_EQ(again.Tracks[0].PregapStart, 0);

    home.Write("disc.toc",
               "TRACK AUDIO\nFILE \"disc.bin\" 0 00:05:00\nTRACK AUDIO\nFILE \"disc.bin\" 00:05:00\n"
               "START 00:01:00\n");
    const TDiscImage toc = LoadDiscImage(home.File("disc.toc"));
    ASSERT_TRUE(toc.IsValid()) << qPrintable(toc.Problem);
    const TImageDescription tocAgain = ParseTocFile(toc.CanonicalDescription("/x/disc.bin"));
    ASSERT_TRUE(tocAgain.IsAccepted()) << qPrintable(tocAgain.Problem);
    EXPECT_EQ(Starts(tocAgain), (std::vector<qint64>{0, 450}));
    // The last track's length is written out.
    EXPECT_EQ(tocAgain.Tracks[1].Length, 2000 - 375);
}

TEST(DiscImage, DataFileMustBeRawSectorsOfFittingSize)
{
    TTempHome home;
    home.Write("wave.bin", QByteArray("RIFF\0\0\0\0WAVEfmt ", 16) + QByteArray(5000, '\0'));
    home.Write("wave.cue", "FILE \"wave.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
    EXPECT_TRUE(LoadDiscImage(home.File("wave.cue")).Problem.contains("WAV file"));

    home.Write("tiny.bin", QByteArray(100, '\0'));
    home.Write("tiny.cue", "FILE \"tiny.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
    EXPECT_TRUE(LoadDiscImage(home.File("tiny.cue")).Problem.contains("no whole sector"));

    home.Write("short.bin", QByteArray(100 * CDFrameBytes, '\0'));
    home.Write("short.toc", "TRACK AUDIO\nFILE \"short.bin\" 0 00:02:00\n");
    EXPECT_TRUE(LoadDiscImage(home.File("short.toc")).Problem.contains("run past the end"));

    // Longer than any CD: a sparse file of 100 minutes.
    QFile huge(home.File("huge.bin"));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    ASSERT_TRUE(huge.resize(qint64(100) * 60 * 75 * CDFrameBytes));
    huge.close();
    home.Write("huge.cue", "FILE \"huge.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
    EXPECT_TRUE(LoadDiscImage(home.File("huge.cue")).Problem.contains("longer than a CD"));
}
