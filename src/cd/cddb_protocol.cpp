#include "cddb_protocol.h"

#include "cd/cd_drive.h"
#include "cd/cddb_entry.h"
#include "cd/disc_image.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

constexpr qsizetype MaxStatusLine = 200;

bool AllDigits(QStringView text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// A status code at the start of the first line, or -1.
int StatusCode(QStringView line)
{
    if (line.size() < 3 || !AllDigits(line.left(3)) || (line.size() > 3 && line.at(3) != u' '))
        return -1;
    return line.left(3).toInt();
}

QList<QStringView> AnswerLines(QStringView text)
{
    QList<QStringView> lines = text.split(u'\n');
    for (QStringView& line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
    }
    return lines;
}

// "category discid title"; the first two become words of a later command, so
// anything but plain words is refused.
bool ParseMatch(QStringView line, CDDBMatch* match)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*([A-Za-z0-9_-]{1,40})\\s+([0-9A-Fa-f]{8})(?:\\s+(.*))?$"));
    const QRegularExpressionMatch found = pattern.match(line.toString());
    if (!found.hasMatch())
        return false;
    match->Category = found.captured(1).toLower();
    match->DiscId = found.captured(2).toLower();
    match->Title = found.captured(3).trimmed();
    return true;
}

QString PercentEncoded(const QString& word)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(word));
}

// Words of a hello field; an empty one would shift the others.
QString HelloWord(const QString& word, const QString& fallback)
{
    const QString trimmed = word.trimmed();
    return PercentEncoded(trimmed.isEmpty() ? fallback : trimmed);
}

} // namespace

TCddbDisc CddbDiscOf(const std::vector<std::uint32_t>& trackStarts, std::uint32_t leadOut)
{
    TCddbDisc disc;
    disc.DiscId = CddbDiscId(trackStarts.data(), static_cast<int>(trackStarts.size()), leadOut);
    for (std::uint32_t start : trackStarts)
        disc.Offsets.push_back(start + CDLeadInFrames);
    disc.Seconds = (leadOut + CDLeadInFrames) / CDFramesPerSecond;
    return disc;
}

QString CddbDiscIdText(std::uint32_t discId)
{
    return QStringLiteral("%1").arg(discId, 8, 16, QLatin1Char('0'));
}

QString CddbQueryCommand(const TCddbDisc& disc)
{
    QString command =
        QStringLiteral("cddb query %1 %2").arg(CddbDiscIdText(disc.DiscId)).arg(disc.Offsets.size());
    for (std::uint32_t offset : disc.Offsets)
        command += QLatin1Char(' ') + QString::number(offset);
    return command + QLatin1Char(' ') + QString::number(disc.Seconds);
}

QString CddbReadCommand(const CDDBMatch& match)
{
    return QStringLiteral("cddb read %1 %2").arg(match.Category, match.DiscId);
}

TCddbQueryAnswer ParseCddbQueryAnswer(const QByteArray& body)
{
    TCddbQueryAnswer answer;
    const QString text = DecodeCddbText(body);
    const QList<QStringView> lines = AnswerLines(text);
    const QStringView status = lines.front().trimmed();
    answer.StatusLine = status.left(MaxStatusLine).toString();
    const int code = StatusCode(status);
    if (code == 200) {
        CDDBMatch match;
        if (ParseMatch(status.mid(3), &match)) {
            answer.Kind = TCddbQueryAnswer::TKind::Matches;
            answer.Matches.append(match);
        }
    } else if (code == 210 || code == 211) {
        for (qsizetype i = 1; i < lines.size() && lines[i].trimmed() != u"."; ++i) {
            CDDBMatch match;
            if (answer.Matches.size() < CDDBMaxMatches && ParseMatch(lines[i], &match))
                answer.Matches.append(match);
        }
        if (!answer.Matches.isEmpty())
            answer.Kind = TCddbQueryAnswer::TKind::Matches;
    } else if (code == 202) {
        answer.Kind = TCddbQueryAnswer::TKind::NoMatch;
    } else if (code >= 400 && code <= 599) {
        answer.Kind = TCddbQueryAnswer::TKind::Refused;
    }
    return answer;
}

TCddbReadAnswer ParseCddbReadAnswer(const QByteArray& body)
{
    TCddbReadAnswer answer;
    const qsizetype firstEnd = body.indexOf('\n');
    const QByteArray first = firstEnd < 0 ? body : body.left(firstEnd);
    const QString status = DecodeCddbText(first).trimmed();
    answer.StatusLine = status.left(MaxStatusLine);
    if (StatusCode(status) != 210)
        return answer;
    answer.Found = true;
    if (firstEnd < 0)
        return answer;
    qsizetype start = firstEnd + 1;
    while (start < body.size()) {
        qsizetype end = body.indexOf('\n', start);
        const qsizetype next = end < 0 ? body.size() : end + 1;
        if (end < 0)
            end = body.size();
        if (body.mid(start, end - start).trimmed() == ".")
            break;
        answer.Entry.append(body.constData() + start, next - start);
        start = next;
    }
    return answer;
}

TCddbServer CddbServerOf(const QString& server, const QString& script)
{
    TCddbServer result;
    const QString text = server.trimmed();
    if (text.isEmpty()) {
        result.Problem = QStringLiteral("no CDDB server is set");
        return result;
    }
    const QString notAServer =
        QStringLiteral("the CDDB server \"%1\" is not a host name, host:port or http:// address").arg(text);
    QUrl url;
    QString path = script.trimmed();
    if (text.contains(QLatin1String("://"))) {
        url = QUrl(text, QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https") ||
            !url.userInfo().isEmpty()) {
            result.Problem = notAServer;
            return result;
        }
        if (url.path().size() > 1)
            path = url.path();
        url.setQuery(QString());
        url.setFragment(QString());
    } else {
        QString host = text;
        QString port;
        if (text.startsWith(QLatin1Char('['))) {
            const qsizetype close = text.indexOf(QLatin1Char(']'));
            if (close < 0) {
                result.Problem = notAServer;
                return result;
            }
            host = text.mid(1, close - 1);
            const QString rest = text.mid(close + 1);
            if (!rest.isEmpty()) {
                if (!rest.startsWith(QLatin1Char(':'))) {
                    result.Problem = notAServer;
                    return result;
                }
                port = rest.mid(1);
            }
        } else if (text.count(QLatin1Char(':')) == 1) {
            host = text.section(QLatin1Char(':'), 0, 0);
            port = text.section(QLatin1Char(':'), 1);
        }
        url.setScheme(QStringLiteral("http"));
        url.setHost(host, QUrl::StrictMode);
        if (!url.isValid() || url.host().isEmpty()) {
            result.Problem = notAServer;
            return result;
        }
        if (!port.isNull()) {
            const int number = AllDigits(port) && port.size() <= 5 ? port.toInt() : 0;
            if (number < 1 || number > 65535) {
                result.Problem =
                    QStringLiteral("the CDDB server \"%1\" names no port number after \":\"").arg(text);
                return result;
            }
            url.setPort(number);
        }
    }
    if (!path.startsWith(QLatin1Char('/')))
        path.prepend(QLatin1Char('/'));
    url.setPath(path);
    if (!url.isValid()) {
        result.Problem = QStringLiteral("the CDDB query script \"%1\" is no path on a server").arg(script);
        return result;
    }
    result.Url = url;
    return result;
}

quint16 CddbProxyPort(const QString& text)
{
    const QString trimmed = text.trimmed();
    const int number = AllDigits(trimmed) && trimmed.size() <= 5 ? trimmed.toInt() : 0;
    return number >= 1 && number <= 65535 ? static_cast<quint16>(number) : 80;
}

QUrl CddbCommandUrl(const QUrl& server, const QString& command, const QString& user, const QString& client)
{
    QStringList words;
    for (const QString& word : command.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        words.append(PercentEncoded(word));
    const qsizetype at = user.indexOf(QLatin1Char('@'));
    const qsizetype blank = client.indexOf(QLatin1Char(' '));
    const QString hello =
        HelloWord(at < 0 ? user : user.left(at), QStringLiteral("user")) + QLatin1Char('+') +
        HelloWord(at < 0 ? QString() : user.mid(at + 1), QStringLiteral("localhost")) + QLatin1Char('+') +
        HelloWord(blank < 0 ? client : client.left(blank), QStringLiteral("client")) + QLatin1Char('+') +
        HelloWord(blank < 0 ? QString() : client.mid(blank + 1), QStringLiteral("1.0"));
    QUrl url = server;
    url.setQuery(QStringLiteral("cmd=") + words.join(QLatin1Char('+')) + QStringLiteral("&hello=") + hello +
                     QStringLiteral("&proto=6"),
                 QUrl::StrictMode);
    return url;
}
