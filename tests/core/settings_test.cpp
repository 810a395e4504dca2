#include "core/disc_info.h"
#include "core/ini_file.h"
#include "core/program_folder.h"
#include "core/settings.h"

#include "support/temp_home.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

#include <csignal>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(Settings, MissingFileGivesEveryDefault)
{
    TTempHome home;
    LoadSettings();
    const TAppSettings& s = AppSettings();
    EXPECT_EQ(s.OutputFolder, home.Path() + "/Output");
    EXPECT_EQ(s.OutputFormat, 0);
    EXPECT_FALSE(s.KeepWav);
    EXPECT_FALSE(s.Normalize);
    EXPECT_EQ(s.NormalizePercent, 95);
    EXPECT_FALSE(s.EnableRipTime);
    EXPECT_EQ(s.RipTime, 0);
    EXPECT_FALSE(s.Mp3Vbr);
    EXPECT_FALSE(s.Mp3NoVbrTag);
    EXPECT_EQ(s.Mp3BitRate, 128);
    EXPECT_EQ(s.Mp3MaxBitRate, 320);
    EXPECT_EQ(s.Mp3Quality, 0);
    EXPECT_EQ(s.Mp3VbrQuality, 4);
    EXPECT_EQ(s.Mp3StereoMode, 1);
    EXPECT_TRUE(s.OggUseQuality);
    EXPECT_EQ(s.OggQuality, 30);
    EXPECT_EQ(s.OggMaxBitRate, 0);
    EXPECT_EQ(s.OggNominalBitRate, 0);
    EXPECT_EQ(s.OggMinBitRate, 0);
    EXPECT_EQ(s.WmaSetting, 8);
    EXPECT_EQ(s.DriveIndex, -1);
    EXPECT_FALSE(s.UseCddb);
    EXPECT_FALSE(s.RecordToMp3);
    EXPECT_EQ(s.CddbServer, "gnudb.gnudb.org");
    EXPECT_EQ(s.CddbScript, "/~cddb/cddb.cgi");
    EXPECT_FALSE(s.CddbUseProxy);
    EXPECT_EQ(s.CddbProxyAddress, "");
    EXPECT_EQ(s.CddbProxyPort, "80");
    EXPECT_FALSE(s.UseId3);
    EXPECT_EQ(s.Language, "English");
    // The folder is only a default: nothing is created at load time.
    EXPECT_FALSE(QDir(s.OutputFolder).exists());
}

TEST(Settings, OggQualityIsTheOneClampAndTheClampedValueIsSaved)
{
    for (const auto& [stored, expected] : {std::pair{"5", 30}, {"250", 100}, {"64", 64}, {"x", 30}}) {
        TTempHome home;
        home.Write("options.ini", QByteArray("[OggOptions]\nCompressPosition=") + stored + "\n");
        LoadSettings();
        EXPECT_EQ(AppSettings().OggQuality, expected) << stored;
        ASSERT_TRUE(SaveSettings());
        TIniFile saved;
        saved.Load(home.File("options.ini"));
        EXPECT_EQ(saved.ReadInteger("OggOptions", "CompressPosition", -1), expected) << stored;
    }
}

TEST(Settings, OtherValuesAreNotValidatedAndBadNumbersGiveDefaults)
{
    TTempHome home;
    home.Write("options.ini", "[Mp3Options]\nBitRate=abc\nStereoMode=42\n"
                              "[CommonOptions]\nIsNormalize=2\nRipTime=-100\nNormalizePercent=400\n"
                              "[WMAOptions]\nBitRate=77\n");
    LoadSettings();
    EXPECT_EQ(AppSettings().Mp3BitRate, 128);
    EXPECT_EQ(AppSettings().Mp3StereoMode, 42);
    EXPECT_TRUE(AppSettings().Normalize);
    EXPECT_EQ(AppSettings().RipTime, -100);
    EXPECT_EQ(AppSettings().NormalizePercent, 400);
    EXPECT_EQ(AppSettings().WmaSetting, 77);
    ASSERT_TRUE(SaveSettings());
    TIniFile saved;
    saved.Load(home.File("options.ini"));
    EXPECT_EQ(saved.ReadString("CommonOptions", "IsNormalize", ""), "1");
    EXPECT_EQ(saved.ReadString("Mp3Options", "BitRate", ""), "128");
}

TEST(Settings, EveryFieldSurvivesASaveAndLoad)
{
    TTempHome home;
    TAppSettings& s = AppSettings();
    s.OutputFolder = "/music/ripped by \"me\"";
    s.OutputFormat = 2;
    s.KeepWav = true;
    s.Normalize = true;
    s.NormalizePercent = 80;
    s.EnableRipTime = true;
    s.RipTime = 90;
    s.Mp3Vbr = true;
    s.Mp3NoVbrTag = true;
    s.Mp3BitRate = 192;
    s.Mp3MaxBitRate = 256;
    s.Mp3Quality = 2;
    s.Mp3VbrQuality = 7;
    s.Mp3StereoMode = 4;
    s.OggUseQuality = false;
    s.OggQuality = 55;
    s.OggMaxBitRate = 3;
    s.OggNominalBitRate = 2;
    s.OggMinBitRate = 1;
    s.WmaSetting = 31;
    s.DriveIndex = 1;
    s.UseCddb = true;
    s.RecordToMp3 = true;
    s.CddbServer = "cddb.example.org";
    s.CddbScript = "/cgi-bin/cddb.cgi";
    s.CddbUseProxy = true;
    s.CddbProxyAddress = "proxy.local";
    s.CddbProxyPort = "3128";
    s.UseId3 = true;
    s.Language = "German";
    const TAppSettings saved = s;
    ASSERT_TRUE(SaveSettings());
    s = TAppSettings{};
    LoadSettings();
    const TAppSettings& r = AppSettings();
    EXPECT_EQ(r.OutputFolder, saved.OutputFolder);
    EXPECT_EQ(r.OutputFormat, 2);
    EXPECT_TRUE(r.KeepWav && r.Normalize && r.EnableRipTime && r.Mp3Vbr && r.Mp3NoVbrTag);
    EXPECT_TRUE(r.UseCddb && r.RecordToMp3 && r.CddbUseProxy && r.UseId3);
    EXPECT_FALSE(r.OggUseQuality);
    EXPECT_EQ(r.NormalizePercent, 80);
    EXPECT_EQ(r.RipTime, 90);
    EXPECT_EQ(r.Mp3BitRate, 192);
    EXPECT_EQ(r.Mp3MaxBitRate, 256);
    EXPECT_EQ(r.Mp3Quality, 2);
    EXPECT_EQ(r.Mp3VbrQuality, 7);
    EXPECT_EQ(r.Mp3StereoMode, 4);
    EXPECT_EQ(r.OggQuality, 55);
    EXPECT_EQ(r.OggMaxBitRate, 3);
    EXPECT_EQ(r.OggNominalBitRate, 2);
    EXPECT_EQ(r.OggMinBitRate, 1);
    EXPECT_EQ(r.WmaSetting, 31);
    EXPECT_EQ(r.DriveIndex, 1);
    EXPECT_EQ(r.CddbServer, "cddb.example.org");
    EXPECT_EQ(r.CddbScript, "/cgi-bin/cddb.cgi");
    EXPECT_EQ(r.CddbProxyAddress, "proxy.local");
    EXPECT_EQ(r.CddbProxyPort, "3128");
    EXPECT_EQ(r.Language, "German");
}

TEST(Settings, TheFileIsWrittenInTableOrderWithItsExactKeys)
{
    TTempHome home;
    LoadSettings();
    ASSERT_TRUE(SaveSettings());
    TIniFile saved;
    saved.Load(home.File("options.ini"));
    EXPECT_EQ(saved.Sections(), (QStringList{"CommonOptions", "Mp3Options", "OggOptions", "WMAOptions",
                                             "CDOptions", "RecordOptions", "QueryCDDB", "ID3", "Options"}));
    EXPECT_EQ(saved.Keys("CommonOptions"),
              (QStringList{"OutputFolder", "OutputFormat", "IsKeepWav", "IsNormalize", "NormalizePercent",
                           "EnableRipTime", "RipTime"}));
    EXPECT_EQ(saved.Keys("OggOptions"),
              (QStringList{"IsUseCompress", "CompressPosition", "MaxBitRate", "NomalBitRate", "MinBitRate"}));
    EXPECT_EQ(saved.Keys("QueryCDDB"), (QStringList{"Server", "Script", "UseProxy", "ProxyAddress", "Port"}));
    EXPECT_EQ(saved.ReadString("CommonOptions", "OutputFolder", ""), home.Path() + "/Output");
}

TEST(Settings, UnknownSectionsKeysAndCommentsSurvive)
{
    TTempHome home;
    home.Write("options.ini", "; my notes\n[CommonOptions]\nOutputFormat=1\nFutureKey=abc\n"
                              "[Window]\nLeft=10\nTop=20\n");
    LoadSettings();
    AppSettings().OutputFormat = 3;
    ASSERT_TRUE(SaveSettings());
    const QByteArray text = home.Read("options.ini");
    EXPECT_TRUE(text.startsWith("; my notes\n[CommonOptions]\nOutputFormat=3\nFutureKey=abc\n"))
        << text.constData();
    TIniFile saved;
    saved.Load(home.File("options.ini"));
    EXPECT_EQ(saved.ReadInteger("Window", "Left", 0), 10);
    EXPECT_EQ(saved.ReadInteger("Window", "Top", 0), 20);
}

TEST(Settings, BinaryOrTruncatedFileGivesDefaultsForWhatIsMissing)
{
    TTempHome home;
    QByteArray binary;
    for (int i = 0; i < 2048; ++i)
        binary.append(static_cast<char>((i * 131 + 7) & 0xFF));
    home.Write("options.ini", binary);
    LoadSettings();
    EXPECT_EQ(AppSettings().Mp3BitRate, 128);
    EXPECT_EQ(AppSettings().Language, "English");

    home.Write("options.ini", "[CommonOptions]\nOutputFormat=2\n[Mp3Opt");
    LoadSettings();
    EXPECT_EQ(AppSettings().OutputFormat, 2);
    EXPECT_EQ(AppSettings().Mp3BitRate, 128);
}

TEST(Settings, AFileThatCannotBeReadIsNeverReplaced)
{
    TTempHome home;
    QDir(home.Path()).mkdir("options.ini");
    LoadSettings();
    EXPECT_EQ(AppSettings().Mp3BitRate, 128);
    EXPECT_FALSE(SaveSettings());
    EXPECT_TRUE(QFileInfo(home.File("options.ini")).isDir());
}

// An installed program (no VELBROOK_HOME, no velbrook.portable beside it) writes
// below the user's music folder, wherever the desktop's folder settings put it.
TEST(Settings, AnInstalledProgramWritesIntoTheMusicFolder)
{
    if (QFileInfo::exists(ExecutableFolder() + "/velbrook.portable"))
        GTEST_SKIP() << "the test program runs as a portable copy";
    QTemporaryDir home;
    const QStringList names{"HOME", "XDG_CONFIG_HOME", "VELBROOK_HOME"};
    std::vector<std::optional<QByteArray>> saved;
    for (const QString& name : names)
        saved.push_back(qEnvironmentVariableIsSet(qPrintable(name)) ? std::optional(qgetenv(qPrintable(name)))
                                                                    : std::nullopt);
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(".config")));
    qunsetenv("VELBROOK_HOME");

    EXPECT_FALSE(IsPortableUse());
    EXPECT_EQ(ProgramFolder(), home.filePath(".config/velbrook"));
    EXPECT_EQ(DefaultOutputFolder(), home.filePath("Music/Velbrook"));
    QDir().mkpath(home.filePath(".config"));
    QFile dirs(home.filePath(".config/user-dirs.dirs"));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_MUSIC_DIR=\"$HOME/Musik\"\n");
    dirs.close();
    LoadSettings();
    EXPECT_EQ(AppSettings().OutputFolder, home.filePath("Musik/Velbrook"));

    for (size_t i = 0; i < saved.size(); ++i) {
        if (saved[i])
            qputenv(qPrintable(names[i]), *saved[i]);
        else
            qunsetenv(qPrintable(names[i]));
    }
    AppSettings() = TAppSettings{};
}

// The two cases: a cache holding UTF-8 for one disc and Latin-1 for
// another, and an options.ini whose output folder is Latin-1. A save keeps
// every line it did not change byte for byte, and what it reads is right.
TEST(IniDecoding, SavingSettingsAndTitlesKeepsOtherLinesByteForByte)
{
    TTempHome home;
    const QByteArray cache =
        "[111]\r\nArtist=Bj\xC3\xB6rk\r\nAlbum=Post\r\nYear=1995\r\nGenre=-1\r\nComment=\r\n"
        "TrackNumber=1\r\n1=J\xC3\xB3ga\r\n"
        "[222]\r\nArtist=Mot\xF6rhead\r\nAlbum=Ace of Spades\r\nYear=1980\r\nGenre=-1\r\n"
        "Comment=caf\xE9\r\nTrackNumber=1\r\n1=Ace of Spades\r\n";
    home.Write("cdinfo.dat", cache);
    LoadDiscInfo("222");
    EXPECT_EQ(DiscInfo().Artist, "Motörhead");
    ASSERT_TRUE(SaveDiscInfo("222"));
    // Writing back what was read changes nothing, also in the Latin-1 section.
    EXPECT_EQ(home.Read("cdinfo.dat"), cache);
    LoadDiscInfo("111");
    DiscInfo().SetTitle(1, "Jóga (Live)");
    ASSERT_TRUE(SaveDiscInfo("111"));
    QByteArray edited = cache;
    edited.replace("J\xC3\xB3ga", "J\xC3\xB3ga (Live)");
    EXPECT_EQ(home.Read("cdinfo.dat"), edited);
    LoadDiscInfo("111");
    EXPECT_EQ(DiscInfo().Artist, "Björk");

    const QByteArray options = "[CommonOptions]\nOutputFolder=/home/j\xFCrgen/Musik\n";
    home.Write("options.ini", options);
    LoadSettings();
    EXPECT_EQ(AppSettings().OutputFolder, "/home/jürgen/Musik");
    ASSERT_TRUE(SaveSettings());
    EXPECT_TRUE(home.Read("options.ini").startsWith(options));
    LoadSettings();
    EXPECT_EQ(AppSettings().OutputFolder, "/home/jürgen/Musik");
}

// A FIFO, a link to /dev/zero or a folder in place of options.ini or
// cdinfo.dat: start-up neither waits nor reads without end, says what is
// wrong, and the file is never replaced. Run in a child so that a hang fails.
TEST(IniDecoding, SettingsAndCacheThatAreNotFilesAreRefusedWithAMessage)
{
    const auto makeFifo = [](const QString& path) { return ::mkfifo(QFile::encodeName(path), 0600) == 0; };
    const auto makeZero = [](const QString& path) { return QFile::link("/dev/zero", path); };
    const auto makeFolder = [](const QString& path) { return QDir().mkdir(path); };
    const std::function<bool(const QString&)> makers[] = {makeFifo, makeZero, makeFolder};
    for (const auto& make : makers) {
        TTempHome home;
        ASSERT_TRUE(make(home.File("options.ini")));
        ASSERT_TRUE(make(home.File("cdinfo.dat")));
        const QFileInfo before(home.File("options.ini"));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            LoadSettings();
            LoadDiscInfo("1");
            const QStringList problems = SettingsFileProblems();
            const bool told = problems.size() == 2 &&
                              problems[0].startsWith(home.File("options.ini") + " is not") &&
                              problems[1].startsWith(home.File("cdinfo.dat") + " is not");
            const bool kept = !SaveSettings() && !SaveDiscInfo("1");
            _exit(told && kept && AppSettings().Mp3BitRate == 128 ? 0 : 1);
        }
        int status = -1;
        for (int waited = 0; waited < 200 && waitpid(child, &status, WNOHANG) == 0; ++waited)
            usleep(50000);
        if (!WIFEXITED(status)) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            FAIL() << "start-up hung on " << qPrintable(before.symLinkTarget());
        }
        EXPECT_EQ(WEXITSTATUS(status), 0);
        const QFileInfo after(home.File("options.ini"));
        EXPECT_EQ(after.isSymLink(), before.isSymLink());
        EXPECT_EQ(after.isDir(), before.isDir());
        EXPECT_EQ(after.isFile(), false);
    }
}
