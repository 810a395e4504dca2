#pragma once

#include "cd/cd_drive.h"

#include <QObject>
#include <QString>
#include <QStringList>

class TJobView;
class TPrompter;
class TMp3EncodeProcess;
class TWMAEncodeProcess;

// Runs one job: a batch of one kind over an ordered work list, one item after
// another. It starts each step (extraction thread, MP3 or WMA encoder process,
// in-process Ogg Vorbis or resampling pipeline), receives every worker's
// report as a posted WM_RIPERROR / WM_PROCESSINFO event, decides what runs
// next, shows progress through the view and messages through the prompter,
// and cleans up at the end.
//
// Threads: created, used and destroyed on one thread with an event loop (the
// user-interface thread, or the command-line mode's main thread). Every worker
// it started is stopped and joined before it is destroyed.
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

    TJobEngine(TJobView& view, TPrompter& prompter, TMp3EncodeProcess& mp3,
               TWMAEncodeProcess& wma, QObject* parent = nullptr);
    ~TJobEngine() override;

    // Starts the first step. An error raised while the first step starts (an
    // encoder program that cannot be started, a pipeline that refuses to run)
    // propagates to the caller (EEncoderError, EACSException), and the engine
    // has then finished its job.
    void Start(int kind, CDHandle drive, const QStringList& workList);

    // The Stop button: ends a running Ogg pipeline cleanly, finishes the job
    // and closes the view.
    void Stop();

    // Runs the end-of-job clean-up if the job has not finished yet (the view
    // was closed by other means). Safe to call more than once.
    void FinishJob();

    bool Finished() const;    // the work list has been released
    int ItemCount() const;

    // The result file of item index (the MP3/WAV/OGG/WMA it is turned into).
    QString ResultFile(int index) const;

signals:
    // An item's last step ended.
    void ItemEnded(int index, TJobEngine::TItemOutcome outcome);
    // The job cannot go on until Stop (a drive error, a step that could not
    // start, a pipeline that failed to start); reason is the message shown.
    void Standing(const QString& reason);
};
