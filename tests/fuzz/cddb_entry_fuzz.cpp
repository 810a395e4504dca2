// Arbitrary bytes as a CDDB entry (the first byte gives the disc's track
// count). The cut must stay within the buffer as a prefix of the text, never
// split a UTF-8 character, and every value parsed must be one clean line.
#include "cd/cddb_entry.h"

#include <QStringDecoder>

#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

bool ValidUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    [[maybe_unused]] const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

void CheckValue(const std::optional<QString>& value)
{
    if (!value)
        return;
    Check(!value->isEmpty() && *value == value->trimmed());
    for (QChar c : *value)
        Check(c.unicode() >= 0x20 && !(c.unicode() >= 0x7F && c.unicode() <= 0x9F));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int rows = data[0] % 100;
    const QByteArray text(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    const QByteArray cut = CutCddbText(text);
    Check(cut.size() < CddbEntryBufferSize && text.startsWith(cut) && !cut.contains('\0'));
    const qsizetype zero = text.indexOf('\0');
    if (ValidUtf8(zero < 0 ? text : text.left(zero)))
        Check(ValidUtf8(cut));

    const TCddbEntry entry = ParseCddbEntry(text, rows);
    Check(entry.Titles.size() == size_t(rows));
    for (const auto& value : {entry.Artist, entry.Album, entry.Year})
        CheckValue(value);
    for (const auto& title : entry.Titles)
        CheckValue(title);
    Check(!entry.Genre || (*entry.Genre >= -1 && *entry.Genre <= 148 && *entry.Genre != 0));
    return 0;
}
