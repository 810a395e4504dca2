#include "temp_home.h"

#include "core/disc_info.h"
#include "core/qt_language.h"
#include "core/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

TTempHome::TTempHome() : Dir(QDir::tempPath() + QStringLiteral("/velbrook-test-XXXXXX"))
{
    HadHome = qEnvironmentVariableIsSet("VELBROOK_HOME");
    PreviousHome = qgetenv("VELBROOK_HOME");
    qputenv("VELBROOK_HOME", QFile::encodeName(Dir.path()));
    AppSettings() = TAppSettings{};
    DiscInfo() = TDiscInfo{};
}

TTempHome::~TTempHome()
{
    if (HadHome)
        qputenv("VELBROOK_HOME", PreviousHome);
    else
        qunsetenv("VELBROOK_HOME");
    AppSettings() = TAppSettings{};
    DiscInfo() = TDiscInfo{};
    // A language chosen in the test must not reach Qt's texts or the layout
    // direction of the tests after it.
    ApplyQtLanguage(QStringLiteral("English"));
}

QString TTempHome::Path() const
{
    return Dir.path();
}

QString TTempHome::File(const QString& name) const
{
    return Dir.filePath(name);
}

void TTempHome::Write(const QString& name, const QByteArray& bytes) const
{
    const QString path = File(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(path);
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray TTempHome::Read(const QString& name) const
{
    QFile file(File(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void TTempHome::CopyDataFile(const QString& name) const
{
    const QString source = QStringLiteral(VELBROOK_SOURCE_DIR "/data/") + name;
    QFile::remove(File(name));
    ASSERT_TRUE(QFile::copy(source, File(name))) << qPrintable(source);
}
