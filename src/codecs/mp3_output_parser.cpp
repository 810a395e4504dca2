#include "mp3_output_parser.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

// Copy of count characters from a 1-based position; shorter, or empty, past the end.
QString Columns(const QString& line, int position, int count)
{
    if (position < 1 || position > line.size())
        return QString();
    return line.mid(position - 1, count);
}

} // namespace

int DecimalOr(const QString& text, int fallback)
{
    const QString trimmed = text.trimmed();
    qsizetype i = 0;
    if (trimmed.startsWith(QLatin1Char('-')))
        i = 1;
    if (i >= trimmed.size() || trimmed.size() - i > 9)
        return fallback;
    int value = 0;
    for (; i < trimmed.size(); ++i) {
        const QChar c = trimmed[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return fallback;
        value = value * 10 + (c.unicode() - '0');
    }
    return trimmed.startsWith(QLatin1Char('-')) ? -value : value;
}

void TMp3OutputParser::Reset(TClock::time_point startTime, const QStringList& echoedNames)
{
    ProgressColumn = 0;
    DecodedFrames = -1;
    LastError.clear();
    StartTime = startTime;
    EchoedNames.clear();
    for (const QString& name : echoedNames) {
        if (!name.isEmpty())
            EchoedNames.append(name);
    }
}

void TMp3OutputParser::NoteError(const QString& rawLine)
{
    if (!rawLine.contains(QLatin1String("error"), Qt::CaseInsensitive))
        return;
    // The progress table and the terminal codes it ends with ("\x1b[K") may
    // stand before the message on the same line: it starts with its word.
    static const QRegularExpression terminalCode(QStringLiteral("\x1b\\[[0-9;?]*[A-Za-z]"));
    QString line = rawLine;
    line.remove(terminalCode);
    const qsizetype at = line.indexOf(QLatin1String("error"), 0, Qt::CaseInsensitive);
    if (at < 0)
        return;
    qsizetype start = at;
    while (start > 0 && line[start - 1].isLetter())
        --start;
    LastError = line.mid(start).trimmed();
}

bool TMp3OutputParser::IsEcho(const QString& line) const
{
    for (const QString& name : EchoedNames) {
        if (line.contains(name))
            return true;
    }
    return false;
}

std::vector<TProcessInfo> TMp3OutputParser::ParseEncodeOutput(const QStringList& lines)
{
    std::vector<TProcessInfo> reports;
    for (const QString& line : lines) {
        if (line.trimmed().isEmpty() || IsEcho(line))
            continue;
        NoteError(line);
        const qsizetype percentSign = line.indexOf(QLatin1Char('%'));
        if (percentSign < 0)
            continue;
        // A "%" in the first three columns has no figure before it; the column is
        // then looked for again on the next line.
        if (ProgressColumn == 0 && percentSign >= 3)
            ProgressColumn = static_cast<int>(percentSign + 1) - 3;
        if (ProgressColumn == 0)
            continue;
        QString figure = Columns(line, ProgressColumn, 3).trimmed();
        if (figure.startsWith(QLatin1Char('(')))
            figure.remove(0, 1);
        TProcessInfo info;
        info.Percent = DecimalOr(figure, 0);
        info.ElapsedText = Columns(line, 21, 8).trimmed();
        info.EstimatedText = Columns(line, 30, 8).trimmed();
        if (info.Percent >= 1 && info.Percent <= 100)
            reports.push_back(info);
    }
    return reports;
}

std::vector<TProcessInfo> TMp3OutputParser::ParseDecodeOutput(const QStringList& lines,
                                                              TClock::time_point now)
{
    std::vector<TProcessInfo> reports;
    for (const QString& line : lines) {
        if (line.trimmed().isEmpty() || IsEcho(line))
            continue;
        NoteError(line);
        if (ProgressColumn == 0) {
            const qsizetype hash = line.indexOf(QLatin1Char('#'));
            if (hash >= 0)
                ProgressColumn = static_cast<int>(hash + 1) + 1;
        }
        if (ProgressColumn == 0)
            continue;
        const int current = DecimalOr(Columns(line, ProgressColumn, 6), -1);
        const int total = DecimalOr(Columns(line, ProgressColumn + 7, 6), -1);
        if (current == -1 || total == -1 || total == 0)
            continue;
        DecodedFrames = std::max(DecodedFrames, current);
        const qint64 elapsed = ElapsedSeconds(StartTime, now);
        TProcessInfo info;
        info.Percent = static_cast<int>(static_cast<qint64>(current) * 100 / total);
        if (info.Percent != 0) {
            info.ElapsedText = TimeText(elapsed);
            info.EstimatedText = TimeText(RoundHalfEven(static_cast<double>(elapsed) * 100 / info.Percent));
        }
        if (info.Percent >= 1 && info.Percent <= 100)
            reports.push_back(info);
    }
    return reports;
}
