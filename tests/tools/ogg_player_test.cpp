#include "audio/audio_out.h"
#include "codecs/vorbis_in.h"
#include "tools/ogg_player.h"

#include "audio_test_support.h"
#include "support/disk_audio.h"
#include "support/scripted_prompter.h"
#include "support/temp_home.h"
#include "vorbis_test_support.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

// The Ogg player as a user drives it: a file chosen in the (scripted) file
// dialog plays on SDL's disk driver, whose file is compared with what oggdec
// decodes from the same Ogg file.

namespace {

// An Ogg Vorbis file made by oggenc, the independent encoder, from the test
// signal.
QString MakeOgg(const TTempHome& home, const QString& name, double seconds, int channels, int rate)
{
    const QString wav = home.File(name + ".wav");
    WriteSignalWav(wav, static_cast<qint64>(seconds * rate), channels, rate);
    const QString ogg = home.File(name);
    RunProgram("oggenc", {"-Q", "-q", "1", "-o", ogg, wav});
    return ogg;
}

// Mono samples as the player plays them: in both channels.
QByteArray Widened(const QByteArray& mono)
{
    QByteArray stereo;
    for (qsizetype i = 0; i + 1 < mono.size(); i += 2)
        stereo.append(mono.mid(i, 2)).append(mono.mid(i, 2));
    return stereo;
}

class OggPlayerTest : public ::testing::Test {
protected:
    explicit OggPlayerTest(bool realTime = false) : Disk(realTime) {}

    template <class T> T* Control(const char* name)
    {
        T* control = Player.findChild<T*>(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    QString Text(const char* label) { return Control<QLabel>(label)->text(); }
    bool TimersOn() { return Control<QTimer>("Timer1")->isActive() && Control<QTimer>("Timer2")->isActive(); }

    // Open and play through the window's own button and file dialog.
    void Open(const QString& path)
    {
        Prompter.QueueFiles({path});
        Control<QPushButton>("BitBtn1")->click();
    }
    bool Playing() { return !Control<QPushButton>("BitBtn1")->isEnabled(); }
    // Until the run has ended and the window has taken note.
    bool WaitUntilIdle(int ms = 60000)
    {
        return QTest::qWaitFor(
            [&] { return Player.AudioOut().Status() == osIdle && !Playing() && !TimersOn(); }, ms);
    }

    TTempHome Home;
    TDiskAudio Disk;
    TScriptedPrompter Prompter;
    TfrmOggPlayer Player{nullptr, Prompter};
};

class OggPlayerRealTimeTest : public OggPlayerTest {
protected:
    OggPlayerRealTimeTest() : OggPlayerTest(true) {}
};

} // namespace

TEST_F(OggPlayerTest, PlaysAFileToItsEndAsOggdecDecodesIt)
{
    struct TCase {
        const char* Name;
        int Channels;
        int Rate;
        int Balance;
    };
    for (const TCase& c : {TCase{"song.OGG", 2, 44100, 5}, TCase{"mono.ogg", 1, 22050, 5},
                           TCase{"left only.Ogg", 2, 32000, 0}}) {
        SCOPED_TRACE(c.Name);
        TDiskAudio disk;
        const QString ogg = MakeOgg(Home, c.Name, 3, c.Channels, c.Rate);
        Control<QSlider>("TrackBar1")->setValue(c.Balance);
        Open(ogg);
        EXPECT_TRUE(Playing());
        EXPECT_TRUE(Control<QScrollBar>("ScrollBar1")->isEnabled());
        EXPECT_TRUE(TimersOn());
        EXPECT_EQ(Text("lFileName"), QString(c.Name).chopped(4));
        EXPECT_EQ(Text("lSampleRate"), QString::number(c.Rate) + " bps");
        EXPECT_EQ(Text("lTotalTime"), "0:03");
        EXPECT_EQ(Text("lCurrentTime"), "0:00");
        ASSERT_TRUE(WaitUntilIdle());
        EXPECT_FALSE(Control<QScrollBar>("ScrollBar1")->isEnabled());
        EXPECT_EQ(Control<QScrollBar>("ScrollBar1")->value(), 100);

        QByteArray expected = OggdecRaw(ogg);
        if (c.Channels == 1)
            expected = Widened(expected);
        if (c.Balance == 0) {
            // The right channel is silent, the left one as it was.
            for (qsizetype i = 2; i + 1 < expected.size(); i += 4)
                expected[i] = expected[i + 1] = 0;
        }
        const QByteArray heard = Heard(disk.Played());
        EXPECT_EQ(heard.size(), Heard(expected).size());
        EXPECT_TRUE(heard == Heard(expected));
        EXPECT_TRUE(Prompter.Messages().isEmpty());
    }
}

TEST_F(OggPlayerTest, RefusesWhatIsNotAnOggFileNamedOgg)
{
    const QString ogg = MakeOgg(Home, "valid.ogg", 1, 2, 44100);
    QFile::copy(ogg, Home.File("valid.oga"));
    Home.Write("text.ogg", "This is not a sound file.\n");
    Home.Write("empty.ogg", "");
    QFile::copy(ogg, Home.File("noname"));
    for (const char* name : {"valid.oga", "text.ogg", "empty.ogg", "noname"}) {
        SCOPED_TRACE(name);
        Open(Home.File(name));
        ASSERT_EQ(Prompter.Messages().size(), 1);
        EXPECT_EQ(Prompter.Messages().front(), "Ogg file is not valid.");
        EXPECT_FALSE(Playing());
        EXPECT_EQ(Text("lFileName"), "OGG");
        EXPECT_EQ(Player.AudioOut().Status(), osIdle);
        Prompter = TScriptedPrompter();
    }
    // Neither pause nor stop does anything while nothing plays.
    EXPECT_FALSE(Control<QPushButton>("BitBtn2")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>("bStop")->isEnabled());
    Control<QPushButton>("BitBtn2")->click();
    EXPECT_FALSE(TimersOn());
}

// Damaged files play as far as they can be decoded, like oggdec decodes them,
// and the window comes back to rest.
TEST_F(OggPlayerTest, PlaysADamagedFileAsFarAsItGoes)
{
    const QByteArray whole = ReadFile(MakeOgg(Home, "whole.ogg", 6, 2, 44100));
    const std::vector<TOggPage> pages = ReadOggPages(whole);
    ASSERT_GT(pages.size(), 8u);
    QByteArray damaged = whole;
    const TOggPage& middle = pages[pages.size() / 2];
    for (int i = 40; i < 80; ++i)
        damaged[middle.Offset + i] = static_cast<char>(damaged[middle.Offset + i] ^ 0x5a);
    const struct {
        const char* Name;
        QByteArray Bytes;
    } cases[] = {{"cut.ogg", whole.left(whole.size() * 6 / 10)}, {"damaged.ogg", damaged}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TDiskAudio disk;
        Home.Write(c.Name, c.Bytes);
        Open(Home.File(c.Name));
        ASSERT_TRUE(Playing());
        ASSERT_TRUE(WaitUntilIdle());
        const QByteArray expected = Heard(OggdecRaw(Home.File(c.Name)));
        const QByteArray heard = Heard(disk.Played());
        EXPECT_GT(heard.size(), 44100 * 4);
        EXPECT_LT(heard.size(), Heard(OggdecRaw(Home.File("whole.ogg"))).size());
        EXPECT_TRUE(heard == expected) << heard.size() << " bytes against " << expected.size();
    }
}

// A sound device that does not open is said so at once; nothing "plays"
// silently and the window closes at once.
TEST_F(OggPlayerTest, SaysWhenTheSoundDeviceDoesNotOpen)
{
    const QString ogg = MakeOgg(Home, "song.ogg", 10, 2, 44100);
    qputenv("SDL_DISKAUDIOFILE", "/nonexistent-velbrook-folder/played.raw");
    Player.show();
    Open(ogg);
    ASSERT_EQ(Prompter.Calls().size(), 2u);
    const TScriptedPrompter::TCall& box = Prompter.Calls().back();
    EXPECT_EQ(box.Kind, TScriptedPrompter::TKind::Error);
    EXPECT_TRUE(box.Text.startsWith("The sound device could not be opened: ")) << box.Text.toStdString();
    EXPECT_TRUE(box.Text.contains("/nonexistent-velbrook-folder")) << box.Text.toStdString();
    EXPECT_FALSE(TimersOn());
    ASSERT_TRUE(WaitUntilIdle(20000));
    Player.close();
    EXPECT_FALSE(Player.isVisible());
}

// In real time, as a user hears it: the bars move, the bar seeks, pause holds
// the time, and the close box stops playback before the window goes.
TEST_F(OggPlayerRealTimeTest, SeeksPausesAndStopsBeforeClosing)
{
    const QString ogg = MakeOgg(Home, "long.ogg", 200, 1, 8000);
    Player.show();
    Open(ogg);
    ASSERT_TRUE(Playing());
    EXPECT_EQ(Text("lTotalTime"), "3:20");

    // The level display draws green bars on black, and they move.
    auto picture = [&] { return Control<QLabel>("Image1")->pixmap().toImage(); };
    auto hasBars = [](const QImage& image) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, image.height() - 1) == QColor(0, 128, 0))
                return true;
        }
        return false;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return hasBars(picture()); }, 20000));
    const QImage first = picture();
    EXPECT_EQ(first.pixelColor(first.width() - 1, 0), QColor(Qt::black));
    EXPECT_TRUE(QTest::qWaitFor([&] { return hasBars(picture()) && picture() != first; }, 20000));

    // Dragging the bar to the middle: the time shows half of 200 s, and the
    // file jumps there (real-time play would take 100 s).
    Control<QScrollBar>("ScrollBar1")->setSliderPosition(50);
    EXPECT_EQ(Text("lCurrentTime"), "1:40");
    EXPECT_EQ(Player.ElapsedMs(), 100000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Player.AudioOut().Progress() >= 50; }, 20000));

    Control<QPushButton>("BitBtn2")->click();
    EXPECT_EQ(Player.AudioOut().Status(), osPaused);
    EXPECT_FALSE(TimersOn());
    const QString pausedAt = Text("lCurrentTime");
    QTest::qWait(700);
    EXPECT_EQ(Text("lCurrentTime"), pausedAt);
    Control<QPushButton>("BitBtn2")->click();
    EXPECT_EQ(Player.AudioOut().Status(), osRunning);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Text("lCurrentTime") != pausedAt; }, 20000));

    // The close box: playback stops first, then the window closes.
    Player.close();
    EXPECT_TRUE(Player.Closing());
    EXPECT_TRUE(Player.isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Player.isVisible(); }, 20000));
    EXPECT_EQ(Player.AudioOut().Status(), osIdle);
    EXPECT_GT(Player.AudioOut().PlayedBytes(), 0);
}
