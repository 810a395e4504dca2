#pragma once

#include <QIcon>

// The program's pictures, drawn rather than loaded so they stay sharp at any
// size and need no image plugin.

enum class TToolIcon { Extract, Encode, Folder, Record, Options, Exit };

// A compact disc with a note on it: the window and desktop icon.
QIcon ApplicationIcon();

QIcon ToolIcon(TToolIcon kind);
