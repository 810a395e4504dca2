#include "core/ini_file.h"
#include "core/language.h"
#include "core/settings.h"

#include "support/temp_home.h"

#include <QSet>
#include <gtest/gtest.h>

TEST(Translate, EnglishInAnyCaseUsesTheBuiltInTextAndNoFile)
{
    TTempHome home;
    home.Write("CLan_English.ini", "[ResourceString]\nRES_Play=from the file\n");
    for (const char* language : {"English", "english", "ENGLISH"}) {
        AppSettings().Language = language;
        EXPECT_EQ(Translate(RES_Play), "Play ");
        EXPECT_EQ(Translate("RES_Unknown", "built in"), "built in");
    }
}

TEST(Translate, OtherLanguagesReadTheirFileAndAMissingKeyIsEmpty)
{
    TTempHome home;
    home.Write("CLan_German.ini", "[ResourceString]\nRES_Select_Track=Bitte mindestens einen Titel wählen!\n"
                                  "RES_File_Exist=\" existiert bereits. Überschreiben?\"\n"
                                  "RES_Check_Mp3Options=Fehler!\\r\\nBitte prüfen.\n");
    AppSettings().Language = "German";
    EXPECT_EQ(Translate(RES_Select_Track), "Bitte mindestens einen Titel wählen!");
    EXPECT_EQ(Translate(RES_File_Exist), " existiert bereits. Überschreiben?");
    EXPECT_EQ(Translate(RES_Check_Mp3Options), "Fehler!\r\nBitte prüfen.");
    EXPECT_EQ(Translate(RES_Play), ""); // the built-in text is not used for other languages

    // The file is read afresh each time.
    home.Write("CLan_German.ini", "[ResourceString]\nRES_Play=Wiedergabe \n");
    EXPECT_EQ(Translate(RES_Play), "Wiedergabe");

    AppSettings().Language = "Klingon";
    EXPECT_EQ(Translate(RES_Select_Track), "");
}

TEST(Translate, ALanguageNameNeverReachesOutsideTheDataFolders)
{
    TTempHome home;
    home.Write("sub/CLan_x.ini", "[ResourceString]\nRES_Play=escaped\n");
    AppSettings().Language = "../" + QFileInfo(home.Path()).fileName() + "/sub/CLan_x";
    EXPECT_EQ(LanguageFilePath(AppSettings().Language), "");
    EXPECT_EQ(Translate(RES_Play), "");
    EXPECT_EQ(LanguageFilePath("Chinese Simplified"), "");
    home.Write("CLan_Chinese Simplified.ini", "[ResourceString]\n");
    EXPECT_EQ(LanguageFilePath("Chinese Simplified"), home.File("CLan_Chinese Simplified.ini"));
}

TEST(Translate, DuplicateSectionsInALanguageFileUseTheFirst)
{
    TTempHome home;
    home.Write("CLan_French.ini", "[ResourceString]\nRES_Play=Lecture \n[ResourceString]\nRES_Play=Jouer\n"
                                  "RES_Encoding=Encodage\n");
    AppSettings().Language = "French";
    EXPECT_EQ(Translate(RES_Play), "Lecture");
    EXPECT_EQ(Translate(RES_Encoding), "");
}

// The English language file restores every built-in text when the user switches
// back to English, so it must hold exactly the program's texts.
TEST(EnglishLanguageFile, HoldsExactlyTheBuiltInMessages)
{
    TTempHome home;
    home.CopyDataFile("CLan_English.ini");
    TIniFile english;
    ASSERT_TRUE(english.Load(home.File("CLan_English.ini")));
    QSet<QString> known;
    for (const TResString& res : AllResStrings()) {
        known.insert(res.Key);
        ASSERT_TRUE(english.HasKey("ResourceString", res.Key)) << res.Key;
        EXPECT_EQ(UnescapeLanguageText(english.ReadString("ResourceString", res.Key, "")),
                  QString::fromUtf8(res.Text))
            << res.Key;
    }
    for (const QString& key : english.Keys("ResourceString"))
        EXPECT_TRUE(known.contains(key)) << "unknown message key in CLan_English.ini: " << key.toStdString();
}

TEST(EnglishLanguageFile, CoversEveryMessageKeyTheProgramUses)
{
    const QStringList expected{"RES_Ask_RemoveTag",
                               "RES_Check_BitRate",
                               "RES_Check_CDRom",
                               "RES_Check_FileName",
                               "RES_Check_Mp3Options",
                               "RES_Check_Output",
                               "RES_Clear_History",
                               "RES_Close_CD_Error",
                               "RES_Config_Error",
                               "RES_CreateFileError",
                               "RES_CreateProcess_Error",
                               "RES_CreateWavFileError",
                               "RES_Create_Directory",
                               "RES_Decoding",
                               "RES_Delete_Fail",
                               "RES_Directory_Not_Exist",
                               "RES_Discard_Modify",
                               "RES_Encoding",
                               "RES_Extracting",
                               "RES_File_Cannot_Create",
                               "RES_File_Exist",
                               "RES_File_NotPlain",
                               "RES_File_ReadOnly",
                               "RES_Get_CDHandle",
                               "RES_Have_Modify",
                               "RES_History_Unreadable",
                               "RES_ID3Edit_Caption",
                               "RES_Initing",
                               "RES_MCI_Init_Fail",
                               "RES_MP3_TO_WAV",
                               "RES_ModifyCDParmsError",
                               "RES_NoNameStr",
                               "RES_NoWmaEncoder",
                               "RES_No_Mixer",
                               "RES_NotFound_CDRom",
                               "RES_NotRead_Cd",
                               "RES_Not_Regular_File",
                               "RES_Operate_Fail",
                               "RES_Play",
                               "RES_ReadCDAudioError",
                               "RES_ReadTocError",
                               "RES_RealOne_Window_Exist",
                               "RES_RecordingStr",
                               "RES_Resample_Files",
                               "RES_Resample_NotWav",
                               "RES_Resample_Rate",
                               "RES_Resample_Same",
                               "RES_Rip_Time_Error",
                               "RES_Run_Again",
                               "RES_SaveTag_Error",
                               "RES_Save_Error",
                               "RES_Save_Fail",
                               "RES_Select_0",
                               "RES_Select_Directory",
                               "RES_Select_Track",
                               "RES_SoundDevice_Error",
                               "RES_TitleStr",
                               "RES_VLC_Running",
                               "RES_WAV_RESAMPLE",
                               "RES_WAV_TO_MP3",
                               "RES_WAV_TO_OGG",
                               "RES_WAV_TO_WMA",
                               "RES_Wav_File"};
    QStringList keys;
    for (const TResString& res : AllResStrings())
        keys.append(res.Key);
    EXPECT_EQ(keys, expected);
}
