#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points SDL's disk audio driver (the test programs choose it) at a fresh file
// for one test: every device opened meanwhile writes what it plays there.
// Unless realTime is set the driver plays as fast as it is fed. The previous
// settings come back when the object goes.
class TDiskAudio {
public:
    explicit TDiskAudio(bool realTime = false);
    ~TDiskAudio();
    TDiskAudio(const TDiskAudio&) = delete;
    TDiskAudio& operator=(const TDiskAudio&) = delete;

    QString File() const;
    // What the device played so far.
    QByteArray Played() const;

private:
    QTemporaryDir Dir;
    QByteArray PreviousFile;
    QByteArray PreviousDelay;
    bool HadFile = false;
    bool HadDelay = false;
};
