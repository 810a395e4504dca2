#include "job_test_support.h"

#include "codecs/vorbis_library.h"
#include "core/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <sys/resource.h>

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

struct TFileSizeLimit::TState {
    rlimit Previous{};
    void (*PreviousHandler)(int) = nullptr;
};

TFileSizeLimit::TFileSizeLimit(qint64 bytes) : State(std::make_unique<TState>())
{
    State->PreviousHandler = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &State->Previous);
    rlimit limit = State->Previous;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    setrlimit(RLIMIT_FSIZE, &limit);
}

TFileSizeLimit::~TFileSizeLimit()
{
    setrlimit(RLIMIT_FSIZE, &State->Previous);
    std::signal(SIGXFSZ, State->PreviousHandler);
}
