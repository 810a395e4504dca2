#pragma once

#include "codecs/encoder_process.h"
#include "codecs/wma_output_parser.h"

struct TAppSettings;
struct TDiscInfo;

// WAV to WMA through our encoder program velbrook-wmaenc. One object serves every
// file of every job for the whole run.
//
// Reports: progress only once, Percent 100 when the program says the file is
// complete (the job window estimates the time before from the growing output);
// then completion 5000 with Result 0 (the user kept the existing output, or the
// program is missing, which the user has been told), 1 (the output is in use),
// 2 (the program has ended and its file is in place) or 8 (the file failed;
// ElapsedText holds the program's error line, says how the program ended when
// it died without one, or is the whole message when its file could not be
// put in place). A program that ends by a signal or with a non-zero exit code has
// failed, whatever it printed before. There is one completion per file, posted
// after the process has ended.
//
// Threads: main thread only, as its base.
class TWMAEncodeProcess final : public TEncoderProcess {
public:
    static constexpr int CompletionPercent = 5000;
    static constexpr int ErrorResult = FailedResult;

    TWMAEncodeProcess(QObject* notifyWindow, TPrompter& prompter);

    // The program's arguments for this setting, disc and files. The author and
    // the description (the disc's artist and comment) go along only with ID3/Use,
    // each as one argument, whatever blanks or quotes it holds. An unknown
    // setting position is taken as the default.
    static QStringList EncodeArguments(const TAppSettings& settings, const TDiscInfo& disc,
                                       const QString& inputFile, const QString& outputFile);

protected:
    QString ProgramName() const override;
    bool AsksBeforeOverwrite() const override;
    bool HandleMissingProgram() override;
    QStringList Arguments() override;
    void Started() override;
    void ParseOutput(const QStringList& lines) override;
    int CompletionCode() const override;
    void Ended(int exitCode, QProcess::ExitStatus status) override;

private:
    TWmaOutputParser Parser;
};
