#include "clear_history.h"

#include "core/language.h"
#include "core/res_strings.h"
#include "core/safe_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QXmlStreamReader>

#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#include <vector>

namespace {

const QLatin1String MimeNamespace("http://www.freedesktop.org/standards/shared-mime-info");
const QLatin1String VlcEmptyList("@Invalid()");

// A removed entry takes its indentation and line break along, so the rest of
// the file keeps its shape.
qsizetype WithLeadingBlanks(const QString& text, qsizetype start)
{
    qsizetype at = start;
    while (at > 0 && (text[at - 1] == QLatin1Char(' ') || text[at - 1] == QLatin1Char('\t')))
        --at;
    if (at > 0 && text[at - 1] == QLatin1Char('\n')) {
        --at;
        if (at > 0 && text[at - 1] == QLatin1Char('\r'))
            --at;
        return at;
    }
    return start;
}

// Entries of a list value as QSettings writes it: comma-separated, an entry
// with a comma in double quotes. -1 when a quote is not closed.
int ListEntries(const QByteArray& value)
{
    const QByteArray trimmed = value.trimmed();
    if (trimmed.isEmpty() || trimmed == VlcEmptyList.latin1())
        return 0;
    int entries = 1;
    bool quoted = false;
    for (qsizetype i = 0; i < trimmed.size(); ++i) {
        const char c = trimmed[i];
        if (quoted && c == '\\')
            ++i;
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ',')
            ++entries;
    }
    return quoted ? -1 : entries;
}

QString ConfigHome()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

THistoryResult ClearFile(const QString& path, bool (*remove)(const QByteArray&, QByteArray*, int*))
{
    const QFileInfo info(path);
    // A list that was never written (or a link that leads nowhere) is empty.
    if (!info.exists())
        return {};
    // A list kept behind a link (synchronised settings) is rewritten where
    // the link leads, so the link stays.
    const QString target = info.isSymLink() ? info.canonicalFilePath() : info.absoluteFilePath();
    QFile file(target);
    if (!QFileInfo(target).isFile() || !file.open(QIODevice::ReadOnly))
        return {0, FileErrorMessage(Translate(RES_History_Unreadable), path, file.errorString())};
    const QByteArray bytes = file.readAll();
    file.close();
    QByteArray kept;
    int removed = 0;
    if (!remove(bytes, &kept, &removed))
        return {0, FileErrorMessage(Translate(RES_History_Unreadable), path,
                                    QStringLiteral("It is not a list in the expected format."))};
    if (removed == 0)
        return {};
    struct stat status {};
    const bool haveMode = ::stat(QFile::encodeName(target).constData(), &status) == 0;
    TPendingFile pending;
    TFileError error = pending.Begin(target);
    if (!error.Failed()) {
        // Others' recent files are private: the new file keeps the old one's mode.
        if (haveMode)
            ::fchmod(pending.Handle(), status.st_mode & 07777);
        error = WriteFully(pending.Handle(), kept.constData(), kept.size());
    }
    if (!error.Failed())
        error = pending.Commit(TPendingFile::TReplace::Allowed);
    if (error.Failed()) {
        pending.Discard();
        return {0, FileErrorMessage(Translate(RES_History_Unreadable), path, error.Text())};
    }
    return {removed, {}};
}

} // namespace

QString DesktopRecentFilesPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/recently-used.xbel");
}

QString VlcRecentMediaPath()
{
    return ConfigHome() + QStringLiteral("/vlc/vlc-qt-interface.conf");
}

bool RemoveAudioBookmarks(const QByteArray& xbel, QByteArray* kept, int* removed)
{
    const QString text = QString::fromUtf8(xbel);
    // Only text that comes back as the same bytes can be kept byte for byte.
    if (text.toUtf8() != xbel)
        return false;
    QXmlStreamReader reader(text);
    std::vector<std::pair<qsizetype, qsizetype>> cuts;
    int depth = 0;
    bool root = false;
    qsizetype bookmarkStart = -1;
    bool audio = false;
    while (!reader.atEnd()) {
        const qsizetype before = reader.characterOffset();
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            if (depth == 1) {
                if (reader.name() != QLatin1String("xbel"))
                    return false;
                root = true;
            } else if (depth == 2 && reader.name() == QLatin1String("bookmark")) {
                // The reader has taken the tag's "<" before it reports the
                // token that ended there.
                bookmarkStart = text.lastIndexOf(QLatin1Char('<'), before);
                audio = false;
            } else if (bookmarkStart >= 0 && reader.name() == QLatin1String("mime-type") &&
                       reader.namespaceUri() == MimeNamespace) {
                audio = audio || reader.attributes()
                                     .value(QLatin1String("type"))
                                     .trimmed()
                                     .startsWith(QLatin1String("audio/"), Qt::CaseInsensitive);
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (depth == 2 && bookmarkStart >= 0) {
                if (audio)
                    cuts.emplace_back(WithLeadingBlanks(text, bookmarkStart), reader.characterOffset());
                bookmarkStart = -1;
            }
            --depth;
        }
    }
    if (reader.hasError() || !root)
        return false;
    QString result;
    qsizetype at = 0;
    for (const auto& [start, end] : cuts) {
        result += QStringView(text).mid(at, start - at);
        at = end;
    }
    result += QStringView(text).mid(at);
    *kept = result.toUtf8();
    *removed = int(cuts.size());
    return true;
}

bool RemoveVlcRecentMedia(const QByteArray& conf, QByteArray* kept, int* removed)
{
    QByteArray result;
    QByteArray section;
    int count = 0;
    qsizetype at = 0;
    while (at < conf.size()) {
        qsizetype end = conf.indexOf('\n', at);
        end = end < 0 ? conf.size() : end + 1;
        const QByteArray line = conf.mid(at, end - at);
        at = end;
        qsizetype bodyEnd = line.size();
        while (bodyEnd > 0 && (line[bodyEnd - 1] == '\n' || line[bodyEnd - 1] == '\r'))
            --bodyEnd;
        const QByteArray body = line.left(bodyEnd);
        const QByteArray trimmed = body.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('#')) {
            result += line;
            continue;
        }
        if (trimmed.startsWith('[')) {
            if (!trimmed.endsWith(']'))
                return false;
            section = trimmed.mid(1, trimmed.size() - 2).trimmed();
            result += line;
            continue;
        }
        const qsizetype equals = body.indexOf('=');
        if (equals < 0)
            return false;
        const QByteArray key = body.left(equals).trimmed();
        if (section == "RecentsMRL" && (key == "list" || key == "times")) {
            const int entries = ListEntries(body.mid(equals + 1));
            if (entries < 0)
                return false;
            if (key == "list")
                count += entries;
            if (entries > 0) {
                result += body.left(equals + 1) + VlcEmptyList.latin1() + line.mid(bodyEnd);
                continue;
            }
        }
        result += line;
    }
    *kept = count > 0 ? result : conf;
    *removed = count;
    return true;
}

THistoryResult ClearDesktopRecentFiles(const QString& path)
{
    return ClearFile(path, RemoveAudioBookmarks);
}

THistoryResult ClearVlcRecentMedia(const QString& path)
{
    return ClearFile(path, RemoveVlcRecentMedia);
}

bool VlcIsRunning()
{
    const uid_t me = ::getuid();
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        entry.toInt(&number);
        if (!number)
            continue;
        const QString folder = proc.filePath(entry);
        struct stat status {};
        if (::stat(QFile::encodeName(folder).constData(), &status) != 0 || status.st_uid != me)
            continue;
        QFile comm(folder + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "vlc")
            return true;
    }
    return false;
}
