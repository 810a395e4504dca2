#pragma once

#include "prompter.h"

#include <QPointer>

class QWidget;

// Real message boxes and file dialogs, owned by a window.
class TWidgetPrompter final : public TPrompter {
public:
    explicit TWidgetPrompter(QWidget* owner = nullptr);

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
    QPointer<QWidget> Owner;
};
