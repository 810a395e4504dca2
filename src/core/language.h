#pragma once

#include "res_strings.h"

#include <QString>

// Message texts in the interface language (the Options/Lan setting). English uses
// the built-in texts; any other language reads "CLan_<language>.ini" afresh for
// every text (so a file edited while the program runs takes effect), and a text
// the file lacks is empty, as for a missing file.
//
// In a language file, the two-character sequences "\n" and "\r" of a value stand
// for line breaks, since a value is one line, and double quotes around the whole
// value keep the blanks at its ends (" has existed,overite it?").

bool IsEnglish(const QString& language);

// The file name of a language: "CLan_<language>.ini".
QString LanguageFileName(const QString& language);

// The language file's path, or empty when it does not exist or the name is not a
// plain language name (a setting such as "../x" never reaches another folder).
QString LanguageFilePath(const QString& language);

QString Translate(const QString& key, const QString& builtInText);
QString Translate(const TResString& text);

// Turns the escapes of a language file value into the characters they stand for.
QString UnescapeLanguageText(const QString& value);
