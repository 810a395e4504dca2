#pragma once

#include "support/measure.h"

#include <QString>

#include <string>
#include <vector>

// Timing a program against its peer: each side runs as a child of the bench,
// so both are timed and measured (wait4's peak resident size) the same way.

struct TRun {
    double Seconds = 0;
    double CpuSeconds = 0; // user and system time of the child
    long PeakKilobytes = 0;
    bool Ok = false; // exited with code 0
    TTiming Timing() const { return {Seconds, CpuSeconds}; }
};

// Runs a program in folder, its output thrown away (neither side pays for a
// terminal), with VELBROOK_HOME set to home when one is given.
TRun RunChild(const std::vector<std::string>& arguments, const QString& folder, const QString& home = {});

// RunChild for a program that must succeed: exits with 2, naming it, when it
// does not.
TTiming RunPeer(const std::vector<std::string>& arguments, const QString& folder);

// Removes everything in path and makes it again, empty.
void EmptyFolder(const QString& path);

// Neither side may pay for writing back the other's files: both output folders
// are emptied, and what is still dirty reaches the disk before the clock starts.
void Settle(const QString& ours, const QString& peer);
