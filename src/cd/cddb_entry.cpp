#include "cddb_entry.h"

#include "codecs/genre_list.h"

#include <QStringDecoder>

#include <map>

namespace {

// What the bytes 0x80..0x9F stand for in the Windows code page that servers
// call Latin-1; 0 where that code page has nothing either.
constexpr char16_t WindowsAdditions[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

bool IsValidUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

bool IsContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The escapes of the format, then every control character as a blank, so a
// title can go into a file name or an INI line as it is.
QString CleanValue(const QString& raw)
{
    QString value;
    value.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        QChar c = raw.at(i);
        if (c == QLatin1Char('\\') && i + 1 < raw.size()) {
            const QChar next = raw.at(i + 1);
            if (next == QLatin1Char('n') || next == QLatin1Char('t')) {
                c = QLatin1Char(' ');
                ++i;
            } else if (next == QLatin1Char('\\')) {
                ++i;
            }
        }
        const char16_t code = c.unicode();
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F))
            c = QLatin1Char(' ');
        value += c;
    }
    return value.trimmed();
}

std::optional<QString> NonEmpty(const QString& value)
{
    if (value.isEmpty())
        return std::nullopt;
    return value;
}

// The track number of a TTITLE keyword, or -1 for any other keyword.
int TitleNumber(QStringView keyword)
{
    if (!keyword.startsWith(u"TTITLE"))
        return -1;
    const QStringView digits = keyword.mid(6);
    if (digits.isEmpty() || digits.size() > 3)
        return -1;
    for (QChar c : digits) {
        if (!c.isDigit() || c.unicode() > '9')
            return -1;
    }
    return digits.toInt();
}

} // namespace

bool TCddbEntry::HasTrackTitles() const
{
    for (const std::optional<QString>& title : Titles) {
        if (title)
            return true;
    }
    return false;
}

QByteArray CutCddbText(const QByteArray& bytes, qsizetype limit)
{
    QByteArray text = bytes;
    const qsizetype zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);
    if (text.size() <= limit)
        return text;
    if (limit <= 0)
        return {};
    const bool utf8 = IsValidUtf8(text);
    const qsizetype lineEnd = text.lastIndexOf('\n', limit - 1);
    if (lineEnd >= 0) {
        text.truncate(lineEnd + 1);
        return text;
    }
    qsizetype end = limit;
    // Latin-1 has no characters to split; UTF-8 must not lose half of one.
    while (utf8 && end > 0 && IsContinuationByte(text.at(end)))
        --end;
    text.truncate(end);
    return text;
}

QString DecodeCddbText(const QByteArray& bytes)
{
    if (IsValidUtf8(bytes))
        return QString::fromUtf8(bytes);
    QString text;
    text.reserve(bytes.size());
    for (char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        const char16_t windows = code >= 0x80 && code <= 0x9F ? WindowsAdditions[code - 0x80] : 0;
        text += QChar(windows ? windows : char16_t(code));
    }
    return text;
}

TCddbEntry ParseCddbEntry(const QByteArray& entry, int rowCount)
{
    const QString text = DecodeCddbText(CutCddbText(entry));
    QString discTitle;
    QString year;
    QString genre;
    bool hasDiscTitle = false;
    bool hasGenre = false;
    std::map<int, QString> titles;

    for (QStringView line : QStringView(text).split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QStringView content = line.trimmed();
        if (content.isEmpty() || content.startsWith(u'#'))
            continue;
        const qsizetype equals = content.indexOf(u'=');
        if (equals <= 0)
            continue;
        const QStringView keyword = content.left(equals);
        // Values are joined untrimmed: a long value may be split anywhere,
        // also next to a blank.
        const QStringView value = line.mid(line.indexOf(u'=') + 1);
        if (keyword == u"DTITLE") {
            discTitle += value;
            hasDiscTitle = true;
        } else if (keyword == u"DYEAR") {
            year += value;
        } else if (keyword == u"DGENRE") {
            genre += value;
            hasGenre = true;
        } else if (const int number = TitleNumber(keyword); number >= 0 && number < rowCount) {
            titles[number] += value;
        }
    }

    TCddbEntry parsed;
    if (hasDiscTitle) {
        const QString title = CleanValue(discTitle);
        const qsizetype slash = title.indexOf(QLatin1Char('/'));
        if (slash >= 0) {
            parsed.Artist = NonEmpty(title.left(slash).trimmed());
            parsed.Album = NonEmpty(title.mid(slash + 1).trimmed());
        } else {
            parsed.Album = NonEmpty(title);
        }
    }
    parsed.Year = NonEmpty(CleanValue(year));
    if (hasGenre) {
        const QString name = CleanValue(genre);
        if (!name.isEmpty())
            parsed.Genre = static_cast<int>(GenreNames().indexOf(name));
    }
    parsed.Titles.resize(static_cast<size_t>(std::max(rowCount, 0)));
    for (const auto& [number, title] : titles)
        parsed.Titles[static_cast<size_t>(number)] = NonEmpty(CleanValue(title));
    return parsed;
}
