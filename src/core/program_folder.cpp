#include "program_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

#ifndef VELBROOK_INSTALL_DATADIR
#define VELBROOK_INSTALL_DATADIR "/usr/local/share/velbrook"
#endif

QString ExecutableFolder()
{
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0)
        return QDir::currentPath();
    buffer[length] = '\0';
    return QFileInfo(QString::fromLocal8Bit(buffer)).absolutePath();
}

namespace {

bool ExecutableFolderIsPortable()
{
    const QString folder = ExecutableFolder();
    return QFileInfo::exists(folder + QStringLiteral("/velbrook.portable")) && QFileInfo(folder).isWritable();
}

QString StripTrailingSeparators(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

QString ProgramFolder()
{
    const QString home = qEnvironmentVariable("VELBROOK_HOME");
    if (!home.isEmpty())
        return StripTrailingSeparators(QDir::cleanPath(QDir(home).absolutePath()));
    if (ExecutableFolderIsPortable())
        return ExecutableFolder();
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return StripTrailingSeparators(config) + QStringLiteral("/velbrook");
}

bool IsPortableUse()
{
    return !qEnvironmentVariable("VELBROOK_HOME").isEmpty() || ExecutableFolderIsPortable();
}

QString ProgramFile(const QString& name)
{
    return ProgramFolder() + QLatin1Char('/') + name;
}

QStringList DataFolders()
{
    QStringList folders{ProgramFolder()};
    const QStringList more{
        // An installed executable in <prefix>/bin finds <prefix>/share/velbrook,
        // wherever the prefix was moved to.
        QDir::cleanPath(ExecutableFolder() + QStringLiteral("/../share/velbrook")),
        QStringLiteral(VELBROOK_INSTALL_DATADIR),
        ExecutableFolder(),
    };
    for (const QString& folder : more) {
        if (!folders.contains(folder))
            folders.append(folder);
    }
    return folders;
}

QString FindDataFile(const QString& name)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return {};
    for (const QString& folder : DataFolders()) {
        const QString candidate = folder + QLatin1Char('/') + name;
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return {};
}

QString DefaultOutputFolder()
{
    if (IsPortableUse())
        return ProgramFolder() + QStringLiteral("/Output");
    QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (music.isEmpty())
        music = QDir::homePath() + QStringLiteral("/Music");
    return StripTrailingSeparators(music) + QStringLiteral("/Velbrook");
}
