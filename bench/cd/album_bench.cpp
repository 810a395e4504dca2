// Extracts every track of a 74-minute album image (one FLAC file and its CUE
// sheet) to WAV files with our drive library and rip thread; with
// `ffmpeg -i album.flac album.wav` followed by `sox album.wav trackNN.wav trim`
// for each track; and with `flac -d --skip --until`, which decodes each track's
// stretch of the FLAC file. Five times each, taking turns. Prints the median
// times, our ratio to ffmpeg and cutting (the target) and to flac, our peak
// memory, and checks that every side gives the same samples.
//
//   velbrook-album-bench [--minutes N] [--runs N] [--dir FOLDER]
//
// Both run as child processes of this program, so each is timed and measured
// (wait4's peak resident size) the same way.
#include "cd/disc_image.h"
#include "cd/image_writer.h"
#include "rip_child.h"
#include "support/child_run.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Tracks = 14;

// The samples of a WAV file: what follows its "data" chunk header.
QByteArray WavSamples(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray wav = file.readAll();
    const qsizetype data = wav.indexOf("data", 12);
    return data < 0 ? QByteArray() : wav.mid(data + 8);
}

} // namespace

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
    QTemporaryDir folder(base + QStringLiteral("/velbrook-album-bench-XXXXXX"));
    const QString raw = folder.filePath(QStringLiteral("album.pcm"));
    const QString flac = folder.filePath(QStringLiteral("album.flac"));
    const QString cue = folder.filePath(QStringLiteral("album.cue"));
    const QString ours = folder.filePath(QStringLiteral("ours"));
    const QString peer = folder.filePath(QStringLiteral("peer"));

    // Fourteen tracks of different lengths filling the disc, as one FLAC file.
    const qint64 total = qint64(minutes) * 60 * 75;
    std::vector<qint64> starts;
    qint64 left = total;
    for (int i = 0; i < Tracks && left > 0; ++i) {
        starts.push_back(total - left);
        left -= i == Tracks - 1 ? left : std::min(left, total / Tracks + (i % 3 - 1) * 1500);
    }
    std::printf("writing a %d-minute album image (%zu tracks, one FLAC file) to %s\n", minutes, starts.size(),
                qPrintable(folder.path()));
    {
        QFile out(raw);
        if (!out.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(raw));
            return 1;
        }
        constexpr qint64 Chunk = 750;
        QByteArray block(Chunk * CDFrameBytes, '\0');
        for (size_t t = 0; t < starts.size(); ++t) {
            const qint64 end = t + 1 < starts.size() ? starts[t + 1] : total;
            for (qint64 at = starts[t]; at < end; at += Chunk) {
                const qint64 n = std::min(Chunk, end - at);
                SynthesizeFrames(int(t), at - starts[t], n, block.data());
                out.write(block.constData(), n * CDFrameBytes);
            }
        }
    }
    const TRun encoded =
        RunChild({"flac", "-s", "-f", "--force-raw-format", "--endian=little", "--sign=signed",
                  "--channels=2", "--bps=16", "--sample-rate=44100", "-o",
                  QFile::encodeName(flac).toStdString(), QFile::encodeName(raw).toStdString()},
                 folder.path());
    QFile::remove(raw);
    if (!encoded.Ok) {
        std::fprintf(stderr, "flac could not encode the album (is the flac package installed?)\n");
        return 1;
    }
    QByteArray sheet = "FILE \"album.flac\" WAVE\n";
    for (size_t t = 0; t < starts.size(); ++t)
        sheet += QStringLiteral("  TRACK %1 AUDIO\n    INDEX 01 %2\n")
                     .arg(t + 1, 2, 10, QLatin1Char('0'))
                     .arg(FramesToMsfText(starts[t]))
                     .toLatin1();
    QFile sheetFile(cue);
    if (!sheetFile.open(QIODevice::WriteOnly) || sheetFile.write(sheet) != sheet.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(cue));
        return 1;
    }
    sheetFile.close();

    // The peers: ffmpeg decodes the album into one WAV file that sox then cuts
    // into the tracks; flac decodes each track's stretch of the file directly.
    std::string cutBySox = "ffmpeg -loglevel error -threads 1 -y -i '" + flac.toStdString() + "' album.wav";
    std::string cutByFlac;
    for (size_t t = 0; t < starts.size(); ++t) {
        const qint64 first = starts[t] * CDSamplesPerFrame;
        const qint64 end = (t + 1 < starts.size() ? starts[t + 1] : total) * CDSamplesPerFrame;
        const std::string name =
            QStringLiteral("track%1.wav").arg(t + 1, 2, 10, QLatin1Char('0')).toStdString();
        cutBySox += " && sox album.wav " + name + " trim " + std::to_string(first) + "s " +
                    std::to_string(end - first) + "s";
        cutByFlac += (t == 0 ? "" : " && ") + std::string("flac -d -s -f --skip=") + std::to_string(first) +
                     " --until=" + std::to_string(end) + " -o " + name + " '" + flac.toStdString() + "'";
    }
    cutBySox += " && rm album.wav";

    const std::string self =
        QFile::encodeName(QFileInfo(QString::fromLocal8Bit(argv[0])).absoluteFilePath()).toStdString();
    const std::string cuePath = QFile::encodeName(cue).toStdString();
    struct TSide {
        const char* Name;
        QString Folder;
        std::vector<std::string> Command;
        std::vector<double> Times;
        std::vector<double> Cpu;
        long Peak = 0;
    };
    std::vector<TSide> sides = {
        {"velbrook", ours, {self, "--rip", cuePath, QFile::encodeName(ours).toStdString()}, {}, {}, 0},
        {"ffmpeg+sox", peer, {"sh", "-c", cutBySox}, {}, {}, 0},
        {"flac -d", folder.filePath(QStringLiteral("flac")), {"sh", "-c", cutByFlac}, {}, {}, 0},
    };
    auto settle = [&] {
        for (const TSide& side : sides)
            EmptyFolder(side.Folder);
        sync();
    };
    // A first round, not timed, warms the cache and must give the same
    // samples on every side.
    settle();
    for (const TSide& side : sides) {
        if (!RunChild(side.Command, side.Folder).Ok) {
            std::fprintf(stderr, "%s failed (are ffmpeg, sox and flac installed?)\n", side.Name);
            return 1;
        }
    }
    bool same = true;
    for (size_t t = 0; t < starts.size(); ++t) {
        const QString name = QStringLiteral("/track%1.wav").arg(t + 1, 2, 10, QLatin1Char('0'));
        const QByteArray ourSamples = WavSamples(ours + name);
        for (size_t i = 1; i < sides.size(); ++i) {
            if (ourSamples.isEmpty() || ourSamples != WavSamples(sides[i].Folder + name)) {
                std::fprintf(stderr, "track %zu differs from what %s gives\n", t + 1, sides[i].Name);
                same = false;
            }
        }
    }
    for (int run = 0; run < runs; ++run) {
        // Each run starts with another side, so none always meets a warmer cache.
        for (size_t k = 0; k < sides.size(); ++k) {
            TSide& side = sides[(k + size_t(run)) % sides.size()];
            settle();
            const TRun result = RunChild(side.Command, side.Folder);
            if (!result.Ok) {
                std::fprintf(stderr, "%s failed\n", side.Name);
                return 1;
            }
            side.Times.push_back(result.Seconds);
            side.Cpu.push_back(result.CpuSeconds);
            side.Peak = std::max(side.Peak, result.PeakKilobytes);
            std::printf("run %d  %-11s %.2f s (cpu %.2f s)  peak %ld MB\n", run + 1, side.Name,
                        result.Seconds, result.CpuSeconds, result.PeakKilobytes / 1024);
        }
    }
    settle();
    const double ourMedian = Median(sides[0].Times);
    std::printf(
        "medians of %d runs: velbrook %.2f s, ffmpeg -i + sox trim %.2f s, flac -d --skip --until %.2f s\n",
        runs, ourMedian, Median(sides[1].Times), Median(sides[2].Times));
    const double ratio = ourMedian / Median(sides[1].Times);
    std::printf("ratio to ffmpeg + cutting %.3f (target <= 1.10), to flac -d %.3f\n", ratio,
                ourMedian / Median(sides[2].Times));
    // On a machine shared with other work the processor time is the steadier
    // measure; the target is judged on the wall-clock time above.
    std::printf("processor time (median): velbrook %.2f s, ffmpeg + sox %.2f s, flac -d %.2f s\n",
                Median(sides[0].Cpu), Median(sides[1].Cpu), Median(sides[2].Cpu));
    const long peak = sides[0].Peak;
    std::printf("velbrook peak memory %.1f MB (target < 64 MB)\n", double(peak) / 1024.0);
    std::printf("samples %s\n", same ? "identical on every side" : "DIFFER");
    const bool met = same && ratio <= 1.10 && peak < 64 * 1024;
    std::printf("%s\n", met ? "targets met" : "TARGETS MISSED");
    return met ? 0 : 1;
}
