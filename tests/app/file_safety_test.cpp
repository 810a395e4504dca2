#include "cli_test_support.h"
#include "codec_fixtures.h"
#include "support/small_disk.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

// What jobs do to files that are not theirs, and to their own files when they
// cannot finish them: the command-line mode as a user runs it, with the real
// encoders, real links and real full disks.

namespace {

constexpr qint64 FrameBytes = 2352;
const QByteArray VictimText = "a file of the user, outside the output folder";

std::string Text(const TCliResult& result)
{
    return QStringLiteral("exit %1\n--- stdout\n%2--- stderr\n%3")
        .arg(result.ExitCode)
        .arg(result.Out, result.Err)
        .toStdString();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Link(const QString& target, const QString& at)
{
    QDir().mkpath(QFileInfo(at).absolutePath());
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()), 0);
}

// Everything in a folder, hidden files, links and dangling links included.
QString Everything(const QString& folder)
{
    return QDir(folder)
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)
        .join(", ");
}

// The files the run says it wrote ("... -> FILE").
QStringList ReportedFiles(const TCliResult& result)
{
    QStringList files;
    static const QRegularExpression arrow(QStringLiteral("-> (.*)$"), QRegularExpression::MultilineOption);
    for (auto it = arrow.globalMatch(result.Out); it.hasNext();)
        files.append(it.next().captured(1).trimmed());
    return files;
}

// The process id of a child of parent running program, 0 when there is none.
qint64 ChildProcess(qint64 parent, const QByteArray& program)
{
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + entry + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ..."
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('(');
        const qsizetype close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> rest = line.mid(close + 2).split(' ');
        if (line.mid(open + 1, close - open - 1) == program && rest.size() > 1 &&
            rest[1].toLongLong() == parent)
            return entry.toLongLong();
    }
    return 0;
}

// A test with a file of the user outside the output folder, which links in
// the output folder lead to.
class TFileSafetyTest : public TCliTest {
public:
    TFileSafetyTest()
    {
        Home.Write("victim.txt", VictimText);
        QDir().mkpath(Out());
    }

    QString Out(const QString& name = QString()) const
    {
        return name.isEmpty() ? Home.File("out") : Home.File("out/" + name);
    }
    QString Victim() const { return Home.File("victim.txt"); }
    void ExpectVictimUntouched() const
    {
        EXPECT_EQ(ReadFile(Victim()), VictimText);
        EXPECT_FALSE(QFileInfo::exists(Home.File("nowhere.wav")));
    }
    void WriteOptions(const QByteArray& lines) { Home.Write("options.ini", lines); }
};

// The sample bytes of a WAV file behind its 44-byte header.
QByteArray WavData(const QString& path)
{
    return ReadFile(path).mid(44);
}

} // namespace

// ---- Unsafe paths: nothing is written through a link, nothing of the user's
// is taken over or deleted.

TEST(UnsafePaths, TemporaryFilesNeverFollowALinkNorTakeAUsersFile)
{
    struct TCase {
        const char* Conversion;
        const char* TempName;
        bool TempIsLink; // else the user's own file of that name
        const char* Result;
    };
    const TCase cases[] = {
        {"wav-mp3", "MyMP3ReTemp.wav", true, "low.mp3"},
        {"wav-ogg", "MyReTemp.wav", true, "low.ogg"},
        {"wav-mp3", "MyMP3ReTemp.wav", false, "low.mp3"},
        {"wav-ogg", "MyReTemp.wav", false, "low.ogg"},
    };
    for (const TCase& c : cases) {
        TFileSafetyTest cli;
        SCOPED_TRACE(std::string(c.Conversion) + (c.TempIsLink ? " link" : " file"));
        WriteToneWav(cli.Home.File("low.wav"), 22050, 22050);
        if (c.TempIsLink)
            Link(cli.Victim(), cli.Out(c.TempName));
        else
            cli.Home.Write(QStringLiteral("out/") + c.TempName, VictimText);
        const TCliResult result =
            cli.Run({"--convert", c.Conversion, "--no-overwrite", "--output", cli.Out(), "low.wav"});
        EXPECT_EQ(result.ExitCode, 0) << Text(result);
        cli.ExpectVictimUntouched();
        // What had the name is still there, as it was; the job's own
        // temporary file is gone.
        EXPECT_EQ(QFileInfo(cli.Out(c.TempName)).isSymLink(), c.TempIsLink);
        EXPECT_EQ(ReadFile(cli.Out(c.TempName)), VictimText);
        EXPECT_EQ(Everything(cli.Out()), QStringList({QString(c.TempName), c.Result}).join(", "))
            << Text(result);
        EXPECT_NEAR(ProbeAudio(cli.Out(c.Result)).Duration, 1.0, 0.1);
    }
}

TEST(UnsafePaths, TheGainPassNeverWritesThroughALinkAtItsTemporaryName)
{
    TFileSafetyTest cli;
    const QString disc = cli.WriteDisc("disc.cue", AudioTracks({75}));
    cli.WriteOptions("[CommonOptions]\nIsNormalize=1\nNormalizePercent=50\n");
    Link(cli.Victim(), cli.Out("Track01.nor"));
    const TCliResult result =
        cli.Run({"--extract", "--format", "wav", "--output", cli.Out(), "--cd-image", disc});
    EXPECT_EQ(result.ExitCode, 0) << Text(result);
    cli.ExpectVictimUntouched();
    EXPECT_TRUE(QFileInfo(cli.Out("Track01.nor")).isSymLink());
    const QString wav = cli.Out("Track01.wav");
    EXPECT_FALSE(QFileInfo(wav).isSymLink());
    // Scaled to half: every sample of the disc, halved, rounded to even.
    const QByteArray bin = ReadFile(cli.Home.File("disc.bin")).left(75 * FrameBytes);
    const QByteArray data = WavData(wav);
    ASSERT_EQ(data.size(), bin.size());
    for (qsizetype i = 0; i < 4000; i += 2) {
        const auto original = qint16(quint8(bin[i]) | quint8(bin[i + 1]) << 8);
        const auto scaled = qint16(quint8(data[i]) | quint8(data[i + 1]) << 8);
        ASSERT_EQ(scaled, qint16(std::nearbyint(original * 0.5))) << i;
    }
    EXPECT_EQ(Everything(cli.Out()), "Track01.nor, Track01.wav");
}

TEST(UnsafePaths, ResultsAreNeverWrittenThroughLinksNorOverReadOnlyFiles)
{
    enum class TAt { DanglingLink, LinkToVictim, ReadOnly };
    struct TCase {
        const char* Format;
        const char* Name;
        TAt At;
        bool Overwrite;
        int Exit;
        bool Replaced; // the result took the name; otherwise what was there stays
    };
    const TCase cases[] = {
        {"wav", "Track01.wav", TAt::DanglingLink, false, 1, false},
        {"mp3", "Track02.mp3", TAt::DanglingLink, false, 1, false},
        {"ogg", "Track01.ogg", TAt::LinkToVictim, false, 1, false},
        {"wav", "Track01.wav", TAt::DanglingLink, true, 0, true},
        {"mp3", "Track02.mp3", TAt::LinkToVictim, true, 0, true},
        {"wma", "Track01.wma", TAt::DanglingLink, true, 0, true},
        {"wav", "Track01.wav", TAt::ReadOnly, true, 1, false},
        {"mp3", "Track02.mp3", TAt::ReadOnly, true, 1, false},
    };
    for (const TCase& c : cases) {
        TFileSafetyTest cli;
        SCOPED_TRACE(std::string(c.Name) + (c.Overwrite ? " --overwrite" : " --no-overwrite") + " " +
                     std::to_string(int(c.At)));
        const QString disc = cli.WriteDisc("disc.cue", AudioTracks({60, 60}));
        const QString at = cli.Out(c.Name);
        if (c.At == TAt::DanglingLink)
            Link(cli.Home.File("nowhere.wav"), at);
        else if (c.At == TAt::LinkToVictim)
            Link(cli.Victim(), at);
        else {
            cli.Home.Write(QStringLiteral("out/") + c.Name, VictimText);
            ASSERT_EQ(::chmod(QFile::encodeName(at).constData(), 0444), 0);
        }
        const TCliResult result =
            cli.Run({"--extract", "--format", c.Format, "--output", cli.Out(),
                     c.Overwrite ? "--overwrite" : "--no-overwrite", "--cd-image", disc});
        EXPECT_EQ(result.ExitCode, c.Exit) << Text(result);
        cli.ExpectVictimUntouched();
        if (c.Replaced) {
            EXPECT_FALSE(QFileInfo(at).isSymLink());
            EXPECT_GT(QFileInfo(at).size(), 1000);
        } else if (c.At == TAt::ReadOnly) {
            EXPECT_EQ(ReadFile(at), VictimText);
            EXPECT_TRUE(result.Err.contains("read-only")) << Text(result);
        } else {
            EXPECT_TRUE(QFileInfo(at).isSymLink());
            EXPECT_TRUE(result.Err.contains("exists already")) << Text(result);
        }
    }
}

TEST(UnsafePaths, TwoExtractionsIntoOneFolderEachWriteOnlyTheirOwnDisc)
{
    for (const bool overwrite : {false, true}) {
        TFileSafetyTest cli;
        SCOPED_TRACE(overwrite ? "--overwrite" : "--no-overwrite");
        // Two discs of the same layout and different music, long enough that
        // both runs read at the same time.
        const std::vector<qint64> frames{75 * 60, 75 * 60, 75 * 60, 75 * 60};
        TImageSpec first = AudioTracks(frames);
        TImageSpec second = AudioTracks(frames);
        for (std::size_t i = 0; i < frames.size(); ++i)
            second.Tracks[i].Voice = int(i) + 5;
        const QString discs[] = {cli.WriteDisc("a.cue", first), cli.WriteDisc("b.cue", second)};
        std::unique_ptr<QProcess> runs[2];
        for (int i = 0; i < 2; ++i)
            runs[i] =
                cli.Launch({"--extract", "--format", "wav", overwrite ? "--overwrite" : "--no-overwrite",
                            "--output", cli.Out(), "--cd-image", discs[i]});
        TCliResult results[2];
        for (int i = 0; i < 2; ++i)
            results[i] = cli.Wait(*runs[i]);

        const QByteArray bins[] = {ReadFile(cli.Home.File("a.bin")), ReadFile(cli.Home.File("b.bin"))};
        int reported = 0;
        for (int run = 0; run < 2; ++run) {
            EXPECT_TRUE(results[run].ExitCode == 0 || results[run].ExitCode == 1) << Text(results[run]);
            for (const QString& file : ReportedFiles(results[run])) {
                ++reported;
                const int track = file.right(6).left(2).toInt();
                ASSERT_GE(track, 1);
                qint64 start = 0;
                for (int t = 1; t < track; ++t)
                    start += frames[t - 1] * FrameBytes;
                const qint64 length = frames[track - 1] * FrameBytes;
                // A file a run reports holds one disc's track, whole: its own
                // disc's, unless the other run replaced it (--overwrite).
                const QByteArray data = WavData(file);
                const bool own = data == bins[run].mid(start, length);
                const bool other = data == bins[1 - run].mid(start, length);
                EXPECT_TRUE(own || (overwrite && other)) << file.toStdString() << Text(results[run]);
            }
        }
        EXPECT_GE(reported, 4);
        EXPECT_EQ(Everything(cli.Out()), "Track01.wav, Track02.wav, Track03.wav, Track04.wav");
    }
}

TEST(UnsafePaths, TwoResamplingConversionsIntoOneFolderKeepApart)
{
    TFileSafetyTest cli;
    QDir().mkpath(cli.Home.File("in"));
    // A tone, and silence: each MP3 must hold its own input only.
    WriteToneWav(cli.Home.File("in/tone.wav"), 22050 * 60, 22050);
    WriteToneWav(cli.Home.File("in/quiet.wav"), 22050 * 30, 22050);
    {
        QFile quiet(cli.Home.File("in/quiet.wav"));
        ASSERT_TRUE(quiet.open(QIODevice::ReadWrite));
        const qint64 size = quiet.size();
        ASSERT_TRUE(quiet.seek(44));
        ASSERT_EQ(quiet.write(QByteArray(size - 44, '\0')), size - 44);
    }
    // The second run starts once the first one's temporary file is there.
    std::unique_ptr<QProcess> second;
    const TCliResult first =
        cli.Run({"--convert", "wav-mp3", "--output", cli.Out(), "in/tone.wav"}, [&](const QString&, qint64) {
            if (!second && QFileInfo::exists(cli.Out("MyMP3ReTemp.wav")))
                second = cli.Launch({"--convert", "wav-mp3", "--output", cli.Out(), "in/quiet.wav"});
        });
    EXPECT_EQ(first.ExitCode, 0) << Text(first);
    ASSERT_TRUE(second);
    const TCliResult result = cli.Wait(*second);
    EXPECT_EQ(result.ExitCode, 0) << Text(result);
    EXPECT_EQ(Everything(cli.Out()), "quiet.mp3, tone.mp3");

    const std::vector<qint16> tone = DecodeWithFfmpeg(cli.Out("tone.mp3"), cli.Home.File("tone.raw"));
    const std::vector<qint16> quiet = DecodeWithFfmpeg(cli.Out("quiet.mp3"), cli.Home.File("quiet.raw"));
    EXPECT_NEAR(double(tone.size()) / 2 / 44100, 60.0, 0.1);
    EXPECT_NEAR(double(quiet.size()) / 2 / 44100, 30.0, 0.1);
    // Every second of the tone is loud, every sample of the silence quiet.
    for (std::size_t second = 1; second + 1 < tone.size() / 2 / 44100; ++second) {
        const std::vector<qint16> part(tone.begin() + qsizetype(second * 88200),
                                       tone.begin() + qsizetype((second + 1) * 88200));
        ASSERT_GT(ChannelRms(part, 2, 0), 1000.0) << "second " << second;
    }
    const auto loudest = std::max_element(quiet.begin(), quiet.end(),
                                          [](qint16 a, qint16 b) { return std::abs(a) < std::abs(b); });
    ASSERT_NE(loudest, quiet.end());
    EXPECT_LT(std::abs(*loudest), 50);
}

// ---- Half files: a result that could not be finished never stands under its
// name, and the run says why.

TEST(HalfFiles, DecodedWavIsKeptOnlyWhenItHoldsTheWholeSound)
{
    TFileSafetyTest cli;
    // A real MP3 of 60 s, random bytes, and an Ogg file named .mp3.
    WriteToneWav(cli.Home.File("long.wav"), 60 * 44100);
    ASSERT_EQ(cli.Run({"--convert", "wav-mp3", "--output", cli.Home.File("in"), "long.wav"}).ExitCode, 0);
    QByteArray noise(100 * 1024, '\0');
    for (qsizetype i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919 + 13) % 251);
    cli.Home.Write("in/noise.mp3", noise);
    ASSERT_EQ(cli.Run({"--convert", "wav-ogg", "--output", cli.Home.File("in"), "long.wav"}).ExitCode, 0);
    ASSERT_TRUE(QFile::rename(cli.Home.File("in/long.ogg"), cli.Home.File("in/vorbis.mp3")));

    for (const char* name : {"noise", "vorbis"}) {
        const TCliResult result = cli.Run({"--convert", "mp3-wav", "--output", cli.Out(),
                                           cli.Home.File(QStringLiteral("in/%1.mp3").arg(name))});
        EXPECT_EQ(result.ExitCode, 1) << Text(result);
        EXPECT_TRUE(result.Out.contains("0 files of 1 written")) << Text(result);
        // lame may give up on noise; on the Ogg file it ends with 0, having
        // decoded nothing.
        if (QLatin1String(name) == "vorbis") {
            EXPECT_TRUE(result.Err.contains("found no MP3 audio")) << Text(result);
        }
    }
    EXPECT_EQ(Everything(cli.Out()), "");

    // Onto a full disk, or past a file-size limit.
    TSmallDisk disk(300);
    const QString out = disk.Mounted() ? disk.Path() : cli.Out();
    if (!disk.Mounted())
        cli.FileSizeLimit = 300 * 1024;
    const TCliResult result =
        cli.Run({"--convert", "mp3-wav", "--output", out, cli.Home.File("in/long.mp3")});
    EXPECT_EQ(result.ExitCode, 1) << Text(result);
    EXPECT_TRUE(result.Err.contains(disk.Mounted() ? "No space left on device" : "File too large"))
        << Text(result);
    EXPECT_TRUE(result.Out.contains("0 files of 1 written")) << Text(result);
    EXPECT_EQ(Everything(out), "");
}

TEST(HalfFiles, EncodingOntoAFullDiskLeavesNothingALaterRunTakesForDone)
{
    TFileSafetyTest cli;
    TSmallDisk disk(300);
    if (!disk.Mounted())
        GTEST_SKIP() << "needs a small tmpfs (run as root)";
    // The extracted WAV file (127 frames, 292 KiB) fits; its MP3 or Ogg file
    // does not fit beside it.
    const QString disc = cli.WriteDisc("disc.cue", AudioTracks({127}));
    for (const char* format : {"mp3", "ogg"}) {
        SCOPED_TRACE(format);
        for (int run = 0; run < 2; ++run) {
            const TCliResult result =
                cli.Run({"--extract", "--format", format, "--output", disk.Path(), "--cd-image", disc});
            EXPECT_EQ(result.ExitCode, 1) << Text(result);
            EXPECT_FALSE(ReportedFiles(result).contains(disk.File(QStringLiteral("Track01.") + format)))
                << Text(result);
            if (run == 0) {
                EXPECT_TRUE(result.Err.contains("No space left on device")) << Text(result);
            }
            // The extracted track is the only good copy: it stays, whole.
            EXPECT_EQ(Everything(disk.Path()), "Track01.wav") << Text(result);
            EXPECT_EQ(QFileInfo(disk.File("Track01.wav")).size(), 44 + 127 * FrameBytes);
        }
        QFile::remove(disk.File("Track01.wav"));
    }
}

TEST(HalfFiles, AFileSizeLimitFailsTheFileAndTheRunSaysWhy)
{
    struct TCase {
        QStringList Arguments;
        const char* Result;
    };
    TFileSafetyTest cli;
    const QString disc = cli.WriteDisc("disc.cue", AudioTracks({600}));
    WriteToneWav(cli.Home.File("tone.wav"), 20 * 44100);
    const TCase cases[] = {
        {{"--extract", "--format", "wav", "--cd-image", disc}, "Track01.wav"},
        {{"--convert", "wav-ogg", "tone.wav"}, "tone.ogg"},
        {{"--convert", "wav-mp3", "tone.wav"}, "tone.mp3"},
        {{"--convert", "wav-wma", "tone.wav"}, "tone.wma"},
    };
    cli.FileSizeLimit = 20 * 1024;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Result);
        const TCliResult result = cli.Run(c.Arguments + QStringList{"--output", cli.Out()});
        // An ordinary write error with a summary, not the end of the program.
        EXPECT_EQ(result.ExitCode, 1) << Text(result);
        EXPECT_TRUE(result.Out.contains("0 files of 1 written")) << Text(result);
        EXPECT_TRUE(result.Err.contains("File too large")) << Text(result);
        EXPECT_FALSE(result.Err.contains("reading CD")) << Text(result);
        EXPECT_EQ(Everything(cli.Out()), "") << Text(result);
    }
}

TEST(HalfFiles, CtrlCWhileEncodingNeverLeavesTheUnfinishedMp3)
{
    TFileSafetyTest cli;
    cli.OwnProcessGroup = true;
    WriteToneWav(cli.Home.File("long.wav"), 120 * 44100);
    // Ctrl+C reaches the program and the encoder it runs at once; which of
    // the two the program notices first varies. Every other try signals the
    // encoder first.
    for (int attempt = 0; attempt < 6; ++attempt) {
        SCOPED_TRACE(attempt);
        const bool encoderFirst = attempt % 2 == 1;
        ASSERT_EQ(Everything(cli.Out()), "");
        bool sent = false;
        QElapsedTimer since;
        const TCliResult result = cli.Run(
            {"--convert", "wav-mp3", "--output", cli.Out(), "long.wav"}, [&](const QString&, qint64 pid) {
                if (sent)
                    return;
                if (!since.isValid() && QFileInfo::exists(cli.Out()) && !Everything(cli.Out()).isEmpty())
                    since.start();
                if (!since.isValid() || since.elapsed() < attempt * 40)
                    return;
                if (encoderFirst) {
                    const qint64 lame = ChildProcess(pid, "lame");
                    if (lame <= 0)
                        return;
                    ::kill(pid_t(lame), SIGINT);
                    ::kill(pid_t(pid), SIGINT);
                } else {
                    ::kill(-pid_t(pid), SIGINT);
                }
                sent = true;
            });
        ASSERT_TRUE(sent) << Text(result);
        EXPECT_EQ(result.ExitCode, 130) << Text(result);
        EXPECT_FALSE(result.Out.contains("1 file of 1 written")) << Text(result);
        EXPECT_EQ(Everything(cli.Out()), "") << Text(result);
    }
}

TEST(HalfFiles, MessagesNameWhatFailedAndTheSystemsReason)
{
    TFileSafetyTest cli;
    const QString disc = cli.WriteDisc("disc.cue", AudioTracks({75}));
    cli.Environment.insert("PATH", cli.Home.File("no-programs"));
    const TCliResult result =
        cli.Run({"--extract", "--format", "mp3", "--output", cli.Out(), "--cd-image", disc});
    EXPECT_EQ(result.ExitCode, 1) << Text(result);
    EXPECT_TRUE(
        result.Err.contains("Error while creating mp3 encoding process!\nlame: No such file or directory"))
        << Text(result);
}
