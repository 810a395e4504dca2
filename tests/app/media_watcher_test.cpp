#include "app/media_watcher.h"

#include "app_test_support.h"

#include <QFile>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

TUdevEvent Event(const QString& action, const QString& node, QHash<QString, QString> properties = {})
{
    return TUdevEvent{action, node, std::move(properties)};
}

} // namespace

TEST(MediaChangeOf, OnlyTheWatchedDriveCounts)
{
    const QString drive = "/dev/sr0";
    // USB sticks, loop devices and other drives come and go all the time.
    EXPECT_EQ(MediaChangeOf(drive, Event("add", "/dev/sdb1", {{"ID_CDROM_MEDIA", "1"}})), TMediaChange::None);
    EXPECT_EQ(MediaChangeOf(drive, Event("remove", "/dev/loop3")), TMediaChange::None);
    EXPECT_EQ(MediaChangeOf(drive, Event("change", "/dev/sr1", {{"DISK_MEDIA_CHANGE", "1"}})),
              TMediaChange::None);
    EXPECT_EQ(MediaChangeOf(QString(), Event("change", "/dev/sr0", {{"ID_CDROM_MEDIA", "1"}})),
              TMediaChange::None);
    EXPECT_EQ(MediaChangeOf(drive, Event("change", QString(), {{"ID_CDROM_MEDIA", "1"}})),
              TMediaChange::None);
}

TEST(MediaChangeOf, TheDrivesEventsSayWhetherADiscCameOrWent)
{
    const QString drive = "/dev/sr0";
    EXPECT_EQ(
        MediaChangeOf(drive, Event("change", drive, {{"DISK_MEDIA_CHANGE", "1"}, {"ID_CDROM_MEDIA", "1"}})),
        TMediaChange::Arrived);
    EXPECT_EQ(
        MediaChangeOf(drive, Event("change", drive, {{"DISK_MEDIA_CHANGE", "1"}, {"ID_CDROM_MEDIA", "0"}})),
        TMediaChange::Removed);
    // Without the disc state the drive itself has to be asked.
    EXPECT_EQ(MediaChangeOf(drive, Event("change", drive, {{"DISK_MEDIA_CHANGE", "1"}})),
              TMediaChange::Probe);
    // An eject request is not yet an ejected disc, and other changes say nothing.
    EXPECT_EQ(MediaChangeOf(drive, Event("change", drive, {{"DISK_EJECT_REQUEST", "1"}})),
              TMediaChange::None);
    EXPECT_EQ(MediaChangeOf(drive, Event("remove", drive)), TMediaChange::Removed);
    EXPECT_EQ(MediaChangeOf(drive, Event("add", drive, {{"ID_CDROM_MEDIA", "1"}})), TMediaChange::Arrived);
    EXPECT_EQ(MediaChangeOf(drive, Event("bind", drive, {{"ID_CDROM_MEDIA", "1"}})), TMediaChange::None);
}

TEST(MediaWatcher, AnImageThatGoesAndComesBackIsAnEjectedAndAnInsertedDisc)
{
    TAppTest test;
    const QString cue = test.UseDemoDisc();
    const QString bin = test.Home.File("demo.bin");
    TMediaWatcher watcher;
    QSignalSpy arrived(&watcher, &TMediaWatcher::MediaArrived);
    QSignalSpy removed(&watcher, &TMediaWatcher::MediaRemoved);
    watcher.Watch(cue, true);
    EXPECT_FALSE(watcher.UsesUdevEvents());
    watcher.Poll();
    EXPECT_EQ(arrived.count() + removed.count(), 0);

    ASSERT_TRUE(QFile::rename(bin, bin + ".away"));
    watcher.Poll();
    watcher.Poll();
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(arrived.count(), 0);

    ASSERT_TRUE(QFile::rename(bin + ".away", bin));
    watcher.Poll();
    watcher.Poll();
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(arrived.count(), 1);

    // Another disc written over the image is a new disc too.
    TImageSpec other;
    other.Tracks = {{75 * 3, 0, false, 1, 2}};
    ASSERT_TRUE(WriteDiscImage(cue, other).isEmpty());
    watcher.Poll();
    EXPECT_EQ(arrived.count(), 2);

    watcher.Watch(QString(), false);
    ASSERT_TRUE(QFile::remove(bin));
    watcher.Poll();
    EXPECT_EQ(removed.count(), 1);
}

TEST(MediaWatcher, ItsTimerPollsTheDrive)
{
    TAppTest test;
    const QString cue = test.UseDemoDisc();
    TMediaWatcher watcher;
    watcher.SetPollInterval(10);
    QSignalSpy removed(&watcher, &TMediaWatcher::MediaRemoved);
    watcher.Watch(cue, true);
    ASSERT_TRUE(QFile::remove(test.Home.File("demo.bin")));
    EXPECT_TRUE(removed.wait(5000));
}

TEST(MediaWatcher, ADriveThatCannotBeAskedChangesNothing)
{
    TAppTest test;
    TMediaWatcher watcher;
    QSignalSpy arrived(&watcher, &TMediaWatcher::MediaArrived);
    QSignalSpy removed(&watcher, &TMediaWatcher::MediaRemoved);
    watcher.Watch(test.Home.File("no-such-device"), false);
    watcher.Poll();
    EXPECT_EQ(arrived.count() + removed.count(), 0);
}
