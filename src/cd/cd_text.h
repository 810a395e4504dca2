#pragma once

#include <QString>

#include <map>

// What a disc says about itself: the CD-Text of a real disc, or the TITLE,
// PERFORMER and REM lines of a CUE sheet. Texts the disc does not carry are
// empty.
struct TCDText {
    QString Artist; // the disc's performer
    QString Album;  // the disc's title
    QString Genre;  // as the disc names it
    QString Year;
    std::map<int, QString> Titles;     // by track number
    std::map<int, QString> Performers; // by track number

    bool IsEmpty() const
    {
        return Artist.isEmpty() && Album.isEmpty() && Genre.isEmpty() && Year.isEmpty() && Titles.empty();
    }

    // The title a track's file is named after: on a disc of several artists the
    // track's own performer comes first ("Performer - Title"). Empty when the
    // disc names no title for the track.
    QString TrackTitle(int track) const
    {
        const auto title = Titles.find(track);
        if (title == Titles.end() || title->second.isEmpty())
            return {};
        const auto performer = Performers.find(track);
        if (performer == Performers.end() || performer->second.isEmpty() || performer->second == Artist)
            return title->second;
        return performer->second + QStringLiteral(" - ") + title->second;
    }
};
