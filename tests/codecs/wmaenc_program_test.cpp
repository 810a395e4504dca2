#include "codec_fixtures.h"
#include "support/temp_home.h"
#include "wmaenc/wma_arguments.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

constexpr qint64 Rate = 44100;

struct TEncoderRun {
    int ExitCode = -1;
    QStringList Lines;
};

// Runs velbrook-wmaenc to its end; its two channels merged, as lines.
TEncoderRun RunEncoder(const QStringList& arguments)
{
    const TRunResult run = RunProgram(WmaEncoderProgram(), arguments);
    TEncoderRun result;
    result.ExitCode = run.ExitCode;
    result.Lines = QString::fromUtf8(run.Output).split('\n', Qt::SkipEmptyParts);
    return result;
}

QStringList Setting(const QString& input, const QString& output, const QString& setting = "64_44_2")
{
    return {"-input", input, "-output", output, "-a_setting", setting};
}

QStringList ErrorLines(const TEncoderRun& run)
{
    return run.Lines.filter("ERROR");
}

} // namespace

TEST(WmaEncProgram, ReadsSettingsOfTheListAndRefusesOthers)
{
    int bitRate = 0;
    int sampleRate = 0;
    int channels = 0;
    const struct {
        const char* Text;
        int BitRate, SampleRate, Channels;
    } good[] = {{"64_44_2", 64, 44100, 2}, {"5_8_1", 5, 8000, 1},     {"192_48_2", 192, 48000, 2},
                {"10_11_1", 10, 11025, 1}, {"22_22_2", 22, 22050, 2}, {"320_32_1", 320, 32000, 1}};
    for (const auto& c : good) {
        SCOPED_TRACE(c.Text);
        ASSERT_TRUE(ParseWmaSetting(c.Text, bitRate, sampleRate, channels));
        EXPECT_EQ(bitRate, c.BitRate);
        EXPECT_EQ(sampleRate, c.SampleRate);
        EXPECT_EQ(channels, c.Channels);
    }
    for (const char* bad :
         {"", "64", "64_44", "64_44_3", "64_44_0", "64_45_2", "0_44_2", "321_44_2", "-64_44_2", "64__2",
          "64_44_2_", "64_44_2x", " 64_44_2", "64 _44_2", "99999999999_44_2"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseWmaSetting(bad, bitRate, sampleRate, channels));
    }
}

TEST(WmaEncProgram, RefusesBadArgumentsWithOneErrorLineAndWritesNothing)
{
    TTempHome home;
    const QString wav = home.File("in.wav");
    WriteToneWav(wav, Rate / 2);
    const QString out = home.File("SECRET-out.wma");
    const QList<QStringList> cases = {
        {},
        {"-input", wav, "-output", out},
        {"-input", wav, "-a_setting", "64_44_2"},
        {"-output", out, "-a_setting", "64_44_2"},
        Setting(wav, out, "SECRET_44_2"),
        Setting(wav, out) << "-author",
        Setting(wav, out) << "-input" << wav,
        Setting(wav, out) << "-SECRET"
                          << "x",
        Setting(wav, out) << "SECRET",
        {"-input", "", "-output", out, "-a_setting", "64_44_2"},
    };
    for (const QStringList& arguments : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const TEncoderRun run = RunEncoder(arguments);
        EXPECT_EQ(run.ExitCode, 2);
        ASSERT_EQ(run.Lines.size(), 1);
        EXPECT_TRUE(run.Lines[0].startsWith("ERROR: bad arguments: "));
        EXPECT_FALSE(run.Lines[0].contains("SECRET"));
        EXPECT_FALSE(QFileInfo::exists(out));
    }
    const TEncoderRun help = RunEncoder({"-help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_TRUE(help.Lines.value(0).startsWith("usage: velbrook-wmaenc"));
    EXPECT_TRUE(help.Lines.filter("100%").isEmpty());
    EXPECT_TRUE(ErrorLines(help).isEmpty());
    const TEncoderRun version = RunEncoder({"-version"});
    EXPECT_EQ(version.ExitCode, 0);
    ASSERT_EQ(version.Lines.size(), 1);
    EXPECT_TRUE(version.Lines[0].contains(
        QRegularExpression("^velbrook-wmaenc 3\\.1 \\(FFmpeg .+, libavcodec \\d+\\.\\d+\\.\\d+\\)$")))
        << version.Lines[0].toStdString();
}

TEST(WmaEncProgram, PrintsRisingProgressThenOneFinalLineAndNeverUserText)
{
    TTempHome home;
    // Names and tags that hold the two markers must not reach the output.
    const QString wav = home.File("ERROR 100% in.wav");
    WriteToneWav(wav, 10 * Rate);
    const QString out = home.File("ERROR 100% out.wma");
    const TEncoderRun run = RunEncoder(Setting(wav, out) << "-author"
                                                         << "100% ERROR author"
                                                         << "-description"
                                                         << "ERROR 100%");
    ASSERT_EQ(run.ExitCode, 0) << run.Lines.join('\n').toStdString();
    ASSERT_GE(run.Lines.size(), 3);
    EXPECT_EQ(run.Lines.last(), "100%");
    EXPECT_TRUE(ErrorLines(run).isEmpty());
    int previous = -1;
    for (int i = 0; i + 1 < run.Lines.size(); ++i) {
        const QString& line = run.Lines[i];
        ASSERT_TRUE(line.endsWith('%')) << line.toStdString();
        bool number = false;
        const int percent = line.chopped(1).toInt(&number);
        ASSERT_TRUE(number) << line.toStdString();
        EXPECT_GT(percent, previous);
        EXPECT_LE(percent, 99);
        previous = percent;
    }
    const TProbe probe = ProbeAudio(out);
    EXPECT_EQ(probe.Artist, "100% ERROR author");
    EXPECT_EQ(probe.Comment, "ERROR 100%");
}

TEST(WmaEncProgram, InvalidInputsFailAndLeaveTheOutputAlone)
{
    TTempHome home;
    const QString out = home.File("out.wma");
    home.Write("out.wma", "the user's older file");
    home.Write("text.wav", "hello, world\n");
    home.Write("empty.wav", {});
    // A RIFF header whose format chunk stops half-way.
    home.Write("cut.wav", QByteArray("RIFF\x24\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00", 22));
    QDir(home.Path()).mkdir("folder.wav");
    const struct {
        const char* Name;
        const char* Error;
    } cases[] = {
        {"text.wav", "ERROR: the input is not a valid WAV file"},
        {"empty.wav", "ERROR: the input is not a valid WAV file"},
        {"cut.wav", "ERROR: the input is not a valid WAV file"},
        {"missing.wav", "ERROR: cannot open the input file: No such file or directory"},
        {"folder.wav", "ERROR: cannot open the input file: Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TEncoderRun run = RunEncoder(Setting(home.File(c.Name), out));
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_EQ(ErrorLines(run), QStringList{c.Error});
        EXPECT_TRUE(run.Lines.filter("100%").isEmpty());
        EXPECT_EQ(home.Read("out.wma"), "the user's older file");
    }
}

TEST(WmaEncProgram, NeverOverwritesItsInputOrSomethingThatIsNotAFile)
{
    TTempHome home;
    const QString wav = home.File("in.wav");
    WriteToneWav(wav, Rate);
    const QByteArray before = home.Read("in.wav");
    const QString link = home.File("link.wma");
    ASSERT_TRUE(QFile::link(wav, link));

    for (const QString& output : {wav, link}) {
        const TEncoderRun run = RunEncoder(Setting(wav, output));
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_EQ(ErrorLines(run), QStringList{"ERROR: the input and the output are the same file"});
    }
    EXPECT_EQ(home.Read("in.wav"), before);

    QDir(home.Path()).mkdir("folder.wma");
    ASSERT_EQ(mkfifo(QFile::encodeName(home.File("pipe.wma")).constData(), 0600), 0);
    for (const char* name : {"folder.wma", "pipe.wma"}) {
        const TEncoderRun run = RunEncoder(Setting(wav, home.File(name)));
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_EQ(ErrorLines(run), QStringList{"ERROR: the output is not a plain file"});
    }
    EXPECT_TRUE(QFileInfo(home.File("folder.wma")).isDir());
    EXPECT_TRUE(QFileInfo::exists(home.File("pipe.wma")));

    // A link to a file of the user, and one that leads nowhere.
    home.Write("victim.txt", "the user's");
    ASSERT_TRUE(QFile::link(home.File("victim.txt"), home.File("victim.wma")));
    ASSERT_TRUE(QFile::link(home.File("nowhere.txt"), home.File("dangling.wma")));
    for (const char* name : {"victim.wma", "dangling.wma"}) {
        const TEncoderRun run = RunEncoder(Setting(wav, home.File(name)));
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_EQ(ErrorLines(run), QStringList{"ERROR: the output is a link"});
        EXPECT_TRUE(QFileInfo(home.File(name)).isSymLink());
    }
    EXPECT_EQ(home.Read("victim.txt"), "the user's");
    EXPECT_FALSE(QFileInfo::exists(home.File("nowhere.txt")));
}

TEST(WmaEncProgram, AFullDiskIsAnErrorAndLeavesNoFile)
{
    TTempHome home;
    const QString wav = home.File("in.wav");
    WriteToneWav(wav, 30 * Rate);
    const QString out = home.File("out.wma");
    TEncoderRun run;
    {
        rlimit previous{};
        getrlimit(RLIMIT_FSIZE, &previous);
        rlimit limit = previous;
        limit.rlim_cur = 100 * 1024;
        setrlimit(RLIMIT_FSIZE, &limit);
        run = RunEncoder(Setting(wav, out, "192_48_2"));
        setrlimit(RLIMIT_FSIZE, &previous);
    }
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(ErrorLines(run), QStringList{"ERROR: cannot write the output file: File too large"});
    EXPECT_TRUE(run.Lines.filter("100%").isEmpty());
    EXPECT_FALSE(QFileInfo::exists(out));
}

TEST(WmaEncProgram, ReadsTheWavEncodingsOtherProgramsWrite)
{
    TTempHome home;
    const struct {
        const char* Name;
        QStringList SoxFormat;
        int Rate;
        int Channels;
    } cases[] = {
        {"u8", {"-e", "unsigned-integer", "-b", "8"}, 22050, 1},
        {"s24", {"-e", "signed-integer", "-b", "24"}, 48000, 2},
        {"float", {"-e", "floating-point", "-b", "32"}, 44100, 2},
        {"ima", {"-e", "ima-adpcm"}, 44100, 2},
        {"ulaw", {"-e", "u-law"}, 8000, 1},
        {"six", {"-e", "signed-integer", "-b", "16"}, 48000, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString wav = home.File(QString(c.Name) + ".wav");
        QStringList sox{"-n", "-r", QString::number(c.Rate), "-c", QString::number(c.Channels)};
        sox << c.SoxFormat << wav << "synth"
            << "3"
            << "sine"
            << "440";
        ASSERT_EQ(RunProgram("sox", sox).ExitCode, 0);
        const QString out = home.File(QString(c.Name) + ".wma");
        const TEncoderRun run = RunEncoder(Setting(wav, out, "128_44_2"));
        ASSERT_EQ(run.ExitCode, 0) << run.Lines.join('\n').toStdString();
        const TProbe probe = ProbeAudio(out);
        EXPECT_EQ(probe.SampleRate, 44100);
        EXPECT_EQ(probe.Channels, 2);
        EXPECT_NEAR(probe.Duration, 3.0, 0.1);
    }
}

TEST(WmaEncProgram, KeepsTheLevelWhenItChangesTheChannelCount)
{
    TTempHome home;
    // A mono tone: both sides of the stereo file are as loud as the tone.
    const QString mono = home.File("mono.wav");
    WriteToneWav(mono, 5 * Rate, 44100, 1);
    const QString wide = home.File("wide.wma");
    ASSERT_EQ(RunEncoder(Setting(mono, wide, "192_44_2")).ExitCode, 0);
    const std::vector<qint16> stereo = DecodeWithFfmpeg(wide, home.File("wide.raw"));
    ASSERT_FALSE(stereo.empty());
    const double toneRms = 12000 / std::sqrt(2.0);
    EXPECT_NEAR(ChannelRms(stereo, 2, 0), toneRms, toneRms * 0.05);
    EXPECT_NEAR(ChannelRms(stereo, 2, 1), toneRms, toneRms * 0.05);

    // Two tones of different pitch, one per side: mono holds their average.
    const QString both = home.File("both.wav");
    WriteToneWav(both, 5 * Rate, 44100, 2);
    const QString narrow = home.File("narrow.wma");
    ASSERT_EQ(RunEncoder(Setting(both, narrow, "48_44_1")).ExitCode, 0);
    const std::vector<qint16> single = DecodeWithFfmpeg(narrow, home.File("narrow.raw"));
    ASSERT_FALSE(single.empty());
    const double averageRms = 0.5 * std::sqrt(2.0) * toneRms;
    EXPECT_NEAR(ChannelRms(single, 1, 0), averageRms, averageRms * 0.1);
}
