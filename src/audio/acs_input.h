#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class QIODevice;
class TACSInput;

// Sources of the pull-model audio framework: a source delivers interleaved PCM
// (8-bit unsigned or 16-bit signed little-endian, 1 or 2 channels) on request;
// a converter is a source that pulls from another source. Sinks (acs_output.h)
// pull the chain on their worker thread.
//
// Threads. The window thread builds the chain, sets properties, asks the
// queries (GetSampleRate, IsValid, ...) and swaps inputs with AssignInput. The
// worker thread of the sink at the end of the chain calls FetchData on every
// component and, when the run ends, EndRead. BeginRead runs on whichever thread
// calls the sink's Run. Position and Size may be read from any thread.
//
// Deriving. A concrete component implements the abstract operations below and
// calls DetachUsers() first thing in its destructor, so that a sink still
// pulling from it is stopped (and its input link cleared) while the
// component's own members still exist.

// Anything with an Input: converters and sinks. Told when its input is about to
// be destroyed, before the link is cleared.
class TACSInputUser {
public:
    virtual void InputVanishing() = 0;

protected:
    ~TACSInputUser() = default;
};

// The Input property of a converter or sink. Reads from the input happen while
// InputLock is held, and so does every change of the link, so a read in
// progress and an input swap never overlap.
class TACSInputLink {
public:
    explicit TACSInputLink(TACSInputUser* owner);
    ~TACSInputLink();
    TACSInputLink(const TACSInputLink&) = delete;
    TACSInputLink& operator=(const TACSInputLink&) = delete;

    TACSInput* Get() const { return Current.load(); }
    // Points the link at input (none allowed); returns the previous input. Takes
    // InputLock, so it waits for a read in progress.
    TACSInput* Exchange(TACSInput* input);

    // Mutable: Progress, a const query, reads under it.
    mutable std::mutex InputLock;

private:
    friend class TACSInput;
    TACSInputUser* Owner;
    std::atomic<TACSInput*> Current{nullptr};
};

class TACSInput : public QObject {
public:
    explicit TACSInput(QObject* parent = nullptr);
    ~TACSInput() override;

    virtual int GetBitsPerSample() = 0;
    virtual int GetChannels() = 0;
    virtual int GetSampleRate() = 0;
    // Seconds of audio; 0 when unknown.
    virtual int GetTotalTime();
    // Copies at most bufferSize bytes into buffer and returns how many; 0 is the
    // end of the stream. Raises "The Stream is not opened" outside a read.
    virtual int FetchData(void* buffer, int bufferSize) = 0;
    // EndRead with any error swallowed, then not busy: puts a source back after
    // a failed run.
    virtual void ResetRead();
    // Makes the source ready to deliver from its start.
    virtual void BeginRead() = 0;
    // Stops delivering and releases what BeginRead took.
    virtual void EndRead() = 0;

    // Bytes delivered since BeginRead.
    qint64 Position() const { return PositionValue.load(); }
    // Bytes this component will deliver in total; -1 when unknown.
    qint64 Size() const { return SizeValue.load(); }
    // Between BeginRead and EndRead.
    bool Busy() const { return BusyValue.load(); }

protected:
    // Stops every sink pulling from this component (directly or through
    // converters) and clears the links pointing here. Idempotent.
    void DetachUsers();
    // Tells the users that this component's own input is going away.
    void NotifyUsersInputVanishing();

    std::atomic<qint64> PositionValue{0};
    std::atomic<qint64> SizeValue{0};
    std::atomic<bool> BusyValue{false};
    // A 1-based window into the component's own output buffer; empty when
    // BufStart > BufEnd. Worker thread only during a read.
    int BufStart = 1;
    int BufEnd = 0;

private:
    friend class TACSInputLink;
    std::vector<TACSInputLink*> Users;
};

// A source that reads a byte stream: a file it opens itself, or a stream handed
// in by its owner.
class TACSStreamedInput : public TACSInput {
public:
    explicit TACSStreamedInput(QObject* parent = nullptr);
    ~TACSStreamedInput() override;

    QIODevice* Stream() const { return StreamDevice; }
    // Reads this stream instead of a file. The owner keeps it: the source
    // neither opens nor closes it. None goes back to the file.
    void SetStream(QIODevice* stream);
    bool ExternalStream() const { return ExternalStreamDevice != nullptr; }
    bool Seekable() const { return true; }

protected:
    // The stream being read: the external one or OwnedStream.
    QIODevice* StreamDevice = nullptr;
    QIODevice* ExternalStreamDevice = nullptr;
    std::unique_ptr<QIODevice> OwnedStream;
};

// A source that reads a file. The file is open only while something needs it:
// each query opens it, reads the stored value and closes it again, and a read
// keeps it open from BeginRead to EndRead. Opening is counted, so a query during
// a run does not reopen the file.
//
// Threads: the queries and setters on the window thread, FetchData on the
// sink's worker; SourceLock serialises opening, closing, seeking and refills.
class TACSFileIn : public TACSStreamedInput {
public:
    explicit TACSFileIn(QObject* parent = nullptr);
    ~TACSFileIn() override;

    QString FileName() const;
    void SetFileName(const QString& fileName);
    // First frame delivered, and the frame to stop before (-1: to the end).
    qint64 StartSample() const { return StartSampleValue; }
    void SetStartSample(qint64 frame) { StartSampleValue = frame; }
    qint64 EndSample() const { return EndSampleValue; }
    void SetEndSample(qint64 frame) { EndSampleValue = frame; }
    // Start again at StartSample when the end is reached.
    bool Loop() const { return LoopValue.load(); }
    void SetLoop(bool loop) { LoopValue = loop; }
    // A relative jump in percent of the whole stream (negative backwards),
    // taken up and cleared by the next refill. Any thread.
    int PendingJump() const { return PendingJumpValue.load(); }
    void SetPendingJump(int percent) { PendingJumpValue = percent; }

    // Whether the file can be read. False at once without a file name or stream.
    bool IsValid();
    int GetBitsPerSample() override;
    int GetChannels() override;
    int GetSampleRate() override;
    int GetTotalTime() override;
    // Frames in the file.
    qint64 GetTotalSamples();

    // Raises "The component is buisy" when busy, "The file name is not
    // assigned" without a name or stream, and the reason the file cannot be
    // read when it is not valid.
    void BeginRead() override;
    void EndRead() override;
    void ResetRead() override;

    // Positions the next refill at a frame of the file; false when the source
    // is not open or cannot seek.
    virtual bool SeekSample(qint64 frame) = 0;

protected:
    // Open the file and read its header (first call), or count one more user.
    // Leaves Valid false, with InvalidReason, when it cannot be read.
    virtual void OpenSource() = 0;
    // Undo one OpenSource; the file is released when the count reaches 0.
    virtual void CloseSource() = 0;

    std::recursive_mutex SourceLock;
    int OpenCount = 0;
    bool Valid = false;
    QString InvalidReason;
    int StoredBitsPerSample = 0;
    int StoredSampleRate = 0;
    int StoredChannels = 0;
    qint64 TotalSamples = 0;
    std::atomic<int> PendingJumpValue{0};

private:
    QString FileNameValue;
    qint64 StartSampleValue = 0;
    qint64 EndSampleValue = -1;
    std::atomic<bool> LoopValue{false};
};

// A source that pulls from another source and transforms what it reads.
// Concrete converters read their input only through FetchFromInput.
class TACSConverter : public TACSInput, protected TACSInputUser {
public:
    explicit TACSConverter(QObject* parent = nullptr);
    ~TACSConverter() override;

    TACSInput* Input() const { return InputLink.Get(); }
    // Setting the converter as its own input is ignored. During a read the new
    // input's BeginRead runs first, the swap waits for a read in progress, and
    // the old input's EndRead runs last. Window thread.
    virtual void AssignInput(TACSInput* input);

protected:
    // The input, or "Input not assigned" raised.
    TACSInput* RequireInput() const;
    // One read from the input while InputLock is held.
    int FetchFromInput(void* buffer, int bufferSize);
    void InputVanishing() override;

    TACSInputLink InputLink{this};
};
