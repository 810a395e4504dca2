#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// A disc's entry in a CDDB database, as the lookup reads it: lines of
// KEYWORD=value, where a long value continues on further lines of the same
// keyword. Pure functions of their bytes; no threads, no network.

// The most text the lookup keeps of one entry (a buffer of this size holds it
// with its terminating zero).
inline constexpr qsizetype CddbEntryBufferSize = 32000;

// What one entry says about the disc. A field is empty (std::nullopt) when the
// entry does not give it, or gives it with an empty value, so that applying an
// entry never blanks what the user already has.
struct TCddbEntry {
    std::optional<QString> Artist;
    std::optional<QString> Album;
    std::optional<QString> Year;
    // Position in the genre list (exact, case-sensitive name), -1 for a name
    // that is not listed.
    std::optional<int> Genre;
    // Titles[r] is the title of row r, the r-th track of the disc (TTITLEr).
    std::vector<std::optional<QString>> Titles;

    // Whether any row gets a title: the entry has track lines.
    bool HasTrackTitles() const;
};

// Text as a server sends it, cut to fit the entry buffer: everything up to the
// first zero byte, at most CddbEntryBufferSize - 1 bytes, ending at the last
// line break within that when there is one (so no title is half kept) and
// never in the middle of a UTF-8 character.
QByteArray CutCddbText(const QByteArray& bytes, qsizetype limit = CddbEntryBufferSize - 1);

// Decodes text of a CDDB server: UTF-8 when the bytes are valid UTF-8, Latin-1
// otherwise (with the Windows additions in 0x80..0x9F, which are what such
// bytes mean in practice).
QString DecodeCddbText(const QByteArray& bytes);

// Parses an entry for a disc of rowCount tracks. Keywords count only at the
// start of a line; repeated lines of one keyword are joined; TTITLE numbers
// from rowCount on are ignored. The escapes \n and \t become blanks, \\ a
// backslash, and control characters blanks. DTITLE splits at its first "/"
// into artist and album, each trimmed; without a "/" it is the album.
TCddbEntry ParseCddbEntry(const QByteArray& entry, int rowCount);
