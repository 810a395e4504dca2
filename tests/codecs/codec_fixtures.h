#pragma once

#include "core/messages.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <vector>

// Test fixtures of the codecs tests: WAV files made at run time, a receiver for
// the encoders' reports, and the outside programs used as independent oracles.

// A 16-bit PCM WAV file holding a tone (a different one per channel), frames
// sample frames long.
void WriteToneWav(const QString& path, qint64 frames, int sampleRate = 44100, int channels = 2);

struct TWavFacts {
    bool Valid = false;
    int Channels = 0;
    int SampleRate = 0;
    int BitsPerSample = 0;
    qint64 Frames = 0;
};
// Reads the RIFF chunks of a PCM WAV file.
TWavFacts ReadWavFacts(const QString& path);

// Collects the WM_PROCESSINFO reports it receives.
class TReportReceiver final : public QObject {
public:
    std::vector<TProcessInfo> Reports;

    bool event(QEvent* e) override;
    std::vector<int> ProgressPercents() const;
    int CompletionCount(int completionPercent) const;
    // Runs the event loop until a report with that completion code has arrived,
    // or timeoutMs has passed; returns whether it arrived.
    bool WaitForCompletion(int completionPercent, int timeoutMs = 60000);
    // Runs the event loop for ms milliseconds.
    static void Pump(int ms);
};

struct TRunResult {
    int ExitCode = -1;
    QByteArray Output; // standard output and error together
};
// Runs a program to its end.
TRunResult RunProgram(const QString& program, const QStringList& arguments);

// Debian's own Python, which has mutagen (a Python on PATH may not).
QString DebianPython();

// The test's data folder (captured program output).
QString TestDataFile(const QString& name);
