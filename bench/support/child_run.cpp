#include "child_run.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

TRun RunChild(const std::vector<std::string>& arguments, const QString& folder, const QString& home)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const QByteArray folderPath = QFile::encodeName(folder);
    const QByteArray homePath = QFile::encodeName(home);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(folderPath.constData()) != 0)
            _exit(127);
        if (!homePath.isEmpty())
            setenv("VELBROOK_HOME", homePath.constData(), 1);
        if (FILE* null = std::fopen("/dev/null", "w")) {
            dup2(fileno(null), 1);
            dup2(fileno(null), 2);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    TRun run;
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child)
        return run;
    run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.PeakKilobytes = usage.ru_maxrss;
    run.CpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

TTiming RunPeer(const std::vector<std::string>& arguments, const QString& folder)
{
    const TRun run = RunChild(arguments, folder);
    if (!run.Ok) {
        std::fprintf(stderr, "%s failed (is it installed?)\n", arguments.front().c_str());
        std::exit(2);
    }
    return run.Timing();
}

void EmptyFolder(const QString& path)
{
    QDir(path).removeRecursively();
    QDir().mkpath(path);
}

void Settle(const QString& ours, const QString& peer)
{
    EmptyFolder(ours);
    EmptyFolder(peer);
    sync();
}
