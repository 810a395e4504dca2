#include "audio/wave_in.h"
#include "cd/cd_drive.h"

#include "cli_test_support.h"
#include "codec_fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <csignal>

namespace {

constexpr qint64 SamplesPerFrame = 588; // 2352 bytes of 16-bit stereo

struct TWavShape {
    bool Valid = false;
    TWavType Type = wtUnsupported;
    int Channels = 0;
    int Rate = 0;
    int Bits = 0;
    qint64 Frames = 0;
};

TWavShape ShapeOf(const QString& path)
{
    TWaveIn reader;
    reader.SetFileName(path);
    TWavShape shape;
    shape.Valid = reader.IsValid();
    if (shape.Valid)
        shape = {true,
                 reader.GetWavType(),
                 reader.GetChannels(),
                 reader.GetSampleRate(),
                 reader.GetBitsPerSample(),
                 reader.GetTotalSamples()};
    return shape;
}

void WriteWav(const QString& path, int channels, int rate, qint64 frames)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    WriteToneWav(path, frames, rate, channels);
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::string Text(const TCliResult& result)
{
    return QStringLiteral("exit %1\n--- stdout\n%2--- stderr\n%3")
        .arg(result.ExitCode)
        .arg(result.Out, result.Err)
        .toStdString();
}

} // namespace

TEST(CommandLine, HelpDocumentsEveryOptionAndNeedsNoDisplay)
{
    TCliTest cli;
    const TCliResult help = cli.Run({"--help"});
    ASSERT_EQ(help.ExitCode, 0) << Text(help);
    for (const char* word :
         {"--extract",  "--tracks", "--format",    "--output",    "--cd-image",     "--convert",
          "wav-mp3",    "mp3-wav",  "wav-ogg",     "wav-wma",     "wav-wav",        "--rate",
          "--channels", "--bits",   "--adpcm",     "--overwrite", "--no-overwrite", "--version",
          "Exit codes", "130",      "options.ini", "--lookup"})
        EXPECT_TRUE(help.Out.contains(QLatin1String(word))) << word;
    const TCliResult version = cli.Run({"--version"});
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out.trimmed(), "Velbrook 3.1");
}

TEST(CommandLine, RefusesAWrongCommandLineBeforeDoingAnything)
{
    TCliTest cli;
    WriteWav(cli.Home.File("in.wav"), 2, 44100, 4410);
    const QString out = cli.Home.File("out");
    const std::vector<std::pair<QStringList, const char*>> cases = {
        {{"--frobnicate"}, "Unknown option"},
        {{"--extract", "--convert", "wav-mp3", "in.wav"}, "cannot go together"},
        {{"--convert", "flac-mp3", "in.wav"}, "not \"flac-mp3\""},
        {{"--convert", "wav-mp3"}, "needs the files"},
        {{"--convert", "wav-mp3", "--output", out, "missing.wav"}, "missing.wav: no such file"},
        {{"--convert", "wav-mp3", "--output", out, cli.Home.Path()}, "is not a file"},
        {{"--extract", "--tracks", "3-1"}, "runs backwards"},
        {{"--extract", "--format", "flac"}, "mp3, wav, ogg or wma"},
        {{"--extract", "stray.wav"}, "takes no files"},
        {{"--tracks", "1"}, "goes with --extract"},
        {{"--convert", "wav-mp3", "--rate", "22050", "in.wav"}, "goes with --convert wav-wav"},
        {{"--convert", "wav-wav", "in.wav"}, "at least one of"},
        {{"--convert", "wav-wav", "--channels", "3", "in.wav"}, "--channels takes 1 or 2"},
        {{"--convert", "wav-wav", "--rate", "fast", "in.wav"}, "--rate takes a number"},
        {{"--convert", "wav-wav", "--bits", "8", "--adpcm", "in.wav"}, "cannot go with --bits 8"},
        {{"--convert", "wav-mp3", "--overwrite", "--no-overwrite", "in.wav"}, "contradict"},
        {{"--extract", "--cd-image", "nowhere.cue"}, "cannot be used"},
    };
    for (const auto& [arguments, message] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const TCliResult result = cli.Run(arguments);
        EXPECT_EQ(result.ExitCode, 2) << Text(result);
        EXPECT_TRUE(result.Err.contains(QLatin1String(message))) << Text(result);
    }
    // Not even the output folder was made.
    EXPECT_FALSE(QFileInfo::exists(out));
}

TEST(CommandLine, ExtractsEveryAudioTrackOfADiscImageToEachFormat)
{
    TCliTest cli;
    TImageSpec spec = AudioTracks({150, 113, 188});
    spec.Tracks.push_back({300, 0, true, 1, 0}); // a data track (a mixed disc)
    const QString disc = cli.WriteDisc("disc.cue", spec);
    // Titles come from the disc cache; what cannot be in a file name goes, a
    // repeated title gets a number, an empty one the default title.
    cli.CacheTitles(disc, {"Intro: Part 1", "intro part 1", ""});
    const QStringList names{"Intro Part 1", "intro part 1 (2)", "Track03"};

    for (const QString format : {"wav", "mp3", "ogg", "wma"}) {
        SCOPED_TRACE(format.toStdString());
        const QString out = cli.Home.File("out-" + format);
        const TCliResult result =
            cli.Run({"--extract", "--format", format, "--output", out, "--cd-image", disc});
        ASSERT_EQ(result.ExitCode, 0) << Text(result);
        QStringList expected;
        for (const QString& name : names)
            expected.append(name + "." + format);
        expected.sort();
        // The WAV files of the encoded formats are gone; no data track file.
        EXPECT_EQ(Listing(out), expected.join(", ")) << Text(result);
        for (int i = 0; i < names.size(); ++i) {
            const QString file = out + "/" + names[i] + "." + format;
            EXPECT_TRUE(result.Out.contains("-> " + file)) << Text(result);
            const double seconds = double(spec.Tracks[i].Frames) / 75.0;
            if (format == "wav") {
                const TWavShape shape = ShapeOf(file);
                EXPECT_TRUE(shape.Valid);
                EXPECT_EQ(shape.Rate, 44100);
                EXPECT_EQ(shape.Channels, 2);
                EXPECT_EQ(shape.Frames, spec.Tracks[i].Frames * SamplesPerFrame);
            } else {
                const TProbe probe = ProbeAudio(file);
                EXPECT_TRUE(probe.Valid) << file.toStdString();
                EXPECT_NEAR(probe.Duration, seconds, 0.15) << file.toStdString();
            }
        }
        EXPECT_TRUE(result.Out.contains("3 files of 3 written to " + out)) << Text(result);
    }
}

TEST(CommandLine, ExtractsTheTracksNamedAndRefusesTracksNotOnTheDisc)
{
    TCliTest cli;
    TImageSpec spec = AudioTracks({75, 75, 75, 75, 75});
    spec.Tracks.push_back({150, 0, true, 1, 0});
    const QString disc = cli.WriteDisc("disc.cue", spec);
    const QString out = cli.Home.File("out");

    TCliResult result = cli.Run(
        {"--extract", "--format", "wav", "--tracks", "4,1-1,3-4", "--output", out, "--cd-image", disc});
    ASSERT_EQ(result.ExitCode, 0) << Text(result);
    EXPECT_EQ(Listing(out), "Track01.wav, Track03.wav, Track04.wav");
    // Disc order, one line per file.
    EXPECT_LT(result.Out.indexOf("Track01.wav"), result.Out.indexOf("Track03.wav"));
    EXPECT_EQ(result.Out.count("->"), 3) << Text(result);

    result = cli.Run({"--extract", "--tracks", "2,9", "--output", out, "--cd-image", disc});
    EXPECT_EQ(result.ExitCode, 2) << Text(result);
    EXPECT_TRUE(result.Err.contains("no track 9")) << Text(result);
    result = cli.Run({"--extract", "--tracks", "6", "--output", out, "--cd-image", disc});
    EXPECT_EQ(result.ExitCode, 2) << Text(result);
    EXPECT_TRUE(result.Err.contains("data track")) << Text(result);
    result = cli.Run({"--extract", "--tracks", "0", "--output", out, "--cd-image", disc});
    EXPECT_EQ(result.ExitCode, 2) << Text(result);
    EXPECT_EQ(Listing(out), "Track01.wav, Track03.wav, Track04.wav");
}

TEST(CommandLine, WithoutADiscThereIsNothingToExtract)
{
    TCliTest cli;
    const QString out = cli.Home.File("out");
    // No image and (on a test machine) no drive.
    TCliResult result = cli.Run({"--extract", "--output", out});
    if (!RealCDDrives().isEmpty())
        GTEST_SKIP() << "this machine has a CD drive";
    EXPECT_EQ(result.ExitCode, 3) << Text(result);
    EXPECT_TRUE(result.Err.contains("No CD devices found!")) << Text(result);

    TImageSpec dataOnly;
    dataOnly.Tracks.push_back({300, 0, true, 1, 0});
    result = cli.Run({"--extract", "--output", out, "--cd-image", cli.WriteDisc("data.cue", dataOnly)});
    EXPECT_EQ(result.ExitCode, 3) << Text(result);
    EXPECT_EQ(Listing(out), "");
}

TEST(CommandLine, AnUnreadableTrackFailsTheRunWhileTheOthersAreWritten)
{
    TCliTest cli;
    const QString disc = cli.WriteDisc("disc.cue", AudioTracks({150, 150, 150}));
    const QString out = cli.Home.File("out");
    cli.Environment.insert("VELBROOK_UNREADABLE_SECTORS", "200-210");
    const TCliResult result = cli.Run({"--extract", "--format", "mp3", "--output", out, "--cd-image", disc});
    EXPECT_EQ(result.ExitCode, 1) << Text(result);
    EXPECT_TRUE(result.Err.contains("Error while reading CD information!")) << Text(result);
    EXPECT_TRUE(QFileInfo::exists(out + "/Track01.mp3"));
    EXPECT_FALSE(QFileInfo::exists(out + "/Track02.mp3"));
    EXPECT_TRUE(QFileInfo::exists(out + "/Track03.mp3"));
    EXPECT_TRUE(result.Out.contains("2 files of 3 written")) << Text(result);
}

TEST(CommandLine, AnAlbumImageIsExtractedUnderItsCdTextUnlessTheCacheHasTitles)
{
    TCliTest cli;
    cli.WriteDisc("source.cue", AudioTracks({150, 113, 188}));
    const QByteArray source = ReadFile(cli.Home.File("source.bin"));
    QProcess flac;
    flac.start("flac",
               {"-s", "--force-raw-format", "--endian=little", "--sign=signed", "--channels=2", "--bps=16",
                "--sample-rate=44100", "-o", cli.Home.File("album.flac"), cli.Home.File("source.bin")});
    ASSERT_TRUE(flac.waitForFinished(60000) && flac.exitCode() == 0)
        << flac.readAllStandardError().constData();
    // Code page 1252, as Windows programs write sheets.
    cli.Home.Write("album.cue", "PERFORMER \"Caf\xE9 Trio\"\r\nTITLE \"Live\"\r\nFILE \"ALBUM.FLAC\" WAVE\r\n"
                                "  TRACK 01 AUDIO\r\n    TITLE \"Caf\xE9\"\r\n    INDEX 01 00:00:00\r\n"
                                "  TRACK 02 AUDIO\r\n    TITLE \"Bar: None\"\r\n    INDEX 01 00:02:00\r\n"
                                "  TRACK 03 AUDIO\r\n    INDEX 01 00:03:38\r\n");
    const QString album = cli.Home.File("album.cue");

    const QString out = cli.Home.File("out");
    TCliResult result = cli.Run({"--extract", "--format", "wav", "--output", out, "--cd-image", album});
    ASSERT_EQ(result.ExitCode, 0) << Text(result);
    EXPECT_EQ(Listing(out), QStringLiteral("Bar None.wav, Caf\u00E9.wav, Track03.wav"));
    const QByteArray first = ReadFile(out + QStringLiteral("/Caf\u00E9.wav"));
    EXPECT_TRUE(first.mid(44) == source.left(150 * 2352));

    cli.CacheTitles(album, {"Cached"});
    result =
        cli.Run({"--extract", "--format", "wav", "--output", cli.Home.File("again"), "--cd-image", album});
    ASSERT_EQ(result.ExitCode, 0) << Text(result);
    EXPECT_EQ(Listing(cli.Home.File("again")), "Cached.wav, Track02.wav, Track03.wav");
}

TEST(CommandLine, ConvertsFilesWithTheRealEncoders)
{
    TCliTest cli;
    const QString out = cli.Home.File("out");
    WriteWav(cli.Home.File("in/first.wav"), 2, 44100, 44100);
    WriteWav(cli.Home.File("in/slow.wav"), 1, 22050, 22050); // resampled before encoding

    TCliResult result =
        cli.Run({"--convert", "wav-mp3", "--output", out, "in/first.wav", cli.Home.File("in/slow.wav")});
    ASSERT_EQ(result.ExitCode, 0) << Text(result);
    EXPECT_EQ(Listing(out), "first.mp3, slow.mp3");
    for (const char* name : {"first.mp3", "slow.mp3"}) {
        const TProbe probe = ProbeAudio(out + "/" + name);
        EXPECT_EQ(probe.CodecName, "mp3") << name;
        EXPECT_NEAR(probe.Duration, 1.0, 0.1) << name;
    }

    const QString decoded = cli.Home.File("decoded");
    result = cli.Run({"--convert", "mp3-wav", "--output", decoded, out + "/first.mp3"});
    ASSERT_EQ(result.ExitCode, 0) << Text(result);
    const TWavShape shape = ShapeOf(decoded + "/first.wav");
    EXPECT_TRUE(shape.Valid);
    EXPECT_EQ(shape.Rate, 44100);
    EXPECT_NEAR(double(shape.Frames), 44100.0, 3000.0);

    result = cli.Run({"--convert", "wav-ogg", "--output", out, "in/first.wav", "in/slow.wav"});
    ASSERT_EQ(result.ExitCode, 0) << Text(result);
    EXPECT_EQ(ProbeAudio(out + "/first.ogg").CodecName, "vorbis");
    EXPECT_EQ(ProbeAudio(out + "/slow.ogg").CodecName, "vorbis");

    result = cli.Run({"--convert", "wav-wma", "--output", out, "in/first.wav"});
    ASSERT_EQ(result.ExitCode, 0) << Text(result);
    const TProbe wma = ProbeAudio(out + "/first.wma");
    EXPECT_TRUE(wma.CodecName.startsWith("wma")) << wma.CodecName.toStdString();
    // The temporary resampling files are gone.
    EXPECT_EQ(Listing(out), "first.mp3, first.ogg, first.wma, slow.mp3, slow.ogg");
}

TEST(CommandLine, ConvertsWavToWavInTheFormatAskedFor)
{
    TCliTest cli;
    const QString input = cli.Home.File("in/stereo.wav");
    WriteWav(input, 2, 44100, 44100);
    const QString out = cli.Home.File("out");

    TCliResult result = cli.Run({"--convert", "wav-wav", "--rate", "22050", "--channels", "1", "--bits", "8",
                                 "--output", out, input});
    ASSERT_EQ(result.ExitCode, 0) << Text(result);
    TWavShape shape = ShapeOf(out + "/stereo.wav");
    EXPECT_EQ(shape.Type, wtPCM);
    EXPECT_EQ(shape.Rate, 22050);
    EXPECT_EQ(shape.Channels, 1);
    EXPECT_EQ(shape.Bits, 8);
    EXPECT_NEAR(double(shape.Frames), 22050.0, 400.0);

    // What is not named stays as in the input; ADPCM holds 16 bits.
    const QString adpcm = cli.Home.File("adpcm");
    result = cli.Run({"--convert", "wav-wav", "--adpcm", "--rate", "11025", "--output", adpcm, input,
                      out + "/stereo.wav", "--overwrite"});
    EXPECT_EQ(result.ExitCode, 2) << Text(result); // both would become adpcm/stereo.wav
    EXPECT_TRUE(result.Err.contains("would both become")) << Text(result);
    result = cli.Run({"--convert", "wav-wav", "--adpcm", "--rate", "11025", "--output", adpcm, input});
    ASSERT_EQ(result.ExitCode, 0) << Text(result);
    shape = ShapeOf(adpcm + "/stereo.wav");
    EXPECT_EQ(shape.Type, wtDVIADPCM);
    EXPECT_EQ(shape.Rate, 11025);
    EXPECT_EQ(shape.Channels, 2);
    EXPECT_EQ(shape.Bits, 16);

    // The input's own folder as output folder: the input would be its own output.
    const QByteArray before = ReadFile(input);
    result = cli.Run({"--convert", "wav-wav", "--rate", "8000", "--output", cli.Home.File("in"), input});
    EXPECT_EQ(result.ExitCode, 2) << Text(result);
    EXPECT_TRUE(result.Err.contains("own input")) << Text(result);
    EXPECT_EQ(ReadFile(input), before);
    EXPECT_EQ(Listing(cli.Home.File("in")), "stereo.wav");
}

TEST(CommandLine, KeepsFilesThatExistUnlessToldToReplaceThem)
{
    TCliTest cli;
    WriteWav(cli.Home.File("a.wav"), 2, 44100, 22050);
    const QString out = cli.Home.File("out");
    const QByteArray old = "an MP3 file the user made earlier";
    cli.Home.Write("out/a.mp3", old);
    cli.Home.Write("out/a.ogg", old);

    for (const QStringList& arguments :
         {QStringList{"--convert", "wav-mp3", "--output", out, "a.wav"},
          QStringList{"--convert", "wav-mp3", "--no-overwrite", "--output", out, "a.wav"},
          QStringList{"--convert", "wav-ogg", "--output", out, "a.wav"}}) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const TCliResult result = cli.Run(arguments);
        EXPECT_EQ(result.ExitCode, 1) << Text(result);
        EXPECT_TRUE(result.Err.contains("--overwrite")) << Text(result);
        EXPECT_EQ(cli.Home.Read("out/a.mp3"), old);
        EXPECT_EQ(cli.Home.Read("out/a.ogg"), old);
    }

    TCliResult result = cli.Run({"--convert", "wav-mp3", "--overwrite", "--output", out, "a.wav"});
    EXPECT_EQ(result.ExitCode, 0) << Text(result);
    EXPECT_EQ(ProbeAudio(out + "/a.mp3").CodecName, "mp3");
    result = cli.Run({"--convert", "wav-ogg", "--overwrite", "--output", out, "a.wav"});
    EXPECT_EQ(result.ExitCode, 0) << Text(result);
    EXPECT_EQ(ProbeAudio(out + "/a.ogg").CodecName, "vorbis");
}

TEST(CommandLine, AnEncoderThatCannotStartEndsTheRunWithAnError)
{
    TCliTest cli;
    const QString disc = cli.WriteDisc("disc.cue", AudioTracks({75, 75}));
    const QString out = cli.Home.File("out");
    // lame is found beside the program or on PATH: here it is nowhere.
    cli.Environment.insert("PATH", cli.Home.File("no-programs"));
    TCliResult result = cli.Run({"--extract", "--format", "mp3", "--output", out, "--cd-image", disc});
    EXPECT_EQ(result.ExitCode, 1) << Text(result);
    EXPECT_TRUE(result.Err.contains("cannot go on")) << Text(result);
    EXPECT_FALSE(QFileInfo::exists(out + "/Track01.mp3"));
    // The track was extracted completely before its encoder failed to start.
    EXPECT_EQ(ShapeOf(out + "/Track01.wav").Frames, 75 * SamplesPerFrame);

    WriteWav(cli.Home.File("a.wav"), 2, 44100, 4410);
    result = cli.Run({"--convert", "wav-mp3", "--output", out, "a.wav"});
    EXPECT_EQ(result.ExitCode, 1) << Text(result);
    EXPECT_FALSE(QFileInfo::exists(out + "/a.mp3"));
}

TEST(CommandLine, CtrlCStopsTheJobAndLeavesNoHalfWrittenFile)
{
    TCliTest cli;
    // A short track, then one long enough to be stopped in the middle.
    const QString disc = cli.WriteDisc("disc.cue", AudioTracks({75, 75 * 60 * 8}));
    const QString out = cli.Home.File("out");
    bool sent = false;
    const TCliResult result = cli.Run({"--extract", "--format", "ogg", "--output", out, "--cd-image", disc},
                                      [&](const QString& output, qint64 pid) {
                                          if (!sent && output.contains("Track01.ogg")) {
                                              ::kill(pid_t(pid), SIGINT);
                                              sent = true;
                                          }
                                      });
    ASSERT_TRUE(sent) << Text(result);
    EXPECT_EQ(result.ExitCode, 130) << Text(result);
    EXPECT_TRUE(result.Err.contains("stopped")) << Text(result);
    EXPECT_TRUE(ProbeAudio(out + "/Track01.ogg").Valid);
    EXPECT_FALSE(QFileInfo::exists(out + "/Track02.ogg")) << Listing(out).toStdString();
    // A WAV file of track 2 stays only when it was extracted whole.
    if (QFileInfo::exists(out + "/Track02.wav")) {
        EXPECT_EQ(ShapeOf(out + "/Track02.wav").Frames, 75 * 60 * 8 * SamplesPerFrame);
    }
}

// A title with escape sequences and bells neither reaches the file name nor
// the terminal raw, a title of thousands of characters is shortened instead of
// failing its track, and a file name with control characters (the user's own)
// is shown escaped.
TEST(CommandLine, ControlCharactersNeverReachTheTerminalAndLongTitlesAreShortened)
{
    TCliTest cli;
    const QString disc = cli.WriteDisc("disc.cue", AudioTracks({75, 75}));
    cli.CacheTitles(disc, {"Bell\x07 and \x1b]0;owned\x07 \x1b[2J", QString(5000, QChar(0xFC))});
    const QString out = cli.Home.File("out");
    const auto raw = [](const TCliResult& result) {
        const QString all = result.All();
        return std::any_of(all.begin(), all.end(), [](QChar c) { return c.unicode() < 0x20 && c != '\n'; });
    };

    TCliResult result = cli.Run({"--extract", "--format", "wav", "--output", out, "--cd-image", disc});
    ASSERT_EQ(result.ExitCode, 0) << Text(result);
    EXPECT_EQ(Listing(out), "Bell and ]0;owned [2J.wav, " + QString(125, QChar(0xFC)) + ".wav");
    EXPECT_FALSE(raw(result)) << Text(result);

    const QString odd = cli.Home.File("in\x1b[2Jput\x07.wav");
    WriteWav(odd, 2, 44100, 4410);
    result = cli.Run({"--convert", "wav-wav", "--rate", "22050", "--output", cli.Home.File("small"), odd});
    ASSERT_EQ(result.ExitCode, 0) << Text(result);
    EXPECT_TRUE(result.Out.contains("in\\x1b[2Jput\\x07.wav")) << Text(result);
    EXPECT_FALSE(raw(result)) << Text(result);
}
