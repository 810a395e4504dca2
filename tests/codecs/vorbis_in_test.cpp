#include "audio/acs_exception.h"
#include "audio_test_support.h"
#include "codecs/vorbis_in.h"
#include "support/temp_home.h"
#include "vorbis_test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Ogg files of another encoder (oggenc), and oggdec's decoding of them.
class VorbisInTest : public ::testing::Test {
protected:
    QString Oggenc(const QString& name, qint64 frames, int channels, int rate = 44100, int serial = 1)
    {
        WriteSignalWav(Home.File(name + ".wav"), frames, channels, rate);
        RunProgram("oggenc", {"-Q", "-q", "2", "-s", QString::number(serial), "-o", Home.File(name + ".ogg"),
                              Home.File(name + ".wav")});
        return Home.File(name + ".ogg");
    }

    // Reads in chunks of the decoder's own buffer, so every read but the last
    // takes exactly one refill.
    static QByteArray Pull(TVorbisIn& in, qint64 bytes)
    {
        QByteArray out;
        std::vector<char> chunk(8192);
        while (out.size() < bytes) {
            const int count = in.FetchData(chunk.data(), 8192);
            if (count <= 0)
                break;
            out.append(chunk.data(), count);
        }
        return out;
    }

    TTempHome Home;
};

} // namespace

TEST_F(VorbisInTest, DecodesAnotherEncodersFilesExactlyAsOggdec)
{
    for (const auto& [channels, rate, frames] :
         {std::tuple{2, 44100, 5 * 44100 + 7}, {1, 22050, 3 * 22050}}) {
        SCOPED_TRACE(channels);
        const QString ogg = Oggenc("in", frames, channels, rate);
        TVorbisIn in;
        in.SetFileName(ogg);
        EXPECT_TRUE(in.IsValid());
        EXPECT_EQ(in.GetChannels(), channels);
        EXPECT_EQ(in.GetSampleRate(), rate);
        EXPECT_EQ(in.GetBitsPerSample(), 16);
        EXPECT_EQ(in.GetTotalSamples(), frames);
        EXPECT_EQ(in.GetTotalTime(), frames / rate);
        EXPECT_EQ(ReadAll(in), OggdecRaw(ogg));
    }
}

TEST_F(VorbisInTest, StartAndEndSampleCutTheDecode)
{
    const QString ogg = Oggenc("in", 4 * 44100, 2);
    const QByteArray full = OggdecRaw(ogg);
    TVorbisIn in;
    in.SetFileName(ogg);
    in.SetEndSample(44100);
    EXPECT_EQ(ReadAll(in), full.left(44100 * 4));
    EXPECT_EQ(in.Size(), 44100 * 4);
    in.SetStartSample(30000);
    EXPECT_EQ(ReadAll(in), full.mid(30000 * 4, 14100 * 4));
    in.SetEndSample(-1);
    EXPECT_EQ(ReadAll(in), full.mid(30000 * 4));
}

TEST_F(VorbisInTest, PendingJumpAndLoopMoveTheRead)
{
    const QString ogg = Oggenc("in", 4 * 44100, 2);
    const QByteArray full = OggdecRaw(ogg);
    TVorbisIn in;
    in.SetFileName(ogg);
    const struct {
        int Jump;
        qint64 Target; // from the middle
    } cases[] = {{-100, 0}, {100, full.size()}, {25, full.size() / 2 + full.size() / 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Jump);
        in.BeginRead();
        const qint64 half = Pull(in, full.size() / 2).size();
        ASSERT_EQ(half % 8192, 0);
        in.SetPendingJump(c.Jump);
        const QByteArray next = Pull(in, 8192);
        EXPECT_EQ(in.PendingJump(), 0);
        const qint64 target = std::min<qint64>(half + c.Jump * full.size() / 100, full.size());
        EXPECT_EQ(in.Position(), std::max<qint64>(target - target % 4, 0) + next.size());
        EXPECT_EQ(next, full.mid(std::max<qint64>(target - target % 4, 0), 8192));
        in.EndRead();
    }
    in.SetLoop(true);
    in.BeginRead();
    EXPECT_EQ(Pull(in, 3 * full.size()), full + full + full);
    in.EndRead();
}

TEST_F(VorbisInTest, WhatIsNotOggVorbisIsNotValid)
{
    WriteFile(Home.File("empty.ogg"), {});
    WriteFile(Home.File("wave.ogg"), MakePcmWav(2, 44100, 16, QByteArray(4000, '\1')));
    WriteSignalWav(Home.File("src.wav"), 44100, 2);
    for (const char* codec : {"flac", "libopus"}) // Ogg files holding other codecs
        RunProgram("ffmpeg", {"-nostdin", "-v", "error", "-y", "-i", Home.File("src.wav"), "-c:a", codec,
                              "-f", "ogg", Home.File(QString("%1.ogg").arg(codec))});
    WriteFile(Home.File("headers-cut.ogg"), ReadFile(Oggenc("good", 44100, 2)).left(3000));

    for (const char* name :
         {"empty.ogg", "wave.ogg", "flac.ogg", "libopus.ogg", "headers-cut.ogg", "missing.ogg"}) {
        SCOPED_TRACE(name);
        TVorbisIn in;
        in.SetFileName(Home.File(name));
        EXPECT_FALSE(in.IsValid());
        EXPECT_EQ(in.GetTotalTime(), 0);
        try {
            in.BeginRead();
            ADD_FAILURE() << "BeginRead accepted it";
        } catch (const EACSException& e) {
            EXPECT_TRUE(e.Message().contains(Home.File(name))) << e.Message().toStdString();
        }
        char byte;
        EXPECT_THROW(in.FetchData(&byte, 1), EACSException);
    }
}

TEST_F(VorbisInTest, DamagedFilesAreReadToACleanEnd)
{
    const QString ogg = Oggenc("in", 4 * 44100, 2);
    const QByteArray full = OggdecRaw(ogg);
    const QByteArray bytes = ReadFile(ogg);
    const std::vector<TOggPage> pages = ReadOggPages(bytes);
    ASSERT_GT(pages.size(), 8u);
    const TOggPage& middle = pages[pages.size() / 2];
    // Lacing values and a segment count that lie about the page's length, with
    // the old checksum (the page is dropped) or a fitting one (it swallows the
    // next page's start).
    QByteArray lacing = bytes;
    lacing[middle.Offset + 27] = static_cast<char>(middle.Lacing[0] == 255 ? 254 : 255);
    QByteArray lacingChecked = lacing;
    FixPageChecksum(lacingChecked, middle.Offset);
    QByteArray count = bytes;
    count[middle.Offset + 26] = static_cast<char>(255);
    FixPageChecksum(count, middle.Offset);

    for (const QByteArray& file : {bytes.left(bytes.size() * 6 / 10), lacing, lacingChecked, count}) {
        WriteFile(Home.File("damaged.ogg"), file);
        TVorbisIn in;
        in.SetFileName(Home.File("damaged.ogg"));
        ASSERT_TRUE(in.IsValid());
        const QByteArray decoded = ReadAll(in);
        EXPECT_LE(decoded.size(), in.Size());
        EXPECT_EQ(decoded.size() % 4, 0);
        // What comes before the damage is intact.
        EXPECT_GT(decoded.size(), full.size() / 3);
        EXPECT_EQ(decoded.left(full.size() / 3), full.left(full.size() / 3));
    }
}

TEST_F(VorbisInTest, AChainEndsBeforeALinkInAnotherFormat)
{
    const QByteArray stereo = ReadFile(Oggenc("stereo", 3 * 44100, 2, 44100, 1));
    const QByteArray again = ReadFile(Oggenc("again", 3 * 44100, 2, 44100, 2));
    const QByteArray mono = ReadFile(Oggenc("mono", 3 * 44100, 1, 44100, 3));
    WriteFile(Home.File("chain.ogg"), stereo + again + mono);
    TVorbisIn in;
    in.SetFileName(Home.File("chain.ogg"));
    EXPECT_EQ(in.GetChannels(), 2);
    EXPECT_EQ(in.GetTotalSamples(), 2 * 3 * 44100);
    EXPECT_EQ(ReadAll(in), OggdecRaw(Home.File("stereo.ogg")) + OggdecRaw(Home.File("again.ogg")));
}
