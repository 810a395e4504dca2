// How fast our WMA encoder program is next to FFmpeg's own command-line tool.
// A 10-minute stereo WAV of music is encoded five times by velbrook-wmaenc at the default
// setting (64 kbit/s, 44.1 kHz, stereo) and five times by
// "ffmpeg -c:a wmav2 -b:a 64k", alternately; the medians are compared. Target:
// our wall time within 1.1 times that of ffmpeg; the processor-time ratio is
// shown. Exits non-zero when missed.
#include "support/measure.h"
#include "support/music.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

double Seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double ChildCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

struct TSample {
    double Wall = 0;
    double Cpu = 0;
};

// Runs a program to its end with its output going nowhere, as a user would.
TSample Run(const QString& program, const QStringList& arguments, const QString& output)
{
    QFile::remove(output);
    std::vector<QByteArray> storage{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        storage.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const double cpuBefore = ChildCpuSeconds();
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot run %s\n", argv[0]);
        std::exit(2);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    TSample sample;
    sample.Wall = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    sample.Cpu = ChildCpuSeconds() - cpuBefore;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || QFileInfo(output).size() < 1000000) {
        std::fprintf(stderr, "%s failed\n", argv[0]);
        std::exit(2);
    }
    return sample;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    const QString wav = folder.filePath("ten-minutes.wav");
    const QString ours = folder.filePath("ours.wma");
    const QString theirs = folder.filePath("ffmpeg.wma");
    WriteMusicWav(wav, 44100, 2, 600);
    const QString encoder = QStringLiteral(VELBROOK_WMAENC);
    const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
    if (ffmpeg.isEmpty()) {
        std::fprintf(stderr, "ffmpeg is not installed\n");
        return 2;
    }
    const QStringList ourArguments{"-input", wav, "-output", ours, "-a_setting", "64_44_2"};
    const QStringList theirArguments{"-nostdin", "-v",    "error", "-y",  "-i",  wav,
                                     "-c:a",     "wmav2", "-b:a",  "64k", theirs};

    std::vector<double> ourWall, ourCpu, theirWall, theirCpu;
    constexpr int rounds = 5;
    for (int round = 0; round < rounds; ++round) {
        // Alternate which goes first, so a drift of the machine's speed favours
        // neither.
        TSample a;
        TSample b;
        if (round % 2 == 0) {
            a = Run(encoder, ourArguments, ours);
            b = Run(ffmpeg, theirArguments, theirs);
        } else {
            b = Run(ffmpeg, theirArguments, theirs);
            a = Run(encoder, ourArguments, ours);
        }
        ourWall.push_back(a.Wall);
        ourCpu.push_back(a.Cpu);
        theirWall.push_back(b.Wall);
        theirCpu.push_back(b.Cpu);
        std::printf("round %d: velbrook-wmaenc %.3f s wall, %.3f s CPU; ffmpeg %.3f s wall, %.3f s CPU\n",
                    round + 1, a.Wall, a.Cpu, b.Wall, b.Cpu);
    }

    const double wallRatio = Median(ourWall) / Median(theirWall);
    const double cpuRatio = Median(ourCpu) / Median(theirCpu);
    std::printf("median wall: velbrook-wmaenc %.3f s, ffmpeg %.3f s, ratio %.3f (target <= 1.1)\n",
                Median(ourWall), Median(theirWall), wallRatio);
    std::printf("median CPU: velbrook-wmaenc %.3f s, ffmpeg %.3f s, ratio %.3f\n", Median(ourCpu),
                Median(theirCpu), cpuRatio);
    std::printf("file sizes: velbrook-wmaenc %lld bytes, ffmpeg %lld bytes\n",
                static_cast<long long>(QFileInfo(ours).size()),
                static_cast<long long>(QFileInfo(theirs).size()));
    const bool met = wallRatio <= 1.1;
    std::printf("%s\n", met ? "target met" : "TARGET MISSED");
    return met ? 0 : 1;
}
