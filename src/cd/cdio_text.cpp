#include "cdio_text.h"

#include <cdio/cdio.h>
#include <cdio/cdtext.h>

namespace {

QString Field(const cdtext_t* text, cdtext_field_t field, track_t track)
{
    const char* value = cdtext_get_const(text, field, track);
    return value ? QString::fromUtf8(value).trimmed() : QString();
}

} // namespace

TCDText CDTextOfCdio(CdIo_t* cdio)
{
    TCDText result;
    cdtext_t* text = cdio ? cdio_get_cdtext(cdio) : nullptr;
    if (!text)
        return result;
    result.Album = Field(text, CDTEXT_FIELD_TITLE, 0);
    result.Artist = Field(text, CDTEXT_FIELD_PERFORMER, 0);
    result.Genre = Field(text, CDTEXT_FIELD_GENRE, 0);
    const cdtext_genre_t genre = cdtext_get_genre(text);
    // The code is checked against the list: libcdio does not check what it hands out.
    if (result.Genre.isEmpty() && genre > CDTEXT_GENRE_UNDEFINED && genre <= CDTEXT_GENRE_WORLD_MUSIC) {
        if (const char* name = cdtext_genre2str(genre))
            result.Genre = QString::fromUtf8(name);
    }
    // The disc's tracks, not those libcdio's text block names: it leaves them
    // unset for texts read from a sheet.
    const int first = cdio_get_first_track_num(cdio);
    const int last = first + cdio_get_num_tracks(cdio) - 1;
    for (int track = first; track >= 1 && track <= last && track <= 99; ++track) {
        const QString title = Field(text, CDTEXT_FIELD_TITLE, static_cast<track_t>(track));
        if (!title.isEmpty())
            result.Titles[track] = title;
        const QString performer = Field(text, CDTEXT_FIELD_PERFORMER, static_cast<track_t>(track));
        if (!performer.isEmpty())
            result.Performers[track] = performer;
    }
    return result;
}
