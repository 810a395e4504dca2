#include "cd_rip_thread.h"

#include "cd/disc_image.h"
#include "core/helpers.h"
#include "core/messages.h"
#include "core/settings.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr int FramesPerRead = 10;
constexpr int HeaderBytes = 44;
constexpr qint64 GainBlockBytes = 2048;

qint64 FramesOf(const CDTOCEntry& entry)
{
    return qint64(entry.Address[1]) * 60 * CDFramesPerSecond + qint64(entry.Address[2]) * CDFramesPerSecond +
           entry.Address[3];
}

void PutLe32(char* at, quint32 value)
{
    qToLittleEndian(value, at);
}

void PutLe16(char* at, quint16 value)
{
    qToLittleEndian(value, at);
}

// path with its extension replaced by ".nor".
QString GainTempPath(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return (dot > slash ? path.left(dot) : path) + QStringLiteral(".nor");
}

bool WriteAll(QFile& file, const char* data, qint64 size)
{
    return file.write(data, size) == size;
}

} // namespace

QByteArray CDWavHeader(qint64 dataLength)
{
    const auto length = static_cast<quint32>(std::clamp<qint64>(dataLength, 0, 0xFFFFFFFFLL - 36));
    QByteArray header(HeaderBytes, '\0');
    char* h = header.data();
    std::memcpy(h, "RIFF", 4);
    PutLe32(h + 4, length + 36);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    PutLe32(h + 16, 16);
    PutLe16(h + 20, 1);
    PutLe16(h + 22, 2);
    PutLe32(h + 24, 44100);
    PutLe32(h + 28, 176400);
    PutLe16(h + 32, 4);
    PutLe16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    PutLe32(h + 40, length);
    return header;
}

TCDRipThread::TCDRipThread(int trackIndex, const QString& baseName)
    : TrackIndex(trackIndex), BaseName(baseName)
{
}

TCDRipThread::~TCDRipThread()
{
    wait();
}

void TCDRipThread::Resume()
{
    start();
}

void TCDRipThread::run()
{
    if (!ModifyCDParms(Drive, CDP_MSF, 1)) {
        PostMessageEvent(NotifyWindow, WM_RIPERROR, 0, 1);
        return;
    }
    CDTOC toc{};
    if (ReadTOC(Drive, &toc) != 1) {
        PostMessageEvent(NotifyWindow, WM_RIPERROR, 0, 2);
        return;
    }
    const int tracks = toc.LastTrack - toc.FirstTrack + 1;
    if (TrackIndex < 1 || TrackIndex > tracks) {
        // The disc in the drive has no such track (it was changed under the
        // job): nothing can be read.
        PostCompletion(3);
        return;
    }
    // The start is the track's own address, so a disc whose first track does
    // not begin at sector 0 (a hidden track before it) is read where it lies.
    const qint64 first = FramesOf(toc.Entries[TrackIndex - 1]);
    const qint64 start = first - CDLeadInFrames;
    qint64 count = std::max<qint64>(0, FramesOf(toc.Entries[TrackIndex]) - first);

    const TAppSettings& settings = AppSettings();
    if (settings.EnableRipTime && settings.RipTime >= 0)
        count = std::min(count, qint64(settings.RipTime) * CDFramesPerSecond);
    const QString path = WithTrailingBackslash(settings.OutputFolder) + BaseName + QStringLiteral(".wav");
    ReadTrack(path, start, count);
}

void TCDRipThread::ReadTrack(const QString& path, qint64 start, qint64 count)
{
    OutputStream.setFileName(path);
    if (!OutputStream.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        PostCompletion(5);
        return;
    }
    if (OutputStream.write(CDWavHeader(0)) != HeaderBytes) {
        OutputStream.close();
        PostCompletion(3);
        return;
    }
    const TClock::time_point startTime = Now();
    qint64 done = 0;
    bool failed = false;
    while (done < count) {
        const int n = static_cast<int>(std::min<qint64>(FramesPerRead, count - done));
        if (ReadChunk(start + done, n) != TChunkResult::Done)
            failed = true;
        done += n;
        PostProgress(done * 100 / count, startTime);
        if (failed || StopRequested)
            break;
    }
    if (failed) {
        OutputStream.close();
        PostCompletion(3);
        return;
    }
    // Also after a stop, so a stopped track is a valid, shorter WAV file.
    const qint64 dataLength = OutputStream.size() - HeaderBytes;
    const bool headerWritten =
        OutputStream.seek(0) && OutputStream.write(CDWavHeader(dataLength)) == HeaderBytes;
    OutputStream.close();
    if (StopRequested)
        return;
    if (!headerWritten) {
        PostCompletion(3);
        return;
    }
    const TAppSettings& settings = AppSettings();
    if (settings.Normalize && !ApplyGain(path, settings.NormalizePercent)) {
        PostCompletion(3);
        return;
    }
    PostCompletion(0);
}

TCDRipThread::TChunkResult TCDRipThread::ReadChunk(qint64 lba, int frames)
{
    const qsizetype capacity = qsizetype(frames) * CDFrameBytes;
    if (Buffer.size() < qsizetype(sizeof(CDTrackBuffer)) + capacity)
        Buffer.resize(qsizetype(sizeof(CDTrackBuffer)) + qsizetype(FramesPerRead) * CDFrameBytes);
    auto* buffer = reinterpret_cast<CDTrackBuffer*>(Buffer.data());
    std::memset(buffer, 0, sizeof *buffer);
    // A sector before the start of the disc cannot be asked for; it fails like
    // any other unreadable sector.
    buffer->StartFrame = lba < 0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(lba);
    buffer->NumFrames = static_cast<std::uint32_t>(frames);
    buffer->MaxLength = static_cast<std::uint32_t>(capacity);
    if (ReadCDAudioLBA(Drive, buffer) != 1)
        return TChunkResult::ReadFailed;
    const qint64 length = std::min<qint64>(buffer->Length, capacity - qint64(buffer->StartOffset));
    const char* audio = reinterpret_cast<const char*>(CDTrackBufferData(buffer)) + buffer->StartOffset;
    return WriteAll(OutputStream, audio, length) ? TChunkResult::Done : TChunkResult::WriteFailed;
}

bool TCDRipThread::ApplyGain(const QString& path, int normalizePercent)
{
    PostProcessInfo(NotifyWindow, 999, QString(), QString());
    const QString tempPath = GainTempPath(path);
    const float factor = static_cast<float>(normalizePercent) / 100.0f;

    QFile input(path);
    QFile output(tempPath);
    auto fail = [&] {
        input.close();
        output.close();
        QFile::remove(tempPath);
        return false;
    };
    if (!input.open(QIODevice::ReadOnly) || !output.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail();
    const qint64 size = input.size();
    const TClock::time_point startTime = Now();
    const QByteArray header = input.read(HeaderBytes);
    if (header.size() != HeaderBytes || output.write(header) != HeaderBytes)
        return fail();
    qint64 processed = HeaderBytes;
    char block[GainBlockBytes];
    for (;;) {
        PostProgress(size > 0 ? processed * 100 / size : 100, startTime);
        const qint64 read = input.read(block, GainBlockBytes);
        if (read < 0)
            return fail();
        if (read == 0)
            break;
        for (qint64 i = 0; i + 1 < read; i += 2) {
            const auto sample = qFromLittleEndian<qint16>(block + i);
            // Samples are clipped, not wrapped, should a percentage above 100
            // come from the settings file.
            const double scaled = std::nearbyint(double(sample) * double(factor));
            qToLittleEndian(static_cast<qint16>(std::clamp(scaled, -32768.0, 32767.0)), block + i);
        }
        if (!WriteAll(output, block, read))
            return fail();
        processed += read;
    }
    input.close();
    if (!output.flush())
        return fail();
    output.close();
    if (output.error() != QFileDevice::NoError)
        return fail();
    // One rename replaces the track: there is never a moment without it.
    if (std::rename(QFile::encodeName(tempPath).constData(), QFile::encodeName(path).constData()) != 0)
        return fail();
    return true;
}

void TCDRipThread::PostProgress(qint64 percent, TClock::time_point start) const
{
    auto info = std::make_unique<TProcessInfo>();
    info->Percent = static_cast<int>(percent);
    if (percent != 0) {
        const qint64 elapsed = ElapsedSeconds(start);
        info->ElapsedText = TimeText(elapsed);
        info->EstimatedText = TimeText(RoundHalfEven(double(elapsed) * 100.0 / double(percent)));
    }
    PostProcessInfo(NotifyWindow, std::move(info));
}

void TCDRipThread::PostCompletion(int result) const
{
    PostProcessInfo(NotifyWindow, 1000, QString(), QString(), result);
}
