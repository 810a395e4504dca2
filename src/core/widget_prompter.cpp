#include "widget_prompter.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace {

QMessageBox::Icon BoxIcon(TPrompter::TIcon icon)
{
    switch (icon) {
    case TPrompter::TIcon::Information:
        return QMessageBox::Information;
    case TPrompter::TIcon::Warning:
        return QMessageBox::Warning;
    case TPrompter::TIcon::Error:
        return QMessageBox::Critical;
    case TPrompter::TIcon::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton Button(TPrompter::TAnswer answer)
{
    switch (answer) {
    case TPrompter::TAnswer::Yes:
        return QMessageBox::Yes;
    case TPrompter::TAnswer::No:
        return QMessageBox::No;
    case TPrompter::TAnswer::Cancel:
        return QMessageBox::Cancel;
    }
    return QMessageBox::NoButton;
}

TPrompter::TAnswer Answer(int button)
{
    if (button == QMessageBox::Yes)
        return TPrompter::TAnswer::Yes;
    if (button == QMessageBox::No)
        return TPrompter::TAnswer::No;
    return TPrompter::TAnswer::Cancel;
}

} // namespace

TWidgetPrompter::TWidgetPrompter(QWidget* owner) : Owner(owner)
{
}

namespace {

int ShowBox(QWidget* owner, QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons,
            QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, ProductName(), text, buttons, owner ? owner : QApplication::activeWindow());
    box.setDefaultButton(defaultButton);
    return box.exec();
}

} // namespace

void TWidgetPrompter::Information(const QString& text)
{
    ShowBox(Owner, QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok);
}

void TWidgetPrompter::Warning(const QString& text)
{
    ShowBox(Owner, QMessageBox::Warning, text, QMessageBox::Ok, QMessageBox::Ok);
}

void TWidgetPrompter::Error(const QString& text)
{
    ShowBox(Owner, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

void TWidgetPrompter::Message(const QString& text)
{
    ShowBox(Owner, QMessageBox::NoIcon, text, QMessageBox::Ok, QMessageBox::Ok);
}

TPrompter::TAnswer TWidgetPrompter::AskYesNo(const QString& text, TAnswer defaultAnswer, TIcon icon)
{
    const int button =
        ShowBox(Owner, BoxIcon(icon), text, QMessageBox::Yes | QMessageBox::No, Button(defaultAnswer));
    // Closing the box with Escape or the title bar answers No.
    return button == QMessageBox::Yes ? TAnswer::Yes : TAnswer::No;
}

TPrompter::TAnswer TWidgetPrompter::AskYesNoCancel(const QString& text, TAnswer defaultAnswer, TIcon icon)
{
    return Answer(ShowBox(Owner, BoxIcon(icon), text,
                          QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, Button(defaultAnswer)));
}

QStringList TWidgetPrompter::OpenFiles(const QString& title, const QString& folder, const QString& filter,
                                       bool multiple)
{
    if (multiple)
        return QFileDialog::getOpenFileNames(Owner, title, folder, filter);
    const QString file = QFileDialog::getOpenFileName(Owner, title, folder, filter);
    return file.isEmpty() ? QStringList{} : QStringList{file};
}

QString TWidgetPrompter::SaveFile(const QString& title, const QString& folder, const QString& filter)
{
    // The callers ask their own overwrite question, with their own texts.
    return QFileDialog::getSaveFileName(Owner, title, folder, filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

QString TWidgetPrompter::PickFolder(const QString& title, const QString& folder)
{
    return QFileDialog::getExistingDirectory(Owner, title, folder);
}
