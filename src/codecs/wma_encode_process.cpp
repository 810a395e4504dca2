#include "wma_encode_process.h"

#include "codecs/wma_settings.h"
#include "core/disc_info.h"
#include "core/language.h"
#include "core/prompter.h"
#include "core/settings.h"

TWMAEncodeProcess::TWMAEncodeProcess(QObject* notifyWindow, TPrompter& prompter)
    : TEncoderProcess(notifyWindow, prompter)
{
}

QStringList TWMAEncodeProcess::EncodeArguments(const TAppSettings& settings, const TDiscInfo& disc,
                                               const QString& inputFile, const QString& outputFile)
{
    QStringList arguments{
        QStringLiteral("-input"),     AbsoluteFileArgument(inputFile),
        QStringLiteral("-output"),    AbsoluteFileArgument(outputFile),
        QStringLiteral("-a_setting"), QLatin1String(WmaSettingAt(settings.WmaSetting).Value)};
    if (settings.UseId3) {
        if (!disc.Artist.isEmpty())
            arguments << QStringLiteral("-author") << disc.Artist;
        if (!disc.Comment.isEmpty())
            arguments << QStringLiteral("-description") << disc.Comment;
    }
    return arguments;
}

QString TWMAEncodeProcess::ProgramName() const
{
    return QStringLiteral("velbrook-wmaenc");
}

bool TWMAEncodeProcess::AsksBeforeOverwrite() const
{
    // An extracted track is the job's own file.
    return JobKind != 1;
}

bool TWMAEncodeProcess::HandleMissingProgram()
{
    Prompter.Information(Translate(RES_NoWmaEncoder));
    PostDone(0);
    return true;
}

QStringList TWMAEncodeProcess::Arguments()
{
    TAppSettings& settings = AppSettings();
    RepairWmaSetting(settings.WmaSetting);
    return EncodeArguments(settings, DiscInfo(), InputFile, ProgramOutputFile());
}

void TWMAEncodeProcess::Started()
{
    Parser.Reset(StartTime);
}

void TWMAEncodeProcess::ParseOutput(const QStringList& lines)
{
    const bool hadError = Parser.ErrorSeen();
    for (const TProcessInfo& info : Parser.Parse(lines))
        PostProgress(info);
    if (!hadError && Parser.ErrorSeen())
        SetCompletion(ErrorResult, Parser.ErrorLine());
}

int TWMAEncodeProcess::CompletionCode() const
{
    return CompletionPercent;
}

void TWMAEncodeProcess::Ended(int exitCode, QProcess::ExitStatus status)
{
    if (Parser.ErrorSeen())
        return;
    // Died without a word: the user must still hear that the file failed.
    if (status != QProcess::NormalExit)
        SetCompletion(ErrorResult, QStringLiteral("ERROR: the WMA encoder stopped unexpectedly"));
    else if (exitCode != 0)
        SetCompletion(ErrorResult,
                      QStringLiteral("ERROR: the WMA encoder failed with exit code %1").arg(exitCode));
}
