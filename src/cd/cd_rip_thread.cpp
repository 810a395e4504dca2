#include "cd_rip_thread.h"

#include "cd/disc_image.h"
#include "core/helpers.h"
#include "core/messages.h"
#include "core/settings.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr int FramesPerRead = 10;
constexpr int HeaderBytes = 44;
constexpr qint64 GainBlockBytes = 2048;
// The file is written in blocks of this size at block-aligned offsets: small
// writes that straddle pages cost the kernel more than the reading does.
constexpr qsizetype WriteBlockBytes = 128 * 1024;
constexpr qsizetype PageBytes = 4096;
// Progress reports are handed over together at most this often (see
// TReportRelay); each keeps the times of its own read.
constexpr auto ReportInterval = std::chrono::milliseconds(20);

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
    // Reports still queued are delivered first, as posted messages would be.
    if (Relay)
        Relay->deleteLater();
}

void TCDRipThread::Resume()
{
    if (Relay)
        return; // a thread runs its track once
    Relay = new TReportRelay(NotifyWindow);
    start();
}

void TCDRipThread::Work()
{
    LastWake = Now();
    if (!ModifyCDParms(Drive, CDP_MSF, 1)) {
        Report(WM_RIPERROR, 1);
        return;
    }
    CDTOC toc{};
    if (ReadTOC(Drive, &toc) != 1) {
        Report(WM_RIPERROR, 2);
        return;
    }
    // Entry i is track FirstTrack + i: a disc whose first track is not 1 has
    // its track n at entry n - FirstTrack.
    const int entry = TrackIndex - toc.FirstTrack;
    if (entry < 0 || TrackIndex > toc.LastTrack || entry + 1 >= CDTOCEntries) {
        // The disc in the drive has no such track (it was changed under the
        // job): nothing can be read.
        PostCompletion(3);
        return;
    }
    // The start is the track's own address, so a disc whose first track does
    // not begin at sector 0 (a hidden track before it) is read where it lies.
    const qint64 first = FramesOf(toc.Entries[entry]);
    const qint64 start = first - CDLeadInFrames;
    qint64 count = std::max<qint64>(0, FramesOf(toc.Entries[entry + 1]) - first);

    const TAppSettings& settings = AppSettings();
    if (settings.EnableRipTime && settings.RipTime >= 0)
        count = std::min(count, qint64(settings.RipTime) * CDFramesPerSecond);
    const QString path = WithTrailingBackslash(settings.OutputFolder) + BaseName + QStringLiteral(".wav");
    ReadTrack(path, start, count);
    Relay->Wake();
}

void TCDRipThread::ReadTrack(const QString& path, qint64 start, qint64 count)
{
    OutputStream.setFileName(path);
    if (!OutputStream.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        PostCompletion(5);
        return;
    }
    WriteStorage.assign((sizeof(CDTrackBuffer) + WriteBlockBytes) / sizeof(std::uint32_t), 0);
    const QByteArray header = CDWavHeader(0);
    std::memcpy(WriteArea(), header.constData(), HeaderBytes);
    WriteFill = HeaderBytes;
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
        FlushOutput(true);
        OutputStream.close();
        PostCompletion(3);
        return;
    }
    // Also after a stop, so a stopped track is a valid, shorter WAV file.
    const bool written = FlushOutput(true);
    const qint64 dataLength = OutputStream.size() - HeaderBytes;
    const bool headerWritten =
        written && OutputStream.seek(0) && OutputStream.write(CDWavHeader(dataLength)) == HeaderBytes;
    OutputStream.close();
    if (StopRequested) {
        Relay->Wake();
        return;
    }
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

char* TCDRipThread::WriteArea()
{
    return reinterpret_cast<char*>(WriteStorage.data()) + sizeof(CDTrackBuffer);
}

bool TCDRipThread::FlushOutput(bool everything)
{
    // Whole pages go out; the rest moves to the front and waits for more.
    const qsizetype bytes = everything ? WriteFill : WriteFill / PageBytes * PageBytes;
    const bool written = bytes == 0 || WriteAll(OutputStream, WriteArea(), bytes);
    std::memmove(WriteArea(), WriteArea() + bytes, size_t(WriteFill - bytes));
    WriteFill -= bytes;
    return written;
}

TCDRipThread::TChunkResult TCDRipThread::ReadChunk(qint64 lba, int frames)
{
    const qsizetype capacity = qsizetype(frames) * CDFrameBytes;
    if (WriteFill + capacity > WriteBlockBytes && !FlushOutput(false))
        return TChunkResult::WriteFailed;
    // The library's buffer lies inside the write buffer, its header just before
    // the place the audio belongs, so the audio is never copied again. The bytes
    // the header covers are put back afterwards. WriteFill stays a multiple of
    // 4 (44 + sectors, whole pages out), so the header's fields are aligned.
    char* audio = WriteArea() + WriteFill;
    auto* buffer = reinterpret_cast<CDTrackBuffer*>(audio - sizeof(CDTrackBuffer));
    std::array<char, sizeof(CDTrackBuffer)> covered;
    std::memcpy(covered.data(), buffer, covered.size());
    std::memset(buffer, 0, sizeof *buffer);
    // A sector before the start of the disc cannot be asked for; it fails like
    // any other unreadable sector.
    buffer->StartFrame = lba < 0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(lba);
    buffer->NumFrames = static_cast<std::uint32_t>(frames);
    buffer->MaxLength = static_cast<std::uint32_t>(capacity);
    const int result = ReadCDAudioLBA(Drive, buffer);
    const qint64 offset = std::min<qint64>(buffer->StartOffset, capacity);
    const qint64 length = std::min<qint64>(buffer->Length, capacity - offset);
    std::memcpy(buffer, covered.data(), covered.size());
    if (result != 1)
        return TChunkResult::ReadFailed;
    if (offset != 0)
        std::memmove(audio, audio + offset, size_t(length));
    WriteFill += length;
    return TChunkResult::Done;
}

bool TCDRipThread::ApplyGain(const QString& path, int normalizePercent)
{
    auto begins = std::make_unique<TProcessInfo>();
    begins->Percent = 999;
    Report(WM_PROCESSINFO, 0, std::move(begins));
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

void TCDRipThread::PostProgress(qint64 percent, TClock::time_point start)
{
    auto info = std::make_unique<TProcessInfo>();
    info->Percent = static_cast<int>(percent);
    const TClock::time_point now = Now();
    if (percent != 0) {
        const qint64 elapsed = ElapsedSeconds(start, now);
        const qint64 estimated = RoundHalfEven(double(elapsed) * 100.0 / double(percent));
        // The texts change about once a second; a report shares the last ones.
        if (elapsed != ShownElapsed.first || ShownElapsed.second.isEmpty())
            ShownElapsed = {elapsed, TimeText(elapsed)};
        if (estimated != ShownEstimated.first || ShownEstimated.second.isEmpty())
            ShownEstimated = {estimated, TimeText(estimated)};
        info->ElapsedText = ShownElapsed.second;
        info->EstimatedText = ShownEstimated.second;
    }
    Relay->Queue(WM_PROCESSINFO, 0, std::move(info));
    if (now - LastWake >= ReportInterval) {
        Relay->Wake();
        LastWake = now;
    }
}

void TCDRipThread::Report(QEvent::Type type, qint64 lParam, std::unique_ptr<TProcessInfo> info)
{
    Relay->Queue(type, lParam, std::move(info));
    Relay->Wake();
    LastWake = Now();
}

void TCDRipThread::PostCompletion(int result)
{
    auto info = std::make_unique<TProcessInfo>();
    info->Percent = 1000;
    info->Result = result;
    Report(WM_PROCESSINFO, 0, std::move(info));
}
