#pragma once

#include <QString>
#include <functional>

class QWidget;

// One translatable text of a window: where a language file keeps it and how to
// put a new text in place.
struct TFormText {
    QString Section; // the window's name, or "Menu_" + the window's name
    QString Key;     // a control's name, with _Text/_Item<n>/_Panel<n>/_Column<n>/_Page<n>
    QString Text;    // the text shown now
    std::function<void(const QString&)> Apply;
};

// Visits every translatable text of window in the window's component order: the
// caption, labels, buttons, check and radio boxes, group boxes, combo boxes (edit
// text first, then each item), status bars (simple text or panels), list and tree
// view columns, tab pages, and the menu actions and menus. Objects without a name
// and menu separators are skipped.
void ForEachFormText(QWidget* window, const std::function<void(TFormText&)>& visit);

// Replaces the window's texts with those of "CLan_<language>.ini"; a key the file
// lacks (or a missing file) leaves that text as it is.
void TranslateForm(QWidget* window, const QString& language);
