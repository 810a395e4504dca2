#pragma once

#include "core/messages.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
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
    // or timeoutMs has passed; returns whether it arrived. The limit only ends a
    // hang: a loaded machine may take minutes, and ctest stops a test at five.
    bool WaitForCompletion(int completionPercent, int timeoutMs = 240000);
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

// An ID3v1 tag block with the given fields, laid out by hand; comment30 holds
// the last 30 bytes before the genre (a track number is its last byte).
QByteArray Id3Block(const QByteArray& title, const QByteArray& comment30, uint8_t genre,
                    const QByteArray& artist = {}, const QByteArray& album = {}, const QByteArray& year = {});

// The ID3v1 tag at the end of a file as mutagen, an independent reader, sees it:
// its frame names (TIT2, TRCK, TCON...) and texts; empty when there is no tag.
QJsonObject MutagenFields(const QString& path);

// The test's data folder (captured program output).
QString TestDataFile(const QString& name);

// Our WMA encoder program as built for these tests.
QString WmaEncoderProgram();

// Puts the folder of the built velbrook-wmaenc first on PATH, where the WMA
// encoder process looks for it, for the life of the object.
class TWmaEncoderOnPath {
public:
    TWmaEncoderOnPath();
    ~TWmaEncoderOnPath();
    TWmaEncoderOnPath(const TWmaEncoderOnPath&) = delete;
    TWmaEncoderOnPath& operator=(const TWmaEncoderOnPath&) = delete;

private:
    QByteArray Previous;
};

// What ffprobe, an independent reader, says of a sound file's first audio stream.
struct TProbe {
    bool Valid = false;
    QString FormatName;
    QString CodecName;
    int SampleRate = 0;
    int Channels = 0;
    double Duration = -1;
    QString Artist;
    QString Comment;
};
TProbe ProbeAudio(const QString& path);

// The samples of a sound file as FFmpeg decodes them: 16-bit, interleaved, at
// the file's own rate and channel count. rawPath receives them on the way.
std::vector<qint16> DecodeWithFfmpeg(const QString& path, const QString& rawPath);
// Root mean square of one channel of interleaved samples.
double ChannelRms(const std::vector<qint16>& samples, int channels, int channel);
