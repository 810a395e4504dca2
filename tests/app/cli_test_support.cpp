#include "cli_test_support.h"

#include "cd/cd_drive.h"
#include "core/disc_info.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

TCliTest::TCliTest() : Environment(QProcessEnvironment::systemEnvironment())
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "VELBROOK_CD_IMAGES",
                             "VELBROOK_UNREADABLE_SECTORS"})
        Environment.remove(QLatin1String(name));
    Environment.insert(QStringLiteral("VELBROOK_HOME"), Home.Path());
}

TCliResult TCliTest::Run(const QStringList& arguments,
                         const std::function<void(const QString& out, qint64 pid)>& whileRunning)
{
    const std::unique_ptr<QProcess> program = Launch(arguments);
    return Wait(*program, whileRunning);
}

std::unique_ptr<QProcess> TCliTest::Launch(const QStringList& arguments)
{
    auto program = std::make_unique<QProcess>();
    program->setProcessEnvironment(Environment);
    program->setWorkingDirectory(Home.Path());
    const qint64 sizeLimit = FileSizeLimit;
    const bool ownGroup = OwnProcessGroup;
    program->setChildProcessModifier([sizeLimit, ownGroup] {
        if (sizeLimit >= 0) {
            // As "ulimit -f" in the shell that starts it: the signal keeps its
            // default action, which ends a program that does not ignore it.
            const rlimit value{static_cast<rlim_t>(sizeLimit), static_cast<rlim_t>(sizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &value);
            ::signal(SIGXFSZ, SIG_DFL);
        }
        if (ownGroup)
            ::setpgid(0, 0);
    });
    program->start(QStringLiteral(VELBROOK_EXECUTABLE), arguments);
    return program;
}

TCliResult TCliTest::Wait(QProcess& program,
                          const std::function<void(const QString& out, qint64 pid)>& whileRunning)
{
    TCliResult result;
    if (!program.waitForStarted(30000)) {
        ADD_FAILURE() << "velbrook did not start";
        return result;
    }
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (!program.waitForFinished(50)) {
        out += program.readAllStandardOutput();
        if (whileRunning)
            whileRunning(QString::fromLocal8Bit(out), program.processId());
        if (clock.elapsed() > 240000) {
            program.kill();
            program.waitForFinished();
            ADD_FAILURE() << "velbrook did not end";
            break;
        }
    }
    out += program.readAllStandardOutput();
    result.Out = QString::fromLocal8Bit(out);
    result.Err = QString::fromLocal8Bit(program.readAllStandardError());
    if (program.exitStatus() == QProcess::NormalExit)
        result.ExitCode = program.exitCode();
    else
        result.ExitCode = -1;
    return result;
}

QString TCliTest::WriteDisc(const QString& name, const TImageSpec& spec)
{
    const QString path = Home.File(name);
    const QString error = WriteDiscImage(path, spec);
    EXPECT_EQ(error, "");
    return path;
}

QString TCliTest::DiscIdOf(const QString& cuePath)
{
    SetCDImages({cuePath});
    const QString id = GetDiscId();
    SetCDImages({});
    return id;
}

void TCliTest::CacheTitles(const QString& cuePath, const QStringList& titles)
{
    const QString id = DiscIdOf(cuePath);
    ASSERT_FALSE(id.isEmpty());
    TDiscInfo& info = DiscInfo();
    info = TDiscInfo{};
    info.TrackCount = static_cast<int>(titles.size());
    for (int i = 0; i < titles.size(); ++i)
        info.SetTitle(i + 1, titles[i]);
    ASSERT_TRUE(SaveDiscInfo(id));
    info = TDiscInfo{};
}

TImageSpec AudioTracks(const std::vector<qint64>& frames)
{
    TImageSpec spec;
    int voice = 0;
    for (qint64 length : frames)
        spec.Tracks.push_back({length, 0, false, 1, voice++});
    return spec;
}

QString Listing(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name).join(QStringLiteral(", "));
}
