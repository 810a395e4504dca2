#include "app/command_line.h"
#include "app/command_line_run.h"
#include "app/terminal_view.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

std::string Tracks(const QString& text)
{
    QString error;
    const std::optional<std::vector<int>> tracks = ParseTrackList(text, &error);
    if (!tracks)
        return "error: " + error.toStdString();
    std::string joined;
    for (int track : *tracks) {
        if (!joined.empty())
            joined += ' ';
        joined += std::to_string(track);
    }
    return joined;
}

TParsedCommandLine Parse(const QStringList& arguments)
{
    return ParseCommandLine(QStringList{"velbrook"} + arguments);
}

// Everything written to a stream, as text.
class TCapture {
public:
    TCapture() : File(std::tmpfile()) {}
    ~TCapture() { std::fclose(File); }
    std::FILE* File;
    QString Text() const
    {
        std::fflush(File);
        std::rewind(File);
        QByteArray bytes;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, File)) > 0;)
            bytes.append(buffer, qsizetype(n));
        return QString::fromLocal8Bit(bytes);
    }
};

} // namespace

TEST(CommandLineParser, ReadsTrackListsAndRefusesTheOddOnes)
{
    EXPECT_EQ(Tracks("1,3-5"), "1 3 4 5");
    EXPECT_EQ(Tracks(" 5 , 2-3 "), "2 3 5");
    EXPECT_EQ(Tracks("4,4,1-1,3-4"), "1 3 4"); // duplicates and overlaps once, in disc order
    EXPECT_EQ(Tracks("7-7"), "7");
    const std::string all = Tracks("1-99");
    EXPECT_TRUE(all.starts_with("1 2 3 ") && all.ends_with(" 97 98 99")) << all;
    EXPECT_EQ(Tracks("3-1"), "error: the range \"3-1\" runs backwards; write 1-3");
    EXPECT_EQ(Tracks("0"), "error: track numbers start at 1 (\"0\")");
    EXPECT_EQ(Tracks("0-2"), "error: track numbers start at 1 (\"0-2\")");
    EXPECT_EQ(Tracks("100"), "error: a disc has at most 99 tracks (\"100\")");
    EXPECT_EQ(Tracks(""), "error: no track numbers given");
    EXPECT_EQ(Tracks("1,,2"), "error: an empty entry in the track list \"1,,2\"");
    EXPECT_EQ(Tracks("2,"), "error: an empty entry in the track list \"2,\"");
    for (const char* odd : {"-3", "3-", "1-2-3", "x", "1.5", "+2", "0x10", "2 3", "99999999999"})
        EXPECT_TRUE(Tracks(odd).starts_with("error: ")) << odd << " gave " << Tracks(odd);
}

TEST(CommandLineParser, SortsOptionsIntoTheirJobs)
{
    TParsedCommandLine parsed = Parse({});
    EXPECT_EQ(parsed.Error, "");
    EXPECT_EQ(parsed.Options.Mode, TCommandLineMode::Window);
    parsed = Parse({"--cd-image", "a.cue", "--cd-image", "b.cue"});
    EXPECT_EQ(parsed.Options.Mode, TCommandLineMode::Window);
    EXPECT_EQ(parsed.Options.CdImages, (QStringList{"a.cue", "b.cue"}));

    parsed =
        Parse({"--extract", "--tracks", "2-3", "--tracks", "1", "--format", "OGG", "--output", "/music"});
    ASSERT_EQ(parsed.Error, "");
    EXPECT_EQ(parsed.Options.Mode, TCommandLineMode::Extract);
    EXPECT_EQ(*parsed.Options.Tracks, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(*parsed.Options.OutputFormat, 2);
    EXPECT_EQ(parsed.Options.OutputFolder, "/music");
    EXPECT_FALSE(parsed.Options.Overwrite);
    parsed = Parse({"--extract"});
    EXPECT_FALSE(parsed.Options.Tracks.has_value());
    EXPECT_FALSE(parsed.Options.OutputFormat.has_value());

    parsed = Parse({"--convert", "WAV-OGG", "a.wav", "--overwrite", "--", "-b.wav"});
    ASSERT_EQ(parsed.Error, "");
    EXPECT_EQ(parsed.Options.Conversion, TConversionKind::WavToOgg);
    EXPECT_EQ(parsed.Options.Files, (QStringList{"a.wav", "-b.wav"}));
    EXPECT_TRUE(parsed.Options.Overwrite);

    // wav-wav: what is not given keeps the input's value; ADPCM widens 8 bits.
    parsed = Parse({"--convert", "wav-wav", "--rate", "22050", "a.wav"});
    ASSERT_EQ(parsed.Error, "");
    TWavConvertChain::TOutputFormat format = WavOutputFormat(parsed.Options, 44100, 2, 8);
    EXPECT_EQ(format.SampleRate, 22050);
    EXPECT_EQ(format.Channels, 2);
    EXPECT_EQ(format.BitsPerSample, 8);
    EXPECT_EQ(format.WavType, wtPCM);
    parsed = Parse({"--convert", "wav-wav", "--adpcm", "--channels", "1", "a.wav"});
    ASSERT_EQ(parsed.Error, "");
    format = WavOutputFormat(parsed.Options, 11025, 2, 8);
    EXPECT_EQ(format.SampleRate, 11025);
    EXPECT_EQ(format.Channels, 1);
    EXPECT_EQ(format.BitsPerSample, 16);
    EXPECT_EQ(format.WavType, wtDVIADPCM);

    parsed = Parse({"--lookup", "--cd-image", "a.cue"});
    ASSERT_EQ(parsed.Error, "");
    EXPECT_EQ(parsed.Options.Mode, TCommandLineMode::Lookup);
    parsed = Parse({"--extract", "--lookup"});
    ASSERT_EQ(parsed.Error, "");
    EXPECT_EQ(parsed.Options.Mode, TCommandLineMode::Extract);
    EXPECT_TRUE(parsed.Options.Lookup);
    EXPECT_FALSE(Parse({"--extract"}).Options.Lookup);

    EXPECT_EQ(Parse({"-h"}).Options.Mode, TCommandLineMode::Help);
    EXPECT_EQ(Parse({"--version"}).Options.Mode, TCommandLineMode::Version);
    for (const QStringList& wrong : {QStringList{"--extract", "--output"},
                                     {"--extract", "--output", " "},
                                     {"--format", "mp3"},
                                     {"--output", "/x"},
                                     {"--overwrite"},
                                     {"a.wav"},
                                     {"--convert", "wav-mp3", "--convert", "wav-ogg", "a.wav"},
                                     {"--convert", "wav-wav", "--rate", "999", "a.wav"},
                                     {"--convert", "wav-wav", "--rate", "384001", "a.wav"},
                                     {"--convert", "wav-wav", "--bits", "24", "a.wav"},
                                     {"--extract", "--adpcm"},
                                     {"--lookup", "--convert", "wav-mp3", "a.wav"},
                                     {"--lookup", "--tracks", "1"},
                                     {"--lookup", "--output", "/x"},
                                     {"--lookup", "a.wav"}})
        EXPECT_NE(Parse(wrong).Error, "") << wrong.join(' ').toStdString();
}

TEST(TerminalView, DrawsALiveLineOnATerminalAndOneLinePerItemElsewhere)
{
    const QStringList names{"Intro", "Outro"};
    for (const bool live : {true, false}) {
        SCOPED_TRACE(live ? "terminal" : "pipe");
        TCapture out;
        TCapture err;
        TTerminal terminal(out.File, err.File, live);
        TTerminalPrompter prompter(terminal, false);
        TTerminalJobView view(terminal, names);
        int closed = 0;
        view.OnClose = [&closed] { ++closed; };

        view.SetCaption("Extracting(01/02): Intro");
        view.ShowInitializing("Initializing...");
        view.HideInitializing();
        view.SetGaugeTextVisible(true);
        view.SetGauge(50);
        view.SetElapsedText("00:02");
        view.SetEstimatedText("00:04");
        EXPECT_EQ(view.LiveLine(), "[1/2] Intro  Extracting  [##########----------]  50%  00:02 of 00:04");
        prompter.Error("CD extract failed!\r\nPlease try again.");
        view.FinishItem(0, "-> /music/Intro.mp3");
        view.SetCaption("Encoding(02/02): Outro");
        EXPECT_EQ(view.CurrentItem(), 1);
        EXPECT_EQ(view.Step(), "Encoding");
        EXPECT_EQ(view.LiveLine(), "[2/2] Outro  Encoding  [--------------------]");
        EXPECT_EQ(prompter.AskYesNo("/music/Outro.mp3 has existed,overite it?", TPrompter::TAnswer::Yes,
                                    TPrompter::TIcon::Information),
                  TPrompter::TAnswer::No);
        view.FinishItem(1, "skipped");
        view.CloseView();
        view.CloseView();
        EXPECT_EQ(closed, 1);

        const QString shown = out.Text();
        EXPECT_TRUE(shown.contains("[1/2] Intro -> /music/Intro.mp3\n"));
        EXPECT_TRUE(shown.contains("[2/2] Outro skipped\n"));
        EXPECT_EQ(shown.contains("\r"), live);
        EXPECT_EQ(shown.contains("50%"), live);
        // Without a terminal, standard output holds nothing but the two lines.
        if (!live) {
            EXPECT_EQ(shown, "[1/2] Intro -> /music/Intro.mp3\n[2/2] Outro skipped\n");
        }
        EXPECT_EQ(err.Text(), "velbrook: error: CD extract failed!\nPlease try again.\n"
                              "velbrook: /music/Outro.mp3 has existed,overite it? -- no (--overwrite would "
                              "replace it)\n");
        EXPECT_EQ(prompter.MessageCount(), 1);
        EXPECT_EQ(prompter.DeclinedCount(), 1);
    }
}

TEST(CommandLineResults, NameTheFilesAsTheJobDoes)
{
    const QString out = "/music/out";
    EXPECT_EQ(JobResultFile(1, "03Intro", out, 2), "/music/out/Intro.ogg");
    EXPECT_EQ(JobResultFile(1, "03Intro", out, 1), "/music/out/Intro.wav");
    EXPECT_EQ(JobResultFile(2, "/in/a.b.wav", out, 0), "/music/out/a.b.mp3");
    EXPECT_EQ(JobResultFile(3, "/in/song.mp3", out, 0), "/music/out/song.wav");
    EXPECT_EQ(JobResultFile(5, "/in/noext", out, 0), "/music/out/noext.ogg");
    // A hidden file's only dot starts its name: there is no extension to replace.
    EXPECT_EQ(JobResultFile(6, "/in/.hidden", out, 0), "/music/out/.hidden.wma");
    EXPECT_EQ(JobResultFile(4, "/rec/take.wav", out, 0), "/rec/take.mp3");
    EXPECT_EQ(WavToWavResultFile("/in/voice.WAV", out), "/music/out/voice.wav");
}
