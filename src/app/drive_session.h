#pragma once

#include "app/status_text.h"
#include "app/track_rows.h"
#include "cd/cd_drive.h"
#include "cd/query_cddb.h"

#include <QString>
#include <QStringList>
#include <vector>

// The main window's drive and the disc in it: opening the drive, reading the
// disc into track rows, and keeping the titles of the disc at shut-down.
//
// Every live session's DriveHandle counts as held: the open retry, which frees
// a handle the process may have lost track of, never closes one of them.
//
// Threads: user-interface thread only.
class TDriveSession {
public:
    TDriveSession();
    ~TDriveSession();
    TDriveSession(const TDriveSession&) = delete;
    TDriveSession& operator=(const TDriveSession&) = delete;

    // The open drive, 0 when none is open, and its display name.
    CDHandle DriveHandle = 0;
    QString DriveName;

    // Lists the drives and opens the one at position (counted from 0). Returns
    // the handle, 0 on failure; status receives what the status bar shows.
    // When the drive library refuses a handle, the first open handle that no
    // session holds is closed and the drive asked once more.
    CDHandle OpenDrive(int position, TStatusText* status);

    // Whether the drive holds a disc with audio tracks.
    bool HasAudioDisc() const;

    // Loads the disc's cached album data and titles (for a disc the cache has no
    // titles for, those the disc carries), reads its table of contents and fills
    // rows. False when the table cannot be read (rows stay empty);
    // nothing happens without an open drive.
    bool ReadDisc(std::vector<TTrackRow>* rows, TStatusText* status);

    // The identity of the disc the last ReadDisc listed; empty when none.
    QString ListedDiscId() const;
    // The list no longer shows a disc (it was ejected or the list was emptied).
    void ForgetListedDisc();

    // Keeps the titles of the listed disc in the disc cache under that disc's
    // identity (each row's title in the slot of its track number), even when
    // another disc is in the drive by now. An empty list writes nothing, so a
    // disc that is not listed keeps its cached titles. False only when the
    // cache could not be written.
    bool SaveTitles(const std::vector<TTrackRow>& rows);

    // Puts what a CDDB lookup found in place and keeps it in the disc cache as
    // SaveTitles does: its artist, album, year and genre go into DiscInfo, the
    // title of the r-th track of the entry into the row of track firstTrack + r.
    // What the lookup does not give keeps its value. Applies nothing unless the
    // lookup found an entry (outcome Found or NoTitles); false only when the
    // cache could not be written.
    bool ApplyLookup(const TCddbLookupResult& result, int firstTrack, std::vector<TTrackRow>* rows);

    // Opens the drive at the position of the last OpenDrive afresh, for a disc
    // image whose files have changed. The old handle is closed first.
    CDHandle ReopenDrive(TStatusText* status);

    // Makes the drive at position the open drive. The handle open before is
    // closed once the new drive is open, or when it cannot be opened, so a switch
    // never leaks it. Returns the new handle, 0 on failure.
    CDHandle SwitchDrive(int position, TStatusText* status);

    // The position in the drive list of the open drive; -1 when none is open.
    int DrivePosition() const;

    // Closes the drive; false when it could not be closed. The handle is 0
    // afterwards either way.
    bool CloseDrive();

private:
    QString ListedDisc;
    int Position = 0;
};
