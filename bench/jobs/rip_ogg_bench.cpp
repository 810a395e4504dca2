// Rips a generated 10-minute disc image of music to Ogg Vorbis (quality 0.2)
// with `velbrook --extract --format ogg`, the command-line mode on the job
// engine, and with the pipeline `cd-paranoia -Z -B -d image.cue` followed by
// `oggenc -q 2` on each track, in the same run (medians of five each, the two
// sides taking turns). Targets: our wall time within 1.05x of the pipeline's
// plus the 300 ms pause the job makes after each Ogg file, our processor time
// within 1.05x of the pipeline's, and our peak memory below 150 MB.
//
//   velbrook-jobs-bench [--minutes N] [--runs N] [--dir FOLDER] [--program VELBROOK]
//
// --program times another build of velbrook (this build's by default).
//
// Every program runs as a child of this one, so each is timed and measured
// (wait4's peak resident size) the same way. On a machine busy with other work,
// raise the priority (as root: nice -n -10) so that it disturbs both sides
// alike.
#include "job_bench.h"
#include "support/child_run.h"
#include "support/music.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int minutes = 10;
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
    QTemporaryDir folder(base + QStringLiteral("/velbrook-jobs-bench-XXXXXX"));
    const QString image = folder.filePath(QStringLiteral("disc.cue"));
    const QString ours = folder.filePath(QStringLiteral("ours"));
    const QString peer = folder.filePath(QStringLiteral("peer"));
    const QString home = folder.filePath(QStringLiteral("home"));

    // Four tracks of different lengths filling the time, as songs would.
    const std::vector<std::int64_t> tracks = SongLengths(minutes, 4);
    std::printf("writing a %d-minute image of music (%zu tracks) to %s\n", minutes, tracks.size(),
                qPrintable(image));
    WriteMusicImage(image, tracks);
    WriteOggOptions(home);

    const std::string imagePath = QFile::encodeName(image).toStdString();
    const std::string ourFolder = QFile::encodeName(ours).toStdString();
    const double pauses = OggPauseSeconds * static_cast<double>(tracks.size());
    long peak = 0;
    const TSides sides = Compare(
        runs,
        {[&] {
             Settle(ours, peer);
             const TRun result = RunChild(
                 {program, "--extract", "--format", "ogg", "--output", ourFolder, "--cd-image", imagePath},
                 ours, home);
             const auto files = QDir(ours).entryList({QStringLiteral("*.ogg")}).size();
             if (!result.Ok || files != qsizetype(tracks.size())) {
                 std::fprintf(stderr, "velbrook --extract failed (%lld Ogg files)\n",
                              static_cast<long long>(files));
                 std::exit(1);
             }
             peak = std::max(peak, result.PeakKilobytes);
             return result.Timing();
         },
         [&] {
             Settle(ours, peer);
             TTiming total = RunPeer({"cd-paranoia", "-Z", "-B", "-d", imagePath}, peer);
             const QStringList wavs =
                 QDir(peer).entryList({QStringLiteral("track*.wav")}, QDir::Files, QDir::Name);
             if (wavs.size() != qsizetype(tracks.size())) {
                 std::fprintf(stderr, "cd-paranoia wrote %lld tracks\n", static_cast<long long>(wavs.size()));
                 std::exit(1);
             }
             for (const QString& wav : wavs) {
                 const TTiming encode =
                     RunPeer({"oggenc", "-Q", "-q", "2", QFile::encodeName(wav).toStdString()}, peer);
                 total.Wall += encode.Wall;
                 total.Cpu += encode.Cpu;
             }
             // The job's pauses count as the peer's time: they are not work.
             total.Wall += pauses;
             return total;
         }});
    EmptyFolder(ours);
    EmptyFolder(peer);

    std::printf("\n");
    bool met = Report(
        qPrintable(QStringLiteral("%1-minute image, medians of %2 runs: velbrook --extract --format ogg "
                                  "vs cd-paranoia -Z -B + oggenc -q 2 (+ %3 s of the job's pauses)")
                       .arg(minutes)
                       .arg(runs)
                       .arg(pauses)),
        sides, 1, 1.05, true);
    std::printf("velbrook peak memory %.1f MB (target < 150 MB)\n", double(peak) / 1024.0);
    met = peak < 150 * 1024 && met;
    std::printf("%s\n", met ? "targets met" : "TARGETS MISSED");
    return met ? 0 : 1;
}
