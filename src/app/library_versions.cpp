#include "library_versions.h"

#include "codecs/encoder_process.h"

#include <QProcess>
#include <QRegularExpression>

#include <cdio/version.h>

namespace {

// lame prints "LAME 64bits version 3.100 (http://lame.sf.net)" first.
QString LameVersion()
{
    const QString program = TEncoderProcess::FindProgram(QStringLiteral("lame"));
    if (program.isEmpty())
        return QStringLiteral("LAME (not found)");
    QProcess lame;
    lame.start(program, {QStringLiteral("--version")});
    if (!lame.waitForFinished(3000)) {
        lame.kill();
        lame.waitForFinished(1000);
        return QStringLiteral("LAME (does not answer)");
    }
    static const QRegularExpression version(QStringLiteral("version\\s+([0-9][0-9.a-z]*)"));
    const QRegularExpressionMatch match = version.match(QString::fromLocal8Bit(lame.readAllStandardOutput()));
    return match.hasMatch() ? QStringLiteral("LAME ") + match.captured(1) : QStringLiteral("LAME");
}

} // namespace

QStringList LibraryVersions()
{
    return {
        QStringLiteral("Qt ") + QString::fromLatin1(qVersion()),
        // libcdio's text ends with the platform it was built for.
        QStringLiteral("libcdio ") + QString::fromLatin1(cdio_version_string).section(QLatin1Char(' '), 0, 0),
        QStringLiteral("libudev ") + QStringLiteral(VELBROOK_LIBUDEV_VERSION),
        LameVersion(),
    };
}
