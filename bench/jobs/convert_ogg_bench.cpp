// Converts a generated 5-minute WAV file of music (tones with noise) to Ogg
// Vorbis (quality 0.2) with `velbrook --convert wav-ogg`, the command-line mode
// on the job engine, and with `oggenc -q 2`, in the same run (medians of five
// each, the two taking turns). Target: our wall time within 1.05x of oggenc's
// plus the 300 ms pause the job makes after the Ogg file, and our processor
// time within 1.05x of oggenc's.
//
//   velbrook-convert-bench [--minutes N] [--runs N] [--dir FOLDER] [--program VELBROOK]
//
// --program times another build of velbrook (this build's by default).
//
// Both run as children of this one, timed the same way (wait4).
#include "job_bench.h"
#include "support/child_run.h"
#include "support/music.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int minutes = 5;
    int runs = 5;
    QString base = QDir::tempPath();
    std::string program = VELBROOK_PROGRAM;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--minutes") == 0)
            minutes = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--dir") == 0)
            base = QString::fromLocal8Bit(argv[i + 1]);
        else if (std::strcmp(argv[i], "--program") == 0)
            program = argv[i + 1];
    }
    QTemporaryDir folder(base + QStringLiteral("/velbrook-convert-bench-XXXXXX"));
    const QString wav = folder.filePath(QStringLiteral("music.wav"));
    const QString ours = folder.filePath(QStringLiteral("ours"));
    const QString peer = folder.filePath(QStringLiteral("peer"));
    const QString home = folder.filePath(QStringLiteral("home"));
    std::printf("writing a %d-minute 44100 Hz stereo WAV file of music to %s\n", minutes, qPrintable(wav));
    WriteMusicWav(wav, 44100, 2, minutes * 60);
    WriteOggOptions(home);

    const std::string wavPath = QFile::encodeName(wav).toStdString();
    const std::string ourFolder = QFile::encodeName(ours).toStdString();
    const std::string peerFile = QFile::encodeName(peer + QStringLiteral("/music.ogg")).toStdString();
    qint64 ourSize = 0;
    qint64 peerSize = 0;
    const TSides sides = Compare(
        runs, {[&] {
                   Settle(ours, peer);
                   const TRun result = RunChild(
                       {program, "--convert", "wav-ogg", "--output", ourFolder, wavPath}, ours, home);
                   ourSize = QFileInfo(ours + QStringLiteral("/music.ogg")).size();
                   if (!result.Ok || ourSize == 0) {
                       std::fprintf(stderr, "velbrook --convert wav-ogg failed\n");
                       std::exit(1);
                   }
                   return result.Timing();
               },
               [&] {
                   Settle(ours, peer);
                   TTiming timing = RunPeer({"oggenc", "-Q", "-q", "2", "-o", peerFile, wavPath}, peer);
                   peerSize = QFileInfo(QString::fromStdString(peerFile)).size();
                   // The job's pause counts as the peer's time: it is not work.
                   timing.Wall += OggPauseSeconds;
                   return timing;
               }});
    std::printf("\nsizes: ours %lld bytes, oggenc %lld bytes\n", static_cast<long long>(ourSize),
                static_cast<long long>(peerSize));
    EmptyFolder(ours);
    EmptyFolder(peer);
    const bool met =
        Report(qPrintable(QStringLiteral("%1-minute music, medians of %2 runs: velbrook --convert wav-ogg "
                                         "vs oggenc -q 2 (+ %3 s of the job's pause)")
                              .arg(minutes)
                              .arg(runs)
                              .arg(OggPauseSeconds)),
               sides, 1, 1.05, true);
    std::printf("%s\n", met ? "targets met" : "TARGETS MISSED");
    return met ? 0 : 1;
}
