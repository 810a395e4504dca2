#pragma once

#include "jobs/wav_convert_chain.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The program's command line. Without --extract, --convert or --lookup the
// program opens its window; with one of them it works in the terminal, without
// a window and without a display, and ends with an exit code (see
// CommandLineHelp).

// Exit codes of the command-line mode.
enum TExitCode : int {
    ExitDone = 0,   // every item produced its file
    ExitFailed = 1, // an item failed or was skipped, the job could not go on, or a lookup found nothing
    ExitUsage = 2,  // the command line is wrong; nothing was done
    ExitNoDisc = 3, // no drive, no audio disc, or its contents cannot be read
    ExitInterrupted = 130, // stopped with Ctrl+C (or SIGTERM, SIGHUP)
};

enum class TCommandLineMode { Window, Help, Version, Extract, Convert, Lookup };

// The conversions of --convert: the four job kinds of the File menu, and WAV to
// WAV through TWavConvertChain.
enum class TConversionKind { WavToMp3, Mp3ToWav, WavToOgg, WavToWma, WavToWav };

struct TCommandLineOptions {
    TCommandLineMode Mode = TCommandLineMode::Window;
    QStringList CdImages;
    // Output folder; empty: the one options.ini names.
    QString OutputFolder;
    bool Overwrite = false;

    // --extract: the track numbers (sorted, each once); none given: every
    // audio track. The output format (0 MP3, 1 WAV, 2 OGG, 3 WMA), none given:
    // the one options.ini names.
    std::optional<std::vector<int>> Tracks;
    std::optional<int> OutputFormat;
    // --extract --lookup: the titles come from a CDDB lookup first.
    bool Lookup = false;

    // --convert and its files, as given.
    TConversionKind Conversion = TConversionKind::WavToMp3;
    QStringList Files;
    // wav-wav: what to change; each left out keeps the input's own value.
    std::optional<int> SampleRate;
    std::optional<int> Channels;
    std::optional<int> BitsPerSample;
    bool Adpcm = false;
};

struct TParsedCommandLine {
    TCommandLineOptions Options;
    // Why the command line is wrong (exit with ExitUsage); empty when it is fine.
    QString Error;
};

// Parses the arguments (the program name first, as QCoreApplication::arguments
// gives them).
TParsedCommandLine ParseCommandLine(const QStringList& arguments);

// A list of track numbers such as "1,3-5": numbers and ranges separated by
// commas, blanks allowed around them. Gives the numbers sorted, each once, or
// nothing with error set (an empty entry, 0, above 99, a range that runs
// backwards, anything that is not a number).
std::optional<std::vector<int>> ParseTrackList(const QString& text, QString* error);

// The output format named on the command line (mp3, wav, ogg, wma, any case):
// 0..3, or -1.
int OutputFormatOfName(const QString& name);

// The wav-wav output format for an input with these properties.
TWavConvertChain::TOutputFormat WavOutputFormat(const TCommandLineOptions& options, int inputRate,
                                                int inputChannels, int inputBits);

// What --help prints: every option, the exit codes and where files go.
QString CommandLineHelp();
