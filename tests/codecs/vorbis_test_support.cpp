#include "vorbis_test_support.h"

#include "audio/wave_in.h"
#include "audio_test_support.h"
#include "codecs/vorbis_library.h"
#include "codecs/vorbis_out.h"

#include <QtEndian>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

class TVorbisEnvironment final : public ::testing::Environment {
public:
    void SetUp() override { Libraries = std::make_unique<TVorbisLibraries>(); }
    void TearDown() override { Libraries.reset(); }

private:
    std::unique_ptr<TVorbisLibraries> Libraries;
};

[[maybe_unused]] const auto* const Environment = ::testing::AddGlobalTestEnvironment(new TVorbisEnvironment);

} // namespace

void WriteSignalWav(const QString& path, qint64 frames, int channels, int rate, int bits)
{
    QByteArray data = Bytes(TestSignal(frames, channels, rate));
    if (bits == 8) {
        QByteArray bytes;
        for (qsizetype i = 1; i < data.size(); i += 2)
            bytes.append(static_cast<char>(data[i] + 128)); // the high byte, made unsigned
        data = bytes;
    }
    WriteFile(path, MakePcmWav(channels, rate, bits, data));
}

TRunEnd RunToEnd(TACSOutput& sink)
{
    TSinkEvents events(sink);
    sink.Run();
    EXPECT_TRUE(events.WaitForEnd());
    EXPECT_TRUE(WaitUntil([&] { return sink.Status() == osIdle; }));
    return {events.Done(), events.Errors(), events.LastError()};
}

TRunEnd EncodeWav(const QString& wav, const QString& ogg, const std::function<void(TVorbisOut&)>& configure)
{
    TWaveIn in;
    in.SetFileName(wav);
    TVorbisOut out;
    out.SetFileName(ogg);
    out.AssignInput(&in);
    if (configure)
        configure(out);
    return RunToEnd(out);
}

QByteArray OggdecRaw(const QString& ogg)
{
    return RunProgram("oggdec", {"-Q", "-R", "-b", "16", "-e", "0", "-s", "1", "-o", "-", ogg});
}

QString OggInfo(const QString& ogg)
{
    const QString report = QString::fromUtf8(RunProgram("ogginfo", {ogg}));
    EXPECT_FALSE(report.contains("WARNING")) << report.toStdString();
    return report;
}

int TOggPage::PacketsEnded() const
{
    return static_cast<int>(std::count_if(Lacing.begin(), Lacing.end(), [](int v) { return v < 255; }));
}

TOggPage PageAt(const QByteArray& file, qint64 offset)
{
    const char* p = file.constData() + offset;
    TOggPage page{offset, static_cast<quint8>(p[5]), qFromLittleEndian<qint64>(p + 6), {}, 0};
    const int segments = static_cast<quint8>(p[26]);
    page.Length = 27 + segments;
    for (int i = 0; i < segments && offset + 27 + i < file.size(); ++i) {
        page.Lacing.append(static_cast<quint8>(p[27 + i]));
        page.Length += page.Lacing.back();
    }
    return page;
}

std::vector<TOggPage> ReadOggPages(const QByteArray& file)
{
    std::vector<TOggPage> pages;
    qint64 at = 0;
    while (at + 27 <= file.size() && file.mid(at, 4) == "OggS") {
        const TOggPage page = PageAt(file, at);
        if (at + page.Length > file.size())
            break;
        pages.push_back(page);
        at += page.Length;
    }
    return pages;
}

void FixPageChecksum(QByteArray& file, qint64 offset)
{
    const qint64 length = std::min<qint64>(PageAt(file, offset).Length, file.size() - offset);
    char* p = file.data() + offset;
    qToLittleEndian<quint32>(0, p + 22);
    quint32 crc = 0;
    for (qint64 i = 0; i < length; ++i) {
        crc ^= static_cast<quint32>(static_cast<quint8>(p[i])) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    qToLittleEndian<quint32>(crc, p + 22);
}

double Correlation(const std::vector<qint16>& a, const std::vector<qint16>& b)
{
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        ab += static_cast<double>(a[i]) * b[i];
        aa += static_cast<double>(a[i]) * a[i];
        bb += static_cast<double>(b[i]) * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}
