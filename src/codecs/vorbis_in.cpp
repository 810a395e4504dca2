#include "vorbis_in.h"

#include "audio/acs_exception.h"
#include "core/helpers.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr int DecodeBytes = 8192;

} // namespace

TVorbisIn::TVorbisIn(QObject* parent) : TACSFileIn(parent)
{
    CheckVorbisLibraries();
    DecodeBuffer.resize(DecodeBytes);
}

TVorbisIn::~TVorbisIn()
{
    DetachUsers();
    std::lock_guard lock(SourceLock);
    while (OpenCount > 0)
        CloseSource();
}

void TVorbisIn::OpenSource()
{
    if (OpenCount == 0)
        Open();
    ++OpenCount;
}

void TVorbisIn::CloseSource()
{
    if (OpenCount == 1) {
        if (Decoder) {
            // Hands the stream back through the close callback.
            VorbisApi().ov_clear(Decoder.get());
            Decoder.reset();
        }
        ReleaseStream();
    }
    if (OpenCount > 0)
        --OpenCount;
}

void TVorbisIn::Open()
{
    Valid = false;
    InvalidReason.clear();
    StoredBitsPerSample = 0;
    StoredSampleRate = 0;
    StoredChannels = 0;
    TotalSamples = 0;
    SizeValue = 0;
    Seekable = false;
    Links = 0;
    CurrentLink = -1;
    EndOfStream = false;
    BufStart = 1;
    BufEnd = 0;
    if (!OpenStream())
        return;
    const TVorbisApi& api = VorbisApi();
    const QString name = FileName();
    auto decoder = std::make_unique<OggVorbis_File>();
    const ov_callbacks callbacks{&TVorbisIn::ReadCallback, &TVorbisIn::SeekCallback,
                                 &TVorbisIn::CloseCallback, &TVorbisIn::TellCallback};
    if (api.ov_open_callbacks(this, decoder.get(), nullptr, 0, callbacks) != 0) {
        // A failed open leaves the stream to us.
        ReleaseStream();
        InvalidReason = QStringLiteral("The file \"%1\" is not an Ogg Vorbis file.").arg(name);
        return;
    }
    Decoder = std::move(decoder);
    const vorbis_info* info = api.ov_info(Decoder.get(), -1);
    if (!info || info->channels < 1 || info->channels > 2 || info->rate < 1) {
        InvalidReason =
            QStringLiteral("The file \"%1\" has %2 channels; only mono and stereo files can be read.")
                .arg(name)
                .arg(info ? info->channels : 0);
        return;
    }
    StoredChannels = info->channels;
    StoredSampleRate = static_cast<int>(info->rate);
    StoredBitsPerSample = 16;
    Seekable = api.ov_seekable(Decoder.get()) != 0;
    if (Seekable) {
        const long streams = api.ov_streams(Decoder.get());
        for (int link = 0; link < streams; ++link) {
            const vorbis_info* linkInfo = api.ov_info(Decoder.get(), link);
            if (!linkInfo || linkInfo->channels != StoredChannels || linkInfo->rate != StoredSampleRate)
                break;
            TotalSamples += std::max<ogg_int64_t>(api.ov_pcm_total(Decoder.get(), link), 0);
            ++Links;
        }
        SizeValue = TotalSamples * 2 * StoredChannels;
    } else {
        // Only the first stream is known before it is read.
        Links = 1;
        SizeValue = -1;
    }
    Valid = true;
}

bool TVorbisIn::OpenStream()
{
    const QString name = FileName();
    if (ExternalStream()) {
        StreamDevice = ExternalStreamDevice;
        if (!StreamDevice->isReadable()) {
            StreamDevice = nullptr;
            InvalidReason = QStringLiteral("The stream is not open for reading.");
            return false;
        }
        if (!StreamDevice->isSequential())
            StreamDevice->seek(0);
        return true;
    }
    auto file = std::make_unique<QFile>(name);
    if (!file->open(QIODevice::ReadOnly)) {
        InvalidReason = QStringLiteral("Cannot open the file \"%1\": %2").arg(name, file->errorString());
        return false;
    }
    OwnedStream = std::move(file);
    StreamDevice = OwnedStream.get();
    return true;
}

// Frees a stream opened here; one handed in goes back to its start.
void TVorbisIn::ReleaseStream()
{
    if (OwnedStream) {
        OwnedStream.reset();
    } else if (StreamDevice && !StreamDevice->isSequential()) {
        StreamDevice->seek(0);
    }
    StreamDevice = nullptr;
}

size_t TVorbisIn::ReadCallback(void* buffer, size_t size, size_t count, void* source)
{
    auto* self = static_cast<TVorbisIn*>(source);
    if (!self->StreamDevice || size == 0)
        return 0;
    const qint64 got =
        self->StreamDevice->read(static_cast<char*>(buffer), static_cast<qint64>(size * count));
    if (got < 0) {
        // The library tells a read error from the end by errno.
        errno = EIO;
        return 0;
    }
    return static_cast<size_t>(got) / size;
}

int TVorbisIn::SeekCallback(void* source, ogg_int64_t offset, int origin)
{
    auto* self = static_cast<TVorbisIn*>(source);
    QIODevice* device = self->StreamDevice;
    // -1 tells the library the stream cannot seek, which it then reads
    // straight through.
    if (!device || device->isSequential())
        return -1;
    qint64 target = offset;
    if (origin == SEEK_CUR)
        target += device->pos();
    else if (origin != SEEK_SET)
        target += device->size();
    if (target < 0 || !device->seek(target))
        return -1;
    return 0;
}

int TVorbisIn::CloseCallback(void* source)
{
    static_cast<TVorbisIn*>(source)->ReleaseStream();
    return 0;
}

long TVorbisIn::TellCallback(void* source)
{
    const QIODevice* device = static_cast<TVorbisIn*>(source)->StreamDevice;
    return device && !device->isSequential() ? static_cast<long>(device->pos()) : -1;
}

void TVorbisIn::BeginRead()
{
    std::lock_guard lock(SourceLock);
    const bool wasOpen = OpenCount > 0;
    TACSFileIn::BeginRead();
    EndOfStream = false;
    // An open file may have been read before: start at the start.
    if (wasOpen && StartSample() <= 0)
        SeekFrame(0);
}

int TVorbisIn::FetchData(void* buffer, int bufferSize)
{
    if (!Busy())
        throw EACSException(QStringLiteral("The Stream is not opened"));
    if (bufferSize <= 0)
        return 0;
    std::lock_guard lock(SourceLock);
    if (BufStart > BufEnd) {
        TakePendingJump();
        BufStart = 1;
        BufEnd = Fill();
        if (BufEnd == 0 && Loop() && Restart())
            BufEnd = Fill();
        if (BufEnd == 0)
            return 0;
    }
    const int count = std::min(bufferSize, BufEnd - BufStart + 1);
    std::memcpy(buffer, DecodeBuffer.data() + BufStart - 1, static_cast<std::size_t>(count));
    BufStart += count;
    PositionValue += count;
    return count;
}

int TVorbisIn::Fill()
{
    if (EndOfStream || !Decoder)
        return 0;
    const TVorbisApi& api = VorbisApi();
    const qint64 size = Size();
    int have = 0;
    while (have < DecodeBytes) {
        if (size >= 0 && Position() + have >= size) {
            EndOfStream = have == 0;
            break;
        }
        int link = -1;
        const long got =
            api.ov_read(Decoder.get(), DecodeBuffer.data() + have, DecodeBytes - have, 0, 2, 1, &link);
        if (got == OV_HOLE)
            continue; // a damaged page; the data goes on after it
        if (got <= 0) {
            EndOfStream = true;
            break;
        }
        if (link != CurrentLink) {
            CurrentLink = link;
            if (link >= Links) {
                // A stream in another format: its bytes are not ours to give.
                EndOfStream = true;
                break;
            }
        }
        have += static_cast<int>(got);
    }
    if (size >= 0 && Position() + have > size)
        have = static_cast<int>(std::max<qint64>(size - Position(), 0));
    return have;
}

// Back to StartSample for another round; false when the stream cannot seek.
bool TVorbisIn::Restart()
{
    if (!SeekFrame(std::clamp<qint64>(StartSample(), 0, TotalSamples)))
        return false;
    PositionValue = 0;
    return true;
}

void TVorbisIn::TakePendingJump()
{
    const int jump = PendingJumpValue.exchange(0);
    const qint64 size = Size();
    if (jump == 0 || size <= 0 || !Seekable || StoredChannels == 0)
        return;
    const qint64 frameBytes = 2 * StoredChannels;
    qint64 target = Position() + RoundHalfEven(static_cast<double>(jump) / 100.0 * static_cast<double>(size));
    target = std::clamp<qint64>(target, 0, size);
    target -= target % frameBytes;
    const qint64 start = std::clamp<qint64>(StartSample(), 0, TotalSamples);
    if (SeekFrame(start + target / frameBytes)) {
        PositionValue = target;
    } else {
        // Stay where the read was; if even that fails the stream ends here.
        const qint64 here = start + Position() / frameBytes;
        if (!SeekFrame(here))
            EndOfStream = true;
    }
}

bool TVorbisIn::SeekSample(qint64 frame)
{
    std::lock_guard lock(SourceLock);
    if (OpenCount == 0 || !Valid)
        return false;
    return SeekFrame(std::clamp<qint64>(frame, 0, TotalSamples));
}

bool TVorbisIn::SeekFrame(qint64 frame)
{
    if (!Decoder || !Seekable || VorbisApi().ov_pcm_seek(Decoder.get(), frame) != 0)
        return false;
    BufStart = 1;
    BufEnd = 0;
    EndOfStream = false;
    return true;
}
