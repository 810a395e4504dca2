#include "codec_fixtures.h"
#include "codecs/mp3_encode_process.h"
#include "core/settings.h"
#include "support/scripted_prompter.h"
#include "support/temp_home.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>

namespace {

constexpr int Done = TMp3EncodeProcess::CompletionPercent;
constexpr qint64 Rate = 44100;
constexpr qint64 FrameSamples = 1152;

// One encoder run with a fresh program folder, receiver and prompter.
struct TEncoderFixture {
    TTempHome Home;
    TReportReceiver Receiver;
    TScriptedPrompter Prompter;
    TMp3EncodeProcess Encoder{&Receiver, Prompter};

    void Prepare(const QString& input, const QString& output, bool encode, int jobKind)
    {
        Encoder.Running = true;
        Encoder.InputFile = input;
        Encoder.OutputFile = output;
        Encoder.NotifyWindow = &Receiver;
        Encoder.Encode = encode;
        Encoder.JobKind = jobKind;
    }
    // Encodes or decodes one file and waits for its completion.
    const TProcessInfo& Run(const QString& input, const QString& output, bool encode, int jobKind = 2)
    {
        Prepare(input, output, encode, jobKind);
        Encoder.Start();
        EXPECT_TRUE(Receiver.WaitForCompletion(Done));
        return Receiver.Reports.back();
    }
};

// Temporarily lowers the file-size limit that children inherit.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &Previous);
        rlimit limit = Previous;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit() { setrlimit(RLIMIT_FSIZE, &Previous); }

private:
    rlimit Previous{};
};

void ExpectRisingProgress(const std::vector<int>& percents)
{
    ASSERT_FALSE(percents.empty());
    for (size_t i = 0; i < percents.size(); ++i) {
        EXPECT_GE(percents[i], 1);
        EXPECT_LE(percents[i], 100);
        if (i > 0) {
            EXPECT_GE(percents[i], percents[i - 1]);
        }
    }
    EXPECT_EQ(percents.back(), 100);
}

} // namespace

TEST(Mp3EncodeProcess, EncodesAWavThatDecodesBackToItsLength)
{
    TEncoderFixture f;
    const QString wav = f.Home.File("song.wav");
    const QString mp3 = f.Home.File("song.mp3");
    const qint64 frames = 20 * Rate + 123;
    WriteToneWav(wav, frames);

    const TProcessInfo done = f.Run(wav, mp3, true);
    EXPECT_EQ(done.Percent, Done);
    EXPECT_EQ(done.Result, 2);
    EXPECT_TRUE(done.ExitedCleanly);
    EXPECT_TRUE(done.ElapsedText.isEmpty());
    EXPECT_EQ(f.Receiver.CompletionCount(Done), 1);
    ExpectRisingProgress(f.Receiver.ProgressPercents());
    EXPECT_GE(f.Receiver.ProgressPercents().size(), 3u);
    // The completion comes last, and the object stays "running" until stopped.
    EXPECT_EQ(f.Receiver.Reports.back().Percent, Done);
    EXPECT_TRUE(f.Encoder.Running);
    EXPECT_FALSE(f.Encoder.ProcessActive());
    EXPECT_EQ(f.Encoder.ProgressColumn(), 15);

    // An independent decoder gets the length back within one MP3 frame.
    const QString back = f.Home.File("back.wav");
    ASSERT_EQ(RunProgram("lame", {"--quiet", "--decode", mp3, back}).ExitCode, 0);
    const TWavFacts facts = ReadWavFacts(back);
    ASSERT_TRUE(facts.Valid);
    EXPECT_EQ(facts.Channels, 2);
    EXPECT_EQ(facts.SampleRate, Rate);
    EXPECT_NEAR(facts.Frames, frames, FrameSamples);

    f.Encoder.Stop();
    EXPECT_FALSE(f.Encoder.Running);
}

TEST(Mp3EncodeProcess, DecodesAnMp3IntoAValidWav)
{
    TEncoderFixture f;
    const QString wav = f.Home.File("source.wav");
    const QString mp3 = f.Home.File("source.mp3");
    const qint64 frames = 15 * Rate;
    WriteToneWav(wav, frames);
    ASSERT_EQ(RunProgram("lame", {"--quiet", "-b", "128", wav, mp3}).ExitCode, 0);

    const QString out = f.Home.File("decoded.wav");
    const TProcessInfo done = f.Run(mp3, out, false, 3);
    EXPECT_EQ(done.Result, 2);
    EXPECT_TRUE(done.ExitedCleanly);
    ExpectRisingProgress(f.Receiver.ProgressPercents());
    for (const TProcessInfo& info : f.Receiver.Reports) {
        if (info.Percent <= 100) {
            EXPECT_TRUE(info.ElapsedText.contains(':'));
            EXPECT_TRUE(info.EstimatedText.contains(':'));
        }
    }
    EXPECT_EQ(f.Encoder.ProgressColumn(), 7);

    const TWavFacts facts = ReadWavFacts(out);
    ASSERT_TRUE(facts.Valid);
    EXPECT_EQ(facts.Channels, 2);
    EXPECT_EQ(facts.SampleRate, Rate);
    EXPECT_EQ(facts.BitsPerSample, 16);
    EXPECT_NEAR(facts.Frames, frames, FrameSamples);
    // sox reads the whole file as well.
    const TRunResult sox = RunProgram("sox", {out, "-n", "stat"});
    EXPECT_EQ(sox.ExitCode, 0) << sox.Output.toStdString();
}

TEST(Mp3EncodeProcess, BuildsTheSwitchesOfEachSetting)
{
    TAppSettings settings;
    const QString in = "/music/in.wav";
    const QString out = "/music/out.mp3";
    EXPECT_EQ(TMp3EncodeProcess::EncodeArguments(settings, in, out),
              QStringList({"-b", "128", "-m", "j", in, out}));

    const char* const modes[] = {"s", "j", "f", "d", "m"};
    for (int mode = 0; mode <= 4; ++mode) {
        settings.Mp3StereoMode = mode;
        const QStringList arguments = TMp3EncodeProcess::EncodeArguments(settings, in, out);
        ASSERT_EQ(arguments.indexOf("-m"), 2);
        EXPECT_EQ(arguments[3], modes[mode]);
    }
    settings.Mp3StereoMode = 7;
    settings.Mp3BitRate = 64;
    EXPECT_EQ(TMp3EncodeProcess::EncodeArguments(settings, in, out), QStringList({"-b", "64", in, out}));

    settings.Mp3Quality = 1;
    EXPECT_TRUE(TMp3EncodeProcess::EncodeArguments(settings, in, out).contains("-f"));
    settings.Mp3Quality = 2;
    EXPECT_TRUE(TMp3EncodeProcess::EncodeArguments(settings, in, out).contains("-h"));
    settings.Mp3Quality = 3;
    EXPECT_EQ(TMp3EncodeProcess::EncodeArguments(settings, in, out).size(), 4);

    // The VBR switches and the no-tag switch only with VBR on.
    settings.Mp3Quality = 0;
    settings.Mp3NoVbrTag = true;
    EXPECT_FALSE(TMp3EncodeProcess::EncodeArguments(settings, in, out).contains("-t"));
    settings.Mp3Vbr = true;
    settings.Mp3VbrQuality = 2;
    settings.Mp3MaxBitRate = 256;
    EXPECT_EQ(TMp3EncodeProcess::EncodeArguments(settings, in, out),
              QStringList({"-b", "64", "-V", "2", "-B", "256", "-t", in, out}));
    settings.Mp3NoVbrTag = false;
    EXPECT_FALSE(TMp3EncodeProcess::EncodeArguments(settings, in, out).contains("-t"));

    EXPECT_EQ(TMp3EncodeProcess::DecodeArguments(in, out), QStringList({"--decode", in, out}));
}

TEST(Mp3EncodeProcess, SettingsReachTheRealEncoder)
{
    TEncoderFixture f;
    const QString wav = f.Home.File("in.wav");
    WriteToneWav(wav, 4 * Rate);
    auto encode = [&](const QString& name) {
        const QString mp3 = f.Home.File(name);
        f.Receiver.Reports.clear();
        EXPECT_TRUE(f.Run(wav, mp3, true).ExitedCleanly) << name.toStdString();
        QFile file(mp3);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    };
    auto decodedChannels = [&](const QString& name) {
        const QString back = f.Home.File(name + ".wav");
        EXPECT_EQ(RunProgram("lame", {"--quiet", "--decode", f.Home.File(name), back}).ExitCode, 0);
        return ReadWavFacts(back).Channels;
    };

    // Constant bit rate: the encoder's info frame says "Info".
    TAppSettings& settings = AppSettings();
    const QByteArray cbr = encode("cbr.mp3");
    EXPECT_TRUE(cbr.contains("Info"));
    EXPECT_FALSE(cbr.contains("Xing"));
    EXPECT_EQ(decodedChannels("cbr.mp3"), 2);

    settings.Mp3Vbr = true;
    EXPECT_TRUE(encode("vbr.mp3").contains("Xing"));
    settings.Mp3NoVbrTag = true;
    const QByteArray noTag = encode("vbr-notag.mp3");
    EXPECT_FALSE(noTag.contains("Xing"));
    EXPECT_FALSE(noTag.contains("Info"));

    settings.Mp3Vbr = false;
    settings.Mp3StereoMode = 4;
    encode("mono.mp3");
    EXPECT_EQ(decodedChannels("mono.mp3"), 1);
    // Stereo mode 7 passes no mode: the encoder chooses, and keeps both channels.
    settings.Mp3StereoMode = 7;
    encode("auto.mp3");
    EXPECT_EQ(decodedChannels("auto.mp3"), 2);
}

TEST(Mp3EncodeProcess, AsksBeforeOverwritingAndStartsNothingWhenDeclined)
{
    TEncoderFixture f;
    const QString wav = f.Home.File("in.wav");
    WriteToneWav(wav, Rate);
    f.Home.Write("out.mp3", "keep me");
    const QString mp3 = f.Home.File("out.mp3");

    f.Prompter.QueueAnswer(TPrompter::TAnswer::No);
    f.Prepare(wav, mp3, true, 2);
    f.Encoder.Start();
    // Reported through the queue, not inside Start.
    EXPECT_TRUE(f.Receiver.Reports.empty());
    EXPECT_FALSE(f.Encoder.ProcessActive());
    ASSERT_TRUE(f.Receiver.WaitForCompletion(Done));
    ASSERT_EQ(f.Receiver.Reports.size(), 1u);
    EXPECT_EQ(f.Receiver.Reports[0].Result, 0);
    EXPECT_FALSE(f.Receiver.Reports[0].ExitedCleanly);
    ASSERT_EQ(f.Prompter.Calls().size(), 1u);
    EXPECT_EQ(f.Prompter.Calls()[0].Text, mp3 + " has existed,overite it?");
    EXPECT_EQ(f.Home.Read("out.mp3"), "keep me");
    EXPECT_TRUE(f.Encoder.Running);

    // Yes: the encoder replaces the file.
    f.Receiver.Reports.clear();
    f.Prompter.QueueAnswer(TPrompter::TAnswer::Yes);
    EXPECT_EQ(f.Run(wav, mp3, true).Result, 2);
    EXPECT_GT(QFileInfo(mp3).size(), 1000);
    EXPECT_TRUE(f.Prompter.ScriptUsedUp());
}

TEST(Mp3EncodeProcess, ReplacesTheJobsOwnFilesWithoutAsking)
{
    for (const int jobKind : {1, 4}) {
        TEncoderFixture f;
        const QString wav = f.Home.File("Track.wav");
        WriteToneWav(wav, Rate);
        f.Home.Write("Track.mp3", "old");
        // The scripted prompter fails the test on any question.
        const TProcessInfo done = f.Run(wav, f.Home.File("Track.mp3"), true, jobKind);
        EXPECT_EQ(done.Result, 2);
        EXPECT_TRUE(done.ExitedCleanly);
        EXPECT_TRUE(f.Prompter.Calls().empty());
        EXPECT_GT(QFileInfo(f.Home.File("Track.mp3")).size(), 1000);
    }
}

TEST(Mp3EncodeProcess, LeavesAnOutputInUseAlone)
{
    TEncoderFixture f;
    const QString wav = f.Home.File("in.wav");
    WriteToneWav(wav, Rate);
    f.Home.Write("held.mp3", "held");
    const QString mp3 = f.Home.File("held.mp3");
    QProcess holder;
    holder.start("sh", {"-c", "exec 3<>\"$1\"; echo ready; exec sleep 30", "sh", mp3});
    ASSERT_TRUE(holder.waitForStarted());
    ASSERT_TRUE(holder.waitForReadyRead(10000));

    f.Prompter.QueueAnswer(TPrompter::TAnswer::Yes);
    f.Prepare(wav, mp3, true, 2);
    f.Encoder.Start();
    EXPECT_FALSE(f.Encoder.ProcessActive());
    ASSERT_TRUE(f.Receiver.WaitForCompletion(Done));
    ASSERT_EQ(f.Receiver.Reports.size(), 1u);
    EXPECT_EQ(f.Receiver.Reports[0].Result, 1);
    EXPECT_EQ(f.Home.Read("held.mp3"), "held");
    holder.kill();
    holder.waitForFinished();
}

TEST(Mp3EncodeProcess, StopKillsTheEncoderAndReportsNothing)
{
    TEncoderFixture f;
    const QString wav = f.Home.File("long.wav");
    WriteToneWav(wav, 60 * Rate);
    f.Prepare(wav, f.Home.File("long.mp3"), true, 2);
    f.Encoder.Start();
    const qint64 pid = f.Encoder.ProcessId();
    ASSERT_GT(pid, 0);
    // Wait for the first progress, so the encoder is in the middle of its work.
    for (int i = 0; i < 200 && f.Receiver.Reports.empty(); ++i)
        TReportReceiver::Pump(20);
    ASSERT_FALSE(f.Receiver.Reports.empty());
    ASSERT_TRUE(f.Encoder.ProcessActive());
    QCoreApplication::sendPostedEvents();
    const size_t seenBeforeStop = f.Receiver.Reports.size();

    f.Encoder.Stop();
    EXPECT_FALSE(f.Encoder.Running);
    EXPECT_FALSE(f.Encoder.ProcessActive());
    // The child is gone (and reaped).
    EXPECT_EQ(kill(static_cast<pid_t>(pid), 0), -1);
    EXPECT_EQ(errno, ESRCH);
    TReportReceiver::Pump(500);
    EXPECT_EQ(f.Receiver.Reports.size(), seenBeforeStop);
    EXPECT_EQ(f.Receiver.CompletionCount(Done), 0);

    // A second Stop only clears the flag; the object serves the next file.
    f.Encoder.Stop();
    const QString shortWav = f.Home.File("short.wav");
    WriteToneWav(shortWav, Rate);
    EXPECT_TRUE(f.Run(shortWav, f.Home.File("short.mp3"), true).ExitedCleanly);
}

TEST(Mp3EncodeProcess, ATextFileGivenToTheDecoderEndsWithoutProgress)
{
    TEncoderFixture f;
    f.Home.Write("notes.mp3", "These are not the droids you are looking for.\n");
    const TProcessInfo done = f.Run(f.Home.File("notes.mp3"), f.Home.File("notes.wav"), false, 3);
    EXPECT_EQ(done.Result, TEncoderProcess::FailedResult);
    EXPECT_TRUE(
        done.ElapsedText.startsWith("Error while saving sound file!\n" + f.Home.File("notes.wav") + "\n"))
        << qPrintable(done.ElapsedText);
    EXPECT_FALSE(done.ExitedCleanly);
    EXPECT_FALSE(QFileInfo::exists(f.Home.File("notes.wav")));
    EXPECT_TRUE(f.Receiver.ProgressPercents().empty());
    EXPECT_EQ(f.Receiver.CompletionCount(Done), 1);
}

TEST(Mp3EncodeProcess, ADiskThatFillsUpFailsTheFile)
{
    // Killed by the file-size limit without a word.
    {
        TEncoderFixture f;
        const QString wav = f.Home.File("in.wav");
        WriteToneWav(wav, 30 * Rate);
        f.Prepare(wav, f.Home.File("out.mp3"), true, 2);
        {
            TFileSizeLimit limit(64 * 1024);
            f.Encoder.Start();
        }
        ASSERT_TRUE(f.Receiver.WaitForCompletion(Done));
        EXPECT_EQ(f.Receiver.Reports.back().Result, TEncoderProcess::FailedResult);
        EXPECT_TRUE(f.Receiver.Reports.back().ElapsedText.contains("lame stopped unexpectedly"))
            << qPrintable(f.Receiver.Reports.back().ElapsedText);
        EXPECT_FALSE(f.Receiver.Reports.back().ExitedCleanly);
        EXPECT_FALSE(QFileInfo::exists(f.Home.File("out.mp3")));
    }
    // A write error: the encoder prints progress, then gives up with exit code 1.
    {
        TEncoderFixture f;
        const QString wav = f.Home.File("in.wav");
        WriteToneWav(wav, 30 * Rate);
        f.Prepare(wav, f.Home.File("out.mp3"), true, 2);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        {
            TFileSizeLimit limit(64 * 1024);
            f.Encoder.Start();
        }
        std::signal(SIGXFSZ, previous);
        ASSERT_TRUE(f.Receiver.WaitForCompletion(Done));
        EXPECT_FALSE(f.Receiver.ProgressPercents().empty());
        EXPECT_EQ(f.Receiver.Reports.back().Result, TEncoderProcess::FailedResult);
        EXPECT_TRUE(f.Receiver.Reports.back().ElapsedText.contains("lame ended with exit code 1"))
            << qPrintable(f.Receiver.Reports.back().ElapsedText);
        EXPECT_FALSE(f.Receiver.Reports.back().ExitedCleanly);
        EXPECT_FALSE(QFileInfo::exists(f.Home.File("out.mp3")));
    }
}

TEST(Mp3EncodeProcess, AMissingEncoderRaisesTheStartError)
{
    TEncoderFixture f;
    const QString wav = f.Home.File("in.wav");
    WriteToneWav(wav, Rate);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(f.Home.Path()));
    f.Prepare(wav, f.Home.File("out.mp3"), true, 2);
    try {
        f.Encoder.Start();
        ADD_FAILURE() << "no error raised";
    } catch (const EEncoderError& error) {
        EXPECT_EQ(error.ErrorNumber(), ENOENT);
        EXPECT_EQ(error.Text(),
                  "Error while creating mp3 encoding process!\nlame: No such file or directory");
    }
    qputenv("PATH", path);
    EXPECT_FALSE(f.Encoder.ProcessActive());
    TReportReceiver::Pump(100);
    EXPECT_TRUE(f.Receiver.Reports.empty());
}

TEST(Mp3EncodeProcess, TitlesThatLookLikeShellOrOptionsAreFileNames)
{
    TEncoderFixture f;
    // Relative names, so only our absolute paths keep the leading "-" from being
    // read as an option; "%" and "#" must not confuse the progress columns.
    const QString name = R"(-V 0 "50% off" #2 $(touch pwned); `touch pwned2` & echo)";
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(f.Home.Path()));
    WriteToneWav(name + ".wav", 10 * Rate);
    const TProcessInfo done = f.Run(name + ".wav", name + ".mp3", true);
    EXPECT_TRUE(done.ExitedCleanly);
    ExpectRisingProgress(f.Receiver.ProgressPercents());
    EXPECT_TRUE(QFileInfo(f.Home.File(name + ".mp3")).size() > 1000);

    f.Receiver.Reports.clear();
    const TProcessInfo decoded = f.Run(name + ".mp3", name + ".out.wav", false, 3);
    EXPECT_TRUE(decoded.ExitedCleanly);
    ExpectRisingProgress(f.Receiver.ProgressPercents());
    EXPECT_TRUE(ReadWavFacts(f.Home.File(name + ".out.wav")).Valid);
    QDir::setCurrent(previous);

    EXPECT_FALSE(QFileInfo::exists(f.Home.File("pwned")));
    EXPECT_FALSE(QFileInfo::exists(f.Home.File("pwned2")));
    EXPECT_FALSE(QFileInfo::exists(previous + "/pwned"));
}
