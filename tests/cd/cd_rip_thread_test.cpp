#include "cd/cd_rip_thread.h"
#include "cd_test_support.h"
#include "core/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

std::vector<int> PercentsOf(const std::vector<TReport>& reports)
{
    std::vector<int> percents;
    for (const TReport& report : reports)
        percents.push_back(report.Type == WM_PROCESSINFO ? report.Info.Percent : -1);
    return percents;
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint64 FramesOf(const CDTOCEntry& entry)
{
    return (qint64(entry.Address[1]) * 60 + entry.Address[2]) * CDFramesPerSecond + entry.Address[3];
}

quint32 Le32(const QByteArray& bytes, int at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

QString OutputFile(const QString& name)
{
    return AppSettings().OutputFolder + "/" + name;
}

TImageSpec Tracks(std::initializer_list<qint64> frames)
{
    TImageSpec spec;
    int voice = 0;
    for (const qint64 n : frames)
        spec.Tracks.push_back({n, 0, false, 1, voice++});
    return spec;
}

// Samples of a track whose values the gain pass should turn into known ones.
QByteArray KnownSamples(int frames)
{
    static const qint16 pattern[] = {3, -3, 32767, -32768, 1, -1, 100, -101};
    QByteArray bytes(frames * CDFrameBytes, '\0');
    for (qsizetype i = 0; i < bytes.size() / 2; ++i)
        qToLittleEndian(pattern[i % 8], bytes.data() + i * 2);
    return bytes;
}

std::vector<qint16> SamplesOf(const QByteArray& wav, int count)
{
    std::vector<qint16> samples;
    for (int i = 0; i < count; ++i)
        samples.push_back(qFromLittleEndian<qint16>(wav.constData() + 44 + i * 2));
    return samples;
}

} // namespace

TEST(CdWavHeader, HoldsTheLengthsAndTheFixedFormat)
{
    const QByteArray header = CDWavHeader(1000);
    ASSERT_EQ(header.size(), 44);
    EXPECT_EQ(header.left(4), "RIFF");
    EXPECT_EQ(Le32(header, 4), 1036u);
    EXPECT_EQ(header.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(Le32(header, 16), 16u);
    EXPECT_EQ(qFromLittleEndian<quint16>(header.constData() + 20), 1);
    EXPECT_EQ(qFromLittleEndian<quint16>(header.constData() + 22), 2);
    EXPECT_EQ(Le32(header, 24), 44100u);
    EXPECT_EQ(Le32(header, 28), 176400u);
    EXPECT_EQ(qFromLittleEndian<quint16>(header.constData() + 32), 4);
    EXPECT_EQ(qFromLittleEndian<quint16>(header.constData() + 34), 16);
    EXPECT_EQ(header.mid(36, 4), "data");
    EXPECT_EQ(Le32(header, 40), 1000u);
}

TEST(CdRipThread, EveryTrackIsItsSliceOfTheBin)
{
    for (const bool toc : {false, true}) {
        TCdTest test;
        TImageSpec spec = DemoDiscSpec();
        // A hidden track before track 1 must not be read as track 1.
        spec.Tracks[0].PregapFrames = 150;
        spec.Tracks[2].PregapFrames = 20;
        spec.Format = toc ? TImageFormat::Toc : TImageFormat::Cue;
        test.UseImage(toc ? "disc.toc" : "disc.cue", spec);
        const QString bin = test.Home.File("disc.bin");
        const CDHandle drive = test.Open();
        ASSERT_NE(drive, 0u) << qPrintable(GetAspiLibErrorText());
        qint64 start = 0;
        for (int track = 1; track <= 4; ++track) {
            const TImageTrackSpec& t = spec.Tracks[size_t(track) - 1];
            start += t.PregapFrames;
            // A track ends where the next one's pregap begins.
            const qint64 frames = t.Frames + (track < 4 ? spec.Tracks[size_t(track)].PregapFrames : 0);
            const QString name = QStringLiteral("Track%1").arg(track);
            const auto reports = Rip(drive, track, name);
            ASSERT_EQ(CompletionResult(reports), 0) << "track " << track;
            const QByteArray wav = ReadAll(OutputFile(name + ".wav"));
            ASSERT_EQ(wav.size(), 44 + frames * CDFrameBytes) << "track " << track << (toc ? " toc" : " cue");
            EXPECT_EQ(wav.left(44), CDWavHeader(frames * CDFrameBytes));
            EXPECT_TRUE(wav.mid(44) == DataSlice(bin, start, frames)) << "track " << track;
            start += t.Frames;
        }
    }
}

TEST(CdRipThread, ReadsTenFramesAtATimeWithOneReportPerRead)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({25, 100}));
    const CDHandle drive = test.Open();
    ASSERT_NE(drive, 0u);
    const auto reports = Rip(drive, 1, "short");
    EXPECT_EQ(PercentsOf(reports), (std::vector<int>{40, 80, 100, 1000}));
    EXPECT_EQ(reports.back().Info.Result, 0);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(reports[i].Info.ElapsedText, "00:00");
        EXPECT_EQ(reports[i].Info.EstimatedText, "00:00");
    }
    EXPECT_EQ(ReadAll(OutputFile("short.wav")).size(), 44 + 25 * CDFrameBytes);
}

TEST(CdRipThread, RipTimeLimitsTheFramesRead)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({300, 50}));
    const CDHandle drive = test.Open();
    ASSERT_NE(drive, 0u);
    AppSettings().EnableRipTime = true;

    AppSettings().RipTime = 1;
    EXPECT_EQ(CompletionResult(Rip(drive, 1, "one")), 0);
    EXPECT_EQ(ReadAll(OutputFile("one.wav")).size(), 44 + 75 * CDFrameBytes);
    // A limit longer than the track reads the whole track.
    EXPECT_EQ(CompletionResult(Rip(drive, 2, "whole")), 0);
    EXPECT_EQ(ReadAll(OutputFile("whole.wav")).size(), 44 + 50 * CDFrameBytes);
    // A negative limit from the settings file is no limit.
    AppSettings().RipTime = -5;
    EXPECT_EQ(CompletionResult(Rip(drive, 1, "negative")), 0);
    EXPECT_EQ(ReadAll(OutputFile("negative.wav")).size(), 44 + 300 * CDFrameBytes);
    // Nothing to read: a valid empty WAV and one completion, no division by zero.
    AppSettings().RipTime = 0;
    const auto reports = Rip(drive, 1, "empty");
    EXPECT_EQ(PercentsOf(reports), (std::vector<int>{1000}));
    EXPECT_EQ(ReadAll(OutputFile("empty.wav")), CDWavHeader(0));
}

TEST(CdRipThread, StopLeavesAValidShorterFileAndNoCompletion)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({300}));
    const CDHandle drive = test.Open();
    ASSERT_NE(drive, 0u);
    AppSettings().Normalize = true;
    // A stop that is already asked for when the first read returns ends the track there.
    const auto reports = Rip(drive, 1, "stopped", [](TCDRipThread& thread) { thread.StopRequested = true; });
    EXPECT_EQ(PercentsOf(reports), (std::vector<int>{3}));
    const QByteArray wav = ReadAll(OutputFile("stopped.wav"));
    ASSERT_EQ(wav.size(), 44 + 10 * CDFrameBytes);
    EXPECT_EQ(wav.left(44), CDWavHeader(10 * CDFrameBytes));
    EXPECT_TRUE(wav.mid(44) == DataSlice(test.Home.File("disc.bin"), 0, 10)); // not scaled
}

TEST(CdRipThread, UnreadableSecondChunkKeepsTheFirstBehindAnEmptyHeader)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({100, 100}));
    qputenv("VELBROOK_UNREADABLE_SECTORS", "115");
    const CDHandle drive = test.Open();
    ASSERT_NE(drive, 0u);
    const auto reports = Rip(drive, 2, "broken");
    EXPECT_EQ(PercentsOf(reports), (std::vector<int>{10, 20, 1000}));
    EXPECT_EQ(reports.back().Info.Result, 3);
    const QByteArray wav = ReadAll(OutputFile("broken.wav"));
    ASSERT_EQ(wav.size(), 44 + 10 * CDFrameBytes);
    EXPECT_EQ(wav.left(44), CDWavHeader(0));
    EXPECT_TRUE(wav.mid(44) == DataSlice(test.Home.File("disc.bin"), 100, 10));
}

TEST(CdRipThread, DataFileThatShrankIsAReadErrorNotSilence)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({100, 100}));
    const CDHandle drive = test.Open();
    ASSERT_NE(drive, 0u);
    ASSERT_EQ(::truncate(QFile::encodeName(test.Home.File("disc.bin")).constData(), 150 * CDFrameBytes), 0);
    const auto reports = Rip(drive, 2, "shrunk");
    EXPECT_EQ(CompletionResult(reports), 3);
    const QByteArray wav = ReadAll(OutputFile("shrunk.wav"));
    EXPECT_EQ(wav.size(), 44 + 50 * CDFrameBytes);
    EXPECT_EQ(Le32(wav, 40), 0u);
}

TEST(CdRipThread, DriveFailuresArePostedAsRipErrors)
{
    for (const auto& [call, code] : {std::pair{"ModifyCDParms", 1}, std::pair{"ReadTOC", 2}}) {
        TCdTest test;
        test.UseImage("disc.cue", Tracks({30}));
        qputenv("VELBROOK_FAILING_CD_CALLS", call);
        const CDHandle drive = test.Open();
        ASSERT_NE(drive, 0u);
        const auto reports = Rip(drive, 1, "never");
        ASSERT_EQ(reports.size(), 1u) << call;
        EXPECT_EQ(reports[0].Type, WM_RIPERROR);
        EXPECT_EQ(reports[0].LParam, code);
        EXPECT_FALSE(QFile::exists(OutputFile("never.wav")));
    }
    // A handle that is not open fails the first call.
    TCdTest test;
    const auto reports = Rip(9, 1, "never");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].LParam, 1);
}

TEST(CdRipThread, FileThatCannotBeCreatedIsResultFive)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({30}));
    const CDHandle drive = test.Open();
    ASSERT_NE(drive, 0u);
    ASSERT_TRUE(QDir().mkpath(OutputFile("busy.wav")));
    const auto reports = Rip(drive, 1, "busy");
    EXPECT_EQ(PercentsOf(reports), (std::vector<int>{1000}));
    EXPECT_EQ(CompletionResult(reports), 5);
    AppSettings().OutputFolder = test.Home.File("no/such/folder");
    EXPECT_EQ(CompletionResult(Rip(drive, 1, "x")), 5);
}

TEST(CdRipThread, TrackThatIsNotOnTheDiscEndsWithOneFailure)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({30, 30}));
    const CDHandle drive = test.Open();
    ASSERT_NE(drive, 0u);
    for (const int track : {0, 3, -1}) {
        EXPECT_EQ(PercentsOf(Rip(drive, track, "none")), (std::vector<int>{1000})) << track;
        EXPECT_FALSE(QFile::exists(OutputFile("none.wav")));
    }
}

TEST(CdRipThread, FullDiskEndsTheTrackWithResultThree)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({300}));
    const CDHandle drive = test.Open();
    ASSERT_NE(drive, 0u);
    // A file size limit stands in for a full disk: writes past it fail with
    // EFBIG once the signal that would end the process is ignored.
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = 44 + 25 * CDFrameBytes;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const auto reports = Rip(drive, 1, "full");
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    // The file is written in blocks, so the failure shows at the first block
    // that does not fit; the track ends there, never with a success.
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(CompletionResult(reports), 3);
    EXPECT_EQ(reports.back().Info.Percent, 1000);
    EXPECT_LT(reports[reports.size() - 2].Info.Percent, 100);
}

TEST(CdRipThread, GainScalesKnownSamples)
{
    struct TCase {
        int Percent;
        std::vector<qint16> Expected;
    };
    const std::vector<TCase> cases = {
        {100, {3, -3, 32767, -32768, 1, -1, 100, -101}},
        {50, {2, -2, 16384, -16384, 0, 0, 50, -50}},
        // Percentages beyond 0..100 from a hand-edited settings file clip.
        {150, {4, -4, 32767, -32768, 2, -2, 150, -152}},
        {-100, {-3, 3, -32767, 32767, -1, 1, -100, 101}},
    };
    for (const TCase& c : cases) {
        TCdTest test;
        WriteRawCue(test.Home.File("known.cue"), KnownSamples(3), {0});
        SetCDImages({test.Home.File("known.cue")});
        const CDHandle drive = test.Open();
        ASSERT_NE(drive, 0u) << qPrintable(GetAspiLibErrorText());
        AppSettings().Normalize = true;
        AppSettings().NormalizePercent = c.Percent;
        const auto reports = Rip(drive, 1, "gain");
        const std::vector<int> percents = PercentsOf(reports);
        // Reading, the gain pass with a report per 2048-byte block (and the last,
        // empty read), then the completion.
        const std::vector<int> expected = {100, 999, 0, 29, 58, 87, 100, 1000};
        EXPECT_EQ(percents, expected) << c.Percent;
        EXPECT_EQ(CompletionResult(reports), 0);
        const QByteArray wav = ReadAll(OutputFile("gain.wav"));
        ASSERT_EQ(wav.size(), 44 + 3 * CDFrameBytes);
        EXPECT_EQ(wav.left(44), CDWavHeader(3 * CDFrameBytes));
        EXPECT_EQ(SamplesOf(wav, 8), c.Expected) << c.Percent;
        EXPECT_FALSE(QFile::exists(OutputFile("gain.nor")));
    }
}

TEST(CdRipThread, FailedGainPassKeepsTheTrackAndReportsOnce)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({30}));
    const CDHandle drive = test.Open();
    ASSERT_NE(drive, 0u);
    AppSettings().Normalize = true;
    AppSettings().NormalizePercent = 50;
    // The scaled copy cannot be created: a folder stands where it would go.
    ASSERT_TRUE(QDir().mkpath(OutputFile("kept.nor")));
    const auto reports = Rip(drive, 1, "kept");
    EXPECT_EQ(PercentsOf(reports), (std::vector<int>{33, 66, 100, 999, 1000}));
    EXPECT_EQ(CompletionResult(reports), 3);
    const QByteArray wav = ReadAll(OutputFile("kept.wav"));
    ASSERT_EQ(wav.size(), 44 + 30 * CDFrameBytes);
    EXPECT_EQ(wav.left(44), CDWavHeader(30 * CDFrameBytes));
    EXPECT_TRUE(wav.mid(44) == DataSlice(test.Home.File("disc.bin"), 0, 30));
}

TEST(CdRipThread, ZeroLengthTrackIsAnEmptyWav)
{
    TCdTest test;
    WriteRawCue(test.Home.File("zero.cue"), KnownSamples(100), {0, 50, 50});
    SetCDImages({test.Home.File("zero.cue")});
    const CDHandle drive = test.Open();
    ASSERT_NE(drive, 0u) << qPrintable(GetAspiLibErrorText());
    AppSettings().Normalize = true;
    const auto reports = Rip(drive, 2, "zero");
    EXPECT_EQ(PercentsOf(reports), (std::vector<int>{999, 100, 1000}));
    EXPECT_EQ(CompletionResult(reports), 0);
    EXPECT_EQ(ReadAll(OutputFile("zero.wav")), CDWavHeader(0));
}

TEST(CdRipThread, OutputFolderWithTrailingSeparatorNamesTheSameFile)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({20}));
    const CDHandle drive = test.Open();
    ASSERT_NE(drive, 0u);
    AppSettings().OutputFolder += "/";
    EXPECT_EQ(CompletionResult(Rip(drive, 1, "slash")), 0);
    EXPECT_TRUE(QFile::exists(test.Home.File("Output/slash.wav")));
}

TEST(CdRipThread, ReportsArriveInOrderWhileTheReceiverRuns)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({3000}));
    const CDHandle drive = test.Open();
    ASSERT_NE(drive, 0u);
    TReportCollector receiver;
    {
        TCDRipThread thread(1, "long");
        thread.Drive = drive;
        thread.NotifyWindow = &receiver;
        QEventLoop loop;
        QObject::connect(&thread, &QThread::finished, &loop, &QEventLoop::quit);
        thread.Resume();
        loop.exec();
    }
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    std::vector<int> expected;
    for (int done = 10; done <= 3000; done += 10)
        expected.push_back(done * 100 / 3000);
    expected.push_back(1000);
    EXPECT_EQ(PercentsOf(receiver.Reports), expected);
}

TEST(CdRipThread, ReportsForAReceiverThatIsGoneAreDropped)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({100}));
    const CDHandle drive = test.Open();
    ASSERT_NE(drive, 0u);
    auto receiver = std::make_unique<TReportCollector>();
    {
        TCDRipThread thread(1, "orphan");
        thread.Drive = drive;
        thread.NotifyWindow = receiver.get();
        thread.Resume();
        thread.wait();
        receiver.reset();
    }
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(ReadAll(OutputFile("orphan.wav")).size(), 44 + 100 * CDFrameBytes);
}

// Real discs whose first track is 2 or later: each track is read from its own
// entry of the table of contents (entry = track - first track), up to the last.
TEST(RealDiscToc, TracksAreFoundByPositionWhenTheFirstIsNotOne)
{
    TCdTest test;
    test.UseImage("disc.cue", Tracks({300, 200, 100}));
    const QString bin = test.Home.File("disc.bin");
    qputenv("VELBROOK_FIRST_TRACK", "2");
    const CDHandle drive = test.Open();
    qunsetenv("VELBROOK_FIRST_TRACK");
    ASSERT_NE(drive, 0u) << qPrintable(GetAspiLibErrorText());
    CDTOC toc{};
    ASSERT_EQ(ReadTOC(drive, &toc), 1);
    ASSERT_EQ(toc.FirstTrack, 2);
    ASSERT_EQ(toc.LastTrack, 4);

    const qint64 starts[] = {0, 300, 500, 600};
    for (int track = 2; track <= 4; ++track) {
        SCOPED_TRACE(track);
        const QString name = QStringLiteral("Track%1").arg(track);
        ASSERT_EQ(CompletionResult(Rip(drive, track, name)), 0);
        const qint64 first = starts[track - 2];
        const qint64 frames = starts[track - 1] - first;
        const QByteArray wav = ReadAll(OutputFile(name + ".wav"));
        ASSERT_EQ(wav.size(), 44 + frames * CDFrameBytes);
        EXPECT_TRUE(wav.mid(44) == DataSlice(bin, first, frames));
    }
    // Below the first track and past the last there is nothing to read.
    for (const int track : {1, 5})
        EXPECT_EQ(PercentsOf(Rip(drive, track, "none")), (std::vector<int>{1000})) << track;
}

// An Enhanced CD imaged from the disc: the reader wrote the 11 400 sectors
// between the sessions (lead-out, lead-in, pregap) into the last audio track.
// On the disc the first session ends there, and so do the track's length and
// its extraction; the disc id is the one of the whole disc.
TEST(RealDiscToc, EnhancedCdImageEndsTheFirstSessionBeforeTheGap)
{
    TCdTest test;
    const QString cue = test.Home.File("enhanced.cue");
    ASSERT_TRUE(WriteDiscImage(cue, Tracks({300, 200})).isEmpty());
    const QString bin = test.Home.File("enhanced.bin");
    constexpr qint64 DataStart = 500 + 11400;
    {
        QFile data(bin);
        ASSERT_TRUE(data.open(QIODevice::ReadWrite));
        ASSERT_TRUE(data.resize((DataStart + 100) * CDFrameBytes)); // sparse: the gap costs no space
        QFile sheet(cue);
        ASSERT_TRUE(sheet.open(QIODevice::Append));
        sheet.write("  REM SESSION 02\n  TRACK 03 MODE1/2352\n    INDEX 01 " +
                    FramesToMsfText(DataStart).toLatin1() + "\n");
    }
    SetCDImages({cue});
    const CDHandle drive = test.Open();
    ASSERT_NE(drive, 0u) << qPrintable(GetAspiLibErrorText());
    CDTOC toc{};
    ASSERT_EQ(ModifyCDParms(drive, CDP_MSF, 1), 1);
    ASSERT_EQ(ReadTOC(drive, &toc), 1);
    EXPECT_EQ(toc.LastTrack, 2);
    const qint64 sessionEnd = DataStart - 11400;
    EXPECT_EQ(FramesOf(toc.Entries[2]) - CDLeadInFrames, sessionEnd);

    ASSERT_EQ(CompletionResult(Rip(drive, 2, "last")), 0);
    const QByteArray wav = ReadAll(OutputFile("last.wav"));
    ASSERT_EQ(wav.size(), 44 + (sessionEnd - 300) * CDFrameBytes);
    EXPECT_TRUE(wav.mid(44) == DataSlice(bin, 300, sessionEnd - 300));

    const std::uint32_t starts[] = {0, 300, std::uint32_t(DataStart)};
    EXPECT_EQ(GetDiscId(), QString::number(std::int32_t(CddbDiscId(starts, 3, DataStart + 100))));
}
