#include "form_texts.h"

#include "core/ini_file.h"
#include "core/language.h"
#include "core/translate_form.h"

#include <gtest/gtest.h>

void ExpectEnglishFileCoversForm(QWidget* window)
{
    TIniFile english;
    ASSERT_TRUE(english.Load(QStringLiteral(VELBROOK_SOURCE_DIR "/data/CLan_English.ini")));
    ForEachFormText(window, [&](TFormText& text) {
        const std::string where = (text.Section + "/" + text.Key).toStdString();
        if (!english.HasKey(text.Section, text.Key)) {
            ADD_FAILURE() << "CLan_English.ini lacks " << where << " (\"" << text.Text.toStdString() << "\")";
            return;
        }
        EXPECT_EQ(UnescapeLanguageText(english.ReadString(text.Section, text.Key, QString())), text.Text)
            << where;
    });
}
