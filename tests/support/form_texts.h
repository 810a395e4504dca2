#pragma once

class QWidget;

// Checks that data/CLan_English.ini holds every translatable text of window with
// exactly the text the window shows: choosing English after another language
// translates the window with that file, so it must restore every caption.
void ExpectEnglishFileCoversForm(QWidget* window);
