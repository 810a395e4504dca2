#pragma once

#include "audio/acs_input.h"
#include "core/safe_files.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QFile;
class QIODevice;
class TACSOutput;

enum TOutputStatus { osRunning = 0, osPaused = 1, osIdle = 2 };
enum TFileOutputMode { foRewrite = 0, foAppend = 1 };

// The worker thread of one sink. It is started by the sink's first Run, waits
// (parked on a condition variable) whenever there is no run or the run is
// paused, and is joined when the sink is destroyed. Each step runs with
// StepLock held; the lock is not held while parked.
class TACSThread {
public:
    explicit TACSThread(TACSOutput* output);
    ~TACSThread();
    TACSThread(const TACSThread&) = delete;
    TACSThread& operator=(const TACSThread&) = delete;

    bool IsWorkerThread() const;

    std::atomic<bool> AbortRequested{false};
    // Milliseconds slept before each step; only values above 5 sleep.
    std::atomic<int> StepDelay{0};
    std::atomic<bool> SuspendWhenIdle{true};
    std::mutex StepLock;

private:
    friend class TACSOutput;
    void Start();
    void Shutdown();
    void Execute();
    // StepLock for another thread (none on the worker itself). The worker lets
    // such a waiter in before its next step: a mutex alone would let the worker
    // take it again and again while the window thread starves.
    std::unique_lock<std::mutex> LockSteps();

    TACSOutput* Output;
    std::thread Worker;
    std::atomic<std::thread::id> WorkerId{};
    // Guarded by StateMutex; StateChanged is signalled on every change.
    std::mutex StateMutex;
    std::condition_variable StateChanged;
    bool ShutdownRequested = false;
    bool PauseRequested = false;
    bool Parked = true;
    int OutsideWaiters = 0;
};

// A sink: owns one worker thread that pulls blocks from its Input and writes
// them somewhere. Run starts a run; it ends at the end of the input or after
// Stop (OnDone fires), or on an error (OnThreadException fires, OnDone does
// not).
//
// Threads. The window thread calls Run, Stop, Pause, Resume, Status,
// Progress, AssignInput, FinishOutput and the setters. The worker thread calls
// OutputStep, and through it every FetchData of the chain, and fires
// OnProgress, OnDone and OnThreadException; an error in PrepareOutput fires
// OnThreadException on the thread that called Run. Handlers run on the worker
// with no hand-over: one that touches a window must post to it, and no handler
// may wait for the window thread (the window thread may be waiting in Pause or
// in the destructor for this worker).
//
// Deriving. Implement PrepareOutput (open the destination and call
// BeginInputRead), OutputStep and DoFinishOutput (finish and close the
// destination; the input's read is ended by the framework afterwards).
// PrepareOutput undoes its own work when it fails. A concrete sink calls
// ShutdownWorker() first thing in its destructor, so that the worker is joined
// while the sink's members still exist.
class TACSOutput : public QObject, protected TACSInputUser {
public:
    using TOutputDoneEvent = std::function<void(TACSOutput* sender)>;
    using TOutputProgressEvent = std::function<void(TACSOutput* sender)>;
    using TThreadExceptionEvent = std::function<void(TACSOutput* sender, const std::exception& error)>;

    explicit TACSOutput(QObject* parent = nullptr);
    ~TACSOutput() override;

    TACSInput* Input() const { return InputLink.Get(); }
    // During a run the new input's BeginRead runs first, the swap waits for a
    // read in progress, and the old input's EndRead runs last.
    virtual void AssignInput(TACSInput* input);

    bool SuspendWhenIdle() const { return Thread->SuspendWhenIdle.load(); }
    // Kept for the components' stored properties; an idle worker always waits.
    void SetSuspendWhenIdle(bool suspend) { Thread->SuspendWhenIdle = suspend; }
    int StepDelay() const { return Thread->StepDelay.load(); }
    // Accepted for 0..100 milliseconds; other values are ignored.
    void SetStepDelay(int milliseconds);

    void SetOnDone(TOutputDoneEvent handler);
    void SetOnProgress(TOutputProgressEvent handler);
    void SetOnThreadException(TThreadExceptionEvent handler);

    // Raises "Component is buisy" during a run and "Input is not assigned"
    // without input. An error while preparing goes to OnThreadException.
    void Run();
    // The next step ends the run normally: the destination is finished and
    // OnDone fires.
    void Stop();
    // Returns once the worker is parked between two steps (at once when called
    // from a handler on the worker itself; the worker then parks after the
    // current step).
    void Pause();
    void Resume();
    TOutputStatus Status() const;
    // Percent of the direct input read: 0 without input, -1 when its Size is
    // unknown, 0 when its Size is 0.
    int Progress() const;
    // From a successful Run until the run ends.
    bool Busy() const { return BusyValue.load(); }
    int LastProgress() const { return LastProgressValue.load(); }
    // Finishes the destination and ends the input's read now, waiting for a
    // step in progress; the run is over without OnDone. Calling it again, or on
    // an idle sink, does nothing.
    void FinishOutput();

protected:
    // Opens the destination and begins the input's read (BeginInputRead).
    virtual void PrepareOutput() = 0;
    // One step of the run; false when the run is over. A concrete step starts
    // with "if (!OutputEnabled()) return true;", then calls ReportProgress(),
    // then returns false when abort is set or OutputEnabled() went false (a
    // handler may have called FinishOutput); reads go through FetchFromInput.
    virtual bool OutputStep(bool abort) = 0;
    // Finishes and closes the destination. Called once per run, on the worker
    // or on the thread calling FinishOutput.
    virtual void DoFinishOutput() = 0;

    bool OutputEnabled() const { return OutputEnabledValue.load(); }
    // Fires OnProgress when Progress differs from the value last reported.
    void ReportProgress();
    // BeginRead on the input, remembered so that the framework ends it.
    void BeginInputRead();
    // One read from the input while InputLock is held; raises "Input is not
    // assigned" when the input went away.
    int FetchFromInput(void* buffer, int bufferSize);
    // Stops the worker for good: a run in progress is finished quietly (its
    // destination completed, its input's read ended, no event fired) and the
    // thread is joined. Idempotent.
    void ShutdownWorker();

    void InputVanishing() override;

    TACSInputLink InputLink{this};

private:
    friend class TACSThread;
    void CompleteRun();
    void HandleRunError(const std::exception& error);
    // DoFinishOutput once per run, then the input's EndRead. StepLock held.
    void FinishDestination();
    void EndInputRead();
    // The run ends with no event: destination finished, errors dropped.
    void AbandonRun();
    void SetBusy(bool busy);
    void MuteEvents(bool mute);
    void FireDone();
    void FireProgress();
    void FireThreadException(const std::exception& error);

    std::unique_ptr<TACSThread> Thread;
    std::atomic<bool> BusyValue{false};
    std::atomic<bool> OutputEnabledValue{false};
    std::atomic<int> LastProgressValue{0};
    // Guarded by StepLock (or touched while no worker runs a step).
    bool DestinationOpen = false;
    bool InputReading = false;
    // Handlers and the mute flag; held while a handler runs, so muting waits
    // for one in progress.
    std::recursive_mutex EventLock;
    bool EventsMuted = false;
    TOutputDoneEvent OnDone;
    TOutputProgressEvent OnProgress;
    TThreadExceptionEvent OnThreadException;
};

// A sink that writes a byte stream: a file it creates itself, or a stream
// handed in by its owner.
class TACSStreamedOutput : public TACSOutput {
public:
    explicit TACSStreamedOutput(QObject* parent = nullptr);
    ~TACSStreamedOutput() override;

    QIODevice* Stream() const { return StreamDevice; }
    // Writes into this stream instead of a file; the owner keeps it open and
    // frees it. Set while idle.
    void SetStream(QIODevice* stream) { ExternalStreamDevice = stream; }
    bool ExternalStream() const { return ExternalStreamDevice != nullptr; }

protected:
    QIODevice* StreamDevice = nullptr;
    QIODevice* ExternalStreamDevice = nullptr;
    std::unique_ptr<QFile> OwnedFile;
};

// A sink that writes a file.
class TACSFileOut : public TACSStreamedOutput {
public:
    explicit TACSFileOut(QObject* parent = nullptr);
    ~TACSFileOut() override;

    QString FileName() const { return FileNameValue; }
    // Set while idle.
    void SetFileName(const QString& fileName) { FileNameValue = fileName; }
    TFileOutputMode FileMode() const { return FileModeValue; }
    // The base stores foRewrite whatever it is given; sinks that can append
    // override it.
    virtual void SetFileMode(TFileOutputMode mode);

protected:
    // Opens FileName for writing into OwnedFile and StreamDevice: emptied, or
    // kept for appending. A link, a FIFO or device and a write-protected file
    // at the name are refused. Raises with the system's reason when it cannot.
    void OpenOutputFile(bool keepContents);
    // Deletes the file the run's OpenOutputFile created, if the name still
    // leads to it (a run that could not start takes back what it made).
    void RemoveCreatedFile();
    // Closes and frees the file opened here; false when the last buffered
    // bytes could not be written.
    bool CloseOutputFile();
    // "Cannot write to the file ...: reason", for the run's file.
    QString WriteErrorText(const QString& reason) const;

    TFileOutputMode FileModeValue = foRewrite;
    // FileName as it was when the run's file was opened.
    QString RunFileName;
    // The file OpenOutputFile created, invalid when it opened an existing one.
    TFileIdentity RunCreated;

private:
    QString FileNameValue;
};
