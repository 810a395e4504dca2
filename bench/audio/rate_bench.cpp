// Sample-rate conversion speed and quality against the resamplers people use,
// measured in one run on the same files (medians of several runs each):
//   TWaveIn -> TRateConverter -> TWaveOut, 22050 -> 44100 and 48000 -> 44100,
//   vs  sox in.wav -r 44100 out.wav   (target: at least 1.5x as fast)
//   vs  ffmpeg -i in.wav -ar 44100 out.wav (FFmpeg's resampler; for reference)
// and the signal-to-noise ratio each of them leaves on a 1 kHz sine.
//
// rate_bench [--minutes N] [--runs N] [--dir FOLDER] [--ours-only 1]; exits 1 when a
// target is missed. --ours-only times our conversions alone (for a profiler).
#include "audio/rate_converter.h"
#include "audio/wave_in.h"
#include "audio/wave_out.h"
#include "support/run_output.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
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

// A 16-bit stereo file of the given length: tones that move through the
// spectrum with some noise, written a second at a time.
void WriteMusic(const QString& path, int rate, int seconds)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(2);
    }
    file.write(PcmWavHeader(2, rate, 16, static_cast<quint32>(seconds) * static_cast<quint32>(rate) * 4u));
    std::mt19937 random(1);
    std::uniform_int_distribution<int> noise(-400, 400);
    std::vector<qint16> second(static_cast<std::size_t>(rate) * 2);
    double phase[2] = {0, 0};
    for (int s = 0; s < seconds; ++s) {
        for (int f = 0; f < rate; ++f) {
            const double frequency = 80.0 + 60.0 * (s % 120) + 0.02 * f;
            phase[0] += 2 * M_PI * frequency / rate;
            phase[1] += 2 * M_PI * 1.5 * frequency / rate;
            second[2 * static_cast<std::size_t>(f)] =
                qToLittleEndian<qint16>(static_cast<qint16>(12000.0 * std::sin(phase[0]) + noise(random)));
            second[2 * static_cast<std::size_t>(f) + 1] =
                qToLittleEndian<qint16>(static_cast<qint16>(9000.0 * std::sin(phase[1]) + noise(random)));
        }
        file.write(reinterpret_cast<const char*>(second.data()), static_cast<qint64>(second.size() * 2));
    }
}

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
bool ConvertOurs(const QString& from, const QString& to)
{
    QFile::remove(to);
    TWaveIn in;
    in.SetFileName(from);
    TRateConverter rate;
    rate.SetOutSampleRate(44100);
    rate.AssignInput(&in);
    TWaveOut out;
    out.SetFileName(to);
    out.AssignInput(&rate);
    return RunOutputToEnd(out);
}

bool RunTool(const QStringList& command, const QString& output)
{
    QFile::remove(output);
    std::vector<QByteArray> args;
    for (const QString& argument : command)
        args.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& argument : args)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", argv[0]);
        return false;
    }
    return true;
}

bool Sox(const QString& from, const QString& to)
{
    return RunTool({"sox", "-V1", from, "-r", "44100", to}, to);
}

bool FFmpeg(const QString& from, const QString& to)
{
    return RunTool({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", from, "-ar", "44100", to}, to);
}

double CpuSeconds()
{
    rusage self{};
    rusage children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(children.ru_utime) +
           seconds(children.ru_stime);
}

struct TTiming {
    double Wall = 0;
    double Cpu = 0;
};

TTiming Measure(const std::function<bool()>& action)
{
    const auto start = TClock::now();
    const double cpu = CpuSeconds();
    if (!action())
        std::exit(2);
    return {std::chrono::duration<double>(TClock::now() - start).count(), CpuSeconds() - cpu};
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct TResult {
    TTiming Ours;
    TTiming Sox;
    TTiming FFmpeg;
};

// Takes turns so that all three meet the same cache and machine load.
TResult Compare(int runs, const QString& from, const QString& folder)
{
    std::vector<double> wall[3];
    std::vector<double> cpu[3];
    for (int i = 0; i < runs; ++i) {
        const TTiming t[3] = {Measure([&] { return ConvertOurs(from, folder + "/ours.wav"); }),
                              Measure([&] { return Sox(from, folder + "/sox.wav"); }),
                              Measure([&] { return FFmpeg(from, folder + "/ffmpeg.wav"); })};
        for (int k = 0; k < 3; ++k) {
            wall[k].push_back(t[k].Wall);
            cpu[k].push_back(t[k].Cpu);
        }
    }
    return {{Median(wall[0]), Median(cpu[0])},
            {Median(wall[1]), Median(cpu[1])},
            {Median(wall[2]), Median(cpu[2])}};
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

bool Report(const char* what, const TResult& r, double target)
{
    const double sox = r.Sox.Wall / r.Ours.Wall;
    const double ffmpeg = r.FFmpeg.Wall / r.Ours.Wall;
    const bool met = sox >= target;
    std::printf("%s\n", what);
    std::printf("  ours   %7.3f s (cpu %7.3f s)\n", r.Ours.Wall, r.Ours.Cpu);
    std::printf("  sox    %7.3f s (cpu %7.3f s)  ours is %.2fx as fast (cpu %.2fx); target >= %.2fx %s\n",
                r.Sox.Wall, r.Sox.Cpu, sox, r.Sox.Cpu / r.Ours.Cpu, target, met ? "met" : "MISSED");
    std::printf("  ffmpeg %7.3f s (cpu %7.3f s)  ours is %.2fx as fast (cpu %.2fx)\n", r.FFmpeg.Wall,
                r.FFmpeg.Cpu, ffmpeg, r.FFmpeg.Cpu / r.Ours.Cpu);
    return met;
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

    std::printf("Generating %d-minute 16-bit stereo files at 22050 and 48000 Hz...\n", minutes);
    WriteMusic(path("in22050.wav"), 22050, minutes * 60);
    WriteMusic(path("in48000.wav"), 48000, minutes * 60);
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

    const TResult up = Compare(runs, path("in22050.wav"), temp.path());
    const TResult down = Compare(runs, path("in48000.wav"), temp.path());

    std::printf("\n%d-minute stereo file to 44100 Hz, medians of %d runs:\n", minutes, runs);
    bool met = Report("22050 -> 44100", up, 1.5);
    met = Report("48000 -> 44100", down, 1.5) && met;

    std::printf("\nSignal-to-noise ratio on a 1 kHz sine (16000 peak), 10 s mono:\n");
    for (int rate : {22050, 48000}) {
        WriteSine(path("sine.wav"), rate, 10);
        ConvertOurs(path("sine.wav"), path("sine-ours.wav"));
        Sox(path("sine.wav"), path("sine-sox.wav"));
        FFmpeg(path("sine.wav"), path("sine-ffmpeg.wav"));
        std::printf("  %5d -> 44100: ours %5.1f dB   sox %5.1f dB   ffmpeg %5.1f dB\n", rate,
                    SineSignalToNoise(path("sine-ours.wav")), SineSignalToNoise(path("sine-sox.wav")),
                    SineSignalToNoise(path("sine-ffmpeg.wav")));
    }
    return met ? 0 : 1;
}
