#pragma once

#include "cd/cd_drive.h"
#include "core/helpers.h"
#include "core/safe_files.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class TJobView;
class TPrompter;
class TMp3EncodeProcess;
class TWMAEncodeProcess;
class TCDRipThread;
class TACSInput;
class TACSOutput;
class TWaveIn;
class TWaveOut;
class TRateConverter;
class TSampleConverter;
class TVorbisOut;
struct TProcessInfo;

// Runs one job: a batch of one kind over an ordered work list, one item after
// another. It starts each step (extraction thread, MP3 or WMA encoder process,
// in-process Ogg Vorbis or resampling pipeline), receives every worker's
// report as a posted WM_RIPERROR / WM_PROCESSINFO event, decides what runs
// next, shows progress through the view and messages through the prompter,
// and cleans up at the end.
//
// Threads: created, used and destroyed on one thread with an event loop (the
// user-interface thread, or the command-line mode's main thread). Every worker
// it started is stopped and joined before it is destroyed. The pipelines'
// handlers run on their worker threads and only post reports to the engine.
class TJobEngine : public QObject {
    Q_OBJECT

public:
    // Job kinds; the same numbers go to the encoder processes.
    enum TKind : int {
        Extract = 1,
        WavToMp3 = 2,
        Mp3ToWav = 3,
        RecorderToMp3 = 4,
        WavToOgg = 5,
        WavToWma = 6,
    };

    // What became of one work item, for callers that report per item.
    enum class TItemOutcome {
        Produced, // its result file was written
        Failed,   // a step failed; a message was shown
        Skipped,  // declined overwrite, or skipped after a failed extraction
    };

    // Temporary files in the output folder: a WAV file below 44100 Hz is
    // resampled into one of these before it is encoded to MP3 or Ogg Vorbis.
    // When the name is taken, "MyMP3ReTemp (2).wav"... is used instead; only
    // the file the job made is deleted.
    static constexpr const char* Mp3TempName = "MyMP3ReTemp.wav";
    static constexpr const char* OggTempName = "MyReTemp.wav";

    using TClockSource = std::function<TClock::time_point()>;
    using TFileSizeSource = std::function<qint64(const QString& path)>;

    TJobEngine(TJobView& view, TPrompter& prompter, TMp3EncodeProcess& mp3, TWMAEncodeProcess& wma,
               QObject* parent = nullptr);
    ~TJobEngine() override;
    TJobEngine(const TJobEngine&) = delete;
    TJobEngine& operator=(const TJobEngine&) = delete;

    // Starts the first step. An error raised while the first step starts (an
    // encoder program that cannot be started, the Ogg Vorbis libraries
    // missing) propagates to the caller (EEncoderError, EACSException), and the
    // engine has then finished its job. A file a pipeline refuses (one it
    // cannot read, a Vorbis mode the encoder refuses) and a conversion whose
    // output would overwrite its input fail that item with a message, later,
    // from the event loop; the job goes on with the next item.
    //
    // One job per engine: a second call raises std::logic_error, a kind outside
    // 1..6 std::invalid_argument. For kind 1 the titles of the work list are
    // made safe first (see SafeTrackItems). An empty work list finishes the job
    // at once (the view is closed from the event loop).
    void Start(int kind, CDHandle drive, const QStringList& workList);

    // The Stop button: ends the running step, removes what it has not finished
    // (an extracted WAV file stays when its track was read completely), finishes
    // the job and closes the view (at once, from inside Stop). At the end of a job the
    // view is closed from the event loop instead, after the engine's report
    // handling has returned. Free the engine after CloseView has returned (or
    // with deleteLater), not inside it.
    void Stop();

    // Runs the end-of-job clean-up if the job has not finished yet (the view
    // was closed by other means). Safe to call more than once.
    void FinishJob();

    bool Finished() const; // the work list has been released
    int ItemCount() const;
    int Kind() const { return JobKind; }
    // The work items as the job runs them (for kind 1 with safe titles).
    QStringList Items() const { return JobItems; }

    // The result file of item index (the MP3/WAV/OGG/WMA it is turned into).
    QString ResultFile(int index) const;

    // The clock of the elapsed and estimated times, and the file sizes the
    // engine reads (the WMA estimate's source and output, and whether a result
    // file was made); set before Start (tests drive the estimate with them).
    void SetClock(TClockSource clock);
    void SetFileSizeSource(TFileSizeSource fileSize);
    // Whether a result file that the job replaces without a question (an
    // extracted WAV, MP3 or WMA file, an Ogg file) is replaced when its name
    // is taken, or kept and the item failed. The window replaces them; the
    // command line only with --overwrite. Write-protected files are always
    // kept. Set before Start.
    void SetReplaceExisting(bool replace) { ReplaceExisting = replace; }
    // One tick of the WMA estimate (Timer1 calls it every second while a WMA
    // file is being encoded), and whether that timer runs.
    void WmaTimerTick();
    bool WmaTimerActive() const;

signals:
    // An item's last step ended.
    void ItemEnded(int index, TJobEngine::TItemOutcome outcome);
    // The job cannot go on until Stop (a drive error, a later step that could
    // not start: an encoder program or the Vorbis libraries missing); reason
    // is the message shown.
    void Standing(const QString& reason);

protected:
    bool event(QEvent* e) override;

private:
    // The item's step that ends it: the completion code it is counted by.
    int FinalCode() const;
    QString Caption(const QString& word, int number, const QString& subject) const;
    QString NameWithExtension(const QString& path, const QString& extension) const;
    QString TrackFile(int index, const QString& extension) const;

    void FirstStep();
    void StartTrack(int index);
    void StartNextTrack();
    void EncodeAfterExtraction(int index);
    void StartMp3(const QString& input, const QString& output, bool encode);
    void StartWma(const QString& input, const QString& output);
    void StartOgg(const QString& input, const QString& output);
    void StartResample(const QString& tempName);
    void StartConversionItem(int index);
    TVorbisOut& Vorbis();
    // Routes the source through the sample-size converter when it holds 8-bit
    // samples; returns the component the next stage reads.
    TACSInput* SixteenBitSource();
    // Refuses a step whose output would overwrite its input.
    bool RefuseSamePath(const QString& input, const QString& output, int finalCode);

    void HandleRipError(qint64 reason);
    void HandleProcessInfo(const TProcessInfo& info);
    void ShowProgress(const TProcessInfo& info);
    void GainBegins();
    void ExtractionDone(const TProcessInfo& info);
    void Mp3Done(const TProcessInfo& info);
    void OggDone(const TProcessInfo& info);
    void ResampleDone();
    void WmaDone(const TProcessInfo& info);
    void StepFailed(const TProcessInfo& info);
    void PostStepFailure(int finalCode, const QString& message);
    TPendingFile::TReplace ReplaceRule() const;
    void PipelineFailed(const TProcessInfo& info);
    void SkipStep(int index, TItemOutcome outcome, int finalCode);
    void WriteTrackTag(int index);
    // Records the outcome and tells the caller; false when the job was
    // finished meanwhile (a handler stopped it).
    bool EndItem(int index, TItemOutcome outcome);
    void EncodingEnded(int& counter, int index, TItemOutcome outcome);
    void EndJob();
    void Stand(const QString& reason);
    void ShowError(const QString& text);
    void CloseViewOnce();
    void FinishPipelines();

    void PostPipelineProgress(const TACSOutput& sink);
    void PostPipelineFailure(int finalCode, const std::exception& error);

    TJobView& View;
    TPrompter& Prompter;
    TMp3EncodeProcess& Mp3;
    TWMAEncodeProcess& Wma;

    std::unique_ptr<TCDRipThread> RipThread;
    int ExtractIndex = 0;
    int EncodeIndex = 0;
    int OggIndex = 0;
    std::optional<QStringList> WorkList;
    int JobKind = 0;
    CDHandle Drive = 0;
    bool ProgressSeen = false;
    // Read by the pipelines' progress handlers on their worker threads.
    std::atomic<TClock::rep> PipelineStart{0};
    TClock::time_point WmaStart{};
    qint64 WmaSourceSize = 0;

    bool Started = false;
    bool ViewClosed = false;
    bool ReplaceExisting = true;
    TCreatedFile ResampleTemp; // the resampling's temporary file, once made
    TPendingFile OggResult;    // the Ogg file being written, until it is in place
    QStringList JobItems;      // the work list, kept for ResultFile after the end
    QString OutputFolder;      // with its trailing separator
    int OutputFormat = 1;      // kind 1: 0 MP3, 1 WAV, 2 OGG, 3 WMA
    QString PipelineOutput;    // the file the running Ogg pipeline makes
    // The extracted WAV files as they were made, so that only those are
    // deleted after encoding.
    std::vector<TFileIdentity> ExtractedWavs;
    std::vector<std::optional<TItemOutcome>> Outcomes;
    // The outcome an item gets when its skipped step comes back.
    std::vector<std::optional<TItemOutcome>> SkipOutcomes;
    std::thread::id OwnerThread;

    TClockSource Clock;
    TFileSizeSource FileSize;
    QTimer Timer1;

    std::unique_ptr<TWaveIn> WaveIn1;
    std::unique_ptr<TSampleConverter> SampleConverter1;
    std::unique_ptr<TRateConverter> RateConverter1;
    std::unique_ptr<TWaveOut> WaveOut1;
    std::unique_ptr<TVorbisOut> VorbisOut1; // made when first needed: it needs the Vorbis libraries
};
