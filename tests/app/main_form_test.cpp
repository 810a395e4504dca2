#include "app/drive_session.h"
#include "app/main_form.h"
#include "app/media_watcher.h"
#include "cd/cd_drive.h"
#include "codecs/vorbis_library.h"
#include "core/disc_info.h"
#include "core/ini_file.h"
#include "core/settings.h"

#include "app_test_support.h"
#include "support/form_texts.h"
#include "support/scripted_prompter.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// The main window as a user meets it: shown, its first showing done, with the
// boxes it would show recorded by a scripted prompter and every job it hands
// on collected.
class TShownForm {
public:
    explicit TShownForm(TScriptedPrompter& prompter) : Form(&prompter)
    {
        Form.SetJobRunner([this](const TJobRequest& job) { Jobs.push_back(job); });
        Form.show();
        QCoreApplication::processEvents();
    }
    ~TShownForm() { Form.close(); }

    QAction* Action(const char* name) { return Form.findChild<QAction*>(name); }
    void Trigger(const char* name)
    {
        QAction* action = Action(name);
        ASSERT_NE(action, nullptr) << name;
        action->trigger();
    }
    QTreeWidget* List() { return Form.findChild<QTreeWidget*>("ListView1"); }
    QStringList Titles()
    {
        QStringList titles;
        for (const TTrackRow& row : Form.TrackRows())
            titles.append(row.Title);
        return titles;
    }
    void Select(int row) { List()->setCurrentItem(List()->topLevelItem(row)); }
    TMediaWatcher* Watcher() { return Form.findChild<TMediaWatcher*>("MediaWatcher1"); }

    TMainForm Form;
    std::vector<TJobRequest> Jobs;
};

// Sector of a minute/second/frame address (00:02:00 is sector 0).
qint64 Sector(int minute, int second, int frame)
{
    return (minute * 60 + second) * 75 + frame - 150;
}

// Answers the title editor with text, pressing OK or Enter.
std::unique_ptr<TModalAnswer> TitleEditorAnswer(const QString& text, bool pressEnter = false)
{
    return std::make_unique<TModalAnswer>([text, pressEnter](QWidget* dialog) {
        EXPECT_EQ(dialog->objectName(), "frmEditTrackName");
        auto* edit = dialog->findChild<QLineEdit*>("eName");
        edit->setText(text);
        if (pressEnter)
            QTest::keyClick(edit, Qt::Key_Return);
        else
            dialog->findChild<QPushButton*>("bOK")->click();
    });
}

} // namespace

TEST(MainForm, OpensWithItsCaptionAndSizeAndTheEnglishFileCoversIt)
{
    TTempHome home;
    TMainForm form;
    EXPECT_EQ(form.objectName(), "MainForm");
    EXPECT_EQ(form.windowTitle(), "Velbrook 3.1");
    EXPECT_EQ(form.size(), QSize(551, 501));
    auto* list = form.findChild<QTreeWidget*>("ListView1");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->columnCount(), 4);
    EXPECT_EQ(list->header()->sectionSize(1), 230);
    ExpectEnglishFileCoversForm(&form);
}

TEST(MainForm, LoadsSettingsAtCreationAndSavesThemWhenClosed)
{
    TTempHome home;
    home.Write("options.ini", "[Mp3Options]\nBitRate=256\n[Mine]\nkeep=1\n");
    TMainForm form;
    EXPECT_EQ(AppSettings().Mp3BitRate, 256);
    AppSettings().OutputFormat = 2;
    form.close();
    TIniFile saved;
    ASSERT_TRUE(saved.Load(home.File("options.ini")));
    EXPECT_EQ(saved.ReadInteger("CommonOptions", "OutputFormat", -1), 2);
    EXPECT_EQ(saved.ReadInteger("Mp3Options", "BitRate", -1), 256);
    EXPECT_EQ(saved.ReadInteger("Mine", "keep", 0), 1);
}

TEST(MainForm, EveryCommandHasItsShortcutAndItsMenu)
{
    TTempHome home;
    TMainForm form;
    const std::vector<std::pair<const char*, const char*>> shortcuts{
        {"ActionExtract", "Ctrl+X"},   {"ActionWavToMp3", "Ctrl+W"},  {"ActionRecord", "Ctrl+R"},
        {"ActionOptionSet", "Ctrl+O"}, {"ActionSelectAll", "Ctrl+A"}, {"ActionNoSelect", "Ctrl+N"},
        {"aEditTrackName", "F2"},      {"aPlay", "Ctrl+P"},           {"miEjectCD", "Ctrl+E"},
        {"miCloseCD", "Ctrl+L"},       {"miVolumeControl", "Ctrl+V"}, {"miHelp", "F1"}};
    for (const auto& [name, keys] : shortcuts) {
        auto* action = form.findChild<QAction*>(name);
        ASSERT_NE(action, nullptr) << name;
        EXPECT_EQ(action->shortcut(), QKeySequence(keys)) << name;
    }
    QStringList fileMenu;
    for (QAction* item : form.findChild<QMenu*>("File1")->actions())
        fileMenu.append(item->isSeparator() ? "-" : item->objectName());
    EXPECT_EQ(fileMenu, (QStringList{"miWavToWav", "ActionWavToMp3", "miMp3ToWav", "miWavToOgg", "miWavToWma",
                                     "-", "miOpenOutput", "-", "miRefresh", "-", "miEjectCD", "miCloseCD",
                                     "-", "ActionExit"}));
    QStringList languages;
    for (QAction* item : form.findChild<QMenu*>("miLanguage")->actions()) {
        if (!item->isSeparator())
            languages.append(item->objectName());
    }
    EXPECT_EQ(languages.size(), 19);
    EXPECT_EQ(languages.front(), "miArabic");
    EXPECT_EQ(languages.back(), "miOther");
}

TEST(MainForm, StartupListsTheDemoDiscWithItsLengthsAndSizes)
{
    TAppTest test;
    test.UseDemoDisc();
    TScriptedPrompter prompter;
    TShownForm shown(prompter);
    TMainForm& form = shown.Form;
    EXPECT_NE(form.DriveHandle(), 0u);
    EXPECT_EQ(form.DriveName(), "Image   demo.cue");
    EXPECT_EQ(form.StatusText(), "Image   demo.cue");
    EXPECT_EQ(form.SavedStatusText, "Image   demo.cue");
    const std::vector<TTrackRow> rows = form.TrackRows();
    ASSERT_EQ(rows.size(), 4u);
    const QStringList lengths{"00:14", "00:09", "00:01", "00:21"};
    const QStringList sizes{"02.36", "01.51", "00.17", "03.53"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rows[i].Number, i + 1);
        EXPECT_EQ(shown.List()->topLevelItem(i)->text(0), QString::number(i + 1));
        EXPECT_TRUE(rows[i].Ticked);
        EXPECT_EQ(rows[i].Title, QStringLiteral("Track0%1").arg(i + 1));
        EXPECT_EQ(rows[i].LengthText, lengths[i]);
        EXPECT_EQ(rows[i].SizeText, sizes[i]);
    }
    EXPECT_TRUE(shown.Action("miEnglish")->isChecked());
    EXPECT_TRUE(shown.Action("ActionExtract")->isEnabled());
    EXPECT_TRUE(prompter.Calls().empty());
}

TEST(MainForm, LengthsAndSizesOfLongAndShortTracks)
{
    TAppTest test;
    test.UseSparseImage("long.cue",
                        {Sector(0, 2, 0), Sector(4, 35, 50), Sector(5, 34, 50), Sector(5, 39, 50)},
                        Sector(79, 39, 50));
    TScriptedPrompter prompter;
    TShownForm shown(prompter);
    const std::vector<TTrackRow> rows = shown.Form.TrackRows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].LengthText, "04:33");
    EXPECT_EQ(rows[0].SizeText, "45.93");
    EXPECT_EQ(rows[1].LengthText, "00:59");
    EXPECT_EQ(rows[1].SizeText, "09.93");
    EXPECT_EQ(rows[2].LengthText, "00:05");
    EXPECT_EQ(rows[2].SizeText, "00.84");
    EXPECT_EQ(rows[3].LengthText, "74:00");
    EXPECT_EQ(rows[3].SizeText, "746.93");
}

TEST(MainForm, WithoutADriveItSaysSoAndShowsTheHintOnce)
{
    if (MachineHasCdDrive())
        GTEST_SKIP() << "this machine has a CD drive";
    TAppTest test;
    test.Home.Write("options.ini", "[Options]\nLan=German\n");
    test.Home.CopyDataFile("CLan_German.ini");
    TScriptedPrompter prompter;
    int hints = 0;
    TModalAnswer hint([&hints](QWidget* dialog) {
        EXPECT_EQ(dialog->objectName(), "frmNoDeviceHint");
        EXPECT_EQ(dialog->windowTitle(), "Velbrook");
        EXPECT_TRUE(dialog->findChild<QLabel*>("Label1")->text().startsWith("Velbrook hat kein CD-Laufwerk"));
        ++hints;
        dialog->findChild<QPushButton*>("bClose")->click();
    });
    TShownForm shown(prompter);
    TMainForm& form = shown.Form;
    form.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    QTest::qWait(100);
    EXPECT_EQ(hints, 1);
    EXPECT_EQ(form.DriveHandle(), 0u);
    // Translated, and its language ticked, although start-up found no drive.
    EXPECT_EQ(form.StatusText(), QString::fromUtf8("Keine CD-Laufwerke gefunden!"));
    EXPECT_EQ(shown.Action("aEditTrackName")->text(), "&Titel umbenennen");
    for (QAction* item : form.findChild<QMenu*>("miLanguage")->actions())
        EXPECT_EQ(item->isChecked(), item->objectName() == "miGerman") << item->objectName().toStdString();
    EXPECT_TRUE(form.TrackRows().empty());

    // Activating the window again does not bring the hint back.
    QWidget other;
    other.show();
    other.activateWindow();
    QTest::qWait(50);
    form.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    QTest::qWait(100);
    EXPECT_EQ(hints, 1);
    EXPECT_FALSE(shown.Action("ActionExtract")->isEnabled());
}

// A FIFO in place of options.ini and a link to /dev/zero in place of
// cdinfo.dat: the window opens (a read would wait for a writer, or never end),
// says so once it is up, and replaces neither when it closes.
TEST(IniDecoding, TheWindowRefusesSettingsFilesThatAreNotFiles)
{
    TAppTest test;
    test.UseDemoDisc();
    const QString options = test.Home.File("options.ini");
    const QString cache = test.Home.File("cdinfo.dat");
    ASSERT_EQ(::mkfifo(QFile::encodeName(options).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/zero", cache));
    TScriptedPrompter prompter;
    {
        TShownForm shown(prompter);
        QTest::qWait(50);
        EXPECT_EQ(shown.Titles().size(), 4); // the disc is listed all the same
    }
    ASSERT_EQ(prompter.Calls().size(), 2u) << prompter.Messages().join("\n").toStdString();
    for (const auto& call : prompter.Calls())
        EXPECT_EQ(call.Kind, TScriptedPrompter::TKind::Warning);
    EXPECT_EQ(
        prompter.Messages(),
        (QStringList{
            options + " is not a regular file of at most 64 MB; Velbrook neither reads nor replaces it.",
            cache + " is not a regular file of at most 64 MB; Velbrook neither reads nor replaces it."}));
    EXPECT_FALSE(QFileInfo(options).isFile());
    EXPECT_EQ(QFileInfo(cache).symLinkTarget(), "/dev/zero");
}

TEST(MainForm, ACachedDiscShowsItsTitlesAndTooManyTitlesHurtNothing)
{
    TAppTest test;
    test.UseDemoDisc();
    const QString id = GetDiscId();
    ASSERT_FALSE(id.isEmpty());
    QByteArray cache = "[" + id.toUtf8() + "]\nArtist=Band\nTrackNumber=150\n";
    for (int n = 1; n <= 150; ++n)
        cache += QByteArray::number(n) + "=Song " + QByteArray::number(n) + "\n";
    cache += "[other]\n1=Elsewhere\n";
    test.Home.Write("cdinfo.dat", cache);
    {
        TScriptedPrompter prompter;
        TShownForm shown(prompter);
        EXPECT_EQ(shown.Titles(), (QStringList{"Song 1", "Song 2", "Song 3", "Song 4"}));
        EXPECT_EQ(DiscInfo().Artist, "Band");
    }
    TIniFile saved;
    ASSERT_TRUE(saved.Load(test.Home.File("cdinfo.dat")));
    EXPECT_EQ(saved.ReadString(id, "4", ""), "Song 4");
    EXPECT_EQ(saved.ReadString(id, "150", ""), "Song 150");
    EXPECT_EQ(saved.ReadString(id, "Artist", ""), "Band");
    EXPECT_EQ(saved.ReadString("other", "1", ""), "Elsewhere");
}

TEST(MainForm, RenamingATitleKeepsItAsTypedAndTheFileNameLeavesTheColonOut)
{
    TAppTest test;
    test.UseDemoDisc();
    QDir().mkpath(test.Home.File("Output"));
    TScriptedPrompter prompter;
    TShownForm shown(prompter);
    EXPECT_FALSE(shown.Action("aEditTrackName")->isEnabled());
    shown.Select(1);
    EXPECT_TRUE(shown.Action("aEditTrackName")->isEnabled());
    {
        const auto rename = TitleEditorAnswer("Intro: Part 1");
        shown.Trigger("aEditTrackName");
    }
    EXPECT_EQ(shown.Titles()[1], "Intro: Part 1");

    // Cancel changes nothing.
    {
        TModalAnswer cancel([](QWidget* dialog) { dialog->findChild<QPushButton*>("bCancel")->click(); });
        shown.Trigger("aEditTrackName");
    }
    EXPECT_EQ(shown.Titles()[1], "Intro: Part 1");

    // A double-click on a row renames it too, and Enter confirms an empty field.
    {
        QTreeWidget* list = shown.List();
        shown.Select(2);
        const auto rename = TitleEditorAnswer("", true);
        emit list->itemDoubleClicked(list->topLevelItem(2), 1);
    }
    EXPECT_EQ(shown.Titles()[2], "");

    shown.Trigger("ActionExtract");
    ASSERT_EQ(shown.Jobs.size(), 1u);
    EXPECT_EQ(shown.Jobs[0].Kind, 1);
    EXPECT_EQ(shown.Jobs[0].Drive, shown.Form.DriveHandle());
    EXPECT_EQ(shown.Jobs[0].WorkList, (QStringList{"01Track01", "02Intro Part 1", "03Track03", "04Track04"}));
    EXPECT_TRUE(prompter.Messages().isEmpty());
}

TEST(MainForm, SelectNoneTurnsExtractOffAndCtrlClickTicksARow)
{
    TAppTest test;
    test.UseDemoDisc();
    QDir().mkpath(test.Home.File("Output"));
    TScriptedPrompter prompter;
    TShownForm shown(prompter);
    // The shortcuts reach the window's commands while the list has the focus.
    shown.List()->setFocus();
    QTest::keyClick(shown.List(), Qt::Key_N, Qt::ControlModifier);
    for (const TTrackRow& row : shown.Form.TrackRows())
        EXPECT_FALSE(row.Ticked);
    EXPECT_FALSE(shown.Action("ActionExtract")->isEnabled());
    EXPECT_FALSE(shown.Form.findChild<QToolButton*>("tbExtract")->isEnabled());
    QTest::keyClick(&shown.Form, Qt::Key_X, Qt::ControlModifier);
    EXPECT_TRUE(shown.Jobs.empty());

    QTreeWidget* list = shown.List();
    const QRect fourth = list->visualItemRect(list->topLevelItem(3));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, fourth.center());
    EXPECT_TRUE(shown.Form.TrackRows()[3].Ticked);
    EXPECT_EQ(list->currentItem(), list->topLevelItem(3));
    EXPECT_TRUE(shown.Action("ActionExtract")->isEnabled());
    QTest::keyClick(&shown.Form, Qt::Key_X, Qt::ControlModifier);
    ASSERT_EQ(shown.Jobs.size(), 1u);
    EXPECT_EQ(shown.Jobs[0].WorkList, QStringList{"04Track04"});

    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, fourth.center());
    EXPECT_FALSE(shown.Form.TrackRows()[3].Ticked);
    QTest::keyClick(shown.List(), Qt::Key_A, Qt::ControlModifier);
    for (const TTrackRow& row : shown.Form.TrackRows())
        EXPECT_TRUE(row.Ticked);
    EXPECT_TRUE(shown.Form.findChild<QToolButton*>("tbExtract")->isEnabled());
}

TEST(MainForm, ExtractOffersToCreateAMissingOutputFolder)
{
    TAppTest test;
    test.UseDemoDisc();
    TScriptedPrompter prompter;
    TShownForm shown(prompter);
    const QString output = AppSettings().OutputFolder;
    ASSERT_FALSE(QFileInfo::exists(output));

    prompter.QueueAnswer(TPrompter::TAnswer::No);
    shown.Trigger("ActionExtract");
    EXPECT_TRUE(shown.Jobs.empty());
    EXPECT_FALSE(QFileInfo::exists(output));

    prompter.QueueAnswer(TPrompter::TAnswer::Yes);
    shown.Trigger("ActionExtract");
    EXPECT_TRUE(QFileInfo(output).isDir());
    ASSERT_EQ(shown.Jobs.size(), 1u);
    EXPECT_EQ(shown.Jobs[0].WorkList.size(), 4);
    ASSERT_EQ(prompter.Calls().size(), 2u);
    EXPECT_EQ(prompter.Calls()[0].Text,
              output + ",The output directory does not exist.\ncreates a new directory?");
    EXPECT_TRUE(prompter.ScriptUsedUp());
}

TEST(MainForm, ExtractRefusesAnExtractionLengthOfNoSeconds)
{
    TAppTest test;
    test.UseDemoDisc();
    QDir().mkpath(test.Home.File("Output"));
    test.Home.Write("options.ini", "[CommonOptions]\nEnableRipTime=1\nRipTime=0\n");
    TScriptedPrompter prompter;
    TShownForm shown(prompter);
    shown.Trigger("ActionExtract");
    EXPECT_TRUE(shown.Jobs.empty());
    EXPECT_EQ(prompter.Messages(),
              QStringList{"You select to extract 0 second, please change it on Options dialog."});
}

TEST(MainForm, AConversionWithTheOutputFolderMissingStartsNothing)
{
    TAppTest test;
    test.UseDemoDisc();
    TScriptedPrompter prompter;
    TShownForm shown(prompter);
    prompter.QueueFiles({test.Home.File("a.wav")});
    shown.Trigger("miWavToOgg");
    EXPECT_TRUE(shown.Jobs.empty());
    EXPECT_EQ(prompter.Messages(),
              QStringList{"The output directory does not exist.Please check the output directory setting."});
    ASSERT_EQ(prompter.Calls().size(), 2u);
    EXPECT_EQ(prompter.Calls()[0].Text, "WAV to OGG");

    QDir().mkpath(AppSettings().OutputFolder);
    prompter.QueueFiles({test.Home.File("a.mp3"), test.Home.File("b.mp3")});
    shown.Trigger("miMp3ToWav");
    ASSERT_EQ(shown.Jobs.size(), 1u);
    EXPECT_EQ(shown.Jobs[0].Kind, 3);
    EXPECT_EQ(shown.Jobs[0].Drive, 0u);
    EXPECT_EQ(shown.Jobs[0].WorkList, (QStringList{test.Home.File("a.mp3"), test.Home.File("b.mp3")}));
}

TEST(MainForm, TheLanguageMenuTranslatesTheWindowAndRefusesAMissingFile)
{
    TAppTest test;
    test.UseDemoDisc();
    TScriptedPrompter prompter;
    TShownForm shown(prompter);
    shown.Trigger("miItalian");
    EXPECT_EQ(prompter.Messages(), QStringList{test.Home.File("CLan_Italian.ini") + " can not be found."});
    EXPECT_EQ(AppSettings().Language, "English");
    EXPECT_TRUE(shown.Action("miEnglish")->isChecked());
    EXPECT_FALSE(shown.Action("miItalian")->isChecked());

    test.Home.CopyDataFile("CLan_German.ini");
    shown.Trigger("miGerman");
    EXPECT_EQ(AppSettings().Language, "German");
    EXPECT_TRUE(shown.Action("miGerman")->isChecked());
    EXPECT_FALSE(shown.Action("miEnglish")->isChecked());
    EXPECT_EQ(shown.Form.findChild<QMenu*>("File1")->title(), "&Datei");
    EXPECT_EQ(shown.List()->headerItem()->text(1), "Titel");
    EXPECT_EQ(shown.Form.findChild<QToolButton*>("tbExtract")->text(), "Auslesen");
    // The status text survives the translation of the window.
    EXPECT_EQ(shown.Form.StatusText(), "Image   demo.cue");
    shown.Trigger("miRefresh");
    ASSERT_TRUE(QFile::rename(test.Home.File("demo.bin"), test.Home.File("demo.away")));
    shown.Trigger("miRefresh");
    EXPECT_EQ(shown.Form.StatusText(), QString::fromUtf8("Im CD-Laufwerk wurde keine Audio-CD gefunden."));

    // English also needs its file, and then restores every text.
    shown.Trigger("miEnglish");
    EXPECT_EQ(AppSettings().Language, "German");
    test.Home.CopyDataFile("CLan_English.ini");
    shown.Trigger("miEnglish");
    EXPECT_EQ(AppSettings().Language, "English");
    EXPECT_EQ(shown.Form.findChild<QMenu*>("File1")->title(), "&File");
    EXPECT_EQ(shown.Form.StatusText(), "Can not find audio CD in your CD device.");
    EXPECT_EQ(shown.Form.findChild<QToolButton*>("tbExtract")->text(), "Extract");
    EXPECT_EQ(shown.List()->headerItem()->text(1), "Title");
}

TEST(MainForm, TitlesAndSettingsSurviveARestart)
{
    TAppTest test;
    test.UseDemoDisc();
    test.Home.CopyDataFile("CLan_German.ini");
    {
        TScriptedPrompter prompter;
        TShownForm shown(prompter);
        shown.Select(0);
        const auto rename = TitleEditorAnswer("First Song");
        shown.Trigger("aEditTrackName");
        shown.Trigger("miGerman");
        AppSettings().Mp3BitRate = 192;
    }
    AppSettings() = TAppSettings{};
    DiscInfo() = TDiscInfo{};
    TScriptedPrompter prompter;
    TShownForm shown(prompter);
    EXPECT_EQ(shown.Titles(), (QStringList{"First Song", "Track02", "Track03", "Track04"}));
    EXPECT_EQ(AppSettings().Mp3BitRate, 192);
    EXPECT_EQ(AppSettings().Language, "German");
    EXPECT_TRUE(shown.Action("miGerman")->isChecked());
    EXPECT_EQ(shown.Form.findChild<QMenu*>("Edit1")->title(), "&Bearbeiten");
}

TEST(MainForm, NumbersOutOfRangeInTheOptionsFileAreKept)
{
    TAppTest test;
    test.UseDemoDisc();
    const QByteArray options =
        "[CommonOptions]\nOutputFormat=9\nNormalizePercent=500\nRipTime=-5\n"
        "[Mp3Options]\nBitRate=-1\nMaxBitRate=99999\nMpegQuality=7\nVBRQuality=40\n"
        "StereoMode=12\n[OggOptions]\nCompressPosition=3\nMaxBitRate=77\nNomalBitRate=-2\nMinBitRate=15\n"
        "[WMAOptions]\nBitRate=99\n[CDOptions]\nIndex=42\n";
    test.Home.Write("options.ini", options);
    {
        TScriptedPrompter prompter;
        TShownForm shown(prompter);
        EXPECT_EQ(shown.Form.TrackRows().size(), 4u);
        EXPECT_NE(shown.Form.DriveHandle(), 0u);
    }
    TIniFile saved;
    ASSERT_TRUE(saved.Load(test.Home.File("options.ini")));
    EXPECT_EQ(saved.ReadInteger("CommonOptions", "OutputFormat", 0), 9);
    EXPECT_EQ(saved.ReadInteger("CommonOptions", "NormalizePercent", 0), 500);
    EXPECT_EQ(saved.ReadInteger("CommonOptions", "RipTime", 0), -5);
    EXPECT_EQ(saved.ReadInteger("Mp3Options", "MaxBitRate", 0), 99999);
    EXPECT_EQ(saved.ReadInteger("Mp3Options", "StereoMode", 0), 12);
    EXPECT_EQ(saved.ReadInteger("OggOptions", "CompressPosition", 0), 30);
    EXPECT_EQ(saved.ReadInteger("OggOptions", "NomalBitRate", 0), -2);
    EXPECT_EQ(saved.ReadInteger("OggOptions", "MinBitRate", 0), 15);
    EXPECT_EQ(saved.ReadInteger("WMAOptions", "BitRate", 0), 99);
    EXPECT_EQ(saved.ReadInteger("CDOptions", "Index", 0), 42);
}

TEST(MainForm, ALanguageFileWithUnknownControlsTranslatesTheKnownOnes)
{
    TAppTest test;
    test.UseDemoDisc();
    test.Home.Write("options.ini", "[Options]\nLan=Odd\n");
    test.Home.Write("CLan_Odd.ini",
                    "[MainForm]\nNoSuchButton=x\ntbExit=Weg\nListView1_Column9=x\n"
                    "StatusBar1_Panel7=x\nbroken line\n[Menu_MainForm]\nmiNothing=x\nFile1=&Akte\n"
                    "[frmNothing]\nx=y\n[ResourceString]\nRES_Unknown=x\n");
    TScriptedPrompter prompter;
    TShownForm shown(prompter);
    EXPECT_EQ(shown.Form.findChild<QToolButton*>("tbExit")->text(), "Weg");
    EXPECT_EQ(shown.Form.findChild<QMenu*>("File1")->title(), "&Akte");
    EXPECT_EQ(shown.Form.findChild<QToolButton*>("tbFolder")->text(), "Folder");
    EXPECT_EQ(shown.List()->columnCount(), 4);
    EXPECT_TRUE(shown.Action("miOther")->isChecked() == false);
    EXPECT_EQ(shown.Form.TrackRows().size(), 4u);
}

TEST(MainForm, AnEjectedDiscEmptiesTheListAndKeepsItsTitles)
{
    TAppTest test;
    const QString cue = test.UseDemoDisc();
    TScriptedPrompter prompter;
    TShownForm shown(prompter);
    ASSERT_NE(shown.Watcher(), nullptr);
    EXPECT_EQ(shown.Watcher()->Source(), cue);
    shown.Select(0);
    {
        const auto rename = TitleEditorAnswer("Typed Before Eject");
        shown.Trigger("aEditTrackName");
    }

    ASSERT_TRUE(QFile::rename(test.Home.File("demo.bin"), test.Home.File("demo.away")));
    shown.Watcher()->Poll();
    EXPECT_TRUE(shown.Form.TrackRows().empty());
    EXPECT_EQ(shown.Form.StatusText(), "Can not find audio CD in your CD device.");
    EXPECT_FALSE(shown.Action("aQueryCDDB")->isEnabled());

    ASSERT_TRUE(QFile::rename(test.Home.File("demo.away"), test.Home.File("demo.bin")));
    shown.Watcher()->Poll();
    EXPECT_EQ(shown.Titles(), (QStringList{"Typed Before Eject", "Track02", "Track03", "Track04"}));
    EXPECT_EQ(shown.Form.StatusText(), "Image   demo.cue");

    // Another disc in its place is read as that disc.
    TImageSpec other;
    other.Tracks = {{75 * 3, 0, false, 1, 2}, {75 * 4, 0, false, 1, 1}};
    ASSERT_TRUE(WriteDiscImage(cue, other).isEmpty());
    shown.Watcher()->Poll();
    EXPECT_EQ(shown.Titles(), (QStringList{"Track01", "Track02"}));
    EXPECT_NE(shown.Form.DriveHandle(), 0u);
}

TEST(MainForm, AnEmptyListNeverOverwritesTheCachedTitles)
{
    TAppTest test;
    test.UseDemoDisc();
    const QString id = GetDiscId();
    const QByteArray cache =
        "[" + id.toUtf8() + "]\nTrackNumber=4\n1=Kept One\n2=Kept Two\n3=Three\n4=Four\n";
    test.Home.Write("cdinfo.dat", cache);
    qputenv("VELBROOK_FAILING_CD_CALLS", "ReadTOC");
    {
        TScriptedPrompter prompter;
        TShownForm shown(prompter);
        EXPECT_TRUE(shown.Form.TrackRows().empty());
        EXPECT_EQ(shown.Form.StatusText(), "Not get CD device information!");
    }
    EXPECT_EQ(test.Home.Read("cdinfo.dat"), cache);
}

TEST(MainForm, RecordOpensTheRecorderFromTheMenuAndTheToolBar)
{
    TAppTest test;
    test.UseDemoDisc();
    TScriptedPrompter prompter;
    TShownForm shown(prompter);
    for (const bool toolBar : {false, true}) {
        QString opened;
        TModalAnswer answer([&](QWidget* window) {
            opened = window->objectName();
            window->close();
        });
        if (toolBar)
            shown.Form.findChild<QToolButton*>("tbRecord")->click();
        else
            shown.Trigger("ActionRecord");
        EXPECT_EQ(opened, "frmRecord");
    }
    EXPECT_TRUE(prompter.Calls().empty());
}

// The player cannot open without the Ogg Vorbis libraries; the status bar
// says which one is missing instead of nothing happening.
TEST(MainForm, TheOggPlayerSaysWhichLibraryIsMissing)
{
    TAppTest test;
    test.UseDemoDisc();
    TScriptedPrompter prompter;
    TShownForm shown(prompter);
    qputenv("VELBROOK_MISSING_LIBRARIES", "libvorbisfile.so.3");
    {
        const TVorbisLibraries vorbis;
        qunsetenv("VELBROOK_MISSING_LIBRARIES");
        shown.Trigger("miOggPlayer");
    }
    EXPECT_EQ(shown.Form.StatusText(), "libvorbisfile library could not be loaded.");
    EXPECT_TRUE(prompter.Calls().empty());
}

// WAV to WAV opens its window over the main window, in the chosen language,
// with a fixed border at its own size.
TEST(MainForm, WavToWavShowsTheResamplerInTheChosenLanguage)
{
    TAppTest test;
    test.UseDemoDisc();
    test.Home.CopyDataFile("CLan_Spanish.ini");
    test.Home.Write("options.ini", "[Options]\nLan=Spanish\n");
    TScriptedPrompter prompter;
    TShownForm shown(prompter);
    TModalAnswer look([&](QWidget* window) {
        EXPECT_EQ(window->objectName(), "frmResample");
        EXPECT_EQ(window->parentWidget(), &shown.Form);
        EXPECT_EQ(window->windowTitle(), "WAV a WAV");
        EXPECT_EQ(window->findChild<QPushButton*>("bConvert")->text(), "Convertir");
        EXPECT_GE(window->width(), 491);
        EXPECT_GE(window->height(), 230);
        EXPECT_EQ(window->minimumSize(), window->maximumSize());
        window->findChild<QPushButton*>("Button4")->click();
    });
    shown.Trigger("miWavToWav");
    EXPECT_TRUE(look.Answered());
    EXPECT_TRUE(prompter.Calls().empty());
}

TEST(MainForm, OpeningAMissingOutputFolderIsAnError)
{
    TAppTest test;
    test.UseDemoDisc();
    TScriptedPrompter prompter;
    TShownForm shown(prompter);
    shown.Form.findChild<QToolButton*>("tbFolder")->click();
    ASSERT_EQ(prompter.Calls().size(), 1u);
    EXPECT_EQ(prompter.Calls()[0].Kind, TScriptedPrompter::TKind::Error);
    EXPECT_EQ(prompter.Calls()[0].Text, AppSettings().OutputFolder + ",The output directory does not exist.");
}

TEST(MainForm, EjectAndCloseLeaveAnImageAsItIs)
{
    TAppTest test;
    test.UseDemoDisc();
    TScriptedPrompter prompter;
    TShownForm shown(prompter);
    shown.Trigger("miEjectCD");
    shown.Trigger("miCloseCD");
    EXPECT_EQ(shown.Form.TrackRows().size(), 4u);
    EXPECT_TRUE(prompter.Calls().empty());
}

// When the drive library refuses a handle, the open retry frees one the
// process lost track of, never the one another part of the program is using.
TEST(RealDiscToc, TheOpenRetryClosesOnlyHandlesNothingHolds)
{
    TAppTest test;
    test.UseDemoDisc();
    TStatusText status;
    TDriveSession inUse;
    inUse.DriveHandle = inUse.OpenDrive(0, &status);
    ASSERT_NE(inUse.DriveHandle, 0u);
    // The rest of the handle table: handles opened and forgotten.
    CDDriveList list{};
    list.MaxDrives = CDMaxDrives;
    ASSERT_EQ(GetCDList(&list), 1);
    CDHandleRequest request{sizeof(CDHandleRequest), 1, list.Drives[0].HostAdapter, list.Drives[0].Target,
                            list.Drives[0].Lun,      {}};
    std::vector<CDHandle> forgotten;
    for (CDHandle handle = GetCDHandle(&request); handle != 0; handle = GetCDHandle(&request))
        forgotten.push_back(handle);
    ASSERT_EQ(GetAspiLibError(), CDERR_TOO_MANY_HANDLES);

    TDriveSession second;
    second.DriveHandle = second.OpenDrive(0, &status);
    EXPECT_NE(second.DriveHandle, 0u);
    EXPECT_NE(second.DriveHandle, inUse.DriveHandle);
    CDTOC toc{};
    EXPECT_EQ(ReadTOC(inUse.DriveHandle, &toc), 1) << "the handle in use was closed";
    // One forgotten handle made room; the others are still open.
    int stillOpen = 0;
    for (const CDHandle handle : forgotten) {
        if (handle != second.DriveHandle && !CDHandleSource(handle).isEmpty()) {
            ++stillOpen;
            CloseCDHandle(handle);
        }
    }
    EXPECT_EQ(stillOpen, int(forgotten.size()) - 1);
}

TEST(MainForm, ID3TagEditOpensTheTagEditorOverTheWindow)
{
    TAppTest test;
    test.UseDemoDisc();
    const QByteArray audio(1000, '\x55');
    test.Home.Write("song.mp3", audio);
    TScriptedPrompter prompter;
    TShownForm shown(prompter);
    const QString status = shown.Form.StatusText();
    prompter.QueuePath(test.Home.File("song.mp3"));
    TModalAnswer edit([&](QWidget* window) {
        EXPECT_EQ(window->objectName(), "frmID3Edit");
        EXPECT_EQ(window->parentWidget(), &shown.Form);
        window->findChild<QPushButton*>("bLoadTag")->click();
        window->findChild<QLineEdit*>("ID3title")->setText("Edited");
        window->findChild<QPushButton*>("bSaveTag")->click();
        window->findChild<QPushButton*>("bClose")->click();
    });
    shown.Trigger("aID3Edit");
    EXPECT_TRUE(edit.Answered());
    const QByteArray bytes = test.Home.Read("song.mp3");
    ASSERT_EQ(bytes.size(), audio.size() + 128);
    EXPECT_EQ(bytes.left(audio.size()), audio);
    EXPECT_EQ(bytes.mid(audio.size(), 9), "TAGEdited");
    EXPECT_EQ(shown.Form.StatusText(), status);
    EXPECT_TRUE(prompter.Messages().isEmpty());
}
