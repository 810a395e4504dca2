// The CDDB lookup against a real server process on 127.0.0.1 (and a real
// proxy), with disc images as the drive.
#include "cd/query_cddb.h"

#include "cd_test_support.h"
#include "support/cddb_test_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using TOutcome = TCddbLookupResult::TOutcome;

namespace {

std::optional<QString> T(const char* text)
{
    return QString::fromUtf8(text);
}

class TCddbLookupTest : public ::testing::Test {
protected:
    TCdTest Cd;
    TReportCollector Messages;
    CDHandle Drive = 0;
    int FirstTrack = 1;
    int LastTrack = 1;

    // Makes the demo disc (or another) the drive and opens it.
    void UseDisc(const TImageSpec& spec = DemoDiscSpec())
    {
        Cd.UseImage(QStringLiteral("disc.cue"), spec);
        Drive = Cd.Open();
        ASSERT_NE(Drive, 0u);
        ASSERT_EQ(ModifyCDParms(Drive, CDP_MSF, 1), 1);
        CDTOC toc{};
        ASSERT_EQ(ReadTOC(Drive, &toc), 1);
        FirstTrack = toc.FirstTrack;
        LastTrack = toc.LastTrack;
    }

    // The CDDB id of the drive's disc, as the disc cache knows it.
    QString DiscId() const { return CddbDiscIdText(static_cast<std::uint32_t>(GetDiscId().toInt())); }

    static TCddbOptions At(const TCddbTestServer& server)
    {
        TCddbOptions options;
        options.Server = server.Address();
        options.Script = QStringLiteral("/~cddb/cddb.cgi");
        return options;
    }

    // Runs a lookup until its message arrives (or a minute has passed).
    TCddbLookupResult Look(const TCddbOptions& options, std::chrono::milliseconds whole = 30s)
    {
        TQueryCDDB lookup(&Messages, FirstTrack, LastTrack, Drive, options);
        lookup.SetTimeouts(10s, whole);
        lookup.Start();
        QElapsedTimer clock;
        clock.start();
        while (Messages.Reports.empty() && clock.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        EXPECT_EQ(Messages.Reports.size(), 1u);
        EXPECT_FALSE(lookup.Running());
        return lookup.Result();
    }

    qint64 LastMessage() const { return Messages.Reports.empty() ? -1 : Messages.Reports.back().WParam; }
};

QByteArray Entry(const QByteArray& discTitle, const QList<QByteArray>& titles, const QByteArray& more = {})
{
    QByteArray entry = "# xmcd\n#\nDTITLE=" + discTitle + "\n" + more;
    for (int i = 0; i < titles.size(); ++i)
        entry += "TTITLE" + QByteArray::number(i) + "=" + titles[i] + "\n";
    return entry + "EXTD=\nPLAYORDER=\n";
}

} // namespace

TEST_F(TCddbLookupTest, FindsTheDemoDiscWithOneQueryAndOneRead)
{
    UseDisc();
    TCddbTestServer server;
    const TCddbLookupResult result = Look(At(server));
    EXPECT_EQ(LastMessage(), 7);
    ASSERT_EQ(result.Outcome, TOutcome::Found) << result.Problem.toStdString();
    EXPECT_EQ(result.Source, "rock 18002d04");
    EXPECT_EQ(result.Entry.Artist, T("The Velbrook Players"));
    EXPECT_EQ(result.Entry.Album, T("Synthesized Sketches"));
    EXPECT_EQ(result.Entry.Year, T("2024"));
    EXPECT_EQ(result.Entry.Genre, 48); // Electronic
    EXPECT_EQ(result.Entry.Titles,
              (std::vector<std::optional<QString>>{T("Morning Tone"), T("Second Voice: \"Echo\""), T("Blip"),
                                                   T("Long Goodbye")}));
    // The server matched the offsets and length its entry lists: the query
    // describes the disc exactly.
    EXPECT_EQ(server.Requests(),
              (QStringList{"GET /~cddb/cddb.cgi?cmd=cddb+query+18002d04+4+150+1200+1905+1950+47"
                           "&hello=velbrook+localhost+program+1.0&proto=6 HTTP/1.1",
                           "GET /~cddb/cddb.cgi?cmd=cddb+read+rock+18002d04"
                           "&hello=velbrook+localhost+program+1.0&proto=6 HTTP/1.1"}));
}

TEST_F(TCddbLookupTest, TheFirstMatchWithTrackLinesWinsAndEarlierDiscFieldsStay)
{
    UseDisc(TImageSpec{TImageFormat::Cue, {{300, 0, false, 1, 0}, {450, 0, false, 1, 1}}});
    TCddbTestServer server;
    server.AddEntry("blues", DiscId(), Entry("Early / Draft", {}, "DYEAR=1999\nDGENRE=Blues\n"));
    server.AddEntry("misc", DiscId(), Entry("Right Artist / Right Album", {"First", "Second"}));
    server.AddEntry("rock", DiscId(), Entry("Too Late / Never Read", {"No", "No"}));
    const TCddbLookupResult result = Look(At(server));
    ASSERT_EQ(result.Outcome, TOutcome::Found) << result.Problem.toStdString();
    EXPECT_EQ(result.Source, "misc " + DiscId());
    EXPECT_EQ(result.Entry.Artist, T("Right Artist"));
    EXPECT_EQ(result.Entry.Year, T("1999"));
    EXPECT_EQ(result.Entry.Genre, 18);
    EXPECT_EQ(result.Entry.Titles, (std::vector<std::optional<QString>>{T("First"), T("Second")}));
    EXPECT_EQ(server.Requests().size(), 3); // the query, blues, misc
}

// Each server answer that is not an entry ends the lookup with a clear outcome
// and nothing to apply.
TEST_F(TCddbLookupTest, AnswersThatAreNoEntryEndTheLookupSayingWhy)
{
    UseDisc();
    static const char withNul[] = "210 rock 18002d04\r\nDTITLE=A / B\r\n\0TTITLE0=x\r\n.\r\n";
    struct TCase {
        const char* Name;
        QStringList Arguments;
        std::optional<QByteArray> QueryAnswer; // replaces the server's own answer
        std::optional<QByteArray> ReadAnswer;
        TOutcome Outcome;
        qint64 Message;
        const char* Problem;
    };
    // clang-format off
    const std::vector<TCase> cases = {
        {"HTTP error", {"--http-status", "500"}, {}, {}, TOutcome::Failed, 7, "HTTP 500"},
        {"CDDB error", {}, "402 Server error.\r\n", {}, TOutcome::Failed, 7, "refused the query: \"402 Server error.\""},
        {"garbage", {}, "<html>\x1b[2J\x01 It works!</html>", {}, TOutcome::Failed, 7, "no CDDB answer (\"<html>?[2J?"},
        {"200 with an empty body", {}, "", {}, TOutcome::Failed, 7, "sent an empty answer"},
        {"no match", {}, "202 No match for disc ID 18002d04.\r\n", {}, TOutcome::NoMatch, 6, "knows no such disc"},
        {"entry missing", {}, {}, "401 rock 18002d04 No such CD entry in database.\r\n", TOutcome::NoTitles, 7,
         "did not give the entry rock 18002d04"},
        {"a zero byte before the titles", {}, {}, QByteArray(withNul, sizeof withNul - 1), TOutcome::NoTitles, 7,
         "holds track titles"},
    };
    // clang-format on
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Messages.Reports.clear();
        QStringList arguments = c.Arguments;
        if (c.QueryAnswer) {
            Cd.Home.Write("query", *c.QueryAnswer);
            arguments << "--query-answer" << Cd.Home.File("query");
        }
        if (c.ReadAnswer) {
            Cd.Home.Write("read", *c.ReadAnswer);
            arguments << "--read-answer" << Cd.Home.File("read");
        }
        TCddbTestServer server(arguments);
        const TCddbLookupResult result = Look(At(server));
        EXPECT_EQ(result.Outcome, c.Outcome);
        EXPECT_EQ(LastMessage(), c.Message);
        EXPECT_TRUE(result.Problem.contains(c.Problem)) << result.Problem.toStdString();
        if (c.Outcome == TOutcome::NoMatch) {
            EXPECT_EQ(Messages.Reports.back().LParam, TQueryCDDB::ErrorNoMatch);
        }
        EXPECT_FALSE(result.Entry.HasTrackTitles());
    }
}

TEST_F(TCddbLookupTest, AServerThatNeverAnswersTimesOut)
{
    UseDisc();
    TCddbTestServer server({"--hang"});
    const TCddbLookupResult result = Look(At(server), 1500ms);
    EXPECT_EQ(result.Outcome, TOutcome::Failed);
    EXPECT_EQ(LastMessage(), 7);
    EXPECT_TRUE(result.Problem.contains("did not answer within 1.5 seconds")) << result.Problem.toStdString();
}

TEST_F(TCddbLookupTest, TheProxyCarriesEveryRequestWhenSet)
{
    UseDisc();
    TCddbTestServer server;
    TCddbTestServer proxy({"--proxy"});
    TCddbOptions options = At(server);
    options.UseProxy = true;
    options.ProxyAddress = "127.0.0.1";
    options.ProxyPort = QString::number(proxy.Port());
    const TCddbLookupResult result = Look(options);
    ASSERT_EQ(result.Outcome, TOutcome::Found) << result.Problem.toStdString();
    const QStringList requests = proxy.Requests();
    ASSERT_EQ(requests.size(), 2);
    EXPECT_TRUE(
        requests[0].startsWith("GET http://" + server.Address() + "/~cddb/cddb.cgi?cmd=cddb+query+18002d04"))
        << requests[0].toStdString();
    EXPECT_EQ(server.Requests().size(), 2);

    // Set to be used but without an address: nothing goes out directly.
    Messages.Reports.clear();
    options.ProxyAddress = " ";
    EXPECT_EQ(Look(options).Outcome, TOutcome::Failed);
    EXPECT_EQ(server.Requests().size(), 2);
}

TEST_F(TCddbLookupTest, HostileAndForeignEntriesGiveClearTitles)
{
    UseDisc();
    QByteArray huge = "DTITLE=Huge / Entry\n";
    while (huge.size() < 40000)
        huge += "EXTD=" + QByteArray(200, 'z') + "\n";
    struct TCase {
        const char* Name;
        QByteArray Entry;
        std::optional<QString> Artist;
        std::vector<std::optional<QString>> Titles;
    };
    // clang-format off
    const std::vector<TCase> cases = {
        {"Latin-1", "DTITLE=Mot\xf6rhead / Ac\xe9 of Spades\nTTITLE0=\xc0 la carte\n", T("Motörhead"),
         {T("À la carte"), {}, {}, {}}},
        {"40 000 bytes, titles past the buffer", huge + "TTITLE0=Lost\n", T("Huge"), {{}, {}, {}, {}}},
        {"40 000 bytes, titles first", "TTITLE0=Kept\nTTITLE3=Also\n" + huge, T("Huge"), {T("Kept"), {}, {}, T("Also")}},
    };
    // clang-format on
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Messages.Reports.clear();
        TCddbTestServer server;
        server.AddEntry("rock", "18002d04", c.Entry);
        const TCddbLookupResult result = Look(At(server));
        EXPECT_EQ(result.Entry.Artist, c.Artist);
        if (c.Titles[0] || c.Titles[3]) {
            EXPECT_EQ(result.Outcome, TOutcome::Found);
            EXPECT_EQ(result.Entry.Titles, c.Titles);
        } else {
            EXPECT_EQ(result.Outcome, TOutcome::NoTitles);
        }
    }
}

TEST_F(TCddbLookupTest, AnEnhancedCdIsAskedForWithItsDataTrack)
{
    // Two audio tracks, then a data track in a second session: the list shows
    // two tracks, CDDB counts three.
    UseDisc(
        TImageSpec{TImageFormat::Cue, {{600, 0, false, 1, 0}, {750, 0, false, 1, 1}, {900, 0, true, 2, 0}}});
    ASSERT_EQ(LastTrack - FirstTrack + 1, 2);
    TCddbTestServer server;
    server.AddEntry("data", DiscId(), Entry("Mixed / Disc", {"Audio One", "Audio Two", "Data"}));
    const TCddbLookupResult result = Look(At(server));
    ASSERT_EQ(result.Outcome, TOutcome::Found) << result.Problem.toStdString();
    EXPECT_EQ(result.Entry.Titles, (std::vector<std::optional<QString>>{T("Audio One"), T("Audio Two")}));
    EXPECT_TRUE(server.Requests().value(0).contains("cmd=cddb+query+" + DiscId() + "+3+150+750+"))
        << server.Requests().value(0).toStdString();
}
