#include "core/ini_file.h"
#include "core/language.h"

#include "cli_test_support.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

namespace {

struct TRun {
    int ExitCode = -1; // -1: it crashed or did not end
    QString Output;    // standard output and error
};

TRun RunProgram(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    TRun run;
    if (!process.waitForFinished(240000)) {
        process.kill();
        process.waitForFinished();
    } else if (process.exitStatus() == QProcess::NormalExit) {
        run.ExitCode = process.exitCode();
    }
    run.Output = QString::fromLocal8Bit(process.readAll());
    return run;
}

// Every file and folder under root with its size and time of change, to tell
// whether anything was written there.
QMap<QString, QString> Snapshot(const QString& root)
{
    QMap<QString, QString> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        entries.insert(QDir(root).relativeFilePath(info.filePath()),
                       QStringLiteral("%1 %2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch()));
    }
    return entries;
}

QStringList LanguageFiles()
{
    return QDir(VELBROOK_SOURCE_DIR "/data").entryList({"CLan_*.ini"}, QDir::Files, QDir::Name);
}

std::string Text(const TRun& run)
{
    return QStringLiteral("exit %1\n%2").arg(run.ExitCode).arg(run.Output).toStdString();
}

} // namespace

// Installed, Velbrook is a program of the system: it keeps the user's settings
// in the user's configuration folder, writes under the user's Music folder, and
// writes nothing into the folders it was installed to.
TEST(Install, TheInstalledProgramWorksForItsUserAndWritesNothingWhereItIsInstalled)
{
    TTempHome root;
    const QString prefix = root.File("prefix");
    const TRun install = RunProgram(VELBROOK_CMAKE, {"--install", VELBROOK_BUILD_DIR, "--prefix", prefix});
    ASSERT_EQ(install.ExitCode, 0) << Text(install);

    const QString share = prefix + "/share/";
    QStringList expected{prefix + "/bin/velbrook",
                         prefix + "/bin/velbrook-wmaenc",
                         share + "velbrook/velbrook-help.html",
                         share + "applications/org.velbrook.Velbrook.desktop",
                         share + "metainfo/org.velbrook.Velbrook.metainfo.xml",
                         share + "icons/hicolor/scalable/apps/org.velbrook.Velbrook.svg",
                         share + "man/man1/velbrook.1"};
    for (const QString& language : LanguageFiles())
        expected << share + "velbrook/" + language;
    for (const QString& file : expected)
        EXPECT_TRUE(QFileInfo(file).isFile()) << file.toStdString();
    // Beside the installed program it would make every user share one folder.
    EXPECT_FALSE(QFileInfo::exists(prefix + "/bin/velbrook.portable"));

    const TRun desktop =
        RunProgram("desktop-file-validate", {share + "applications/org.velbrook.Velbrook.desktop"});
    EXPECT_EQ(desktop.ExitCode, 0) << Text(desktop);
    EXPECT_EQ(desktop.Output, "");
    const TRun metainfo = RunProgram(
        "appstreamcli", {"validate", "--no-net", share + "metainfo/org.velbrook.Velbrook.metainfo.xml"});
    EXPECT_EQ(metainfo.ExitCode, 0) << Text(metainfo);

    // A user of the installed program: no program folder of the tests, no
    // display, and only the system's programs on PATH, so the WMA encoder is the
    // installed one.
    const QString home = root.File("home");
    const QString config = root.File("config");
    QDir().mkpath(home);
    QProcessEnvironment user = QProcessEnvironment::systemEnvironment();
    for (const QString& name : user.keys()) {
        if (name.startsWith("VELBROOK_") || name.startsWith("XDG_") || name == "DISPLAY" ||
            name == "WAYLAND_DISPLAY" || name == "QT_QPA_PLATFORM")
            user.remove(name);
    }
    user.insert("HOME", home);
    user.insert("XDG_CONFIG_HOME", config);
    user.insert("PATH", "/usr/local/bin:/usr/bin:/bin");

    const QMap<QString, QString> installed = Snapshot(prefix);
    QDir().mkpath(root.File("discs"));
    const QString disc = root.File("discs/disc.cue");
    ASSERT_EQ(WriteDiscImage(disc, AudioTracks({75, 90})), "");
    const TRun extract =
        RunProgram(prefix + "/bin/velbrook", {"--extract", "--format", "wma", "--cd-image", disc}, user);
    EXPECT_EQ(extract.ExitCode, 0) << Text(extract);
    EXPECT_EQ(Listing(home + "/Music/Velbrook"), "Track01.wma, Track02.wma") << Text(extract);
    const QString options = config + "/velbrook/options.ini";
    EXPECT_TRUE(QFileInfo(options).isFile()) << Text(extract);
    EXPECT_FALSE(QFileInfo::exists(home + "/.config"));

    // The language files come from the installation.
    TIniFile settings;
    ASSERT_TRUE(settings.Load(options));
    settings.WriteString("Options", "Lan", "German");
    ASSERT_TRUE(settings.Save(options));
    TIniFile german;
    ASSERT_TRUE(german.Load(VELBROOK_SOURCE_DIR "/data/CLan_German.ini"));
    const QString noAudio = UnescapeLanguageText(german.ReadString("ResourceString", "RES_Check_CDRom", ""));
    ASSERT_FALSE(noAudio.isEmpty());
    const QString dataDisc = root.File("discs/data.cue");
    TImageSpec dataOnly;
    dataOnly.Tracks.push_back({.Frames = 300, .Data = true});
    ASSERT_EQ(WriteDiscImage(dataDisc, dataOnly), "");
    const TRun germanRun = RunProgram(prefix + "/bin/velbrook", {"--extract", "--cd-image", dataDisc}, user);
    EXPECT_EQ(germanRun.ExitCode, 3) << Text(germanRun);
    EXPECT_TRUE(germanRun.Output.contains(noAudio)) << Text(germanRun);

    EXPECT_EQ(Snapshot(prefix), installed);
}

// The manual page is written by hand: it must name exactly the options that
// --help names, and render without a warning.
TEST(ManPage, NamesTheOptionsOfTheHelpAndRendersCleanly)
{
    const TRun help = RunProgram(VELBROOK_EXECUTABLE, {"--help"});
    ASSERT_EQ(help.ExitCode, 0) << Text(help);
    QFile file(VELBROOK_SOURCE_DIR "/data/velbrook.1");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(file.readAll());

    const auto options = [](const QString& text) {
        QSet<QString> found;
        static const QRegularExpression option(QStringLiteral("--[a-z][a-z-]*[a-z]"));
        for (const QRegularExpressionMatch& match : option.globalMatch(text))
            found.insert(match.captured());
        return found;
    };
    QString unescaped = page;
    unescaped.replace("\\-", "-");
    const QSet<QString> inHelp = options(help.Output);
    EXPECT_GE(inHelp.size(), 14);
    EXPECT_EQ(options(unescaped), inHelp);
    // An unescaped "-" is a hyphen to groff, which may break a line there.
    EXPECT_FALSE(
        QRegularExpression("(^|[^\\\\])--[a-z]", QRegularExpression::MultilineOption).match(page).hasMatch());

    const TRun render =
        RunProgram("groff", {"-man", "-Tutf8", "-ww", "-z", VELBROOK_SOURCE_DIR "/data/velbrook.1"});
    EXPECT_EQ(render.ExitCode, 0) << Text(render);
    EXPECT_EQ(render.Output, "");
}
