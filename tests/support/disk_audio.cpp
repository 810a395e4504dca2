#include "disk_audio.h"

#include <QDir>
#include <QFile>

TDiskAudio::TDiskAudio(bool realTime) : Dir(QDir::tempPath() + QStringLiteral("/velbrook-sound-XXXXXX"))
{
    HadFile = qEnvironmentVariableIsSet("SDL_DISKAUDIOFILE");
    PreviousFile = qgetenv("SDL_DISKAUDIOFILE");
    HadDelay = qEnvironmentVariableIsSet("SDL_DISKAUDIODELAY");
    PreviousDelay = qgetenv("SDL_DISKAUDIODELAY");
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(File()));
    if (realTime)
        qunsetenv("SDL_DISKAUDIODELAY");
    else
        qputenv("SDL_DISKAUDIODELAY", "0");
}

TDiskAudio::~TDiskAudio()
{
    if (HadFile)
        qputenv("SDL_DISKAUDIOFILE", PreviousFile);
    else
        qunsetenv("SDL_DISKAUDIOFILE");
    if (HadDelay)
        qputenv("SDL_DISKAUDIODELAY", PreviousDelay);
    else
        qunsetenv("SDL_DISKAUDIODELAY");
}

QString TDiskAudio::File() const
{
    return Dir.filePath(QStringLiteral("played.raw"));
}

QByteArray TDiskAudio::Played() const
{
    QFile file(File());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}
