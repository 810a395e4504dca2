#include "app/main_form.h"
#include "core/qt_language.h"
#include "core/settings.h"

#include "app_test_support.h"
#include "support/scripted_prompter.h"

#include <QAction>
#include <QApplication>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class TShownMainForm {
public:
    explicit TShownMainForm(TScriptedPrompter& prompter) : Form(&prompter)
    {
        Form.show();
        QCoreApplication::processEvents();
    }
    ~TShownMainForm() { Form.close(); }

    void Choose(const char* item)
    {
        QAction* action = Form.findChild<QAction*>(item);
        ASSERT_NE(action, nullptr) << item;
        action->trigger();
    }
    QString Menu(const char* name) const { return Form.findChild<QMenu*>(name)->title(); }
    QString ExtractShortcut() const
    {
        return Form.findChild<QAction*>("ActionExtract")->shortcut().toString(QKeySequence::NativeText);
    }

    TMainForm Form;
};

// The texts Qt gives the buttons of a question box.
QString YesButtonText()
{
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    return box.button(QMessageBox::Yes)->text();
}

// A small Arabic language file: Arabic has no shipped file yet, and the menu
// takes only a language whose file exists.
const char* const ArabicFile = "[Menu_MainForm]\nFile1=&\xd9\x85\xd9\x84\xd9\x81\n";

} // namespace

// A wrong locale code ("cz", "dk", "se") would load no translation and keep
// Qt's texts in English; Debian ships none for three of the menu's languages.
TEST(InterfaceLanguage, EveryMenuLanguageHasTheQtLocaleOfItsName)
{
    TAppTest test;
    TScriptedPrompter prompter;
    TMainForm form(&prompter);
    const QStringList withoutQtTranslation{"Greek", "Slovenian", "Swedish"};
    int languages = 0;
    for (QAction* item : form.findChild<QMenu*>("miLanguage")->actions()) {
        const QString language = item->objectName().mid(2);
        if (item->isSeparator() || language == "English" || language == "Other")
            continue;
        ++languages;
        const QString locale = QtLocaleName(language);
        const QString expected = language == "Netherlands" ? QStringLiteral("Dutch") : language;
        EXPECT_EQ(QLocale::languageToString(QLocale(locale).language()), expected) << locale.toStdString();
        EXPECT_EQ(ApplyQtLanguage(language), !withoutQtTranslation.contains(language))
            << language.toStdString();
        EXPECT_EQ(QApplication::layoutDirection(), language == "Arabic" ? Qt::RightToLeft : Qt::LeftToRight)
            << language.toStdString();
    }
    EXPECT_EQ(languages, 17);
    EXPECT_FALSE(ApplyQtLanguage("English"));
    EXPECT_EQ(QtLocaleName("english"), "");
    EXPECT_EQ(QtLocaleName("Klingon"), "");
}

TEST(InterfaceLanguage, QtTextsAndTheDirectionFollowTheChosenLanguage)
{
    TAppTest test;
    test.UseDemoDisc();
    test.Home.Write("CLan_Arabic.ini", ArabicFile);
    test.Home.CopyDataFile("CLan_German.ini");
    test.Home.CopyDataFile("CLan_English.ini");
    TScriptedPrompter prompter;
    TShownMainForm shown(prompter);
    EXPECT_EQ(shown.ExtractShortcut(), "Ctrl+X");
    EXPECT_EQ(YesButtonText(), "&Yes");

    shown.Choose("miArabic");
    EXPECT_EQ(shown.Menu("File1"), QString::fromUtf8("&\xd9\x85\xd9\x84\xd9\x81"));
    EXPECT_EQ(shown.Form.layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(shown.Form.findChild<QMenu*>("File1")->layoutDirection(), Qt::RightToLeft);

    shown.Choose("miGerman");
    EXPECT_EQ(shown.Form.layoutDirection(), Qt::LeftToRight);
    EXPECT_EQ(shown.ExtractShortcut(), "Strg+X");
    EXPECT_EQ(YesButtonText(), "&Ja");

    shown.Choose("miArabic");
    EXPECT_EQ(shown.Form.layoutDirection(), Qt::RightToLeft);
    shown.Choose("miEnglish");
    EXPECT_EQ(shown.Form.layoutDirection(), Qt::LeftToRight);
    EXPECT_EQ(shown.ExtractShortcut(), "Ctrl+X");
    EXPECT_EQ(YesButtonText(), "&Yes");
    EXPECT_TRUE(prompter.Messages().isEmpty()) << prompter.Messages().join('\n').toStdString();
}

// The language chosen last time is in force from the start, drive or none.
TEST(InterfaceLanguage, StartsRightToLeftInArabicAlsoWithoutADrive)
{
    if (MachineHasCdDrive())
        GTEST_SKIP() << "this machine has a CD drive";
    TAppTest test;
    test.Home.Write("CLan_Arabic.ini", ArabicFile);
    test.Home.Write("options.ini", "[Options]\nLan=Arabic\n");
    TScriptedPrompter prompter;
    TModalAnswer hint([](QWidget* dialog) {
        // The drive hint opens over a window laid out right to left, and so is it.
        EXPECT_EQ(dialog->layoutDirection(), Qt::RightToLeft);
        dialog->close();
    });
    TShownMainForm shown(prompter);
    shown.Form.activateWindow();
    QTest::qWait(100);
    EXPECT_EQ(shown.Form.layoutDirection(), Qt::RightToLeft);
    EXPECT_TRUE(shown.Form.findChild<QAction*>("miArabic")->isChecked());
}

// "Other" is the user's own translation, kept in the program folder.
TEST(InterfaceLanguage, OtherTranslatesWithTheUsersFileInTheProgramFolder)
{
    TAppTest test;
    test.UseDemoDisc();
    TScriptedPrompter prompter;
    TShownMainForm shown(prompter);
    shown.Choose("miOther");
    EXPECT_EQ(prompter.Messages(), QStringList{test.Home.File("CLan_Other.ini") + " can not be found."});
    EXPECT_EQ(AppSettings().Language, "English");

    test.Home.Write("CLan_Other.ini", "[Menu_MainForm]\nFile1=&Fil\nEdit1=&Redigera\n[ResourceString]\n"
                                      "RES_Check_CDRom=Ingen ljud-cd i enheten.\n");
    shown.Choose("miOther");
    EXPECT_EQ(AppSettings().Language, "Other");
    EXPECT_TRUE(shown.Form.findChild<QAction*>("miOther")->isChecked());
    EXPECT_EQ(shown.Menu("File1"), "&Fil");
    EXPECT_EQ(shown.Menu("Edit1"), "&Redigera");
    // Texts the file lacks stay as they were.
    EXPECT_EQ(shown.Menu("Help1"), "&Help");
    EXPECT_EQ(shown.Form.layoutDirection(), LanguageDirection("Other"));
}
