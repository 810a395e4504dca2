#include "cd/cd_player.h"
#include "cd_test_support.h"
#include "core/messages.h"
#include "support/disk_audio.h"
#include "support/played_music.h"

#include <gtest/gtest.h>

// The player on disc images and SDL's disk driver: what the device played is
// compared with the image's own sectors.

namespace {

// Collects the play notices delivered to it.
class TNoticeCollector final : public QObject {
public:
    std::vector<TPlayResult> Results;
    bool event(QEvent* e) override
    {
        if (e->type() != MM_MCINOTIFY)
            return QObject::event(e);
        Results.push_back(TPlayResult(static_cast<TMessageEvent*>(e)->WParam()));
        return true;
    }
};

TImageSpec Tracks(std::initializer_list<qint64> frames)
{
    TImageSpec spec;
    int voice = 0;
    for (const qint64 n : frames)
        spec.Tracks.push_back({n, 0, false, 1, voice++});
    return spec;
}

class CdPlayerTest : public ::testing::Test {
protected:
    explicit CdPlayerTest(bool realTime = false) : Disk(realTime) {}

    void UseDisc(std::initializer_list<qint64> frames)
    {
        Cd.UseImage(QStringLiteral("disc.cue"), Tracks(frames));
        Drive = Cd.Open();
        ASSERT_NE(Drive, 0u);
        ASSERT_TRUE(Player.Open(Drive));
    }
    QByteArray Sectors(qint64 first, qint64 end) const
    {
        return DataSlice(Cd.Home.File(QStringLiteral("disc.bin")), first, end - first);
    }

    TCdTest Cd;
    TDiskAudio Disk;
    CDHandle Drive = 0;
    TCDPlayer Player;
    TNoticeCollector Notices;
};

class CdPlayerRealTimeTest : public CdPlayerTest {
protected:
    CdPlayerRealTimeTest() : CdPlayerTest(true) {}
};

} // namespace

TEST_F(CdPlayerTest, PlaysExactlyTheSectorsOfTheRange)
{
    UseDisc({150, 120, 90});
    ASSERT_EQ(Player.TrackPosition(1), 0);
    ASSERT_EQ(Player.TrackPosition(2), 150);
    ASSERT_EQ(Player.TrackPosition(3), 270);
    EXPECT_EQ(Player.TrackPosition(4), -1);
    EXPECT_EQ(Player.EndOfDisc(), 360);
    struct TCase {
        const char* Name;
        qint64 Start;
        qint64 End; // -1: to the end of the disc
        qint64 ExpectedEnd;
    };
    for (const TCase& c : {TCase{"track 2", 150, 270, 270}, TCase{"last track to the end", 270, -1, 360},
                           TCase{"odd sectors inside a track", 13, 22, 22}}) {
        SCOPED_TRACE(c.Name);
        TDiskAudio disk;
        Notices.Results.clear();
        ASSERT_TRUE(Player.Play(c.Start, c.End, &Notices));
        ASSERT_TRUE(WaitFor([&] { return !Notices.Results.empty(); }));
        EXPECT_EQ(Notices.Results, std::vector<TPlayResult>{TPlayResult::Successful});
        EXPECT_EQ(Player.Mode(), TPlayerMode::Stopped);
        EXPECT_TRUE(Music(disk.Played()) == Music(Sectors(c.Start, c.ExpectedEnd)));
    }
}

TEST_F(CdPlayerTest, RangesOffTheDiscPlayNothing)
{
    UseDisc({100, 100});
    for (const auto& [start, end] : {std::pair<qint64, qint64>{-1, 50}, {100, 100}, {150, 120}, {0, 201}}) {
        EXPECT_FALSE(Player.Play(start, end, &Notices)) << start << ".." << end;
        EXPECT_EQ(Player.Mode(), TPlayerMode::Stopped);
    }
    Player.Close();
    EXPECT_FALSE(Player.Play(0, 50, &Notices));
    EXPECT_EQ(Player.TrackPosition(1), -1);
    Settle(100);
    EXPECT_TRUE(Notices.Results.empty());
}

TEST_F(CdPlayerTest, UnreadableSectorsEndThePlayAsAFailure)
{
    Cd.UseImage(QStringLiteral("disc.cue"), Tracks({100, 300}));
    qputenv("VELBROOK_UNREADABLE_SECTORS", "240-250");
    Drive = Cd.Open();
    ASSERT_NE(Drive, 0u);
    ASSERT_TRUE(Player.Open(Drive));
    ASSERT_TRUE(Player.Play(Player.TrackPosition(2), -1, &Notices));
    ASSERT_TRUE(WaitFor([&] { return !Notices.Results.empty(); }));
    EXPECT_EQ(Notices.Results, std::vector<TPlayResult>{TPlayResult::Failure});
    EXPECT_EQ(Player.Mode(), TPlayerMode::Stopped);
    // What was read before the bad sectors played; nothing after them did.
    const QByteArray heard = Music(Disk.Played());
    const QByteArray before = Music(Sectors(100, 240));
    EXPECT_LE(heard.size(), before.size());
    EXPECT_TRUE(before.startsWith(heard));
}

TEST_F(CdPlayerRealTimeTest, PlayingAgainSupersedesAndStopAborts)
{
    UseDisc({750, 60, 750});
    TNoticeCollector second;
    ASSERT_TRUE(Player.Play(Player.TrackPosition(1), Player.TrackPosition(2), &Notices));
    Settle(200);
    ASSERT_TRUE(Player.Play(Player.TrackPosition(2), Player.TrackPosition(3), &second));
    ASSERT_TRUE(WaitFor([&] { return !second.Results.empty(); }));
    EXPECT_EQ(Notices.Results, std::vector<TPlayResult>{TPlayResult::Superseded});
    EXPECT_EQ(second.Results, std::vector<TPlayResult>{TPlayResult::Successful});
    // The second play is whole at the end of what was heard.
    EXPECT_TRUE(Music(Disk.Played()).endsWith(Music(Sectors(750, 810))));

    TNoticeCollector third;
    ASSERT_TRUE(Player.Play(Player.TrackPosition(3), -1, &third));
    Settle(200);
    ASSERT_TRUE(Player.Stop());
    EXPECT_EQ(Player.Mode(), TPlayerMode::Stopped);
    EXPECT_FALSE(Player.Stop());
    const qsizetype heard = Music(Disk.Played()).size();
    Settle(300);
    EXPECT_EQ(Music(Disk.Played()).size(), heard) << "sound after Stop";
    EXPECT_EQ(third.Results, std::vector<TPlayResult>{TPlayResult::Aborted});

    // Closing while playing ends the run before the caller closes its handle.
    TNoticeCollector fourth;
    ASSERT_TRUE(Player.Play(0, -1, &fourth));
    Player.Close();
    ASSERT_EQ(CloseCDHandle(Drive), 1);
    Settle(200);
    EXPECT_EQ(fourth.Results, std::vector<TPlayResult>{TPlayResult::Aborted});
    EXPECT_EQ(Player.Mode(), TPlayerMode::Closed);
}

TEST_F(CdPlayerRealTimeTest, PauseHoldsThePlayAndResumeGoesOnWhereItStopped)
{
    UseDisc({40, 110});
    ASSERT_TRUE(Player.Play(Player.TrackPosition(2), -1, &Notices));
    Settle(300);
    ASSERT_TRUE(Player.Pause());
    EXPECT_EQ(Player.Mode(), TPlayerMode::Paused);
    EXPECT_FALSE(Player.Pause());
    // What was queued plays out; then nothing more is heard.
    Settle(800);
    const qsizetype heard = Music(Disk.Played()).size();
    Settle(500);
    EXPECT_EQ(Music(Disk.Played()).size(), heard);
    EXPECT_LT(heard, Music(Sectors(40, 150)).size());
    EXPECT_TRUE(Notices.Results.empty());

    ASSERT_TRUE(Player.Resume());
    EXPECT_FALSE(Player.Resume());
    ASSERT_TRUE(WaitFor([&] { return !Notices.Results.empty(); }));
    EXPECT_EQ(Notices.Results, std::vector<TPlayResult>{TPlayResult::Successful});
    EXPECT_TRUE(Music(Disk.Played()) == Music(Sectors(40, 150)));
}
