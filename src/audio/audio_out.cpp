#include "audio_out.h"

#include "audio/acs_exception.h"
#include "audio/sound_devices.h"
#include "core/helpers.h"

#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

// A device that takes nothing for this long while the end of a run waits for
// it has stopped for good (a sound server gone away); the run ends anyway.
constexpr auto StalledDevice = std::chrono::seconds(5);
// How long the device waits for a buffer that is late while the run plays.
constexpr auto LateBufferWait = std::chrono::seconds(2);

// Frames per device period: about 50 ms, a power of two as SDL likes it.
Uint16 DeviceFrames(int sampleRate)
{
    int frames = 256;
    while (frames * 2 <= sampleRate / 20 && frames < 8192)
        frames *= 2;
    return static_cast<Uint16>(frames);
}

} // namespace

TAudioOut::TAudioOut(QObject* parent) : TACSOutput(parent)
{
    SetStepDelay(6);
}

TAudioOut::~TAudioOut()
{
    // Whatever is still queued is cut off: the sink is going away.
    CloseAtOnce = true;
    ShutdownWorker();
    CloseDevice();
}

int TAudioOut::BaseChannel() const
{
    return BaseChannelValue.load();
}

void TAudioOut::SetBaseChannel(int channel)
{
    if (Busy())
        throw EACSException(QStringLiteral("Component is buisy"));
    const int devices = OutputDeviceCount();
    if (devices == 0) {
        BaseChannelValue = 0;
        return;
    }
    if (channel < 0 || channel >= devices)
        throw EACSException(QStringLiteral("Channel %1 is not available").arg(channel));
    BaseChannelValue = channel;
}

int TAudioOut::Volume() const
{
    return VolumeValue.load();
}

void TAudioOut::SetVolume(int volume)
{
    VolumeValue = std::clamp(volume, 0, 255);
}

QString TAudioOut::DeviceError() const
{
    std::lock_guard lock(QueueLock);
    return DeviceErrorText;
}

qint64 TAudioOut::PlayedBytes() const
{
    std::lock_guard lock(QueueLock);
    return Played;
}

int TAudioOut::Queued() const
{
    std::lock_guard lock(QueueLock);
    return QueuedCount;
}

void TAudioOut::PrepareOutput()
{
    BeginInputRead();
    TACSInput* input = Input();
    const int channels = input->GetChannels();
    const int rate = input->GetSampleRate();
    const int bits = input->GetBitsPerSample();
    BitsPerSample = bits;
    Silence = bits == 8 ? 0x80 : 0;
    DeviceStarted = false;
    {
        // The last run's device was closed with its buffers taken back.
        std::lock_guard lock(QueueLock);
        QueuedCount = 0;
        Feeding = true;
        Callbacks = 0;
        Played = 0;
        DeviceErrorText.clear();
    }
    QString error;
    if (channels < 1 || channels > 2 || rate < 1 || (bits != 8 && bits != 16)) {
        error = QStringLiteral("Sound of %1 Hz, %2 bits, %3 channels cannot be played.")
                    .arg(rate)
                    .arg(bits)
                    .arg(channels);
    } else {
        SDL_AudioSpec wanted{};
        wanted.freq = rate;
        wanted.format = bits == 8 ? AUDIO_U8 : AUDIO_S16LSB;
        wanted.channels = static_cast<Uint8>(channels);
        wanted.samples = DeviceFrames(rate);
        wanted.callback = &TAudioOut::DeviceCallback;
        wanted.userdata = this;
        Device = OpenSoundDevice(false, BaseChannel(), wanted, &error);
    }
    if (Device == 0) {
        std::lock_guard lock(QueueLock);
        DeviceErrorText = error.isEmpty() ? QStringLiteral("The sound device could not be opened.") : error;
    }
}

bool TAudioOut::OutputStep(bool abort)
{
    if (!OutputEnabled())
        return true;
    auto stopFeeding = [this] {
        {
            std::lock_guard lock(QueueLock);
            Feeding = false;
        }
        QueueChanged.notify_all();
    };
    // Not for a source of unknown size, nor of none.
    auto reportProgress = [this] {
        const TACSInput* input = Input();
        if (input && input->Size() > 0)
            ReportProgress();
    };
    if (abort) {
        stopFeeding();
        return false;
    }
    int queued = 0;
    {
        std::lock_guard lock(QueueLock);
        for (TBufferPtr& buffer : DoneList)
            FreeBuffers.push_back(std::move(buffer));
        DoneList.clear();
        queued = QueuedCount;
    }
    if (QueueDepth >= queued) {
        const int volume = Volume();
        for (int i = QueueDepth - queued + 1; i > 0; --i) {
            TBufferPtr buffer;
            if (FreeBuffers.empty()) {
                buffer = std::make_unique<TBuffer>();
                buffer->Data.resize(BufferBytes);
            } else {
                buffer = std::move(FreeBuffers.back());
                FreeBuffers.pop_back();
            }
            const int count = FetchFromInput(buffer->Data.data(), BufferBytes);
            if (count < 1) {
                FreeBuffers.push_back(std::move(buffer));
                stopFeeding();
                StartDevice();
                // The whole input has been read: progress reaches its end.
                reportProgress();
                return false;
            }
            if (Device == 0) {
                // No device takes it: read on, so the run still ends.
                FreeBuffers.push_back(std::move(buffer));
                continue;
            }
            buffer->Length = count;
            buffer->Used = 0;
            if (volume < 255)
                ApplyVolume(*buffer, volume);
            {
                std::lock_guard lock(QueueLock);
                Pending.push_back(std::move(buffer));
                ++QueuedCount;
            }
            QueueChanged.notify_all();
        }
        StartDevice();
    }
    reportProgress();
    return true;
}

void TAudioOut::DoFinishOutput()
{
    {
        std::lock_guard lock(QueueLock);
        Feeding = false;
    }
    QueueChanged.notify_all();
    if (Device != 0 && DeviceStarted && !CloseAtOnce)
        WaitUntilPlayed();
    CloseDevice();
}

void TAudioOut::StartDevice()
{
    if (Device == 0 || DeviceStarted)
        return;
    {
        std::lock_guard lock(QueueLock);
        if (QueuedCount == 0)
            return;
    }
    DeviceStarted = true;
    SDL_PauseAudioDevice(Device, 0);
}

void TAudioOut::WaitUntilPlayed()
{
    std::unique_lock lock(QueueLock);
    qint64 lastCallbacks = Callbacks;
    auto lastChange = std::chrono::steady_clock::now();
    // Still running after the queue emptied, the device has handed the last
    // bytes on to the sound system.
    qint64 emptiedAt = -1;
    for (;;) {
        if (QueuedCount == 0) {
            if (emptiedAt < 0)
                emptiedAt = Callbacks;
            else if (Callbacks > emptiedAt)
                return;
        }
        QueueChanged.wait_for(lock, std::chrono::milliseconds(100));
        const auto now = std::chrono::steady_clock::now();
        if (Callbacks != lastCallbacks) {
            lastCallbacks = Callbacks;
            lastChange = now;
        } else if (now - lastChange > StalledDevice) {
            return;
        }
    }
}

void TAudioOut::CloseDevice()
{
    if (Device == 0)
        return;
    {
        std::lock_guard lock(QueueLock);
        Feeding = false;
    }
    QueueChanged.notify_all();
    // Joins SDL's device thread; the callback never waits once Feeding is off.
    SDL_CloseAudioDevice(Device);
    Device = 0;
    DeviceStarted = false;
    std::lock_guard lock(QueueLock);
    for (TBufferPtr& buffer : Pending)
        FreeBuffers.push_back(std::move(buffer));
    Pending.clear();
    for (TBufferPtr& buffer : DoneList)
        FreeBuffers.push_back(std::move(buffer));
    DoneList.clear();
    QueuedCount = 0;
}

void TAudioOut::DeviceCallback(void* userdata, Uint8* stream, int length)
{
    static_cast<TAudioOut*>(userdata)->Fill(stream, length);
}

void TAudioOut::Fill(Uint8* stream, int length)
{
    std::unique_lock lock(QueueLock);
    // A buffer that is only late is waited for rather than played as a gap of
    // silence; a paused run, or a source stuck for long, gets silence.
    const auto deadline = std::chrono::steady_clock::now() + LateBufferWait;
    int filled = 0;
    while (filled < length) {
        if (Pending.empty()) {
            if (!Feeding)
                break;
            if (QueueChanged.wait_for(lock, std::chrono::milliseconds(20)) == std::cv_status::timeout &&
                Pending.empty() && (Status() != osRunning || std::chrono::steady_clock::now() > deadline))
                break;
            continue;
        }
        TBuffer& head = *Pending.front();
        const int count = std::min(length - filled, head.Length - head.Used);
        std::memcpy(stream + filled, head.Data.data() + head.Used, static_cast<std::size_t>(count));
        head.Used += count;
        filled += count;
        Played += count;
        if (head.Used == head.Length) {
            DoneList.push_back(std::move(Pending.front()));
            Pending.pop_front();
            --QueuedCount;
        }
    }
    if (filled < length)
        std::memset(stream + filled, Silence, static_cast<std::size_t>(length - filled));
    ++Callbacks;
    lock.unlock();
    QueueChanged.notify_all();
}

void TAudioOut::ApplyVolume(TBuffer& buffer, int volume) const
{
    const double factor = volume / 255.0;
    char* data = buffer.Data.data();
    if (BitsPerSample == 8) {
        for (int i = 0; i < buffer.Length; ++i) {
            const int centred = static_cast<unsigned char>(data[i]) - 128;
            data[i] = static_cast<char>(RoundHalfEven(centred * factor) + 128);
        }
        return;
    }
    for (int i = 0; i + 1 < buffer.Length; i += 2) {
        const qint16 sample = qFromLittleEndian<qint16>(data + i);
        qToLittleEndian<qint16>(static_cast<qint16>(RoundHalfEven(sample * factor)), data + i);
    }
}
