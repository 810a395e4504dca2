#include "disc_texts.h"

#include "codecs/genre_list.h"
#include "core/disc_info.h"

#include <QRegularExpression>

namespace {

QString Simplified(QString name)
{
    name = name.toLower();
    name.remove(QRegularExpression(QStringLiteral("[^\\p{L}\\p{N}]")));
    if (name.endsWith(QLatin1String("music")) && name.size() > 5)
        name.chop(5);
    return name;
}

// A year as the options dialog holds it: the four digits a date starts with.
QString YearOf(const QString& date)
{
    const QRegularExpressionMatch year = QRegularExpression(QStringLiteral("^\\s*(\\d{4})")).match(date);
    return year.hasMatch() ? year.captured(1) : date.trimmed().left(4);
}

} // namespace

int GenreListPosition(const QString& name)
{
    const QStringList& names = GenreNames();
    const int exact = static_cast<int>(names.indexOf(name));
    if (exact > 0 || name.trimmed().isEmpty())
        return exact > 0 ? exact : -1;
    const QString wanted = Simplified(name);
    for (int i = 1; i < names.size(); ++i) {
        if (Simplified(names[i]) == wanted)
            return i;
    }
    return -1;
}

void TakeDiscTexts(CDHandle drive, const QString& discId)
{
    if (discId.isEmpty() || HasCachedTitles(discId))
        return;
    TCDText text;
    if (ReadCDText(drive, &text) != 1)
        return;
    TDiscInfo& info = DiscInfo();
    for (int track = 1; track <= TDiscInfo::MaxTitles; ++track) {
        const QString title = text.TrackTitle(track);
        if (!title.isEmpty())
            info.SetTitle(track, title);
    }
    // Album data typed for the disc stays.
    if (info.Artist.isEmpty())
        info.Artist = text.Artist;
    if (info.Album.isEmpty())
        info.Album = text.Album;
    if (info.Year.isEmpty())
        info.Year = YearOf(text.Year);
    if (info.Genre <= 0 && !text.Genre.isEmpty())
        info.Genre = GenreListPosition(text.Genre);
}
