#include "codec_fixtures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtEndian>

#include <cmath>
#include <gtest/gtest.h>

namespace {

void PutLe16(QByteArray& out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void PutLe32(QByteArray& out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

} // namespace

void WriteToneWav(const QString& path, qint64 frames, int sampleRate, int channels)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    const quint32 dataSize = static_cast<quint32>(frames * channels * 2);
    QByteArray header("RIFF");
    PutLe32(header, 36 + dataSize);
    header += "WAVEfmt ";
    PutLe32(header, 16);
    PutLe16(header, 1);
    PutLe16(header, static_cast<quint16>(channels));
    PutLe32(header, static_cast<quint32>(sampleRate));
    PutLe32(header, static_cast<quint32>(sampleRate * channels * 2));
    PutLe16(header, static_cast<quint16>(channels * 2));
    PutLe16(header, 16);
    header += "data";
    PutLe32(header, dataSize);
    ASSERT_EQ(file.write(header), header.size());

    constexpr qint64 blockFrames = 65536;
    QByteArray block;
    for (qint64 start = 0; start < frames; start += blockFrames) {
        block.clear();
        const qint64 end = std::min(frames, start + blockFrames);
        for (qint64 i = start; i < end; ++i) {
            for (int c = 0; c < channels; ++c) {
                const double frequency = 440.0 * (c + 1);
                const auto sample =
                    static_cast<qint16>(std::lround(12000 * std::sin(2 * M_PI * frequency * i / sampleRate)));
                PutLe16(block, static_cast<quint16>(sample));
            }
        }
        ASSERT_EQ(file.write(block), block.size());
    }
}

TWavFacts ReadWavFacts(const QString& path)
{
    TWavFacts facts;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return facts;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return facts;
    qsizetype at = 12;
    bool haveFormat = false;
    while (at + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(at, 4);
        const quint32 size = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
        const qsizetype body = at + 8;
        if (id == "fmt " && body + 16 <= bytes.size()) {
            facts.Channels = qFromLittleEndian<quint16>(bytes.constData() + body + 2);
            facts.SampleRate = static_cast<int>(qFromLittleEndian<quint32>(bytes.constData() + body + 4));
            facts.BitsPerSample = qFromLittleEndian<quint16>(bytes.constData() + body + 14);
            haveFormat = facts.Channels > 0 && facts.BitsPerSample > 0;
        } else if (id == "data" && haveFormat) {
            const qint64 available = std::min<qint64>(size, bytes.size() - body);
            facts.Frames = available / (facts.Channels * facts.BitsPerSample / 8);
            facts.Valid = true;
            return facts;
        }
        at = body + size + (size & 1);
    }
    return facts;
}

bool TReportReceiver::event(QEvent* e)
{
    if (e->type() != WM_PROCESSINFO)
        return QObject::event(e);
    const auto* message = static_cast<TMessageEvent*>(e);
    if (message->Info())
        Reports.push_back(*message->Info());
    return true;
}

std::vector<int> TReportReceiver::ProgressPercents() const
{
    std::vector<int> percents;
    for (const TProcessInfo& info : Reports) {
        if (info.Percent <= 100)
            percents.push_back(info.Percent);
    }
    return percents;
}

int TReportReceiver::CompletionCount(int completionPercent) const
{
    int count = 0;
    for (const TProcessInfo& info : Reports) {
        if (info.Percent == completionPercent)
            ++count;
    }
    return count;
}

bool TReportReceiver::WaitForCompletion(int completionPercent, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (CompletionCount(completionPercent) == 0 && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return CompletionCount(completionPercent) > 0;
}

void TReportReceiver::Pump(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
}

TRunResult RunProgram(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    TRunResult result;
    if (!process.waitForStarted() || !process.waitForFinished(120000))
        return result;
    result.Output = process.readAll();
    result.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

QString DebianPython()
{
    return QStringLiteral("/usr/bin/python3");
}

QByteArray Id3Block(const QByteArray& title, const QByteArray& comment30, uint8_t genre,
                    const QByteArray& artist, const QByteArray& album, const QByteArray& year)
{
    auto field = [](const QByteArray& text, int size) { return text.leftJustified(size, '\0', true); };
    QByteArray block = "TAG" + field(title, 30) + field(artist, 30) + field(album, 30) + field(year, 4) +
                       field(comment30, 30);
    block += static_cast<char>(genre);
    return block;
}

QJsonObject MutagenFields(const QString& path)
{
    const QString script = R"(
import json, sys
from mutagen.id3 import ParseID3v1
with open(sys.argv[1], 'rb') as f:
    f.seek(-128, 2)
    frames = ParseID3v1(f.read(128))
print(json.dumps({k: str(v) for k, v in (frames or {}).items()}))
)";
    const TRunResult run = RunProgram(DebianPython(), {"-c", script, path});
    EXPECT_EQ(run.ExitCode, 0) << run.Output.toStdString();
    return QJsonDocument::fromJson(run.Output).object();
}

QString TestDataFile(const QString& name)
{
    return QStringLiteral(VELBROOK_SOURCE_DIR "/tests/codecs/data/") + name;
}

QString WmaEncoderProgram()
{
    return QStringLiteral(VELBROOK_WMAENC);
}

TWmaEncoderOnPath::TWmaEncoderOnPath() : Previous(qgetenv("PATH"))
{
    const QByteArray folder = QFile::encodeName(QFileInfo(WmaEncoderProgram()).absolutePath());
    qputenv("PATH", Previous.isEmpty() ? folder : folder + ':' + Previous);
}

TWmaEncoderOnPath::~TWmaEncoderOnPath()
{
    qputenv("PATH", Previous);
}

TProbe ProbeAudio(const QString& path)
{
    TProbe probe;
    const TRunResult run = RunProgram("ffprobe", {"-v", "error", "-print_format", "json", "-show_format",
                                                  "-show_streams", "-select_streams", "a:0", path});
    if (run.ExitCode != 0)
        return probe;
    const QJsonObject root = QJsonDocument::fromJson(run.Output).object();
    const QJsonArray streams = root.value("streams").toArray();
    if (streams.isEmpty())
        return probe;
    const QJsonObject stream = streams.first().toObject();
    const QJsonObject format = root.value("format").toObject();
    const QJsonObject tags = format.value("tags").toObject();
    probe.Valid = true;
    probe.FormatName = format.value("format_name").toString();
    probe.CodecName = stream.value("codec_name").toString();
    probe.SampleRate = stream.value("sample_rate").toString().toInt();
    probe.Channels = stream.value("channels").toInt();
    bool haveDuration = false;
    const double duration = format.value("duration").toString().toDouble(&haveDuration);
    probe.Duration = haveDuration ? duration : -1;
    probe.Artist = tags.value("artist").toString();
    probe.Comment = tags.value("comment").toString();
    return probe;
}

std::vector<qint16> DecodeWithFfmpeg(const QString& path, const QString& rawPath)
{
    std::vector<qint16> samples;
    const TRunResult run = RunProgram(
        "ffmpeg", {"-nostdin", "-v", "error", "-y", "-i", path, "-f", "s16le", "-c:a", "pcm_s16le", rawPath});
    QFile file(rawPath);
    if (run.ExitCode != 0 || !file.open(QIODevice::ReadOnly))
        return samples;
    const QByteArray bytes = file.readAll();
    samples.resize(static_cast<size_t>(bytes.size() / 2));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = qFromLittleEndian<qint16>(bytes.constData() + i * 2);
    return samples;
}

double ChannelRms(const std::vector<qint16>& samples, int channels, int channel)
{
    double sum = 0;
    size_t count = 0;
    for (size_t i = static_cast<size_t>(channel); i < samples.size(); i += static_cast<size_t>(channels)) {
        sum += static_cast<double>(samples[i]) * samples[i];
        ++count;
    }
    return count == 0 ? 0 : std::sqrt(sum / static_cast<double>(count));
}
