#include "ini_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool SameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Files written by older programs are often Latin-1; such a line reads as Latin-1
// rather than with replacement characters, and the UTF-8 lines around it stay
// UTF-8.
QString DecodeLine(QByteArrayView bytes)
{
    return bytes.isValidUtf8() ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
}

// The whole regular file at path; false for anything else. A FIFO or a device
// is never opened for reading: that could wait forever or never end.
bool ReadRegularFile(const QString& path, QByteArray* bytes)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat status {};
    if (::stat(native.constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    // The entry may have been replaced since the look above.
    bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= TIniFile::MaxFileSize;
    QByteArray data;
    char buffer[65536];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        data.append(buffer, n);
        ok = data.size() <= TIniFile::MaxFileSize;
    }
    ::close(fd);
    if (ok)
        *bytes = std::move(data);
    return ok;
}

// Cuts at most MaxValueLength UTF-16 units without splitting a surrogate pair.
QString CutValue(const QString& value)
{
    if (value.size() <= TIniFile::MaxValueLength)
        return value;
    qsizetype length = TIniFile::MaxValueLength;
    if (value.at(length - 1).isHighSurrogate())
        --length;
    return value.left(length);
}

} // namespace

bool TIniFile::Load(const QString& path)
{
    QByteArray bytes;
    if (!ReadRegularFile(path, &bytes)) {
        LoadFromBytes({});
        return false;
    }
    LoadFromBytes(bytes);
    return true;
}

bool TIniFile::IsNotAFile(const QString& path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return false;
    return !S_ISREG(status.st_mode) || status.st_size > MaxFileSize;
}

void TIniFile::LoadFromBytes(const QByteArray& input)
{
    Lines.clear();
    Bom = input.startsWith("\xEF\xBB\xBF");
    FileBreak = QByteArrayLiteral("\n");
    bool breakFound = false;
    const QByteArrayView bytes = QByteArrayView(input).sliced(Bom ? 3 : 0);
    const qsizetype size = bytes.size();
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = start;
        while (end < size && bytes[end] != '\n' && bytes[end] != '\r')
            ++end;
        // One line break is "\n", "\r\n" or a lone "\r".
        qsizetype next = end;
        if (end < size) {
            next = end + 1;
            if (bytes[end] == '\r' && next < size && bytes[next] == '\n')
                ++next;
        }
        TLine line;
        line.Bytes = bytes.sliced(start, end - start).toByteArray();
        line.Break = bytes.sliced(end, next - end).toByteArray();
        if (!breakFound && !line.Break.isEmpty()) {
            FileBreak = line.Break;
            breakFound = true;
        }
        line.Text = DecodeLine(line.Bytes);
        const QString trimmed = line.Text.trimmed();
        if (trimmed.startsWith(QLatin1Char('['))) {
            const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
            line.Kind = TLineKind::Section;
            line.Name = (close < 0 ? trimmed.mid(1) : trimmed.mid(1, close - 1)).trimmed();
        } else if (!trimmed.startsWith(QLatin1Char(';')) && !trimmed.startsWith(QLatin1Char('#'))) {
            const qsizetype equals = line.Text.indexOf(QLatin1Char('='));
            if (equals >= 0) {
                line.Kind = TLineKind::Key;
                line.Name = line.Text.left(equals).trimmed();
                line.Value = line.Text.mid(equals + 1).trimmed();
            }
        }
        Lines.push_back(std::move(line));
        start = next;
    }
}

QByteArray TIniFile::ToBytes() const
{
    QByteArray bytes;
    if (Bom)
        bytes += "\xEF\xBB\xBF";
    for (size_t i = 0; i < Lines.size(); ++i) {
        bytes += Lines[i].Bytes;
        // A last line read without a break keeps having none, unless lines
        // were added after it.
        if (!Lines[i].Break.isEmpty())
            bytes += Lines[i].Break;
        else if (i + 1 < Lines.size())
            bytes += FileBreak;
    }
    return bytes;
}

TIniFile::TLine TIniFile::NewLine(TLineKind kind, const QString& name, const QString& text) const
{
    TLine line;
    line.Kind = kind;
    line.Name = name;
    line.Text = text;
    line.Bytes = text.toUtf8();
    line.Break = FileBreak;
    return line;
}

bool TIniFile::Save(const QString& path) const
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = ToBytes();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

int TIniFile::FindSection(const QString& section) const
{
    for (size_t i = 0; i < Lines.size(); ++i) {
        if (Lines[i].Kind == TLineKind::Section && SameName(Lines[i].Name, section))
            return static_cast<int>(i);
    }
    return -1;
}

int TIniFile::FindKey(int sectionLine, const QString& key) const
{
    for (size_t i = static_cast<size_t>(sectionLine) + 1; i < Lines.size(); ++i) {
        if (Lines[i].Kind == TLineKind::Section)
            break;
        if (Lines[i].Kind == TLineKind::Key && SameName(Lines[i].Name, key))
            return static_cast<int>(i);
    }
    return -1;
}

int TIniFile::FindKeyLine(const QString& section, const QString& key) const
{
    const int sectionLine = FindSection(section);
    return sectionLine < 0 ? -1 : FindKey(sectionLine, key);
}

bool TIniFile::HasSection(const QString& section) const
{
    return FindSection(section) >= 0;
}

bool TIniFile::HasKey(const QString& section, const QString& key) const
{
    return FindKeyLine(section, key) >= 0;
}

QStringList TIniFile::Sections() const
{
    QStringList result;
    for (const TLine& line : Lines) {
        if (line.Kind == TLineKind::Section && !result.contains(line.Name, Qt::CaseInsensitive))
            result.append(line.Name);
    }
    return result;
}

QStringList TIniFile::Keys(const QString& section) const
{
    QStringList result;
    const int sectionLine = FindSection(section);
    if (sectionLine < 0)
        return result;
    for (size_t i = static_cast<size_t>(sectionLine) + 1; i < Lines.size(); ++i) {
        if (Lines[i].Kind == TLineKind::Section)
            break;
        if (Lines[i].Kind == TLineKind::Key && !result.contains(Lines[i].Name, Qt::CaseInsensitive))
            result.append(Lines[i].Name);
    }
    return result;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const
{
    const int line = FindKeyLine(section, key);
    if (line < 0)
        return def;
    return CutValue(Lines[static_cast<size_t>(line)].Value);
}

bool TIniFile::ParseInteger(const QString& text, int& value)
{
    QString digits = text.trimmed();
    bool negative = false;
    if (digits.startsWith(QLatin1Char('-')) || digits.startsWith(QLatin1Char('+'))) {
        negative = digits.startsWith(QLatin1Char('-'));
        digits.remove(0, 1);
    }
    if (digits.isEmpty())
        return false;
    bool ok = false;
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        const QString hex = digits.mid(2);
        if (hex.isEmpty() || hex.size() > 8)
            return false;
        for (const QChar c : hex) {
            const bool isHex = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                               (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
                               (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
            if (!isHex)
                return false;
        }
        // Eight hex digits are a 32-bit pattern: 0xFFFFFFFF reads as -1.
        const quint32 bits = hex.toUInt(&ok, 16);
        if (!ok)
            return false;
        const qint64 signedValue = static_cast<qint32>(bits);
        value = static_cast<int>(negative ? -signedValue : signedValue);
        return true;
    }
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    const qint64 magnitude = digits.toLongLong(&ok, 10);
    if (!ok)
        return false;
    const qint64 result = negative ? -magnitude : magnitude;
    if (result < INT32_MIN || result > INT32_MAX)
        return false;
    value = static_cast<int>(result);
    return true;
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int def) const
{
    int value = 0;
    if (!ParseInteger(ReadString(section, key, QString()), value))
        return def;
    return value;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    QString oneLine = value;
    oneLine.replace(QLatin1String("\r\n"), QLatin1String(" "));
    oneLine.replace(QLatin1Char('\r'), QLatin1Char(' '));
    oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString trimmed = oneLine.trimmed();

    int sectionLine = FindSection(section);
    if (sectionLine >= 0) {
        const int keyLine = FindKey(sectionLine, key);
        if (keyLine >= 0) {
            TLine& existing = Lines[static_cast<size_t>(keyLine)];
            // The value as it reads (a long one cut) written back is no change:
            // the line keeps its bytes, its spacing and its encoding.
            if (trimmed == existing.Value || trimmed == CutValue(existing.Value))
                return;
            existing.Value = trimmed;
            existing.Text = existing.Name + QLatin1Char('=') + oneLine;
            existing.Bytes = existing.Text.toUtf8();
            return;
        }
        // Insert after the section's last non-blank line, so blank lines that
        // separate it from the next section stay where they are.
        size_t insertAt = static_cast<size_t>(sectionLine) + 1;
        for (size_t i = insertAt; i < Lines.size() && Lines[i].Kind != TLineKind::Section; ++i) {
            if (!Lines[i].Text.trimmed().isEmpty())
                insertAt = i + 1;
        }
        TLine line = NewLine(TLineKind::Key, key, key + QLatin1Char('=') + oneLine);
        line.Value = trimmed;
        Lines.insert(Lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
        return;
    }
    if (!Lines.empty() && !Lines.back().Text.trimmed().isEmpty())
        Lines.push_back(NewLine(TLineKind::Other, QString(), QString()));
    Lines.push_back(NewLine(TLineKind::Section, section, QLatin1Char('[') + section + QLatin1Char(']')));
    TLine line = NewLine(TLineKind::Key, key, key + QLatin1Char('=') + oneLine);
    line.Value = trimmed;
    Lines.push_back(std::move(line));
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value)
{
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteBool(const QString& section, const QString& key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}
