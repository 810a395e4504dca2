// How much the MP3 encoder process costs on top of the encoder program itself.
// A 10-minute stereo WAV of music is encoded five times through
// TMp3EncodeProcess and five times by running lame directly with the same
// switches, alternately; the medians are compared. Targets: our own CPU time
// under 2 percent of lame's, and the wall time within 1.05 times that of lame
// alone; the processor-time ratio (ours with lame against lame alone) is shown.
// Exits non-zero when a target is missed.
#include "codecs/mp3_encode_process.h"
#include "core/prompter.h"
#include "core/settings.h"
#include "support/measure.h"
#include "support/music.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
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

// Nothing here asks questions: every output is new.
class TSilentPrompter final : public TPrompter {
public:
    void Information(const QString&) override {}
    void Warning(const QString&) override {}
    void Error(const QString&) override {}
    TAnswer AskYesNo(const QString&, TAnswer, TIcon) override { return TAnswer::Yes; }
    TAnswer AskYesNoCancel(const QString&, TAnswer, TIcon) override { return TAnswer::Yes; }
    QStringList OpenFiles(const QString&, const QString&, const QString&, bool) override { return {}; }
    QString SaveFile(const QString&, const QString&, const QString&) override { return {}; }
    QString PickFolder(const QString&, const QString&) override { return {}; }
};

class TDoneWaiter final : public QObject {
public:
    bool Done = false;
    bool Clean = false;
    int Reports = 0;
    bool event(QEvent* e) override
    {
        if (e->type() != WM_PROCESSINFO)
            return QObject::event(e);
        const TProcessInfo* info = static_cast<TMessageEvent*>(e)->Info();
        ++Reports;
        if (info && info->Percent == TMp3EncodeProcess::CompletionPercent) {
            Done = true;
            Clean = info->ExitedCleanly;
        }
        return true;
    }
};

double Seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double CpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

struct TSample {
    double Wall = 0;
    double OwnCpu = 0;
    double ChildCpu = 0;
};

TSample RunThroughProcess(TMp3EncodeProcess& encoder, TDoneWaiter& waiter, const QString& wav,
                          const QString& mp3)
{
    QFile::remove(mp3);
    waiter.Done = false;
    waiter.Reports = 0;
    encoder.Running = true;
    encoder.InputFile = wav;
    encoder.OutputFile = mp3;
    encoder.Encode = true;
    encoder.JobKind = 2;
    const double ownBefore = CpuSeconds(RUSAGE_SELF);
    const double childBefore = CpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer timer;
    timer.start();
    encoder.Start();
    while (!waiter.Done)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    TSample sample;
    sample.Wall = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    sample.OwnCpu = CpuSeconds(RUSAGE_SELF) - ownBefore;
    sample.ChildCpu = CpuSeconds(RUSAGE_CHILDREN) - childBefore;
    if (!waiter.Clean) {
        std::fprintf(stderr, "the encoder failed\n");
        std::exit(2);
    }
    return sample;
}

// lame on its own, its console output going nowhere, as a user would run it.
TSample RunDirectly(const QString& program, const QStringList& arguments)
{
    std::vector<QByteArray> storage{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        storage.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const double childBefore = CpuSeconds(RUSAGE_CHILDREN);
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
    sample.ChildCpu = CpuSeconds(RUSAGE_CHILDREN) - childBefore;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "lame failed\n");
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
    const QString mp3 = folder.filePath("ours.mp3");
    const QString direct = folder.filePath("direct.mp3");
    WriteMusicWav(wav, 44100, 2, 600);

    TSilentPrompter prompter;
    TDoneWaiter waiter;
    TMp3EncodeProcess encoder(&waiter, prompter);
    const QString lame = TMp3EncodeProcess::FindProgram("lame");
    const QStringList arguments = TMp3EncodeProcess::EncodeArguments(AppSettings(), wav, direct);

    std::vector<double> ourWall, ourCpu, ourTotalCpu, directWall, directCpu;
    constexpr int rounds = 5;
    for (int round = 0; round < rounds; ++round) {
        // Alternate which goes first, so a drift of the machine's speed favours
        // neither.
        TSample ours;
        TSample alone;
        if (round % 2 == 0) {
            ours = RunThroughProcess(encoder, waiter, wav, mp3);
            alone = RunDirectly(lame, arguments);
        } else {
            alone = RunDirectly(lame, arguments);
            ours = RunThroughProcess(encoder, waiter, wav, mp3);
        }
        ourWall.push_back(ours.Wall);
        ourCpu.push_back(ours.OwnCpu);
        ourTotalCpu.push_back(ours.OwnCpu + ours.ChildCpu);
        directWall.push_back(alone.Wall);
        directCpu.push_back(alone.ChildCpu);
        std::printf(
            "round %d: ours %.3f s wall, %.4f s own CPU (lame %.3f s CPU); lame alone %.3f s wall, %.3f "
            "s CPU\n",
            round + 1, ours.Wall, ours.OwnCpu, ours.ChildCpu, alone.Wall, alone.ChildCpu);
    }

    const double cpuShare = Median(ourCpu) / Median(directCpu);
    const double wallRatio = Median(ourWall) / Median(directWall);
    std::printf("median wall: ours %.3f s, lame alone %.3f s, ratio %.3f (target <= 1.05)\n", Median(ourWall),
                Median(directWall), wallRatio);
    std::printf("median CPU: ours %.4f s, lame alone %.3f s, share %.2f%% (target < 2%%)\n", Median(ourCpu),
                Median(directCpu), cpuShare * 100);
    std::printf("median CPU with lame: ours %.3f s, lame alone %.3f s, ratio %.3f\n", Median(ourTotalCpu),
                Median(directCpu), Median(ourTotalCpu) / Median(directCpu));
    std::printf("reports received in the last run: %d\n", waiter.Reports);
    const bool met = cpuShare < 0.02 && wallRatio <= 1.05;
    std::printf("%s\n", met ? "targets met" : "TARGETS MISSED");
    return met ? 0 : 1;
}
