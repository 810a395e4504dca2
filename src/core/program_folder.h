#pragma once

#include <QString>
#include <QStringList>

// Where the program keeps its own files. The program folder holds options.ini,
// cdinfo.dat and the recorder's working files; it is
//  - $VELBROOK_HOME when set,
//  - else the executable's folder when it holds "velbrook.portable" and is writable,
//  - else $XDG_CONFIG_HOME/velbrook.
// The first two are portable use.

// The executable's folder, without a trailing separator (works before any
// QCoreApplication exists).
QString ExecutableFolder();

QString ProgramFolder();
bool IsPortableUse();

// The program folder followed by name.
QString ProgramFile(const QString& name);

// Folders searched for read-only data (language files, help): the program folder
// first, then the installed data folder.
QStringList DataFolders();

// The first existing file called name in DataFolders(); empty when there is none.
QString FindDataFile(const QString& name);

// Output folder of a fresh installation: the program folder's "Output" in portable
// use, the user's music folder + "/Velbrook" otherwise. No trailing separator.
QString DefaultOutputFolder();
