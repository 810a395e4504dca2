#include "output_lines.h"

QStringList TOutputLines::Feed(const QByteArray& chunk)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < chunk.size(); ++i) {
        const char c = chunk[i];
        if (c != '\r' && c != '\n')
            continue;
        // The line feed of a carriage-return line-feed pair ends nothing new, also
        // when the pair is split between two chunks.
        if (c == '\n' && LastWasCarriageReturn && i == start && Pending.isEmpty()) {
            LastWasCarriageReturn = false;
            start = i + 1;
            continue;
        }
        Pending.append(chunk.constData() + start, i - start);
        lines.append(QString::fromUtf8(Pending));
        Pending.clear();
        LastWasCarriageReturn = c == '\r';
        start = i + 1;
    }
    if (start < chunk.size()) {
        Pending.append(chunk.constData() + start, chunk.size() - start);
        LastWasCarriageReturn = false;
    }
    return lines;
}

QStringList TOutputLines::Flush()
{
    QStringList lines;
    if (!Pending.isEmpty())
        lines.append(QString::fromUtf8(Pending));
    Pending.clear();
    LastWasCarriageReturn = false;
    return lines;
}
