#pragma once

#include <QStringList>

// "name version" of every library the program is built on and every outside
// program it runs, for the About box. A program that cannot be found is named
// as missing.
QStringList LibraryVersions();
