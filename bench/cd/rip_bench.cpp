// Extracts every track of a 74-minute disc image of music to WAV files with our
// drive library and rip thread, and with `cd-paranoia -Z -B -d image.cue`, five
// times each, taking turns; prints the median wall and processor times, their
// ratios (target: wall within 1.10x) and our peak memory (target < 64 MB).
//
//   velbrook-cd-bench [--minutes N] [--runs N] [--dir FOLDER]
//
// Both run as child processes of this program, so each is timed and measured
// (wait4's peak resident size) the same way.
#include "cd/cd_drive.h"
#include "cd/cd_rip_thread.h"
#include "core/messages.h"
#include "core/settings.h"
#include "support/child_run.h"
#include "support/music.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

class TCompletions final : public QObject {
public:
    int Count = 0;
    int Failures = 0;
    bool event(QEvent* e) override
    {
        if (e->type() == WM_RIPERROR) {
            ++Count;
            ++Failures;
            return true;
        }
        if (e->type() == WM_PROCESSINFO) {
            const TProcessInfo* info = static_cast<TMessageEvent*>(e)->Info();
            if (info->Percent == 1000) {
                ++Count;
                Failures += info->Result != 0;
            }
            return true;
        }
        return QObject::event(e);
    }
};

// The child: rips every track of the image into the folder, as the job window would.
int RipAll(int argc, char** argv, const QString& image, const QString& folder)
{
    QCoreApplication app(argc, argv);
    SetCDImages({image});
    AppSettings().OutputFolder = folder;
    CDDriveList list{};
    list.MaxDrives = CDMaxDrives;
    if (GetCDList(&list) != 1 || list.NumDrives == 0) {
        std::fprintf(stderr, "no drive: %s\n", qPrintable(CheckCDImage(image)));
        return 1;
    }
    CDHandleRequest request{12, 1, list.Drives[0].HostAdapter, list.Drives[0].Target, 0, {}};
    const CDHandle drive = GetCDHandle(&request);
    CDTOC toc{};
    if (drive == 0 || ModifyCDParms(drive, CDP_MSF, 1) == 0 || ReadTOC(drive, &toc) != 1) {
        std::fprintf(stderr, "cannot open the image: %s\n", qPrintable(GetAspiLibErrorText()));
        return 1;
    }
    TCompletions completions;
    for (int track = 1; track <= toc.LastTrack - toc.FirstTrack + 1; ++track) {
        TCDRipThread thread(track, QStringLiteral("track%1").arg(track, 2, 10, QLatin1Char('0')));
        thread.Drive = drive;
        thread.NotifyWindow = &completions;
        QEventLoop loop;
        QObject::connect(&thread, &QThread::finished, &loop, &QEventLoop::quit);
        thread.Resume();
        loop.exec();
        QCoreApplication::sendPostedEvents(&completions);
    }
    CloseCDHandle(drive);
    return completions.Failures == 0 && completions.Count == toc.LastTrack ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--rip") == 0)
        return RipAll(argc, argv, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));

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
