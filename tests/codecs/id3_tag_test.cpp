#include "codec_fixtures.h"
#include "codecs/id3_tag.h"
#include "support/small_disk.h"
#include "support/temp_home.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

QByteArray Audio(int size)
{
    QByteArray audio(size, '\0');
    for (int i = 0; i < size; ++i)
        audio[i] = static_cast<char>(0xFF - i % 7);
    return audio;
}

} // namespace

TEST(Id3Tag, AppendsATagToAFileWithoutOne)
{
    TTempHome home;
    home.Write("song.mp3", Audio(100));
    Tid3tag tag;
    EXPECT_EQ(tag.ReadTag(home.File("song.mp3")), Tid3tag::NoTag);
    EXPECT_EQ(tag.FileName, home.File("song.mp3"));

    Tid3tag fresh;
    fresh.SetTitle("Title");
    EXPECT_EQ(fresh.WriteTag(home.File("song.mp3")), 0);
    const QByteArray bytes = home.Read("song.mp3");
    ASSERT_EQ(bytes.size(), 228);
    EXPECT_EQ(bytes.left(100), Audio(100));
    EXPECT_EQ(bytes.mid(100), Id3Block("Title", {}, 255));
    EXPECT_EQ(fresh.FileName, home.File("song.mp3"));

    // Writing again overwrites the tag in place.
    fresh.SetArtist("Someone");
    fresh.Genre = 17;
    EXPECT_EQ(fresh.WriteTag("="), 0);
    EXPECT_EQ(home.Read("song.mp3").size(), 228);
    EXPECT_EQ(home.Read("song.mp3").mid(100), Id3Block("Title", {}, 17, "Someone"));

    // Removing cuts it off again.
    EXPECT_EQ(fresh.RemoveTag(), 0);
    EXPECT_EQ(home.Read("song.mp3"), Audio(100));
    EXPECT_EQ(fresh.RemoveTag(), 0);
    EXPECT_EQ(home.Read("song.mp3"), Audio(100));
}

TEST(Id3Tag, ReadsTheTrackVariantAndWritesItBackUnchanged)
{
    TTempHome home;
    QByteArray comment = QByteArray("Twenty-eight characters lon").leftJustified(30, '\0');
    comment[29] = 7;
    const QByteArray block = Id3Block("Song", comment, 13, "Artist", "Album", "1999");
    home.Write("track.mp3", Audio(500) + block);

    Tid3tag tag;
    ASSERT_EQ(tag.ReadTag(home.File("track.mp3")), 0);
    EXPECT_TRUE(tag.HasTrack);
    EXPECT_EQ(tag.Track, 7);
    EXPECT_EQ(tag.Title, "Song");
    EXPECT_EQ(tag.Artist, "Artist");
    EXPECT_EQ(tag.Album, "Album");
    EXPECT_EQ(tag.Year, "1999");
    EXPECT_EQ(tag.Comment, "Twenty-eight characters lon");
    EXPECT_EQ(tag.Genre, 13);
    EXPECT_EQ(tag.WriteTag("="), 0);
    EXPECT_EQ(home.Read("track.mp3"), Audio(500) + block);

    // Byte 125 zero and byte 126 zero: no track, the comment is all 30 bytes.
    home.Write("plain.mp3", Audio(10) + Id3Block("x", "Comment", 0));
    Tid3tag plain;
    ASSERT_EQ(plain.ReadTag(home.File("plain.mp3")), 0);
    EXPECT_FALSE(plain.HasTrack);
    EXPECT_EQ(plain.Track, 0);
    EXPECT_EQ(plain.Comment, "Comment");

    // A comment of 30 characters with a track number is cut to 28.
    plain.SetComment("123456789012345678901234567890");
    plain.SetTrack(12);
    ASSERT_EQ(plain.WriteTag("="), 0);
    const QByteArray written = home.Read("plain.mp3").right(128);
    EXPECT_EQ(written.mid(97, 28), "1234567890123456789012345678");
    EXPECT_EQ(written[125], '\0');
    EXPECT_EQ(written[126], 12);
    // SetTrack(0) gives the 30-byte comment back.
    plain.SetTrack(0);
    EXPECT_FALSE(plain.HasTrack);
    ASSERT_EQ(plain.WriteTag("="), 0);
    EXPECT_EQ(home.Read("plain.mp3").right(128).mid(97, 30), "123456789012345678901234567890");
}

TEST(Id3Tag, TrimsTrailingBlanksZerosAndFFBytes)
{
    TTempHome home;
    QByteArray title = "Hello   ";
    title += QByteArray(5, '\xFF');
    home.Write("pad.mp3", Audio(64) + Id3Block(title, "  note \xFF", 255));
    Tid3tag tag;
    ASSERT_EQ(tag.ReadTag(home.File("pad.mp3")), 0);
    EXPECT_EQ(tag.Title, "Hello");
    EXPECT_EQ(tag.Comment, "  note");
    ASSERT_EQ(tag.WriteTag("="), 0);
    EXPECT_EQ(home.Read("pad.mp3").right(128), Id3Block("Hello", "  note", 255));
}

TEST(Id3Tag, FlagsUnknownGenresAndStillSucceeds)
{
    TTempHome home;
    home.Write("genre.mp3", Id3Block("t", "c", 200));
    Tid3tag tag;
    const uint16_t result = tag.ReadTag(home.File("genre.mp3"));
    EXPECT_EQ(result, Tid3tag::UnknownGenreFlag);
    EXPECT_LT(result, 256);
    EXPECT_EQ(tag.Genre, 200);
    EXPECT_EQ(tag.Title, "t");

    home.Write("none.mp3", Id3Block("t", "c", 255));
    EXPECT_EQ(tag.ReadTag(home.File("none.mp3")), 0);
    home.Write("last.mp3", Id3Block("t", "c", 147));
    EXPECT_EQ(tag.ReadTag(home.File("last.mp3")), 0);
}

TEST(Id3Tag, HandlesBadFilesWithoutLosingAnything)
{
    TTempHome home;
    Tid3tag tag;
    tag.SetTitle("unchanged");

    // Missing file and a directory: not found, nothing changed.
    EXPECT_EQ(tag.ReadTag(home.File("missing.mp3")), Tid3tag::FileNotFound);
    EXPECT_EQ(tag.WriteTag(home.File("missing.mp3")), Tid3tag::FileNotFound);
    EXPECT_FALSE(QFileInfo::exists(home.File("missing.mp3")));
    ASSERT_TRUE(QDir(home.Path()).mkdir("folder.mp3"));
    EXPECT_EQ(tag.ReadTag(home.File("folder.mp3")), Tid3tag::FileNotFound);
    EXPECT_EQ(tag.WriteTag(home.File("folder.mp3")), Tid3tag::FileNotFound);
    EXPECT_EQ(tag.Title, "unchanged");
    EXPECT_TRUE(tag.FileName.isEmpty());

    // An empty file has no tag; a tag is appended to it.
    home.Write("empty.mp3", "");
    EXPECT_EQ(tag.ReadTag(home.File("empty.mp3")), Tid3tag::NoTag);
    EXPECT_EQ(tag.Title, "unchanged");
    EXPECT_EQ(tag.WriteTag("="), 0);
    EXPECT_EQ(home.Read("empty.mp3").size(), 128);

    // A file that is nothing but a tag is read as one.
    home.Write("only.mp3", "TAG" + QByteArray(125, 'A'));
    ASSERT_EQ(tag.ReadTag(home.File("only.mp3")), 0);
    EXPECT_EQ(tag.Title, QString(30, 'A'));
    EXPECT_EQ(tag.Year, "AAAA");
    EXPECT_EQ(tag.Comment, QString(30, 'A'));
    EXPECT_EQ(tag.Genre, 'A');
    EXPECT_EQ(tag.WriteTag("="), 0);
    EXPECT_EQ(home.Read("only.mp3").size(), 128);

    // Every byte 0xFF: all text is padding, the genre is "none".
    home.Write("ff.mp3", Audio(300) + "TAG" + QByteArray(125, '\xFF'));
    ASSERT_EQ(tag.ReadTag(home.File("ff.mp3")), 0);
    EXPECT_TRUE(tag.Title.isEmpty());
    EXPECT_TRUE(tag.Artist.isEmpty());
    EXPECT_TRUE(tag.Comment.isEmpty());
    EXPECT_TRUE(tag.Year.isEmpty());
    EXPECT_FALSE(tag.HasTrack);
    EXPECT_EQ(tag.Genre, 255);

    // 127 bytes of "TAG..." is too short to be a tag.
    home.Write("short.mp3", "TAG" + QByteArray(124, 'x'));
    EXPECT_EQ(tag.ReadTag(home.File("short.mp3")), Tid3tag::NoTag);
}

TEST(Id3Tag, LeavesReadOnlyFilesAlone)
{
    TTempHome home;
    const QByteArray bytes = Audio(200) + Id3Block("Locked", "", 5);
    home.Write("ro.mp3", bytes);
    const QString path = home.File("ro.mp3");
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

    Tid3tag tag;
    EXPECT_EQ(tag.ReadTag(path), 0);
    EXPECT_EQ(tag.Title, "Locked");
    tag.SetTitle("Changed");
    EXPECT_EQ(tag.WriteTag("="), Tid3tag::FileReadOnly);
    EXPECT_EQ(tag.RemoveTag(), Tid3tag::FileReadOnly);
    EXPECT_FALSE(tag.LastError.Text().isEmpty());
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(home.Read("ro.mp3"), bytes);
}

TEST(Id3Tag, AFailedAppendGivesTheFileItsLengthBack)
{
    TTempHome home;
    home.Write("full.mp3", Audio(4000));
    Tid3tag tag;
    tag.SetTitle("Too much");
    // The disk "fills up" 60 bytes into the tag.
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = 4060;
    setrlimit(RLIMIT_FSIZE, &limit);
    const uint16_t result = tag.WriteTag(home.File("full.mp3"));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(result, Tid3tag::WriteError);
    EXPECT_EQ(home.Read("full.mp3"), Audio(4000));
    EXPECT_TRUE(tag.FileName.isEmpty());
}

TEST(Id3Tag, AFailedOverwritePutsTheOldTagBack)
{
    TTempHome home;
    const QByteArray bytes = Audio(4000) + Id3Block("Old", "", 5);
    home.Write("full.mp3", bytes);
    Tid3tag tag;
    tag.SetTitle("New title");
    uint16_t result = 0;
    {
        // Writes stop 60 bytes into the tag.
        const TFileSizeLimit limit(4060);
        result = tag.WriteTag(home.File("full.mp3"));
    }
    EXPECT_EQ(result, Tid3tag::WriteError);
    EXPECT_EQ(tag.LastError.ErrorNumber(), EFBIG);
    EXPECT_EQ(home.Read("full.mp3"), bytes);
}

// A link the user picked leads to the file to tag; the link stays a link.
TEST(Id3Tag, WritesThroughALinkToAnMp3)
{
    TTempHome home;
    home.Write("music/song.mp3", Audio(300));
    ASSERT_TRUE(QFile::link(home.File("music/song.mp3"), home.File("link.mp3")));
    Tid3tag tag;
    tag.SetTitle("Linked");
    ASSERT_EQ(tag.WriteTag(home.File("link.mp3")), 0);
    EXPECT_EQ(home.Read("music/song.mp3"), Audio(300) + Id3Block("Linked", "", 255));
    EXPECT_TRUE(QFileInfo(home.File("link.mp3")).isSymLink());
    EXPECT_EQ(tag.RemoveTag(), 0);
    EXPECT_EQ(home.Read("music/song.mp3"), Audio(300));
}

TEST(Id3Tag, WritesLatin1WhereItFitsAndUtf8Otherwise)
{
    TTempHome home;
    home.Write("text.mp3", Audio(10));
    Tid3tag tag;
    tag.SetTitle("Beyoncé");
    tag.SetArtist(QString::fromUtf8("Дождь над городом и морем весь день")); // 35 letters, 64 bytes
    tag.SetAlbum("Ã©"); // Latin-1 bytes C3 A9 would read back as "é"
    tag.SetComment("日本語");
    ASSERT_EQ(tag.WriteTag(home.File("text.mp3")), 0);
    const QByteArray block = home.Read("text.mp3").right(128);
    EXPECT_EQ(block.mid(3, 8), QByteArray("Beyonc\xE9\0", 8));
    // Cyrillic needs UTF-8, cut where the next letter would not fit whole.
    EXPECT_EQ(block.mid(33, 30), QString::fromUtf8("Дождь над городо").toUtf8());
    EXPECT_EQ(block.mid(63, 4), QByteArray("\xC3\x83\xC2\xA9"));

    Tid3tag back;
    ASSERT_EQ(back.ReadTag(home.File("text.mp3")), 0);
    EXPECT_EQ(back.Title, "Beyoncé");
    EXPECT_EQ(back.Artist, QString::fromUtf8("Дождь над городо"));
    EXPECT_EQ(back.Album, "Ã©");
    EXPECT_EQ(back.Comment, "日本語");

    // Windows-1252/Latin-1 bytes from another program read as Latin-1.
    home.Write("latin.mp3", Id3Block("Caf\xE9 M\xFCller", "", 255));
    ASSERT_EQ(back.ReadTag(home.File("latin.mp3")), 0);
    EXPECT_EQ(back.Title, "Café Müller");
}

TEST(Id3Tag, WrittenTagsReadRightInIndependentReaders)
{
    TTempHome home;
    home.Write("song.mp3", Audio(1000));
    Tid3tag tag;
    tag.SetTitle("Größte Hits — a very long title indeed");
    tag.SetArtist("Mötley");
    tag.SetAlbum("Album");
    tag.SetYear("19845");
    tag.SetComment("Ripped");
    tag.SetTrack(9);
    tag.Genre = 17;
    ASSERT_EQ(tag.WriteTag(home.File("song.mp3")), 0);

    const QJsonObject fields = MutagenFields(home.File("song.mp3"));
    // "—" is not Latin-1: the title goes as UTF-8 cut to whole characters, which
    // mutagen reads as Latin-1 bytes.
    EXPECT_EQ(fields["TPE1"].toString(), "Mötley");
    EXPECT_EQ(fields["TALB"].toString(), "Album");
    EXPECT_EQ(fields["TDRC"].toString(), "1984");
    EXPECT_EQ(fields["COMM"].toString(), "Ripped");
    EXPECT_EQ(fields["TRCK"].toString(), "9");
    EXPECT_EQ(fields["TCON"].toString(), "17");
    EXPECT_EQ(fields["TIT2"].toString().toLatin1(),
              QString("Größte Hits — a very long title").toUtf8().left(30).trimmed())
        << fields["TIT2"].toString().toStdString();

    const TRunResult id3v2 = RunProgram("id3v2", {"-l", home.File("song.mp3")});
    ASSERT_EQ(id3v2.ExitCode, 0) << id3v2.Output.toStdString();
    const QString listing = QString::fromLatin1(id3v2.Output);
    EXPECT_TRUE(listing.contains("Artist: Mötley")) << listing.toStdString();
    EXPECT_TRUE(listing.contains("Album  : Album")) << listing.toStdString();
    EXPECT_TRUE(listing.contains("Year: 1984, Genre: Rock (17)")) << listing.toStdString();
    EXPECT_TRUE(listing.contains("Track: 9")) << listing.toStdString();
}

TEST(Id3Tag, ReadsTagsWrittenByAnotherProgram)
{
    TTempHome home;
    const QString path = home.File("other.mp3");
    home.Write("other.mp3", Audio(2000));
    const TRunResult run = RunProgram("id3v2", {"-1", "-t", "Hello Wörld", "-a", "The Band", "-A", "Live",
                                                "-y", "2003", "-c", "Nice", "-T", "7", "-g", "80", path});
    ASSERT_EQ(run.ExitCode, 0) << run.Output.toStdString();
    Tid3tag tag;
    ASSERT_EQ(tag.ReadTag(path), 0);
    EXPECT_EQ(tag.Title, "Hello Wörld");
    EXPECT_EQ(tag.Artist, "The Band");
    EXPECT_EQ(tag.Album, "Live");
    EXPECT_EQ(tag.Year, "2003");
    EXPECT_EQ(tag.Comment, "Nice");
    EXPECT_TRUE(tag.HasTrack);
    EXPECT_EQ(tag.Track, 7);
    EXPECT_EQ(tag.Genre, 80);

    // Our rewrite of it reads the same in the other program.
    tag.SetAlbum("Live at Home");
    ASSERT_EQ(tag.WriteTag("="), 0);
    EXPECT_EQ(QFileInfo(path).size(), 2000 + 128);
    const QString listing = QString::fromLatin1(RunProgram("id3v2", {"-l", path}).Output);
    EXPECT_TRUE(listing.contains("Title  : Hello Wörld")) << listing.toStdString();
    EXPECT_TRUE(listing.contains("Album  : Live at Home")) << listing.toStdString();
}
