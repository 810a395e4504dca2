#include "app/main_form.h"
#include "core/ini_file.h"
#include "core/settings.h"

#include "support/form_texts.h"
#include "support/temp_home.h"

#include <QCloseEvent>
#include <QTreeWidget>
#include <gtest/gtest.h>

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
