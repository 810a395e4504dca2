// Peak memory of converting a WAV file that holds MPEG audio, with
// `velbrook --convert wav-wav`, on a generated 3-hour file at 32 kbit/s (the
// length and rate of a long recording) and on a 1-minute one, with FFmpeg
// decoding the same long file alongside. Target: the 3-hour conversion stays
// below 64 MB, and it does not grow with the file.
//
//   velbrook-mpegwav-bench [--hours N] [--dir FOLDER]; exits 1 when the target is missed.
#include "audio/wave_format.h"
#include "support/child_run.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr double TargetMegabytes = 64;

// A tone under some noise, encoded by LAME at 32 kbit/s mono into a WAV file
// (format tag 85), as recorders and converters write them.
bool MakeMpegWav(const QString& path, int seconds)
{
    const std::string length = std::to_string(seconds);
    const TRun run = RunChild({"ffmpeg",
                               "-v",
                               "error",
                               "-y",
                               "-f",
                               "lavfi",
                               "-i",
                               "sine=frequency=440:sample_rate=22050:duration=" + length,
                               "-f",
                               "lavfi",
                               "-i",
                               "anoisesrc=sample_rate=22050:amplitude=0.05:duration=" + length,
                               "-filter_complex",
                               "amix=inputs=2",
                               "-ac",
                               "1",
                               "-c:a",
                               "libmp3lame",
                               "-b:a",
                               "32k",
                               "-f",
                               "wav",
                               path.toStdString()},
                              QFileInfo(path).path());
    return run.Ok && QFileInfo(path).size() > 0;
}

// Bytes of samples in a PCM WAV file, -1 when it is none.
qint64 PcmDataSize(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const TWavHeader header = ScanWavHeader(file);
    if (header.WavType != wtPCM || header.DataOffset < 0)
        return -1;
    return file.size() - header.DataOffset;
}

// Converts input into folder with the program; its run and the PCM bytes made.
TRun Convert(const std::string& velbrook, const QString& input, const QString& folder, const QString& home,
             qint64* made)
{
    EmptyFolder(folder);
    const TRun run = RunChild({velbrook, "--convert", "wav-wav", "--bits", "16", "--output",
                               folder.toStdString(), input.toStdString()},
                              folder, home);
    *made = PcmDataSize(folder + QLatin1Char('/') + QFileInfo(input).fileName());
    return run;
}

double Megabytes(const TRun& run)
{
    return double(run.PeakKilobytes) / 1024.0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int hours = 3;
    QString base = QDir::tempPath();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--hours") == 0)
            hours = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--dir") == 0)
            base = QString::fromLocal8Bit(argv[i + 1]);
    }
    QTemporaryDir folder(base + QStringLiteral("/velbrook-mpegwav-bench-XXXXXX"));
    if (!folder.isValid()) {
        std::fprintf(stderr, "cannot make a working folder in %s\n", qPrintable(base));
        return 2;
    }
    const QString home = folder.filePath(QStringLiteral("home"));
    QDir().mkpath(home);
    const QString longFile = folder.filePath(QStringLiteral("long.wav"));
    const QString shortFile = folder.filePath(QStringLiteral("short.wav"));
    const auto start = std::chrono::steady_clock::now();
    if (!MakeMpegWav(longFile, hours * 3600) || !MakeMpegWav(shortFile, 60)) {
        std::fprintf(stderr, "ffmpeg with libmp3lame could not make the MPEG-in-WAV files\n");
        return 2;
    }
    std::printf("made a %d-hour MPEG-in-WAV file of %.1f MB in %.0f s\n", hours,
                double(QFileInfo(longFile).size()) / 1048576.0,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());

    const std::string velbrook = VELBROOK_PROGRAM;
    qint64 longMade = 0;
    qint64 shortMade = 0;
    const TRun ours =
        Convert(velbrook, longFile, folder.filePath(QStringLiteral("out-long")), home, &longMade);
    const TRun oursShort =
        Convert(velbrook, shortFile, folder.filePath(QStringLiteral("out-short")), home, &shortMade);
    const QString peerOut = folder.filePath(QStringLiteral("ffmpeg.wav"));
    const TRun peer = RunChild({"ffmpeg", "-v", "error", "-y", "-i", longFile.toStdString(), "-c:a",
                                "pcm_s16le", peerOut.toStdString()},
                               folder.path());
    const qint64 peerMade = PcmDataSize(peerOut);
    QFile::remove(peerOut);
    EmptyFolder(folder.filePath(QStringLiteral("out-long")));

    std::printf("velbrook --convert wav-wav, %d hours: %6.2f s, peak %.1f MB, %.1f MB of PCM\n", hours,
                ours.Seconds, Megabytes(ours), double(longMade) / 1048576.0);
    std::printf("velbrook --convert wav-wav, 1 minute: %6.2f s, peak %.1f MB\n", oursShort.Seconds,
                Megabytes(oursShort));
    std::printf("ffmpeg to PCM, %d hours:               %6.2f s, peak %.1f MB, %.1f MB of PCM\n", hours,
                peer.Seconds, Megabytes(peer), double(peerMade) / 1048576.0);
    std::printf("peak memory of the %d-hour conversion: %.1f MB (target < %.0f MB), %.2f times FFmpeg's\n",
                hours, Megabytes(ours), TargetMegabytes, Megabytes(ours) / std::max(1.0, Megabytes(peer)));

    // The whole sound must have come out: as much PCM as FFmpeg decodes.
    const bool whole = ours.Ok && oursShort.Ok && peerMade > 0 && longMade == peerMade && shortMade > 0;
    if (!whole)
        std::printf("the conversion did not make all of the sound (%lld bytes, FFmpeg %lld)\n",
                    static_cast<long long>(longMade), static_cast<long long>(peerMade));
    return whole && Megabytes(ours) < TargetMegabytes ? 0 : 1;
}
