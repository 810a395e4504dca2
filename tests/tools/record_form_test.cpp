#include "audio/wave_device.h"
#include "audio/wave_format.h"
#include "codecs/mp3_encode_process.h"
#include "codecs/wma_encode_process.h"
#include "core/program_folder.h"
#include "core/settings.h"
#include "tools/new_record_file.h"
#include "tools/record_form.h"

#include "audio_test_support.h"
#include "support/disk_audio.h"
#include "support/scripted_prompter.h"
#include "support/small_disk.h"
#include "support/temp_home.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

// The recorder as a user drives it: SDL's disk driver hears a known signal in
// real time, questions and file pickers are answered by the script, and MP3s
// are made by the real encoder through the job window.

namespace {

using TAnswer = TPrompter::TAnswer;

class RecordFormTest : public ::testing::Test {
protected:
    RecordFormTest() : Disk(true)
    {
        HadMicrophone = qEnvironmentVariableIsSet("SDL_DISKAUDIOFILEIN");
        PreviousMicrophone = qgetenv("SDL_DISKAUDIOFILEIN");
        const std::vector<qint16> signal = TestSignal(22050 * 60, 1, 22050);
        WriteFile(Home.File("microphone.raw"), Bytes(signal));
        qputenv("SDL_DISKAUDIOFILEIN", QFile::encodeName(Home.File("microphone.raw")));
        AppSettings().RecordToMp3 = false;
        Form = std::make_unique<TfrmRecord>(nullptr, Prompter, Mp3, Wma);
        Form->SetNewFileAsker([](TfrmNewRecordFile& dialog) {
            dialog.SetFormat(22050, 16, 1);
            return true;
        });
        Form->show();
    }
    ~RecordFormTest() override
    {
        Form.reset();
        if (HadMicrophone)
            qputenv("SDL_DISKAUDIOFILEIN", PreviousMicrophone);
        else
            qunsetenv("SDL_DISKAUDIOFILEIN");
    }

    template <class T> T* Control(const char* name)
    {
        T* control = Form->findChild<T*>(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    void Menu(const char* name) { Control<QAction>(name)->trigger(); }
    void Click(const char* name)
    {
        QToolButton* button = Control<QToolButton>(name);
        ASSERT_TRUE(button->isEnabled()) << name;
        button->click();
    }
    QString Text(const char* name) { return Control<QLabel>(name)->text(); }
    // Records for about the given time, the window's timers running, and on
    // until some sound has come in: a loaded machine may start the capture late.
    void RecordFor(int ms)
    {
        const qint64 before = Form->Device().Length();
        Click("btRecord");
        QTest::qWait(ms);
        EXPECT_TRUE(QTest::qWaitFor([&] { return Form->Device().Length() > before; }, 20000));
        Click("btStop");
    }
    QString Wav(const QString& name, qint64 frames)
    {
        const QString path = Home.File(name);
        WriteFile(path, MakePcmWav(1, 22050, 16, Bytes(TestSignal(frames, 1, 22050))));
        return path;
    }
    void Open(const QString& path)
    {
        Prompter.QueueFiles({path});
        Menu("miOpen");
    }

    TTempHome Home;
    TDiskAudio Disk;
    TScriptedPrompter Prompter;
    TMp3EncodeProcess Mp3{nullptr, Prompter};
    TWMAEncodeProcess Wma{nullptr, Prompter};
    std::unique_ptr<TfrmRecord> Form;
    QByteArray PreviousMicrophone;
    bool HadMicrophone = false;
};

TEST(RecordLength, IsShownInSecondsMinutesAndHours)
{
    const struct {
        qint64 Ms;
        const char* Text;
    } cases[] = {{0, "0 Sec"},
                 {5300, "5.3 Sec"},
                 {999, "0.999 Sec"},
                 {59999, "60 Sec"},
                 {60000, "1 Min"},
                 {75000, "1 Min15 Sec"},
                 {3605000, "1Hour5 Sec"},
                 {3660000, "1Hour1 Min"},
                 {7322000, "2Hour2 Min2 Sec"}};
    for (const auto& c : cases)
        EXPECT_EQ(FormatLength(c.Ms), c.Text) << c.Ms;
}

TEST_F(RecordFormTest, NewRecordingSavedAsWavGetsItsMp3WithoutAnyDrive)
{
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the encoder program starts by fork, which ThreadSanitizer cannot follow";
#endif
    AppSettings().OutputFormat = 1;
    Control<QAction>("miMp3Format")->setChecked(true);
    Menu("miNew");
    EXPECT_EQ(Form->windowTitle(), "Record(NoName)");
    EXPECT_FALSE(Control<QToolButton>("btPlay")->isEnabled());
    RecordFor(1200);
    EXPECT_EQ(Text("lbState"), "Record over!");
    EXPECT_TRUE(Form->Modified());

    // Only WAV names are taken, in any case.
    Prompter.QueuePath(Home.File("take.mp3"));
    Menu("miSave");
    EXPECT_EQ(Prompter.Messages().back(), "The save file should be WAV!");
    EXPECT_FALSE(QFile::exists(Home.File("take.mp3")));

    const QString wav = Home.File("take.WAV");
    Prompter.QueuePath(wav);
    Menu("miSave");
    EXPECT_TRUE(Prompter.ScriptUsedUp());
    EXPECT_EQ(Form->CurrentFile(), wav);
    EXPECT_FALSE(Form->Modified());
    EXPECT_FALSE(QFile::exists(ProgramFile("MyNoName.wav")));
    const QByteArray saved = ReadFile(wav);
    ASSERT_GT(saved.size(), WavPcmHeaderSize + 22050);
    EXPECT_EQ(U32At(saved, 24), 22050u);
    EXPECT_EQ(U16At(saved, 22), 1);
    const QString mp3 = Home.File("take.mp3");
    ASSERT_TRUE(QFile::exists(mp3));
    // The encoder itself reads the MP3 back: about the recording's length.
    const QString decoded = Home.File("decoded.wav");
    RunProgram("lame", {"--quiet", "--decode", mp3, decoded});
    TWaveDevice check;
    ASSERT_TRUE(check.Open(decoded));
    TWaveDevice original;
    ASSERT_TRUE(original.Open(wav));
    EXPECT_NEAR(check.Length(), original.Length(), 150);
    EXPECT_EQ(AppSettings().OutputFormat, 0);

    // The next save of the same file makes the MP3 again without asking.
    RecordFor(300);
    Menu("miSave");
    EXPECT_TRUE(Prompter.ScriptUsedUp());
    EXPECT_GT(ReadFile(wav).size(), saved.size());
    for (const TScriptedPrompter::TCall& call : Prompter.Calls())
        EXPECT_NE(call.Kind, TScriptedPrompter::TKind::YesNo) << call.Text.toStdString();
}

TEST_F(RecordFormTest, StoppingRecordsOnToTheNextWholeSecond)
{
    Menu("miNew");
    Click("btRecord");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Text("panRecordTime") >= "00:00:01.3"; }, 20000));
    const qint64 atStop = Form->Device().Length();
    Click("btStop");
    EXPECT_TRUE(Text("panRecordTime").startsWith("00:00:02")) << Text("panRecordTime").toStdString();
    // The microphone was heard until then, however fast the machine is.
    EXPECT_GT(Form->Device().Length(), atStop);
    EXPECT_EQ(Control<QSlider>("TrackBar1")->value(), 400);
}

TEST_F(RecordFormTest, ToTheStartThenRecordPutsTheNewSoundFirst)
{
    Menu("miNew");
    RecordFor(800);
    const QByteArray first = Form->Device().Sound();
    ASSERT_GT(first.size(), 0);
    Click("btPrev");
    EXPECT_EQ(Control<QSlider>("TrackBar1")->value(), 0);
    RecordFor(300);
    const QByteArray both = Form->Device().Sound();
    ASSERT_GT(both.size(), first.size());
    EXPECT_EQ(both.right(first.size()), first);
    // What was recorded is in the untitled file at once.
    EXPECT_EQ(ReadFile(ProgramFile("MyNoName.wav")).mid(WavPcmHeaderSize), both);
}

TEST_F(RecordFormTest, UndoBringsBackTheLastSave)
{
    const QString path = Wav("song.wav", 22050 * 2);
    const QByteArray before = ReadFile(path);
    Open(path);
    EXPECT_EQ(Form->windowTitle(), "Record(" + path + ")");
    EXPECT_EQ(Text("lbLength"), "2 Sec");
    EXPECT_FALSE(Control<QAction>("miUndo")->isEnabled());
    RecordFor(700);
    EXPECT_GT(Form->Device().Length(), 2000);
    ASSERT_TRUE(Control<QAction>("miUndo")->isEnabled());

    Prompter.QueueAnswer(TAnswer::Yes);
    Menu("miUndo");
    EXPECT_EQ(Form->Device().Length(), 2000);
    EXPECT_EQ(Text("lbLength"), "2 Sec");
    EXPECT_FALSE(Form->Modified());
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(ReadFile(Form->WorkingCopy()), before);
}

TEST_F(RecordFormTest, CancelAtCloseKeepsTheWindowAndTheRecording)
{
    Menu("miNew");
    Click("btRecord");
    QTest::qWait(400);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form->Device().Length() > 0; }, 20000));
    // Closing while recording stops first, then asks.
    Prompter.QueueAnswer(TAnswer::Cancel);
    EXPECT_FALSE(Form->close());
    EXPECT_TRUE(Form->isVisible());
    EXPECT_TRUE(Form->Modified());
    EXPECT_NE(Form->Device().Mode(), TDeviceMode::Recording);
    const qint64 recorded = Form->Device().Length();
    EXPECT_GT(recorded, 0);

    const QString wav = Home.File("kept.wav");
    Prompter.QueueAnswer(TAnswer::Yes);
    Prompter.QueuePath(wav);
    EXPECT_TRUE(Form->close());
    EXPECT_TRUE(Prompter.ScriptUsedUp());
    TWaveDevice check;
    ASSERT_TRUE(check.Open(wav));
    EXPECT_EQ(check.Length(), recorded);
    EXPECT_FALSE(QFile::exists(Form->WorkingCopy()));
    EXPECT_TRUE(AppSettings().RecordToMp3 == Control<QAction>("miMp3Format")->isChecked());
}

TEST_F(RecordFormTest, SavingReplacesALinkButNeverWritesThroughIt)
{
    const QString target = Wav("target.wav", 22050);
    const QByteArray before = ReadFile(target);
    const QString link = Home.File("link.wav");
    ASSERT_TRUE(QFile::link(target, link));
    Menu("miNew");
    RecordFor(500);
    Prompter.QueuePath(link);
    Prompter.QueueAnswer(TAnswer::Yes); // it exists: replace it
    Menu("miSaveAs");
    EXPECT_TRUE(Prompter.ScriptUsedUp());
    EXPECT_EQ(ReadFile(target), before);
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_EQ(Form->CurrentFile(), link);
    EXPECT_GT(Form->Device().Length(), 0);
}

TEST_F(RecordFormTest, AFullDiskLeavesTheSavedFileWholeAndTheRecordingModified)
{
    const QString path = Wav("song.wav", 22050);
    const QByteArray before = ReadFile(path);
    Open(path);
    RecordFor(600);
    {
        TFileSizeLimit limit(before.size() + 100);
        Menu("miSave");
    }
    ASSERT_FALSE(Prompter.Messages().isEmpty());
    EXPECT_TRUE(Prompter.Messages().back().startsWith(
        "Error when saving WAV file,please check if the file is being uesd."));
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_TRUE(Form->Modified());
    Menu("miSave");
    EXPECT_GT(ReadFile(path).size(), before.size());
    EXPECT_FALSE(Form->Modified());
}

TEST_F(RecordFormTest, OpenAsksAgainForAMissingFile)
{
    const QString missing = Home.File("gone.wav");
    Prompter.QueueFiles({missing});
    Prompter.QueueFiles({});
    Menu("miOpen");
    ASSERT_EQ(Prompter.Messages().size(), 1);
    EXPECT_EQ(Prompter.Messages().front(), missing + "\nCould not be found" + QChar(0xFF01) +
                                               "\nPlease check the filename correct or not");
    EXPECT_TRUE(Form->CurrentFile().isEmpty());
    EXPECT_FALSE(Control<QToolButton>("btRecord")->isEnabled());
}

TEST_F(RecordFormTest, NoMixerGivesAClearMessage)
{
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(Home.Path()));
    EXPECT_TRUE(RecordingControlCommand().isEmpty());
    Menu("miRecordingControl");
    qputenv("PATH", path);
    ASSERT_EQ(Prompter.Messages().size(), 1);
    EXPECT_EQ(Prompter.Messages().front(),
              "No sound mixer found: install pavucontrol to choose the recording device.");
}

} // namespace
