#include "app/about_form.h"
#include "app/edit_track_name.h"
#include "app/library_versions.h"
#include "app/no_device_hint.h"
#include "core/settings.h"

#include "app_test_support.h"
#include "support/form_texts.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

TEST(EditTrackName, OkNeedsATitleButEnterConfirmsEvenAnEmptyOne)
{
    TTempHome home;
    TfrmEditTrackName dialog;
    EXPECT_EQ(dialog.windowTitle(), "Rename Track Title");
    ExpectEnglishFileCoversForm(&dialog);
    auto* edit = dialog.findChild<QLineEdit*>("eName");
    auto* ok = dialog.findChild<QPushButton*>("bOK");
    dialog.SetTitle("Old Title");
    TModalAnswer clear([&](QWidget*) {
        // The whole title is selected and the field has the focus, so typing replaces it.
        EXPECT_EQ(edit->selectedText(), "Old Title");
        EXPECT_EQ(dialog.focusWidget(), edit);
        EXPECT_TRUE(ok->isEnabled());
        edit->clear();
        EXPECT_FALSE(ok->isEnabled());
        QTest::keyClick(edit, Qt::Key_Return);
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.Title(), "");

    dialog.SetTitle("Keep");
    TModalAnswer escape([&](QWidget*) { QTest::keyClick(edit, Qt::Key_Escape); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
}

TEST(EditTrackName, ShowsItselfInTheChosenLanguage)
{
    TTempHome home;
    home.CopyDataFile("CLan_French.ini");
    AppSettings().Language = "French";
    TfrmEditTrackName dialog;
    TModalAnswer close([&](QWidget*) { dialog.reject(); });
    dialog.exec();
    EXPECT_EQ(dialog.windowTitle(), "Renommer le titre");
    EXPECT_EQ(dialog.findChild<QPushButton*>("bCancel")->text(), "&Annuler");
}

TEST(NoDeviceHint, ExplainsTheLinuxCausesAndOnlyCloses)
{
    TTempHome home;
    TfrmNoDeviceHint hint;
    EXPECT_EQ(hint.windowTitle(), "Velbrook");
    ExpectEnglishFileCoversForm(&hint);
    EXPECT_EQ(hint.findChild<QLabel*>("Label1")->text(),
              "The Software couldn't find CD devices.Please check the following problems:");
    EXPECT_TRUE(hint.findChild<QLabel*>("Label3")->text().contains("cdrom"));
    TModalAnswer close([&](QWidget*) { hint.findChild<QPushButton*>("bClose")->click(); });
    EXPECT_EQ(hint.exec(), QDialog::Accepted);
}

TEST(About, NamesTheVersionAndWhatTheProgramIsBuiltOn)
{
    TTempHome home;
    TfrmAbout about;
    ExpectEnglishFileCoversForm(&about);
    EXPECT_EQ(about.findChild<QLabel*>("lbVersion")->text(), "Version 3.1");
    const QString libraries = about.findChild<QPlainTextEdit*>("LibraryList")->toPlainText();
    EXPECT_TRUE(libraries.contains("Qt " + QString::fromLatin1(qVersion()))) << libraries.toStdString();
    EXPECT_TRUE(libraries.contains("libcdio 2.")) << libraries.toStdString();
    EXPECT_TRUE(libraries.contains("libudev ")) << libraries.toStdString();
    // lame is installed with the program's dependencies.
    EXPECT_TRUE(libraries.contains(QRegularExpression("LAME \\d+\\.\\d+"))) << libraries.toStdString();
}
