#include "cddb_test_server.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

const QString SupportFolder = QStringLiteral(VELBROOK_SOURCE_DIR "/tests/support");

} // namespace

TCddbTestServer::TCddbTestServer(const QStringList& arguments)
    : Dir(QDir::tempPath() + QStringLiteral("/velbrook-cddb-XXXXXX"))
{
    const QString entries = Dir.filePath(QStringLiteral("entries"));
    QDir().mkpath(entries);
    QDirIterator kept(SupportFolder + QStringLiteral("/cddb"), QDir::Files, QDirIterator::Subdirectories);
    while (kept.hasNext()) {
        const QFileInfo file(kept.next());
        const QString category = file.dir().dirName();
        QDir().mkpath(entries + QLatin1Char('/') + category);
        QFile::copy(file.filePath(),
                    entries + QLatin1Char('/') + category + QLatin1Char('/') + file.fileName());
    }
    Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The distribution's interpreter starts fastest; a version manager's shim may take seconds.
    const QString python = QFileInfo::exists(QStringLiteral("/usr/bin/python3"))
                               ? QStringLiteral("/usr/bin/python3")
                               : QStringLiteral("python3");
    Process.start(python, QStringList{SupportFolder + QStringLiteral("/cddb_server.py"),
                                      QStringLiteral("--entries"), entries, QStringLiteral("--log"),
                                      Dir.filePath(QStringLiteral("requests.log"))} +
                              arguments);
    if (!Process.waitForStarted(30000)) {
        ADD_FAILURE() << "python3 cannot be started for the CDDB test server";
        return;
    }
    QByteArray line;
    while (!line.contains('\n') && Process.waitForReadyRead(30000))
        line += Process.readAllStandardOutput();
    if (!line.startsWith("PORT ")) {
        ADD_FAILURE() << "the CDDB test server did not start: " << line.toStdString();
        return;
    }
    ServerPort = static_cast<quint16>(line.mid(5).trimmed().toUInt());
}

TCddbTestServer::~TCddbTestServer()
{
    if (Process.state() != QProcess::NotRunning) {
        Process.kill();
        Process.waitForFinished(10000);
    }
}

quint16 TCddbTestServer::Port() const
{
    return ServerPort;
}

QString TCddbTestServer::Address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(ServerPort);
}

void TCddbTestServer::AddEntry(const QString& category, const QString& discId, const QByteArray& entry) const
{
    WriteFile(QStringLiteral("entries/") + category + QLatin1Char('/') + discId, entry);
}

void TCddbTestServer::WriteFile(const QString& name, const QByteArray& bytes) const
{
    const QString path = Dir.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    EXPECT_EQ(file.write(bytes), bytes.size());
}

QStringList TCddbTestServer::Requests() const
{
    QFile log(Dir.filePath(QStringLiteral("requests.log")));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
