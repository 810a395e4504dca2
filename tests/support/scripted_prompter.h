#pragma once

#include "core/prompter.h"

#include <QStringList>
#include <deque>
#include <vector>

// A prompter for tests: records every box and question, answers questions and
// pickers from a script, and fails the test when a question comes that the
// script did not expect.
class TScriptedPrompter final : public TPrompter {
public:
    enum class TKind { Information, Warning, Error, YesNo, YesNoCancel, OpenFiles, SaveFile, PickFolder };
    struct TCall {
        TKind Kind;
        QString Text; // message text, or the picker's title
        TAnswer DefaultAnswer = TAnswer::Yes;
        TIcon Icon = TIcon::Information;
    };

    void QueueAnswer(TAnswer answer);
    void QueueFiles(const QStringList& files);
    void QueuePath(const QString& path);

    const std::vector<TCall>& Calls() const;
    // The texts of all boxes shown, in order (information, warning and error).
    QStringList Messages() const;
    bool ScriptUsedUp() const;
    // The folders the folder pickers started at, in order.
    const QStringList& PickerFolders() const;

    void Information(const QString& text) override;
    void Warning(const QString& text) override;
    void Error(const QString& text) override;
    TAnswer AskYesNo(const QString& text, TAnswer defaultAnswer, TIcon icon) override;
    TAnswer AskYesNoCancel(const QString& text, TAnswer defaultAnswer, TIcon icon) override;
    QStringList OpenFiles(const QString& title, const QString& folder, const QString& filter,
                          bool multiple) override;
    QString SaveFile(const QString& title, const QString& folder, const QString& filter) override;
    QString PickFolder(const QString& title, const QString& folder) override;

private:
    TAnswer NextAnswer(const QString& text, TAnswer defaultAnswer);
    QStringList NextFiles(const QString& title);

    std::vector<TCall> CallLog;
    std::deque<TAnswer> Answers;
    std::deque<QStringList> FileAnswers;
    QStringList StartFolders;
};
