#include "disc_image.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <optional>

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
    for (size_t i = 0; i < tracks.size(); ++i) {
        const TImageTrack& track = tracks[i];
        if (track.PregapStart > track.Start)
            return QStringLiteral("track %1: index 0 comes after index 1").arg(track.Number);
        if (i == 0)
            continue;
        const TImageTrack& previous = tracks[i - 1];
        if (track.Start < previous.Start || (track.PregapStart >= 0 && track.PregapStart < previous.Start))
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
    bool haveFile = false;
    for (const TLine& line : SplitLines(text, false)) {
        const QByteArray keyword = line.Words.first().toUpper();
        TImageTrack* track = result.Tracks.empty() ? nullptr : &result.Tracks.back();
        if (keyword == "REM") {
            if (line.Words.size() >= 3 && line.Words[1].toUpper() == "SESSION") {
                const auto number = ParseNumber(line.Words[2], 2);
                if (!number || *number < 1) {
                    result.Problem = LineProblem(line, QStringLiteral("bad session number"));
                    return result;
                }
                session = static_cast<int>(*number);
            }
        } else if (keyword == "CATALOG" || keyword == "CDTEXTFILE" || keyword == "TITLE" ||
                   keyword == "PERFORMER" || keyword == "SONGWRITER" || keyword == "COMPOSER" ||
                   keyword == "ARRANGER" || keyword == "MESSAGE" || keyword == "DISC_ID" ||
                   keyword == "GENRE" || keyword == "UPC_EAN" || keyword == "ISRC" || keyword == "POSTGAP" ||
                   keyword == "PREGAP") {
            // Disc texts and silence that is not in the data file: the sectors of
            // the file read the same without them.
        } else if (keyword == "FILE") {
            const auto name = SplitFileName(line.Text);
            if (!name || name->first.isEmpty() || name->second.isEmpty()) {
                result.Problem = LineProblem(line, QStringLiteral("FILE needs a file name and a type"));
                return result;
            }
            const QString fileName = QString::fromUtf8(name->first);
            if (haveFile && fileName != result.DataFile) {
                result.Problem =
                    LineProblem(line, QStringLiteral("the sheet names more than one data file; only "
                                                     "images in a single file can be read"));
                return result;
            }
            if (name->second.toUpper() != "BINARY") {
                result.Problem = LineProblem(
                    line, QStringLiteral("the data file is of type %1; only raw BINARY files can be read")
                              .arg(QString::fromUtf8(name->second)));
                return result;
            }
            haveFile = true;
            result.DataFile = fileName;
        } else if (keyword == "TRACK") {
            if (!haveFile) {
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
            result.Tracks.push_back(added);
        } else if (keyword == "FLAGS") {
            if (!track) {
                result.Problem = LineProblem(line, QStringLiteral("FLAGS outside a track"));
                return result;
            }
            for (int i = 1; i < line.Words.size(); ++i) {
                const QByteArray flag = line.Words[i].toUpper();
                if (flag == "DCP")
                    track->CopyPermitted = true;
                else if (flag == "PRE")
                    track->Preemphasis = true;
                else if (flag == "4CH")
                    track->FourChannel = true;
            }
        } else if (keyword == "INDEX") {
            if (!track) {
                result.Problem = LineProblem(line, QStringLiteral("INDEX outside a track"));
                return result;
            }
            const auto index = line.Words.size() == 3 ? ParseNumber(line.Words[1], 2) : std::nullopt;
            const auto frames = line.Words.size() == 3 ? ParseMsf(line.Words[2]) : std::nullopt;
            if (!index || !frames) {
                result.Problem =
                    LineProblem(line, QStringLiteral("INDEX needs a number and a time mm:ss:ff"));
                return result;
            }
            if (*index == 0) {
                track->PregapStart = *frames;
            } else if (*index == 1) {
                if (track->Start >= 0) {
                    result.Problem = LineProblem(
                        line, QStringLiteral("track %1 has two INDEX 01 lines").arg(track->Number));
                    return result;
                }
                track->Start = *frames;
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

TDiscImage LoadDiscImage(const QString& path)
{
    TDiscImage image;
    const QFileInfo info(path);
    image.DescriptionPath = info.absoluteFilePath();
    const QString shown = QDir::toNativeSeparators(path);
    auto refuse = [&](const QString& why) {
        image.Problem = QStringLiteral("%1: %2").arg(shown, why);
        image.Tracks.clear();
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

    // Sheets written on Windows name the data file with backslashes, or with the
    // folder it had there; the file beside the sheet is the one meant.
    const QDir folder = info.absoluteDir();
    QString named = description.DataFile;
    named.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QFileInfo data(folder.absoluteFilePath(named));
    if (!data.exists())
        data = QFileInfo(folder.absoluteFilePath(QFileInfo(named).fileName()));
    if (!data.exists())
        return refuse(QStringLiteral("the data file %1 does not exist").arg(description.DataFile));
    if (!data.isFile())
        return refuse(QStringLiteral("the data file %1 is not a file").arg(description.DataFile));
    image.DataPath = data.absoluteFilePath();
    QFile dataFile(image.DataPath);
    if (!dataFile.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("the data file %1 cannot be read: %2")
                          .arg(description.DataFile, dataFile.errorString()));
    const QByteArray head = dataFile.read(12);
    if (head.startsWith("RIFF") && head.mid(8, 4) == "WAVE")
        return refuse(
            QStringLiteral("the data file %1 is a WAV file, not raw CD sectors").arg(description.DataFile));
    const qint64 dataFrames = dataFile.size() / CDFrameBytes;
    if (dataFrames == 0)
        return refuse(QStringLiteral("the data file %1 holds no whole sector").arg(description.DataFile));

    if (image.Format == TImageFormat::Cue) {
        image.LeadOut = dataFrames;
    } else {
        const TImageTrack& last = image.Tracks.back();
        image.LeadOut = last.Length >= 0 ? last.FileStart + last.Length : dataFrames;
    }
    if (image.LeadOut > dataFrames)
        return refuse(
            QStringLiteral("the tracks run past the end of the data file %1").arg(description.DataFile));
    if (image.LeadOut > CDMaxFrames)
        return refuse(QStringLiteral("longer than a CD can be (99:59:74)"));
    for (const TImageTrack& track : image.Tracks) {
        if (track.Start > image.LeadOut)
            return refuse(QStringLiteral("track %1 starts after the end of the data file").arg(track.Number));
    }
    return image;
}
