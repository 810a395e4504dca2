#include "track_items.h"

#include "core/disc_info.h"
#include "core/helpers.h"

#include <QSet>
#include <QStringView>
#include <QTextBoundaryFinder>

int ItemTrack(const QString& item)
{
    bool ok = false;
    const int track = item.left(2).toInt(&ok);
    return ok && track >= 0 ? track : 0;
}

QString ItemTitle(const QString& item)
{
    return item.mid(2);
}

namespace {

int Utf8Bytes(char32_t codePoint)
{
    return codePoint < 0x80 ? 1 : codePoint < 0x800 ? 2 : codePoint < 0x10000 ? 3 : 4;
}

// UTF-8 length of text from from to to (UTF-16 positions at code point starts).
int Utf8Bytes(const QString& text, qsizetype from, qsizetype to)
{
    int bytes = 0;
    for (const char32_t c : QStringView(text).mid(from, to - from).toUcs4())
        bytes += Utf8Bytes(c);
    return bytes;
}

} // namespace

QString CutToUtf8Bytes(const QString& text, int maxBytes)
{
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    qsizetype kept = 0;
    int bytes = 0;
    for (qsizetype next = graphemes.toNextBoundary(); next > 0; next = graphemes.toNextBoundary()) {
        const int more = Utf8Bytes(text, kept, next);
        if (bytes + more > maxBytes)
            break;
        bytes += more;
        kept = next;
    }
    if (kept == text.size())
        return text;
    if (kept == 0) {
        // One character alone is too long (a letter under hundreds of marks):
        // cut it between code points, never inside a surrogate pair.
        while (kept < text.size()) {
            const qsizetype step = text.at(kept).isHighSurrogate() && kept + 1 < text.size() ? 2 : 1;
            const int more = Utf8Bytes(text, kept, kept + step);
            if (bytes + more > maxBytes)
                break;
            bytes += more;
            kept += step;
        }
    }
    return text.left(kept);
}

QStringList SafeTrackItems(const QStringList& items)
{
    QStringList safe;
    QSet<QString> taken;
    for (const QString& item : items) {
        const int track = ItemTrack(item);
        QString title = CleanFileName(ItemTitle(item));
        // An empty title would make a hidden ".wav"; one starting with a dot is
        // hidden too, and "." or ".." is no file name at all.
        if (title.trimmed().isEmpty() || title.startsWith(QLatin1Char('.')))
            title = DefaultTrackTitle(track);
        const QString base = title;
        title = CutToUtf8Bytes(base, MaxTitleBytes);
        for (int n = 2; taken.contains(title.toCaseFolded()); ++n) {
            const QString suffix = QStringLiteral(" (%1)").arg(n);
            title = CutToUtf8Bytes(base, MaxTitleBytes - int(suffix.size())) + suffix;
        }
        taken.insert(title.toCaseFolded());
        safe.append(item.left(2) + title);
    }
    return safe;
}
