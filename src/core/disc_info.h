#pragma once

#include <QString>
#include <array>

// What the program remembers of the disc in hand: album data and track titles.
// One process-wide record, loaded from cdinfo.dat whenever a disc is read and
// written back at shut-down, both on the user-interface thread.
struct TDiscInfo {
    static constexpr int MaxTitles = 100;

    QString Artist;
    QString Album;
    QString Year;
    int Genre = -1; // position in the genre list, -1 none
    QString Comment;
    int TrackCount = 0;
    std::array<QString, MaxTitles + 1> Titles; // slot n is track n; slot 0 unused

    // The title of track n, or an empty text outside 1..MaxTitles.
    QString Title(int n) const;
    void SetTitle(int n, const QString& title);
};

TDiscInfo& DiscInfo();

// Path of cdinfo.dat in the program folder.
QString DiscInfoFilePath();

// "Track" followed by the two-digit number: the title of an unnamed track.
QString DefaultTrackTitle(int n);

// Fill DiscInfo from the disc's section; nothing happens for an empty identity.
void LoadDiscInfo(const QString& discId);

// Write DiscInfo to the disc's section, keeping every other disc. Nothing happens
// for an empty identity (returns true); false when the file could not be written.
bool SaveDiscInfo(const QString& discId);

// Whether the disc's section holds a title of its own (typed or looked up),
// not only the default TrackNN ones: such titles win over what the disc says
// about itself.
bool HasCachedTitles(const QString& discId);
