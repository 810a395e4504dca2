#include "app/display_check.h"
#include "cd/cd_drive.h"

#include "app_test_support.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

// Runs the built program with a given environment and returns its exit code.
int RunProgram(const QStringList& arguments, const QProcessEnvironment& environment, QString* output)
{
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(VELBROOK_EXECUTABLE), arguments);
    EXPECT_TRUE(program.waitForFinished(30000));
    *output = QString::fromLocal8Bit(program.readAllStandardOutput() + program.readAllStandardError());
    return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
}

QProcessEnvironment WithoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    return environment;
}

struct TEnvironmentGuard {
    QByteArray Display = qgetenv("DISPLAY");
    QByteArray Wayland = qgetenv("WAYLAND_DISPLAY");
    QByteArray Platform = qgetenv("QT_QPA_PLATFORM");
    ~TEnvironmentGuard()
    {
        qputenv("DISPLAY", Display);
        qputenv("WAYLAND_DISPLAY", Wayland);
        qputenv("QT_QPA_PLATFORM", Platform);
    }
};

} // namespace

TEST(Startup, WithoutADisplayTheProgramSaysSoAndFails)
{
    QString output;
    EXPECT_EQ(RunProgram({}, WithoutDisplay(), &output), 1);
    EXPECT_TRUE(output.contains("No display")) << output.toStdString();

    QProcessEnvironment unreachable = WithoutDisplay();
    unreachable.insert("DISPLAY", ":987");
    EXPECT_EQ(RunProgram({}, unreachable, &output), 1);
    EXPECT_TRUE(output.contains("\":987\" cannot be reached")) << output.toStdString();
}

TEST(Startup, HelpAndVersionWorkWithoutADisplay)
{
    QString output;
    EXPECT_EQ(RunProgram({"--version"}, WithoutDisplay(), &output), 0);
    EXPECT_TRUE(output.contains("Velbrook 3.1")) << output.toStdString();
    EXPECT_EQ(RunProgram({"--help"}, WithoutDisplay(), &output), 0);
    EXPECT_TRUE(output.contains("--version")) << output.toStdString();
}

TEST(DisplayProblem, TrustsAnExplicitPlatformAndChecksX11AndWaylandSockets)
{
    TEnvironmentGuard guard;
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    EXPECT_EQ(DisplayProblem(), "");
    qputenv("QT_QPA_PLATFORM", "xcb");
    EXPECT_TRUE(DisplayProblem().contains("neither DISPLAY nor WAYLAND_DISPLAY"));
    qputenv("DISPLAY", "remote.invalid:3.0");
    EXPECT_TRUE(DisplayProblem().contains("remote.invalid:3.0"));
    qputenv("DISPLAY", ":x");
    EXPECT_FALSE(DisplayProblem().isEmpty());
    qunsetenv("DISPLAY");
    qputenv("WAYLAND_DISPLAY", "wayland-77");
    EXPECT_TRUE(DisplayProblem().contains("wayland-77"));
}

TEST(Startup, TheProgramListsTheDiscAndSavesItsFilesWhenTerminated)
{
    TAppTest test;
    const QString cue = test.UseDemoDisc();
    SetCDImages({});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("VELBROOK_HOME", test.Home.Path());
    environment.insert("VELBROOK_TRACE_STARTUP", "1");
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(VELBROOK_EXECUTABLE), {"--cd-image", cue});
    ASSERT_TRUE(program.waitForStarted(10000));
    QByteArray output;
    while (!output.contains("\n") && program.waitForReadyRead(20000))
        output += program.readAllStandardOutput();
    EXPECT_TRUE(QRegularExpression("^velbrook: first paint with 4 rows at monotonic \\d+ ns\n")
                    .match(QString::fromLatin1(output))
                    .hasMatch())
        << output.toStdString();
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(test.Home.Read("options.ini").contains("[CommonOptions]"));
    EXPECT_TRUE(test.Home.Read("cdinfo.dat").contains("1=Track01"));
}
