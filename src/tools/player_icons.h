#pragma once

#include <QIcon>

// The pictures of the players' buttons, drawn like the program's other icons
// so they stay sharp at any size.

enum class TPlayerIcon { Play, Pause, Stop, Next, Prev, Step, Back, Record };

QIcon PlayerIcon(TPlayerIcon kind);
