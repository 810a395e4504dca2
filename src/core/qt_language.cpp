#include "qt_language.h"

#include "language.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

namespace {

struct TMenuLanguage {
    const char* Name;
    const char* Locale;
};

// The Language menu's languages other than English and Other. Portuguese has
// only the Brazilian Qt translation in Debian; its texts serve Portugal too.
constexpr TMenuLanguage MenuLanguages[] = {
    {"Arabic", "ar"},      {"Chinese", "zh_CN"}, {"Czech", "cs"},     {"Danish", "da"},    {"French", "fr"},
    {"German", "de"},      {"Greek", "el"},      {"Hungarian", "hu"}, {"Italian", "it"},   {"Latvian", "lv"},
    {"Netherlands", "nl"}, {"Portuguese", "pt"}, {"Russian", "ru"},   {"Slovenian", "sl"}, {"Spanish", "es"},
    {"Swedish", "sv"},     {"Turkish", "tr"},
};

// The translation in force; replaced whole on every change of language.
std::unique_ptr<QTranslator>& QtTranslator()
{
    static std::unique_ptr<QTranslator> translator;
    return translator;
}

} // namespace

QString QtLocaleName(const QString& language)
{
    if (IsEnglish(language))
        return {};
    if (language.compare(QLatin1String("Other"), Qt::CaseInsensitive) == 0) {
        const QLocale system = QLocale::system();
        return system.language() == QLocale::C || system.language() == QLocale::English ? QString()
                                                                                        : system.name();
    }
    for (const TMenuLanguage& entry : MenuLanguages) {
        if (language.compare(QLatin1String(entry.Name), Qt::CaseInsensitive) == 0)
            return QLatin1String(entry.Locale);
    }
    return {};
}

Qt::LayoutDirection LanguageDirection(const QString& language)
{
    const QString locale = QtLocaleName(language);
    return locale.isEmpty() ? Qt::LeftToRight : QLocale(locale).textDirection();
}

bool ApplyQtLanguage(const QString& language)
{
    std::unique_ptr<QTranslator>& current = QtTranslator();
    if (current) {
        QCoreApplication::removeTranslator(current.get());
        current.reset();
    }
    const QString locale = QtLocaleName(language);
    if (!locale.isEmpty()) {
        auto translator = std::make_unique<QTranslator>();
        // Tries qtbase_de_DE.qm, then qtbase_de.qm, and so on.
        if (translator->load(QLocale(locale), QStringLiteral("qtbase"), QStringLiteral("_"),
                             QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
            QCoreApplication::installTranslator(translator.get()))
            current = std::move(translator);
    }
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QGuiApplication::setLayoutDirection(LanguageDirection(language));
    return current != nullptr;
}
