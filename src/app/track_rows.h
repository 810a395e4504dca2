#pragma once

#include "cd/cd_drive.h"

#include <QString>
#include <vector>

// One row of the track list: what the main window shows for track Number.
struct TTrackRow {
    int Number = 0;
    bool Ticked = true;
    QString Title;
    QString LengthText; // mm:ss
    QString SizeText;   // megabytes with two decimals
};

// Whole seconds from one minute/second position to another (frames do not
// count); a start second above the end second borrows a minute.
int TrackSeconds(int startMinute, int startSecond, int endMinute, int endSecond);

// "mm:ss" of that many seconds.
QString TrackLengthText(qint64 seconds);

// The size of that many seconds of CD audio (44100 Hz, 16-bit stereo) in
// megabytes with two decimals, such as "45.93".
QString TrackSizeText(qint64 seconds);

// The rows of a table of contents read with minute/second/frame addresses:
// lengths in whole seconds (frames are ignored), every row ticked, titles from
// the disc information record. An empty title slot is set to the default title
// first, so the record and the list agree.
std::vector<TTrackRow> TrackRowsOfToc(const CDTOC& toc);
