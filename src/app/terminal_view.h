#pragma once

#include "core/prompter.h"
#include "jobs/job_view.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>

// text with every control character (U+0000 to U+001F, DEL, U+0080 to U+009F)
// shown as an escape such as "\x1b", so titles and file names never reach a
// terminal as commands (ESC sequences, BEL, a carriage return over a line).
QString EscapeControls(const QString& text);

// The command-line mode's screen: progress on standard output, messages on
// standard error. On a terminal the item in progress is a live line redrawn
// in place (carriage return); a message or a finished item's line is printed
// above it and the live line drawn again below. Elsewhere (a pipe, a log file)
// only finished items' lines are printed, one each.
//
// Threads: the thread that runs the job.
class TTerminal {
public:
    TTerminal(std::FILE* out, std::FILE* err, bool live);

    // Standard output and error, live when standard output is a terminal.
    static TTerminal& Standard();

    bool Live() const { return IsLive; }
    // Columns available to the live line.
    int Width() const;

    // Live mode: draws line in place of the live line (nothing elsewhere).
    void ShowLive(const QString& line);
    void ClearLive();
    // A line of standard output. Every line the screen shows has its control
    // characters escaped (EscapeControls).
    void PrintLine(const QString& line);
    // A message on standard error, one line per line of text ("\n").
    void PrintMessage(const QString& text);

private:
    void Hide();
    void Redraw();

    std::FILE* Out;
    std::FILE* Err;
    bool IsLive;
    QString LiveLine;
    bool LiveShown = false;
};

// Message boxes become lines on standard error ("velbrook: ..."), and
// questions are answered from the command line: Yes when --overwrite was
// given, No otherwise (the only questions a job asks are whether to replace a
// file). The file picker of a conversion returns the files of the command
// line.
class TTerminalPrompter final : public TPrompter {
public:
    TTerminalPrompter(TTerminal& terminal, bool overwrite);

    // What OpenFiles returns.
    QStringList Files;
    // Messages shown and questions answered No, so far.
    int MessageCount() const { return Messages; }
    int DeclinedCount() const { return Declined; }

    void Information(const QString& text) override;
    void Warning(const QString& text) override;
    void Error(const QString& text) override;
    void Message(const QString& text) override;
    TAnswer AskYesNo(const QString& text, TAnswer defaultAnswer, TIcon icon) override;
    TAnswer AskYesNoCancel(const QString& text, TAnswer defaultAnswer, TIcon icon) override;
    QStringList OpenFiles(const QString& title, const QString& folder, const QString& filter,
                          bool multiple) override;
    QString SaveFile(const QString& title, const QString& folder, const QString& filter) override;
    QString PickFolder(const QString& title, const QString& folder) override;

private:
    void Show(const QString& prefix, const QString& text);
    TAnswer Answer(const QString& text);

    TTerminal& Terminal;
    bool Overwrite;
    int Messages = 0;
    int Declined = 0;
};

// What a running job shows, drawn as the live line of the item in progress:
//   [ 2/5] Track 02  Encoding  [#########-----------]  45%  00:04 of 00:09
// The item and the step come from the caption the job sets ("Encoding(02/05):
// ..."); the runner prints each item's closing line with FinishItem.
class TTerminalJobView final : public TJobView {
public:
    // names: what each item is called on the screen (a track title, a file).
    TTerminalJobView(TTerminal& terminal, const QStringList& names);

    // Called once, when the job closes its view.
    std::function<void()> OnClose;

    // Prints the closing line of item index, such as "-> /music/Intro.mp3".
    void FinishItem(int index, const QString& text);
    // The item the job is at (0-based) and the step it runs ("Extracting").
    int CurrentItem() const { return Current; }
    QString Step() const { return StepName; }
    bool Closed() const { return IsClosed; }
    // The live line as it would be drawn now.
    QString LiveLine() const;

    void SetCaption(const QString& text) override;
    void SetGroupTitle(const QString& text) override;
    void SetElapsedText(const QString& text) override;
    void SetEstimatedText(const QString& text) override;
    void SetGauge(int percent) override;
    int Gauge() const override { return GaugeValue; }
    void SetGaugeTextVisible(bool visible) override;
    void ShowInitializing(const QString& text) override;
    void HideInitializing() override;
    void CloseView() override;

private:
    QString ItemLabel(int index) const;
    void Update();

    TTerminal& Terminal;
    QStringList Names;
    int Current = 0;
    QString StepName;
    QString GroupTitle;
    QString Initializing;
    QString Elapsed;
    QString Estimated;
    int GaugeValue = 0;
    bool PercentShown = false;
    bool IsClosed = false;
};
