#pragma once

#include "cd_test_support.h"
#include "codecs/mp3_encode_process.h"
#include "codecs/wma_encode_process.h"
#include "jobs/job_engine.h"
#include "jobs/job_view.h"
#include "support/scripted_prompter.h"
#include "support/small_disk.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

// The outside programs these tests use as oracles (ffprobe, ffmpeg, lame) are
// started with fork and exec, never QProcess: QProcess starts children with a
// vfork-style clone that ThreadSanitizer cannot follow, and most of these
// tests run under it. (The engine itself starts the MP3 and WMA encoders with
// QProcess; the tests that need them run in a program of their own.)

struct TToolRun {
    int ExitCode = -1; // -1 when the program could not be run or was killed
    QByteArray Output;
    QByteArray Errors;
};
// Runs a program found on PATH to its end.
TToolRun RunTool(const QString& program, const QStringList& arguments);

// What ffprobe says of a sound file's first audio stream.
struct TProbe {
    bool Valid = false;
    QString CodecName;
    int SampleRate = 0;
    int Channels = 0;
    double Duration = -1;
};
TProbe ProbeAudio(const QString& path);

// The samples of a sound file as FFmpeg decodes them: 16-bit, interleaved, at
// the file's own rate and channel count.
std::vector<qint16> DecodeWithFfmpeg(const QString& path);

// The format and length of a PCM WAV file, read from its chunks by hand.
struct TWavFacts {
    bool Valid = false;
    int Channels = 0;
    int SampleRate = 0;
    int BitsPerSample = 0;
    qint64 Frames = 0;
};
TWavFacts ReadWavFacts(const QString& path);

// Runs the event loop for ms milliseconds.
void PumpEvents(int ms);

// Puts the folder of the built velbrook-wmaenc first on PATH for the life of
// the object, where the WMA encoder process looks for it.
class TWmaEncoderOnPath {
public:
    TWmaEncoderOnPath();
    ~TWmaEncoderOnPath();
    TWmaEncoderOnPath(const TWmaEncoderOnPath&) = delete;
    TWmaEncoderOnPath& operator=(const TWmaEncoderOnPath&) = delete;

private:
    QByteArray Previous;
};

// A view that records everything the engine shows.
class TRecordingView final : public TJobView {
public:
    void SetCaption(const QString& text) override;
    void SetGroupTitle(const QString& text) override;
    void SetElapsedText(const QString& text) override;
    void SetEstimatedText(const QString& text) override;
    void SetGauge(int percent) override;
    int Gauge() const override { return GaugeValue; }
    void SetGaugeTextVisible(bool visible) override { GaugeTextVisible = visible; }
    void ShowInitializing(const QString& text) override;
    void HideInitializing() override { InitializingVisible = false; }
    void CloseView() override;

    QStringList Captions;
    QStringList GroupTitles;
    QStringList InitializingTexts;
    QString Elapsed;
    QString Estimated;
    std::vector<int> Gauges;
    int GaugeValue = 0;
    bool GaugeTextVisible = true;
    bool InitializingVisible = false;
    int CloseCount = 0;
    // Called after the group title has been set (the step starts right after).
    std::function<void(const QString&)> OnGroupTitle;
    std::function<void(int)> OnGauge;
    std::function<void()> OnClose;
};

// One job on a program folder of its own: a generated disc image as the drive
// where needed, the real encoders, a scripted prompter and a recording view.
class TJobFixture {
public:
    using TOutcome = TJobEngine::TItemOutcome;

    TJobFixture();
    ~TJobFixture();
    TJobFixture(const TJobFixture&) = delete;
    TJobFixture& operator=(const TJobFixture&) = delete;

    // A disc of tracks of the given lengths in seconds, opened as the drive.
    CDHandle UseDisc(const std::vector<double>& seconds);
    // Starts the job and runs the event loop until the view closes; false on
    // timeout. stopWhen, when given, is asked after every event batch and
    // presses Stop when it says so.
    bool Run(int kind, const QStringList& items, const std::function<bool()>& stopWhen = {});
    // Runs the event loop until the view closes or predicate holds.
    bool Pump(const std::function<bool()>& predicate, int timeoutMs = 120000);

    QString Output(const QString& name) const;
    QString HomeFile(const QString& name) const { return Cd.Home.File(name); }
    std::vector<TOutcome> Outcomes() const;

    TCdTest Cd;
    TWmaEncoderOnPath WmaPath;
    TScriptedPrompter Prompter;
    TRecordingView View;
    TMp3EncodeProcess Mp3{nullptr, Prompter};
    TWMAEncodeProcess Wma{nullptr, Prompter};
    std::unique_ptr<TJobEngine> Engine;
    CDHandle Drive = 0;
    QString DiscData; // the image's data file
    std::vector<std::pair<int, TOutcome>> Ended;
    QStringList StandingReasons;
};

// A PCM WAV file of a tone (440 Hz left, 880 Hz right), 8 or 16 bits.
void WriteTone(const QString& path, double seconds, int rate = 44100, int channels = 2, int bits = 16);

// Zero crossings per second of one channel of interleaved samples: about
// twice the frequency of a clean tone, far more for noise.
double CrossingsPerSecond(const std::vector<qint16>& samples, int channels, int channel, int rate);

// The bytes of a file; empty when it cannot be read.
QByteArray ReadBytes(const QString& path);

// The WAV file an extraction must write for frames sectors of the disc from
// firstFrame on: the fixed header, then the sectors as the image holds them.
QByteArray ExpectedWav(const TJobFixture& f, qint64 firstFrame, qint64 frames);

// Decodes an encoded stereo file of extracted audio and checks its codec, rate
// and length.
void ExpectDecodable(const QString& path, const QString& codec, double seconds, int rate = 44100);

// Decodes a file made from WriteTone and checks that its channels still hold
// their tones at the expected rate and length: noise would not.
void ExpectTones(const QString& path, int rate, double seconds);

// Whether the file ends with an ID3v1 block.
bool HasId3Block(const QString& path);

// Files in a folder, sorted.
QStringList FilesIn(const QString& folder);
