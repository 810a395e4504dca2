// Sample-rate conversion speed and quality against the resamplers people use,
// measured in one run on the same files of music (medians of several runs each,
// the three taking turns):
//   TWaveIn -> TRateConverter -> TWaveOut, 22050 -> 44100 and 48000 -> 44100,
//   vs  sox in.wav -r 44100 out.wav   (target: at least 1.5x as fast in wall time)
//   vs  ffmpeg -i in.wav -ar 44100 out.wav (FFmpeg's resampler; for reference)
// the signal-to-noise ratio each of them leaves on a 1 kHz sine (target for
// ours: at least 80 dB both ways), and a checksum of our 44100 -> 22050 output
// of the music, to compare builds: a whole ratio must not change it.
//
// rate_bench [--minutes N] [--runs N] [--dir FOLDER] [--ours-only 1]; exits 1 when a
// target is missed. --ours-only times our conversions alone (for a profiler).
#include "audio/rate_converter.h"
#include "audio/wave_in.h"
#include "audio/wave_out.h"
#include "support/child_run.h"
#include "support/music.h"
#include "support/run_output.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

void WriteSine(const QString& path, int rate, int seconds)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::exit(2);
    const qint64 frames = static_cast<qint64>(rate) * seconds;
    file.write(PcmWavHeader(1, rate, 16, static_cast<quint32>(frames * 2)));
    std::vector<qint16> samples(static_cast<std::size_t>(frames));
    for (qint64 i = 0; i < frames; ++i)
        samples[static_cast<std::size_t>(i)] = qToLittleEndian<qint16>(static_cast<qint16>(
            std::lround(16000.0 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / rate))));
    file.write(reinterpret_cast<const char*>(samples.data()), frames * 2);
}

// Runs one TWaveIn -> TRateConverter -> TWaveOut conversion to its end.
bool ConvertOurs(const QString& from, const QString& to, int rate = 44100)
{
    QFile::remove(to);
    TWaveIn in;
    in.SetFileName(from);
    TRateConverter converter;
    converter.SetOutSampleRate(rate);
    converter.AssignInput(&in);
    TWaveOut out;
    out.SetFileName(to);
    out.AssignInput(&converter);
    return RunOutputToEnd(out);
}

std::string Path(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

TTiming Sox(const QString& from, const QString& to)
{
    QFile::remove(to);
    return RunPeer({"sox", "-V1", Path(from), "-r", "44100", Path(to)}, QDir::tempPath());
}

TTiming FFmpeg(const QString& from, const QString& to)
{
    return RunPeer({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", Path(from), "-ar", "44100", Path(to)},
                   QDir::tempPath());
}

// 64-bit FNV-1a of a file's bytes.
quint64 Checksum(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        std::exit(2);
    quint64 hash = 1469598103934665603ULL;
    for (const char byte : file.readAll())
        hash = (hash ^ static_cast<unsigned char>(byte)) * 1099511628211ULL;
    return hash;
}

// Signal-to-noise ratio of a 1 kHz sine in a mono 16-bit file, from a
// least-squares fit of the sine (and a constant) to its middle part.
double SineSignalToNoise(const QString& path)
{
    const QByteArray bytes = [&] {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }();
    const int rate = static_cast<int>(qFromLittleEndian<quint32>(bytes.constData() + 24));
    const int data = static_cast<int>(bytes.indexOf("data")) + 8;
    std::vector<double> y;
    for (int at = data; at + 1 < bytes.size(); at += 2)
        y.push_back(qFromLittleEndian<qint16>(bytes.constData() + at));
    const std::size_t margin = y.size() / 10;
    double m[3][4] = {};
    for (std::size_t i = margin; i + margin < y.size(); ++i) {
        const double phase = 2 * M_PI * 1000.0 * static_cast<double>(i) / rate;
        const double basis[3] = {std::sin(phase), std::cos(phase), 1.0};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                m[r][c] += basis[r] * basis[c];
            m[r][3] += basis[r] * y[i];
        }
    }
    // Gaussian elimination on the 3x3 normal equations.
    for (int p = 0; p < 3; ++p) {
        for (int r = p + 1; r < 3; ++r) {
            const double f = m[r][p] / m[p][p];
            for (int c = p; c < 4; ++c)
                m[r][c] -= f * m[p][c];
        }
    }
    double x[3];
    for (int r = 2; r >= 0; --r) {
        double s = m[r][3];
        for (int c = r + 1; c < 3; ++c)
            s -= m[r][c] * x[c];
        x[r] = s / m[r][r];
    }
    double noise = 0;
    double count = 0;
    for (std::size_t i = margin; i + margin < y.size(); ++i) {
        const double phase = 2 * M_PI * 1000.0 * static_cast<double>(i) / rate;
        const double e = y[i] - (x[0] * std::sin(phase) + x[1] * std::cos(phase) + x[2]);
        noise += e * e;
        count += 1;
    }
    const double power = (x[0] * x[0] + x[1] * x[1]) / 2;
    return 10 * std::log10(power / (noise / count));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int minutes = 10;
    int runs = 5;
    QString folder;
    bool oursOnly = false;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--minutes")
            minutes = args[i + 1].toInt();
        else if (args[i] == "--runs")
            runs = args[i + 1].toInt();
        else if (args[i] == "--dir")
            folder = args[i + 1];
        else if (args[i] == "--ours-only")
            oursOnly = args[i + 1] == "1";
    }
    QTemporaryDir temp(folder.isEmpty() ? QDir::tempPath() + "/rate-bench-XXXXXX"
                                        : folder + "/rate-bench-XXXXXX");
    auto path = [&](const char* name) { return temp.filePath(QString::fromLatin1(name)); };

    std::printf("Generating %d-minute 16-bit stereo files of music at 22050, 44100 and 48000 Hz...\n",
                minutes);
    for (int rate : {22050, 44100, 48000})
        WriteMusicWav(path(qPrintable(QStringLiteral("in%1.wav").arg(rate))), rate, 2, minutes * 60);
    // Warm the page cache.
    ConvertOurs(path("in22050.wav"), path("warm.wav"));
    ConvertOurs(path("in48000.wav"), path("warm.wav"));
    if (oursOnly) {
        for (const char* name : {"in22050.wav", "in48000.wav"}) {
            std::vector<double> wall;
            for (int i = 0; i < runs; ++i)
                wall.push_back(Measure([&] { return ConvertOurs(path(name), path("ours.wav")); }).Wall);
            std::printf("%s: ours %.3f s\n", name, Median(wall));
        }
        return 0;
    }

    bool met = true;
    for (int rate : {22050, 48000}) {
        const QString from = path(qPrintable(QStringLiteral("in%1.wav").arg(rate)));
        const TSides sides =
            Compare(runs, {[&] { return Measure([&] { return ConvertOurs(from, path("ours.wav")); }); },
                           [&] { return Sox(from, path("sox.wav")); },
                           [&] { return FFmpeg(from, path("ffmpeg.wav")); }});
        const QByteArray title = QStringLiteral("%1-minute stereo music, %2 -> 44100, medians of %3 runs")
                                     .arg(minutes)
                                     .arg(rate)
                                     .arg(runs)
                                     .toUtf8();
        std::printf("\n");
        // At least 1.5 times as fast: ours / sox at most 1 / 1.5.
        met =
            Report((title + ", vs sox (ours at least 1.5x as fast)").constData(), sides, 1, 1 / 1.5, false) &&
            met;
        Report((title + ", vs ffmpeg (for reference)").constData(), sides, 2, 0, false);
    }

    std::printf(
        "\nSignal-to-noise ratio on a 1 kHz sine (16000 peak), 10 s mono (target for ours >= 80 dB):\n");
    for (int rate : {22050, 48000}) {
        WriteSine(path("sine.wav"), rate, 10);
        ConvertOurs(path("sine.wav"), path("sine-ours.wav"));
        Sox(path("sine.wav"), path("sine-sox.wav"));
        FFmpeg(path("sine.wav"), path("sine-ffmpeg.wav"));
        const double ours = SineSignalToNoise(path("sine-ours.wav"));
        std::printf("  %5d -> 44100: ours %5.1f dB   sox %5.1f dB   ffmpeg %5.1f dB  %s\n", rate, ours,
                    SineSignalToNoise(path("sine-sox.wav")), SineSignalToNoise(path("sine-ffmpeg.wav")),
                    ours >= 80 ? "met" : "MISSED");
        met = ours >= 80 && met;
    }

    ConvertOurs(path("in44100.wav"), path("half.wav"), 22050);
    std::printf("\n44100 -> 22050 of the music: checksum %016llx\n",
                static_cast<unsigned long long>(Checksum(path("half.wav"))));
    std::printf("%s\n", met ? "targets met" : "TARGETS MISSED");
    return met ? 0 : 1;
}
