#include "disc_image.h"

#include "cd/album_reader.h"
#include "cd/cd_drive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringDecoder>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

namespace {

// Descriptions are a few kilobytes; anything far bigger is not one.
constexpr qint64 MaxDescriptionBytes = 1024 * 1024;

struct TLine {
    int Number = 0;
    QList<QByteArray> Words;
    QByteArray Text; // the line without its keyword, trimmed
};

// Splits into lines of blank-separated words, without a leading byte-order mark.
std::vector<TLine> SplitLines(const QByteArray& text, bool tocComments)
{
    QByteArray body = text;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    std::vector<TLine> lines;
    int number = 0;
    for (QByteArray line : body.split('\n')) {
        ++number;
        if (tocComments) {
            const qsizetype comment = line.indexOf("//");
            if (comment >= 0)
                line.truncate(comment);
        }
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        TLine parsed;
        parsed.Number = number;
        parsed.Words = line.simplified().split(' ');
        parsed.Text = line.mid(parsed.Words.first().size()).trimmed();
        lines.push_back(parsed);
    }
    return lines;
}

QString LineProblem(const TLine& line, const QString& what)
{
    return QStringLiteral("line %1: %2").arg(line.Number).arg(what);
}

// A whole number of at most maxDigits decimal digits.
std::optional<qint64> ParseNumber(const QByteArray& word, int maxDigits = 9)
{
    if (word.isEmpty() || word.size() > maxDigits)
        return std::nullopt;
    qint64 value = 0;
    for (const char c : word) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "mm:ss:ff" as frames; minutes up to 99, seconds below 60, frames below 75.
std::optional<qint64> ParseMsf(const QByteArray& word)
{
    const QList<QByteArray> parts = word.split(':');
    if (parts.size() != 3)
        return std::nullopt;
    const auto minutes = ParseNumber(parts[0], 2);
    const auto seconds = ParseNumber(parts[1], 2);
    const auto frames = ParseNumber(parts[2], 2);
    if (!minutes || !seconds || !frames || *seconds >= 60 || *frames >= CDFramesPerSecond)
        return std::nullopt;
    return (*minutes * 60 + *seconds) * CDFramesPerSecond + *frames;
}

// The quoted (or first blank-free) file name at the start of text, and what follows.
std::optional<std::pair<QByteArray, QByteArray>> SplitFileName(const QByteArray& text)
{
    if (text.startsWith('"')) {
        const qsizetype end = text.indexOf('"', 1);
        if (end < 0)
            return std::nullopt;
        return std::make_pair(text.mid(1, end - 1), text.mid(end + 1).trimmed());
    }
    const qsizetype blank = text.indexOf(' ');
    if (blank < 0)
        return std::make_pair(text, QByteArray());
    return std::make_pair(text.left(blank), text.mid(blank + 1).trimmed());
}

// The bytes 0x80 to 0x9F of code page 1252; the others are those of Latin-1.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Sheets come from Windows programs in UTF-8 or in code page 1252; a text that
// is not valid UTF-8 is the latter.
QByteArray SheetAsUtf8(const QByteArray& text)
{
    if (text.startsWith("\xEF\xBB\xBF"))
        return text;
    QStringDecoder utf8(QStringDecoder::Utf8);
    [[maybe_unused]] const QString decoded = utf8(text);
    if (!utf8.hasError())
        return text;
    QString converted;
    converted.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        converted += byte >= 0x80 && byte < 0xA0 ? QChar(Cp1252High[byte - 0x80]) : QChar(byte);
    }
    return converted.toUtf8();
}

// The value of a text line: what stands between its first and its last double
// quote (titles may hold quotes of their own), or the whole text unquoted.
QString TextValue(const QByteArray& text)
{
    const QByteArray trimmed = text.trimmed();
    if (!trimmed.startsWith('"'))
        return QString::fromUtf8(trimmed);
    const qsizetype last = trimmed.lastIndexOf('"');
    return QString::fromUtf8(last > 0 ? trimmed.mid(1, last - 1) : trimmed.mid(1));
}

bool HasControlBytes(const QByteArray& text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && c != '\t' && c != '\r' && c != '\n')
            return true;
    }
    return false;
}

// Checks shared by both formats once every track is known.
QString CheckTrackOrder(const std::vector<TImageTrack>& tracks)
{
    if (tracks.empty())
        return QStringLiteral("it describes no track");
    if (tracks.size() > static_cast<size_t>(CDMaxTracks))
        return QStringLiteral("it describes %1 tracks; a CD holds at most 99").arg(tracks.size());
    // Positions count within their files, and the files follow one another.
    using TPosition = std::pair<int, qint64>;
    for (size_t i = 0; i < tracks.size(); ++i) {
        const TImageTrack& track = tracks[i];
        const TPosition start{track.StartFile, track.Start};
        const TPosition pregap{track.PregapFile, track.PregapStart};
        if (track.PregapStart >= 0 && pregap > start)
            return QStringLiteral("track %1: index 0 comes after index 1").arg(track.Number);
        if (i == 0)
            continue;
        const TImageTrack& previous = tracks[i - 1];
        const TPosition previousStart{previous.StartFile, previous.Start};
        if (start < previousStart || (track.PregapStart >= 0 && pregap < previousStart))
            return QStringLiteral("track %1 starts before track %2").arg(track.Number).arg(previous.Number);
        if (track.Session < previous.Session)
            return QStringLiteral("track %1: sessions must not go back").arg(track.Number);
    }
    return {};
}

} // namespace

QString FramesToMsfText(qint64 frames)
{
    const qint64 minutes = frames / (60 * CDFramesPerSecond);
    const qint64 seconds = frames / CDFramesPerSecond % 60;
    const qint64 rest = frames % CDFramesPerSecond;
    return QStringLiteral("%1:%2:%3")
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(seconds, 2, 10, QLatin1Char('0'))
        .arg(rest, 2, 10, QLatin1Char('0'));
}

TImageDescription ParseCueSheet(const QByteArray& text)
{
    TImageDescription result;
    result.Format = TImageFormat::Cue;
    if (text.contains('\0') || HasControlBytes(text)) {
        result.Problem = QStringLiteral("it is not a text file");
        return result;
    }
    int session = 1;
    for (const TLine& line : SplitLines(SheetAsUtf8(text), false)) {
        const QByteArray keyword = line.Words.first().toUpper();
        TImageTrack* track = result.Tracks.empty() ? nullptr : &result.Tracks.back();
        const int currentFile = static_cast<int>(result.Files.size()) - 1;
        auto needTrack = [&]() {
            if (!track)
                result.Problem = LineProblem(
                    line, QStringLiteral("%1 outside a track").arg(QString::fromUtf8(line.Words.first())));
            return track != nullptr;
        };
        if (keyword == "REM") {
            const QByteArray what = line.Words.size() >= 2 ? line.Words[1].toUpper() : QByteArray();
            const QString value =
                line.Words.size() >= 3 ? TextValue(line.Text.mid(line.Words[1].size())) : QString();
            if (what == "SESSION") {
                const auto number = line.Words.size() >= 3 ? ParseNumber(line.Words[2], 2) : std::nullopt;
                if (!number || *number < 1) {
                    result.Problem = LineProblem(line, QStringLiteral("bad session number"));
                    return result;
                }
                session = static_cast<int>(*number);
            } else if (what == "GENRE" && !track) {
                result.Text.Genre = value;
            } else if (what == "DATE" && !track) {
                result.Text.Year = value;
            } else if (what == "DISCID" && !track) {
                result.DiscId = value;
            }
        } else if (keyword == "TITLE" || keyword == "PERFORMER") {
            const QString value = TextValue(line.Text);
            if (keyword == "TITLE")
                (track ? result.Text.Titles[track->Number] : result.Text.Album) = value;
            else
                (track ? result.Text.Performers[track->Number] : result.Text.Artist) = value;
        } else if (keyword == "CATALOG" || keyword == "CDTEXTFILE" || keyword == "SONGWRITER" ||
                   keyword == "COMPOSER" || keyword == "ARRANGER" || keyword == "MESSAGE" ||
                   keyword == "DISC_ID" || keyword == "GENRE" || keyword == "UPC_EAN" || keyword == "ISRC") {
            // Texts the program has no use for.
        } else if (keyword == "FILE") {
            const auto name = SplitFileName(line.Text);
            if (!name || name->first.isEmpty() || name->second.isEmpty()) {
                result.Problem = LineProblem(line, QStringLiteral("FILE needs a file name and a type"));
                return result;
            }
            if (result.Files.size() >= static_cast<size_t>(CDMaxImageFiles)) {
                result.Problem = LineProblem(
                    line, QStringLiteral("the sheet names more than %1 files").arg(CDMaxImageFiles));
                return result;
            }
            TImageFile file;
            file.Name = QString::fromUtf8(name->first);
            file.Type = QString::fromUtf8(name->second.split(' ').first().toUpper());
            file.Line = line.Number;
            // Every type but raw sectors is a sound file; what it holds is
            // found by decoding it, whatever the sheet calls it.
            file.Kind = file.Type == QLatin1String("BINARY")     ? TImageFileKind::Binary
                        : file.Type == QLatin1String("MOTOROLA") ? TImageFileKind::Motorola
                                                                 : TImageFileKind::Audio;
            result.Files.push_back(file);
            if (result.DataFile.isEmpty())
                result.DataFile = file.Name;
        } else if (keyword == "TRACK") {
            if (currentFile < 0) {
                result.Problem = LineProblem(line, QStringLiteral("TRACK before any FILE"));
                return result;
            }
            if (line.Words.size() != 3) {
                result.Problem = LineProblem(line, QStringLiteral("TRACK needs a number and a mode"));
                return result;
            }
            const auto number = ParseNumber(line.Words[1], 3);
            const int expected = static_cast<int>(result.Tracks.size()) + 1;
            if (!number || *number != expected) {
                result.Problem =
                    LineProblem(line, QStringLiteral("tracks must be numbered 1, 2, 3 and so on; "
                                                     "expected track %1")
                                          .arg(expected));
                return result;
            }
            if (expected > CDMaxTracks) {
                result.Problem = LineProblem(line, QStringLiteral("a CD holds at most 99 tracks"));
                return result;
            }
            const QByteArray mode = line.Words[2].toUpper();
            if (mode != "AUDIO" && mode != "MODE1/2352" && mode != "MODE2/2352") {
                result.Problem = LineProblem(line, QStringLiteral("track mode %1 is not one of raw 2352-byte "
                                                                  "sectors (AUDIO, MODE1/2352, MODE2/2352)")
                                                       .arg(QString::fromUtf8(line.Words[2])));
                return result;
            }
            TImageTrack added;
            added.Number = expected;
            added.Mode = QString::fromLatin1(mode);
            added.Audio = mode == "AUDIO";
            added.Session = session;
            added.Start = -1;
            added.StartFile = currentFile;
            result.Tracks.push_back(added);
        } else if (keyword == "FLAGS") {
            if (!needTrack())
                return result;
            for (int i = 1; i < line.Words.size(); ++i) {
                const QByteArray flag = line.Words[i].toUpper();
                if (flag == "DCP")
                    track->CopyPermitted = true;
                else if (flag == "PRE")
                    track->Preemphasis = true;
                else if (flag == "4CH")
                    track->FourChannel = true;
            }
        } else if (keyword == "PREGAP" || keyword == "POSTGAP") {
            if (!needTrack())
                return result;
            const auto frames = line.Words.size() == 2 ? ParseMsf(line.Words[1]) : std::nullopt;
            if (!frames) {
                result.Problem = LineProblem(
                    line, QStringLiteral("%1 needs a time mm:ss:ff").arg(QString::fromLatin1(keyword)));
                return result;
            }
            (keyword == "PREGAP" ? track->PregapFrames : track->PostgapFrames) = *frames;
        } else if (keyword == "INDEX") {
            if (!needTrack())
                return result;
            const auto index = line.Words.size() == 3 ? ParseNumber(line.Words[1], 2) : std::nullopt;
            const auto frames = line.Words.size() == 3 ? ParseMsf(line.Words[2]) : std::nullopt;
            if (!index || !frames) {
                result.Problem =
                    LineProblem(line, QStringLiteral("INDEX needs a number and a time mm:ss:ff"));
                return result;
            }
            if (*index == 0) {
                track->PregapStart = *frames;
                track->PregapFile = currentFile;
            } else if (*index == 1) {
                if (track->Start >= 0) {
                    result.Problem = LineProblem(
                        line, QStringLiteral("track %1 has two INDEX 01 lines").arg(track->Number));
                    return result;
                }
                track->Start = *frames;
                track->StartFile = currentFile;
            } else if (track->Start < 0) {
                result.Problem = LineProblem(line, QStringLiteral("INDEX %1 before INDEX 01").arg(*index));
                return result;
            }
        } else {
            result.Problem = LineProblem(
                line,
                QStringLiteral("unknown keyword %1").arg(QString::fromUtf8(line.Words.first().left(40))));
            return result;
        }
    }
    for (const TImageTrack& track : result.Tracks) {
        if (track.Start < 0) {
            result.Problem = QStringLiteral("track %1 has no INDEX 01").arg(track.Number);
            return result;
        }
    }
    result.Problem = CheckTrackOrder(result.Tracks);
    return result;
}

TImageDescription ParseTocFile(const QByteArray& text)
{
    TImageDescription result;
    result.Format = TImageFormat::Toc;
    if (text.contains('\0') || HasControlBytes(text)) {
        result.Problem = QStringLiteral("it is not a text file");
        return result;
    }
    bool haveFile = false;
    for (const TLine& line : SplitLines(text, true)) {
        const QByteArray keyword = line.Words.first().toUpper();
        TImageTrack* track = result.Tracks.empty() ? nullptr : &result.Tracks.back();
        auto needTrack = [&]() {
            if (!track)
                result.Problem = LineProblem(
                    line, QStringLiteral("%1 outside a track").arg(QString::fromUtf8(line.Words.first())));
            return track != nullptr;
        };
        if (keyword == "CD_DA" || keyword == "CD_ROM" || keyword == "CD_ROM_XA" || keyword == "CATALOG") {
            if (track) {
                result.Problem = LineProblem(line, QStringLiteral("%1 belongs before the first track")
                                                       .arg(QString::fromUtf8(line.Words.first())));
                return result;
            }
        } else if (keyword == "TRACK") {
            if (line.Words.size() < 2 || line.Words[1].toUpper() != "AUDIO") {
                result.Problem =
                    LineProblem(line, QStringLiteral("only AUDIO tracks can be read from a TOC file"));
                return result;
            }
            if (result.Tracks.size() >= static_cast<size_t>(CDMaxTracks)) {
                result.Problem = LineProblem(line, QStringLiteral("a CD holds at most 99 tracks"));
                return result;
            }
            if (track && track->Start < 0) {
                result.Problem = QStringLiteral("track %1 has no FILE").arg(track->Number);
                return result;
            }
            TImageTrack added;
            added.Number = static_cast<int>(result.Tracks.size()) + 1;
            added.Start = -1;
            result.Tracks.push_back(added);
        } else if (keyword == "COPY") {
            if (!needTrack())
                return result;
            track->CopyPermitted = true;
        } else if (keyword == "PRE_EMPHASIS") {
            if (!needTrack())
                return result;
            track->Preemphasis = true;
        } else if (keyword == "FOUR_CHANNEL_AUDIO") {
            if (!needTrack())
                return result;
            track->FourChannel = true;
        } else if (keyword == "NO" || keyword == "TWO_CHANNEL_AUDIO" || keyword == "ISRC" ||
                   keyword == "INDEX") {
            if (!needTrack())
                return result;
        } else if (keyword == "FILE" || keyword == "AUDIOFILE") {
            if (!needTrack())
                return result;
            if (track->Start >= 0) {
                result.Problem = LineProblem(line, QStringLiteral("track %1 has more than one FILE; only one "
                                                                  "data file per track can be read")
                                                       .arg(track->Number));
                return result;
            }
            const auto name = SplitFileName(line.Text);
            if (!name || name->first.isEmpty()) {
                result.Problem = LineProblem(line, QStringLiteral("FILE needs a file name"));
                return result;
            }
            const QString fileName = QString::fromUtf8(name->first);
            if (haveFile && fileName != result.DataFile) {
                result.Problem =
                    LineProblem(line, QStringLiteral("the TOC names more than one data file; only "
                                                     "images in a single file can be read"));
                return result;
            }
            haveFile = true;
            result.DataFile = fileName;
            const QList<QByteArray> times = name->second.simplified().split(' ');
            if (name->second.isEmpty() || times.size() > 2) {
                result.Problem =
                    LineProblem(line, QStringLiteral("FILE needs a start time and may have a length"));
                return result;
            }
            const auto start = times[0] == "0" ? std::optional<qint64>(0) : ParseMsf(times[0]);
            const auto length = times.size() == 2 ? ParseMsf(times[1]) : std::optional<qint64>(-1);
            if (!start || !length) {
                result.Problem = LineProblem(
                    line, QStringLiteral("FILE times must be written mm:ss:ff (or 0 for the start)"));
                return result;
            }
            track->FileStart = *start;
            track->Length = *length;
            track->Start = *start;
            if (result.Tracks.size() >= 2) {
                const TImageTrack& previous = result.Tracks[result.Tracks.size() - 2];
                if (previous.Length < 0 || previous.FileStart + previous.Length != track->FileStart) {
                    result.Problem =
                        LineProblem(line, QStringLiteral("track %1 does not follow track %2 in the "
                                                         "data file without gap or overlap")
                                              .arg(track->Number)
                                              .arg(previous.Number));
                    return result;
                }
            }
        } else if (keyword == "START") {
            if (!needTrack())
                return result;
            const auto offset = line.Words.size() == 2 ? ParseMsf(line.Words[1]) : std::nullopt;
            if (track->Start < 0 || !offset || track->PregapStart >= 0) {
                result.Problem =
                    LineProblem(line, QStringLiteral("START needs a time mm:ss:ff after the FILE"));
                return result;
            }
            if (track->Length >= 0 && *offset > track->Length) {
                result.Problem = LineProblem(line, QStringLiteral("START lies beyond the end of the track"));
                return result;
            }
            track->PregapStart = track->FileStart;
            track->Start = track->FileStart + *offset;
        } else {
            // CD_TEXT, DATAFILE, SILENCE, ZERO, PREGAP and the rest describe data
            // that is not laid out sector by sector in the file.
            result.Problem = LineProblem(line, QStringLiteral("%1 is not supported in TOC files")
                                                   .arg(QString::fromUtf8(line.Words.first().left(40))));
            return result;
        }
    }
    for (const TImageTrack& track : result.Tracks) {
        if (track.Start < 0) {
            result.Problem = QStringLiteral("track %1 has no FILE").arg(track.Number);
            return result;
        }
    }
    result.Problem = CheckTrackOrder(result.Tracks);
    if (haveFile) {
        TImageFile file;
        file.Name = result.DataFile;
        file.Type = QStringLiteral("BINARY");
        result.Files.push_back(file);
    }
    return result;
}

int TDiscImage::AudioSessionTrackCount() const
{
    int firstSessionTracks = 0;
    for (const TImageTrack& track : Tracks) {
        if (track.Session == Tracks.front().Session)
            ++firstSessionTracks;
        else if (track.Audio)
            return static_cast<int>(Tracks.size());
    }
    return firstSessionTracks;
}

qint64 TDiscImage::AudioSessionLeadOut() const
{
    const size_t count = static_cast<size_t>(AudioSessionTrackCount());
    if (count >= Tracks.size())
        return LeadOut;
    const TImageTrack& next = Tracks[count];
    // An image made from the disc holds whatever its reader wrote for the gap
    // between the sessions; none of it is audio.
    const qint64 sessionEnd = next.Start - CDSessionGapFrames;
    if (count > 0 && sessionEnd > Tracks[count - 1].Start)
        return sessionEnd;
    return next.PregapStart >= 0 ? next.PregapStart : next.Start;
}

QByteArray TDiscImage::CanonicalDescription(const QString& dataPath) const
{
    QByteArray text;
    const QByteArray quoted = '"' + QFile::encodeName(dataPath) + '"';
    if (Format == TImageFormat::Cue) {
        text += "FILE " + quoted + " BINARY\n";
        for (const TImageTrack& track : Tracks) {
            text += QStringLiteral("  TRACK %1 %2\n")
                        .arg(track.Number, 2, 10, QLatin1Char('0'))
                        .arg(track.Mode)
                        .toLatin1();
            QByteArray flags;
            if (track.CopyPermitted)
                flags += " DCP";
            if (track.Preemphasis)
                flags += " PRE";
            if (track.FourChannel)
                flags += " 4CH";
            if (!flags.isEmpty())
                text += "    FLAGS" + flags + "\n";
            if (track.PregapStart >= 0 && track.PregapStart < track.Start)
                text += "    INDEX 00 " + FramesToMsfText(track.PregapStart).toLatin1() + "\n";
            text += "    INDEX 01 " + FramesToMsfText(track.Start).toLatin1() + "\n";
        }
        return text;
    }
    text += "CD_DA\n";
    for (size_t i = 0; i < Tracks.size(); ++i) {
        const TImageTrack& track = Tracks[i];
        text += "\nTRACK AUDIO\n";
        if (track.CopyPermitted)
            text += "COPY\n";
        if (track.Preemphasis)
            text += "PRE_EMPHASIS\n";
        if (track.FourChannel)
            text += "FOUR_CHANNEL_AUDIO\n";
        // Every length is written out: libcdio misplaces the lead-out when the
        // last one is left to the end of the file.
        const qint64 end = i + 1 < Tracks.size() ? Tracks[i + 1].FileStart : LeadOut;
        text += "FILE " + quoted + " " + FramesToMsfText(track.FileStart).toLatin1() + " " +
                FramesToMsfText(end - track.FileStart).toLatin1() + "\n";
        if (track.Start > track.FileStart)
            text += "START " + FramesToMsfText(track.Start - track.FileStart).toLatin1() + "\n";
    }
    return text;
}

namespace {

// The entry of folder called name, compared without regard to case when no
// entry has exactly that name.
QString EntryIgnoringCase(const QDir& folder, const QString& name)
{
    if (QFileInfo::exists(folder.filePath(name)))
        return name;
    const QStringList entries =
        folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return {};
}

// A path found component by component without regard to case.
QString PathIgnoringCase(const QDir& folder, const QString& path)
{
    QDir dir = QDir::isAbsolutePath(path) ? QDir::root() : folder;
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (parts[i] == QLatin1String("."))
            continue;
        const QString entry = parts[i] == QLatin1String("..") ? parts[i] : EntryIgnoringCase(dir, parts[i]);
        if (entry.isEmpty())
            return {};
        if (i + 1 == parts.size())
            return dir.absoluteFilePath(entry);
        if (!dir.cd(entry))
            return {};
    }
    return {};
}

// Sheets written on Windows name their files with backslashes, in another case
// than the disk has them, or with the folder they had there. Tried in turn: the
// name as written, with / for \, without regard to case, and the bare file
// name beside the sheet.
QString FindFile(const QDir& folder, const QString& named)
{
    const QString asWritten = folder.absoluteFilePath(named);
    if (QFileInfo::exists(asWritten))
        return asWritten;
    QString slashed = named;
    slashed.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString withSlashes = folder.absoluteFilePath(slashed);
    if (QFileInfo::exists(withSlashes))
        return withSlashes;
    const QString ignoringCase = PathIgnoringCase(folder, slashed);
    if (!ignoringCase.isEmpty())
        return ignoringCase;
    const QString bare = EntryIgnoringCase(folder, QFileInfo(slashed).fileName());
    return bare.isEmpty() ? QString() : folder.absoluteFilePath(bare);
}

// Finds a file the description names and measures what it holds; a sentence
// for the user when it cannot serve.
QString MeasureFile(const QDir& folder, TImageFile* file)
{
    const QString found = file->Name.isEmpty() ? QString() : FindFile(folder, file->Name);
    if (found.isEmpty())
        return QStringLiteral("the file %1 (line %2) does not exist").arg(file->Name).arg(file->Line);
    const QFileInfo data(found);
    if (!data.isFile())
        return QStringLiteral("the data file %1 is not a file").arg(file->Name);
    file->Path = data.absoluteFilePath();
    if (file->Kind == TImageFileKind::Audio) {
        const TAudioFileInfo audio = ProbeAudioFile(file->Path);
        if (!audio.Problem.isEmpty())
            return QStringLiteral("the file %1: %2").arg(file->Name, audio.Problem);
        file->Samples = audio.Samples;
        file->Frames = (audio.Samples + CDSamplesPerFrame - 1) / CDSamplesPerFrame;
        return {};
    }
    QFile raw(file->Path);
    if (!raw.open(QIODevice::ReadOnly))
        return QStringLiteral("the data file %1 cannot be read: %2").arg(file->Name, raw.errorString());
    const QByteArray head = raw.read(12);
    if (head.startsWith("RIFF") && head.mid(8, 4) == "WAVE")
        return QStringLiteral("the data file %1 is a WAV file, not raw CD sectors; name it as WAVE in the "
                              "sheet")
            .arg(file->Name);
    file->Frames = raw.size() / CDFrameBytes;
    if (file->Frames == 0)
        return QStringLiteral("the data file %1 holds no whole sector").arg(file->Name);
    return {};
}

// Lays the files and the silence of PREGAP and POSTGAP lines out on the disc,
// and moves every track from its place in a file to its place on the disc. A
// file shorter than the sheet places an index in it still gets the sectors up
// to that index: they cannot be read, as the sectors of a damaged disc.
void PlaceTracks(TDiscImage* image)
{
    qint64 disc = 0;
    int file = -1;
    qint64 inFile = 0;
    auto emitPiece = [&](int from, qint64 first, qint64 end) {
        if (end <= first)
            return;
        image->Pieces.push_back({disc, end - first, from, first});
        disc += end - first;
    };
    auto silence = [&](qint64 frames) {
        if (frames <= 0)
            return;
        image->Pieces.push_back({disc, frames, -1, 0});
        disc += frames;
    };
    // Goes through the files up to the given position, laying out what lies
    // before it.
    auto advanceTo = [&](int toFile, qint64 offset) {
        for (; file < toFile; ++file, inFile = 0) {
            if (file >= 0)
                emitPiece(file, inFile, image->Files[size_t(file)].Frames);
        }
        emitPiece(file, inFile, offset);
        inFile = std::max(inFile, offset);
    };
    for (size_t i = 0; i < image->Tracks.size(); ++i) {
        TImageTrack& track = image->Tracks[i];
        const bool indexZero = track.PregapStart >= 0;
        if (indexZero)
            advanceTo(track.PregapFile, track.PregapStart);
        else
            advanceTo(track.StartFile, track.Start);
        if (i > 0)
            silence(image->Tracks[i - 1].PostgapFrames);
        if (indexZero) {
            track.PregapStart = disc;
            advanceTo(track.StartFile, track.Start);
        }
        if (track.PregapFrames > 0 && !indexZero)
            track.PregapStart = disc;
        silence(track.PregapFrames);
        track.Start = disc;
    }
    const int last = static_cast<int>(image->Files.size()) - 1;
    advanceTo(last, image->Files.back().Frames);
    silence(image->Tracks.back().PostgapFrames);
    image->LeadOut = disc;
}

// What to tell the user when the sheet's REM DISCID is not the id the disc's
// tracks give: the rip probably left part of the disc out.
QString DiscIdNote(const QString& sheetId, const TDiscImage& image)
{
    bool ok = false;
    const uint sheet = sheetId.trimmed().toUInt(&ok, 16);
    if (!ok || image.Tracks.empty())
        return {};
    std::vector<std::uint32_t> starts;
    for (const TImageTrack& track : image.Tracks)
        starts.push_back(static_cast<std::uint32_t>(track.Start));
    const std::uint32_t ours =
        CddbDiscId(starts.data(), static_cast<int>(starts.size()), static_cast<std::uint32_t>(image.LeadOut));
    if (ours == sheet)
        return {};
    auto hex = [](std::uint32_t id) { return QStringLiteral("%1").arg(id, 8, 16, QLatin1Char('0')); };
    return QStringLiteral("%1: the sheet gives the disc id %2 (REM DISCID), its tracks give %3; the rip may "
                          "leave out part of the disc (a data track, a hidden track, gaps between tracks). "
                          "Velbrook knows the disc by %3.")
        .arg(QDir::toNativeSeparators(image.DescriptionPath), hex(sheet), hex(ours));
}

} // namespace

TDiscImage LoadDiscImage(const QString& path)
{
    TDiscImage image;
    const QFileInfo info(path);
    image.DescriptionPath = info.absoluteFilePath();
    const QString shown = QDir::toNativeSeparators(path);
    auto refuse = [&](const QString& why) {
        image.Problem = QStringLiteral("%1: %2").arg(shown, why);
        image.Tracks.clear();
        image.Pieces.clear();
        return image;
    };
    if (!info.exists())
        return refuse(QStringLiteral("no such file"));
    if (!info.isFile())
        return refuse(QStringLiteral("not a file"));
    const QString suffix = info.suffix().toLower();
    if (suffix != QLatin1String("cue") && suffix != QLatin1String("toc"))
        return refuse(QStringLiteral("not a disc image description; name the .cue or .toc file"));
    if (info.size() > MaxDescriptionBytes)
        return refuse(QStringLiteral("too large for a CUE sheet or TOC file"));
    QFile file(image.DescriptionPath);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(file.errorString());
    const QByteArray text = file.read(MaxDescriptionBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return refuse(file.errorString());

    image.Format = suffix == QLatin1String("cue") ? TImageFormat::Cue : TImageFormat::Toc;
    TImageDescription description =
        image.Format == TImageFormat::Cue ? ParseCueSheet(text) : ParseTocFile(text);
    if (!description.IsAccepted())
        return refuse(description.Problem);
    image.Tracks = description.Tracks;
    image.Files = description.Files;
    image.Text = description.Text;

    const QDir folder = info.absoluteDir();
    for (TImageFile& data : image.Files) {
        const QString problem = MeasureFile(folder, &data);
        if (!problem.isEmpty())
            return refuse(problem);
    }
    image.DataPath = image.Files.front().Path;
    for (const TImageTrack& track : image.Tracks) {
        const TImageFile& holder = image.Files[size_t(track.StartFile)];
        if (!track.Audio && holder.Kind == TImageFileKind::Audio)
            return refuse(QStringLiteral("track %1 is a data track (%2), which the sound file %3 cannot hold")
                              .arg(track.Number)
                              .arg(track.Mode, holder.Name));
    }

    const bool gaps = std::any_of(image.Tracks.begin(), image.Tracks.end(), [](const TImageTrack& track) {
        return track.PregapFrames > 0 || track.PostgapFrames > 0;
    });
    image.Served = image.Format == TImageFormat::Cue &&
                   (image.Files.size() > 1 || image.Files.front().Kind != TImageFileKind::Binary || gaps);
    if (image.Served) {
        PlaceTracks(&image);
    } else {
        const qint64 dataFrames = image.Files.front().Frames;
        if (image.Format == TImageFormat::Cue) {
            image.LeadOut = dataFrames;
        } else {
            const TImageTrack& last = image.Tracks.back();
            image.LeadOut = last.Length >= 0 ? last.FileStart + last.Length : dataFrames;
        }
        if (image.LeadOut > dataFrames)
            return refuse(
                QStringLiteral("the tracks run past the end of the data file %1").arg(description.DataFile));
    }
    if (image.LeadOut > CDMaxFrames)
        return refuse(QStringLiteral("longer than a CD can be (99:59:74)"));
    for (const TImageTrack& track : image.Tracks) {
        if (track.Start > image.LeadOut)
            return refuse(QStringLiteral("track %1 starts after the end of the data file").arg(track.Number));
    }
    image.Note = DiscIdNote(description.DiscId, image);
    return image;
}
