#pragma once

#include "app/track_rows.h"
#include "cd/cd_drive.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

class TPrompter;

// Asks whether to make the missing output folder (and the folders above it)
// and makes it; false when the user said no or it could not be made.
bool AskToMakeOutputFolder(TPrompter& prompter, const QString& folder);

// What the job window is opened with: the job kind, the drive (0 when no drive
// is involved) and the work list (for an extraction "NN" + the track's
// file-safe title, otherwise full file paths).
struct TJobRequest {
    int Kind = 0;
    CDHandle Drive = 0;
    QStringList WorkList;
};

inline constexpr int ExtractJobKind = 1;

// The file conversions of the File menu, by the job kind each starts.
enum class TConversion { WavToMp3 = 2, Mp3ToWav = 3, WavToOgg = 5, WavToWma = 6 };

// The commands that start a job: Extract and the file conversions. Each checks
// what it needs (a drive, ticked tracks, the output folder, the extraction
// length), asks and tells the user through the prompter, and returns the job
// to run, or nothing when the command ends early.
//
// Threads: user-interface thread only.
class TJobCommands {
public:
    explicit TJobCommands(TPrompter& prompter);

    // Extract the ticked rows from drive. stopPlayback, when given, stops CD
    // playback before the job is made.
    std::optional<TJobRequest> Extract(CDHandle drive, const std::vector<TTrackRow>& rows,
                                       const std::function<void()>& stopPlayback = {});

    // Lets the user choose the files of a conversion (title is the file
    // dialog's caption) and makes its job.
    std::optional<TJobRequest> Convert(TConversion conversion, const QString& title);

    // The work items of the ticked rows, in list order: the track number as two
    // digits followed by the title made safe by SafeTrackItems (no characters
    // * / : < > ? \ |, "Track" and the number for an empty or hidden name, and
    // " (2)", " (3)"... for a title an earlier item already names, compared
    // without regard to case), so no track overwrites another's file.
    static QStringList ExtractionWorkList(const std::vector<TTrackRow>& rows);

    // The file dialog filter of a conversion.
    static QString FileFilter(TConversion conversion);

    // Whether the output folder exists; tells the user when it does not.
    bool CheckOutputFolder();

    // The folder the file dialog opens in: where the user last chose files,
    // else the output folder.
    QString StartFolder() const;

private:
    bool EnsureOutputFolder();

    TPrompter& Prompter;
    QString LastFolder;
};
