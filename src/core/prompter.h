#pragma once

#include <QString>
#include <QStringList>

// Every message box, question and file or folder picker goes through a TPrompter,
// passed to the object that needs it. The windows use TWidgetPrompter; the
// command-line mode answers from its options; tests script the answers.
// Boxes are captioned with the product name. Used on the user-interface thread.
class TPrompter {
public:
    enum class TIcon { Information, Warning, Error, Question };
    enum class TAnswer { Yes, No, Cancel };

    virtual ~TPrompter() = default;

    virtual void Information(const QString& text) = 0;
    virtual void Warning(const QString& text) = 0;
    virtual void Error(const QString& text) = 0;
    // A plain box with only an OK button and no icon.
    virtual void Message(const QString& text) { Information(text); }

    // A question with Yes and No buttons; defaultAnswer is the button that Enter
    // presses.
    virtual TAnswer AskYesNo(const QString& text, TAnswer defaultAnswer = TAnswer::Yes,
                             TIcon icon = TIcon::Information) = 0;
    virtual TAnswer AskYesNoCancel(const QString& text, TAnswer defaultAnswer = TAnswer::Yes,
                                   TIcon icon = TIcon::Question) = 0;

    // Existing files to open (several when multiple is set); empty when cancelled.
    // filter uses Qt's syntax: "WAV files (*.wav);;All files (*)".
    virtual QStringList OpenFiles(const QString& title, const QString& folder, const QString& filter,
                                  bool multiple) = 0;
    // A file name to save to; empty when cancelled.
    virtual QString SaveFile(const QString& title, const QString& folder, const QString& filter) = 0;
    // An existing folder; empty when cancelled.
    virtual QString PickFolder(const QString& title, const QString& folder) = 0;
};

// The caption of every box.
inline QString ProductName()
{
    return QStringLiteral("Velbrook");
}

inline QString VersionText()
{
    return QStringLiteral("3.1");
}
