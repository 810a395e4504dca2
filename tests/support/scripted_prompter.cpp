#include "scripted_prompter.h"

#include <gtest/gtest.h>

void TScriptedPrompter::QueueAnswer(TAnswer answer)
{
    Answers.push_back(answer);
}

void TScriptedPrompter::QueueFiles(const QStringList& files)
{
    FileAnswers.push_back(files);
}

void TScriptedPrompter::QueuePath(const QString& path)
{
    FileAnswers.push_back(path.isEmpty() ? QStringList{} : QStringList{path});
}

const std::vector<TScriptedPrompter::TCall>& TScriptedPrompter::Calls() const
{
    return CallLog;
}

QStringList TScriptedPrompter::Messages() const
{
    QStringList texts;
    for (const TCall& call : CallLog) {
        if (call.Kind == TKind::Information || call.Kind == TKind::Warning || call.Kind == TKind::Error)
            texts.append(call.Text);
    }
    return texts;
}

bool TScriptedPrompter::ScriptUsedUp() const
{
    return Answers.empty() && FileAnswers.empty();
}

void TScriptedPrompter::Information(const QString& text)
{
    CallLog.push_back({TKind::Information, text});
}

void TScriptedPrompter::Warning(const QString& text)
{
    CallLog.push_back({TKind::Warning, text, TAnswer::Yes, TIcon::Warning});
}

void TScriptedPrompter::Error(const QString& text)
{
    CallLog.push_back({TKind::Error, text, TAnswer::Yes, TIcon::Error});
}

TPrompter::TAnswer TScriptedPrompter::NextAnswer(const QString& text, TAnswer defaultAnswer)
{
    if (Answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        return defaultAnswer;
    }
    const TAnswer answer = Answers.front();
    Answers.pop_front();
    return answer;
}

TPrompter::TAnswer TScriptedPrompter::AskYesNo(const QString& text, TAnswer defaultAnswer, TIcon icon)
{
    CallLog.push_back({TKind::YesNo, text, defaultAnswer, icon});
    return NextAnswer(text, defaultAnswer);
}

TPrompter::TAnswer TScriptedPrompter::AskYesNoCancel(const QString& text, TAnswer defaultAnswer, TIcon icon)
{
    CallLog.push_back({TKind::YesNoCancel, text, defaultAnswer, icon});
    return NextAnswer(text, defaultAnswer);
}

QStringList TScriptedPrompter::NextFiles(const QString& title)
{
    if (FileAnswers.empty()) {
        ADD_FAILURE() << "unexpected file or folder picker: " << title.toStdString();
        return {};
    }
    QStringList files = FileAnswers.front();
    FileAnswers.pop_front();
    return files;
}

QStringList TScriptedPrompter::OpenFiles(const QString& title, const QString&, const QString&, bool)
{
    CallLog.push_back({TKind::OpenFiles, title});
    return NextFiles(title);
}

QString TScriptedPrompter::SaveFile(const QString& title, const QString&, const QString&)
{
    CallLog.push_back({TKind::SaveFile, title});
    const QStringList files = NextFiles(title);
    return files.isEmpty() ? QString() : files.first();
}

QString TScriptedPrompter::PickFolder(const QString& title, const QString& folder)
{
    CallLog.push_back({TKind::PickFolder, title});
    StartFolders.append(folder);
    const QStringList files = NextFiles(title);
    return files.isEmpty() ? QString() : files.first();
}

const QStringList& TScriptedPrompter::PickerFolders() const
{
    return StartFolders;
}
