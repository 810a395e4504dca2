#include "core/ini_file.h"

#include "support/temp_home.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TIniFile FromText(const QByteArray& text)
{
    TIniFile ini;
    ini.LoadFromBytes(text);
    return ini;
}

} // namespace

TEST(IniFile, NamesCompareWithoutCaseAndValuesAreTrimmedAfterTheFirstEquals)
{
    const TIniFile ini = FromText("[Mp3Options]\n  BitRate =  192  \nformula= a=b \n[other]\nx=1\n");
    EXPECT_EQ(ini.ReadString("mp3options", "BITRATE", "d"), "192");
    EXPECT_EQ(ini.ReadString("Mp3Options", "Formula", "d"), "a=b");
    EXPECT_EQ(ini.ReadString("Mp3Options", "x", "d"), "d"); // belongs to [other]
    EXPECT_EQ(ini.ReadString("missing", "BitRate", "d"), "d");
}

TEST(IniFile, FirstOfDuplicateSectionsAndKeysWins)
{
    const TIniFile ini = FromText("[A]\nk=first\nk=second\n[a]\nk=third\nonly=here\n");
    EXPECT_EQ(ini.ReadString("A", "k", ""), "first");
    // The second [a] is hidden behind the first, as a profile reader sees it.
    EXPECT_EQ(ini.ReadString("A", "only", "none"), "none");
    EXPECT_EQ(ini.Sections(), QStringList{"A"});
}

TEST(IniFile, IntegersAreDecimalOrHexAndAnythingElseGivesTheDefault)
{
    const TIniFile ini = FromText("[n]\na=12\nb=-3\nc=0x1F\nd=0XfF\ne=abc\nf=12abc\ng=\n"
                                  "h=99999999999\ni=0xFFFFFFFF\nj=+7\nk=0x\nl=2147483647\nm=-2147483648\n");
    const auto read = [&](const char* key) { return ini.ReadInteger("n", key, 555); };
    EXPECT_EQ(read("a"), 12);
    EXPECT_EQ(read("b"), -3);
    EXPECT_EQ(read("c"), 31);
    EXPECT_EQ(read("d"), 255);
    EXPECT_EQ(read("e"), 555);
    EXPECT_EQ(read("f"), 555);
    EXPECT_EQ(read("g"), 555);
    EXPECT_EQ(read("h"), 555);
    EXPECT_EQ(read("i"), -1);
    EXPECT_EQ(read("j"), 7);
    EXPECT_EQ(read("k"), 555);
    EXPECT_EQ(read("l"), 2147483647);
    EXPECT_EQ(read("m"), -2147483647 - 1);
    EXPECT_EQ(read("missing"), 555);
}

TEST(IniFile, BooleansAreIntegersAndNonZeroIsTrue)
{
    const TIniFile ini = FromText("[b]\non=1\nother=2\noff=0\nword=yes\n");
    EXPECT_TRUE(ini.ReadBool("b", "on", false));
    EXPECT_TRUE(ini.ReadBool("b", "other", false));
    EXPECT_FALSE(ini.ReadBool("b", "off", true));
    EXPECT_TRUE(ini.ReadBool("b", "word", true));
    EXPECT_FALSE(ini.ReadBool("b", "word", false));
}

TEST(IniFile, LongValuesAreCutAt2047CharactersWithoutSplittingACharacter)
{
    const QByteArray ascii(5000, 'x');
    EXPECT_EQ(FromText("[s]\nk=" + ascii + "\n").ReadString("s", "k", "").size(), 2047);
    // 2046 letters then a character outside the BMP (a surrogate pair) straddling the cut.
    const QByteArray straddling = QByteArray(2046, 'y') + "\xF0\x9F\x8E\xB5" + "zzz";
    const QString value = FromText("[s]\nk=" + straddling + "\n").ReadString("s", "k", "");
    EXPECT_EQ(value.size(), 2046);
    EXPECT_FALSE(value.back().isHighSurrogate());
}

TEST(IniFile, ReadsUtf8WithOrWithoutBomAndFallsBackToLatin1)
{
    EXPECT_EQ(FromText("\xEF\xBB\xBF[s]\nk=Caf\xC3\xA9\n").ReadString("s", "k", ""), "Café");
    EXPECT_EQ(FromText("[s]\nk=Caf\xC3\xA9\n").ReadString("s", "k", ""), "Café");
    EXPECT_EQ(FromText("[s]\nk=Caf\xE9 \xFC\n").ReadString("s", "k", ""), "Café ü");
    EXPECT_EQ(FromText("[s]\r\nk=crlf\r\n[t]\rk=cr\r").ReadString("t", "k", ""), "cr");
    EXPECT_EQ(FromText("[s]\r\nk=crlf\r\n").ReadString("s", "k", ""), "crlf");
}

TEST(IniFile, WritingKeepsUnknownLinesAndTheFileOrder)
{
    const QByteArray original = "; written by hand\n"
                                "stray line without equals\n"
                                "[CommonOptions]\n"
                                "OutputFormat=1\n"
                                "# a comment\n"
                                "Unknown = kept as is \n"
                                "\n"
                                "[Plugin]\n"
                                "Path=/opt/x\n";
    TIniFile ini = FromText(original);
    ini.WriteInteger("commonoptions", "outputformat", 2);
    ini.WriteBool("CommonOptions", "IsKeepWav", true);
    ini.WriteString("New", "Key", "value");
    EXPECT_EQ(ini.ToBytes(), "; written by hand\n"
                             "stray line without equals\n"
                             "[CommonOptions]\n"
                             "OutputFormat=2\n"
                             "# a comment\n"
                             "Unknown = kept as is \n"
                             "IsKeepWav=1\n"
                             "\n"
                             "[Plugin]\n"
                             "Path=/opt/x\n"
                             "\n"
                             "[New]\n"
                             "Key=value\n");
}

TEST(IniFile, AValueIsOneLineAndReadsBackAsWritten)
{
    TIniFile ini;
    ini.WriteString("Disc", "1", "first\r\nsecond\nthird\rfourth");
    ini.WriteString("Disc", "2", "He said \"hi\"; [x] = y / z");
    ini.WriteString("Disc", "3", "");
    const TIniFile reread = FromText(ini.ToBytes());
    EXPECT_EQ(reread.ReadString("Disc", "1", ""), "first second third fourth");
    EXPECT_EQ(reread.ReadString("Disc", "2", ""), "He said \"hi\"; [x] = y / z");
    EXPECT_TRUE(reread.HasKey("Disc", "3"));
    EXPECT_EQ(reread.ReadString("Disc", "3", "default"), "");
    EXPECT_EQ(reread.Keys("disc"), (QStringList{"1", "2", "3"}));
}

TEST(IniFile, SaveReplacesTheFileAndCreatesItsFolder)
{
    TTempHome home;
    TIniFile ini;
    ini.WriteString("s", "k", "v");
    ASSERT_TRUE(ini.Save(home.File("sub/dir/options.ini")));
    EXPECT_EQ(home.Read("sub/dir/options.ini"), "[s]\nk=v\n");
    ini.WriteString("s", "k", "w");
    ASSERT_TRUE(ini.Save(home.File("sub/dir/options.ini")));
    EXPECT_EQ(home.Read("sub/dir/options.ini"), "[s]\nk=w\n");
    EXPECT_EQ(QDir(home.File("sub/dir")).entryList(QDir::Files | QDir::Hidden), QStringList{"options.ini"});
}

TEST(IniFile, ASaveThatFailsHalfwayLeavesThePreviousFileWhole)
{
    TTempHome home;
    const QByteArray previous = "[keep]\nme=1\n";
    home.Write("options.ini", previous);
    const QString path = home.File("options.ini");

    // A child process with a 4 KiB file-size limit tries to write 200 KiB: the
    // write fails partway, as on a full disk.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        TIniFile big;
        big.WriteString("big", "value", QString(200000, QLatin1Char('z')));
        for (int i = 0; i < 100; ++i)
            big.WriteString("big", QString::number(i), QString(2000, QLatin1Char('q')));
        _exit(big.Save(path) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed save must report failure";
    EXPECT_EQ(home.Read("options.ini"), previous);
    EXPECT_EQ(QDir(home.Path()).entryList(QDir::Files | QDir::Hidden), QStringList{"options.ini"});
}

TEST(IniFile, LoadReportsAMissingOrUnreadableFile)
{
    TTempHome home;
    TIniFile ini;
    EXPECT_FALSE(ini.Load(home.File("missing.ini")));
    EXPECT_FALSE(ini.Load(home.Path())); // a folder is not a file
    EXPECT_TRUE(ini.Sections().isEmpty());
}

TEST(IniFile, BinaryAndTruncatedInputNeverBreaksReading)
{
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk.append(static_cast<char>((i * 7919) & 0xFF));
    TIniFile ini = FromText(junk + "\n[s]\nk=v\n[trunc");
    EXPECT_EQ(ini.ReadString("s", "k", ""), "v");
    EXPECT_TRUE(ini.HasSection("trunc"));
    ini.WriteString("trunc", "added", "1");
    EXPECT_EQ(FromText(ini.ToBytes()).ReadString("trunc", "added", ""), "1");
}

// Each line is decoded on its own, and a save writes back the bytes of every
// line it did not change: a Latin-1 line from an older program neither garbles
// its UTF-8 neighbours nor gets re-encoded itself.
TEST(IniDecoding, EachLineKeepsItsOwnEncodingAndBytes)
{
    struct TCase {
        const char* Name;
        QByteArray File;
        const char* Key;
        QString Read;
    };
    const QByteArray mixed = "\xEF\xBB\xBF[a]\r\nu=Bj\xC3\xB6rk\r\nl=Mot\xF6rhead\r\n; caf\xE9\r\nlast=  x  ";
    const TCase cases[] = {
        {"UTF-8 line beside Latin-1 ones", mixed, "u", "Björk"},
        {"Latin-1 line beside UTF-8 ones", mixed, "l", "Motörhead"},
        {"a lone byte that is not UTF-8", "[a]\nk=\xFF\n", "k", "ÿ"},
        {"a cut-off UTF-8 sequence", "[a]\nk=\xC3\n", "k", "Ã"},
        {"last line without a break", mixed, "last", "x"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TIniFile ini = FromText(c.File);
        EXPECT_EQ(ini.ReadString("a", c.Key, "?"), c.Read);
        // Nothing changed: the very same bytes, breaks and mark included,
        // also after writing back every value as it reads.
        EXPECT_EQ(ini.ToBytes(), c.File);
        for (const QString& key : ini.Keys("a"))
            ini.WriteString("a", key, ini.ReadString("a", key, ""));
        EXPECT_EQ(ini.ToBytes(), c.File);
    }

    // A changed line is written in UTF-8 with the file's own break, and reads
    // back as written; every other line keeps its bytes.
    TIniFile ini = FromText(mixed);
    ini.WriteString("a", "l", "Motörhead Live");
    ini.WriteString("a", "new", "Ünïcødé");
    const QByteArray expected =
        "\xEF\xBB\xBF[a]\r\nu=Bj\xC3\xB6rk\r\nl=Mot\xC3\xB6rhead Live\r\n; caf\xE9\r\n"
        "last=  x  \r\nnew=\xC3\x9Cn\xC3\xAF\x63\xC3\xB8\x64\xC3\xA9\r\n";
    EXPECT_EQ(ini.ToBytes(), expected);
    const TIniFile reread = FromText(ini.ToBytes());
    EXPECT_EQ(reread.ReadString("a", "l", ""), "Motörhead Live");
    EXPECT_EQ(reread.ReadString("a", "u", ""), "Björk");
    EXPECT_EQ(reread.ReadString("a", "new", ""), "Ünïcødé");

    // A value longer than a value may be reads cut; written back as read it
    // is no change either.
    const QByteArray longLine = "[a]\nk=" + QByteArray(3000, 'w') + "\n";
    TIniFile cut = FromText(longLine);
    cut.WriteString("a", "k", cut.ReadString("a", "k", ""));
    EXPECT_EQ(cut.ToBytes(), longLine);
}

// A FIFO, a device or a folder in place of an INI file is refused without being
// opened for reading, so loading never waits for a writer or reads without end.
TEST(IniDecoding, OnlyRegularFilesAreRead)
{
    TTempHome home;
    ASSERT_EQ(::mkfifo(QFile::encodeName(home.File("fifo.ini")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/zero", home.File("zero.ini")));
    home.Write("real.ini", "[s]\nk=v\n");
    ASSERT_TRUE(QFile::link(home.File("real.ini"), home.File("link.ini")));
    struct TCase {
        const char* Name;
        bool Refused;
    };
    for (const TCase c : {TCase{"fifo.ini", true}, TCase{"zero.ini", true}, TCase{"", true},
                          TCase{"real.ini", false}, TCase{"link.ini", false}, TCase{"missing.ini", false}}) {
        SCOPED_TRACE(c.Name);
        const QString path = QString(c.Name).isEmpty() ? home.Path() : home.File(c.Name);
        EXPECT_EQ(TIniFile::IsNotAFile(path), c.Refused);
        TIniFile ini;
        const bool loaded = ini.Load(path);
        EXPECT_EQ(loaded, !c.Refused && QFileInfo::exists(path));
        EXPECT_EQ(ini.ReadString("s", "k", ""), loaded ? "v" : "");
    }
}
