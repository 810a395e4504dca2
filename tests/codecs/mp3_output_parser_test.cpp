#include "codec_fixtures.h"
#include "codecs/mp3_output_parser.h"
#include "codecs/output_lines.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

QByteArray Capture(const QString& name)
{
    QFile file(TestDataFile(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll();
}

std::vector<int> Percents(const std::vector<TProcessInfo>& reports)
{
    std::vector<int> percents;
    for (const TProcessInfo& info : reports)
        percents.push_back(info.Percent);
    return percents;
}

// Feeds output the way the pipe may hand it over: in pieces of chunkSize bytes
// (the whole at once for 0), parsing each piece's lines as they complete.
std::vector<TProcessInfo> ParseInChunks(TMp3OutputParser& parser, const QByteArray& output, bool encode,
                                        qsizetype chunkSize, TClock::time_point now = Now())
{
    TOutputLines splitter;
    std::vector<TProcessInfo> reports;
    auto parse = [&](const QStringList& lines) {
        const auto found = encode ? parser.ParseEncodeOutput(lines) : parser.ParseDecodeOutput(lines, now);
        reports.insert(reports.end(), found.begin(), found.end());
    };
    const qsizetype step = chunkSize == 0 ? output.size() : chunkSize;
    for (qsizetype at = 0; at < output.size(); at += step)
        parse(splitter.Feed(output.mid(at, step)));
    parse(splitter.Flush());
    return reports;
}

// Two progress lines of the real encoder, as it redraws them.
const char* const Line13 = "   100/767    (13%)|    0:00/    0:02|    0:00/    0:03|   137.97x|    0:01 ";
const char* const Line26 = "   200/767    (26%)|    0:01/    0:04|    0:01/    0:05|   139.64x|    0:02 ";
const char* const Line100 = "   767/767   (100%)|    0:04/    0:04|    0:05/    0:05|   140.96x|    0:00 ";

} // namespace

TEST(OutputLines, EndsLinesAtEveryLineBreakKindAndKeepsUnfinishedLines)
{
    TOutputLines lines;
    EXPECT_EQ(lines.Feed("a\rb\nc\r\nd"), QStringList({"a", "b", "c"}));
    // The pair split between two chunks is still one line break.
    EXPECT_EQ(lines.Feed("e\r"), QStringList({"de"}));
    EXPECT_EQ(lines.Feed("\nf"), QStringList());
    EXPECT_EQ(lines.Feed("\r\r"), QStringList({"f", ""}));
    EXPECT_EQ(lines.Feed("tail"), QStringList());
    EXPECT_EQ(lines.Flush(), QStringList({"tail"}));
    EXPECT_EQ(lines.Flush(), QStringList());

    // A character cut between two chunks arrives whole.
    const QByteArray text = QString("Größe\n").toUtf8();
    TOutputLines utf8;
    EXPECT_EQ(utf8.Feed(text.left(4)), QStringList());
    EXPECT_EQ(utf8.Feed(text.mid(4)), QStringList({"Größe"}));
}

TEST(Mp3OutputParser, ReadsTheRealEncodersProgressTable)
{
    TMp3OutputParser parser;
    parser.Reset(Now(), {});
    const auto reports = ParseInChunks(parser, Capture("lame_encode_cbr.txt"), true, 0);
    // The 0% lines are dropped; the histogram lines below each progress line hold
    // "%" too but no figure at the progress column.
    EXPECT_EQ(Percents(reports), (std::vector<int>{13, 26, 39, 52, 65, 78, 91, 100}));
    EXPECT_EQ(parser.ProgressColumn, 15);
    for (const TProcessInfo& info : reports) {
        EXPECT_EQ(info.ElapsedText, "0:00");
        EXPECT_EQ(info.EstimatedText, "0:00");
        EXPECT_EQ(info.Result, 0);
    }

    TMp3OutputParser vbr;
    vbr.Reset(Now(), {});
    EXPECT_EQ(Percents(ParseInChunks(vbr, Capture("lame_encode_vbr.txt"), true, 0)),
              (std::vector<int>{43, 87, 100}));
}

TEST(Mp3OutputParser, GivesTheSameReportsWhereverThePipeCutsTheOutput)
{
    const QByteArray output = Capture("lame_encode_cbr.txt");
    for (qsizetype chunk = 1; chunk <= 97; chunk += 3) {
        TMp3OutputParser parser;
        parser.Reset(Now(), {});
        EXPECT_EQ(Percents(ParseInChunks(parser, output, true, chunk)),
                  (std::vector<int>{13, 26, 39, 52, 65, 78, 91, 100}))
            << "chunks of " << chunk;
    }
    // A line split in the middle of its figure.
    TMp3OutputParser parser;
    parser.Reset(Now(), {});
    TOutputLines splitter;
    const QByteArray line = QByteArray("\r") + Line13 + "\n";
    EXPECT_TRUE(parser.ParseEncodeOutput(splitter.Feed(line.left(17))).empty());
    const auto reports = parser.ParseEncodeOutput(splitter.Feed(line.mid(17)));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Percent, 13);
    EXPECT_EQ(reports[0].ElapsedText, "0:00");
    EXPECT_EQ(reports[0].EstimatedText, "0:02");
}

TEST(Mp3OutputParser, PostsEachCarriageReturnUpdateOfOneChunkInOrder)
{
    TMp3OutputParser parser;
    parser.Reset(Now(), {});
    TOutputLines splitter;
    const QByteArray chunk = QByteArray("\r") + Line13 + "\r" + Line26 + "\r" + Line100 + "\r";
    const auto reports = parser.ParseEncodeOutput(splitter.Feed(chunk));
    EXPECT_EQ(Percents(reports), (std::vector<int>{13, 26, 100}));
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[1].ElapsedText, "0:01");
    EXPECT_EQ(reports[1].EstimatedText, "0:04");
}

TEST(Mp3OutputParser, ReadsOneTwoAndThreeDigitFiguresAndDropsZero)
{
    TMp3OutputParser parser;
    parser.Reset(Now(), {});
    const QStringList lines = {
        "     0/767    ( 0%)|    0:00/    0:00|    0:00/    0:00|   0.0000x|    0:00 ",
        "     8/767    ( 1%)|    0:00/    0:00|    0:00/    0:00|   0.0000x|    0:00 ",
        Line13,
        Line100,
    };
    EXPECT_EQ(Percents(parser.ParseEncodeOutput(lines)), (std::vector<int>{1, 13, 100}));
    EXPECT_EQ(parser.ProgressColumn, 15);

    // A "%" too near the start gives no column; the next progress line does.
    TMp3OutputParser early;
    early.Reset(Now(), {});
    EXPECT_TRUE(early.ParseEncodeOutput({"5%", Line26}).size() == 1);
    EXPECT_EQ(early.ProgressColumn, 15);
}

TEST(Mp3OutputParser, IgnoresFileNamesThatHoldPercentAndHashSigns)
{
    // Real output for files called "50% off #2": the names lame echoes hold the
    // very signs the parsers look for.
    const QString folder = "/tmp/lamecap/";
    TMp3OutputParser encoder;
    encoder.Reset(Now(), {folder + "50% off #2.wav", folder + "50% off #2.mp3"});
    const auto encoded = ParseInChunks(encoder, Capture("lame_encode_names.txt"), true, 0);
    EXPECT_EQ(encoder.ProgressColumn, 15);
    ASSERT_FALSE(encoded.empty());
    EXPECT_EQ(encoded.back().Percent, 100);

    const TClock::time_point start = Now();
    TMp3OutputParser decoder;
    decoder.Reset(start, {folder + "50% off #2.mp3", folder + "50% off #2.out.wav"});
    const auto decoded = ParseInChunks(decoder, Capture("lame_decode_names.txt"), false, 0, start);
    EXPECT_EQ(decoder.ProgressColumn, 7);
    ASSERT_FALSE(decoded.empty());
    EXPECT_EQ(decoded.front().Percent, 1);
    EXPECT_EQ(decoded.back().Percent, 100);
}

TEST(Mp3OutputParser, ReadsTheRealDecodersFrameCounter)
{
    const TClock::time_point start = Now();
    TMp3OutputParser parser;
    parser.Reset(start, {});
    const auto reports =
        ParseInChunks(parser, Capture("lame_decode.txt"), false, 0, start + std::chrono::seconds(3));
    EXPECT_EQ(parser.ProgressColumn, 7);
    // Frames 2..116 of 116, the last one printed twice.
    ASSERT_EQ(reports.size(), 116u);
    EXPECT_EQ(reports.front().Percent, 1); // 2 * 100 / 116
    EXPECT_EQ(reports[57].Percent, 50);    // 59 * 100 / 116
    EXPECT_EQ(reports.back().Percent, 100);
    for (size_t i = 1; i < reports.size(); ++i)
        EXPECT_GE(reports[i].Percent, reports[i - 1].Percent);
    // 3 s elapsed at 50% estimates 6 s in all.
    EXPECT_EQ(reports[57].ElapsedText, "00:03");
    EXPECT_EQ(reports[57].EstimatedText, "00:06");
    EXPECT_EQ(reports.back().EstimatedText, "00:03");
}

TEST(Mp3OutputParser, DecoderLinesOutOfRangeOrUnreadableGiveNoReport)
{
    const TClock::time_point start = Now();
    TMp3OutputParser parser;
    parser.Reset(start, {});
    const auto now = start + std::chrono::seconds(75);
    EXPECT_TRUE(parser.ParseDecodeOutput({"Frame#     0/1500   128 kbps"}, now).empty());
    EXPECT_EQ(parser.ProgressColumn, 7);
    // The column stays, lines need not hold "#" any more.
    const auto full = parser.ParseDecodeOutput({"Frame#  1500/1500   128 kbps", "xxxxxx   750/1500  "}, now);
    EXPECT_EQ(Percents(full), (std::vector<int>{100, 50}));
    EXPECT_EQ(full[1].ElapsedText, "01:15");
    EXPECT_EQ(full[1].EstimatedText, "02:30");
    EXPECT_TRUE(parser
                    .ParseDecodeOutput({"Frame#    10/0      128 kbps", "Frame#   abc/1500   128 kbps",
                                        "Frame#  3000/1500   128 kbps", "Frame#    10"},
                                       now)
                    .empty());
}

TEST(Mp3OutputParser, RemembersWhatTheProgramSaidAboutAFailure)
{
    TMp3OutputParser parser;
    parser.Reset(Now(), {"/music/error.wav", "/music/error.mp3"});
    // The encoder's complaint stands behind its progress table and a terminal
    // code; a file name that holds the word is an echo, not a complaint.
    parser.ParseEncodeOutput({"Encoding /music/error.wav to /music/error.mp3",
                              "  128.0      100.0        99.8   0.1   0.1\x1b[KError writing mp3 output "});
    EXPECT_EQ(parser.LastError, "Error writing mp3 output");
    EXPECT_EQ(parser.DecodedFrames, -1);

    // A decoder that found no frames says so by its counter alone.
    parser.Reset(Now(), {});
    EXPECT_TRUE(parser.ParseDecodeOutput({"Frame#     0/11184810   0 kbps"}).empty());
    EXPECT_EQ(parser.DecodedFrames, 0);
    EXPECT_EQ(parser.LastError, "");
    parser.ParseDecodeOutput({"Frame#  1500/1500   128 kbps"});
    EXPECT_EQ(parser.DecodedFrames, 1500);
}
