#pragma once

#include "cd/cd_drive.h"

#include <QString>

// The texts a disc carries about itself (CD-Text, a CUE sheet's TITLE and
// PERFORMER lines) as a source of titles below the disc cache.

// The position of a genre name in the genre list, -1 when it is not listed.
// Names are compared as written, then without regard to case, blanks and
// punctuation, and without a trailing "Music" ("Rock Music" is Rock).
int GenreListPosition(const QString& name);

// Fills DiscInfo from the texts the disc in the drive carries, as a CDDB
// lookup fills it, unless the cache holds titles of its own for the disc:
// the titles of the tracks the disc names, and the artist, album, year and
// genre where DiscInfo has none. Called right after LoadDiscInfo(discId).
void TakeDiscTexts(CDHandle drive, const QString& discId);
