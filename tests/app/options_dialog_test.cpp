#include "app/main_form.h"
#include "app/media_watcher.h"
#include "app/option_set_form.h"
#include "cd/cd_drive.h"
#include "codecs/genre_list.h"
#include "core/disc_info.h"
#include "core/ini_file.h"
#include "core/language.h"
#include "core/settings.h"
#include "core/translate_form.h"

#include "app_test_support.h"
#include "support/form_texts.h"
#include "support/scripted_prompter.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <functional>
#include <gtest/gtest.h>

namespace {

// What a control shows, as one text: a box "1" or "0", a list its entry.
QString Shown(QWidget* control)
{
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        return edit->text();
    if (auto* combo = qobject_cast<QComboBox*>(control))
        return combo->currentText();
    if (auto* spin = qobject_cast<QSpinBox*>(control))
        return QString::number(spin->value());
    if (auto* slider = qobject_cast<QSlider*>(control))
        return QString::number(slider->value());
    if (auto* box = qobject_cast<QAbstractButton*>(control))
        return box->isChecked() ? "1" : "0";
    return "?";
}

// A program folder with an output folder, the dialog shown (not modally) and its
// boxes going to a scripted prompter.
class OptionsDialog : public ::testing::Test {
protected:
    OptionsDialog()
    {
        QDir().mkpath(App.Home.File("Output"));
        AppSettings().OutputFolder = App.Home.File("Output");
    }

    void Open(int openDrive = -1)
    {
        Dialog = std::make_unique<TOptionSetForm>(Prompter, openDrive);
        Dialog->show();
    }
    template <typename T = QWidget> T* Get(const char* name)
    {
        T* control = Dialog->findChild<T*>(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    void Ok() { Get<QPushButton>("btOk")->click(); }
    QTabWidget* Pages() { return Get<QTabWidget>("PageControl1"); }
    void ShowPage(const char* name) { Pages()->setCurrentWidget(Get(name)); }
    QByteArray Saved()
    {
        EXPECT_TRUE(SaveSettings());
        return App.Home.Read("options.ini");
    }
    // A value off its default in every field the dialog shows.
    void SetNonDefaults()
    {
        QDir().mkpath(App.Home.File("Music"));
        TAppSettings& s = AppSettings();
        s.OutputFolder = App.Home.File("Music");
        s.OutputFormat = 2;
        s.KeepWav = true;
        s.Normalize = true;
        s.NormalizePercent = 80;
        s.EnableRipTime = true;
        s.RipTime = 45;
        s.Mp3Vbr = s.Mp3NoVbrTag = true;
        s.Mp3BitRate = 100;
        s.Mp3MaxBitRate = 256;
        s.Mp3Quality = 2;
        s.Mp3VbrQuality = 7;
        s.Mp3StereoMode = 3;
        s.OggUseQuality = false;
        s.OggQuality = 75;
        s.OggNominalBitRate = 8;
        s.OggMaxBitRate = 14;
        s.OggMinBitRate = 3;
        s.WmaSetting = 20;
        s.UseCddb = s.UseId3 = s.RecordToMp3 = true;
        s.CddbServer = "cddb.example.org";
        TDiscInfo& d = DiscInfo();
        d.Artist = "The Quite Remarkably Long-Named Orchestra";
        d.Album = "Album";
        d.Year = "1999";
        d.Genre = 30;
        d.Comment = "Comment";
    }

    TAppTest App;
    TScriptedPrompter Prompter;
    std::unique_ptr<TOptionSetForm> Dialog;
};

} // namespace

TEST_F(OptionsDialog, ShowsEverySettingAndOkStoresThemUnchanged)
{
    SetNonDefaults();
    const QByteArray before = Saved();
    const TDiscInfo disc = DiscInfo();
    ExpectEnglishFileCoversForm(std::make_unique<TOptionSetForm>(Prompter).get());
    Open();
    EXPECT_EQ(Dialog->windowTitle(), "Options");
    const std::vector<std::pair<const char*, QString>> shown{
        {"editOutputDir", App.Home.File("Music")},
        {"ckbKeepWav", "0"},
        {"cbOutputFormat", "OGG file(*.OGG)"},
        {"ckNormalize", "1"},
        {"SpinEdit1", "80"},
        {"cbRipTime", "1"},
        {"eRipTime", "45"},
        {"ckbSelectVBR", "1"},
        {"ckbVBRHead", "1"},
        {"cbBitRate", "100 kbit/s"},
        {"cbMaxBitRate", "256 kbit/s"},
        {"cbVBRQuality", "7"},
        {"cbMpegQuality", "Slower encode/Higher quality"},
        {"cbStereoMode", "Dual Channels"},
        {"cbUseCompress", "0"},
        {"tbCompression", "75"},
        {"cbOggNomBit", "128 kbit/s"},
        {"cbOggMaxBit", "320 kbit/s"},
        {"cbOggMinBit", " 56 kbit/s"},
        {"cbWMABitrate", "22.050 kHz,  20 kbit/s, Mono"},
        {"cbUseID3", "1"},
        {"ID3artist", disc.Artist},
        {"ID3album", "Album"},
        {"ID3year", "1999"},
        {"ID3genre", GenreNames()[30]},
        {"ID3comment", "Comment"},
        {"ckbCDDb", "1"}};
    for (const auto& [name, text] : shown)
        EXPECT_EQ(Shown(Get(name)), text) << name;
    EXPECT_FALSE(Get("ckbCDDb")->isVisible());
    Ok();
    EXPECT_EQ(Dialog->result(), QDialog::Accepted);
    EXPECT_FALSE(Dialog->DriveSwitchWanted());
    EXPECT_EQ(Saved(), before);
    EXPECT_EQ(DiscInfo().Artist, disc.Artist);
    EXPECT_EQ(DiscInfo().Album, disc.Album);
    EXPECT_EQ(DiscInfo().Year, disc.Year);
    EXPECT_EQ(DiscInfo().Genre, disc.Genre);
    EXPECT_EQ(DiscInfo().Comment, disc.Comment);
    EXPECT_TRUE(Prompter.Calls().empty());
}

TEST_F(OptionsDialog, EachControlStoresItsField)
{
    const TAppSettings& s = AppSettings();
    const std::vector<std::tuple<const char*, std::function<void()>, std::function<bool()>>> cases{
        {"untick delete", [&] { Get<QCheckBox>("ckbKeepWav")->setChecked(false); },
         [&] { return s.KeepWav; }},
        {"tick delete", [&] { Get<QCheckBox>("ckbKeepWav")->setChecked(true); }, [&] { return !s.KeepWav; }},
        {"typed 96", [&] { Get<QComboBox>("cbBitRate")->setEditText(" 96 kbit/s"); },
         [&] { return s.Mp3BitRate == 96; }},
        {"typed 64", [&] { Get<QComboBox>("cbBitRate")->setEditText("64"); },
         [&] { return s.Mp3BitRate == 64; }},
        {"picked 112", [&] { Get<QComboBox>("cbBitRate")->setCurrentIndex(7); },
         [&] { return s.Mp3BitRate == 112; }},
        {"format", [&] { Get<QComboBox>("cbOutputFormat")->setCurrentIndex(3); },
         [&] { return s.OutputFormat == 3; }},
        {"length", [&] { Get<QLineEdit>("eRipTime")->setText(" 30"); }, [&] { return s.RipTime == 30; }},
        {"genre", [&] { Get<QComboBox>("ID3genre")->setCurrentIndex(5); },
         [&] { return DiscInfo().Genre == 5; }},
        {"artist", [&] { Get<QLineEdit>("ID3artist")->setText("Ärzte"); },
         [&] { return DiscInfo().Artist == "Ärzte"; }},
    };
    for (const auto& [what, change, stored] : cases) {
        Open();
        change();
        Ok();
        EXPECT_TRUE(stored()) << what;
    }
    EXPECT_TRUE(Prompter.Calls().empty());
}

TEST_F(OptionsDialog, DefaultButtonsResetTheirPageOnlyAndCancelStoresNothing)
{
    SetNonDefaults();
    const QByteArray before = Saved();
    Open();
    Get<QPushButton>("bDefault")->click();
    const std::vector<std::pair<const char*, QString>> lame{{"ckbSelectVBR", "0"},
                                                            {"ckbVBRHead", "0"},
                                                            {"cbBitRate", "128 kbit/s"},
                                                            {"cbVBRQuality", "4"},
                                                            {"cbMaxBitRate", "320 kbit/s"},
                                                            {"cbMpegQuality", "Default"},
                                                            {"cbStereoMode", "Joint Stereo"},
                                                            {"cbWMABitrate", "22.050 kHz,  20 kbit/s, Mono"}};
    for (const auto& [name, text] : lame)
        EXPECT_EQ(Shown(Get(name)), text) << name;
    EXPECT_FALSE(Get("cbMaxBitRate")->isEnabled());
    Get<QPushButton>("bWMADefault")->click();
    EXPECT_EQ(Shown(Get("cbWMABitrate")), "44.100 kHz,  64 kbit/s, Stereo");
    EXPECT_EQ(AppSettings().Mp3BitRate, 100);
    Get<QPushButton>("btCancel")->click();
    EXPECT_EQ(Dialog->result(), QDialog::Rejected);
    EXPECT_EQ(Saved(), before);
}

TEST_F(OptionsDialog, ControlsFollowTheBoxesThatSwitchThem)
{
    Open();
    // switch, controls it enables, controls it disables
    const std::vector<std::tuple<const char*, QStringList, QStringList>> rules{
        {"ckNormalize", {"SpinEdit1"}, {}},
        {"cbRipTime", {"eRipTime"}, {}},
        {"ckbSelectVBR", {"ckbVBRHead", "cbMaxBitRate", "cbVBRQuality"}, {}},
        {"cbUseCompress", {"tbCompression"}, {"gbBitrateManager"}},
    };
    for (const auto& [name, enabled, disabled] : rules) {
        auto* box = Get<QCheckBox>(name);
        for (bool ticked : {box->isChecked(), !box->isChecked(), box->isChecked()}) {
            box->setChecked(ticked);
            for (const QString& control : enabled)
                EXPECT_EQ(Get(qPrintable(control))->isEnabled(), ticked)
                    << name << " " << control.toStdString();
            for (const QString& control : disabled)
                EXPECT_EQ(Get(qPrintable(control))->isEnabled(), !ticked)
                    << name << " " << control.toStdString();
        }
    }
    // With WAV output there is no WAV file to delete afterwards.
    for (int format : {1, 2}) {
        Get<QComboBox>("cbOutputFormat")->setCurrentIndex(format);
        EXPECT_EQ(Get("ckbKeepWav")->isEnabled(), format != 1);
    }
}

TEST_F(OptionsDialog, OkRefusesWhatItCannotStoreAndTakesTheUserThere)
{
    const QString bitRateHelp = Translate(RES_Check_BitRate);
    // control, text typed, message, page shown
    const std::vector<std::tuple<const char*, QString, QString, const char*>> cases{
        {"eRipTime", "abc", "Please check the song length to extract.", "tsOutput"},
        {"eRipTime", "-100", "Please check the song length to extract.", "tsOutput"},
        {"cbBitRate", "abc", "Minimum bitrate: \"abc\"\n" + bitRateHelp, "tsLAME"},
        {"cbMaxBitRate", "1000", "Maximum bitrate: \"1000\"\n" + bitRateHelp, "tsLAME"},
    };
    const QByteArray before = Saved();
    for (const auto& [name, text, message, page] : cases) {
        Open();
        Get<QCheckBox>("ckNormalize")->setChecked(true);
        Get<QCheckBox>("cbRipTime")->setChecked(true);
        Get<QCheckBox>("ckbSelectVBR")->setChecked(true);
        ShowPage("tsWMA");
        if (auto* edit = Dialog->findChild<QLineEdit*>(name))
            edit->setText(text);
        else
            Get<QComboBox>(name)->setEditText(text);
        Ok();
        EXPECT_TRUE(Dialog->isVisible()) << name;
        ASSERT_FALSE(Prompter.Calls().empty());
        EXPECT_EQ(Prompter.Calls().back().Kind, TScriptedPrompter::TKind::Error);
        EXPECT_EQ(Prompter.Calls().back().Text, message);
        EXPECT_EQ(Pages()->currentWidget()->objectName(), page) << name;
        EXPECT_TRUE(Dialog->focusWidget() == Get(name) || Get(name)->isAncestorOf(Dialog->focusWidget()))
            << name;
        EXPECT_EQ(Saved(), before) << name;
    }
}

// A folder not made yet (a new installation's default) is offered to be
// made, once nothing else is at fault; "No" stores nothing.
TEST_F(OptionsDialog, OkOffersToMakeAMissingOutputFolder)
{
    const QString missing = App.Home.File("missing/Music");
    const QByteArray before = Saved();
    Open();
    Get<QLineEdit>("editOutputDir")->setText(missing);
    Get<QCheckBox>("cbRipTime")->setChecked(true);
    Get<QLineEdit>("eRipTime")->setText("abc");
    Ok();
    Get<QLineEdit>("eRipTime")->setText("10");
    Prompter.QueueAnswer(TPrompter::TAnswer::No);
    Ok();
    EXPECT_TRUE(Dialog->isVisible());
    EXPECT_EQ(Saved(), before);
    Prompter.QueueAnswer(TPrompter::TAnswer::Yes);
    Ok();
    ASSERT_EQ(Prompter.Calls().size(), 3u);
    EXPECT_EQ(Prompter.Calls()[0].Kind, TScriptedPrompter::TKind::Error);
    EXPECT_EQ(Prompter.Calls()[1].Text,
              missing + ",The output directory does not exist.\ncreates a new directory?");
    EXPECT_EQ(Prompter.Calls()[2].Kind, TScriptedPrompter::TKind::YesNo);
    EXPECT_FALSE(Dialog->isVisible());
    EXPECT_TRUE(QFileInfo(missing).isDir());
    EXPECT_EQ(AppSettings().OutputFolder, missing);
}

TEST_F(OptionsDialog, TheFolderPickerStartsAtTheNearestFolderThatExists)
{
    Open();
    Get<QLineEdit>("editOutputDir")->setText(App.Home.File("Output/Not yet made"));
    Prompter.QueuePath(App.Home.File("Picked"));
    Get<QToolButton>("btBrowser")->click();
    ASSERT_EQ(Prompter.Calls().size(), 1u);
    EXPECT_EQ(Prompter.Calls()[0].Kind, TScriptedPrompter::TKind::PickFolder);
    EXPECT_EQ(Prompter.Calls()[0].Text, "Please select the directory to save mp3 and wav file");
    EXPECT_EQ(Prompter.PickerFolders(), QStringList{App.Home.File("Output")});
    EXPECT_EQ(Shown(Get("editOutputDir")), App.Home.File("Picked"));
    Prompter.QueueFiles({});
    Get<QToolButton>("btBrowser")->click();
    EXPECT_EQ(Shown(Get("editOutputDir")), App.Home.File("Picked"));
}

TEST_F(OptionsDialog, TheDriveListIsMadeAfreshEachTimeItsPageIsShown)
{
    const QString a = App.UseDemoDisc();
    const QString b = App.UseImage("b.cue", DemoDiscSpec());
    SetCDImages({a, b});
    Open(1);
    auto* list = Get<QComboBox>("cbCDList");
    EXPECT_EQ(list->count(), 0);
    ShowPage("tsCDROM");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemText(0), "Image   demo.cue");
    EXPECT_EQ(list->currentIndex(), 1);
    list->setCurrentIndex(0);
    SetCDImages({a, b, App.UseImage("c.cue", DemoDiscSpec())});
    ShowPage("tsOutput");
    ShowPage("tsCDROM");
    EXPECT_EQ(list->count(), 3);
    EXPECT_EQ(list->currentIndex(), 0);
    Ok();
    EXPECT_TRUE(Dialog->DriveSwitchWanted());
    EXPECT_EQ(Dialog->SelectedDrive(), 0);
    EXPECT_EQ(AppSettings().DriveIndex, 0);
}

TEST_F(OptionsDialog, AnOddOptionsFileOpensWithValuesInRange)
{
    App.Home.Write("options.ini", "[CommonOptions]\nOutputFolder=" + App.Home.File("Output").toUtf8() +
                                      "\nOutputFormat=9\nIsKeepWav=x\nNormalizePercent=500\nRipTime=-5\n"
                                      "[Mp3Options]\nBitRate=-1\nMaxBitRate=99999\nMpegQuality=abc\n"
                                      "VBRQuality=40\nStereoMode=12\n[OggOptions]\nCompressPosition=3\n"
                                      "MaxBitRate=77\nNomalBitRate=-2\nMinBitRate=0x7fffffff\n"
                                      "[WMAOptions]\nBitRate=99\n[CDOptions]\nIndex=42\nCDDb=zz\n");
    LoadSettings();
    Open();
    const std::vector<std::pair<const char*, QString>> shown{
        {"cbOutputFormat", "MP3 file(*.MP3)"},
        {"SpinEdit1", "100"},
        {"eRipTime", "0"},
        {"cbBitRate", "  8 kbit/s"},
        {"cbMaxBitRate", "320 kbit/s"},
        {"cbMpegQuality", "Default"},
        {"cbVBRQuality", "4"},
        {"cbStereoMode", "Joint Stereo"},
        {"tbCompression", "30"},
        {"cbOggMaxBit", " Default"},
        {"cbOggNomBit", " Default"},
        {"cbOggMinBit", " Default"},
        {"cbWMABitrate", "44.100 kHz,  64 kbit/s, Stereo"}};
    for (const auto& [name, text] : shown)
        EXPECT_EQ(Shown(Get(name)), text) << name;
    Ok();
    EXPECT_EQ(Dialog->result(), QDialog::Accepted);
    EXPECT_EQ(AppSettings().Mp3BitRate, 8);
    EXPECT_EQ(AppSettings().NormalizePercent, 100);
    EXPECT_EQ(AppSettings().WmaSetting, 8);
    EXPECT_EQ(AppSettings().DriveIndex, -1);
}

TEST_F(OptionsDialog, UnderAGermanLanguageFileEveryPageIsGerman)
{
    App.Home.CopyDataFile("CLan_German.ini");
    AppSettings().Language = "German";
    TIniFile german;
    TIniFile english;
    ASSERT_TRUE(german.Load(App.Home.File("CLan_German.ini")));
    ASSERT_TRUE(english.Load(QStringLiteral(VELBROOK_SOURCE_DIR "/data/CLan_English.ini")));
    Open();
    EXPECT_EQ(Dialog->windowTitle(), "Optionen");
    ForEachFormText(Dialog.get(), [&](TFormText& text) {
        if (text.Key.endsWith("_Text"))
            return; // the bit rates the settings hold, shown over the list
        ASSERT_TRUE(german.HasKey(text.Section, text.Key)) << text.Key.toStdString();
        EXPECT_EQ(text.Text, UnescapeLanguageText(german.ReadString(text.Section, text.Key, "")))
            << text.Key.toStdString();
    });
    for (int i = 0; i < Pages()->count(); ++i) {
        int germanTexts = 0;
        for (QObject* control : Pages()->widget(i)->findChildren<QWidget*>()) {
            const QString name = control->objectName();
            QString text;
            if (auto* label = qobject_cast<QLabel*>(control))
                text = label->text();
            else if (auto* button = qobject_cast<QAbstractButton*>(control))
                text = button->text();
            else if (auto* group = qobject_cast<QGroupBox*>(control))
                text = group->title();
            if (!text.isEmpty() && text != english.ReadString("OptionSetForm", name, text))
                ++germanTexts;
        }
        EXPECT_GT(germanTexts, 0) << Pages()->widget(i)->objectName().toStdString();
    }
}

namespace {

// The main window over two disc images (the demo disc first), shown, with the
// options dialog worked through the menu command.
class OptionsCommand : public ::testing::Test {
protected:
    OptionsCommand()
    {
        QDir().mkpath(App.Home.File("Output"));
        A = App.UseDemoDisc();
        TImageSpec two;
        two.Tracks = {{300, 0, false, 1, 1}, {450, 0, false, 1, 2}};
        B = App.UseImage("b.cue", two);
        SetCDImages({A, B});
        Show();
    }
    ~OptionsCommand() override { Form->close(); }

    void Show()
    {
        Form = std::make_unique<TMainForm>(&Prompter);
        Form->show();
        QCoreApplication::processEvents();
    }
    // Opens the options with Ctrl+O's command and works them with action before OK.
    void Options(const std::function<void(TOptionSetForm*)>& action)
    {
        TModalAnswer answer([&](QWidget* dialog) {
            auto* options = qobject_cast<TOptionSetForm*>(dialog);
            ASSERT_NE(options, nullptr);
            action(options);
            options->findChild<QPushButton*>("btOk")->click();
        });
        Form->findChild<QAction*>("ActionOptionSet")->trigger();
    }
    static void ChooseDrive(TOptionSetForm* options, int position)
    {
        auto* pages = options->findChild<QTabWidget*>("PageControl1");
        pages->setCurrentWidget(options->findChild<QWidget*>("tsCDROM"));
        if (position >= 0)
            options->findChild<QComboBox*>("cbCDList")->setCurrentIndex(position);
    }
    bool FirstRowTicked() { return Form->TrackRows().at(0).Ticked; }
    void UntickFirstRow()
    {
        Form->findChild<QTreeWidget*>("ListView1")->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    }

    TAppTest App;
    QString A;
    QString B;
    TScriptedPrompter Prompter;
    std::unique_ptr<TMainForm> Form;
};

} // namespace

TEST_F(OptionsCommand, OpensOverTheMainWindowAndItsChoicesReachTheOptionsFile)
{
    const CDHandle handle = Form->DriveHandle();
    UntickFirstRow();
    Options([&](TOptionSetForm* options) {
        EXPECT_EQ(options->windowTitle(), "Options");
        EXPECT_EQ(options->pos(), Form->pos() + QPoint(50, 50));
        EXPECT_EQ(options->findChild<QTabWidget*>("PageControl1")->currentIndex(), 0);
        options->findChild<QComboBox*>("cbOutputFormat")->setCurrentIndex(2);
    });
    EXPECT_EQ(AppSettings().OutputFormat, 2);
    // Without the drive page the list is empty: -1 is stored and the drive stays.
    EXPECT_EQ(AppSettings().DriveIndex, -1);
    EXPECT_EQ(Form->DriveHandle(), handle);
    EXPECT_FALSE(FirstRowTicked());
    Form->close();
    TIniFile saved;
    ASSERT_TRUE(saved.Load(App.Home.File("options.ini")));
    EXPECT_EQ(saved.ReadInteger("CommonOptions", "OutputFormat", -1), 2);
}

TEST_F(OptionsCommand, AnotherDriveIsReadAndTheSameOneIsLeftAlone)
{
    const CDHandle first = Form->DriveHandle();
    UntickFirstRow();
    Options([](TOptionSetForm* options) { ChooseDrive(options, -1); });
    EXPECT_EQ(AppSettings().DriveIndex, 0);
    EXPECT_EQ(Form->DriveHandle(), first);
    EXPECT_FALSE(FirstRowTicked());

    Options([](TOptionSetForm* options) { ChooseDrive(options, 1); });
    EXPECT_EQ(AppSettings().DriveIndex, 1);
    EXPECT_EQ(Form->TrackRows().size(), 2u);
    EXPECT_EQ(Form->DriveName(), "Image   b.cue");
    EXPECT_EQ(Form->StatusText(), "Image   b.cue");
    EXPECT_EQ(Form->SavedStatusText, "Image   b.cue");
    EXPECT_EQ(Form->findChild<TMediaWatcher*>("MediaWatcher1")->Source(), B);
    EXPECT_EQ(CDHandleSource(first), "") << "the drive left behind is closed";

    // A change of the CDDB flag reads the disc again, on the same drive.
    const CDHandle second = Form->DriveHandle();
    UntickFirstRow();
    Options([](TOptionSetForm* options) {
        ChooseDrive(options, -1);
        options->findChild<QCheckBox*>("ckbCDDb")->setChecked(true);
    });
    EXPECT_TRUE(FirstRowTicked());
    EXPECT_EQ(CDHandleSource(Form->DriveHandle()), B);
    EXPECT_EQ(CDHandleSource(second), "");
    EXPECT_TRUE(Prompter.Calls().empty());
}

TEST_F(OptionsCommand, AlbumDataStaysWithTheDiscItWasTypedFor)
{
    Options([](TOptionSetForm* options) { options->findChild<QLineEdit*>("ID3artist")->setText("Alpha"); });
    QString artistShown;
    Options([&](TOptionSetForm* options) {
        artistShown = options->findChild<QLineEdit*>("ID3artist")->text();
        ChooseDrive(options, 1);
    });
    EXPECT_EQ(artistShown, "Alpha");
    Options(
        [&](TOptionSetForm* options) { artistShown = options->findChild<QLineEdit*>("ID3artist")->text(); });
    EXPECT_EQ(artistShown, "") << "disc B shows no album data of disc A";
    Form->close();

    for (const auto& [image, artist] : {std::pair{A, "Alpha"}, std::pair{B, ""}}) {
        SetCDImages({image});
        Show();
        EXPECT_EQ(DiscInfo().Artist, artist) << image.toStdString();
        Form->close();
    }
}
