#include "app/clear_history.h"
#include "app/main_form.h"
#include "cd/cd_player.h"
#include "core/settings.h"

#include "app_test_support.h"
#include "support/disk_audio.h"
#include "support/played_music.h"
#include "support/scripted_prompter.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTreeWidget>
#include <gtest/gtest.h>

// CD playback and Clear History as the main window's user meets them: disc
// images as the drive, SDL's disk driver as the sound card, the players'
// real list files in a private XDG folder.

namespace {

constexpr qint64 FrameBytes = 2352;

// The main window shown on an image of tracks of the given lengths, with a
// scripted prompter and SDL's disk driver; jobs are collected, not run.
class TPlayingForm {
public:
    TPlayingForm(std::initializer_list<qint64> frames, bool realTime, const char* unreadable = nullptr)
        : Disk(realTime)
    {
        TImageSpec spec;
        int voice = 0;
        for (const qint64 n : frames)
            spec.Tracks.push_back({n, 0, false, 1, voice++});
        Test.UseImage(QStringLiteral("disc.cue"), spec);
        if (unreadable)
            qputenv("VELBROOK_UNREADABLE_SECTORS", unreadable);
        Form = std::make_unique<TMainForm>(&Prompter);
        Form->SetJobRunner([this](const TJobRequest& job) { JobStarted(job); });
        Form->show();
        QCoreApplication::processEvents();
    }
    ~TPlayingForm()
    {
        Form->close();
        Form.reset();
        qunsetenv("VELBROOK_UNREADABLE_SECTORS");
    }

    QAction* Action(const char* name) { return Form->findChild<QAction*>(name); }
    bool Enabled(const char* name) { return Action(name)->isEnabled(); }
    void Trigger(const char* name) { Action(name)->trigger(); }
    void Select(int row)
    {
        auto* list = Form->findChild<QTreeWidget*>("ListView1");
        list->setCurrentItem(list->topLevelItem(row));
    }
    TCDPlayer* Player() { return Form->findChild<TCDPlayer*>("MediaPlayer1"); }
    QByteArray Sectors(qint64 first, qint64 end)
    {
        QFile bin(Test.Home.File(QStringLiteral("disc.bin")));
        EXPECT_TRUE(bin.open(QIODevice::ReadOnly));
        return bin.readAll().mid(first * FrameBytes, (end - first) * FrameBytes);
    }
    bool WaitUntilStopped()
    {
        return WaitFor([this] { return !Form->Playing; });
    }

    TAppTest Test;
    TDiskAudio Disk;
    TScriptedPrompter Prompter;
    std::unique_ptr<TMainForm> Form;
    std::function<void(const TJobRequest&)> JobStarted = [](const TJobRequest&) {};
};

} // namespace

TEST(CdPlayback, PlayingARowPlaysItsTrackAndAnEndRestoresTheStatus)
{
    struct TCase {
        int Row;
        qint64 First;
        qint64 End;
    };
    // Row 1 is track 2, up to the start of track 3; the last row plays to the
    // end of the disc.
    for (const TCase c : {TCase{1, 100, 220}, TCase{2, 220, 300}, TCase{0, 0, 100}}) {
        SCOPED_TRACE(c.Row);
        TPlayingForm shown({100, 120, 80}, false);
        const QString saved = shown.Form->SavedStatusText;
        ASSERT_FALSE(saved.isEmpty());
        EXPECT_FALSE(shown.Enabled("aPlay"));
        shown.Select(c.Row);
        EXPECT_TRUE(shown.Enabled("aPlay"));
        EXPECT_FALSE(shown.Enabled("aPause"));
        EXPECT_FALSE(shown.Enabled("aStop"));
        shown.Trigger("aPlay");
        EXPECT_EQ(shown.Form->StatusText(), "Play " + shown.Form->TrackRows()[size_t(c.Row)].Title);
        ASSERT_TRUE(shown.WaitUntilStopped());
        EXPECT_EQ(shown.Form->StatusText(), saved);
        EXPECT_FALSE(shown.Enabled("aStop"));
        EXPECT_TRUE(Music(shown.Disk.Played()) == Music(shown.Sectors(c.First, c.End)));
        EXPECT_TRUE(shown.Prompter.Calls().empty());
    }
}

TEST(CdPlayback, PlayWhilePausedResumesThePausedTrackWhateverIsSelected)
{
    TPlayingForm shown({40, 110, 40}, true);
    shown.Select(1);
    shown.Trigger("aPlay");
    Settle(300);
    shown.Trigger("aPause");
    EXPECT_TRUE(shown.Form->Playing);
    EXPECT_TRUE(shown.Form->Paused);
    EXPECT_FALSE(shown.Enabled("aPause"));
    EXPECT_TRUE(shown.Enabled("aStop"));
    Settle(800);
    const qsizetype heard = Music(shown.Disk.Played()).size();
    Settle(400);
    EXPECT_EQ(Music(shown.Disk.Played()).size(), heard) << "sound while paused";

    shown.Select(0);
    shown.Trigger("aPlay");
    EXPECT_FALSE(shown.Form->Paused);
    EXPECT_TRUE(shown.Enabled("aPause"));
    ASSERT_TRUE(shown.WaitUntilStopped());
    EXPECT_TRUE(Music(shown.Disk.Played()) == Music(shown.Sectors(40, 150)));
}

TEST(CdPlayback, PlayWhilePlayingSwitchesToTheSelectedTrack)
{
    TPlayingForm shown({750, 60}, true);
    shown.Select(0);
    shown.Trigger("aPlay");
    Settle(300);
    shown.Select(1);
    shown.Trigger("aPlay");
    EXPECT_EQ(shown.Form->StatusText(), "Play " + shown.Form->TrackRows()[1].Title);
    ASSERT_TRUE(shown.WaitUntilStopped());
    const QByteArray heard = Music(shown.Disk.Played());
    const QByteArray second = Music(shown.Sectors(750, 810));
    EXPECT_TRUE(heard.endsWith(second));
    EXPECT_LT(heard.size(), second.size() + Music(shown.Sectors(0, 750)).size());
}

TEST(CdPlayback, ExtractAndClosingStopPlaybackBeforeAnythingElse)
{
    TPlayingForm shown({1500, 60}, true);
    ASSERT_TRUE(QDir().mkpath(AppSettings().OutputFolder));
    bool stoppedFirst = false;
    shown.JobStarted = [&](const TJobRequest&) {
        stoppedFirst = !shown.Form->Playing && shown.Player()->Mode() == TPlayerMode::Closed;
    };
    shown.Select(0);
    shown.Trigger("aPlay");
    Settle(200);
    ASSERT_EQ(shown.Player()->Mode(), TPlayerMode::Playing);
    shown.Trigger("ActionExtract");
    EXPECT_TRUE(stoppedFirst);
    EXPECT_FALSE(shown.Enabled("aStop"));

    shown.Trigger("aPlay");
    Settle(200);
    shown.Form->close();
    EXPECT_EQ(shown.Player()->Mode(), TPlayerMode::Closed);
    EXPECT_FALSE(shown.Form->Playing);
    const qsizetype heard = Music(shown.Disk.Played()).size();
    Settle(300);
    EXPECT_EQ(Music(shown.Disk.Played()).size(), heard) << "sound after closing";
}

TEST(CdPlayback, UnreadableSectorsEndPlaybackAndLeaveStopAvailable)
{
    TPlayingForm shown({100, 300}, false, "200-205");
    const QString saved = shown.Form->SavedStatusText;
    shown.Select(1);
    shown.Trigger("aPlay");
    ASSERT_TRUE(WaitFor([&] { return shown.Player()->Mode() == TPlayerMode::Stopped; }));
    Settle(100);
    EXPECT_TRUE(shown.Form->Playing);
    EXPECT_TRUE(shown.Enabled("aStop"));
    EXPECT_TRUE(shown.Prompter.Calls().empty());
    shown.Trigger("aStop");
    EXPECT_FALSE(shown.Form->Playing);
    EXPECT_EQ(shown.Form->StatusText(), saved);
}

namespace {

// Private XDG folders holding the players' lists, and the main window over
// the demo disc to clear them with.
class ClearHistoryTest : public ::testing::Test {
protected:
    ClearHistoryTest()
    {
        Test.UseDemoDisc();
        Previous = {qgetenv("XDG_DATA_HOME"), qgetenv("XDG_CONFIG_HOME")};
        qputenv("XDG_DATA_HOME", QFile::encodeName(Test.Home.File("data")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(Test.Home.File("config")));
        Form = std::make_unique<TMainForm>(&Prompter);
    }
    ~ClearHistoryTest() override
    {
        Form.reset();
        qputenv("XDG_DATA_HOME", Previous.first);
        qputenv("XDG_CONFIG_HOME", Previous.second);
        if (Vlc.state() != QProcess::NotRunning) {
            Vlc.kill();
            Vlc.waitForFinished();
        }
    }

    QString LastText() const { return Prompter.Calls().empty() ? QString() : Prompter.Calls().back().Text; }
    void Trigger(const char* name) { Form->findChild<QAction*>(name)->trigger(); }

    TAppTest Test;
    std::pair<QByteArray, QByteArray> Previous;
    TScriptedPrompter Prompter;
    std::unique_ptr<TMainForm> Form;
    QProcess Vlc;
};

QByteArray Bookmark(const char* file, const char* mime)
{
    return QByteArray("  <bookmark href=\"file:///home/u/") + file +
           "\" added=\"2024-01-01T10:00:00Z\" modified=\"2024-01-01T10:00:00Z\" "
           "visited=\"2024-01-01T10:00:00Z\">\n"
           "    <info>\n      <metadata owner=\"http://freedesktop.org\">\n        <mime:mime-type type=\"" +
           mime +
           "\"/>\n        <bookmark:applications>\n          <bookmark:application name=\"Files &amp; "
           "Co\" exec=\"&apos;x %u&apos;\" modified=\"2024-01-01T10:00:00Z\" count=\"1\"/>\n"
           "        </bookmark:applications>\n      </metadata>\n    </info>\n  </bookmark>\n";
}

const QByteArray XbelHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xbel version=\"1.0\"\n"
    "      xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\"\n"
    "      xmlns:mime=\"http://www.freedesktop.org/standards/shared-mime-info\"\n>\n";

} // namespace

TEST_F(ClearHistoryTest, DesktopListLosesOnlyItsAudioEntries)
{
    const QString path = Test.Home.File("data/recently-used.xbel");
    struct TCase {
        const char* Name;
        QByteArray Before;
        QByteArray After; // empty: the file stays as it was
        const char* Said;
    };
    const QByteArray letter = Bookmark("Brief \xc3\xbc.odt", "application/vnd.oasis.opendocument.text");
    const QByteArray photo = Bookmark("p.png", "image/png");
    const TCase cases[] = {
        {"mixed",
         XbelHead + Bookmark("a.mp3", "audio/mpeg") + letter + Bookmark("b.ogg", "audio/x-vorbis+ogg") +
             photo + "</xbel>",
         XbelHead + letter + photo + "</xbel>", "2 list records are deleted!"},
        {"no audio", XbelHead + letter + "</xbel>", {}, "0 list records are deleted!"},
        {"damaged", XbelHead + Bookmark("a.mp3", "audio/mpeg").left(200), {}, nullptr},
        {"not UTF-8", XbelHead + Bookmark("\xff.mp3", "audio/mpeg") + "</xbel>", {}, nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Test.Home.Write("data/recently-used.xbel", c.Before);
        ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
        Trigger("miDesktopRecentFiles");
        EXPECT_EQ(Test.Home.Read("data/recently-used.xbel").toStdString(),
                  (c.After.isEmpty() ? c.Before : c.After).toStdString());
        EXPECT_FALSE(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther));
        ASSERT_FALSE(Prompter.Calls().empty());
        if (c.Said) {
            EXPECT_EQ(Prompter.Calls().back().Kind, TScriptedPrompter::TKind::Information);
            EXPECT_EQ(LastText(), c.Said);
        } else {
            EXPECT_EQ(Prompter.Calls().back().Kind, TScriptedPrompter::TKind::Error);
            EXPECT_TRUE(LastText().contains(path)) << LastText().toStdString();
        }
    }

    // No file is an empty list, and nothing is made.
    QFile::remove(path);
    Trigger("miDesktopRecentFiles");
    EXPECT_EQ(LastText(), "0 list records are deleted!");
    EXPECT_FALSE(QFileInfo::exists(path));

    // A list behind a link is cleared where the link leads; the link stays.
    Test.Home.Write("synced/recent.xbel", XbelHead + Bookmark("a.flac", "audio/flac") + "</xbel>");
    ASSERT_TRUE(QFile::link(Test.Home.File("synced/recent.xbel"), path));
    Trigger("miDesktopRecentFiles");
    EXPECT_EQ(LastText(), "1 list records are deleted!");
    EXPECT_TRUE(QFileInfo(path).isSymLink());
    EXPECT_EQ(Test.Home.Read("synced/recent.xbel").toStdString(), (XbelHead + "</xbel>").toStdString());
}

TEST_F(ClearHistoryTest, VlcListIsEmptiedAndTheRestOfItsSettingsKept)
{
    const QByteArray head = "[General]\r\nfiledialog-path=@Variant(\\0\\0\\0\\x11)\r\n\r\n[MainWindow]\r\n"
                            "list=keep me\r\n\r\n[RecentsMRL]\r\n";
    const QByteArray tail = "\r\n[Playlist]\r\nheaderStateV2=@ByteArray(\\0\\0\\0\\xff)\r\n";
    Test.Home.Write("config/vlc/vlc-qt-interface.conf",
                    head +
                        "list=file:///m/a.mp3, \"file:///m/b, c.ogg\", file:///m/\xc3\xa9.flac\r\ntimes=0, "
                        "1200, 0" +
                        tail);
    Trigger("miVlcMediaPlayer");
    EXPECT_EQ(LastText(), "3 list records are deleted!");
    EXPECT_EQ(Test.Home.Read("config/vlc/vlc-qt-interface.conf").toStdString(),
              (head + "list=@Invalid()\r\ntimes=@Invalid()" + tail).toStdString());

    Trigger("miVlcMediaPlayer");
    EXPECT_EQ(LastText(), "0 list records are deleted!");

    const QByteArray damaged = "[RecentsMRL]\nlist=\"file:///m/open quote\n";
    Test.Home.Write("config/vlc/vlc-qt-interface.conf", damaged);
    Trigger("miVlcMediaPlayer");
    EXPECT_EQ(Prompter.Calls().back().Kind, TScriptedPrompter::TKind::Error);
    EXPECT_EQ(Test.Home.Read("config/vlc/vlc-qt-interface.conf"), damaged);
}

TEST_F(ClearHistoryTest, ARunningVlcIsAskedAboutAndNoChangesNothing)
{
    // A process of this user named vlc.
    const QString fake = Test.Home.File("vlc");
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), fake));
    Vlc.start(fake, {QStringLiteral("60")});
    ASSERT_TRUE(Vlc.waitForStarted());
    ASSERT_TRUE(WaitFor([] { return VlcIsRunning(); }, 5000));

    const QByteArray conf = "[RecentsMRL]\nlist=file:///m/a.mp3\ntimes=0\n";
    Test.Home.Write("config/vlc/vlc-qt-interface.conf", conf);
    Prompter.QueueAnswer(TPrompter::TAnswer::No);
    Trigger("miVlcMediaPlayer");
    ASSERT_EQ(Prompter.Calls().size(), 1u);
    EXPECT_EQ(Prompter.Calls()[0].Kind, TScriptedPrompter::TKind::YesNo);
    EXPECT_EQ(Prompter.Calls()[0].DefaultAnswer, TPrompter::TAnswer::No);
    EXPECT_EQ(Test.Home.Read("config/vlc/vlc-qt-interface.conf"), conf);

    Prompter.QueueAnswer(TPrompter::TAnswer::Yes);
    Trigger("miVlcMediaPlayer");
    EXPECT_EQ(LastText(), "1 list records are deleted!");
    EXPECT_EQ(Test.Home.Read("config/vlc/vlc-qt-interface.conf"),
              "[RecentsMRL]\nlist=@Invalid()\ntimes=@Invalid()\n");
}
