#include "audio/wave_in.h"
#include "audio_test_support.h"
#include "codecs/vorbis_in.h"
#include "codecs/vorbis_out.h"
#include "core/settings.h"
#include "support/small_disk.h"
#include "support/temp_home.h"
#include "vorbis_test_support.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

class VorbisOutTest : public ::testing::Test {
protected:
    QString Wav(const QString& name, qint64 frames, int channels, int bits = 16)
    {
        WriteSignalWav(Home.File(name), frames, channels, 44100, bits);
        return Home.File(name);
    }

    static void ExpectDone(const TRunEnd& end)
    {
        EXPECT_EQ(end.Done, 1);
        EXPECT_EQ(end.Errors, 0) << end.Error.toStdString();
    }

    // Serial numbers of the logical streams, as ogginfo reports them.
    static QStringList Serials(const QString& report)
    {
        QStringList serials;
        const QRegularExpression pattern("New logical stream \\(#\\d+, serial: ([0-9a-f]+)\\)");
        for (const QRegularExpressionMatch& m : pattern.globalMatch(report))
            serials.append(m.captured(1));
        return serials;
    }

    TTempHome Home;
};

} // namespace

TEST_F(VorbisOutTest, RoundTripsThroughOggdecAndLibvorbisfile)
{
    const struct {
        int Channels;
        int Bits;
    } cases[] = {{2, 16}, {1, 16}, {2, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Channels * 100 + c.Bits);
        const qint64 frames = 3 * 44100 + 123;
        const QString ogg = Home.File("out.ogg");
        TWaveIn in;
        in.SetFileName(Wav("in.wav", frames, c.Channels, c.Bits));
        TVorbisOut out;
        out.SetFileName(ogg);
        out.AssignInput(&in);
        out.SetComments({"TITLE=Überlied", "ARTIST=A=B", "no field", "=nameless"});
        ExpectDone(RunToEnd(out));
        EXPECT_TRUE(out.Comments().isEmpty());

        const QString report = OggInfo(ogg);
        EXPECT_TRUE(report.contains(QString("Channels: %1\nRate: 44100").arg(c.Channels)))
            << report.toStdString();
        EXPECT_EQ(Serials(report), QStringList{"00000000"});
        EXPECT_TRUE(report.contains("TITLE=Überlied") && report.contains("ARTIST=A=B"));
        EXPECT_FALSE(report.contains("no field") || report.contains("nameless"));
        // The exact length comes back, and the input's sound.
        const QByteArray decoded = OggdecRaw(ogg);
        EXPECT_EQ(decoded.size(), frames * c.Channels * 2);
        EXPECT_GT(Correlation(Samples(decoded), TestSignal(frames, c.Channels)), 0.9);
        // Our reader decodes through libvorbisfile exactly as oggdec does.
        TVorbisIn back;
        back.SetFileName(ogg);
        EXPECT_EQ(back.GetTotalSamples(), frames);
        EXPECT_EQ(ReadAll(back), decoded);
    }
}

TEST_F(VorbisOutTest, FileSizeGrowsWithQuality)
{
    const QString wav = Wav("in.wav", 5 * 44100, 2);
    ExpectDone(EncodeWav(wav, Home.File("low.ogg"), [](TVorbisOut& out) { out.SetCompression(0.2f); }));
    ExpectDone(EncodeWav(wav, Home.File("high.ogg"), [](TVorbisOut& out) { out.SetCompression(0.9f); }));
    OggInfo(Home.File("high.ogg"));
    EXPECT_GT(QFile(Home.File("high.ogg")).size(), QFile(Home.File("low.ogg")).size() * 3 / 2);
    EXPECT_EQ(OggdecRaw(Home.File("high.ogg")).size(), 5 * 44100 * 4);
}

TEST_F(VorbisOutTest, ManagedModeWritesTheBitRatesOrFailsNamingTheRefusedOne)
{
    const QString stereo = Wav("stereo.wav", 2 * 44100, 2);
    // Only the nominal rate chosen: maximum and minimum are the nominal too.
    ExpectDone(EncodeWav(stereo, Home.File("cbr.ogg"),
                         [](TVorbisOut& out) { out.SetDesiredNominalBitrate(br128); }));
    const QString report = OggInfo(Home.File("cbr.ogg"));
    EXPECT_TRUE(report.contains("Nominal bitrate: 128.000000 kb/s\nUpper bitrate: 128.000000 kb/s\n"
                                "Lower bitrate: 128.000000 kb/s"))
        << report.toStdString();
    EXPECT_EQ(OggdecRaw(Home.File("cbr.ogg")).size(), 2 * 44100 * 4);

    // A mode the encoder has no setting for fails before the file is touched.
    const QString mono = Wav("mono.wav", 44100, 1);
    WriteFile(Home.File("old.ogg"), "keep me");
    for (TVorbisBitRate rate : {br320, br499}) {
        for (const QString& target : {Home.File("old.ogg"), Home.File("new.ogg")}) {
            const TRunEnd end =
                EncodeWav(mono, target, [&](TVorbisOut& out) { out.SetDesiredNominalBitrate(rate); });
            EXPECT_EQ(end.Done, 0);
            EXPECT_TRUE(end.Error.contains(
                QString("nominal bit rate of %1 kbit/s").arg(VorbisBitsPerSecond(rate) / 1000)))
                << end.Error.toStdString();
        }
    }
    EXPECT_EQ(ReadFile(Home.File("old.ogg")), "keep me");
    EXPECT_FALSE(QFile::exists(Home.File("new.ogg")));
}

TEST_F(VorbisOutTest, HeadersStandOnPagesOfTheirOwnAndAnEmptyInputGivesAWholeFile)
{
    TToneSource silence(0, 2);
    TVorbisOut out;
    out.SetFileName(Home.File("empty.ogg"));
    out.AssignInput(&silence);
    ExpectDone(RunToEnd(out));
    ExpectDone(EncodeWav(Wav("in.wav", 44100, 2), Home.File("second.ogg")));
    EXPECT_EQ(OggdecRaw(Home.File("empty.ogg")).size(), 0);

    for (const QString& name : {QString("empty.ogg"), QString("second.ogg")}) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray file = ReadFile(Home.File(name));
        const std::vector<TOggPage> pages = ReadOggPages(file);
        ASSERT_GE(pages.size(), 3u);
        EXPECT_EQ(pages.back().Offset + pages.back().Length, file.size()) << "bytes outside whole pages";
        // The identification header alone on the first page, then the other two.
        EXPECT_EQ(pages[0].Flags, 2);
        EXPECT_EQ(pages[0].PacketsEnded(), 1);
        std::size_t next = 1;
        for (int headers = 1; headers < 3 && next < pages.size(); ++next) {
            EXPECT_EQ(pages[next].Granule, 0);
            headers += pages[next].PacketsEnded();
        }
        // Audio starts on a fresh page; the last page ends the stream.
        ASSERT_LT(next, pages.size());
        EXPECT_EQ(pages[next].Flags & 1, 0);
        EXPECT_EQ(pages.back().Flags & 4, 4);
        EXPECT_EQ(pages.back().Granule, name == "empty.ogg" ? 0 : 44100);
    }
}

TEST_F(VorbisOutTest, AppendingChainsAStreamWithASerialTheFileDoesNotUse)
{
    // Links of a few seconds: libvorbisfile overlooks a link of a chain that
    // has only one audio page.
    const QString wav = Wav("in.wav", 2 * 44100 + 17, 2);
    const auto append = [](TVorbisOut& out) { out.SetFileMode(foAppend); };
    ExpectDone(EncodeWav(wav, Home.File("six.ogg"), [](TVorbisOut& out) { out.SetSerial(6); }));
    ExpectDone(EncodeWav(wav, Home.File("five.ogg"), [](TVorbisOut& out) { out.SetSerial(5); }));
    const QByteArray six = ReadFile(Home.File("six.ogg"));
    const QString ogg = Home.File("chain.ogg");
    WriteFile(ogg, six);
    ExpectDone(EncodeWav(wav, ogg, append));
    WriteFile(ogg, ReadFile(ogg) + ReadFile(Home.File("five.ogg")));
    ExpectDone(EncodeWav(wav, ogg, append));

    EXPECT_TRUE(ReadFile(ogg).startsWith(six));
    EXPECT_EQ(Serials(OggInfo(ogg)), (QStringList{"00000006", "00000007", "00000005", "00000008"}));
    const QByteArray decoded = OggdecRaw(ogg);
    const QByteArray once = OggdecRaw(Home.File("six.ogg"));
    EXPECT_EQ(decoded, once + once + once + once);
    TVorbisIn in;
    in.SetFileName(ogg);
    EXPECT_EQ(ReadAll(in), decoded);
}

TEST_F(VorbisOutTest, AppendingRefusesAFileItWouldSpoilAndLeavesItAlone)
{
    const QString stereo = Wav("stereo.wav", 20000, 2);
    ExpectDone(EncodeWav(stereo, Home.File("stereo.ogg")));
    const QByteArray whole = ReadFile(Home.File("stereo.ogg"));
    WriteFile(Home.File("cut.ogg"), whole.left(whole.size() - 100));
    const struct {
        QString Target;
        QString Source;
        const char* Error;
    } cases[] = {
        {stereo, stereo, "Cannot append data to this .ogg file."}, // a WAV file
        {Home.File("cut.ogg"), stereo, "Cannot append data to this .ogg file."},
        {Home.File("stereo.ogg"), Wav("mono.wav", 20000, 1), "Cannot append data in different audio format."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Target.toStdString());
        const QByteArray before = ReadFile(c.Target);
        const TRunEnd end = EncodeWav(c.Source, c.Target, [](TVorbisOut& out) { out.SetFileMode(foAppend); });
        EXPECT_EQ(end.Done, 0);
        EXPECT_EQ(end.Error, c.Error);
        EXPECT_EQ(ReadFile(c.Target), before);
    }
    // A disk that takes no more: the system's reason, not "Unknown error".
    TRunEnd full;
    {
        TFileSizeLimit limit(2000);
        full = EncodeWav(stereo, Home.File("full.ogg"));
    }
    EXPECT_EQ(full.Done, 0);
    EXPECT_TRUE(full.Error.startsWith("Cannot write to the file \"" + Home.File("full.ogg") + "\""))
        << full.Error.toStdString();
    EXPECT_TRUE(full.Error.endsWith("File too large")) << full.Error.toStdString();
}

TEST_F(VorbisOutTest, AStoppedRunLeavesAShorterWholeFile)
{
    TToneSource tone(20 * 44100, 2);
    tone.ReadDelayMs = 5;
    TVorbisOut out;
    out.SetFileName(Home.File("stopped.ogg"));
    out.AssignInput(&tone);
    TSinkEvents events(out);
    out.Run();
    ASSERT_TRUE(events.WaitFor([&] { return tone.Position() > 100000; }));
    out.Stop();
    ASSERT_TRUE(events.WaitForEnd());
    ASSERT_TRUE(WaitUntil([&] { return out.Status() == osIdle; }));
    EXPECT_EQ(events.Done(), 1);
    // ogginfo would warn about a stream without its end-of-stream page.
    OggInfo(Home.File("stopped.ogg"));
    const qint64 decoded = OggdecRaw(Home.File("stopped.ogg")).size();
    EXPECT_GT(decoded, 0);
    EXPECT_LE(decoded, tone.Position());
}

TEST(VorbisBitRates, SettersAndOggOptionsKeepNominalBetweenMinimumAndMaximum)
{
    TVorbisOut out;
    out.SetDesiredMaximumBitrate(br192); // no maximum without a nominal rate
    EXPECT_EQ(out.DesiredMaximumBitrate(), brAutoSelect);
    out.SetDesiredNominalBitrate(br128); // which raises it
    EXPECT_EQ(out.DesiredMaximumBitrate(), br128);
    out.SetDesiredMaximumBitrate(br96);
    out.SetMinimumBitrate(br160);
    EXPECT_EQ(out.DesiredMaximumBitrate(), br128);
    EXPECT_EQ(out.MinimumBitrate(), brAutoSelect);
    out.SetDesiredMaximumBitrate(br256);
    out.SetMinimumBitrate(br96);
    out.SetDesiredNominalBitrate(br64); // pulls the minimum down
    EXPECT_EQ(out.MinimumBitrate(), br64);
    EXPECT_EQ(out.DesiredMaximumBitrate(), br256);
    out.SetDesiredNominalBitrate(brAutoSelect);
    EXPECT_EQ(out.DesiredMaximumBitrate(), brAutoSelect);
    EXPECT_EQ(out.MinimumBitrate(), brAutoSelect);

    // A fresh encoder gets the chosen maximum on its first file too.
    TVorbisOut fresh;
    TAppSettings settings;
    settings.OggUseQuality = false;
    settings.OggNominalBitRate = br128;
    settings.OggMaxBitRate = br192;
    settings.OggMinBitRate = 99; // outside the list: automatic
    ConfigureVorbis(fresh, settings);
    EXPECT_EQ(fresh.DesiredMaximumBitrate(), br192);
    EXPECT_EQ(fresh.MinimumBitrate(), brAutoSelect);
    EXPECT_FLOAT_EQ(fresh.Compression(), 0.2f);
    settings.OggUseQuality = true;
    for (int position : {30, 100}) {
        settings.OggQuality = position;
        ConfigureVorbis(fresh, settings);
        EXPECT_FLOAT_EQ(fresh.Compression(), (position - 10) / 100.0f);
        EXPECT_EQ(fresh.DesiredNominalBitrate(), brAutoSelect);
        EXPECT_EQ(fresh.DesiredMaximumBitrate(), brAutoSelect);
    }
}
