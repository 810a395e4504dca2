// WAV pipeline speed against the tools people use for the same job, measured
// in one run on the same files (medians of several runs each):
//   PCM copy TWaveIn -> TWaveOut        vs  dd bs=16384            (target: within 1.5x)
//   IMA ADPCM encode TWaveIn -> TWaveOut vs  ffmpeg adpcm_ima_wav   (target: at least as fast)
//   IMA ADPCM decode TWaveIn -> TWaveOut vs  ffmpeg to pcm_s16le    (target: at least as fast)
// and the peak memory of our pipelines on a short and a long file, which must
// not grow with the file.
//
// wave_bench [--minutes N] [--runs N] [--dir FOLDER]; exits 1 when a target is missed.
#include "audio/wave_in.h"
#include "audio/wave_out.h"
#include "support/run_output.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

// A 44100 Hz 16-bit stereo file: a slow sweep with some noise, written in
// one-second pieces so that generating it takes little memory.
void WriteSource(const QString& path, int seconds)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(2);
    }
    const quint32 dataSize = static_cast<quint32>(seconds) * 44100u * 4u;
    file.write(PcmWavHeader(2, 44100, 16, dataSize));
    std::mt19937 random(1);
    std::uniform_int_distribution<int> noise(-500, 500);
    std::vector<qint16> second(44100 * 2);
    double phase = 0;
    for (int s = 0; s < seconds; ++s) {
        for (int f = 0; f < 44100; ++f) {
            const double frequency = 100.0 + 50.0 * (s % 60) + 0.01 * f;
            phase += 2 * M_PI * frequency / 44100.0;
            const double value = 16000.0 * std::sin(phase);
            second[2 * f] = qToLittleEndian<qint16>(static_cast<qint16>(value + noise(random)));
            second[2 * f + 1] = qToLittleEndian<qint16>(static_cast<qint16>(0.7 * value + noise(random)));
        }
        file.write(reinterpret_cast<const char*>(second.data()), static_cast<qint64>(second.size() * 2));
    }
}

// Runs one TWaveIn -> TWaveOut conversion to its end.
bool Convert(const QString& from, const QString& to, TWavType type)
{
    QFile::remove(to);
    TWaveIn in;
    in.SetFileName(from);
    TWaveOut out;
    out.SetFileName(to);
    out.SetWavType(type);
    out.AssignInput(&in);
    return RunOutputToEnd(out);
}

bool RunTool(const QString& program, const QStringList& arguments, const QString& output)
{
    QFile::remove(output);
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        return false;
    }
    return true;
}

double Seconds(const std::function<bool()>& action)
{
    const auto start = TClock::now();
    if (!action())
        std::exit(2);
    return std::chrono::duration<double>(TClock::now() - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct TResult {
    double Ours;
    double Peer;
};

// Alternates ours and the peer so that both meet the same cache and disk state.
TResult Compare(int runs, const std::function<bool()>& ours, const std::function<bool()>& peer)
{
    std::vector<double> a;
    std::vector<double> b;
    for (int i = 0; i < runs; ++i) {
        a.push_back(Seconds(ours));
        b.push_back(Seconds(peer));
    }
    return {Median(a), Median(b)};
}

// Peak resident memory of one conversion, in a child process of its own.
long PeakKilobytes(const QString& from, const QString& to, TWavType type)
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(Convert(from, to, type) ? 0 : 1);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::exit(2);
    return usage.ru_maxrss;
}

bool Report(const char* what, const TResult& r, double limit)
{
    const double ratio = r.Ours / r.Peer;
    const bool met = ratio <= limit;
    std::printf("%-44s ours %7.3f s  peer %7.3f s  ratio %.2f (target <= %.2f) %s\n", what, r.Ours, r.Peer,
                ratio, limit, met ? "met" : "MISSED");
    return met;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int minutes = 10;
    int runs = 5;
    QString folder;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--minutes")
            minutes = args[i + 1].toInt();
        else if (args[i] == "--runs")
            runs = args[i + 1].toInt();
        else if (args[i] == "--dir")
            folder = args[i + 1];
    }
    QTemporaryDir temp(folder.isEmpty() ? QDir::tempPath() + "/wave-bench-XXXXXX"
                                        : folder + "/wave-bench-XXXXXX");
    auto path = [&](const char* name) { return temp.filePath(QString::fromLatin1(name)); };

    std::printf("Generating a %d-minute and a 1-minute 44100 Hz 16-bit stereo file...\n", minutes);
    WriteSource(path("long.wav"), minutes * 60);
    WriteSource(path("short.wav"), 60);

    // Memory first, in children, before this process has any worker thread.
    const long shortPcm = PeakKilobytes(path("short.wav"), path("mem.wav"), wtPCM);
    const long longPcm = PeakKilobytes(path("long.wav"), path("mem.wav"), wtPCM);
    const long shortIma = PeakKilobytes(path("short.wav"), path("mem.wav"), wtDVIADPCM);
    const long longIma = PeakKilobytes(path("long.wav"), path("mem.wav"), wtDVIADPCM);

    // Our IMA file is the input of both decoders.
    Convert(path("long.wav"), path("ima.wav"), wtDVIADPCM);
    // Warm the page cache for every input.
    Convert(path("long.wav"), path("warm.wav"), wtPCM);

    const TResult copy = Compare(
        runs, [&] { return Convert(path("long.wav"), path("copy.wav"), wtPCM); },
        [&] {
            return RunTool("dd",
                           {"if=" + path("long.wav"), "of=" + path("dd.wav"), "bs=16384", "status=none"},
                           path("dd.wav"));
        });
    const TResult encode = Compare(
        runs, [&] { return Convert(path("long.wav"), path("enc.wav"), wtDVIADPCM); },
        [&] {
            return RunTool("ffmpeg",
                           {"-nostdin", "-v", "error", "-y", "-i", path("long.wav"), "-c:a", "adpcm_ima_wav",
                            path("ffenc.wav")},
                           path("ffenc.wav"));
        });
    const TResult decode = Compare(
        runs, [&] { return Convert(path("ima.wav"), path("dec.wav"), wtPCM); },
        [&] {
            return RunTool("ffmpeg",
                           {"-nostdin", "-v", "error", "-y", "-i", path("ima.wav"), "-c:a", "pcm_s16le",
                            path("ffdec.wav")},
                           path("ffdec.wav"));
        });

    std::printf("\n%d-minute stereo file, medians of %d runs:\n", minutes, runs);
    bool met = Report("PCM copy TWaveIn->TWaveOut vs dd bs=16384", copy, 1.5);
    met = Report("IMA ADPCM encode vs ffmpeg adpcm_ima_wav", encode, 1.0) && met;
    met = Report("IMA ADPCM decode vs ffmpeg pcm_s16le", decode, 1.0) && met;
    std::printf("\nPeak memory (max RSS), 1-minute vs %d-minute file:\n", minutes);
    std::printf("  PCM copy:   %ld KB vs %ld KB\n", shortPcm, longPcm);
    std::printf("  IMA encode: %ld KB vs %ld KB\n", shortIma, longIma);
    // Flat: the long file may not cost more than a little slack over the short one.
    const bool flat = longPcm <= shortPcm + 2048 && longIma <= shortIma + 2048;
    std::printf("  memory stays flat with file length: %s\n", flat ? "met" : "MISSED");
    return met && flat ? 0 : 1;
}
