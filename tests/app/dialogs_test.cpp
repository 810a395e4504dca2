#include "app/about_form.h"
#include "app/edit_track_name.h"
#include "app/library_versions.h"
#include "app/no_device_hint.h"
#include "codecs/vorbis_library.h"
#include "core/settings.h"

#include "app_test_support.h"
#include "support/form_texts.h"

#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
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
    // The WMA encoder is looked for on PATH when it is not beside the program.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFileInfo(VELBROOK_WMAENC).absolutePath().toUtf8() + ":" + path);
    qputenv("VELBROOK_MISSING_LIBRARIES", "libvorbisfile.so.3");
    QStringList lines;
    {
        const TVorbisLibraries vorbis;
        TfrmAbout about;
        ExpectEnglishFileCoversForm(&about);
        EXPECT_EQ(about.findChild<QLabel*>("lbVersion")->text(), "Version 3.1");
        lines = about.findChild<QPlainTextEdit*>("LibraryList")->toPlainText().split('\n');
    }
    qputenv("PATH", path);
    qunsetenv("VELBROOK_MISSING_LIBRARIES");
    const QString version = "\\d+\\.\\d+(\\.\\d+)?";
    const QStringList expected{
        "Qt " + QRegularExpression::escape(QString::fromLatin1(qVersion())),
        "libcdio 2\\.\\d+\\.\\d+",
        "libudev \\d+",
        "SDL2 2\\.\\d+\\.\\d+",
        "FFmpeg \\S+",
        "libavformat " + version,
        "libavcodec " + version,
        "libavutil " + version,
        "libswresample " + version,
        "libogg \\(libogg\\.so\\.0[.\\d]*\\)",
        "libvorbis 1\\.\\d+\\.\\d+ \\(libvorbis\\.so\\.0[.\\d]*\\)",
        "libvorbisenc \\(libvorbisenc\\.so\\.2[.\\d]*\\)",
        "libvorbisfile \\(not loaded\\)",
        // lame is installed with the program's dependencies.
        "LAME " + version,
        "velbrook-wmaenc 3\\.1 \\(FFmpeg .+\\)",
    };
    ASSERT_EQ(lines.size(), expected.size()) << lines.join('\n').toStdString();
    for (qsizetype i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(QRegularExpression("^" + expected[i] + "$").match(lines[i]).hasMatch())
            << lines[i].toStdString();
}
