#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <vector>

// The CDDB protocol as a CGI script on a web server speaks it: the commands a
// lookup sends and the answers it reads. Pure functions; the requests
// themselves are TQueryCDDB's.

// A disc as a query names it.
struct TCddbDisc {
    std::uint32_t DiscId = 0;
    std::vector<std::uint32_t> Offsets; // frame of each track's start, the lead-in counted
    std::uint32_t Seconds = 0;          // length of the disc, the lead-in counted
};

// The disc of a layout: track start sectors and the sector where the disc ends.
TCddbDisc CddbDiscOf(const std::vector<std::uint32_t>& trackStarts, std::uint32_t leadOut);

// Eight lower-case hex digits, as the protocol writes a disc id.
QString CddbDiscIdText(std::uint32_t discId);

// "cddb query DISCID N OFFSET... SECONDS"
QString CddbQueryCommand(const TCddbDisc& disc);

// One entry a query found: its category and disc id (both checked to be plain
// words, so they can go back into a read command) and the title the server
// lists for it.
struct CDDBMatch {
    QString Category;
    QString DiscId;
    QString Title;
};

// A lookup reads at most this many of the matches a server lists.
inline constexpr int CDDBMaxMatches = 10;

// "cddb read CATEGORY DISCID"
QString CddbReadCommand(const CDDBMatch& match);

struct TCddbQueryAnswer {
    enum class TKind {
        Matches, // one exact match (200) or a list (210, 211)
        NoMatch, // 202
        Refused, // a status the server gives for an error (4xx, 5xx)
        NotCddb, // no CDDB answer at all
    };
    TKind Kind = TKind::NotCddb;
    // The server's first line, for messages (at most 200 characters).
    QString StatusLine;
    QList<CDDBMatch> Matches; // at most CDDBMaxMatches, in the server's order
};

TCddbQueryAnswer ParseCddbQueryAnswer(const QByteArray& body);

struct TCddbReadAnswer {
    bool Found = false; // status 210
    QString StatusLine;
    // The entry's lines up to the terminating "." (or the end of the answer).
    QByteArray Entry;
};

TCddbReadAnswer ParseCddbReadAnswer(const QByteArray& body);

// Where the requests go: the server setting ("host", "host:port", "[v6]:port",
// or a URL starting with http:// or https://) and the script path. Problem
// says why no URL can be made; empty when Url is usable.
struct TCddbServer {
    QUrl Url;
    QString Problem;
};

TCddbServer CddbServerOf(const QString& server, const QString& script);

// The proxy port setting: its number, or 80 when it is not a port number.
quint16 CddbProxyPort(const QString& text);

// The request for one command: the script's URL with
// cmd=COMMAND&hello=USER+HOST+CLIENT+VERSION&proto=6, blanks as "+".
// user is "name@host", client "name version".
QUrl CddbCommandUrl(const QUrl& server, const QString& command, const QString& user, const QString& client);
