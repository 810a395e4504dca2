#include "app/about_form.h"
#include "app/edit_track_name.h"
#include "app/main_form.h"
#include "app/no_device_hint.h"
#include "app/option_set_form.h"
#include "app/query_cddb_form.h"
#include "app/stop_query_form.h"
#include "codecs/vorbis_library.h"
#include "core/ini_file.h"
#include "core/language.h"
#include "core/translate_form.h"
#include "tools/id3_edit.h"
#include "tools/new_record_file.h"
#include "tools/ogg_player.h"
#include "tools/record_form.h"
#include "tools/resample_form.h"

#include "support/scripted_prompter.h"
#include "support/temp_home.h"

#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

TIniFile LanguageFile(const QString& language)
{
    TIniFile file;
    EXPECT_TRUE(file.Load(QStringLiteral(VELBROOK_SOURCE_DIR "/data/CLan_") + language + ".ini"))
        << language.toStdString();
    return file;
}

// Every translation in the data folder, so a new language file is checked as
// soon as it is there.
QStringList TranslationsInDataFolder()
{
    QStringList languages;
    for (const QString& file :
         QDir(VELBROOK_SOURCE_DIR "/data").entryList({"CLan_*.ini"}, QDir::Files, QDir::Name)) {
        const QString language = file.mid(5, file.size() - 9);
        if (language != "English")
            languages.append(language);
    }
    return languages;
}

const QStringList Translations = TranslationsInDataFolder();

// The placeholders of a text ("%1", "%s"), sorted: a translation may need
// them in another order.
QStringList Placeholders(const QString& text)
{
    static const QRegularExpression placeholder("%(\\d+|[sdu])");
    QStringList found;
    for (const QRegularExpressionMatch& match : placeholder.globalMatch(text))
        found.append(match.captured());
    found.sort();
    return found;
}

} // namespace

// A translation that lacks a key leaves that text in English (or, for a
// message, empty), so every file holds exactly the keys of the English one.
TEST(LanguageFiles, EveryTranslationHasEveryTextOfTheEnglishFile)
{
    const TIniFile english = LanguageFile("English");
    for (const QString& language : Translations) {
        const TIniFile translation = LanguageFile(language);
        EXPECT_EQ(translation.Sections(), english.Sections()) << language.toStdString();
        for (const QString& section : english.Sections()) {
            EXPECT_EQ(translation.Keys(section), english.Keys(section))
                << language.toStdString() << " [" << section.toStdString() << "]";
            for (const QString& key : english.Keys(section)) {
                const QString source = UnescapeLanguageText(english.ReadString(section, key, ""));
                const QString text = UnescapeLanguageText(translation.ReadString(section, key, ""));
                EXPECT_EQ(text.isEmpty(), source.isEmpty())
                    << language.toStdString() << " " << section.toStdString() << "/" << key.toStdString();
                // A placeholder lost or made up shows a wrong value or a bare "%1".
                EXPECT_EQ(Placeholders(text), Placeholders(source))
                    << language.toStdString() << " " << section.toStdString() << "/" << key.toStdString();
            }
        }
    }
}

// Messages that follow a file name or a number start with a blank, and those
// that a name follows end with one, in every language.
TEST(LanguageFiles, MessagesKeepTheBlanksTheyAreJoinedBy)
{
    const TIniFile english = LanguageFile("English");
    for (const QString& language : Translations) {
        const TIniFile translation = LanguageFile(language);
        for (const QString& key : english.Keys("ResourceString")) {
            const QString source = UnescapeLanguageText(english.ReadString("ResourceString", key, ""));
            const QString text = UnescapeLanguageText(translation.ReadString("ResourceString", key, ""));
            if (source.startsWith(' ')) {
                EXPECT_TRUE(text.startsWith(' ')) << language.toStdString() << " " << key.toStdString();
            }
            if (source.endsWith(' ')) {
                EXPECT_TRUE(text.endsWith(' ')) << language.toStdString() << " " << key.toStdString();
            }
            EXPECT_EQ(text.contains('\n'), source.contains('\n'))
                << language.toStdString() << " " << key.toStdString();
        }
    }
}

// Menus are worked with the keyboard: within one menu no two items share an
// access key, so one key press always chooses.
TEST(LanguageFiles, AccessKeysAreUniqueWithinEachMenu)
{
    for (const QString& language : QStringList{"English"} + Translations) {
        TTempHome home;
        home.CopyDataFile("CLan_" + language + ".ini");
        TScriptedPrompter prompter;
        TMainForm form(&prompter);
        TranslateForm(&form, language);
        QList<QList<QAction*>> menus{form.menuBar()->actions()};
        for (QMenu* menu : form.findChildren<QMenu*>()) {
            // The pop-up menu of the track list shares the main menu's items, and
            // the English language names are fixed texts (G&reek and &Russian).
            if (menu->objectName().isEmpty() || (language == "English" && menu->objectName() == "miLanguage"))
                continue;
            menus.append(menu->actions());
        }
        for (const QList<QAction*>& items : menus) {
            QSet<QChar> keys;
            for (QAction* item : items) {
                if (item->isSeparator())
                    continue;
                const QString text = item->text();
                const qsizetype amp = text.indexOf('&');
                if (amp < 0 || amp + 1 >= text.size())
                    continue;
                const QChar key = text.at(amp + 1).toLower();
                EXPECT_FALSE(keys.contains(key)) << language.toStdString() << ": " << text.toStdString();
                keys.insert(key);
            }
        }
    }
}

TEST(LanguageFiles, EachTranslationReachesEveryTextOfEveryWindow)
{
    for (const QString& language : Translations) {
        TTempHome home;
        home.CopyDataFile("CLan_" + language + ".ini");
        const TIniFile translation = LanguageFile(language);
        TScriptedPrompter prompter;
        TMainForm form(&prompter);
        TfrmEditTrackName edit;
        TfrmNoDeviceHint hint;
        TfrmAbout about;
        TfrmQueryCDDB query(nullptr, 1, 1, 0);
        TfrmStopQuery stop(nullptr, 1, 1, 0, TCddbOptions{}, "Close");
        TOptionSetForm options(prompter);
        TfrmID3Edit id3(prompter);
        const TVorbisLibraries vorbis;
        TfrmOggPlayer player(nullptr, prompter);
        TfrmResample resample(nullptr, prompter);
        TfrmRecord recorder(nullptr, prompter, form.Mp3Encoder(), form.WmaEncoder());
        TfrmNewRecordFile newFile;
        for (QWidget* window :
             std::initializer_list<QWidget*>{&form, &edit, &hint, &about, &query, &stop, &options, &player,
                                             &resample, &id3, &recorder, &newFile}) {
            TranslateForm(window, language);
            ForEachFormText(window, [&](TFormText& text) {
                ASSERT_TRUE(translation.HasKey(text.Section, text.Key))
                    << language.toStdString() << " " << text.Section.toStdString() << "/"
                    << text.Key.toStdString();
                EXPECT_EQ(text.Text,
                          UnescapeLanguageText(translation.ReadString(text.Section, text.Key, "")));
            });
        }
    }
}
