#pragma once

#include <QString>
#include <QStringList>

// The work items of an extraction job: the track number in two digits directly
// followed by the title that the track's files are named after ("03Intro").

// The track number in the first two characters; 0 when they are not a number.
int ItemTrack(const QString& item);

// Everything from the third character: the base name of the track's files.
QString ItemTitle(const QString& item);

// The longest file name a track's title may make, in bytes: Linux file systems
// take 255, and every file of a track ends in a four-byte extension (".wav",
// ".mp3", ".ogg", ".wma", ".nor").
inline constexpr int MaxTitleBytes = 255 - 4;

// The items with titles that make usable, distinct file names: the characters
// * / : < > ? \ | and control characters removed; a title that is left empty
// (or blank), or that starts with a dot (a hidden file, or "." and ".."),
// becomes "Track" and the two-digit number; a title longer than MaxTitleBytes
// in UTF-8 is shortened at a character boundary; and a title that an earlier
// item already names, compared without regard to case, gets " (2)", " (3)"...
// (shortened further so that the suffix fits) so that no track overwrites
// another's files. Items that are already safe come back unchanged.
QStringList SafeTrackItems(const QStringList& items);

// text shortened to at most maxBytes bytes of UTF-8, cut between two characters
// as the reader sees them (a letter keeps its accents); only a single character
// longer than maxBytes is cut between its code points.
QString CutToUtf8Bytes(const QString& text, int maxBytes);
