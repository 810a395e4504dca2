#pragma once

#include "app/command_line.h"

#include <QString>
#include <QStringList>

class TTerminal;

// Runs the job of --extract or --convert in the terminal and returns the exit
// code. Settings come from options.ini with the command line's options laid
// over them for this run (they are not saved); titles come from the disc
// cache. Needs a QCoreApplication, not a display.
int RunCommandLine(const TCommandLineOptions& options, TTerminal& terminal);

// The file an item of a job turns into: for an extraction (kind 1, item "NN" +
// title) the output folder + title + the format's extension, for a conversion
// the output folder + the input's name with the result's extension, for a
// recording the recording's path with ".mp3".
QString JobResultFile(int kind, const QString& item, const QString& outputFolder, int outputFormat);

// The file wav-wav writes for an input: the output folder + the input's name
// (its extension ".wav").
QString WavToWavResultFile(const QString& input, const QString& outputFolder);
