// Extracts every track of a 74-minute disc image of music to WAV files with our
// drive library and rip thread, and with `cd-paranoia -Z -B -d image.cue`, five
// times each, taking turns; prints the median wall and processor times, their
// ratios (target: wall within 1.10x) and our peak memory (target < 64 MB).
//
//   velbrook-cd-bench [--minutes N] [--runs N] [--dir FOLDER]
//
// Both run as child processes of this program, so each is timed and measured
// (wait4's peak resident size) the same way.
#include "rip_child.h"
#include "support/child_run.h"
#include "support/music.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--rip") == 0)
        return RipEveryTrack(argc, argv, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));

    int minutes = 74;
    int runs = 5;
    QString base = QDir::tempPath();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--minutes") == 0)
            minutes = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--dir") == 0)
            base = QString::fromLocal8Bit(argv[i + 1]);
    }
    QTemporaryDir folder(base + QStringLiteral("/velbrook-cd-bench-XXXXXX"));
    const QString image = folder.filePath(QStringLiteral("disc.cue"));
    const QString ours = folder.filePath(QStringLiteral("ours"));
    const QString peer = folder.filePath(QStringLiteral("peer"));

    // Fourteen tracks of different lengths filling the disc.
    const std::vector<std::int64_t> tracks = SongLengths(minutes, 14);
    std::printf("writing a %d-minute image (%zu tracks) to %s\n", minutes, tracks.size(), qPrintable(image));
    WriteMusicImage(image, tracks);

    const std::string self =
        QFile::encodeName(QFileInfo(QString::fromLocal8Bit(argv[0])).absoluteFilePath()).toStdString();
    const std::string imagePath = QFile::encodeName(image).toStdString();
    long peak = 0;
    const TSides sides =
        Compare(runs, {[&] {
                           Settle(ours, peer);
                           const TRun result = RunChild(
                               {self, "--rip", imagePath, QFile::encodeName(ours).toStdString()}, ours);
                           if (!result.Ok) {
                               std::fprintf(stderr, "our extraction failed\n");
                               std::exit(1);
                           }
                           peak = std::max(peak, result.PeakKilobytes);
                           return result.Timing();
                       },
                       [&] {
                           Settle(ours, peer);
                           return RunPeer({"cd-paranoia", "-Z", "-B", "-d", imagePath}, peer);
                       }});
    EmptyFolder(ours);
    EmptyFolder(peer);
    std::printf("\n");
    bool met =
        Report(qPrintable(QStringLiteral("%1-minute image, medians of %2 runs: velbrook vs cd-paranoia -Z -B")
                              .arg(minutes)
                              .arg(runs)),
               sides, 1, 1.10, false);
    std::printf("velbrook peak memory %.1f MB (target < 64 MB)\n", double(peak) / 1024.0);
    met = peak < 64 * 1024 && met;
    std::printf("%s\n", met ? "targets met" : "TARGETS MISSED");
    return met ? 0 : 1;
}
