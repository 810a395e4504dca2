#include "status_text.h"

#include "core/language.h"

#include <cstring>

TStatusText TStatusText::Message(const TResString& key)
{
    TStatusText text;
    text.Key = &key;
    return text;
}

TStatusText TStatusText::Plain(const QString& text)
{
    TStatusText status;
    status.PlainText = text;
    return status;
}

QString TStatusText::Text() const
{
    return Key ? Translate(*Key) : PlainText;
}

bool TStatusText::IsMessage(const TResString& key) const
{
    return Key && std::strcmp(Key->Key, key.Key) == 0;
}

bool TStatusText::IsEmpty() const
{
    return !Key && PlainText.isEmpty();
}
