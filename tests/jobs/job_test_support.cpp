#include "job_test_support.h"

#include "cd/cd_rip_thread.h"
#include "codecs/vorbis_library.h"
#include "core/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The Ogg and Vorbis libraries are loaded once for the program, as main does.
class TVorbisEnvironment final : public ::testing::Environment {
public:
    void SetUp() override { Libraries = std::make_unique<TVorbisLibraries>(); }
    void TearDown() override { Libraries.reset(); }

private:
    std::unique_ptr<TVorbisLibraries> Libraries;
};

[[maybe_unused]] const auto* const Environment = ::testing::AddGlobalTestEnvironment(new TVorbisEnvironment);

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

TToolRun RunTool(const QString& program, const QStringList& arguments)
{
    std::vector<QByteArray> args{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        args.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& argument : args)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    TToolRun run;
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return run;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return run;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        const int in = open("/dev/null", O_RDONLY);
        if (in >= 0)
            dup2(in, STDIN_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int openChannels = 2;
    std::vector<char> buffer(65536);
    while (openChannels > 0 && poll(fds, 2, 120000) > 0) {
        for (pollfd& fd : fds) {
            if (fd.fd < 0 || fd.revents == 0)
                continue;
            const ssize_t n = read(fd.fd, buffer.data(), buffer.size());
            if (n > 0) {
                (fd.fd == out[0] ? run.Output : run.Errors).append(buffer.data(), n);
            } else {
                close(fd.fd);
                fd.fd = -1;
                --openChannels;
            }
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0)
            close(fd.fd);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.ExitCode = WEXITSTATUS(status);
    return run;
}

TProbe ProbeAudio(const QString& path)
{
    TProbe probe;
    const TToolRun run = RunTool("ffprobe", {"-v", "error", "-print_format", "json", "-show_format",
                                             "-show_streams", "-select_streams", "a:0", path});
    if (run.ExitCode != 0)
        return probe;
    const QJsonObject root = QJsonDocument::fromJson(run.Output).object();
    const QJsonArray streams = root.value("streams").toArray();
    if (streams.isEmpty())
        return probe;
    const QJsonObject stream = streams.first().toObject();
    probe.Valid = true;
    probe.CodecName = stream.value("codec_name").toString();
    probe.SampleRate = stream.value("sample_rate").toString().toInt();
    probe.Channels = stream.value("channels").toInt();
    bool haveDuration = false;
    const double duration =
        root.value("format").toObject().value("duration").toString().toDouble(&haveDuration);
    probe.Duration = haveDuration ? duration : -1;
    return probe;
}

std::vector<qint16> DecodeWithFfmpeg(const QString& path)
{
    std::vector<qint16> samples;
    const TToolRun run =
        RunTool("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-f", "s16le", "-c:a", "pcm_s16le", "-"});
    if (run.ExitCode != 0)
        return samples;
    samples.resize(static_cast<size_t>(run.Output.size() / 2));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = qFromLittleEndian<qint16>(run.Output.constData() + i * 2);
    return samples;
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
            // The header must not promise more than the file holds.
            if (body + size > bytes.size())
                return facts;
            facts.Frames = size / (facts.Channels * facts.BitsPerSample / 8);
            facts.Valid = true;
            return facts;
        }
        at = body + size + (size & 1);
    }
    return facts;
}

void PumpEvents(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
}

TWmaEncoderOnPath::TWmaEncoderOnPath() : Previous(qgetenv("PATH"))
{
    const QByteArray folder = QFile::encodeName(QFileInfo(QStringLiteral(VELBROOK_WMAENC)).absolutePath());
    qputenv("PATH", Previous.isEmpty() ? folder : folder + ':' + Previous);
}

TWmaEncoderOnPath::~TWmaEncoderOnPath()
{
    qputenv("PATH", Previous);
}

void TRecordingView::SetCaption(const QString& text)
{
    Captions.append(text);
}

void TRecordingView::SetGroupTitle(const QString& text)
{
    GroupTitles.append(text);
    if (OnGroupTitle)
        OnGroupTitle(text);
}

void TRecordingView::SetElapsedText(const QString& text)
{
    Elapsed = text;
}

void TRecordingView::SetEstimatedText(const QString& text)
{
    Estimated = text;
}

void TRecordingView::SetGauge(int percent)
{
    GaugeValue = percent;
    Gauges.push_back(percent);
    if (OnGauge)
        OnGauge(percent);
}

void TRecordingView::CloseView()
{
    ++CloseCount;
    if (OnClose)
        OnClose();
}

void TRecordingView::ShowInitializing(const QString& text)
{
    InitializingTexts.append(text);
    InitializingVisible = true;
}

TJobFixture::TJobFixture()
{
    Engine = std::make_unique<TJobEngine>(View, Prompter, Mp3, Wma);
    QObject::connect(
        Engine.get(), &TJobEngine::ItemEnded,
        [this](int index, TJobEngine::TItemOutcome outcome) { Ended.emplace_back(index, outcome); });
    QObject::connect(Engine.get(), &TJobEngine::Standing,
                     [this](const QString& reason) { StandingReasons.append(reason); });
}

TJobFixture::~TJobFixture()
{
    Engine.reset();
    // Leftover reports and the relays of finished extraction threads.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

CDHandle TJobFixture::UseDisc(const std::vector<double>& seconds)
{
    TImageSpec spec;
    int voice = 0;
    for (const double s : seconds)
        spec.Tracks.push_back(
            {static_cast<qint64>(std::lround(s * CDFramesPerSecond)), 0, false, 1, voice++});
    Cd.UseImage("disc.cue", spec);
    DiscData = Cd.Home.File("disc.bin");
    Drive = Cd.Open();
    EXPECT_NE(Drive, 0u);
    return Drive;
}

bool TJobFixture::Pump(const std::function<bool()>& predicate, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (View.CloseCount == 0 && !(predicate && predicate()) && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return View.CloseCount > 0 || (predicate && predicate());
}

bool TJobFixture::Run(int kind, const QStringList& items, const std::function<bool()>& stopWhen)
{
    Engine->Start(kind, Drive, items);
    if (!stopWhen)
        return Pump({});
    const bool reached = Pump(stopWhen);
    if (View.CloseCount == 0)
        Engine->Stop();
    return reached;
}

QString TJobFixture::Output(const QString& name) const
{
    return QDir(AppSettings().OutputFolder).filePath(name);
}

std::vector<TJobFixture::TOutcome> TJobFixture::Outcomes() const
{
    std::vector<TOutcome> outcomes;
    for (const auto& [index, outcome] : Ended) {
        EXPECT_EQ(index, static_cast<int>(outcomes.size())) << "items ended out of order";
        outcomes.push_back(outcome);
    }
    return outcomes;
}

void WriteTone(const QString& path, double seconds, int rate, int channels, int bits)
{
    const auto frames = static_cast<qint64>(std::lround(seconds * rate));
    const int sampleBytes = bits / 8;
    QByteArray data;
    data.reserve(static_cast<qsizetype>(frames * channels * sampleBytes));
    for (qint64 i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double value = 12000 * std::sin(2 * M_PI * 440.0 * (c + 1) * static_cast<double>(i) / rate);
            const auto sample = static_cast<qint16>(std::lround(value));
            if (bits == 8)
                data.append(static_cast<char>((sample >> 8) + 128));
            else
                PutLe16(data, static_cast<quint16>(sample));
        }
    }
    QByteArray file("RIFF");
    PutLe32(file, static_cast<quint32>(36 + data.size()));
    file += "WAVEfmt ";
    PutLe32(file, 16);
    PutLe16(file, 1);
    PutLe16(file, static_cast<quint16>(channels));
    PutLe32(file, static_cast<quint32>(rate));
    PutLe32(file, static_cast<quint32>(rate * channels * sampleBytes));
    PutLe16(file, static_cast<quint16>(channels * sampleBytes));
    PutLe16(file, static_cast<quint16>(bits));
    file += "data";
    PutLe32(file, static_cast<quint32>(data.size()));
    file += data;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(path);
    ASSERT_EQ(out.write(file), file.size());
}

double CrossingsPerSecond(const std::vector<qint16>& samples, int channels, int channel, int rate)
{
    const size_t frames = samples.size() / static_cast<size_t>(channels);
    if (frames < 2)
        return 0;
    int crossings = 0;
    for (size_t i = 1; i < frames; ++i) {
        const qint16 before = samples[(i - 1) * channels + channel];
        const qint16 now = samples[i * channels + channel];
        if ((before < 0) != (now < 0))
            ++crossings;
    }
    return crossings * static_cast<double>(rate) / static_cast<double>(frames);
}

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray ExpectedWav(const TJobFixture& f, qint64 firstFrame, qint64 frames)
{
    const QByteArray data = DataSlice(f.DiscData, firstFrame, frames);
    return CDWavHeader(data.size()) + data;
}

void ExpectDecodable(const QString& path, const QString& codec, double seconds, int rate)
{
    const TProbe probe = ProbeAudio(path);
    ASSERT_TRUE(probe.Valid) << qPrintable(path);
    EXPECT_EQ(probe.CodecName, codec) << qPrintable(path);
    EXPECT_EQ(probe.SampleRate, rate) << qPrintable(path);
    EXPECT_EQ(probe.Channels, 2) << qPrintable(path);
    const std::vector<qint16> samples = DecodeWithFfmpeg(path);
    EXPECT_NEAR(static_cast<double>(samples.size()) / 2 / rate, seconds, 0.1) << qPrintable(path);
}

void ExpectTones(const QString& path, int rate, double seconds)
{
    const TProbe probe = ProbeAudio(path);
    ASSERT_TRUE(probe.Valid) << qPrintable(path);
    EXPECT_EQ(probe.SampleRate, rate) << qPrintable(path);
    EXPECT_NEAR(probe.Duration, seconds, 0.15) << qPrintable(path);
    const std::vector<qint16> samples = DecodeWithFfmpeg(path);
    ASSERT_FALSE(samples.empty()) << qPrintable(path);
    const int channels = probe.Channels;
    EXPECT_NEAR(CrossingsPerSecond(samples, channels, 0, rate), 880, 30) << qPrintable(path);
    if (channels == 2) {
        EXPECT_NEAR(CrossingsPerSecond(samples, channels, 1, rate), 1760, 60) << qPrintable(path);
    }
}

bool HasId3Block(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 128 || !file.seek(file.size() - 128))
        return false;
    return file.read(3) == "TAG";
}

QStringList FilesIn(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    names.sort();
    return names;
}
