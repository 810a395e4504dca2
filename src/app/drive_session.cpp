#include "drive_session.h"

#include "app/disc_texts.h"
#include "core/disc_info.h"

#include <algorithm>
#include <set>

namespace {

// The live sessions, whose handles the open retry leaves alone. Like the
// sessions themselves, user-interface thread only.
std::set<const TDriveSession*> Sessions;

bool HeldBySession(CDHandle handle)
{
    return std::any_of(Sessions.begin(), Sessions.end(),
                       [handle](const TDriveSession* session) { return session->DriveHandle == handle; });
}

} // namespace

TDriveSession::TDriveSession()
{
    Sessions.insert(this);
}

TDriveSession::~TDriveSession()
{
    Sessions.erase(this);
    if (DriveHandle != 0)
        CloseCDHandle(DriveHandle);
}

CDHandle TDriveSession::OpenDrive(int position, TStatusText* status)
{
    Position = position;
    CDDriveList list{};
    list.MaxDrives = CDMaxDrives;
    GetCDList(&list);
    if (list.NumDrives == 0) {
        *status = TStatusText::Message(RES_NotFound_CDRom);
        return 0;
    }
    if (position < 0 || position >= list.NumDrives) {
        *status = TStatusText::Message(RES_Config_Error);
        return 0;
    }
    const CDDriveInfo& drive = list.Drives[position];
    DriveName = DriveDisplayName(drive);
    *status = TStatusText::Plain(DriveName);

    CDHandleRequest request{};
    request.Size = sizeof(CDHandleRequest);
    request.Version = 1;
    request.HostAdapter = drive.HostAdapter;
    request.Target = drive.Target;
    request.Lun = drive.Lun;
    CDHandle handle = GetCDHandle(&request);
    if (handle == 0) {
        // A handle this process opened and lost track of may be what keeps the
        // drive from opening: free the first one found and try once more. One
        // that a session holds is in use and stays open.
        for (CDHandle n = 1; n <= 10; ++n) {
            if (!HeldBySession(n) && CloseCDHandle(n)) {
                handle = GetCDHandle(&request);
                break;
            }
        }
    }
    if (handle == 0)
        *status = TStatusText::Message(RES_NotFound_CDRom);
    return handle;
}

bool TDriveSession::HasAudioDisc() const
{
    return DriveHandle != 0 ? ::HasAudioDisc(DriveHandle) : ::HasAudioDisc();
}

bool TDriveSession::ReadDisc(std::vector<TTrackRow>* rows, TStatusText* status)
{
    if (DriveHandle == 0)
        return false;
    const QString discId = GetDiscId(DriveHandle);
    LoadDiscInfo(discId);
    TakeDiscTexts(DriveHandle, discId);
    ModifyCDParms(DriveHandle, CDP_MSF, 1);
    rows->clear();
    ListedDisc.clear();
    CDTOC toc{};
    if (ReadTOC(DriveHandle, &toc) != 1) {
        *status = TStatusText::Message(RES_NotRead_Cd);
        return false;
    }
    *rows = TrackRowsOfToc(toc);
    ListedDisc = discId;
    *status = TStatusText::Plain(DriveName);
    return true;
}

QString TDriveSession::ListedDiscId() const
{
    return ListedDisc;
}

void TDriveSession::ForgetListedDisc()
{
    ListedDisc.clear();
}

bool TDriveSession::SaveTitles(const std::vector<TTrackRow>& rows)
{
    if (rows.empty() || ListedDisc.isEmpty())
        return true;
    TDiscInfo& info = DiscInfo();
    info.TrackCount = 0;
    for (const TTrackRow& row : rows) {
        if (row.Number < 1 || row.Number > TDiscInfo::MaxTitles)
            continue;
        info.SetTitle(row.Number, row.Title);
        info.TrackCount = std::max(info.TrackCount, row.Number);
    }
    return SaveDiscInfo(ListedDisc);
}

bool TDriveSession::ApplyLookup(const TCddbLookupResult& result, int firstTrack, std::vector<TTrackRow>* rows)
{
    using TOutcome = TCddbLookupResult::TOutcome;
    if (result.Outcome != TOutcome::Found && result.Outcome != TOutcome::NoTitles)
        return true;
    const TCddbEntry& entry = result.Entry;
    TDiscInfo& info = DiscInfo();
    info.Artist = entry.Artist.value_or(info.Artist);
    info.Album = entry.Album.value_or(info.Album);
    info.Year = entry.Year.value_or(info.Year);
    info.Genre = entry.Genre.value_or(info.Genre);
    for (TTrackRow& row : *rows) {
        const qsizetype index = row.Number - firstTrack;
        if (index >= 0 && index < qsizetype(entry.Titles.size()) && entry.Titles[size_t(index)])
            row.Title = *entry.Titles[size_t(index)];
    }
    return SaveTitles(*rows);
}

CDHandle TDriveSession::ReopenDrive(TStatusText* status)
{
    CloseDrive();
    DriveHandle = OpenDrive(Position, status);
    return DriveHandle;
}

CDHandle TDriveSession::SwitchDrive(int position, TStatusText* status)
{
    const CDHandle old = DriveHandle;
    const CDHandle handle = OpenDrive(position, status);
    // The retry of OpenDrive may have freed the old handle and been given its
    // number again; that number is the new drive now.
    if (old != 0 && old != handle)
        CloseCDHandle(old);
    DriveHandle = handle;
    return handle;
}

int TDriveSession::DrivePosition() const
{
    return DriveHandle != 0 ? Position : -1;
}

bool TDriveSession::CloseDrive()
{
    if (DriveHandle == 0)
        return true;
    const bool closed = CloseCDHandle(DriveHandle) != 0;
    DriveHandle = 0;
    return closed;
}
