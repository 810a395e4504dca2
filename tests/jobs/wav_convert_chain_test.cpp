#include "jobs/wav_convert_chain.h"

#include "audio_test_support.h"
#include "support/small_disk.h"
#include "support/temp_home.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using TFormat = TWavConvertChain::TOutputFormat;

TFormat Format(int channels, int rate, int bits, TWavType type = wtPCM)
{
    return TFormat{channels, rate, bits, type};
}

std::vector<QString> Names(const std::vector<QObject*>& chain, const TWavConvertChain& owner)
{
    std::vector<QString> names;
    for (QObject* component : chain) {
        if (component == &owner.WaveIn1)
            names.push_back("WaveIn1");
        else if (component == &owner.SampleConverter1)
            names.push_back("SampleConverter1");
        else if (component == &owner.MSConverter1)
            names.push_back("MSConverter1");
        else if (component == &owner.RateConverter1)
            names.push_back("RateConverter1");
        else if (component == &owner.SampleConverter2)
            names.push_back("SampleConverter2");
        else if (component == &owner.WaveOut1)
            names.push_back("WaveOut1");
        else
            names.push_back("?");
    }
    return names;
}

// 16-bit samples as 8-bit unsigned ones, as an 8-bit WAV file holds them.
QByteArray EightBit(const std::vector<qint16>& samples)
{
    QByteArray bytes;
    for (qint16 sample : samples)
        bytes.append(static_cast<char>((sample >> 8) + 128));
    return bytes;
}

struct TConverted {
    bool Complete = false;
    QString Error;
};

// Converts and waits for the end of the run.
TConverted ConvertAndWait(TWavConvertChain& chain, const QString& input, const QString& output,
                          const TFormat& format)
{
    QSignalSpy finished(&chain, &TWavConvertChain::Finished);
    const QString problem = chain.Convert(input, output, format);
    if (!problem.isEmpty())
        return {false, problem};
    if (!finished.wait(120000))
        return {false, "no end of the run"};
    return {finished[0][0].toBool(), finished[0][1].toString()};
}

QStringList FolderEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QString Listing(const QString& folder)
{
    return FolderEntries(folder).join(", ");
}

} // namespace

TEST(WavConvertChain, TakesOnlyTheConvertersTheChangeNeeds)
{
    TTempHome home;
    const QString stereo = home.File("stereo.wav");
    const QString eightBitMono = home.File("mono8.wav");
    WriteFile(stereo, MakePcmWav(2, 44100, 16, Bytes(TestSignal(4410, 2))));
    WriteFile(eightBitMono, MakePcmWav(1, 11025, 8, EightBit(TestSignal(1102, 1, 11025))));
    TWavConvertChain chain;

    chain.WaveIn1.SetFileName(stereo);
    EXPECT_EQ(Names(chain.Build(Format(1, 44100, 16)), chain),
              (std::vector<QString>{"WaveIn1", "MSConverter1", "WaveOut1"}));
    EXPECT_EQ(Names(chain.Build(Format(2, 44100, 16)), chain), (std::vector<QString>{"WaveIn1", "WaveOut1"}));
    EXPECT_EQ(Names(chain.Build(Format(2, 22050, 8)), chain),
              (std::vector<QString>{"WaveIn1", "RateConverter1", "SampleConverter2", "WaveOut1"}));
    EXPECT_EQ(chain.RateConverter1.OutSampleRate(), 22050);
    EXPECT_EQ(chain.RateConverter1.KernelWidth(), 30);
    EXPECT_EQ(chain.RateConverter1.FilterWindow(), fwBlackman);

    chain.WaveIn1.SetFileName(eightBitMono);
    EXPECT_EQ(Names(chain.Build(Format(2, 22050, 8)), chain),
              (std::vector<QString>{"WaveIn1", "SampleConverter1", "MSConverter1", "RateConverter1",
                                    "SampleConverter2", "WaveOut1"}));
    EXPECT_EQ(chain.RateConverter1.Input(), &chain.MSConverter1);
    EXPECT_EQ(chain.SampleConverter2.Input(), &chain.RateConverter1);
    EXPECT_EQ(chain.WaveOut1.Input(), &chain.SampleConverter2);

    // An 8-bit input is widened even when nothing else changes, since the IMA
    // encoder takes 16-bit samples; converters of the earlier chain are let go.
    EXPECT_EQ(Names(chain.Build(Format(1, 11025, 16, wtDVIADPCM)), chain),
              (std::vector<QString>{"WaveIn1", "SampleConverter1", "WaveOut1"}));
    EXPECT_EQ(chain.WaveOut1.WavType(), wtDVIADPCM);
    EXPECT_EQ(chain.MSConverter1.Input(), nullptr);
    EXPECT_EQ(chain.RateConverter1.Input(), nullptr);
    EXPECT_EQ(chain.SampleConverter2.Input(), nullptr);
}

TEST(WavConvertChain, WritesTheFormatAskedForAndKeepsTheSound)
{
    TTempHome home;
    const QString input = home.File("in.wav");
    const std::vector<qint16> signal = TestSignal(44100, 2);
    WriteFile(input, MakePcmWav(2, 44100, 16, Bytes(signal)));
    TWavConvertChain chain;
    struct TCase {
        TFormat Format;
        TWavType Type;
    };
    const TCase cases[] = {
        {Format(1, 22050, 8), wtPCM},
        {Format(2, 48000, 16, wtDVIADPCM), wtDVIADPCM},
        {Format(1, 8000, 16), wtPCM},
        {Format(2, 44100, 16), wtPCM},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Format.Channels << " ch " << c.Format.SampleRate << " Hz "
                                        << c.Format.BitsPerSample << " bits type " << c.Type);
        const QString output = home.File(QStringLiteral("out/%1-%2-%3-%4.wav")
                                             .arg(c.Format.Channels)
                                             .arg(c.Format.SampleRate)
                                             .arg(c.Format.BitsPerSample)
                                             .arg(int(c.Type)));
        QDir().mkpath(QFileInfo(output).absolutePath());
        const TConverted result = ConvertAndWait(chain, input, output, c.Format);
        ASSERT_TRUE(result.Complete) << result.Error.toStdString();
        EXPECT_FALSE(chain.Running());

        TWaveIn reader;
        reader.SetFileName(output);
        ASSERT_TRUE(reader.IsValid());
        EXPECT_EQ(reader.GetWavType(), c.Type);
        EXPECT_EQ(reader.GetChannels(), c.Format.Channels);
        EXPECT_EQ(reader.GetSampleRate(), c.Format.SampleRate);
        EXPECT_EQ(reader.GetBitsPerSample(), c.Format.BitsPerSample);
        // One second in, one second out, give or take the filter's edges and
        // the last ADPCM block.
        EXPECT_NEAR(double(reader.GetTotalSamples()), double(c.Format.SampleRate),
                    c.Format.SampleRate * 0.02);
        // No temporary file is left: it has taken the output's place.
        EXPECT_EQ(FolderEntries(QFileInfo(output).absolutePath()).filter(".part-").join(", "), "");
    }

    // Nothing to change but the encoding: the samples come through as they were.
    const QString copy = home.File("out/2-44100-16-1.wav");
    TWaveIn reader;
    reader.SetFileName(copy);
    EXPECT_EQ(Samples(ReadAll(reader)), signal);
}

TEST(WavConvertChain, RefusesWhatWouldLoseTheInputAndWhatItCannotWrite)
{
    TTempHome home;
    const QString input = home.File("in.wav");
    const QByteArray original = MakePcmWav(2, 44100, 16, Bytes(TestSignal(4410, 2)));
    WriteFile(input, original);
    ASSERT_EQ(
        ::symlink(QFile::encodeName(input).constData(), QFile::encodeName(home.File("link.wav")).constData()),
        0);
    ASSERT_EQ(
        ::link(QFile::encodeName(input).constData(), QFile::encodeName(home.File("hard.wav")).constData()),
        0);
    WriteFile(home.File("text.wav"), "not a wave file at all");
    TWavConvertChain chain;

    for (const QString& output :
         {input, home.File("./in.wav"), home.File("link.wav"), home.File("hard.wav")}) {
        const QString problem = chain.Convert(input, output, Format(1, 22050, 16));
        EXPECT_TRUE(problem.contains("is the input file")) << problem.toStdString();
        EXPECT_FALSE(chain.Running());
    }
    EXPECT_TRUE(chain.Convert(home.File("missing.wav"), home.File("out.wav"), Format(1, 22050, 16))
                    .contains("no such file"));
    EXPECT_TRUE(chain.Convert(home.File("text.wav"), home.File("out.wav"), Format(1, 22050, 16))
                    .contains("is not a WAV file"));
    EXPECT_EQ(chain.Convert(input, home.File("out.wav"), Format(1, 22050, 8, wtDVIADPCM)),
              "Cannot encode 8 bit sound into ADPCM.");
    EXPECT_TRUE(chain.Convert(input, home.File("out.wav"), Format(3, 22050, 16)).contains("1 or 2 channels"));
    EXPECT_TRUE(chain.Convert(input, home.File("out.wav"), Format(1, 22050, 12)).contains("8 or 16 bits"));
    EXPECT_TRUE(chain.Convert(input, home.File("out.wav"), Format(1, 0, 16)).contains("above 0"));
    QDir().mkpath(home.File("folder.wav"));
    EXPECT_TRUE(chain.Convert(input, home.File("folder.wav"), Format(1, 22050, 16)).contains("is a folder"));
    // A file made read-only is kept: said before converting, not after.
    WriteFile(home.File("kept.wav"), "keep me");
    ASSERT_EQ(::chmod(QFile::encodeName(home.File("kept.wav")).constData(), 0444), 0);
    EXPECT_TRUE(chain.Convert(input, home.File("kept.wav"), Format(1, 22050, 16)).contains("read-only"));
    EXPECT_EQ(ReadFile(home.File("kept.wav")), "keep me");

    // Nothing was opened for writing: the input is whole and no file was left.
    EXPECT_EQ(ReadFile(input), original);
    EXPECT_FALSE(QFileInfo::exists(home.File("out.wav")));
    EXPECT_EQ(FolderEntries(home.Path()).filter(".part-").join(", "), "");
}

TEST(WavConvertChain, ReplacesAnOutputOnlyWhenTheRunIsCompleteAndStopLeavesItAlone)
{
    TTempHome home;
    const QString input = home.File("long.wav");
    const QString output = home.File("out/long.wav");
    QDir().mkpath(home.File("out"));
    // Long enough that the stop below comes while the rate converter works.
    WriteFile(input, MakePcmWav(2, 44100, 16, Bytes(TestSignal(44100 * 60, 2))));
    const QByteArray previous = "an earlier file the user may want back";
    WriteFile(output, previous);

    TWavConvertChain chain;
    QSignalSpy finished(&chain, &TWavConvertChain::Finished);
    QSignalSpy progress(&chain, &TWavConvertChain::Progress);
    ASSERT_EQ(chain.Convert(input, output, Format(1, 11025, 8)), "");
    EXPECT_TRUE(chain.Running());
    ASSERT_TRUE(progress.wait(60000));
    chain.Stop();
    EXPECT_FALSE(chain.Running());
    QCoreApplication::processEvents();
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(ReadFile(output), previous);
    EXPECT_EQ(Listing(home.File("out")), "long.wav");

    // Run through, the converted file takes the old one's place with the
    // permissions a new file gets.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    const TConverted result = ConvertAndWait(chain, input, output, Format(1, 11025, 8));
    ASSERT_TRUE(result.Complete) << result.Error.toStdString();
    TWaveIn reader;
    reader.SetFileName(output);
    ASSERT_TRUE(reader.IsValid());
    EXPECT_EQ(reader.GetSampleRate(), 11025);
    EXPECT_EQ(reader.GetBitsPerSample(), 8);
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(output).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
    EXPECT_EQ(Listing(home.File("out")), "long.wav");
}

// The sink's error names the file it writes, the private temporary; the user
// is told about the output, and neither is left behind.
TEST(WavConvertChain, AFullDiskEndsTheRunWithTheOutputsNameAndNothingLeft)
{
    TTempHome home;
    const QString input = home.File("in.wav");
    WriteFile(input, MakePcmWav(2, 44100, 16, Bytes(TestSignal(44100 * 5, 2))));
    TSmallDisk disk(256);
    std::unique_ptr<TFileSizeLimit> limit;
    if (!disk.Mounted())
        limit = std::make_unique<TFileSizeLimit>(256 * 1024);
    const QString output = disk.File("out.wav");

    TWavConvertChain chain;
    const TConverted result = ConvertAndWait(chain, input, output, Format(2, 44100, 16));
    limit.reset();
    EXPECT_FALSE(result.Complete);
    EXPECT_TRUE(result.Error.contains(output)) << result.Error.toStdString();
    EXPECT_FALSE(result.Error.contains(".part-")) << result.Error.toStdString();
    EXPECT_EQ(Listing(disk.Path()), "");
}
