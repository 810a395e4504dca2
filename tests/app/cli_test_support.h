#pragma once

#include "cd/image_writer.h"
#include "support/temp_home.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <ostream>

class QProcess;

// The command-line mode as a user runs it: the built velbrook program started
// with arguments, with no display, in a program folder of its own.

struct TCliResult {
    int ExitCode = -1; // -1: it crashed or did not end
    QString Out;
    QString Err;
    QString All() const { return Out + Err; }
};

class TCliTest {
public:
    TCliTest();

    TTempHome Home;
    // The environment the program gets: no display and no platform plugin (so
    // anything that needed one would fail), no images or read failures from
    // the outside, VELBROOK_HOME the test's folder.
    QProcessEnvironment Environment;

    // A file-size limit (ulimit -f) for the programs started from now on, in
    // bytes; -1 for none.
    qint64 FileSizeLimit = -1;
    // Whether the program runs in a process group of its own, as a shell runs
    // a command: a signal to the group then reaches the encoders it started
    // too, as Ctrl+C in a terminal does.
    bool OwnProcessGroup = false;

    // Runs velbrook with the arguments to its end. whileRunning, when given,
    // is called every 50 ms with the output so far and the process id, until
    // the program ends.
    TCliResult Run(const QStringList& arguments,
                   const std::function<void(const QString& out, qint64 pid)>& whileRunning = {});
    // The same in two steps, for programs that run side by side.
    std::unique_ptr<QProcess> Launch(const QStringList& arguments);
    TCliResult Wait(QProcess& program,
                    const std::function<void(const QString& out, qint64 pid)>& whileRunning = {});

    // A disc image in the program folder.
    QString WriteDisc(const QString& name, const TImageSpec& spec);
    // The disc id of an image, as the disc cache files it.
    static QString DiscIdOf(const QString& cuePath);
    // Files the cache for that disc with these titles (slot n = track n + 1).
    void CacheTitles(const QString& cuePath, const QStringList& titles);
};

// A spec of audio tracks of these lengths in frames (75 a second).
TImageSpec AudioTracks(const std::vector<qint64>& frames);

// The names of the files in a folder, sorted, joined with ", ".
QString Listing(const QString& folder);

// Texts in test failures as text.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
