#pragma once

#include "codecs/output_lines.h"
#include "core/helpers.h"
#include "core/messages.h"
#include "core/safe_files.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>
#include <vector>

class QObject;
class TPrompter;

// A failure to start an encoder program: the message the user sees (the
// translated start-error text followed directly by the error number) and the
// errno value.
class EEncoderError : public std::runtime_error {
public:
    EEncoderError(const QString& text, int errorNumber);
    QString Text() const;
    int ErrorNumber() const;

private:
    QString Message;
    int Number;
};

// Runs one external encoder program at a time for the job window: asks before
// overwriting, starts the program with an argument list (never through a shell),
// reads both of its output channels, and reports to NotifyWindow with posted
// WM_PROCESSINFO events. The end of the process is reported once its output has
// been read to the end; the report says whether it exited normally with code 0.
//
// The program writes into a private temporary beside OutputFile, which takes
// OutputFile's name only after the program has exited cleanly and its output
// has been found good: a program that failed, died or was stopped leaves
// nothing under OutputFile's name, and a file it replaces stays whole until
// then. A write-protected OutputFile is left alone (the user is told).
//
// The MP3 and WMA encoders derive from it and supply the program, its arguments,
// the parsing of its output and their completion code.
//
// Threads: main thread only. QProcess delivers output and the end of the process
// through the main thread's event loop, so nothing here is shared with another
// thread. Reports are always posted, never delivered inside Start or inside the
// output reader, so the receiver may call Start or Stop from its handler.
class TEncoderProcess {
public:
    static constexpr int StopGraceMs = 3000;
    // The completion's Result when the file failed; ElapsedText is then the
    // whole message for the user.
    static constexpr int FailedResult = 8;

    TEncoderProcess(QObject* notifyWindow, TPrompter& prompter);
    virtual ~TEncoderProcess();
    TEncoderProcess(const TEncoderProcess&) = delete;
    TEncoderProcess& operator=(const TEncoderProcess&) = delete;

    // Set by the job window before each Start.
    QObject* NotifyWindow;
    QString InputFile;
    QString OutputFile;
    // Set by the job window; cleared only by Stop (it stays set after the process
    // ends and after an early return of Start).
    bool Running = false;
    bool Encode = true;
    int JobKind = 0;
    // For the kinds that replace their output without a question: whether a
    // file that has OutputFile's name when the program ends is replaced, or
    // kept and the file failed (the command line without --overwrite).
    bool ReplaceExisting = true;
    // Taken right after the program has started.
    TClock::time_point StartTime{};

    // Starts the program for InputFile and OutputFile. An existing output is
    // overwritten only when the user agrees (completion 0 otherwise) and when no
    // one holds it open (completion 1); a write-protected one, or one that is
    // not a plain file, is kept (completion 8). Throws EEncoderError when the
    // program is missing or cannot be started.
    void Start();
    // Ends a running program; no report follows. The program is asked to end
    // first, and killed if it does not end within StopGraceMs; what it wrote is
    // removed.
    void Stop();
    // Posts a completion: Percent is the encoder's completion code, ElapsedText
    // carries text, ExitedCleanly whether a program ran and exited with code 0.
    void PostDone(int result, const QString& text = QString(), bool exitedCleanly = false);

    // Whether a program is running now.
    bool ProcessActive() const;
    // The file the program writes: the private temporary beside OutputFile
    // while it runs, OutputFile before and after.
    QString ProgramOutputFile() const;
    // The running program's process id, 0 when none.
    qint64 ProcessId() const;

    // The program file of that name: beside our executable first, then on PATH.
    // Empty when there is none.
    static QString FindProgram(const QString& name);

protected:
    virtual QString ProgramName() const = 0;
    // Whether an existing output is a question for the user for this job kind (an
    // extracted track is the job's own file and is simply replaced).
    virtual bool AsksBeforeOverwrite() const = 0;
    // Called when the program is found nowhere. Returns true when it has told the
    // user and reported the file; false makes Start raise the start error.
    virtual bool HandleMissingProgram();
    // The arguments after the program name, with absolute file paths.
    virtual QStringList Arguments() = 0;
    // Called once the program has started, before any of its output is read.
    virtual void Started() {}
    // The lines of one chunk of output, from either channel.
    virtual void ParseOutput(const QStringList& lines) = 0;
    // Percent of the completion report (2000 for MP3, 5000 for WMA).
    virtual int CompletionCode() const = 0;
    // Called once the program has ended and all its output has been parsed, just
    // before the completion is posted; may change the completion with
    // SetCompletion.
    virtual void Ended(int exitCode, QProcess::ExitStatus status);
    // After a clean exit: why the file the program wrote at path is not a good
    // result, or an empty text. The base takes any file that is not empty.
    virtual QString CheckOutput(const QString& path) const;
    // The first line of a failure message for OutputFile.
    virtual QString FailureHeadline() const;
    // The last error line the program printed, empty when none.
    virtual QString ProgramError() const { return QString(); }

    void PostProgress(const TProcessInfo& info);
    // Makes the completion at the end of the process carry result and text instead
    // of result 2.
    void SetCompletion(int result, const QString& text);

    TPrompter& Prompter;

private:
    void ReadChannel(QProcess::ProcessChannel channel);
    void ProcessEnded(int exitCode, QProcess::ExitStatus status);
    // Puts the program's file in OutputFile's place; the reason when it cannot.
    QString PlaceOutput(int exitCode, QProcess::ExitStatus status);
    void Fail(const QString& reason);
    // Ends the program if it still runs and forgets it, without any report.
    void DiscardProcess();
    [[noreturn]] void RaiseStartError(int errorNumber);

    std::unique_ptr<QProcess> Process;
    std::vector<QMetaObject::Connection> Connections;
    TOutputLines StdOutLines;
    TOutputLines StdErrLines;
    int CompletionResult = 2;
    QString CompletionText;
    TPendingFile Output;
    TPendingFile::TReplace ReplaceRule = TPendingFile::TReplace::Never;
};

// An absolute path for a file argument: a relative name or one that starts with
// "-" must never reach the program as an option.
QString AbsoluteFileArgument(const QString& path);
