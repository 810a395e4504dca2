#include "language.h"

#include "ini_file.h"
#include "program_folder.h"
#include "settings.h"

#include <QRegularExpression>

std::span<const TResString> AllResStrings()
{
#define VELBROOK_LIST_RES(name, text) name,
    static const TResString all[] = {VELBROOK_RES_STRINGS(VELBROOK_LIST_RES)};
#undef VELBROOK_LIST_RES
    return all;
}

bool IsEnglish(const QString& language)
{
    return language.compare(QLatin1String("English"), Qt::CaseInsensitive) == 0;
}

QString LanguageFileName(const QString& language)
{
    return QStringLiteral("CLan_") + language + QStringLiteral(".ini");
}

QString LanguageFilePath(const QString& language)
{
    static const QRegularExpression plainName(QStringLiteral("^[\\w -]+$"),
                                              QRegularExpression::UseUnicodePropertiesOption);
    if (!plainName.match(language).hasMatch())
        return {};
    return FindDataFile(LanguageFileName(language));
}

QString UnescapeLanguageText(const QString& quotedValue)
{
    QString value = quotedValue;
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
        value = value.mid(1, value.size() - 2);
    if (!value.contains(QLatin1Char('\\')))
        return value;
    QString result;
    result.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == QLatin1Char('\\') && i + 1 < value.size()) {
            const QChar next = value.at(i + 1);
            if (next == QLatin1Char('n')) {
                result += QLatin1Char('\n');
                ++i;
                continue;
            }
            if (next == QLatin1Char('r')) {
                result += QLatin1Char('\r');
                ++i;
                continue;
            }
        }
        result += c;
    }
    return result;
}

QString Translate(const QString& key, const QString& builtInText)
{
    const QString language = AppSettings().Language;
    if (IsEnglish(language))
        return builtInText;
    const QString path = LanguageFilePath(language);
    if (path.isEmpty())
        return {};
    TIniFile ini;
    ini.Load(path);
    return UnescapeLanguageText(ini.ReadString(QStringLiteral("ResourceString"), key, QString()));
}

QString Translate(const TResString& text)
{
    return Translate(QLatin1String(text.Key), QString::fromUtf8(text.Text));
}
