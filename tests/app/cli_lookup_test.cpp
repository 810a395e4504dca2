// velbrook --lookup and --extract --lookup as a user runs them, against a
// real CDDB server process on 127.0.0.1.
#include "cd/image_writer.h"
#include "core/ini_file.h"

#include "cli_test_support.h"
#include "support/cddb_test_server.h"

#include <gtest/gtest.h>

namespace {

std::string Text(const TCliResult& result)
{
    return QStringLiteral("exit %1\n--- stdout\n%2--- stderr\n%3")
        .arg(result.ExitCode)
        .arg(result.Out, result.Err)
        .toStdString();
}

// The demo disc as an image and options.ini naming the server.
class TCliLookup {
public:
    explicit TCliLookup(const QString& server)
    {
        Disc = Cli.Home.File("demo.cue");
        EXPECT_EQ(WriteDemoDisc(Disc), "");
        Cli.Home.Write("options.ini",
                       "[QueryCDDB]\nServer=" + server.toUtf8() + "\n[CommonOptions]\nOutputFormat=1\n");
    }

    TCliResult Run(const QStringList& arguments)
    {
        return Cli.Run(arguments + QStringList{"--cd-image", Disc});
    }

    QString Cached(const QString& key)
    {
        TIniFile cache;
        cache.Load(Cli.Home.File("cdinfo.dat"));
        return cache.ReadString(TCliTest::DiscIdOf(Disc), key, "");
    }

    TCliTest Cli;
    QString Disc;
};

} // namespace

TEST(CommandLineLookup, PrintsWhatItFoundAndKeepsItForTheDisc)
{
    TCddbTestServer server;
    TCliLookup cli(server.Address());
    const TCliResult result = cli.Run({"--lookup"});
    ASSERT_EQ(result.ExitCode, 0) << Text(result);
    EXPECT_EQ(result.Out, "Artist: The Velbrook Players\nAlbum:  Synthesized Sketches\nYear:   2024\n"
                          "Genre:  Electronic\n01  Morning Tone\n02  Second Voice: \"Echo\"\n03  Blip\n"
                          "04  Long Goodbye\n");
    EXPECT_TRUE(result.Err.contains("found as rock 18002d04")) << Text(result);
    EXPECT_EQ(cli.Cached("Album"), "Synthesized Sketches");
    EXPECT_EQ(cli.Cached("4"), "Long Goodbye");
}

TEST(CommandLineLookup, ExtractLooksUpFirstAndGoesOnWithTheTitlesItHasWhenThatFails)
{
    {
        TCddbTestServer server;
        TCliLookup cli(server.Address());
        const TCliResult result = cli.Run({"--extract", "--lookup", "--tracks", "1,2"});
        ASSERT_EQ(result.ExitCode, 0) << Text(result);
        EXPECT_EQ(Listing(cli.Cli.Home.File("Output")), "Morning Tone.wav, Second Voice \"Echo\".wav");
        EXPECT_EQ(cli.Cached("Artist"), "The Velbrook Players");
    }
    quint16 closedPort = 0;
    {
        TCddbTestServer gone;
        closedPort = gone.Port();
    }
    TCliLookup cli(QStringLiteral("127.0.0.1:%1").arg(closedPort));
    cli.Cli.CacheTitles(cli.Disc, {"Typed One", "Typed Two"});
    const TCliResult result = cli.Run({"--extract", "--lookup", "--tracks", "1-2"});
    ASSERT_EQ(result.ExitCode, 0) << Text(result);
    EXPECT_TRUE(result.Err.contains(
        "the lookup failed: the CDDB server 127.0.0.1:" + QString::number(closedPort) + " cannot be reached"))
        << Text(result);
    EXPECT_EQ(Listing(cli.Cli.Home.File("Output")), "Typed One.wav, Typed Two.wav");
}

TEST(CommandLineLookup, NothingFoundEndsWithOneAndSaysWhy)
{
    TCddbTestServer noMatch;
    noMatch.AddEntry("rock", "18002d04", "# Track frame offsets:\n#\t1\n#\nDTITLE=Other / Disc\n");
    TCddbTestServer failing({"--http-status", "500"});
    for (const auto& [server, says] : std::vector<std::pair<const TCddbTestServer*, QString>>{
             {&noMatch, "no match: the CDDB server " + noMatch.Address() + " knows no such disc"},
             {&failing,
              "the lookup failed: the CDDB server " + failing.Address() + " answered \"HTTP 500"}}) {
        TCliLookup cli(server->Address());
        const TCliResult result = cli.Run({"--lookup"});
        EXPECT_EQ(result.ExitCode, 1) << Text(result);
        EXPECT_TRUE(result.Err.contains(says)) << Text(result);
        EXPECT_EQ(result.Out, "");
        EXPECT_EQ(cli.Cached("Artist"), "");
    }

    TCliTest cli;
    const TCliResult noDisc = cli.Run({"--lookup"});
    EXPECT_EQ(noDisc.ExitCode, 3) << Text(noDisc);
}
