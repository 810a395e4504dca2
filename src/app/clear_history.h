#pragma once

#include <QByteArray>
#include <QString>

// Clearing the recent-media lists of two common players: the desktop's
// recently used files (the entries of audio files) and VLC media player's
// recent media. Each file is rewritten in one rename, and only when something
// was removed; every byte outside the removed entries stays as it was. A file
// that is not there counts as an empty list; a file that cannot be read as its
// format is left alone.
//
// Threads: user-interface thread only.

struct THistoryResult {
    int Removed = 0;
    // Why nothing was removed although the file is there; empty on success.
    QString Problem;
};

// The desktop's list: $XDG_DATA_HOME/recently-used.xbel.
QString DesktopRecentFilesPath();
// VLC's: $XDG_CONFIG_HOME/vlc/vlc-qt-interface.conf.
QString VlcRecentMediaPath();

// The text of a bookmark list without the bookmarks of audio files (their
// MIME type starts with "audio/"); false when the text is not such a list.
bool RemoveAudioBookmarks(const QByteArray& xbel, QByteArray* kept, int* removed);
// The text of VLC's interface settings with the recent media list (and its
// play times) emptied; false when a line cannot be read.
bool RemoveVlcRecentMedia(const QByteArray& conf, QByteArray* kept, int* removed);

THistoryResult ClearDesktopRecentFiles(const QString& path = DesktopRecentFilesPath());
THistoryResult ClearVlcRecentMedia(const QString& path = VlcRecentMediaPath());

// Whether a VLC process of this user is running (it writes its list back when
// it quits).
bool VlcIsRunning();
