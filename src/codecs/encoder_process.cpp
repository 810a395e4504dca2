#include "encoder_process.h"

#include "core/language.h"
#include "core/program_folder.h"
#include "core/prompter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <unistd.h>

namespace {

[[maybe_unused]] bool OnMainThread()
{
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

} // namespace

EEncoderError::EEncoderError(const QString& text, int errorNumber)
    : std::runtime_error(text.toStdString()), Message(text), Number(errorNumber)
{
}

QString EEncoderError::Text() const
{
    return Message;
}

int EEncoderError::ErrorNumber() const
{
    return Number;
}

QString AbsoluteFileArgument(const QString& path)
{
    return QFileInfo(path).absoluteFilePath();
}

TEncoderProcess::TEncoderProcess(QObject* notifyWindow, TPrompter& prompter)
    : NotifyWindow(notifyWindow), Prompter(prompter)
{
}

TEncoderProcess::~TEncoderProcess()
{
    DiscardProcess();
}

QString TEncoderProcess::FindProgram(const QString& name)
{
    const QFileInfo beside(QDir(ExecutableFolder()).filePath(name));
    if (beside.isFile() && beside.isExecutable())
        return beside.absoluteFilePath();
    return QStandardPaths::findExecutable(name);
}

bool TEncoderProcess::HandleMissingProgram()
{
    return false;
}

void TEncoderProcess::Ended(int, QProcess::ExitStatus)
{
}

void TEncoderProcess::Start()
{
    Q_ASSERT(OnMainThread());
    DiscardProcess();
    Output.Discard();
    CompletionResult = 2;
    CompletionText.clear();

    // A link at the name counts as a file too; it is replaced, never written
    // through.
    const bool exists = EntryExists(OutputFile);
    ReplaceRule = AsksBeforeOverwrite() || !ReplaceExisting ? TPendingFile::TReplace::Never
                                                            : TPendingFile::TReplace::Allowed;
    if (exists) {
        TFileError refused = CheckReplaceable(OutputFile);
        if (!refused && !AsksBeforeOverwrite() && !ReplaceExisting)
            refused = TFileError(EEXIST);
        if (refused) {
            PostDone(FailedResult, FileErrorMessage(FailureHeadline(), OutputFile, refused.Text()));
            return;
        }
    }
    if (exists && AsksBeforeOverwrite()) {
        const auto answer = Prompter.AskYesNo(OutputFile + Translate(RES_File_Exist), TPrompter::TAnswer::Yes,
                                              TPrompter::TIcon::Information);
        if (answer != TPrompter::TAnswer::Yes) {
            PostDone(0);
            return;
        }
        if (IsFileInUse(OutputFile)) {
            PostDone(1);
            return;
        }
        ReplaceRule = TPendingFile::TReplace::Allowed;
    }

    const QString program = FindProgram(ProgramName());
    if (program.isEmpty()) {
        if (HandleMissingProgram())
            return;
        RaiseStartError(ENOENT);
    }
    const TFileError created = Output.Begin(OutputFile);
    if (created) {
        PostDone(FailedResult, FileErrorMessage(FailureHeadline(), OutputFile, created.Text()));
        return;
    }

    Process = std::make_unique<QProcess>();
    QProcess* p = Process.get();
    p->setProgram(program);
    p->setArguments(Arguments());
    p->setProcessChannelMode(QProcess::SeparateChannels);
    Connections.push_back(QObject::connect(p, &QProcess::readyReadStandardOutput, p,
                                           [this] { ReadChannel(QProcess::StandardOutput); }));
    Connections.push_back(QObject::connect(p, &QProcess::readyReadStandardError, p,
                                           [this] { ReadChannel(QProcess::StandardError); }));
    Connections.push_back(
        QObject::connect(p, &QProcess::finished, p, [this](int exitCode, QProcess::ExitStatus status) {
            ProcessEnded(exitCode, status);
        }));
    p->start(QIODevice::ReadWrite);
    if (!p->waitForStarted()) {
        // Qt does not hand out the errno of a failed exec; a file that was found
        // executable a moment ago is most likely of a format we cannot run.
        const int errorNumber = access(QFile::encodeName(program).constData(), X_OK) == 0 ? ENOEXEC : errno;
        DiscardProcess();
        Output.Discard();
        RaiseStartError(errorNumber);
    }
    StartTime = Now();
    // The program reads nothing from us.
    p->closeWriteChannel();
    Started();
}

QString TEncoderProcess::ProgramOutputFile() const
{
    return Output.Active() ? Output.PendingPath() : OutputFile;
}

QString TEncoderProcess::CheckOutput(const QString& path) const
{
    if (FileSizeOf(path) > 0)
        return QString();
    return QStringLiteral("%1 wrote nothing").arg(ProgramName());
}

QString TEncoderProcess::FailureHeadline() const
{
    return Translate(RES_Save_Error);
}

void TEncoderProcess::RaiseStartError(int errorNumber)
{
    throw EEncoderError(Translate(RES_CreateProcess_Error) + QLatin1Char('\n') + ProgramName() +
                            QStringLiteral(": ") + SystemErrorText(errorNumber),
                        errorNumber);
}

void TEncoderProcess::Stop()
{
    Q_ASSERT(OnMainThread());
    Running = false;
    DiscardProcess();
    // Only after the program has ended: it might otherwise create the file anew.
    Output.Discard();
}

void TEncoderProcess::DiscardProcess()
{
    for (const QMetaObject::Connection& connection : Connections)
        QObject::disconnect(connection);
    Connections.clear();
    if (Process && Process->state() != QProcess::NotRunning) {
        Process->terminate();
        if (!Process->waitForFinished(StopGraceMs)) {
            Process->kill();
            // Reaps the child, so no zombie is left and its pid is not reused under us.
            Process->waitForFinished(-1);
        }
    }
    Process.reset();
    StdOutLines = TOutputLines();
    StdErrLines = TOutputLines();
}

bool TEncoderProcess::ProcessActive() const
{
    return Process && Process->state() != QProcess::NotRunning;
}

qint64 TEncoderProcess::ProcessId() const
{
    return ProcessActive() ? Process->processId() : 0;
}

void TEncoderProcess::ReadChannel(QProcess::ProcessChannel channel)
{
    const bool standardOutput = channel == QProcess::StandardOutput;
    const QByteArray chunk =
        standardOutput ? Process->readAllStandardOutput() : Process->readAllStandardError();
    if (chunk.isEmpty())
        return;
    const QStringList lines = (standardOutput ? StdOutLines : StdErrLines).Feed(chunk);
    if (!lines.isEmpty())
        ParseOutput(lines);
}

void TEncoderProcess::ProcessEnded(int exitCode, QProcess::ExitStatus status)
{
    // Qt has read the pipes to their end before it reports the end; take what it
    // still holds, then the unfinished last lines.
    ReadChannel(QProcess::StandardOutput);
    ReadChannel(QProcess::StandardError);
    for (TOutputLines* channel : {&StdOutLines, &StdErrLines}) {
        const QStringList rest = channel->Flush();
        if (!rest.isEmpty())
            ParseOutput(rest);
    }
    for (const QMetaObject::Connection& connection : Connections)
        QObject::disconnect(connection);
    Connections.clear();
    // The process object itself is released by the next Start or Stop: it may not
    // be deleted inside its own signal.
    const bool exitedCleanly = status == QProcess::NormalExit && exitCode == 0;
    Ended(exitCode, status);
    if (CompletionResult == 2) {
        const QString reason = PlaceOutput(exitCode, status);
        if (!reason.isEmpty())
            Fail(reason);
    }
    // Whatever did not take OutputFile's place goes.
    Output.Discard();
    PostDone(CompletionResult, CompletionText, exitedCleanly && CompletionResult == 2);
}

QString TEncoderProcess::PlaceOutput(int exitCode, QProcess::ExitStatus status)
{
    QStringList reasons;
    if (status != QProcess::NormalExit || exitCode != 0) {
        const QString said = ProgramError();
        if (!said.isEmpty())
            reasons << QStringLiteral("%1 said: %2").arg(ProgramName(), said);
        reasons << (status != QProcess::NormalExit
                        ? QStringLiteral("%1 stopped unexpectedly").arg(ProgramName())
                        : QStringLiteral("%1 ended with exit code %2").arg(ProgramName()).arg(exitCode));
    } else {
        const QString problem = CheckOutput(Output.PendingPath());
        if (!problem.isEmpty())
            reasons << problem;
    }
    if (!reasons.isEmpty()) {
        // A program in another process cannot hand us its errno; a full disk or
        // a file-size limit can still be told from the outside.
        if (const int likely = LikelyWriteFailure(Output.PendingPath()))
            reasons.prepend(SystemErrorText(likely));
        return reasons.join(QStringLiteral("; "));
    }
    const TFileError placed = Output.Commit(ReplaceRule);
    return placed ? placed.Text() : QString();
}

void TEncoderProcess::Fail(const QString& reason)
{
    SetCompletion(FailedResult, FileErrorMessage(FailureHeadline(), OutputFile, reason));
}

void TEncoderProcess::PostDone(int result, const QString& text, bool exitedCleanly)
{
    if (!NotifyWindow)
        return;
    auto info = std::make_unique<TProcessInfo>();
    info->Percent = CompletionCode();
    info->Result = result;
    info->ElapsedText = text;
    info->ExitedCleanly = exitedCleanly;
    PostProcessInfo(NotifyWindow, std::move(info));
}

void TEncoderProcess::PostProgress(const TProcessInfo& info)
{
    if (NotifyWindow)
        PostProcessInfo(NotifyWindow, std::make_unique<TProcessInfo>(info));
}

void TEncoderProcess::SetCompletion(int result, const QString& text)
{
    CompletionResult = result;
    CompletionText = text;
}
