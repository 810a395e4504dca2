#include "job_commands.h"

#include "core/disc_info.h"
#include "core/helpers.h"
#include "core/language.h"
#include "core/prompter.h"
#include "core/settings.h"
#include "jobs/track_items.h"

#include <QDir>
#include <QFileInfo>

namespace {

bool OutputFolderExists(const QString& folder)
{
    return !folder.isEmpty() && QFileInfo(folder).isDir();
}

} // namespace

TJobCommands::TJobCommands(TPrompter& prompter) : Prompter(prompter)
{
}

std::optional<TJobRequest> TJobCommands::Extract(CDHandle drive, const std::vector<TTrackRow>& rows,
                                                 const std::function<void()>& stopPlayback)
{
    if (drive == 0) {
        Prompter.Information(Translate(RES_Get_CDHandle));
        return std::nullopt;
    }
    if (std::none_of(rows.begin(), rows.end(), [](const TTrackRow& row) { return row.Ticked; })) {
        Prompter.Information(Translate(RES_Select_Track));
        return std::nullopt;
    }
    if (!EnsureOutputFolder())
        return std::nullopt;
    if (stopPlayback)
        stopPlayback();
    // A negative length from a hand-edited options.ini extracts nothing just the
    // same, so it gets the same answer as 0.
    if (AppSettings().EnableRipTime && AppSettings().RipTime <= 0) {
        Prompter.Information(Translate(RES_Select_0));
        return std::nullopt;
    }
    TJobRequest request{ExtractJobKind, drive, ExtractionWorkList(rows)};
    if (!CheckOutputFolder())
        return std::nullopt;
    return request;
}

std::optional<TJobRequest> TJobCommands::Convert(TConversion conversion, const QString& title)
{
    const QStringList files = Prompter.OpenFiles(title, StartFolder(), FileFilter(conversion), true);
    if (files.isEmpty())
        return std::nullopt;
    LastFolder = QFileInfo(files.front()).absolutePath();
    if (!CheckOutputFolder())
        return std::nullopt;
    return TJobRequest{static_cast<int>(conversion), 0, files};
}

QStringList TJobCommands::ExtractionWorkList(const std::vector<TTrackRow>& rows)
{
    QStringList items;
    for (const TTrackRow& row : rows) {
        if (row.Ticked)
            items.append(FormatTwoDigits(row.Number) + row.Title);
    }
    return SafeTrackItems(items);
}

QString TJobCommands::FileFilter(TConversion conversion)
{
    if (conversion == TConversion::Mp3ToWav)
        return QStringLiteral("MP3 file(*.mp3);; Any file(*)");
    return QStringLiteral("Sound file(*.wav);; Any file(*)");
}

bool TJobCommands::CheckOutputFolder()
{
    if (OutputFolderExists(AppSettings().OutputFolder))
        return true;
    Prompter.Information(Translate(RES_Directory_Not_Exist) + Translate(RES_Check_Output));
    return false;
}

QString TJobCommands::StartFolder() const
{
    if (!LastFolder.isEmpty() && QFileInfo(LastFolder).isDir())
        return LastFolder;
    const QString output = AppSettings().OutputFolder;
    return OutputFolderExists(output) ? output : QString();
}

bool TJobCommands::EnsureOutputFolder()
{
    const QString folder = AppSettings().OutputFolder;
    // An empty setting names no folder to create; the check below says so.
    return folder.isEmpty() || OutputFolderExists(folder) || AskToMakeOutputFolder(Prompter, folder);
}

bool AskToMakeOutputFolder(TPrompter& prompter, const QString& folder)
{
    // A message box breaks lines at "\n"; a carriage return would show as a glyph.
    const QString question = folder + QLatin1Char(',') + Translate(RES_Directory_Not_Exist) +
                             QLatin1Char('\n') + Translate(RES_Create_Directory);
    if (prompter.AskYesNo(question, TPrompter::TAnswer::Yes, TPrompter::TIcon::Information) !=
        TPrompter::TAnswer::Yes)
        return false;
    // The user asked for the folder: create the folders above it too.
    if (!QDir().mkpath(folder) || !OutputFolderExists(folder)) {
        prompter.Error(QStringLiteral("Cannot create ") + folder);
        return false;
    }
    return true;
}
