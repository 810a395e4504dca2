#include "played_music.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QtEndian>

bool WaitFor(const std::function<bool()>& done, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

void Settle(int milliseconds)
{
    WaitFor([] { return false; }, milliseconds);
}

QByteArray Music(const QByteArray& bytes)
{
    QByteArray kept;
    for (qsizetype at = 0; at + 4 <= bytes.size(); at += 4) {
        if (qFromLittleEndian<quint32>(bytes.constData() + at) != 0)
            kept.append(bytes.constData() + at, 4);
    }
    return kept;
}
