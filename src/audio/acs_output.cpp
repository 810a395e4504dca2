#include "acs_output.h"

#include "audio/acs_exception.h"
#include "core/helpers.h"
#include "core/worker_thread.h"

#include <QFile>

#include <chrono>
#include <unistd.h>

TACSThread::TACSThread(TACSOutput* output) : Output(output)
{
}

TACSThread::~TACSThread()
{
    Shutdown();
}

bool TACSThread::IsWorkerThread() const
{
    return WorkerId.load() == std::this_thread::get_id();
}

void TACSThread::Start()
{
    if (Worker.joinable())
        return;
    Worker = StartWorkerThread(&TACSThread::Execute, this);
    WorkerId = Worker.get_id();
}

void TACSThread::Shutdown()
{
    if (!Worker.joinable())
        return;
    Q_ASSERT_X(!IsWorkerThread(), "TACSThread", "a sink must not be destroyed by its own handlers");
    {
        std::lock_guard lock(StateMutex);
        ShutdownRequested = true;
    }
    StateChanged.notify_all();
    Worker.join();
    WorkerId = std::thread::id();
}

void TACSThread::Execute()
{
    WorkerId = std::this_thread::get_id();
    for (;;) {
        {
            std::unique_lock lock(StateMutex);
            // Parked says the worker is between steps and looks at the flags
            // again before the next one; Pause waits for it.
            while (!ShutdownRequested && (OutsideWaiters > 0 || !Output->Busy() || PauseRequested)) {
                Parked = true;
                StateChanged.notify_all();
                StateChanged.wait(lock);
            }
            Parked = false;
            if (ShutdownRequested)
                break;
        }
        std::lock_guard step(StepLock);
        if (!Output->Busy())
            continue;
        const int delay = StepDelay.load();
        if (delay > 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        // Code a step runs (the C library's AVX-512 copies, which libvorbis
        // and we make in every step, and any library's AVX code) may leave the
        // upper vector state dirty, and the SSE code after it then runs slower
        // until something clears it; one instruction a step costs nothing.
        ClearUpperVectorState();
        try {
            if (!Output->OutputStep(AbortRequested.load())) {
                AbortRequested = false;
                Output->CompleteRun();
            }
        } catch (const std::exception& error) {
            AbortRequested = false;
            Output->HandleRunError(error);
        } catch (...) {
            AbortRequested = false;
            Output->HandleRunError(EACSException(QStringLiteral("Unknown error")));
        }
    }
    {
        std::lock_guard step(StepLock);
        Output->AbandonRun();
    }
    std::lock_guard lock(StateMutex);
    Parked = true;
    StateChanged.notify_all();
}

std::unique_lock<std::mutex> TACSThread::LockSteps()
{
    if (IsWorkerThread())
        return std::unique_lock<std::mutex>(StepLock, std::defer_lock);
    {
        std::lock_guard lock(StateMutex);
        ++OutsideWaiters;
    }
    std::unique_lock step(StepLock);
    {
        std::lock_guard lock(StateMutex);
        --OutsideWaiters;
    }
    StateChanged.notify_all();
    return step;
}

TACSOutput::TACSOutput(QObject* parent) : QObject(parent), Thread(std::make_unique<TACSThread>(this))
{
}

TACSOutput::~TACSOutput()
{
    Q_ASSERT_X(!Thread->Worker.joinable(), "TACSOutput",
               "a concrete sink must call ShutdownWorker() in its destructor");
    ShutdownWorker();
}

void TACSOutput::SetStepDelay(int milliseconds)
{
    if (milliseconds >= 0 && milliseconds <= 100)
        Thread->StepDelay = milliseconds;
}

void TACSOutput::SetOnDone(TOutputDoneEvent handler)
{
    std::lock_guard lock(EventLock);
    OnDone = std::move(handler);
}

void TACSOutput::SetOnProgress(TOutputProgressEvent handler)
{
    std::lock_guard lock(EventLock);
    OnProgress = std::move(handler);
}

void TACSOutput::SetOnThreadException(TThreadExceptionEvent handler)
{
    std::lock_guard lock(EventLock);
    OnThreadException = std::move(handler);
}

void TACSOutput::AssignInput(TACSInput* input)
{
    // Serialised with the worker's steps, so a run cannot end halfway through
    // the swap and leave the new input's read begun.
    std::unique_lock step = Thread->LockSteps();
    if (input == Input())
        return;
    if (!Busy() || !InputReading) {
        InputLink.Exchange(input);
        return;
    }
    if (input)
        input->BeginRead();
    TACSInput* old = InputLink.Exchange(input);
    if (old)
        old->EndRead();
    InputReading = input != nullptr;
}

void TACSOutput::Run()
{
    std::unique_lock step = Thread->LockSteps();
    if (Busy())
        throw EACSException(QStringLiteral("Component is buisy"));
    if (!Input())
        throw EACSException(QStringLiteral("Input is not assigned"));
    MuteEvents(false);
    DestinationOpen = false;
    InputReading = false;
    try {
        PrepareOutput();
        DestinationOpen = true;
        Thread->AbortRequested = false;
        OutputEnabledValue = true;
        {
            std::lock_guard lock(Thread->StateMutex);
            Thread->PauseRequested = false;
            BusyValue = true;
        }
        Thread->Start();
        Thread->StateChanged.notify_all();
    } catch (const std::exception& error) {
        // Not passed to the caller: a failed start is reported like any other
        // error of the run, on this thread.
        if (Busy()) {
            AbandonRun();
        } else {
            try {
                EndInputRead();
            } catch (const std::exception&) {
                // The input is put back as far as it goes; the error that
                // matters is the one being reported.
            }
        }
        OutputEnabledValue = false;
        if (step.owns_lock())
            step.unlock();
        FireThreadException(error);
    }
}

void TACSOutput::Stop()
{
    Thread->AbortRequested = true;
}

void TACSOutput::Pause()
{
    std::unique_lock lock(Thread->StateMutex);
    if (!Busy())
        return;
    Thread->PauseRequested = true;
    if (Thread->IsWorkerThread())
        return;
    Thread->StateChanged.wait(lock, [this] { return Thread->Parked || !Thread->PauseRequested; });
}

void TACSOutput::Resume()
{
    {
        std::lock_guard lock(Thread->StateMutex);
        Thread->PauseRequested = false;
    }
    Thread->StateChanged.notify_all();
}

TOutputStatus TACSOutput::Status() const
{
    std::lock_guard lock(Thread->StateMutex);
    if (!Busy())
        return osIdle;
    return Thread->PauseRequested ? osPaused : osRunning;
}

int TACSOutput::Progress() const
{
    std::lock_guard read(InputLink.InputLock);
    const TACSInput* input = InputLink.Get();
    if (!input)
        return 0;
    const qint64 size = input->Size();
    if (size < 0)
        return -1;
    if (size == 0)
        return 0;
    return static_cast<int>(
        RoundHalfEven(static_cast<double>(input->Position()) / static_cast<double>(size) * 100.0));
}

void TACSOutput::FinishOutput()
{
    std::unique_lock step = Thread->LockSteps();
    OutputEnabledValue = false;
    struct TEndRun {
        TACSOutput* Output;
        ~TEndRun() { Output->SetBusy(false); }
    } endRun{this};
    FinishDestination();
}

void TACSOutput::ReportProgress()
{
    const int progress = Progress();
    if (progress != LastProgressValue.load()) {
        LastProgressValue = progress;
        FireProgress();
    }
}

void TACSOutput::BeginInputRead()
{
    TACSInput* input = Input();
    if (!input)
        throw EACSException(QStringLiteral("Input is not assigned"));
    input->BeginRead();
    InputReading = true;
}

int TACSOutput::FetchFromInput(void* buffer, int bufferSize)
{
    std::lock_guard read(InputLink.InputLock);
    TACSInput* input = InputLink.Get();
    if (!input)
        throw EACSException(QStringLiteral("Input is not assigned"));
    return input->FetchData(buffer, bufferSize);
}

void TACSOutput::ShutdownWorker()
{
    MuteEvents(true);
    Thread->Shutdown();
}

void TACSOutput::InputVanishing()
{
    // The chain is being taken apart (a window destroys its components): the
    // run ends with a finished destination and no event into that window.
    MuteEvents(true);
    std::unique_lock step = Thread->LockSteps();
    AbandonRun();
}

void TACSOutput::CompleteRun()
{
    if (!Busy())
        return;
    OutputEnabledValue = false;
    FinishDestination();
    SetBusy(false);
    FireDone();
}

void TACSOutput::HandleRunError(const std::exception& error)
{
    if (Busy()) {
        try {
            FinishDestination();
        } catch (const std::exception&) {
            // The first error is the one reported; the destination is closed
            // as far as it goes.
        }
    }
    OutputEnabledValue = false;
    SetBusy(false);
    FireThreadException(error);
}

void TACSOutput::FinishDestination()
{
    if (DestinationOpen) {
        DestinationOpen = false;
        try {
            DoFinishOutput();
        } catch (...) {
            EndInputRead();
            throw;
        }
    }
    EndInputRead();
}

void TACSOutput::EndInputRead()
{
    if (!InputReading)
        return;
    InputReading = false;
    std::lock_guard read(InputLink.InputLock);
    if (TACSInput* input = InputLink.Get())
        input->EndRead();
}

void TACSOutput::AbandonRun()
{
    OutputEnabledValue = false;
    try {
        FinishDestination();
    } catch (const std::exception&) {
        // Nobody is left to tell: the sink or its input is going away.
    }
    SetBusy(false);
}

void TACSOutput::SetBusy(bool busy)
{
    {
        std::lock_guard lock(Thread->StateMutex);
        BusyValue = busy;
    }
    Thread->StateChanged.notify_all();
}

void TACSOutput::MuteEvents(bool mute)
{
    std::lock_guard lock(EventLock);
    EventsMuted = mute;
}

void TACSOutput::FireDone()
{
    std::lock_guard lock(EventLock);
    if (EventsMuted || !OnDone)
        return;
    try {
        OnDone(this);
    } catch (...) {
        // A handler's error has nowhere to go on the worker thread.
    }
}

void TACSOutput::FireProgress()
{
    std::lock_guard lock(EventLock);
    if (EventsMuted || !OnProgress)
        return;
    try {
        OnProgress(this);
    } catch (...) {
        // As above.
    }
}

void TACSOutput::FireThreadException(const std::exception& error)
{
    std::lock_guard lock(EventLock);
    if (EventsMuted || !OnThreadException)
        return;
    try {
        OnThreadException(this, error);
    } catch (...) {
        // As above.
    }
}

TACSStreamedOutput::TACSStreamedOutput(QObject* parent) : TACSOutput(parent)
{
}

TACSStreamedOutput::~TACSStreamedOutput() = default;

TACSFileOut::TACSFileOut(QObject* parent) : TACSStreamedOutput(parent)
{
}

TACSFileOut::~TACSFileOut() = default;

void TACSFileOut::SetFileMode(TFileOutputMode)
{
    FileModeValue = foRewrite;
}

void TACSFileOut::OpenOutputFile(bool keepContents)
{
    RunFileName = FileNameValue;
    RunCreated = {};
    // Never through a link, never into a FIFO or device, never over a file the
    // user made read-only.
    const bool existed = EntryExists(RunFileName);
    TFileError error;
    const int handle = OpenFileForWriting(RunFileName, !keepContents, &error);
    if (handle < 0)
        throw EACSException(
            QStringLiteral("Cannot create the file \"%1\": %2").arg(RunFileName, error.Text()));
    if (!existed)
        RunCreated = TFileIdentity::OfHandle(handle);
    auto file = std::make_unique<QFile>();
    if (!file->open(handle, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(handle);
        RemoveCreatedFile();
        throw EACSException(
            QStringLiteral("Cannot create the file \"%1\": %2").arg(RunFileName, file->errorString()));
    }
    OwnedFile = std::move(file);
    StreamDevice = OwnedFile.get();
}

void TACSFileOut::RemoveCreatedFile()
{
    RemoveIfSame(RunFileName, RunCreated);
    RunCreated = {};
}

bool TACSFileOut::CloseOutputFile()
{
    if (!OwnedFile)
        return true;
    OwnedFile->close();
    const bool ok = OwnedFile->error() == QFileDevice::NoError;
    OwnedFile.reset();
    StreamDevice = nullptr;
    return ok;
}

QString TACSFileOut::WriteErrorText(const QString& reason) const
{
    return QStringLiteral("Cannot write to the file \"%1\": %2").arg(RunFileName, reason);
}
