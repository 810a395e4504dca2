#include "audio/acs_exception.h"
#include "audio/wave_in.h"
#include "audio_test_support.h"
#include "support/temp_home.h"

#include <QBuffer>
#include <QDir>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

class WaveInTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return Home.File(name); }

    QString WritePcm(const QString& name, int channels, int rate, const std::vector<qint16>& samples)
    {
        WriteFile(Path(name), MakePcmWav(channels, rate, 16, Bytes(samples)));
        return Path(name);
    }

    // sox converts a file; extra gives the output's options.
    QString SoxConvert(const QString& source, const QString& name, const QStringList& extra)
    {
        RunProgram(QStringLiteral("sox"), QStringList{source} + extra + QStringList{Path(name)});
        return Path(name);
    }

    // Our decoding of a whole file.
    static std::vector<qint16> Decode(const QString& path)
    {
        TWaveIn in;
        in.SetFileName(path);
        return Samples(ReadAll(in));
    }

    TTempHome Home;
};

std::vector<qint16> Prefix(const std::vector<qint16>& samples, std::size_t count)
{
    return std::vector<qint16>(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(count));
}

int OpenDescriptors()
{
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

QString BeginReadError(TWaveIn& in)
{
    try {
        in.BeginRead();
        in.EndRead();
    } catch (const EACSException& error) {
        return error.Message();
    }
    return QStringLiteral("(nothing raised)");
}

QByteArray ReplaceAt(QByteArray bytes, int offset, const QByteArray& with)
{
    bytes.replace(offset, with.size(), with);
    return bytes;
}

QByteArray Le16(int value)
{
    QByteArray bytes(2, '\0');
    qToLittleEndian<quint16>(static_cast<quint16>(value), bytes.data());
    return bytes;
}

QByteArray Le32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian<quint32>(value, bytes.data());
    return bytes;
}

} // namespace

TEST_F(WaveInTest, ReadsPcmFilesAsSoxDoes)
{
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        const std::vector<qint16> signal = TestSignal(30001, channels, 22050);
        const QString source = WritePcm("signal.wav", channels, 22050, signal);

        const QString pcm16 = SoxConvert(source, "pcm16.wav", {"-e", "signed", "-b", "16"});
        TWaveIn in;
        in.SetFileName(pcm16);
        EXPECT_TRUE(in.IsValid());
        EXPECT_EQ(in.GetWavType(), wtPCM);
        EXPECT_EQ(in.GetChannels(), channels);
        EXPECT_EQ(in.GetSampleRate(), 22050);
        EXPECT_EQ(in.GetBitsPerSample(), 16);
        EXPECT_EQ(in.GetTotalSamples(), 30001);
        EXPECT_EQ(in.GetTotalTime(), 1); // 1.36 s
        EXPECT_EQ(Decode(pcm16), SoxDecode(pcm16));
        EXPECT_EQ(Decode(pcm16), signal);

        const QString pcm8 = SoxConvert(source, "pcm8.wav", {"-e", "unsigned", "-b", "8"});
        in.SetFileName(pcm8);
        EXPECT_EQ(in.GetBitsPerSample(), 8);
        EXPECT_EQ(in.GetTotalSamples(), 30001);
        const QByteArray soxBytes =
            RunProgram(QStringLiteral("sox"), {pcm8, "-t", "raw", "-e", "unsigned", "-b", "8", "-"});
        EXPECT_EQ(ReadAll(in, 777), soxBytes);
    }
}

TEST_F(WaveInTest, DecodesAdpcmFilesAsSoxDoesUpToTheFactCount)
{
    for (const QString& encoding : {QStringLiteral("ima-adpcm"), QStringLiteral("ms-adpcm")}) {
        for (int channels : {1, 2}) {
            SCOPED_TRACE(encoding.toStdString() + " " + std::to_string(channels));
            const std::vector<qint16> signal = TestSignal(20000, channels, 22050);
            const QString source = WritePcm("signal.wav", channels, 22050, signal);
            const QString adpcm = SoxConvert(source, "adpcm.wav", {"-e", encoding});
            TWaveIn in;
            in.SetFileName(adpcm);
            ASSERT_TRUE(in.IsValid());
            EXPECT_EQ(in.GetWavType(), encoding == "ima-adpcm" ? wtDVIADPCM : wtMSADPCM);
            EXPECT_EQ(in.GetBitsPerSample(), 16);
            EXPECT_EQ(in.GetChannels(), channels);
            EXPECT_EQ(in.GetTotalSamples(), 20000);
            const std::vector<qint16> ours = Samples(ReadAll(in, 3001));
            const std::vector<qint16> sox = SoxDecode(adpcm);
            // sox also plays the padding of the last block; the fact chunk says
            // where the sound ends.
            ASSERT_EQ(ours.size(), 20000u * channels);
            ASSERT_GE(sox.size(), ours.size());
            EXPECT_EQ(ours, Prefix(sox, ours.size()));
        }
    }
}

TEST_F(WaveInTest, ReadsAdpcmWithoutFactChunkAsFFmpegStreamsIt)
{
    const QString source = WritePcm("signal.wav", 2, 44100, TestSignal(44100, 2));
    // Written to a pipe, FFmpeg cannot go back for the sizes and writes no fact.
    const QByteArray streamed =
        RunProgram(QStringLiteral("ffmpeg"),
                   {"-v", "error", "-i", source, "-c:a", "adpcm_ima_wav", "-f", "wav", "pipe:1"});
    ASSERT_FALSE(streamed.isEmpty());
    ASSERT_FALSE(streamed.contains("fact"));
    WriteFile(Path("streamed.wav"), streamed);
    TWaveIn in;
    in.SetFileName(Path("streamed.wav"));
    ASSERT_TRUE(in.IsValid());
    const std::vector<qint16> ours = Samples(ReadAll(in));
    // Every block decodes: the frame count comes from the data size. (FFmpeg's
    // own decoder rounds its steps differently from the reference algorithm;
    // sox follows the reference.)
    EXPECT_EQ(static_cast<qint64>(ours.size()), in.GetTotalSamples() * 2);
    EXPECT_EQ(in.GetTotalSamples() % 1017, 0);
    EXPECT_EQ(ours, SoxDecode(Path("streamed.wav")));
}

TEST_F(WaveInTest, SkipsExtraChunksAndPadBytesAndAcceptsLowerCaseIds)
{
    const std::vector<qint16> signal = TestSignal(1000, 2);
    const QByteArray data = Bytes(signal);
    const QByteArray fmt = Chunk("fmt ", FmtBody(1, 2, 44100, 4, 16));
    const QByteArray list = Chunk("LIST", QByteArray("INFOISFT\x07\0\0\0Writer\0", 19)); // odd: padded
    const QByteArray junk = Chunk("junk", QByteArray(3, 'x'));
    const QByteArray after = Chunk("LIST", QByteArray("INFOICMT\x04\0\0\0abc\0", 16));
    struct TCase {
        const char* Name;
        QByteArray File;
    };
    const TCase cases[] = {
        {"chunks before fmt and before data", Riff(list + fmt + junk + Chunk("data", data))},
        {"chunk after data", Riff(fmt + Chunk("data", data) + after)},
        {"lower-case ids", QByteArray("riff") + Le32(static_cast<quint32>(data.size() + 36)) + "wave" +
                               "fmt " + Le32(16) + FmtBody(1, 2, 44100, 4, 16) + "data" +
                               Le32(static_cast<quint32>(data.size())) + data},
        // A writer that forgot the pad byte after an odd chunk.
        {"no pad byte", Riff(Chunk("LIST", QByteArray("abc"), false) + fmt + Chunk("data", data))},
        {"bytes before RIFF", QByteArray("ID3 junk") + Riff(fmt + Chunk("data", data))},
        {"large chunk before fmt", Riff(Chunk("bext", QByteArray(20000, 'b')) + fmt + Chunk("data", data))},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteFile(Path("chunks.wav"), c.File);
        TWaveIn in;
        in.SetFileName(Path("chunks.wav"));
        ASSERT_TRUE(in.IsValid());
        in.BeginRead();
        EXPECT_EQ(in.Size(), data.size()); // the data chunk only, whatever follows
        in.EndRead();
        EXPECT_EQ(Decode(Path("chunks.wav")), signal);
    }
    // sox agrees on the padded layout.
    WriteFile(Path("chunks.wav"), cases[0].File);
    EXPECT_EQ(SoxDecode(Path("chunks.wav")), signal);
}

TEST_F(WaveInTest, RefusesFormatsItCannotDeliver)
{
    const QString source = WritePcm("signal.wav", 1, 8000, TestSignal(800, 1, 8000));
    const QString floatWav = SoxConvert(source, "float.wav", {"-e", "floating-point", "-b", "32"});
    const QString ima = SoxConvert(source, "ima.wav", {"-e", "ima-adpcm"});
    const QByteArray imaBytes = ReadFile(ima);
    ASSERT_EQ(U16At(imaBytes, 20), 17);
    const QByteArray pcm = ReadFile(source);
    struct TCase {
        const char* Name;
        QByteArray File;
    };
    const TCase cases[] = {
        {"float", ReadFile(floatWav)},
        {"ima with 8 bits", ReplaceAt(imaBytes, 34, Le16(8))},
        {"ima step index 89",
         ReplaceAt(imaBytes, static_cast<int>(imaBytes.indexOf("data")) + 8 + 2, QByteArray(1, char(89)))},
        {"zero channels", ReplaceAt(pcm, 22, Le16(0))},
        {"seven channels", ReplaceAt(pcm, 22, Le16(7))},
        {"zero rate", ReplaceAt(pcm, 24, Le32(0))},
        {"24 bits", ReplaceAt(pcm, 34, Le16(24))},
        {"nothing but LIST chunks",
         Riff(Chunk("LIST", QByteArray(100, 'a')) + Chunk("LIST", QByteArray(7, 'b')))},
        {"data before fmt",
         Riff(Chunk("data", QByteArray(100, 'a')) + Chunk("fmt ", FmtBody(1, 1, 8000, 2, 16)))},
        {"not RIFF at all", QByteArray(10000, 'R')},
        {"empty", QByteArray()},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteFile(Path("bad.wav"), c.File);
        TWaveIn in;
        in.SetFileName(Path("bad.wav"));
        EXPECT_FALSE(in.IsValid());
        EXPECT_EQ(in.GetTotalTime(), 0);
        EXPECT_EQ(BeginReadError(in),
                  QStringLiteral("The file \"%1\" is not a WAV file in a format that can be read.")
                      .arg(Path("bad.wav")));
        EXPECT_FALSE(in.Busy());
    }
    TWaveIn in;
    in.SetFileName(floatWav);
    EXPECT_EQ(in.GetWavType(), wtUnsupported);
    in.SetFileName(Path("missing.wav"));
    EXPECT_FALSE(in.IsValid());
    EXPECT_TRUE(BeginReadError(in).startsWith("Cannot open the file"));
}

TEST_F(WaveInTest, RefusesAdpcmTablesAndBlocksOutsideTheirLimits)
{
    const QString source = WritePcm("signal.wav", 1, 8000, TestSignal(4000, 1, 8000));
    const QByteArray ms = ReadFile(SoxConvert(source, "ms.wav", {"-e", "ms-adpcm"}));
    ASSERT_EQ(U16At(ms, 20), 2);
    const int fmtSize = static_cast<int>(U32At(ms, 16));
    const int coefficients = U16At(ms, 20 + 20);
    ASSERT_EQ(coefficients, 7);
    const int data = ms.indexOf("data") + 8;
    const QByteArray fmtBody = ms.mid(20, fmtSize);
    auto withFmt = [&](const QByteArray& body) {
        return Riff(Chunk("fmt ", body) + Chunk("data", ms.mid(data)));
    };
    QByteArray manyPairs = fmtBody;
    manyPairs.replace(20, 2, Le16(33));
    manyPairs.append(QByteArray(26 * 4, '\0'));
    QByteArray fewerPairs = fmtBody; // the first block uses predictor 0..6; declare 0
    fewerPairs.replace(20, 2, Le16(0));
    QByteArray pairsMissing = fmtBody.left(22 + 4 * 3); // declares 7, holds 3
    QByteArray tinyBlock = fmtBody;
    tinyBlock.replace(12, 2, Le16(6)); // shorter than a mono block header
    QByteArray badPredictor = ms;
    badPredictor[data] = 7;
    const struct {
        const char* Name;
        QByteArray File;
    } cases[] = {
        {"33 coefficient pairs", withFmt(manyPairs)},
        {"no coefficient pairs", withFmt(fewerPairs)},
        {"pairs missing from fmt", withFmt(pairsMissing)},
        {"block align below the header", withFmt(tinyBlock)},
        {"predictor index 7 of 7", badPredictor},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteFile(Path("bad.wav"), c.File);
        TWaveIn in;
        in.SetFileName(Path("bad.wav"));
        EXPECT_FALSE(in.IsValid());
    }

    // A damaged block further on comes out as silence of its length.
    QByteArray laterBad = ms;
    const int blockAlign = U16At(ms, 20 + 12);
    laterBad[data + blockAlign] = 9;
    WriteFile(Path("later.wav"), laterBad);
    const std::vector<qint16> good = Decode(Path("ms.wav"));
    const std::vector<qint16> damaged = Decode(Path("later.wav"));
    ASSERT_EQ(damaged.size(), good.size());
    const int samplesPerBlock = U16At(ms, 20 + 18);
    for (int i = 0; i < static_cast<int>(good.size()); ++i) {
        if (i >= samplesPerBlock && i < 2 * samplesPerBlock)
            ASSERT_EQ(damaged[static_cast<std::size_t>(i)], 0) << i;
        else
            ASSERT_EQ(damaged[static_cast<std::size_t>(i)], good[static_cast<std::size_t>(i)]) << i;
    }
}

TEST_F(WaveInTest, CutOffFilesEndCleanly)
{
    const std::vector<qint16> signal = TestSignal(10000, 2);
    const QString source = WritePcm("signal.wav", 2, 44100, signal);
    const QString ima = SoxConvert(source, "ima.wav", {"-e", "ima-adpcm"});
    const QString ms = SoxConvert(source, "ms.wav", {"-e", "ms-adpcm"});
    for (const QString& path : {source, ima, ms}) {
        const QByteArray whole = ReadFile(path);
        const std::vector<qint16> full = Decode(path);
        for (int length :
             {0, 3, 11, 30, 43, 44, 45, 61, 100, 1000, 4097, static_cast<int>(whole.size()) - 1}) {
            SCOPED_TRACE(path.toStdString() + " cut at " + std::to_string(length));
            WriteFile(Path("cut.wav"), whole.left(length));
            TWaveIn in;
            in.SetFileName(Path("cut.wav"));
            if (!in.IsValid())
                continue;
            const std::vector<qint16> got = Decode(Path("cut.wav"));
            in.BeginRead();
            EXPECT_EQ(static_cast<qint64>(got.size()) * 2, in.Size());
            in.EndRead();
            ASSERT_LE(got.size(), full.size());
            // What there is decodes as it does in the whole file.
            EXPECT_EQ(got, Prefix(full, got.size()));
        }
    }
}

TEST_F(WaveInTest, DataChunkClaimingFourGigabytesEndsWithTheFile)
{
    const std::vector<qint16> signal = TestSignal(3000, 2);
    QByteArray file = MakePcmWav(2, 44100, 16, Bytes(signal));
    file.replace(40, 4, Le32(0xFFFFFFFFu));
    WriteFile(Path("huge.wav"), file);
    TWaveIn in;
    in.SetFileName(Path("huge.wav"));
    ASSERT_TRUE(in.IsValid());
    EXPECT_EQ(in.GetTotalSamples(), 3000);
    EXPECT_EQ(Decode(Path("huge.wav")), signal);

    // The same for compressed data, with and without a fact chunk.
    const QByteArray ima = ReadFile(SoxConvert(Path("huge.wav"), "ima.wav", {"-e", "ima-adpcm"}));
    const int dataSize = ima.indexOf("data") + 4;
    WriteFile(Path("ima-huge.wav"), ReplaceAt(ima, dataSize, Le32(0xFFFFFFFFu)));
    const std::vector<qint16> expected = Decode(Path("ima.wav"));
    EXPECT_EQ(Decode(Path("ima-huge.wav")), expected);
    QByteArray noFact = ReplaceAt(ima, dataSize, Le32(0xFFFFFFFFu));
    noFact.replace(noFact.indexOf("fact"), 4, "junk");
    WriteFile(Path("ima-huge-nofact.wav"), noFact);
    const std::vector<qint16> blocks = Decode(Path("ima-huge-nofact.wav"));
    ASSERT_GE(blocks.size(), expected.size());
    EXPECT_EQ(Prefix(blocks, expected.size()), expected);
}

TEST_F(WaveInTest, StartAndEndSampleSelectFrames)
{
    const std::vector<qint16> signal = TestSignal(5000, 2);
    const QString pcm = WritePcm("signal.wav", 2, 44100, signal);
    const QString ima = SoxConvert(pcm, "ima.wav", {"-e", "ima-adpcm"});
    for (const QString& path : {pcm, ima}) {
        SCOPED_TRACE(path.toStdString());
        const std::vector<qint16> full = Decode(path);
        auto slice = [&](qint64 from, qint64 to) {
            return std::vector<qint16>(full.begin() + from * 2, full.begin() + to * 2);
        };
        TWaveIn in;
        in.SetFileName(path);
        EXPECT_EQ(Samples(ReadAll(in)), full);
        in.SetStartSample(1234);
        EXPECT_EQ(Samples(ReadAll(in)), slice(1234, 5000));
        in.SetEndSample(3001);
        EXPECT_EQ(Samples(ReadAll(in)), slice(1234, 3001));
        in.SetStartSample(0);
        EXPECT_EQ(Samples(ReadAll(in)), slice(0, 3001));
        in.SetStartSample(4000);
        in.SetEndSample(99999); // beyond the end: to the end
        in.BeginRead();
        EXPECT_EQ(in.Size(), 1000 * 4);
        in.EndRead();
        EXPECT_EQ(Samples(ReadAll(in)), slice(4000, 5000));
    }
}

TEST_F(WaveInTest, LoopAndJumpMoveThroughTheFile)
{
    const std::vector<qint16> signal = TestSignal(10000, 1);
    const QString path = WritePcm("signal.wav", 1, 44100, signal);
    TWaveIn in;
    in.SetFileName(path);
    in.SetLoop(true);
    in.BeginRead();
    std::vector<char> buffer(50000);
    QByteArray got;
    while (got.size() < 3 * 20000) {
        const int count = in.FetchData(buffer.data(), static_cast<int>(buffer.size()));
        ASSERT_GT(count, 0);
        got.append(buffer.data(), count);
    }
    in.EndRead();
    const QByteArray once = Bytes(signal);
    EXPECT_EQ(got.left(3 * 20000), once + once + once);

    in.SetLoop(false);
    in.BeginRead();
    // One refill's worth, so that the next fetch refills and takes the jump.
    const int first = in.FetchData(buffer.data(), 16384);
    ASSERT_GT(first, 10000);
    in.SetPendingJump(-100);
    ASSERT_EQ(in.FetchData(buffer.data(), 100), 100);
    EXPECT_EQ(in.Position(), 100);
    EXPECT_EQ(QByteArray(buffer.data(), 100), once.left(100));
    in.SetPendingJump(100);
    // What is buffered still comes first; the jump is taken at the next refill.
    qint64 rest = 0;
    for (int count; (count = in.FetchData(buffer.data(), 50000)) > 0;)
        rest += count;
    EXPECT_EQ(rest, first - 100);
    EXPECT_EQ(in.Position(), in.Size());
    EXPECT_EQ(in.PendingJump(), 0);
    in.EndRead();
}

TEST_F(WaveInTest, ReadStateAndQueriesOpenTheFileOnlyWhileNeeded)
{
    const QString path = WritePcm("signal.wav", 2, 44100, TestSignal(44100 * 3, 2));
    TWaveIn in;
    std::vector<char> buffer(100);
    EXPECT_FALSE(in.IsValid()); // no name
    EXPECT_EQ(BeginReadError(in), "The file name is not assigned");
    EXPECT_THROW(in.FetchData(buffer.data(), 100), EACSException);
    try {
        in.FetchData(buffer.data(), 100);
    } catch (const EACSException& error) {
        EXPECT_EQ(error.Message(), "The Stream is not opened");
    }

    const int before = OpenDescriptors();
    in.SetFileName(path);
    EXPECT_TRUE(in.IsValid());
    EXPECT_EQ(in.GetTotalTime(), 3);
    EXPECT_EQ(in.GetSampleRate(), 44100);
    EXPECT_EQ(OpenDescriptors(), before);
    in.BeginRead();
    EXPECT_EQ(OpenDescriptors(), before + 1);
    EXPECT_EQ(BeginReadError(in), "The component is buisy");
    // A query during the read does not open the file again.
    EXPECT_EQ(in.GetChannels(), 2);
    EXPECT_EQ(OpenDescriptors(), before + 1);
    EXPECT_EQ(in.FetchData(buffer.data(), 100), 100);
    in.EndRead();
    EXPECT_EQ(OpenDescriptors(), before);
    in.BeginRead();
    in.ResetRead();
    EXPECT_FALSE(in.Busy());
    EXPECT_EQ(OpenDescriptors(), before);

    // A zero sample rate: no time, and the file is closed again.
    QByteArray zeroRate = ReadFile(path);
    zeroRate.replace(24, 4, Le32(0));
    WriteFile(Path("zero.wav"), zeroRate);
    in.SetFileName(Path("zero.wav"));
    EXPECT_EQ(in.GetTotalTime(), 0);
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(WaveInTest, ReadsFromAStreamHandedIn)
{
    const std::vector<qint16> signal = TestSignal(777, 1);
    QByteArray bytes = MakePcmWav(1, 8000, 16, Bytes(signal));
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    TWaveIn in;
    in.SetStream(&buffer);
    EXPECT_TRUE(in.ExternalStream());
    EXPECT_TRUE(in.IsValid());
    EXPECT_EQ(Samples(ReadAll(in)), signal);
    EXPECT_TRUE(buffer.isOpen()); // the owner's, left open
}
