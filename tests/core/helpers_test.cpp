#include "core/helpers.h"

#include "support/temp_home.h"

#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

TEST(Helpers, FormatTwoDigitsPadsOnlySingleDigits)
{
    EXPECT_EQ(FormatTwoDigits(0), "00");
    EXPECT_EQ(FormatTwoDigits(7), "07");
    EXPECT_EQ(FormatTwoDigits(9), "09");
    EXPECT_EQ(FormatTwoDigits(10), "10");
    EXPECT_EQ(FormatTwoDigits(12), "12");
    EXPECT_EQ(FormatTwoDigits(100), "100");
}

TEST(Helpers, TimeTextShowsMinutesBeyondAnHour)
{
    EXPECT_EQ(TimeText(0), "00:00");
    EXPECT_EQ(TimeText(59), "00:59");
    EXPECT_EQ(TimeText(61), "01:01");
    EXPECT_EQ(TimeText(273), "04:33");
    EXPECT_EQ(TimeText(6000), "100:00");
    EXPECT_EQ(TimeText(-5), "00:00");
}

TEST(Helpers, RoundHalfEvenSendsTiesToTheEvenNeighbour)
{
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5000001), 3);
    EXPECT_EQ(RoundHalfEven(2.4999999), 2);
    EXPECT_EQ(RoundHalfEven(-0.5), 0);
    EXPECT_EQ(RoundHalfEven(-1.5), -2);
    EXPECT_EQ(RoundHalfEven(-2.6), -3);
    EXPECT_EQ(RoundHalfEven(1e12 + 0.5), 1000000000000);
}

TEST(Helpers, ElapsedSecondsRoundsHalfToEven)
{
    const auto start = Now();
    using std::chrono::milliseconds;
    EXPECT_EQ(ElapsedSeconds(start, start), 0);
    EXPECT_EQ(ElapsedSeconds(start, start + milliseconds(2500)), 2);
    EXPECT_EQ(ElapsedSeconds(start, start + milliseconds(3500)), 4);
    EXPECT_EQ(ElapsedSeconds(start, start + milliseconds(3499)), 3);
    EXPECT_EQ(ElapsedSeconds(start, start + std::chrono::hours(25)), 90000);
}

TEST(Helpers, CleanFileNameRemovesOnlyTheForbiddenAndControlCharacters)
{
    EXPECT_EQ(CleanFileName("a*b/c:d<e>f?g\\h|i"), "abcdefghi");
    EXPECT_EQ(CleanFileName("x\x1b[2J\x07\ty\x7f\x01z"), "x[2Jyz");
    EXPECT_EQ(CleanFileName(QString::fromUtf16(u"a\u009b2Jb\u0080\u009f\u00a0c")),
              QString::fromUtf16(u"a2Jb\u00a0c"));
    EXPECT_EQ(CleanFileName("Don't \"Stop\" (Live) ; $(rm -rf) é"), "Don't \"Stop\" (Live) ; $(rm -rf) é");
    EXPECT_EQ(CleanFileName("///"), "");
    EXPECT_EQ(CleanFileName(""), "");
}

TEST(Helpers, WithTrailingBackslashAddsOneSeparator)
{
    EXPECT_EQ(WithTrailingBackslash(""), "");
    EXPECT_EQ(WithTrailingBackslash("/music"), "/music/");
    EXPECT_EQ(WithTrailingBackslash("/music/"), "/music/");
    EXPECT_EQ(WithTrailingBackslash("/"), "/");
}

TEST(Helpers, FileSizeOfReadsTheDirectoryEntry)
{
    TTempHome home;
    EXPECT_EQ(FileSizeOf(home.File("missing")), -1);
    home.Write("empty", {});
    EXPECT_EQ(FileSizeOf(home.File("empty")), 0);
    home.Write("some", QByteArray(1234, 'x'));
    EXPECT_EQ(FileSizeOf(home.File("some")), 1234);
    EXPECT_EQ(FileSizeOf(home.Path()), -1);
}

namespace {

// Times of the calling thread it gave up the processor by itself (to sleep or
// wait), which a busy machine does not add to as it adds to the clock.
long VoluntarySwitches()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

} // namespace

TEST(Helpers, WaitMillisecondsWaitsAtLeastTheTimeAsked)
{
    // No time asked: it returns without sleeping at all.
    Now();
    const long switches = VoluntarySwitches();
    WaitMilliseconds(0);
    WaitMilliseconds(-10);
    EXPECT_EQ(VoluntarySwitches(), switches);
    auto start = Now();
    WaitMilliseconds(30);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Now() - start).count(), 30);
}

TEST(IsFileInUse, AnswersForMissingFreeAndSpecialEntries)
{
    TTempHome home;
    EXPECT_FALSE(IsFileInUse(home.File("missing.mp3")));
    home.Write("free.mp3", "data");
    EXPECT_FALSE(IsFileInUse(home.File("free.mp3")));

    // A file this process itself has open is not "another program's".
    QFile own(home.File("free.mp3"));
    ASSERT_TRUE(own.open(QIODevice::ReadWrite));
    EXPECT_FALSE(IsFileInUse(home.File("free.mp3")));
    own.close();

    // Nothing can be written over a directory, and a FIFO must not block us.
    EXPECT_TRUE(IsFileInUse(home.Path()));
    const QByteArray fifo = QFile::encodeName(home.File("pipe.mp3"));
    ASSERT_EQ(mkfifo(fifo.constData(), 0600), 0);
    EXPECT_TRUE(IsFileInUse(home.File("pipe.mp3")));
}

TEST(IsFileInUse, ReportsAFileHeldOpenByAnotherProcess)
{
    TTempHome home;
    home.Write("held.wav", "data");
    const QString path = home.File("held.wav");
    QProcess holder;
    holder.start("sh", {"-c", "exec 3<>\"$1\"; echo ready; exec sleep 30", "sh", path});
    ASSERT_TRUE(holder.waitForStarted());
    ASSERT_TRUE(holder.waitForReadyRead(10000));
    EXPECT_TRUE(IsFileInUse(path));
    holder.kill();
    holder.waitForFinished();
    EXPECT_FALSE(IsFileInUse(path));
}

TEST(IsFileInUse, ReportsAFileWeMayNotWrite)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write any file";
    TTempHome home;
    home.Write("readonly.mp3", "data");
    ASSERT_EQ(chmod(QFile::encodeName(home.File("readonly.mp3")).constData(), 0444), 0);
    EXPECT_TRUE(IsFileInUse(home.File("readonly.mp3")));
}
