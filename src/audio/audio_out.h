#pragma once

#include "audio/acs_output.h"

#include <SDL_audio.h>

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

// The sound-card sink: plays the PCM of its input on an SDL output device in
// the input's own format.
//
// Each step (every 6 ms) tops up a queue of at most nine 8192-byte buffers,
// about 0.4 s of CD-quality sound, one read of the input per buffer. The
// device takes the bytes from the head of the queue; a buffer it has used up
// comes back for the next read. So Stop lets what is queued play out before
// the run ends and OnDone fires; Pause stops the refill, the device plays
// what is queued and then falls silent; Resume refills. A run ends once the
// device has played every queued buffer.
//
// A device that cannot be opened does not stop the run: the input is read to
// its end and thrown away, so the run still ends (OnDone) at once, and
// DeviceError says why nothing was heard.
//
// Threads. As TACSOutput: the window thread sets the properties and calls Run,
// Stop, Pause and Resume; the worker thread fills the queue. SDL's device
// thread runs DeviceCallback, which takes bytes from the queue and returns used
// buffers; it waits for a buffer that is late while the run plays (asking
// Status), so a slow source makes no gap. Everything the two share (the queue,
// the returned buffers, Queued, the played count) is guarded by QueueLock on
// both sides. Locks are taken in one order: the step lock, QueueLock, the
// worker's state lock (through Status).
class TAudioOut final : public TACSOutput {
public:
    static constexpr int BufferBytes = 8192;
    // Refilled while no more than this many buffers are queued, up to one more.
    static constexpr int QueueDepth = 8;

    explicit TAudioOut(QObject* parent = nullptr);
    ~TAudioOut() override;

    int BaseChannel() const;
    // Raises "Component is buisy" during a run, and "Channel N is not
    // available" when N is not one of the output devices; without any device
    // 0 is stored whatever is given.
    void SetBaseChannel(int channel);
    // 255 plays the samples as they are; below, they are scaled by
    // volume / 255. Any thread; the next buffer read uses it.
    int Volume() const;
    void SetVolume(int volume);

    // Why the device of the current or last run could not be opened, in SDL's
    // words; empty when it opened.
    QString DeviceError() const;
    // Bytes of this run the device has taken so far: what has been heard, up
    // to the device's own latency. 0 before a run and without a device.
    qint64 PlayedBytes() const;
    // Buffers handed to the device and not yet used up.
    int Queued() const;

protected:
    void PrepareOutput() override;
    bool OutputStep(bool abort) override;
    void DoFinishOutput() override;

private:
    struct TBuffer {
        std::vector<char> Data;
        int Length = 0;
        int Used = 0;
    };
    using TBufferPtr = std::unique_ptr<TBuffer>;

    static void DeviceCallback(void* userdata, Uint8* stream, int length);
    void Fill(Uint8* stream, int length);
    void ApplyVolume(TBuffer& buffer, int volume) const;
    void StartDevice();
    void WaitUntilPlayed();
    void CloseDevice();

    std::atomic<int> BaseChannelValue{0};
    std::atomic<int> VolumeValue{255};
    std::atomic<bool> CloseAtOnce{false};

    // The run's device and format; set while no device thread runs (before the
    // open, after the close), read by the worker in between.
    SDL_AudioDeviceID Device = 0;
    bool DeviceStarted = false;
    int BitsPerSample = 16;
    std::vector<TBufferPtr> FreeBuffers; // worker only

    mutable std::mutex QueueLock;
    std::condition_variable QueueChanged;
    // Guarded by QueueLock.
    std::deque<TBufferPtr> Pending; // handed to the device, head first
    std::vector<TBufferPtr> DoneList;
    int QueuedCount = 0;
    bool Feeding = false; // more buffers are coming in this run
    qint64 Callbacks = 0; // device callbacks so far
    qint64 Played = 0;    // bytes the device took in this run
    QString DeviceErrorText;
    Uint8 Silence = 0;
};
