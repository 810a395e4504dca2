#include "codec_fixtures.h"
#include "codecs/wma_encode_process.h"
#include "codecs/wma_settings.h"
#include "core/disc_info.h"
#include "core/helpers.h"
#include "core/settings.h"
#include "support/scripted_prompter.h"
#include "support/temp_home.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int Done = TWMAEncodeProcess::CompletionPercent;
constexpr qint64 Rate = 44100;

// One encoder run with a fresh program folder, receiver and prompter, and the
// built encoder program on PATH.
struct TWmaFixture {
    TTempHome Home;
    TWmaEncoderOnPath Program;
    TReportReceiver Receiver;
    TScriptedPrompter Prompter;
    TWMAEncodeProcess Encoder{&Receiver, Prompter};

    void Prepare(const QString& input, const QString& output, int jobKind = 6)
    {
        Encoder.Running = true;
        Encoder.InputFile = input;
        Encoder.OutputFile = output;
        Encoder.NotifyWindow = &Receiver;
        Encoder.Encode = true;
        Encoder.JobKind = jobKind;
    }
    // Encodes one file and waits for its completion.
    const TProcessInfo& Run(const QString& input, const QString& output, int jobKind = 6)
    {
        Prepare(input, output, jobKind);
        Encoder.Start();
        EXPECT_TRUE(Receiver.WaitForCompletion(Done));
        // Nothing may follow the completion.
        TReportReceiver::Pump(50);
        return Receiver.Reports.back();
    }
};

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

// Long enough for a loaded machine, short of ctest's limit, so that a hang is
// reported here.
constexpr int WaitLimitMs = 240000;

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = WaitLimitMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < timeoutMs)
        TReportReceiver::Pump(20);
    return condition();
}

// A named pipe as the encoder's input: it reads what the test writes and then
// waits for more, so the test knows the encoder is in the middle of its work.
class TSlowInput {
public:
    explicit TSlowInput(const QString& path) : Path(path)
    {
        EXPECT_EQ(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    }
    ~TSlowInput()
    {
        if (Fd >= 0)
            close(Fd);
    }
    // Opens the pipe once the encoder has opened it for reading, and writes the
    // start of a CD-quality WAV file: the header and a few seconds.
    void FeedStart(const QString& wavSource)
    {
        QElapsedTimer timer;
        timer.start();
        while (Fd < 0 && timer.elapsed() < WaitLimitMs) {
            Fd = open(QFile::encodeName(Path).constData(), O_WRONLY | O_NONBLOCK);
            if (Fd < 0)
                TReportReceiver::Pump(10);
        }
        ASSERT_GE(Fd, 0);
        fcntl(Fd, F_SETFL, 0);
        QFile source(wavSource);
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        const QByteArray start = source.read(400000);
        // An encoder that gave up early must fail the test, not kill it.
        const auto previous = std::signal(SIGPIPE, SIG_IGN);
        const ssize_t written = write(Fd, start.constData(), static_cast<size_t>(start.size()));
        std::signal(SIGPIPE, previous);
        ASSERT_EQ(written, start.size());
    }

private:
    QString Path;
    int Fd = -1;
};

} // namespace

// One test per setting: the 33 encodes and probes of all of them in one test
// outlast ctest's time limit on a loaded machine.
class WmaEncodeSetting : public testing::TestWithParam<int> {};

TEST_P(WmaEncodeSetting, MakesAWmaFileOfItsFormat)
{
    const int position = GetParam();
    TWmaFixture f;
    const QString wav = f.Home.File("source.wav");
    const qint64 frames = 10 * Rate + 777;
    WriteToneWav(wav, frames);
    const double seconds = static_cast<double>(frames) / Rate;
    const qint64 wavSize = QFileInfo(wav).size();

    const TWmaSetting& setting = WmaSettings()[static_cast<size_t>(position)];
    AppSettings().WmaSetting = position;
    const QString wma = f.Home.File("out.wma");
    const TProcessInfo done = f.Run(wav, wma);
    EXPECT_EQ(done.Percent, Done);
    EXPECT_EQ(done.Result, 2) << done.ElapsedText.toStdString();
    EXPECT_TRUE(done.ExitedCleanly);
    EXPECT_EQ(f.Receiver.CompletionCount(Done), 1);
    // The only progress is the final one.
    EXPECT_EQ(f.Receiver.ProgressPercents(), std::vector<int>{100});

    const TProbe probe = ProbeAudio(wma);
    ASSERT_TRUE(probe.Valid);
    EXPECT_EQ(probe.FormatName, "asf");
    EXPECT_EQ(probe.CodecName, "wmav2");
    EXPECT_EQ(probe.SampleRate, setting.SampleRate);
    EXPECT_EQ(probe.Channels, setting.Channels);
    EXPECT_NEAR(probe.Duration, seconds, 0.1);
    // The job window's time estimate expects about this size. At the lowest
    // rates the files run up to a sixth larger than the list's figures, and
    // every file has a header and a last, padded packet of a few kilobytes.
    const double expected = static_cast<double>(wavSize) * 1000 / WmaSizeRatio(position);
    const double size = static_cast<double>(QFileInfo(wma).size());
    EXPECT_GT(size, expected * 0.95);
    EXPECT_LT(size, expected * 1.2 + 4096);
    EXPECT_TRUE(f.Prompter.Calls().empty());
}

INSTANTIATE_TEST_SUITE_P(EverySetting, WmaEncodeSetting, testing::Range(0, WmaSettingCount),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::string(WmaSettings()[static_cast<size_t>(info.param)].Value);
                         });

TEST(WmaEncodeProcess, AnUnknownSettingEncodesTheDefaultAndIsMended)
{
    TWmaFixture f;
    const QString wav = f.Home.File("in.wav");
    WriteToneWav(wav, 3 * Rate, 22050, 1);
    AppSettings().WmaSetting = 40;
    const TProcessInfo done = f.Run(wav, f.Home.File("out.wma"));
    EXPECT_EQ(done.Result, 2);
    EXPECT_EQ(AppSettings().WmaSetting, DefaultWmaSetting);
    const TProbe probe = ProbeAudio(f.Home.File("out.wma"));
    EXPECT_EQ(probe.SampleRate, 44100);
    EXPECT_EQ(probe.Channels, 2);

    AppSettings().WmaSetting = -1;
    f.Receiver.Reports.clear();
    EXPECT_EQ(f.Run(wav, f.Home.File("again.wma")).Result, 2);
    EXPECT_EQ(AppSettings().WmaSetting, DefaultWmaSetting);
}

TEST(WmaEncodeProcess, ArtistAndCommentTravelWholeOnlyWithId3)
{
    TWmaFixture f;
    const QString wav = f.Home.File("in.wav");
    WriteToneWav(wav, 2 * Rate);
    DiscInfo().Artist = QString::fromUtf8(R"(-output "Ünïcödé" & The $(Band) 100% ERROR)");
    DiscInfo().Comment = QStringLiteral("Live at the 'Hall',  two blanks");

    // Off: no tags.
    EXPECT_EQ(f.Run(wav, f.Home.File("plain.wma")).Result, 2);
    TProbe probe = ProbeAudio(f.Home.File("plain.wma"));
    EXPECT_TRUE(probe.Artist.isEmpty());
    EXPECT_TRUE(probe.Comment.isEmpty());

    // On: both, exactly as typed; the artist's "ERROR" and "100%" reach only the
    // file, never the encoder's output.
    AppSettings().UseId3 = true;
    f.Receiver.Reports.clear();
    const TProcessInfo done = f.Run(wav, f.Home.File("tagged.wma"));
    EXPECT_EQ(done.Result, 2);
    EXPECT_EQ(f.Receiver.ProgressPercents(), std::vector<int>{100});
    probe = ProbeAudio(f.Home.File("tagged.wma"));
    EXPECT_EQ(probe.Artist, DiscInfo().Artist);
    EXPECT_EQ(probe.Comment, DiscInfo().Comment);

    // No artist, a one-word comment: only the description.
    DiscInfo().Artist.clear();
    DiscInfo().Comment = QStringLiteral("Bootleg");
    const QStringList arguments =
        TWMAEncodeProcess::EncodeArguments(AppSettings(), DiscInfo(), wav, f.Home.File("c.wma"));
    EXPECT_FALSE(arguments.contains("-author"));
    EXPECT_EQ(arguments.mid(arguments.indexOf("-description")), QStringList({"-description", "Bootleg"}));
    f.Receiver.Reports.clear();
    EXPECT_EQ(f.Run(wav, f.Home.File("comment.wma")).Result, 2);
    probe = ProbeAudio(f.Home.File("comment.wma"));
    EXPECT_TRUE(probe.Artist.isEmpty());
    EXPECT_EQ(probe.Comment, "Bootleg");
}

TEST(WmaEncodeProcess, TheFinalReportShowsAtLeastOneSecond)
{
    TWmaFixture f;
    const QString wav = f.Home.File("blip.wav");
    WriteToneWav(wav, Rate / 5);
    // The encoder's time lies within the test's; on a busy machine even a
    // fifth of a second of sound may take more than a second to encode.
    QElapsedTimer timer;
    timer.start();
    f.Run(wav, f.Home.File("blip.wma"));
    const qint64 longest = std::max<qint64>(1, (timer.elapsed() + 999) / 1000);
    ASSERT_EQ(f.Receiver.Reports.size(), 2u);
    const TProcessInfo& final = f.Receiver.Reports[0];
    EXPECT_EQ(final.Percent, 100);
    EXPECT_EQ(final.Result, 0);
    QStringList shown;
    for (qint64 seconds = 1; seconds <= longest; ++seconds)
        shown << TimeText(seconds);
    EXPECT_TRUE(shown.contains(final.ElapsedText))
        << final.ElapsedText.toStdString() << " after " << timer.elapsed() << " ms";
    EXPECT_EQ(final.EstimatedText, final.ElapsedText);
    EXPECT_EQ(f.Receiver.Reports[1].Percent, Done);
}

TEST(WmaEncodeProcess, AsksBeforeOverwritingAndReportsLater)
{
    TWmaFixture f;
    const QString wav = f.Home.File("in.wav");
    WriteToneWav(wav, Rate);
    f.Home.Write("out.wma", "keep me");
    const QString wma = f.Home.File("out.wma");

    f.Prompter.QueueAnswer(TPrompter::TAnswer::No);
    f.Prepare(wav, wma);
    f.Encoder.Start();
    // Posted: the job's handler never runs inside Start.
    EXPECT_TRUE(f.Receiver.Reports.empty());
    EXPECT_FALSE(f.Encoder.ProcessActive());
    ASSERT_TRUE(f.Receiver.WaitForCompletion(Done));
    ASSERT_EQ(f.Receiver.Reports.size(), 1u);
    EXPECT_EQ(f.Receiver.Reports[0].Result, 0);
    ASSERT_EQ(f.Prompter.Calls().size(), 1u);
    EXPECT_EQ(f.Prompter.Calls()[0].Text, wma + " has existed,overite it?");
    EXPECT_EQ(f.Home.Read("out.wma"), "keep me");

    f.Receiver.Reports.clear();
    f.Prompter.QueueAnswer(TPrompter::TAnswer::Yes);
    EXPECT_EQ(f.Run(wav, wma).Result, 2);
    EXPECT_EQ(ProbeAudio(wma).CodecName, "wmav2");
    EXPECT_TRUE(f.Prompter.ScriptUsedUp());
}

TEST(WmaEncodeProcess, ReplacesAnExtractedTracksFileWithoutAsking)
{
    TWmaFixture f;
    const QString wav = f.Home.File("01Intro.wav");
    WriteToneWav(wav, Rate);
    f.Home.Write("01Intro.wma", "old");
    EXPECT_EQ(f.Run(wav, f.Home.File("01Intro.wma"), 1).Result, 2);
    EXPECT_TRUE(f.Prompter.Calls().empty());
    EXPECT_EQ(ProbeAudio(f.Home.File("01Intro.wma")).CodecName, "wmav2");
}

TEST(WmaEncodeProcess, LeavesAnOutputInUseAlone)
{
    TWmaFixture f;
    const QString wav = f.Home.File("in.wav");
    WriteToneWav(wav, Rate);
    f.Home.Write("held.wma", "held");
    const QString wma = f.Home.File("held.wma");
    QProcess holder;
    holder.start("sh", {"-c", "exec 3<>\"$1\"; echo ready; exec sleep 30", "sh", wma});
    ASSERT_TRUE(holder.waitForStarted());
    ASSERT_TRUE(holder.waitForReadyRead(10000));

    f.Prompter.QueueAnswer(TPrompter::TAnswer::Yes);
    f.Prepare(wav, wma);
    f.Encoder.Start();
    EXPECT_TRUE(f.Receiver.Reports.empty());
    EXPECT_FALSE(f.Encoder.ProcessActive());
    ASSERT_TRUE(f.Receiver.WaitForCompletion(Done));
    ASSERT_EQ(f.Receiver.Reports.size(), 1u);
    EXPECT_EQ(f.Receiver.Reports[0].Result, 1);
    EXPECT_EQ(f.Home.Read("held.wma"), "held");
    holder.kill();
    holder.waitForFinished();
}

TEST(WmaEncodeProcess, AMissingProgramIsToldAndTheFileSkipped)
{
    TWmaFixture f;
    const QString wav = f.Home.File("in.wav");
    WriteToneWav(wav, Rate);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(f.Home.Path()));
    f.Prepare(wav, f.Home.File("out.wma"));
    f.Encoder.Start();
    qputenv("PATH", path);
    EXPECT_FALSE(f.Encoder.ProcessActive());
    EXPECT_EQ(f.Prompter.Messages(),
              QStringList{"Can not find WMA encoder,please contact with the Velbrook project!"});
    ASSERT_EQ(f.Prompter.Calls().size(), 1u);
    EXPECT_EQ(f.Prompter.Calls()[0].Kind, TScriptedPrompter::TKind::Information);
    EXPECT_TRUE(f.Receiver.Reports.empty());
    ASSERT_TRUE(f.Receiver.WaitForCompletion(Done));
    ASSERT_EQ(f.Receiver.Reports.size(), 1u);
    EXPECT_EQ(f.Receiver.Reports[0].Result, 0);
    EXPECT_FALSE(QFileInfo::exists(f.Home.File("out.wma")));
}

TEST(WmaEncodeProcess, AnInvalidWavEndsInOneErrorCompletion)
{
    TWmaFixture f;
    f.Home.Write("notes.wav", "These are not the droids you are looking for.\n");
    f.Home.Write("out.wma", "older");
    f.Prompter.QueueAnswer(TPrompter::TAnswer::Yes);
    const TProcessInfo done = f.Run(f.Home.File("notes.wav"), f.Home.File("out.wma"));
    EXPECT_EQ(done.Percent, Done);
    EXPECT_EQ(done.Result, TWMAEncodeProcess::ErrorResult);
    EXPECT_EQ(done.ElapsedText, "ERROR: the input is not a valid WAV file");
    EXPECT_FALSE(done.ExitedCleanly);
    // One completion for the file, and no "100%".
    ASSERT_EQ(f.Receiver.Reports.size(), 1u);
    // A bad input leaves the existing output as it was.
    EXPECT_EQ(f.Home.Read("out.wma"), "older");
}

TEST(WmaEncodeProcess, AMissingOutputFolderAndAFullDiskFailTheFile)
{
    TWmaFixture f;
    const QString wav = f.Home.File("in.wav");
    WriteToneWav(wav, 30 * Rate);

    const TProcessInfo noFolder = f.Run(wav, f.Home.File("no/such/folder/out.wma"));
    EXPECT_EQ(noFolder.Result, TWMAEncodeProcess::ErrorResult);
    EXPECT_EQ(noFolder.ElapsedText, "ERROR: cannot create the output file: No such file or directory");
    EXPECT_EQ(f.Receiver.Reports.size(), 1u);

    f.Receiver.Reports.clear();
    f.Prepare(wav, f.Home.File("full.wma"));
    {
        // The limit is inherited by the encoder; the test itself writes nothing.
        TFileSizeLimit limit(64 * 1024);
        f.Encoder.Start();
    }
    ASSERT_TRUE(f.Receiver.WaitForCompletion(Done));
    TReportReceiver::Pump(50);
    ASSERT_EQ(f.Receiver.Reports.size(), 1u);
    EXPECT_EQ(f.Receiver.Reports[0].Result, TWMAEncodeProcess::ErrorResult);
    EXPECT_EQ(f.Receiver.Reports[0].ElapsedText, "ERROR: cannot write the output file: File too large");
    // No partial file is left to look like a finished one.
    EXPECT_FALSE(QFileInfo::exists(f.Home.File("full.wma")));
}

TEST(WmaEncodeProcess, StopEndsTheEncoderRemovesItsPartialFileAndReportsNothing)
{
    TWmaFixture f;
    const QString source = f.Home.File("source.wav");
    WriteToneWav(source, 10 * Rate);
    const QString pipe = f.Home.File("pipe.wav");
    TSlowInput input(pipe);
    const QString wma = f.Home.File("partial.wma");
    f.Prepare(pipe, wma);
    f.Encoder.Start();
    const qint64 pid = f.Encoder.ProcessId();
    ASSERT_GT(pid, 0);
    input.FeedStart(source);
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(wma); }));

    f.Encoder.Stop();
    EXPECT_FALSE(f.Encoder.Running);
    EXPECT_FALSE(f.Encoder.ProcessActive());
    EXPECT_EQ(kill(static_cast<pid_t>(pid), 0), -1);
    EXPECT_EQ(errno, ESRCH);
    EXPECT_FALSE(QFileInfo::exists(wma));
    TReportReceiver::Pump(300);
    EXPECT_TRUE(f.Receiver.Reports.empty());

    // The object serves the next file.
    EXPECT_EQ(f.Run(source, f.Home.File("next.wma")).Result, 2);
}

TEST(WmaEncodeProcess, AnEncoderKilledWithoutAWordHasFailed)
{
    TWmaFixture f;
    const QString source = f.Home.File("source.wav");
    WriteToneWav(source, 10 * Rate);
    const QString pipe = f.Home.File("pipe.wav");
    TSlowInput input(pipe);
    f.Prepare(pipe, f.Home.File("out.wma"));
    f.Encoder.Start();
    const qint64 pid = f.Encoder.ProcessId();
    ASSERT_GT(pid, 0);
    input.FeedStart(source);
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(f.Home.File("out.wma")); }));

    ASSERT_EQ(kill(static_cast<pid_t>(pid), SIGKILL), 0);
    ASSERT_TRUE(f.Receiver.WaitForCompletion(Done));
    TReportReceiver::Pump(50);
    ASSERT_EQ(f.Receiver.Reports.size(), 1u);
    const TProcessInfo& done = f.Receiver.Reports[0];
    EXPECT_EQ(done.Result, TWMAEncodeProcess::ErrorResult);
    EXPECT_EQ(done.ElapsedText, "ERROR: the WMA encoder stopped unexpectedly");
    EXPECT_FALSE(done.ExitedCleanly);
}

namespace {

// Plays the job window: on each completion it notes the result and starts the
// next file from inside its handler.
class TChainingReceiver final : public QObject {
public:
    TWMAEncodeProcess* Encoder = nullptr;
    QStringList Inputs;
    QStringList Outputs;
    std::vector<int> Results;
    int Next = 0;

    void StartNext()
    {
        Encoder->Running = true;
        Encoder->InputFile = Inputs[Next];
        Encoder->OutputFile = Outputs[Next];
        Encoder->Encode = true;
        Encoder->JobKind = 6;
        ++Next;
        Encoder->Start();
    }

    bool event(QEvent* e) override
    {
        if (e->type() != WM_PROCESSINFO)
            return QObject::event(e);
        const TProcessInfo* info = static_cast<TMessageEvent*>(e)->Info();
        if (info && info->Percent == TWMAEncodeProcess::CompletionPercent) {
            Results.push_back(info->Result);
            if (Next < Inputs.size())
                StartNext();
        }
        return true;
    }
};

} // namespace

TEST(WmaEncodeProcess, AHandlerMayStartTheNextFileFromItsCompletion)
{
    TTempHome home;
    TWmaEncoderOnPath program;
    TScriptedPrompter prompter;
    TChainingReceiver job;
    TWMAEncodeProcess encoder(&job, prompter);
    job.Encoder = &encoder;

    const QString good = home.File("good.wav");
    WriteToneWav(good, 2 * Rate);
    home.Write("bad.wav", "RIFF....WAVEjunk");
    home.Write("kept.wma", "kept");
    job.Inputs = {good, home.File("bad.wav"), good, good};
    job.Outputs = {home.File("kept.wma"), home.File("bad.wma"), home.File("one.wma"), home.File("two.wma")};
    prompter.QueueAnswer(TPrompter::TAnswer::No);

    job.StartNext();
    ASSERT_TRUE(WaitFor([&] { return job.Results.size() >= 4; }));
    TReportReceiver::Pump(200);
    EXPECT_EQ(job.Results, (std::vector<int>{0, TWMAEncodeProcess::ErrorResult, 2, 2}));
    EXPECT_EQ(home.Read("kept.wma"), "kept");
    EXPECT_FALSE(QFileInfo::exists(home.File("bad.wma")));
    EXPECT_EQ(ProbeAudio(home.File("one.wma")).CodecName, "wmav2");
    EXPECT_EQ(ProbeAudio(home.File("two.wma")).CodecName, "wmav2");
}

TEST(WmaEncodeProcess, NamesThatLookLikeMarkersOrOptionsAreFileNames)
{
    TWmaFixture f;
    const QString name = R"(-output ERROR 100% "x" $(touch pwned))";
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(f.Home.Path()));
    WriteToneWav(name + ".wav", 2 * Rate);
    const TProcessInfo done = f.Run(name + ".wav", name + ".wma");
    QDir::setCurrent(previous);
    EXPECT_EQ(done.Result, 2) << done.ElapsedText.toStdString();
    EXPECT_EQ(f.Receiver.ProgressPercents(), std::vector<int>{100});
    EXPECT_EQ(ProbeAudio(f.Home.File(name + ".wma")).CodecName, "wmav2");
    EXPECT_FALSE(QFileInfo::exists(f.Home.File("pwned")));
}
