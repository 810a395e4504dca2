#pragma once

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class frmResample;
}

class QLabel;
class TPrompter;
class TWavConvertChain;

// The WAV to WAV window: the user picks a WAV file, sees its format, chooses
// the output file's channels, sample rate, sample size and encoding, and
// converts through TWavConvertChain, the same chain as the command line's
// "--convert wav-wav".
//
// The output is written privately and takes its name only when complete: a
// conversion that fails, or that the window stops because it is closed, leaves
// nothing under the output's name. Failures are shown in an error box and
// Convert is enabled again.
//
// Threads: user-interface thread. The chain's sink runs on its own worker,
// whose progress and end reach this window as posted events (through the
// chain's signals).
class TfrmResample final : public QDialog {
    Q_OBJECT

public:
    TfrmResample(QWidget* owner, TPrompter& prompter);
    ~TfrmResample() override;

    TWavConvertChain& Chain() const { return *ConvertChain; }
    QString InputFile() const { return InputPath; }
    QString OutputFile() const { return OutputPath; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

public slots:
    // Close, Escape and the title bar: a conversion going on is stopped and
    // its unfinished output removed.
    void reject() override;

private:
    void bInputFileClick();
    void bOutputFileClick();
    void bConvertClick();
    void WaveOut1Progress(int percent);
    void WaveOut1Done(bool complete, const QString& error);

    void FitSize();
    void ShowInputFormat();
    void ShowFileName(QLabel* label, const QString& path);
    void SetConverting(bool converting);
    // Whether path names the chosen input, also through a link.
    bool IsInput(const QString& path) const;
    QString StartFolder() const;

    std::unique_ptr<Ui::frmResample> ui;
    TPrompter& Prompter;
    std::unique_ptr<TWavConvertChain> ConvertChain;
    QString InputPath;
    QString OutputPath;
    // The format of the last valid input, which the labels show.
    struct TInputFormat {
        int Channels = 0;
        int SampleRate = 0;
        int BitsPerSample = 0;
        QString Encoding;
    };
    TInputFormat Shown;
};
