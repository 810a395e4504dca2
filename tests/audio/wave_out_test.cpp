#include "audio/acs_exception.h"
#include "audio/wave_in.h"
#include "audio/wave_out.h"
#include "audio_test_support.h"
#include "support/small_disk.h"
#include "support/temp_home.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {

class WaveOutTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return Home.File(name); }

    QString WritePcm(const QString& name, int channels, int rate, const std::vector<qint16>& samples)
    {
        WriteFile(Path(name), MakePcmWav(channels, rate, 16, Bytes(samples)));
        return Path(name);
    }

    // Runs source -> out into a file and waits for the run to end.
    static void Convert(TACSInput& source, TWaveOut& out, TSinkEvents& events)
    {
        out.AssignInput(&source);
        out.Run();
        ASSERT_TRUE(events.WaitForEnd());
        ASSERT_TRUE(WaitUntil([&] { return out.Status() == osIdle; }));
    }

    // A whole conversion that must succeed.
    static void ConvertFile(const QString& from, const QString& to, TWavType type = wtPCM,
                            int blockSize = 512)
    {
        TWaveIn in;
        in.SetFileName(from);
        TWaveOut out;
        out.SetFileName(to);
        out.SetWavType(type);
        out.SetBlockSize(static_cast<quint16>(blockSize));
        TSinkEvents events(out);
        Convert(in, out, events);
        EXPECT_EQ(events.Done(), 1);
        EXPECT_EQ(events.Errors(), 0) << events.LastError().toStdString();
    }

    static std::vector<qint16> Decode(const QString& path)
    {
        TWaveIn in;
        in.SetFileName(path);
        return Samples(ReadAll(in));
    }

    TTempHome Home;
};

double ErrorRms(const std::vector<qint16>& a, const std::vector<qint16>& b)
{
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += std::pow(double(a[i]) - double(b[i]), 2);
    return std::sqrt(sum / static_cast<double>(a.size()));
}

QString StartError(TWaveOut& out, TACSInput& source)
{
    TSinkEvents events(out);
    out.AssignInput(&source);
    out.Run(); // a failed start is reported before Run returns
    EXPECT_EQ(out.Status(), osIdle);
    EXPECT_EQ(events.Done(), 0);
    return events.Errors() == 1 ? events.LastError() : QStringLiteral("(no error)");
}

// The header fields that must agree with the file: data size and RIFF size.
void ExpectTruthfulHeader(const QByteArray& file, int headerSize)
{
    ASSERT_GE(file.size(), headerSize);
    const quint32 data = U32At(file, headerSize - 4);
    EXPECT_EQ(data + (data & 1), static_cast<quint32>(file.size() - headerSize));
    EXPECT_EQ(U32At(file, 4), static_cast<quint32>(file.size() - 8));
}

} // namespace

TEST_F(WaveOutTest, WritesPcmHeaderAndSamplesThatSoxReads)
{
    const std::vector<qint16> signal = TestSignal(12345, 2, 32000);
    ConvertFile(WritePcm("in.wav", 2, 32000, signal), Path("out.wav"));
    const QByteArray file = ReadFile(Path("out.wav"));
    ASSERT_EQ(file.size(), 44 + 12345 * 4);
    EXPECT_EQ(file.left(4), "RIFF");
    EXPECT_EQ(U32At(file, 4), 12345u * 4 + 36);
    EXPECT_EQ(file.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(U32At(file, 16), 16u);
    EXPECT_EQ(U16At(file, 20), 1);
    EXPECT_EQ(U16At(file, 22), 2);
    EXPECT_EQ(U32At(file, 24), 32000u);
    EXPECT_EQ(U32At(file, 28), 128000u);
    EXPECT_EQ(U16At(file, 32), 4);
    EXPECT_EQ(U16At(file, 34), 16);
    EXPECT_EQ(file.mid(36, 4), "data");
    EXPECT_EQ(U32At(file, 40), 12345u * 4);
    EXPECT_EQ(SoxDecode(Path("out.wav")), signal);

    // 8-bit mono with an odd sample count: the data chunk gets its pad byte.
    TToneSource tone(1001, 1, 8, 11025);
    TWaveOut out;
    out.SetFileName(Path("odd.wav"));
    TSinkEvents events(out);
    Convert(tone, out, events);
    const QByteArray odd = ReadFile(Path("odd.wav"));
    ASSERT_EQ(odd.size(), 44 + 1001 + 1);
    EXPECT_EQ(U32At(odd, 40), 1001u);
    EXPECT_EQ(U32At(odd, 4), static_cast<quint32>(odd.size() - 8));
    EXPECT_EQ(U16At(odd, 32), 1);
    const QByteArray soxBytes =
        RunProgram(QStringLiteral("sox"), {Path("odd.wav"), "-t", "raw", "-e", "unsigned", "-b", "8", "-"});
    EXPECT_EQ(soxBytes, odd.mid(44, 1001));
}

TEST_F(WaveOutTest, ImaAdpcmOutputDecodesWithSoxWithinTheCodecsError)
{
    for (int channels : {1, 2}) {
        for (int blockSize : {512, 1024, 256}) {
            SCOPED_TRACE(std::to_string(channels) + " channels, block " + std::to_string(blockSize));
            const std::vector<qint16> signal = TestSignal(40000, channels, 22050);
            const QString source = WritePcm("in.wav", channels, 22050, signal);
            ConvertFile(source, Path("ima.wav"), wtDVIADPCM, blockSize);
            const QByteArray file = ReadFile(Path("ima.wav"));
            const int samplesPerBlock = (2 / channels) * (blockSize - 4 * channels) + 1;
            const int blocks = (40000 + samplesPerBlock - 1) / samplesPerBlock;
            ASSERT_EQ(file.size(), 60 + blocks * blockSize);
            EXPECT_EQ(U32At(file, 4), static_cast<quint32>(file.size() - 8));
            EXPECT_EQ(U32At(file, 16), 20u);
            EXPECT_EQ(U16At(file, 20), 17);
            EXPECT_EQ(U16At(file, 22), channels);
            EXPECT_EQ(U32At(file, 24), 22050u);
            EXPECT_EQ(U32At(file, 28), static_cast<quint32>(22050 / samplesPerBlock * blockSize));
            EXPECT_EQ(U16At(file, 32), blockSize);
            EXPECT_EQ(U16At(file, 34), 4);
            EXPECT_EQ(U16At(file, 36), 2);
            EXPECT_EQ(U16At(file, 38), samplesPerBlock);
            EXPECT_EQ(file.mid(40, 4), "fact");
            EXPECT_EQ(U32At(file, 48), 40000u);
            EXPECT_EQ(file.mid(52, 4), "data");
            EXPECT_EQ(U32At(file, 56), static_cast<quint32>(blocks * blockSize));

            const std::vector<qint16> sox = SoxDecode(Path("ima.wav"));
            ASSERT_GE(sox.size(), signal.size());
            const std::vector<qint16> soxSound(sox.begin(),
                                               sox.begin() + static_cast<std::ptrdiff_t>(signal.size()));
            // Our reader agrees with sox sample for sample and stops at the fact count.
            EXPECT_EQ(Decode(Path("ima.wav")), soxSound);
            // The coding error is of the size FFmpeg's encoder makes on the same input.
            RunProgram(QStringLiteral("ffmpeg"),
                       {"-v", "error", "-y", "-i", source, "-c:a", "adpcm_ima_wav", "-block_size",
                        QString::number(blockSize), Path("ffmpeg.wav")});
            const std::vector<qint16> ffmpeg = SoxDecode(Path("ffmpeg.wav"));
            ASSERT_GE(ffmpeg.size(), signal.size());
            const double ours = ErrorRms(soxSound, signal);
            const double theirs =
                ErrorRms(std::vector<qint16>(ffmpeg.begin(), ffmpeg.begin() + signal.size()), signal);
            EXPECT_LT(ours, 1.5 * theirs) << ours << " vs " << theirs;
        }
    }
}

TEST_F(WaveOutTest, ImaBlockOf1017SamplesIsFollowedByOneBlockOfSilence)
{
    TToneSource tone(1017, 1, 16, 44100);
    TWaveOut out;
    out.SetFileName(Path("block.wav"));
    out.SetWavType(wtDVIADPCM);
    TSinkEvents events(out);
    Convert(tone, out, events);
    EXPECT_EQ(events.Done(), 1);
    const QByteArray file = ReadFile(Path("block.wav"));
    ASSERT_EQ(file.size(), 60 + 2 * 512);
    EXPECT_EQ(U32At(file, 48), 1017u); // fact: the frames that came in
    EXPECT_EQ(U32At(file, 56), 1024u);
    EXPECT_EQ(U32At(file, 4), 1076u);
    EXPECT_EQ(qFromLittleEndian<qint16>(file.constData() + 60), TToneSource::SampleAt(0, 0));
    EXPECT_EQ(qFromLittleEndian<qint16>(file.constData() + 60 + 512), 0); // silence starts at 0
    const std::vector<qint16> ours = Decode(Path("block.wav"));
    ASSERT_EQ(ours.size(), 1017u);
    const std::vector<qint16> sox = SoxDecode(Path("block.wav"));
    ASSERT_EQ(sox.size(), 2034u);
    EXPECT_EQ(ours, std::vector<qint16>(sox.begin(), sox.begin() + 1017));
    for (std::size_t i = 1017; i < sox.size(); ++i)
        ASSERT_LT(std::abs(sox[i]), 64) << i;
}

TEST_F(WaveOutTest, RefusesBlockSizesAndTypesItCannotWrite)
{
    TWaveOut out;
    EXPECT_EQ(out.WavType(), wtPCM);
    EXPECT_EQ(out.BlockSize(), 512);
    EXPECT_EQ(out.FileMode(), foRewrite);
    out.SetBlockSize(510);
    EXPECT_EQ(out.BlockSize(), 512);
    out.SetBlockSize(0);
    EXPECT_EQ(out.BlockSize(), 512);
    out.SetBlockSize(1024);
    EXPECT_EQ(out.BlockSize(), 1024);
    for (TWavType type : {wtMSADPCM, wtACM, wtUnsupported}) {
        out.SetWavType(type);
        EXPECT_EQ(out.WavType(), wtPCM);
    }
    out.SetWavType(wtDVIADPCM);
    EXPECT_EQ(out.WavType(), wtDVIADPCM);
    out.SetFileMode(foAppend);
    EXPECT_EQ(out.FileMode(), foAppend);
    out.SetFileMode(foRewrite);

    // Nothing changes during a run.
    TToneSource tone(100000000);
    tone.ReadDelayMs = 1;
    out.SetFileName(Path("busy.wav"));
    TSinkEvents events(out);
    out.AssignInput(&tone);
    out.Run();
    out.SetWavType(wtPCM);
    out.SetBlockSize(2048);
    EXPECT_EQ(out.WavType(), wtDVIADPCM);
    EXPECT_EQ(out.BlockSize(), 1024);
    out.Stop();
    ASSERT_TRUE(events.WaitForEnd());
}

TEST_F(WaveOutTest, StartErrorsGoToThreadExceptionAndLeaveFilesAlone)
{
    TToneSource tone(1000);
    TWaveOut out;
    EXPECT_EQ(StartError(out, tone), "File name is not assigned.");
    EXPECT_EQ(tone.BeginCount, 0);

    WriteFile(Path("keep.wav"), "precious");
    TToneSource eightBit(1000, 1, 8);
    out.SetFileName(Path("keep.wav"));
    out.SetWavType(wtDVIADPCM);
    EXPECT_EQ(StartError(out, eightBit), "Cannot encode 8 bit sound into ADPCM.");
    EXPECT_EQ(ReadFile(Path("keep.wav")), "precious");
    EXPECT_EQ(eightBit.EndCount, eightBit.BeginCount); // its read was ended again

    out.SetFileName(Path("new.wav"));
    out.SetBlockSize(12); // a stereo block needs whole 8-byte code groups
    EXPECT_EQ(StartError(out, tone), "Cannot encode ADPCM blocks of 12 bytes with 2 channels.");
    EXPECT_FALSE(QFile::exists(Path("new.wav")));

    out.SetWavType(wtPCM);
    out.SetFileName(Path("no/such/folder/x.wav"));
    EXPECT_TRUE(StartError(out, tone).startsWith("Cannot create the file"));
    EXPECT_FALSE(tone.Busy());

    // A device is never written to, nor a file through a link.
    out.SetFileName(QStringLiteral("/dev/full"));
    EXPECT_TRUE(StartError(out, tone).startsWith("Cannot create the file \"/dev/full\""));
    EXPECT_TRUE(QFile::exists(QStringLiteral("/dev/full")));
    WriteFile(Path("victim.wav"), "precious");
    ASSERT_EQ(::symlink(QFile::encodeName(Path("victim.wav")).constData(),
                        QFile::encodeName(Path("link.wav")).constData()),
              0);
    out.SetFileName(Path("link.wav"));
    EXPECT_TRUE(StartError(out, tone).startsWith("Cannot create the file"));
    EXPECT_EQ(ReadFile(Path("victim.wav")), "precious");
    EXPECT_TRUE(QFileInfo(Path("link.wav")).isSymLink());

    // A disk that takes no data: the header cannot be written, and the reason
    // is the system's.
    {
        TFileSizeLimit limit(20);
        out.SetFileName(Path("full.wav"));
        EXPECT_EQ(StartError(out, tone),
                  "Cannot write to the file \"" + Path("full.wav") + "\": File too large");
    }
    EXPECT_FALSE(QFile::exists(Path("full.wav")));
    EXPECT_FALSE(tone.Busy());
}

TEST_F(WaveOutTest, HeaderTellsTheTrueSizeWhateverTheInputAnnounced)
{
    for (TWavType type : {wtPCM, wtDVIADPCM}) {
        for (qint64 announced : {qint64(-1), qint64(0), qint64(4000), qint64(40000000)}) {
            SCOPED_TRACE(std::to_string(type) + " announcing " + std::to_string(announced));
            TToneSource tone(5000, 2);
            tone.AnnouncedSize = announced;
            TWaveOut out;
            out.SetFileName(Path("sized.wav"));
            out.SetWavType(type);
            TSinkEvents events(out);
            Convert(tone, out, events);
            EXPECT_EQ(events.Done(), 1);
            const QByteArray file = ReadFile(Path("sized.wav"));
            if (type == wtPCM) {
                ASSERT_EQ(file.size(), 44 + 20000);
                ExpectTruthfulHeader(file, 44);
            } else {
                ExpectTruthfulHeader(file, 60);
                EXPECT_EQ(U32At(file, 48), 5000u);
            }
            EXPECT_EQ(Decode(Path("sized.wav")).size(), 10000u);
        }
    }
}

TEST_F(WaveOutTest, FullDiskEndsTheRunWithAnErrorAndATruthfulFile)
{
    // The file-size limit makes writes fail as a full disk would.
    struct TLimit {
        rlimit Old{};
        void (*OldHandler)(int) = nullptr;
        TLimit()
        {
            getrlimit(RLIMIT_FSIZE, &Old);
            OldHandler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit = Old;
            limit.rlim_cur = 100000;
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        ~TLimit()
        {
            setrlimit(RLIMIT_FSIZE, &Old);
            std::signal(SIGXFSZ, OldHandler);
        }
    };
    for (TWavType type : {wtPCM, wtDVIADPCM}) {
        SCOPED_TRACE(type);
        TToneSource tone(1000000, 2);
        TWaveOut out;
        out.SetFileName(Path("full.wav"));
        out.SetWavType(type);
        TSinkEvents events(out);
        {
            TLimit limit;
            Convert(tone, out, events);
        }
        EXPECT_EQ(events.Done(), 0);
        EXPECT_EQ(events.Errors(), 1);
        EXPECT_TRUE(events.LastError().startsWith("Cannot write to the file"))
            << events.LastError().toStdString();
        // The system's reason, also when the last write went in only in part.
        EXPECT_TRUE(events.LastError().endsWith("File too large")) << events.LastError().toStdString();
        EXPECT_FALSE(tone.Busy());
        const QByteArray file = ReadFile(Path("full.wav"));
        EXPECT_LE(file.size(), 100000);
        EXPECT_GT(file.size(), 50000);
        ExpectTruthfulHeader(file, type == wtPCM ? 44 : 60);
        // What is there is readable and is the start of the input.
        const std::vector<qint16> got = Decode(Path("full.wav"));
        if (type == wtPCM) {
            ASSERT_EQ(got.size() * 2, file.size() - 44u);
            EXPECT_EQ(got[got.size() - 1], TToneSource::SampleAt(got.size() / 2 - 1, 1));
        } else {
            EXPECT_EQ(got.size(), U32At(file, 48) * 2u);
            EXPECT_EQ(U32At(file, 48), (file.size() - 60u) / 512 * 505);
        }
    }
}

TEST_F(WaveOutTest, DestroyingASinkDuringARunLeavesACompleteFile)
{
    for (TWavType type : {wtPCM, wtDVIADPCM}) {
        SCOPED_TRACE(type);
        TToneSource tone(100000000, 2);
        tone.ReadDelayMs = 1;
        auto out = std::make_unique<TWaveOut>();
        out->SetFileName(Path("cut.wav"));
        out->SetWavType(type);
        TSinkEvents events(*out);
        out->AssignInput(&tone);
        out->Run();
        ASSERT_TRUE(WaitUntil([&] { return out->Progress() > 0 || tone.Position() > 200000; }));
        out.reset();
        EXPECT_EQ(tone.EndCount, 1);
        EXPECT_EQ(events.Done(), 0);
        const QByteArray file = ReadFile(Path("cut.wav"));
        ExpectTruthfulHeader(file, type == wtPCM ? 44 : 60);
        EXPECT_FALSE(SoxDecode(Path("cut.wav")).empty());
    }
}

TEST_F(WaveOutTest, AppendsToAnExistingFileOfTheSameFormat)
{
    // A file from another writer, with a chunk in front of its data.
    const std::vector<qint16> first = TestSignal(3001, 2);
    WriteFile(Path("a.wav"), Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 4, 16)) +
                                  Chunk("LIST", QByteArray("INFOabc", 7)) + Chunk("data", Bytes(first))));
    TToneSource tone(2000, 2);
    TWaveOut out;
    out.SetFileName(Path("a.wav"));
    out.SetFileMode(foAppend);
    TSinkEvents events(out);
    Convert(tone, out, events);
    EXPECT_EQ(events.Done(), 1);
    std::vector<qint16> expected = first;
    for (qint64 f = 0; f < 2000; ++f) {
        expected.push_back(TToneSource::SampleAt(f, 0));
        expected.push_back(TToneSource::SampleAt(f, 1));
    }
    EXPECT_EQ(SoxDecode(Path("a.wav")), expected);
    EXPECT_EQ(Decode(Path("a.wav")), expected);
    EXPECT_EQ(U32At(ReadFile(Path("a.wav")), 4), static_cast<quint32>(ReadFile(Path("a.wav")).size() - 8));

    // A missing file is simply created.
    out.SetFileName(Path("fresh.wav"));
    TToneSource again(100, 2);
    Convert(again, out, events);
    EXPECT_EQ(Decode(Path("fresh.wav")).size(), 200u);

    // IMA ADPCM continues with whole blocks after the old ones.
    TToneSource imaFirst(1500, 1);
    TWaveOut ima;
    ima.SetFileName(Path("ima.wav"));
    ima.SetWavType(wtDVIADPCM);
    TSinkEvents imaEvents(ima);
    Convert(imaFirst, ima, imaEvents);
    ima.SetWavType(wtPCM); // the file's own type is kept
    ima.SetFileMode(foAppend);
    TToneSource imaSecond(700, 1);
    Convert(imaSecond, ima, imaEvents);
    const QByteArray imaFile = ReadFile(Path("ima.wav"));
    EXPECT_EQ(imaFile.size(), 60 + 3 * 512);
    EXPECT_EQ(U32At(imaFile, 48), 2u * 1017 + 700); // the old padding now plays
    ExpectTruthfulHeader(imaFile, 60);
    const std::vector<qint16> decoded = Decode(Path("ima.wav"));
    ASSERT_EQ(decoded.size(), 2u * 1017 + 700);
    EXPECT_EQ(SoxDecode(Path("ima.wav")).size(), 3u * 1017);
}

TEST_F(WaveOutTest, RefusesToAppendWhatDoesNotFit)
{
    const QString source = WritePcm("mono.wav", 1, 22050, TestSignal(100, 1, 22050));
    RunProgram(QStringLiteral("sox"), {source, "-e", "floating-point", "-b", "32", Path("float.wav")});
    WriteFile(Path("tail.wav"), Riff(Chunk("fmt ", FmtBody(1, 1, 22050, 2, 16)) +
                                     Chunk("data", QByteArray(200, 1)) + Chunk("LIST", QByteArray(10, 'x'))));
    const struct {
        QString File;
        int Channels;
        int Rate;
        QString Error;
    } cases[] = {
        {Path("float.wav"), 1, 22050, "Cannot append data to this .wav file."},
        {Path("tail.wav"), 1, 22050, "Cannot append data to this .wav file."},
        {source, 1, 44100, "Cannot append data in different audio format."},
        {source, 2, 22050, "Cannot append data in different audio format."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Error.toStdString());
        const QByteArray before = ReadFile(c.File);
        TToneSource tone(100, c.Channels, 16, c.Rate);
        TWaveOut out;
        out.SetFileName(c.File);
        out.SetFileMode(foAppend);
        EXPECT_EQ(StartError(out, tone), c.Error);
        EXPECT_EQ(ReadFile(c.File), before);
        EXPECT_FALSE(tone.Busy());
    }
}

TEST_F(WaveOutTest, StopsAtTheLargestSizeAWavFileCanHold)
{
    // A file already holding almost 4 GB of data; sparse, so it costs no disk.
    {
        QFile file(Path("big.wav"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const quint32 dataSize = 0xFFFFFF00u;
        QByteArray header = MakePcmWav(2, 44100, 16, QByteArray());
        qToLittleEndian<quint32>(dataSize, header.data() + 40);
        qToLittleEndian<quint32>(dataSize + 36, header.data() + 4);
        file.write(header);
        if (!file.resize(44 + qint64(dataSize)))
            GTEST_SKIP() << "no sparse file here";
    }
    TToneSource tone(100000, 2);
    TWaveOut out;
    out.SetFileName(Path("big.wav"));
    out.SetFileMode(foAppend);
    TSinkEvents events(out);
    Convert(tone, out, events);
    EXPECT_EQ(events.Done(), 0);
    EXPECT_TRUE(events.LastError().contains("4 GB")) << events.LastError().toStdString();
    QFile file(Path("big.wav"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray header = file.read(44);
    const quint32 dataSize = U32At(header, 40);
    EXPECT_EQ(dataSize % 4, 0u);
    EXPECT_GT(dataSize, 0xFFFFFF00u);
    EXPECT_EQ(file.size(), 44 + qint64(dataSize));
    EXPECT_EQ(U32At(header, 4), dataSize + 36);
    QFile::remove(Path("big.wav"));
}
