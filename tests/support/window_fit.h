#pragma once

#include <QStringList>

class QWidget;

// Whether a window's texts fit their controls as the window lays itself out.
// Every visible label, button, group box and list column with a text is
// measured against the room it got:
//  - a label or button needs its size hint (a word-wrapped label: the height
//    its text takes at its width, and room for its longest word);
//  - a group box needs room for its title; a column header for its caption;
//  - a read-only text box shows its text without scrolling;
//  - a word-wrapped line never ends inside a command-line option ("--cd-" and
//    "image" on two lines);
//  - no two of these controls with the same parent overlap.
// Returns one line per problem ("frmNoDeviceHint/Label3: needs 430x64, has
// 430x48"); empty when everything fits.
QStringList TextFitProblems(QWidget* window);

// Shows window as the program shows it (at the size it gives itself) and lets
// its layout settle, so its geometry is what a user sees.
void ShowAsTheProgramDoes(QWidget* window);
