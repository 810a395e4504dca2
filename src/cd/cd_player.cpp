#include "cd_player.h"

#include "audio/acs_exception.h"
#include "audio/audio_out.h"
#include "core/messages.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr int FrameBytes = 2352;
constexpr qint64 LeadInFrames = 150;

qint64 SectorOfMsf(const CDTOCEntry& entry)
{
    return (qint64(entry.Address[1]) * 60 + entry.Address[2]) * 75 + entry.Address[3] - LeadInFrames;
}

} // namespace

TCDSectorSource::TCDSectorSource(QObject* parent)
    : TACSInput(parent), Block(sizeof(CDTrackBuffer) + std::size_t(ReadFrames) * FrameBytes)
{
}

TCDSectorSource::~TCDSectorSource()
{
    DetachUsers();
}

void TCDSectorSource::SetRange(CDHandle drive, qint64 first, qint64 end)
{
    Drive = drive;
    First = first;
    End = std::max(first, end);
    SizeValue = (End - First) * FrameBytes;
}

int TCDSectorSource::GetTotalTime()
{
    return int((End - First) / 75);
}

void TCDSectorSource::BeginRead()
{
    if (Busy())
        throw EACSException(QStringLiteral("The component is buisy"));
    Next = First;
    BlockUsed = BlockLength = 0;
    PositionValue = 0;
    BusyValue = true;
}

void TCDSectorSource::EndRead()
{
    BusyValue = false;
}

bool TCDSectorSource::Refill()
{
    if (Next >= End)
        return false;
    auto* buffer = reinterpret_cast<CDTrackBuffer*>(Block.data());
    std::memset(buffer, 0, sizeof *buffer);
    buffer->StartFrame = static_cast<std::uint32_t>(Next);
    buffer->NumFrames = static_cast<std::uint32_t>(std::min<qint64>(ReadFrames, End - Next));
    buffer->MaxLength = static_cast<std::uint32_t>(ReadFrames * FrameBytes);
    if (ReadCDAudioLBA(Drive, buffer) != 1)
        throw EACSException(QStringLiteral("Cannot read sectors %1 to %2 of the disc: %3")
                                .arg(Next)
                                .arg(Next + buffer->NumFrames - 1)
                                .arg(GetAspiLibErrorText()));
    Next += buffer->NumFrames;
    BlockUsed = int(sizeof(CDTrackBuffer) + buffer->StartOffset);
    BlockLength = BlockUsed + int(buffer->Length);
    return true;
}

int TCDSectorSource::FetchData(void* buffer, int bufferSize)
{
    if (!Busy())
        throw EACSException(QStringLiteral("The Stream is not opened"));
    if (BlockUsed >= BlockLength && !Refill())
        return 0;
    const int count = std::min(bufferSize, BlockLength - BlockUsed);
    std::memcpy(buffer, Block.data() + BlockUsed, std::size_t(count));
    BlockUsed += count;
    PositionValue += count;
    return count;
}

TCDPlayer::TCDPlayer(QObject* parent) : QObject(parent)
{
}

TCDPlayer::~TCDPlayer()
{
    // Quietly: a target may already be going away with this player.
    Target = nullptr;
    Close();
}

bool TCDPlayer::Open(CDHandle drive)
{
    Close();
    // Every user of the window's handle reads minute/second/frame addresses.
    ModifyCDParms(drive, CDP_MSF, 1);
    CDTOC toc{};
    if (ReadTOC(drive, &toc) != 1 || toc.LastTrack < toc.FirstTrack)
        return false;
    const int count = toc.LastTrack - toc.FirstTrack + 1;
    Starts.clear();
    for (int i = 0; i < count; ++i)
        Starts.push_back(SectorOfMsf(toc.Entries[i]));
    AudioEnd = SectorOfMsf(toc.Entries[count]);
    FirstTrack = toc.FirstTrack;
    DriveValue = drive;
    ModeValue = TPlayerMode::Stopped;
    return true;
}

void TCDPlayer::Close()
{
    Stop();
    Sink.reset();
    Source.reset();
    Starts.clear();
    DriveValue = 0;
    ModeValue = TPlayerMode::Closed;
}

TPlayerMode TCDPlayer::Mode() const
{
    return ModeValue;
}

qint64 TCDPlayer::TrackPosition(int track) const
{
    const int index = track - FirstTrack;
    if (ModeValue == TPlayerMode::Closed || index < 0 || index >= int(Starts.size()))
        return -1;
    return Starts[std::size_t(index)];
}

qint64 TCDPlayer::EndOfDisc() const
{
    return ModeValue == TPlayerMode::Closed ? -1 : AudioEnd;
}

bool TCDPlayer::Play(qint64 start, qint64 end, QObject* notify)
{
    if (ModeValue == TPlayerMode::Closed)
        return false;
    EndRun(TPlayResult::Superseded);
    if (end < 0)
        end = AudioEnd;
    if (start < 0 || start >= end || end > AudioEnd)
        return false;
    const qint64 run = ++Run;
    Source = std::make_unique<TCDSectorSource>();
    Source->SetRange(DriveValue, start, end);
    Sink = std::make_unique<TAudioOut>();
    Sink->AssignInput(Source.get());
    // The handlers run on the sink's worker: they only post.
    Sink->SetOnDone([this, run](TACSOutput*) {
        PostMessageEvent(this, MM_MCINOTIFY, int(TPlayResult::Successful), run);
    });
    Sink->SetOnThreadException([this, run](TACSOutput*, const std::exception&) {
        PostMessageEvent(this, MM_MCINOTIFY, int(TPlayResult::Failure), run);
    });
    Target = notify;
    ModeValue = TPlayerMode::Playing;
    try {
        Sink->Run();
    } catch (const EACSException&) {
        Target = nullptr;
        EndRun(TPlayResult::Failure);
        return false;
    }
    return true;
}

bool TCDPlayer::Pause()
{
    if (ModeValue != TPlayerMode::Playing)
        return false;
    Sink->Pause();
    ModeValue = TPlayerMode::Paused;
    return true;
}

bool TCDPlayer::Resume()
{
    if (ModeValue != TPlayerMode::Paused)
        return false;
    Sink->Resume();
    ModeValue = TPlayerMode::Playing;
    return true;
}

bool TCDPlayer::Stop()
{
    if (ModeValue != TPlayerMode::Playing && ModeValue != TPlayerMode::Paused)
        return false;
    EndRun(TPlayResult::Aborted);
    return true;
}

void TCDPlayer::EndRun(TPlayResult result)
{
    if (ModeValue != TPlayerMode::Playing && ModeValue != TPlayerMode::Paused)
        return;
    // Destroying the sink ends its run without an event, closes the device
    // without playing out what is queued, and joins the worker: no read of
    // this run reaches the drive afterwards.
    ++Run;
    Sink.reset();
    Source.reset();
    ModeValue = TPlayerMode::Stopped;
    if (QObject* target = std::exchange(Target, nullptr))
        PostMessageEvent(target, MM_MCINOTIFY, int(result), 0);
}

bool TCDPlayer::event(QEvent* event)
{
    if (event->type() != MM_MCINOTIFY)
        return QObject::event(event);
    const auto* notice = static_cast<const TMessageEvent*>(event);
    // A run that was stopped or replaced meanwhile has had its notice.
    if (notice->LParam() != Run || ModeValue == TPlayerMode::Closed || ModeValue == TPlayerMode::Stopped)
        return true;
    ++Run;
    // The worker is done: the run ended with the event just handled.
    Sink.reset();
    Source.reset();
    ModeValue = TPlayerMode::Stopped;
    Notify(std::exchange(Target, nullptr), TPlayResult(notice->WParam()));
    return true;
}

void TCDPlayer::Notify(QObject* target, TPlayResult result)
{
    if (!target)
        return;
    TMessageEvent notice(MM_MCINOTIFY, int(result), 0);
    QCoreApplication::sendEvent(target, &notice);
}
