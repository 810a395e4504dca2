#pragma once

#include <QString>
#include <QStringList>

// The work items of an extraction job: the track number in two digits directly
// followed by the title that the track's files are named after ("03Intro").

// The track number in the first two characters; 0 when they are not a number.
int ItemTrack(const QString& item);

// Everything from the third character: the base name of the track's files.
QString ItemTitle(const QString& item);

// The items with titles that make usable, distinct file names: the characters
// * / : < > ? \ | removed; a title that is left empty (or blank), or that
// starts with a dot (a hidden file, or "." and ".."), becomes "Track" and the
// two-digit number; and a title that an earlier item already names, compared
// without regard to case, gets " (2)", " (3)"... so that no track overwrites
// another's files. Items that are already safe come back unchanged.
QStringList SafeTrackItems(const QStringList& items);
