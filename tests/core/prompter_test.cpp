#include "core/widget_prompter.h"

#include "support/scripted_prompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Presses Enter in the first message box that opens and records what it showed.
struct TBoxWatcher {
    QString Caption;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QString DefaultButton;

    void Arm()
    {
        QTimer::singleShot(50, [this] { Look(); });
    }

    void Look()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            Arm();
            return;
        }
        Caption = box->windowTitle();
        Text = box->text();
        Icon = box->icon();
        if (QPushButton* button = box->defaultButton()) {
            DefaultButton = button->text();
            button->click();
        }
    }
};

} // namespace

TEST(WidgetPrompter, QuestionsAreCaptionedAndEnterPressesTheDefaultButton)
{
    TWidgetPrompter prompter;
    TBoxWatcher watcher;
    watcher.Arm();
    const auto answer = prompter.AskYesNo("/out/song.mp3 has existed,overite it?", TPrompter::TAnswer::No,
                                          TPrompter::TIcon::Information);
    EXPECT_EQ(answer, TPrompter::TAnswer::No);
    EXPECT_EQ(watcher.Caption, "Velbrook");
    EXPECT_EQ(watcher.Text, "/out/song.mp3 has existed,overite it?");
    EXPECT_EQ(watcher.Icon, QMessageBox::Information);

    TBoxWatcher second;
    second.Arm();
    EXPECT_EQ(prompter.AskYesNoCancel("Save?", TPrompter::TAnswer::Cancel, TPrompter::TIcon::Question),
              TPrompter::TAnswer::Cancel);
    EXPECT_EQ(second.Icon, QMessageBox::Question);
}

TEST(WidgetPrompter, ErrorBoxesShowTheErrorIcon)
{
    TWidgetPrompter prompter;
    TBoxWatcher watcher;
    watcher.Arm();
    prompter.Error("Error while reading CD information!");
    EXPECT_EQ(watcher.Icon, QMessageBox::Critical);
    EXPECT_EQ(watcher.Caption, "Velbrook");
}

TEST(ScriptedPrompter, AnswersFromItsScriptAndRecordsEveryCall)
{
    TScriptedPrompter prompter;
    prompter.QueueAnswer(TPrompter::TAnswer::No);
    prompter.QueuePath("/tmp/a.wav");
    prompter.Information("first");
    EXPECT_EQ(prompter.AskYesNo("question?", TPrompter::TAnswer::Yes, TPrompter::TIcon::Information),
              TPrompter::TAnswer::No);
    EXPECT_EQ(prompter.SaveFile("Save", "/tmp", "*.wav"), "/tmp/a.wav");
    prompter.Error("second");
    EXPECT_TRUE(prompter.ScriptUsedUp());
    EXPECT_EQ(prompter.Messages(), (QStringList{"first", "second"}));
    ASSERT_EQ(prompter.Calls().size(), 4u);
    EXPECT_EQ(prompter.Calls()[1].Kind, TScriptedPrompter::TKind::YesNo);
}
