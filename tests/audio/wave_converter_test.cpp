#include "audio/acs_exception.h"
#include "audio/wave_converter.h"
#include "audio/wave_in.h"
#include "audio_test_support.h"
#include "support/temp_home.h"

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>

#include <random>

namespace {

class WaveConverterTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return Home.File(name); }

    // MPEG audio in a WAV file, as FFmpeg writes it.
    QString MakeMp3Wav(const QString& name, int channels, int rate, qint64 frames)
    {
        WriteFile(Path("pcm.wav"), MakePcmWav(channels, rate, 16, Bytes(TestSignal(frames, channels, rate))));
        RunProgram(QStringLiteral("ffmpeg"), {"-v", "error", "-y", "-i", Path("pcm.wav"), "-c:a",
                                              "libmp3lame", "-f", "wav", Path(name)});
        return Path(name);
    }

    // What FFmpeg itself decodes from a file, as 16-bit samples.
    static std::vector<qint16> FFmpegDecode(const QString& path)
    {
        return Samples(RunProgram(QStringLiteral("ffmpeg"),
                                  {"-v", "error", "-i", path, "-f", "s16le", "-acodec", "pcm_s16le", "-"}));
    }

    static QString BeginReadError(TWaveIn& in)
    {
        try {
            in.BeginRead();
            in.EndRead();
        } catch (const EACSException& error) {
            return error.Message();
        }
        return QStringLiteral("(nothing raised)");
    }

    TTempHome Home;
};

QByteArray Le32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian<quint32>(value, bytes.data());
    return bytes;
}

// The body of a chunk of a well-formed file.
QByteArray ChunkBody(const QByteArray& file, const char* id)
{
    const int at = static_cast<int>(file.indexOf(id));
    if (at < 0)
        return {};
    return file.mid(at + 8, static_cast<int>(U32At(file, at + 4)));
}

} // namespace

TEST_F(WaveConverterTest, OpensMpegAudioAsTheSamplesFFmpegDecodes)
{
    struct TCase {
        int Channels;
        int Rate;
    };
    for (const TCase c : {TCase{2, 44100}, TCase{1, 22050}}) {
        SCOPED_TRACE(std::to_string(c.Channels) + " ch " + std::to_string(c.Rate));
        const QString mp3 = MakeMp3Wav("mp3.wav", c.Channels, c.Rate, c.Rate * 3 / 2);
        ASSERT_EQ(U16At(ReadFile(mp3), 20), 85);
        const std::vector<qint16> reference = FFmpegDecode(mp3);
        ASSERT_GT(reference.size(), static_cast<std::size_t>(c.Rate * c.Channels));

        TWaveIn in;
        in.SetFileName(mp3);
        EXPECT_TRUE(in.IsValid());
        EXPECT_EQ(in.GetWavType(), wtACM);
        EXPECT_EQ(in.GetChannels(), c.Channels);
        EXPECT_EQ(in.GetSampleRate(), c.Rate);
        EXPECT_EQ(in.GetBitsPerSample(), 16);
        EXPECT_EQ(in.GetTotalSamples() * c.Channels, static_cast<qint64>(reference.size()));
        EXPECT_EQ(in.GetTotalTime(), 2); // 1.5 s and the coder's padding
        EXPECT_EQ(Samples(ReadAll(in, 3333)), reference);

        // Reads can start inside the decoded sound like in any other file.
        in.SetStartSample(1000);
        in.SetEndSample(5000);
        const std::vector<qint16> part = Samples(ReadAll(in));
        EXPECT_EQ(part, std::vector<qint16>(reference.begin() + 1000 * c.Channels,
                                            reference.begin() + 5000 * c.Channels));

        // A jump back during a read decodes again from the start.
        in.SetStartSample(0);
        in.SetEndSample(-1);
        in.BeginRead();
        // Pieces as large as the source's own refills are read straight into
        // the caller's buffer, so nothing read before the jump is left over.
        QByteArray buffer(16384, '\0');
        while (in.Position() < in.Size() / 2)
            ASSERT_GT(in.FetchData(buffer.data(), int(buffer.size())), 0);
        in.SetPendingJump(-100);
        QByteArray again;
        for (int n; (n = in.FetchData(buffer.data(), int(buffer.size()))) > 0;)
            again.append(buffer.constData(), n);
        in.EndRead();
        EXPECT_EQ(Samples(again), reference);
    }
}

// The samples are decoded piece by piece as they are asked for: read in any
// piece size they are FFmpeg's samples, the length measured beforehand is what
// the reads deliver, and converting again starts over.
TEST_F(WaveConverterTest, DecodesInPiecesAsTheSamplesAreRead)
{
    const QString mp3 = MakeMp3Wav("mp3.wav", 2, 32000, 60000);
    const std::vector<qint16> reference = FFmpegDecode(mp3);
    QFile file(mp3);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    TWaveConverter converter;
    converter.ReadWavData(file);
    EXPECT_EQ(converter.DataSize(), ChunkBody(ReadFile(mp3), "data").size());
    EXPECT_EQ(qFromLittleEndian<quint16>(converter.SourceFormat.data()), 85);
    qToLittleEndian<quint16>(1, converter.TargetFormat.data());
    ASSERT_EQ(converter.FormatSuggest(), TWaveConverter::ResultOk);
    EXPECT_EQ(qFromLittleEndian<quint32>(converter.TargetFormat.data() + 8),
              128000u); // 32000 Hz stereo, 16 bits
    qint64 measured = 0;
    ASSERT_EQ(converter.MeasureData(&measured), TWaveConverter::ResultOk);
    EXPECT_EQ(measured, qint64(reference.size() * 2));

    for (const qint64 piece : {1, 4095, 100000}) {
        SCOPED_TRACE(piece);
        ASSERT_EQ(converter.ConvertData(), TWaveConverter::ResultOk);
        QByteArray decoded;
        QByteArray buffer(piece, '\0');
        for (qint64 n; (n = converter.ReadConverted(buffer.data(), piece)) > 0;)
            decoded.append(buffer.constData(), n);
        EXPECT_EQ(Samples(decoded), reference);
        EXPECT_EQ(converter.ReadConverted(buffer.data(), piece), 0);
    }
}

TEST_F(WaveConverterTest, TakesTheFormatFromTheDecoderNotFromTheHeader)
{
    QByteArray mp3 = ReadFile(MakeMp3Wav("mp3.wav", 2, 44100, 30000));
    // A header claiming 8000 Hz mono over 44100 Hz stereo MPEG frames.
    qToLittleEndian<quint16>(1, mp3.data() + 22);
    qToLittleEndian<quint32>(8000, mp3.data() + 24);
    WriteFile(Path("lying.wav"), mp3);
    TWaveIn in;
    in.SetFileName(Path("lying.wav"));
    ASSERT_TRUE(in.IsValid());
    EXPECT_EQ(in.GetChannels(), 2);
    EXPECT_EQ(in.GetSampleRate(), 44100);
    EXPECT_EQ(Samples(ReadAll(in)), FFmpegDecode(Path("mp3.wav")));
}

TEST_F(WaveConverterTest, RefusesCompressedFilesThatDecodeToNothing)
{
    const QByteArray mp3 = ReadFile(MakeMp3Wav("mp3.wav", 2, 44100, 20000));
    const QByteArray fmt = ChunkBody(mp3, "fmt ");
    const QByteArray data = ChunkBody(mp3, "data");
    ASSERT_EQ(fmt.size(), 30);
    ASSERT_GT(data.size(), 5000);
    const int dataAt = static_cast<int>(mp3.indexOf("data"));
    QByteArray garbage(50000, '\0');
    std::mt19937 random(11);
    for (char& byte : garbage)
        byte = static_cast<char>(random());
    QByteArray pcmAs85 = MakePcmWav(2, 44100, 16, Bytes(TestSignal(20000, 2)));
    qToLittleEndian<quint16>(85, pcmAs85.data() + 20);
    struct TCase {
        const char* Name;
        QByteArray File;
    };
    const TCase cases[] = {
        {"data chunk emptied", mp3.left(dataAt + 4) + Le32(0)},
        {"data chunk claiming more than the file holds, holding nothing",
         mp3.left(dataAt + 4) + Le32(0xFFFFFFF0)},
        {"garbage data", Riff(Chunk("fmt ", fmt) + Chunk("data", garbage))},
        {"PCM samples", pcmAs85},
        {"fmt chunk of 3 bytes", Riff(Chunk("fmt ", fmt.left(3)) + Chunk("data", data))},
        {"fmt chunk of 60000 bytes",
         Riff(Chunk("fmt ", fmt + QByteArray(60000 - 30, '\0')) + Chunk("data", data))},
        {"fmt chunk running past the end", QByteArray("RIFF") + Le32(60020) + "WAVEfmt " + Le32(60000) + fmt},
        {"an unknown codec",
         Riff(Chunk("fmt ", QByteArray(fmt).replace(0, 2, "\xff\x7f")) + Chunk("data", data))},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteFile(Path("bad.wav"), c.File);
        TWaveIn in;
        in.SetFileName(Path("bad.wav"));
        EXPECT_FALSE(in.IsValid());
        EXPECT_EQ(in.GetTotalTime(), 0);
        EXPECT_FALSE(BeginReadError(in).isEmpty());
        EXPECT_FALSE(in.Busy());

        QFile file(Path("bad.wav"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        TWaveConverter converter;
        converter.ReadWavData(file);
        EXPECT_LE(converter.DataSize(), c.File.size());
        qToLittleEndian<quint16>(1, converter.TargetFormat.data());
        qint64 measured = 0;
        const int suggested = converter.FormatSuggest();
        const int converted = converter.MeasureData(&measured);
        EXPECT_TRUE(suggested != 0 || converted != 0);
    }
    // The reason a compressed file is refused names it.
    WriteFile(Path("bad.wav"), cases[0].File);
    TWaveIn in;
    in.SetFileName(Path("bad.wav"));
    EXPECT_EQ(
        BeginReadError(in),
        QStringLiteral("The compressed sound in the file \"%1\" cannot be decoded.").arg(Path("bad.wav")));
    EXPECT_EQ(in.GetWavType(), wtACM);
}

TEST_F(WaveConverterTest, QueriesAnswerFromTheLastDecodingWhileTheFileIsUnchanged)
{
    const QString mp3 = MakeMp3Wav("mp3.wav", 1, 44100, 30000);
    const QByteArray original = ReadFile(mp3);
    TWaveIn in;
    in.SetFileName(mp3);
    ASSERT_TRUE(in.IsValid());
    const qint64 frames = in.GetTotalSamples();

    // Same size, same time, other contents: the queries do not decode again,
    // a read does.
    const QDateTime modified = QFileInfo(mp3).lastModified();
    QByteArray damaged = original;
    const int dataAt = static_cast<int>(damaged.indexOf("data")) + 8;
    damaged.replace(dataAt, damaged.size() - dataAt, QByteArray(damaged.size() - dataAt, '\x11'));
    WriteFile(mp3, damaged);
    {
        QFile file(mp3);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
    }
    EXPECT_TRUE(in.IsValid());
    EXPECT_EQ(in.GetTotalSamples(), frames);
    EXPECT_EQ(BeginReadError(in),
              QStringLiteral("The compressed sound in the file \"%1\" cannot be decoded.").arg(mp3));
    // That read found the file damaged; the queries know it now.
    EXPECT_FALSE(in.IsValid());

    // A file that changes is decoded again.
    WriteFile(mp3, original);
    {
        QFile file(mp3);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(modified.addSecs(5), QFileDevice::FileModificationTime));
    }
    EXPECT_TRUE(in.IsValid());
    EXPECT_EQ(in.GetTotalSamples(), frames);
}
