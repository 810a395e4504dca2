#include "core/settings.h"
#include "core/translate_form.h"

#include "support/temp_home.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

// A window with one control of every kind the language files address.
struct TSampleWindow {
    QMainWindow Window;
    QLabel* Label;
    QLabel* Unnamed;
    QPushButton* Button;
    QCheckBox* Check;
    QRadioButton* Radio;
    QGroupBox* Group;
    QToolButton* Tool;
    QComboBox* Combo;
    QComboBox* FixedCombo;
    QTreeWidget* List;
    QTabWidget* Pages;
    QStatusBar* Status;
    QMenu* FileMenu;
    QAction* OpenAction;
    QAction* Separator;

    TSampleWindow()
    {
        Window.setObjectName("frmSample");
        Window.setWindowTitle("Sample");
        auto* central = new QWidget(&Window);
        auto* layout = new QVBoxLayout(central);
        const auto add = [&](auto* widget, const char* name) {
            widget->setObjectName(name);
            layout->addWidget(widget);
            return widget;
        };
        Label = add(new QLabel("Label text"), "Label1");
        Unnamed = new QLabel("No name", central);
        layout->addWidget(Unnamed);
        Button = add(new QPushButton("&OK"), "bOK");
        Check = add(new QCheckBox("Keep"), "cbKeep");
        Radio = add(new QRadioButton("Mono"), "rbMono");
        Group = add(new QGroupBox("Group"), "GroupBox1");
        Tool = add(new QToolButton, "sbPlay");
        Tool->setText("Play");
        Combo = add(new QComboBox, "cbStereoMode");
        Combo->setEditable(true);
        Combo->addItems({"Stereo", "Joint", "Mono"});
        FixedCombo = add(new QComboBox, "cbFixed");
        FixedCombo->addItems({"One", "Two"});
        List = add(new QTreeWidget, "ListView1");
        List->setHeaderLabels({"No.", "Title"});
        Pages = add(new QTabWidget, "PageControl1");
        Pages->addTab(new QWidget, "Output");
        Pages->addTab(new QWidget, "MP3");
        Window.setCentralWidget(central);

        Status = new QStatusBar(&Window);
        Status->setObjectName("StatusBar1");
        auto* panel0 = new QLabel("Ready", Status);
        auto* panel1 = new QLabel("", Status);
        Status->addWidget(panel0, 1);
        Status->addWidget(panel1);
        Window.setStatusBar(Status);

        FileMenu = Window.menuBar()->addMenu("&File");
        FileMenu->setObjectName("File1");
        OpenAction = FileMenu->addAction("&Open");
        OpenAction->setObjectName("aOpen");
        Separator = FileMenu->addSeparator();
        Separator->setObjectName("N1");
    }
};

} // namespace

TEST(TranslateForm, ReplacesTheTextOfEveryControlKind)
{
    TTempHome home;
    home.Write("CLan_German.ini", "[frmSample]\nfrmSample=Beispiel\nLabel1=Beschriftung\nbOK=&Gut\n"
                                  "cbKeep=Behalten\nrbMono=Einkanal\nGroupBox1=Gruppe\nsbPlay=Abspielen\n"
                                  "cbStereoMode_Text=Gemeinsam\ncbStereoMode_Item0=Stereo (de)\n"
                                  "cbStereoMode_Item1=Joint (de)\ncbStereoMode_Item2=Mono (de)\n"
                                  "cbFixed_Item1=Zwei\nListView1_Column0=Nr.\nListView1_Column1=Titel\n"
                                  "PageControl1_Page0=Ausgabe\nPageControl1_Page1=MP3 (de)\n"
                                  "StatusBar1_Panel0=Bereit\nStatusBar1_Panel1=zwei\n"
                                  "[Menu_frmSample]\nFile1=&Datei\naOpen=Ö&ffnen\nN1=never\n");
    TSampleWindow w;
    TranslateForm(&w.Window, "German");
    EXPECT_EQ(w.Window.windowTitle(), "Beispiel");
    EXPECT_EQ(w.Label->text(), "Beschriftung");
    EXPECT_EQ(w.Unnamed->text(), "No name");
    EXPECT_EQ(w.Button->text(), "&Gut");
    EXPECT_EQ(w.Check->text(), "Behalten");
    EXPECT_EQ(w.Radio->text(), "Einkanal");
    EXPECT_EQ(w.Group->title(), "Gruppe");
    EXPECT_EQ(w.Tool->text(), "Abspielen");
    EXPECT_EQ(w.Combo->itemText(0), "Stereo (de)");
    EXPECT_EQ(w.Combo->itemText(1), "Joint (de)");
    EXPECT_EQ(w.Combo->itemText(2), "Mono (de)");
    EXPECT_EQ(w.Combo->count(), 3);
    EXPECT_EQ(w.FixedCombo->itemText(0), "One");
    EXPECT_EQ(w.FixedCombo->itemText(1), "Zwei");
    EXPECT_EQ(w.List->headerItem()->text(0), "Nr.");
    EXPECT_EQ(w.List->headerItem()->text(1), "Titel");
    EXPECT_EQ(w.Pages->tabText(0), "Ausgabe");
    EXPECT_EQ(w.Pages->tabText(1), "MP3 (de)");
    const QList<QLabel*> panels = w.Status->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    EXPECT_EQ(panels[0]->text(), "Bereit");
    EXPECT_EQ(panels[1]->text(), "zwei");
    EXPECT_EQ(w.FileMenu->title(), "&Datei");
    EXPECT_EQ(w.OpenAction->text(), "Ö&ffnen");
    EXPECT_EQ(w.Separator->text(), "");
}

TEST(TranslateForm, TheEditTextOfAComboIsSetBeforeItsItems)
{
    TTempHome home;
    // The edit text names an item that the item keys then rename: setting it
    // first must not undo the item translation.
    home.Write("CLan_German.ini", "[frmSample]\ncbStereoMode_Text=Typed by hand\ncbStereoMode_Item0=S\n");
    TSampleWindow w;
    TranslateForm(&w.Window, "German");
    EXPECT_EQ(w.Combo->itemText(0), "S");
    EXPECT_EQ(w.Combo->currentText(), "S"); // the current item was renamed after the edit text was set
}

TEST(TranslateForm, MissingKeysSectionsOrFilesLeaveTheTexts)
{
    TTempHome home;
    home.Write("CLan_Danish.ini", "[frmSample]\n[OtherForm]\nLabel1=wrong window\n");
    TSampleWindow w;
    TranslateForm(&w.Window, "Danish");
    TranslateForm(&w.Window, "Missing");
    TranslateForm(&w.Window, "../Danish");
    EXPECT_EQ(w.Window.windowTitle(), "Sample");
    EXPECT_EQ(w.Label->text(), "Label text");
    EXPECT_EQ(w.Combo->itemText(1), "Joint");
    EXPECT_EQ(w.OpenAction->text(), "&Open");
}

TEST(TranslateForm, KeysForControlsThatDoNotExistAreIgnored)
{
    TTempHome home;
    home.Write("CLan_Greek.ini", "[frmSample]\nNoSuchButton=x\ncbStereoMode_Item7=x\nListView1_Column9=x\n"
                                 "PageControl1_Page5=x\nLabel1=ok\n");
    TSampleWindow w;
    TranslateForm(&w.Window, "Greek");
    EXPECT_EQ(w.Label->text(), "ok");
    EXPECT_EQ(w.Combo->count(), 3);
    EXPECT_EQ(w.List->columnCount(), 2);
    EXPECT_EQ(w.Pages->count(), 2);
}

TEST(TranslateForm, VisitsTextsInComponentOrderWithTheirKeys)
{
    TSampleWindow w;
    QStringList keys;
    ForEachFormText(&w.Window, [&](TFormText& t) { keys.append(t.Section + "/" + t.Key + "=" + t.Text); });
    EXPECT_EQ(keys.first(), "frmSample/frmSample=Sample");
    EXPECT_TRUE(keys.contains("frmSample/cbStereoMode_Text=Stereo"));
    EXPECT_TRUE(keys.contains("frmSample/cbStereoMode_Item2=Mono"));
    EXPECT_FALSE(keys.contains("frmSample/cbFixed_Text=One")); // a fixed list has no edit text
    EXPECT_TRUE(keys.contains("frmSample/StatusBar1_Panel0=Ready"));
    EXPECT_TRUE(keys.contains("Menu_frmSample/aOpen=&Open"));
    EXPECT_TRUE(keys.indexOf("frmSample/cbStereoMode_Text=Stereo") <
                keys.indexOf("frmSample/cbStereoMode_Item0=Stereo"));
    // Neither separators, unnamed controls nor the tab bar's own scroll buttons.
    for (const QString& key : keys)
        EXPECT_FALSE(key.contains("N1") || key.contains("No name") || key.contains("Scroll"))
            << key.toStdString();
}
