#pragma once

#include <QStringList>

// The desktop's volume mixer: the first of pavucontrol, pwvucontrol, the GNOME
// sound settings and the KDE audio settings that is installed, as a program
// and its arguments; empty when there is none.
QStringList VolumeControlCommand();

// Starts the mixer on its own (it outlives the program). False when there is
// no mixer or it could not be started.
bool StartVolumeControl();
