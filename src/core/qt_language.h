#pragma once

#include <QString>
#include <Qt>

// What Qt itself supplies for an interface language: the texts of its own
// dialogs, buttons and key names (Qt's qtbase_<locale>.qm translations), and the
// direction the windows are laid out in.

// The Qt locale of a language of the Language menu ("German" gives "de",
// "Chinese" "zh_CN"). Empty for English, whose texts are Qt's built-in ones, and
// for a name that is no language of the menu. "Other", the user's own
// translation, takes the system's locale: whoever writes one most likely runs
// the system in that language.
QString QtLocaleName(const QString& language);

// Right to left for a language written that way (Arabic), else left to right.
Qt::LayoutDirection LanguageDirection(const QString& language);

// Puts Qt's translation for language in force, replacing the one loaded before
// (English, and a language Qt has no translation for, load none), and lays the
// application's windows out in the language's direction. Open windows follow at
// once (Qt sends them LanguageChange and LayoutDirectionChange). Returns whether
// a Qt translation is now loaded.
//
// Threads: user-interface thread only.
bool ApplyQtLanguage(const QString& language);
