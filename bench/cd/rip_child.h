#pragma once

#include <QString>

// The child process of the extraction benches: opens the image as the first
// drive and rips every track into folder with the rip thread, one after
// another, as the job window does. Returns the exit code: 0 when every track
// was extracted.
int RipEveryTrack(int argc, char** argv, const QString& image, const QString& folder);
