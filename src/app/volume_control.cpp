#include "volume_control.h"

#include <QProcess>
#include <QStandardPaths>

QStringList VolumeControlCommand()
{
    const QList<QStringList> candidates{
        {QStringLiteral("pavucontrol")},
        {QStringLiteral("pwvucontrol")},
        {QStringLiteral("gnome-control-center"), QStringLiteral("sound")},
        {QStringLiteral("kcmshell6"), QStringLiteral("kcm_pulseaudio")},
    };
    for (const QStringList& candidate : candidates) {
        const QString program = QStandardPaths::findExecutable(candidate.front());
        if (!program.isEmpty())
            return QStringList{program} + candidate.mid(1);
    }
    return {};
}

bool StartVolumeControl()
{
    const QStringList command = VolumeControlCommand();
    return !command.isEmpty() && QProcess::startDetached(command.front(), command.mid(1));
}
