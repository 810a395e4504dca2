#pragma once

#include <QStringList>

// "name version" of every library the program is built on and every outside
// program it runs, for the About box, one a line. A program that cannot be
// found, or an Ogg or Vorbis library that did not load, is named as such.
QStringList LibraryVersions();
