// The CDDB entry and answer parsers, byte by byte, and the requests the lookup
// builds from a disc and the settings.
#include "cd/cddb_entry.h"
#include "cd/cddb_protocol.h"

#include "cd_test_support.h"

#include <QStringDecoder>
#include <cddb/cddb.h>
#include <gtest/gtest.h>

namespace {

// An entry in one line: the fields it gives, then each row's title ("-" for none).
QString Summary(const TCddbEntry& entry)
{
    QStringList parts;
    const auto field = [&parts](const char* name, const std::optional<QString>& value) {
        if (value)
            parts.append(QString(name) + "=" + *value);
    };
    field("artist", entry.Artist);
    field("album", entry.Album);
    field("year", entry.Year);
    if (entry.Genre)
        parts.append("genre=" + QString::number(*entry.Genre));
    QStringList titles;
    for (const std::optional<QString>& title : entry.Titles)
        titles.append(title.value_or("-"));
    parts.append("titles=" + titles.join('|'));
    return parts.join("; ");
}

} // namespace

TEST(CddbEntry, ReadsTheFieldsByTheKeywordThatStartsTheLine)
{
    QByteArray twoHundred;
    for (int i = 0; i < 200; ++i)
        twoHundred += "TTITLE" + QByteArray::number(i) + "=T" + QByteArray::number(i) + "\n";
    static const char zero[] = "DTITLE=A / B\n\0TTITLE0=Hidden\n";
    const std::vector<std::tuple<const char*, QByteArray, int, QString>> cases = {
        {"artist and album", "DTITLE=Ann Artist / The Album\nTTITLE0=One\n", 1,
         "artist=Ann Artist; album=The Album; titles=One"},
        {"slash in the artist", "DTITLE=AC/DC / Back\n", 0, "artist=AC; album=DC / Back; titles="},
        {"no slash: only an album", "DTITLE=  Just A Title  \n", 0, "album=Just A Title; titles="},
        {"Blues is listed", "DGENRE=Blues\nDYEAR= 1969 \n", 0, "year=1969; genre=18; titles="},
        {"blues is not", "DGENRE=blues\n", 0, "genre=-1; titles="},
        {"empty values change nothing", "DTITLE=\nDYEAR=\nDGENRE=\nTTITLE0=\nTTITLE1=Two\n", 2,
         "titles=-|Two"},
        {"a title naming a keyword", "DTITLE=A / B\nTTITLE0=Live at DTITLE Hall\nTTITLE1=DYEAR=1900\n", 2,
         "artist=A; album=B; titles=Live at DTITLE Hall|DYEAR=1900"},
        {"continued lines", "DTITLE=X / First\nDTITLE= half\nTTITLE0=A long ti\nTTITLE0=tle\nTTITLE1=Next\n",
         2, "artist=X; album=First half; titles=A long title|Next"},
        {"missing and unordered lines", "TTITLE2=Three\nTTITLE0=One\n", 4, "titles=One|-|Three|-"},
        {"12 tracks, 10 title lines", twoHundred.left(twoHundred.indexOf("TTITLE10")), 12,
         "titles=T0|T1|T2|T3|T4|T5|T6|T7|T8|T9|-|-"},
        {"200 title lines, 4 tracks", twoHundred, 4, "titles=T0|T1|T2|T3"},
        {"comments, CR LF and odd lines",
         "# DTITLE=No / No\r\n\r\nDTITLE=Yes / "
         "Indeed\r\nXTITLE0=x\r\nTTITLE=n\r\nTTITLE-1=m\r\nTTITLE99999=h\r\n",
         1, "artist=Yes; album=Indeed; titles=-"},
        {"escapes and control characters", "TTITLE0=Tab\\there\\nand\\\\slash\x01\x1b[31m\n", 1,
         "titles=Tab here and\\slash  [31m"},
        {"text ends at a zero byte", QByteArray(zero, sizeof zero - 1), 1, "artist=A; album=B; titles=-"},
        {"Latin-1", "DTITLE=Bj\xf6rk / Caf\xe9 \x93Live\x94\n", 0,
         "artist=Björk; album=Café “Live”; titles="},
        {"UTF-8", "DTITLE=Bj\xc3\xb6rk / \xe6\x97\xa5\xe6\x9c\xac\n", 0, "artist=Björk; album=日本; titles="},
    };
    for (const auto& [name, entry, rows, expected] : cases)
        EXPECT_EQ(Summary(ParseCddbEntry(entry, rows)), expected) << name;
    EXPECT_TRUE(ParseCddbEntry("TTITLE1=x\n", 2).HasTrackTitles());
    EXPECT_FALSE(ParseCddbEntry("TTITLE2=x\n", 2).HasTrackTitles());
}

TEST(CddbEntry, TextLongerThanTheBufferIsCutAtALineOrAWholeCharacter)
{
    QByteArray lines = "DTITLE=A / B\n";
    while (lines.size() < 40000)
        lines += "EXTD=" + QByteArray(100, 'x') + "\n";
    const QByteArray cut = CutCddbText(lines + "TTITLE0=Beyond the buffer\n");
    EXPECT_LE(cut.size(), CddbEntryBufferSize - 1);
    EXPECT_TRUE(cut.endsWith('\n') && lines.startsWith(cut));

    // One line of three-byte characters: no half character at the end.
    QByteArray wide = "TTITLE0=";
    while (wide.size() < 40000)
        wide += "\xe6\x97\xa5";
    const QByteArray cutWide = CutCddbText(wide);
    EXPECT_GT(cutWide.size(), CddbEntryBufferSize - 4);
    QStringDecoder decoder(QStringDecoder::Utf8);
    [[maybe_unused]] const QString text = decoder.decode(cutWide);
    EXPECT_FALSE(decoder.hasError());
    // Latin-1 bytes are whole characters each.
    EXPECT_EQ(CutCddbText("TTITLE0=" + QByteArray(40000, '\xe9')).size(), CddbEntryBufferSize - 1);
}

TEST(CddbAnswers, QueryAnswersGiveMatchesOnlyFromWellFormedLines)
{
    using K = TCddbQueryAnswer::TKind;
    const std::vector<std::tuple<const char*, QByteArray, K, QString>> cases = {
        {"exact", "200 rock 18002d04 Artist / Album\r\n", K::Matches, "rock 18002d04 Artist / Album"},
        {"list", "210 Found\r\nmisc 18002d04 A / B\r\nRock 18002D04 C\r\n.\r\n", K::Matches,
         "misc 18002d04 A / B|rock 18002d04 C"},
        {"bad lines skipped",
         "211 close\nrock 1234567 x\nrock&x=1 18002d04 y\njazz 18002d04\n.\nrock 18002d04 z\n", K::Matches,
         "jazz 18002d04 "},
        {"no match", "202 No match for disc ID 18002d04.\r\n", K::NoMatch, ""},
        {"refused", "409 No handshake.\r\n", K::Refused, ""},
        {"an empty list", "211 close matches\r\n.\r\n", K::NotCddb, ""},
        {"a match without an id", "200 rock\r\n", K::NotCddb, ""},
        {"HTML", "<html><body>It works!</body></html>", K::NotCddb, ""},
        {"four digits", "2000 rock 18002d04 x\r\n", K::NotCddb, ""},
    };
    for (const auto& [name, body, kind, matches] : cases) {
        const TCddbQueryAnswer answer = ParseCddbQueryAnswer(body);
        EXPECT_EQ(answer.Kind, kind) << name;
        QStringList found;
        for (const CDDBMatch& match : answer.Matches)
            found.append(match.Category + ' ' + match.DiscId + ' ' + match.Title);
        EXPECT_EQ(found.join('|'), matches) << name;
    }
    QByteArray many = "210 many\n";
    for (int i = 0; i < 25; ++i)
        many += "rock " + QByteArray::number(0x10000000 + i, 16) + " Title\n";
    EXPECT_EQ(ParseCddbQueryAnswer(many + ".\n").Matches.size(), CDDBMaxMatches);
}

TEST(CddbRequests, TheQueryNamesTheDiscAsLibcddbComputesIt)
{
    // The demo disc, and a disc that ends with a data track (an Enhanced CD).
    for (const auto& [starts, leadOut] : std::vector<std::pair<std::vector<std::uint32_t>, std::uint32_t>>{
             {{0, 1050, 1755, 1800}, 3387}, {{0, 20000, 45000, 80000}, 300000}}) {
        cddb_disc_t* reference = cddb_disc_new();
        for (std::uint32_t start : starts) {
            cddb_track_t* track = cddb_track_new();
            cddb_track_set_frame_offset(track, static_cast<int>(start + 150));
            cddb_disc_add_track(reference, track);
        }
        cddb_disc_set_length(reference, static_cast<unsigned>((leadOut + 150) / 75));
        cddb_disc_calc_discid(reference);
        EXPECT_EQ(CddbDiscOf(starts, leadOut).DiscId, cddb_disc_get_discid(reference));
        cddb_disc_destroy(reference);
    }
    EXPECT_EQ(CddbQueryCommand(CddbDiscOf({0, 1050, 1755, 1800}, 3387)),
              "cddb query 18002d04 4 150 1200 1905 1950 47");
}

TEST(CddbRequests, ServerSettingsBecomeTheScriptsAddress)
{
    const std::vector<std::tuple<const char*, const char*, const char*>> cases = {
        {"gnudb.gnudb.org", "/~cddb/cddb.cgi", "http://gnudb.gnudb.org/~cddb/cddb.cgi"},
        {" 127.0.0.1:8080 ", "~cddb/cddb.cgi", "http://127.0.0.1:8080/~cddb/cddb.cgi"},
        {"[::1]:8880", "/cgi", "http://[::1]:8880/cgi"},
        {"https://gnudb.org", "/~cddb/cddb.cgi", "https://gnudb.org/~cddb/cddb.cgi"},
        {"http://example.org/other.cgi?x=1", "/~cddb/cddb.cgi", "http://example.org/other.cgi"},
        {"host:0", "/s", ""},
        {"host:http", "/s", ""},
        {"a host", "/s", ""},
        {"user@host", "/s", ""},
        {"ftp://host", "/s", ""},
        {"", "/s", ""},
    };
    for (const auto& [text, script, url] : cases) {
        const TCddbServer server = CddbServerOf(text, script);
        EXPECT_EQ(server.Url.toString(), url) << text;
        EXPECT_EQ(server.Problem.isEmpty(), *url != 0) << text;
    }
    for (const auto& [text, port] : std::vector<std::pair<const char*, int>>{
             {"3128", 3128}, {" 8080 ", 8080}, {"", 80}, {"http", 80}, {"0", 80}, {"70000", 80}, {"-1", 80}})
        EXPECT_EQ(CddbProxyPort(text), port) << text;
    EXPECT_EQ(
        CddbCommandUrl(QUrl("http://h/~cddb/cddb.cgi"), "cddb read rock 18002d04", "velbrook@localhost",
                       "program 1.0")
            .toString(QUrl::FullyEncoded),
        "http://h/~cddb/cddb.cgi?cmd=cddb+read+rock+18002d04&hello=velbrook+localhost+program+1.0&proto=6");
}
