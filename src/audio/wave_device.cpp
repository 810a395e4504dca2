#include "wave_device.h"

#include "audio/acs_exception.h"
#include "audio/acs_input.h"
#include "audio/audio_out.h"
#include "audio/sound_devices.h"
#include "audio/wave_format.h"
#include "core/worker_thread.h"

#include <QFile>

#include <algorithm>
#include <cstring>

namespace {

// The sound to play, as a source for the sound-card sink. The bytes are a
// copy taken before the run, so the device may change its own meanwhile.
class TSoundSource final : public TACSInput {
public:
    TSoundSource(QByteArray bytes, int bits, int channels, int rate)
        : Bytes(std::move(bytes)), Bits(bits), ChannelCount(channels), Rate(rate)
    {
    }
    ~TSoundSource() override { DetachUsers(); }

    int GetBitsPerSample() override { return Bits; }
    int GetChannels() override { return ChannelCount; }
    int GetSampleRate() override { return Rate; }
    int FetchData(void* buffer, int bufferSize) override
    {
        if (!Busy())
            throw EACSException(QStringLiteral("The Stream is not opened"));
        const qint64 count = std::min<qint64>(bufferSize, Bytes.size() - Offset);
        if (count <= 0)
            return 0;
        std::memcpy(buffer, Bytes.constData() + Offset, static_cast<size_t>(count));
        Offset += count;
        PositionValue = Offset;
        return static_cast<int>(count);
    }
    void BeginRead() override
    {
        Offset = 0;
        PositionValue = 0;
        SizeValue = Bytes.size();
        BusyValue = true;
    }
    void EndRead() override { BusyValue = false; }

private:
    const QByteArray Bytes;
    const int Bits;
    const int ChannelCount;
    const int Rate;
    qint64 Offset = 0; // worker only during a read
};

} // namespace

TWaveDevice::TWaveDevice(QObject* parent) : QObject(parent)
{
}

TWaveDevice::~TWaveDevice()
{
    Close();
}

bool TWaveDevice::Open(const QString& path, QString* error)
{
    Close();
    auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    const TWavHeader header = ScanWavHeader(file);
    if (header.WavType != wtPCM || (header.Channels != 1 && header.Channels != 2) ||
        (header.BitsPerSample != 8 && header.BitsPerSample != 16) || header.SampleRate <= 0 ||
        header.SampleRate > 384000)
        return fail(QStringLiteral("Not a PCM WAV file of 8 or 16 bits, mono or stereo"));
    if (!file.seek(header.DataOffset))
        return fail(file.errorString());
    // A data size of 0 is what a new file's header says; a size past the end
    // is what a writer that stopped early leaves: either way the file's bytes
    // are the sound.
    const qint64 available = file.size() - header.DataOffset;
    qint64 size = header.DataSize == 0 ? available : std::min<qint64>(header.DataSize, available);
    const int frame = header.Channels * header.BitsPerSample / 8;
    size -= size % frame;
    QByteArray bytes = file.read(size);
    if (bytes.size() != size)
        return fail(file.errorString());
    Path = path;
    Rate = header.SampleRate;
    ChannelCount = header.Channels;
    Bits = header.BitsPerSample;
    SoundBytes = std::move(bytes);
    StandAt = 0;
    Opened = true;
    return true;
}

void TWaveDevice::Close()
{
    Stop();
    Opened = false;
    Path.clear();
    SoundBytes.clear();
    StandAt = 0;
}

TDeviceMode TWaveDevice::Mode() const
{
    if (!Opened)
        return TDeviceMode::Closed;
    if (CaptureDevice != 0)
        return TDeviceMode::Recording;
    if (Output) {
        if (Output->Status() != osIdle)
            return TDeviceMode::Playing;
        EndPlayback();
    }
    return TDeviceMode::Stopped;
}

qint64 TWaveDevice::Length() const
{
    qint64 bytes = SoundBytes.size();
    if (CaptureDevice != 0) {
        std::lock_guard lock(CaptureLock);
        bytes += CaptureBuffer.size();
    }
    return BytesToMs(bytes);
}

qint64 TWaveDevice::Position() const
{
    if (CaptureDevice != 0) {
        std::lock_guard lock(CaptureLock);
        return BytesToMs(InsertAt + CaptureBuffer.size());
    }
    if (Mode() == TDeviceMode::Playing)
        return BytesToMs(std::min<qint64>(PlayFrom + Output->PlayedBytes(), SoundBytes.size()));
    return BytesToMs(StandAt);
}

bool TWaveDevice::Play(qint64 from, QString* error)
{
    if (!Opened)
        return false;
    Stop();
    PlayFrom = std::clamp<qint64>(MsToBytes(from), 0, SoundBytes.size());
    StandAt = PlayFrom;
    Output = std::make_unique<TAudioOut>();
    PlaySource = std::make_unique<TSoundSource>(SoundBytes.mid(PlayFrom), Bits, ChannelCount, Rate);
    Output->AssignInput(PlaySource.get());
    try {
        Output->Run();
    } catch (const EACSException& problem) {
        EndPlayback();
        if (error)
            *error = problem.Message();
        return false;
    }
    // The sink plays into nothing when no device opens; that is no playback.
    const QString deviceError = Output->DeviceError();
    if (!deviceError.isEmpty()) {
        EndPlayback();
        StandAt = PlayFrom;
        if (error)
            *error = deviceError;
        return false;
    }
    return true;
}

void TWaveDevice::EndPlayback() const
{
    if (!Output)
        return;
    StandAt = std::min<qint64>(PlayFrom + Output->PlayedBytes(), SoundBytes.size());
    StandAt -= StandAt % std::max(1, FrameBytes());
    // Destroying the sink cuts the device off at once; its Stop would let the
    // queued buffers play out first.
    Output.reset();
}

bool TWaveDevice::Record(qint64 from, QString* error)
{
    if (!Opened)
        return false;
    const qint64 standing = BytesToMs(StandAt);
    Stop();
    InsertAt = std::clamp<qint64>(MsToBytes(from < 0 ? standing : from), 0, SoundBytes.size());
    {
        std::lock_guard lock(CaptureLock);
        CaptureBuffer.clear();
    }
    SDL_AudioSpec wanted{};
    wanted.freq = Rate;
    wanted.format = Bits == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    wanted.channels = static_cast<Uint8>(ChannelCount);
    wanted.samples = 1024;
    wanted.callback = &TWaveDevice::CaptureCallback;
    wanted.userdata = this;
    QString reason;
    const SDL_AudioDeviceID device = OpenSoundDevice(true, 0, wanted, &reason);
    if (device == 0) {
        if (error)
            *error = reason;
        return false;
    }
    CaptureDevice = device;
    SDL_PauseAudioDevice(device, 0);
    return true;
}

void TWaveDevice::CaptureCallback(void* userdata, Uint8* stream, int length)
{
    thread_local bool cleared = false;
    if (!cleared) {
        ClearUpperVectorState();
        cleared = true;
    }
    static_cast<TWaveDevice*>(userdata)->Captured(stream, length);
}

void TWaveDevice::Captured(const Uint8* stream, int length)
{
    std::lock_guard lock(CaptureLock);
    CaptureBuffer.append(reinterpret_cast<const char*>(stream), length);
}

void TWaveDevice::Stop()
{
    EndPlayback();
    FinishRecording();
}

void TWaveDevice::Seek(qint64 position)
{
    Stop();
    StandAt = std::clamp<qint64>(MsToBytes(position), 0, SoundBytes.size());
}

void TWaveDevice::FinishRecording()
{
    if (CaptureDevice == 0)
        return;
    // Closing waits for the capture thread, so nothing is appended afterwards.
    SDL_CloseAudioDevice(CaptureDevice);
    CaptureDevice = 0;
    QByteArray recorded;
    {
        std::lock_guard lock(CaptureLock);
        recorded.swap(CaptureBuffer);
    }
    recorded.chop(recorded.size() % FrameBytes());
    SoundBytes.insert(InsertAt, recorded);
    StandAt = InsertAt + recorded.size();
}

TFileError TWaveDevice::Save()
{
    if (!Opened)
        return TFileError(EBADF);
    Stop();
    if (SoundBytes.size() > 0xFFFFFFFFLL - WavPcmHeaderSize)
        return TFileError(EFBIG);
    TPendingFile pending;
    if (const TFileError failed = pending.Begin(Path))
        return failed;
    const QByteArray header = PcmWavHeader(ChannelCount, Rate, Bits, static_cast<quint32>(SoundBytes.size()));
    if (const TFileError failed = WriteFully(pending.Handle(), header.constData(), header.size()))
        return failed;
    if (const TFileError failed = WriteFully(pending.Handle(), SoundBytes.constData(), SoundBytes.size()))
        return failed;
    return pending.Commit(TPendingFile::TReplace::Allowed);
}

qint64 TWaveDevice::BytesToMs(qint64 bytes) const
{
    if (Rate <= 0 || FrameBytes() <= 0)
        return 0;
    return bytes / FrameBytes() * 1000 / Rate;
}

qint64 TWaveDevice::MsToBytes(qint64 ms) const
{
    return ms * Rate / 1000 * FrameBytes();
}
