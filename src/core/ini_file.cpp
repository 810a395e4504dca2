#include "ini_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

namespace {

bool SameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString DecodeText(QByteArray bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    // Files written by older programs are often Latin-1; read them as such rather
    // than turning their accents into replacement characters.
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    return text;
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
    Lines.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    LoadFromBytes(file.readAll());
    return true;
}

void TIniFile::LoadFromBytes(const QByteArray& bytes)
{
    Lines.clear();
    const QString text = DecodeText(bytes);
    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start < size) {
        qsizetype end = start;
        while (end < size && text.at(end) != QLatin1Char('\n') && text.at(end) != QLatin1Char('\r'))
            ++end;
        TLine line;
        line.Text = text.mid(start, end - start);
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
        // One line break is "\n", "\r\n" or a lone "\r".
        if (end < size && text.at(end) == QLatin1Char('\r') && end + 1 < size &&
            text.at(end + 1) == QLatin1Char('\n'))
            ++end;
        start = end + 1;
    }
}

QByteArray TIniFile::ToBytes() const
{
    QString text;
    for (const TLine& line : Lines) {
        text += line.Text;
        text += QLatin1Char('\n');
    }
    return text.toUtf8();
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

    TLine line;
    line.Kind = TLineKind::Key;
    line.Value = oneLine.trimmed();

    int sectionLine = FindSection(section);
    if (sectionLine >= 0) {
        const int keyLine = FindKey(sectionLine, key);
        if (keyLine >= 0) {
            TLine& existing = Lines[static_cast<size_t>(keyLine)];
            existing.Value = line.Value;
            existing.Text = existing.Name + QLatin1Char('=') + oneLine;
            return;
        }
        // Insert after the section's last non-blank line, so blank lines that
        // separate it from the next section stay where they are.
        size_t insertAt = static_cast<size_t>(sectionLine) + 1;
        for (size_t i = insertAt; i < Lines.size() && Lines[i].Kind != TLineKind::Section; ++i) {
            if (!Lines[i].Text.trimmed().isEmpty())
                insertAt = i + 1;
        }
        line.Name = key;
        line.Text = key + QLatin1Char('=') + oneLine;
        Lines.insert(Lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
        return;
    }
    if (!Lines.empty() && !Lines.back().Text.trimmed().isEmpty())
        Lines.push_back(TLine{});
    TLine header;
    header.Kind = TLineKind::Section;
    header.Name = section;
    header.Text = QLatin1Char('[') + section + QLatin1Char(']');
    Lines.push_back(std::move(header));
    line.Name = key;
    line.Text = key + QLatin1Char('=') + oneLine;
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
