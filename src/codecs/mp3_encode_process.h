#pragma once

#include "codecs/encoder_process.h"
#include "codecs/mp3_output_parser.h"

struct TAppSettings;

// WAV to MP3 (Encode true) and MP3 to WAV (Encode false) through the `lame`
// program. One object serves every file of every job for the whole run.
//
// Reports: progress 1..100 with lame's own time texts when encoding, with our
// elapsed and estimated times when decoding; completion 2000 with Result 0 (the
// user kept the existing output), 1 (the output is in use), 2 (the program
// has ended and its file is in place) or 8 (the file failed; ElapsedText is
// the message). A decoded file counts only when it holds sound and its header
// agrees with its size: lame exits with 0 after decoding a file that is no
// MP3, and after writing onto a full disk.
//
// Threads: main thread only, as its base.
class TMp3EncodeProcess final : public TEncoderProcess {
public:
    static constexpr int CompletionPercent = 2000;

    TMp3EncodeProcess(QObject* notifyWindow, TPrompter& prompter);

    // lame's arguments for these settings and files.
    static QStringList EncodeArguments(const TAppSettings& settings, const QString& inputFile,
                                       const QString& outputFile);
    static QStringList DecodeArguments(const QString& inputFile, const QString& outputFile);

    // The column of the progress figure found in the current file's output; 0
    // until found.
    int ProgressColumn() const;

protected:
    QString ProgramName() const override;
    bool AsksBeforeOverwrite() const override;
    QStringList Arguments() override;
    void Started() override;
    void ParseOutput(const QStringList& lines) override;
    int CompletionCode() const override;
    QString CheckOutput(const QString& path) const override;
    QString FailureHeadline() const override;
    QString ProgramError() const override;

private:
    TMp3OutputParser Parser;
};
