#include "tools/resample_form.h"

#include "jobs/wav_convert_chain.h"

#include "audio_test_support.h"
#include "support/scripted_prompter.h"
#include "support/small_disk.h"
#include "support/temp_home.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

#include <unistd.h>

// The WAV to WAV window as a user works it: files chosen through the
// (scripted) file dialogs, the output's format set in its controls, Convert
// clicked. What it writes is read back by sox, the independent reader.

namespace {

// The format of a file as sox sees it: "channels rate encoding".
QString SoxFormat(const QString& path)
{
    const QString info = QString::fromUtf8(RunProgram("soxi", {path}));
    QStringList fields;
    for (const char* name : {"Channels", "Sample Rate", "Sample Encoding"}) {
        for (const QString& line : info.split('\n')) {
            if (line.startsWith(name))
                fields.append(line.section(':', 1).trimmed());
        }
    }
    return fields.join(' ');
}

QByteArray EightBit(const std::vector<qint16>& samples)
{
    QByteArray bytes;
    for (qint16 sample : samples)
        bytes.append(static_cast<char>((sample >> 8) + 128));
    return bytes;
}

class ResampleFormTest : public ::testing::Test {
protected:
    ResampleFormTest() { Form.show(); }

    template <class T> T* Control(const char* name)
    {
        T* control = Form.findChild<T*>(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    QString Text(const char* label) { return Control<QLabel>(label)->text(); }
    QStringList InputLabels()
    {
        return {Text("lInputFileName"), Text("Label6"), Text("Label7"), Text("Label8"), Text("Label15")};
    }

    void ChooseInput(const QString& path)
    {
        Prompter.QueueFiles({path});
        Control<QPushButton>("bInputFile")->click();
    }
    void ChooseOutput(const QString& path)
    {
        Prompter.QueuePath(path);
        Control<QPushButton>("bOutputFile")->click();
    }
    void SetOutputFormat(int channels, const QString& rate, int bits, bool adpcm = false)
    {
        Control<QSpinBox>("SpinEdit1")->setValue(channels);
        Control<QComboBox>("cbBitSamples")->setEditText(rate);
        Control<QSpinBox>("SpinEdit3")->setValue(bits);
        Control<QComboBox>("ComboBox1")->setCurrentIndex(adpcm ? 1 : 0);
    }
    // Clicks Convert and waits for the end of the run; the highest progress
    // the bar showed meanwhile.
    int ConvertAndWait()
    {
        int highest = 0;
        QProgressBar* bar = Control<QProgressBar>("ProgressBar1");
        const QMetaObject::Connection watch = QObject::connect(
            bar, &QProgressBar::valueChanged, [&](int value) { highest = std::max(highest, value); });
        Control<QPushButton>("bConvert")->click();
        // Converting: Convert waits for the end.
        EXPECT_FALSE(ConvertEnabled());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !Form.Chain().Running(); }, 120000));
        QCoreApplication::processEvents();
        QObject::disconnect(watch);
        return highest;
    }
    bool ConvertEnabled() { return Control<QPushButton>("bConvert")->isEnabled(); }
    // The components the last conversion wired, from source to sink.
    QStringList ChainNames()
    {
        TWavConvertChain& chain = Form.Chain();
        const std::vector<std::pair<QObject*, QString>> names{{&chain.WaveIn1, "WaveIn1"},
                                                              {&chain.SampleConverter1, "SampleConverter1"},
                                                              {&chain.MSConverter1, "MSConverter1"},
                                                              {&chain.RateConverter1, "RateConverter1"},
                                                              {&chain.SampleConverter2, "SampleConverter2"}};
        QStringList chainNames{"WaveOut1"};
        for (QObject* current = chain.WaveOut1.Input(); current;) {
            QString name = "?";
            for (const auto& [component, text] : names) {
                if (component == current)
                    name = text;
            }
            chainNames.prepend(name);
            auto* converter = dynamic_cast<TACSConverter*>(current);
            current = converter ? converter->Input() : nullptr;
        }
        return chainNames;
    }
    QStringList Files() { return QDir(Home.Path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

    TTempHome Home;
    TScriptedPrompter Prompter;
    TfrmResample Form{nullptr, Prompter};
};

} // namespace

TEST_F(ResampleFormTest, BuildsTheChainTheChoicesNeedAndWritesThatFormat)
{
    const std::vector<qint16> stereo = TestSignal(44100, 2);
    WriteFile(Home.File("stereo.wav"), MakePcmWav(2, 44100, 16, Bytes(stereo)));
    WriteFile(Home.File("mono8.wav"), MakePcmWav(1, 11025, 8, EightBit(TestSignal(11025, 1, 11025))));
    struct TCase {
        const char* Input;
        int Channels;
        const char* Rate;
        int Bits;
        bool Adpcm;
        QStringList Chain;
        const char* SoxSees;
    };
    const TCase cases[] = {
        {"stereo.wav",
         1,
         "44100",
         16,
         false,
         {"WaveIn1", "MSConverter1", "WaveOut1"},
         "1 44100 16-bit Signed Integer PCM"},
        {"mono8.wav",
         2,
         "22050",
         8,
         false,
         {"WaveIn1", "SampleConverter1", "MSConverter1", "RateConverter1", "SampleConverter2", "WaveOut1"},
         "2 22050 8-bit Unsigned Integer PCM"},
        {"stereo.wav",
         1,
         "  8000",
         16,
         false,
         {"WaveIn1", "MSConverter1", "RateConverter1", "WaveOut1"},
         "1 8000 16-bit Signed Integer PCM"},
        {"stereo.wav",
         2,
         "22050",
         16,
         true,
         {"WaveIn1", "RateConverter1", "WaveOut1"},
         "2 22050 4-bit IMA ADPCM"},
        {"stereo.wav", 2, "44100", 16, false, {"WaveIn1", "WaveOut1"}, "2 44100 16-bit Signed Integer PCM"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.SoxSees);
        const QString output = Home.File(QStringLiteral("out %1.wav").arg(c.SoxSees));
        ChooseInput(Home.File(c.Input));
        ChooseOutput(output);
        SetOutputFormat(c.Channels, c.Rate, c.Bits, c.Adpcm);
        EXPECT_GT(ConvertAndWait(), 0);
        EXPECT_TRUE(ConvertEnabled());
        EXPECT_EQ(Control<QProgressBar>("ProgressBar1")->value(), 0);
        EXPECT_EQ(ChainNames(), c.Chain);
        EXPECT_EQ(SoxFormat(output).toStdString(), c.SoxSees);
        // A second of sound in, a second out.
        const std::vector<qint16> decoded = SoxDecode(output);
        const int rate = QString(c.Rate).trimmed().toInt();
        EXPECT_NEAR(double(decoded.size()) / c.Channels, rate, rate * 0.03);
    }
    // Nothing to change: the samples come through as they were.
    EXPECT_EQ(SoxDecode(Home.File("out 2 44100 16-bit Signed Integer PCM.wav")), stereo);
    EXPECT_TRUE(Prompter.Messages().isEmpty()) << Prompter.Messages().join('\n').toStdString();
}

TEST_F(ResampleFormTest, ShowsTheInputsFormatAndKeepsItWhenAFileCannotBeRead)
{
    const QString pcm = Home.File("source.wav");
    WriteFile(pcm, MakePcmWav(2, 22050, 16, Bytes(TestSignal(22050, 2, 22050))));
    RunProgram("sox", {pcm, "-e", "ima-adpcm", Home.File("ima.wav")});
    RunProgram("sox", {pcm, "-e", "ms-adpcm", Home.File("ms.wav")});
    RunProgram("sox", {pcm, "-c", "1", "-r", "11025", "-b", "8", Home.File("small.wav")});
    RunProgram("ffmpeg",
               {"-v", "error", "-i", pcm, "-c:a", "libmp3lame", "-b:a", "64k", Home.File("mpeg.wav")});
    RunProgram("sox", {pcm, "-e", "floating-point", "-b", "32", Home.File("float.wav")});
    WriteFile(Home.File("text.wav"), "not a wave file");
    struct TCase {
        const char* File;
        QStringList Labels;
    };
    const TCase cases[] = {
        {"source.wav", {"source.wav", "2", "22050", "16", "Raw PCM"}},
        {"ima.wav", {"ima.wav", "2", "22050", "16", "DVI IMA ADPCM"}},
        {"ms.wav", {"ms.wav", "2", "22050", "16", "Microsoft ADPCM"}},
        {"small.wav", {"small.wav", "1", "11025", "8", "Raw PCM"}},
        {"mpeg.wav", {"mpeg.wav", "2", "22050", "16", "ACM"}},
    };
    for (const TCase& c : cases) {
        ChooseInput(Home.File(c.File));
        EXPECT_EQ(InputLabels(), c.Labels);
        EXPECT_EQ(Control<QLabel>("lInputFileName")->toolTip(), Home.File(c.File));
    }
    for (const char* unreadable : {"float.wav", "text.wav"}) {
        ChooseInput(Home.File(unreadable));
        EXPECT_EQ(InputLabels(), cases[4].Labels) << unreadable;
        EXPECT_EQ(Form.InputFile(), Home.File("mpeg.wav"));
        ASSERT_FALSE(Prompter.Messages().isEmpty());
        EXPECT_EQ(Prompter.Messages().back(),
                  Home.File(unreadable) + " is not a WAV file that can be converted.");
    }
}

// What cannot be converted is said before anything is written, and Convert
// stays ready for the next try.
TEST_F(ResampleFormTest, RefusesWhatCannotBeConvertedWithAMessageAndWritesNothing)
{
    const QString input = Home.File("in.wav");
    const QByteArray original = MakePcmWav(2, 44100, 16, Bytes(TestSignal(4410, 2)));
    WriteFile(input, original);
    ASSERT_EQ(
        ::symlink(QFile::encodeName(input).constData(), QFile::encodeName(Home.File("link.wav")).constData()),
        0);
    const QString link = Home.File("link.wav");
    const QString same = " is the file being converted. Please choose another output file.";
    const QString out = Home.File("out.wav");
    struct TCase {
        const char* What;
        QString Output;   // empty: no output chosen
        bool OutputFirst; // the output is chosen before the input
        const char* Rate;
        int Bits;
        bool Adpcm;
        QString Message; // the first the user sees
    };
    const TCase cases[] = {
        {"no output",
         {},
         false,
         "22050",
         16,
         false,
         "Please choose the WAV file to convert and the file to save it as."},
        {"not a number", out, false, "abc", 16, false, "'abc' is not a valid integer value"},
        {"no rate", out, false, "", 16, false, "'' is not a valid integer value"},
        {"rate too low", out, false, "500", 16, false,
         "500 is not a sample rate that can be written. Please enter 1000 to 384000 Hz."},
        {"the input, chosen as output", input, false, "22050", 16, false, input + same},
        {"the input, chosen as output before it", input, true, "22050", 16, false, input + same},
        {"a link to the input", link, false, "22050", 16, false, link + same},
        {"a link to the input, chosen before it", link, true, "22050", 16, false, link + same},
        {"8-bit ADPCM", out, false, "22050", 8, true,
         "Error while saving sound file!\nCannot encode 8 bit sound into ADPCM."},
        {"no such folder", Home.File("missing/out.wav"), false, "22050", 16, false,
         "Error while saving sound file!\nCannot write into " + Home.File("missing") +
             ": No such file or directory"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TfrmResample form(nullptr, Prompter);
        const auto chooseInput = [&] {
            Prompter.QueueFiles({input});
            form.findChild<QPushButton*>("bInputFile")->click();
        };
        if (!c.OutputFirst)
            chooseInput();
        if (!c.Output.isEmpty()) {
            // Choosing an existing file asks first, unless it is refused.
            if (QFileInfo::exists(c.Output) && c.OutputFirst)
                Prompter.QueueAnswer(TPrompter::TAnswer::Yes);
            Prompter.QueuePath(c.Output);
            form.findChild<QPushButton*>("bOutputFile")->click();
        }
        if (c.OutputFirst)
            chooseInput();
        const qsizetype seen = Prompter.Messages().size();
        form.findChild<QComboBox*>("cbBitSamples")->setEditText(c.Rate);
        form.findChild<QSpinBox*>("SpinEdit3")->setValue(c.Bits);
        form.findChild<QComboBox*>("ComboBox1")->setCurrentIndex(c.Adpcm ? 1 : 0);
        form.findChild<QPushButton*>("bConvert")->click();
        EXPECT_FALSE(form.Chain().Running());
        EXPECT_TRUE(form.findChild<QPushButton*>("bConvert")->isEnabled());
        // A refused output choice is said at once and not kept.
        const bool refusedAtChoice = !c.OutputFirst && (c.Output == input || c.Output == link);
        const qsizetype first = refusedAtChoice ? seen - 1 : seen;
        ASSERT_GT(Prompter.Messages().size(), first);
        EXPECT_EQ(Prompter.Messages()[first], c.Message);
        if (refusedAtChoice) {
            EXPECT_EQ(form.OutputFile(), "");
        }
        EXPECT_EQ(ReadFile(input), original);
        EXPECT_EQ(Files(), QStringList({"in.wav", "link.wav"}));
    }
    EXPECT_TRUE(Prompter.ScriptUsedUp());
}

// A run that fails takes its half-written file with it, says why, and lets
// the user try again.
TEST_F(ResampleFormTest, AFullDiskIsShownAndLeavesNoOutput)
{
    const QString input = Home.File("in.wav");
    WriteFile(input, MakePcmWav(2, 44100, 16, Bytes(TestSignal(44100 * 5, 2))));
    TSmallDisk disk(256);
    std::unique_ptr<TFileSizeLimit> limit;
    if (!disk.Mounted())
        limit = std::make_unique<TFileSizeLimit>(256 * 1024);
    ChooseInput(input);
    ChooseOutput(disk.File("out.wav"));
    SetOutputFormat(2, "48000", 16);
    EXPECT_GT(ConvertAndWait(), 0);
    limit.reset();

    EXPECT_TRUE(ConvertEnabled());
    EXPECT_EQ(Control<QProgressBar>("ProgressBar1")->value(), 0);
    ASSERT_EQ(Prompter.Messages().size(), 1);
    const QString message = Prompter.Messages().front();
    EXPECT_TRUE(message.startsWith("Error while saving sound file!\nCannot write to the file \"" +
                                   disk.File("out.wav") + "\": "))
        << message.toStdString();
    EXPECT_EQ(QDir(disk.Path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(ResampleFormTest, ClosingDuringAConversionStopsItAndLeavesNoOutput)
{
    const QString input = Home.File("long.wav");
    // Long enough that the window is closed while the rate converter works.
    WriteFile(input, MakePcmWav(2, 44100, 16, Bytes(TestSignal(44100 * 60, 2))));
    const QString output = Home.File("out.wav");
    WriteFile(output, "an earlier file");
    ChooseInput(input);
    Prompter.QueueAnswer(TPrompter::TAnswer::Yes);
    ChooseOutput(output);
    SetOutputFormat(1, "11025", 8);
    Control<QPushButton>("bConvert")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Control<QProgressBar>("ProgressBar1")->value() > 0; }, 60000));
    ASSERT_TRUE(Form.Chain().Running());

    Control<QPushButton>("Button4")->click();
    EXPECT_FALSE(Form.isVisible());
    EXPECT_EQ(Form.result(), QDialog::Rejected);
    EXPECT_FALSE(Form.Chain().Running());
    QCoreApplication::processEvents();
    EXPECT_EQ(Files(), QStringList({"long.wav", "out.wav"}));
    EXPECT_EQ(ReadFile(output), "an earlier file");
    EXPECT_TRUE(Prompter.Messages().isEmpty());
}

TEST_F(ResampleFormTest, AnExistingOutputIsReplacedOnlyWhenTheUserSaysSo)
{
    const QString kept = Home.File("kept.wav");
    WriteFile(kept, "keep");
    Prompter.QueueAnswer(TPrompter::TAnswer::No);
    ChooseOutput(kept);
    EXPECT_EQ(Form.OutputFile(), "");
    EXPECT_EQ(Text("lOutputFileName"), "");
    ASSERT_EQ(Prompter.Calls().back().Kind, TScriptedPrompter::TKind::YesNo);
    EXPECT_EQ(Prompter.Calls().back().Text, kept + " has existed,overite it?");

    // A name typed without its extension gets the one the filter names.
    ChooseOutput(Home.File("new"));
    EXPECT_EQ(Form.OutputFile(), Home.File("new.wav"));
    EXPECT_EQ(Text("lOutputFileName"), "new.wav");
    EXPECT_EQ(Control<QLabel>("lOutputFileName")->toolTip(), Home.File("new.wav"));
    EXPECT_TRUE(Prompter.ScriptUsedUp());
}
