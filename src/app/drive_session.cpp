#include "drive_session.h"

#include "app/disc_texts.h"
#include "core/disc_info.h"

#include <algorithm>

TDriveSession::~TDriveSession()
{
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
        // A handle this process still holds may be what keeps the drive from
        // opening: free the first one found and try once more.
        for (CDHandle n = 1; n <= 10; ++n) {
            if (CloseCDHandle(n)) {
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
    return ::HasAudioDisc();
}

bool TDriveSession::ReadDisc(std::vector<TTrackRow>* rows, TStatusText* status)
{
    if (DriveHandle == 0)
        return false;
    const QString discId = GetDiscId();
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

CDHandle TDriveSession::ReopenDrive(TStatusText* status)
{
    CloseDrive();
    DriveHandle = OpenDrive(Position, status);
    return DriveHandle;
}

bool TDriveSession::CloseDrive()
{
    if (DriveHandle == 0)
        return true;
    const bool closed = CloseCDHandle(DriveHandle) != 0;
    DriveHandle = 0;
    return closed;
}
