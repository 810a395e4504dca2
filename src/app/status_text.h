#pragma once

#include "core/res_strings.h"

#include <QString>

// A text of the main window's status bar: a message shown in the interface
// language, or a plain text such as the drive's name. It remembers which, so a
// change of language can show it anew.
class TStatusText {
public:
    TStatusText() = default;
    static TStatusText Message(const TResString& key);
    static TStatusText Plain(const QString& text);

    // The text in the interface language of this moment.
    QString Text() const;
    bool IsMessage(const TResString& key) const;
    bool IsEmpty() const;

private:
    const TResString* Key = nullptr;
    QString PlainText;
};
