// WAV pipeline speed against the tools people use for the same job, measured
// in one run on the same files of music (medians of several runs each, taking
// turns; wall and processor-time ratios shown, the target on wall time):
//   PCM copy TWaveIn -> TWaveOut        vs  dd bs=16384            (target: within 1.5x)
//   IMA ADPCM encode TWaveIn -> TWaveOut vs  ffmpeg adpcm_ima_wav   (target: at least as fast)
//   IMA ADPCM decode TWaveIn -> TWaveOut vs  ffmpeg to pcm_s16le    (target: at least as fast)
// and the peak memory of our pipelines on a short and a long file, which must
// not grow with the file.
//
// wave_bench [--minutes N] [--runs N] [--dir FOLDER]; exits 1 when a target is missed.
#include "audio/wave_in.h"
#include "audio/wave_out.h"
#include "support/child_run.h"
#include "support/music.h"
#include "support/run_output.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs one TWaveIn -> TWaveOut conversion to its end.
bool Convert(const QString& from, const QString& to, TWavType type)
{
    QFile::remove(to);
    TWaveIn in;
    in.SetFileName(from);
    TWaveOut out;
    out.SetFileName(to);
    out.SetWavType(type);
    out.AssignInput(&in);
    return RunOutputToEnd(out);
}

std::string Path(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

// Peak resident memory of one conversion, in a child process of its own.
long PeakKilobytes(const QString& from, const QString& to, TWavType type)
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(Convert(from, to, type) ? 0 : 1);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::exit(2);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int minutes = 10;
    int runs = 5;
    QString folder;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--minutes")
            minutes = args[i + 1].toInt();
        else if (args[i] == "--runs")
            runs = args[i + 1].toInt();
        else if (args[i] == "--dir")
            folder = args[i + 1];
    }
    QTemporaryDir temp(folder.isEmpty() ? QDir::tempPath() + "/wave-bench-XXXXXX"
                                        : folder + "/wave-bench-XXXXXX");
    auto path = [&](const char* name) { return temp.filePath(QString::fromLatin1(name)); };

    std::printf("Generating a %d-minute and a 1-minute 44100 Hz 16-bit stereo file of music...\n", minutes);
    WriteMusicWav(path("long.wav"), 44100, 2, minutes * 60);
    WriteMusicWav(path("short.wav"), 44100, 2, 60);

    // Memory first, in children, before this process has any worker thread.
    const long shortPcm = PeakKilobytes(path("short.wav"), path("mem.wav"), wtPCM);
    const long longPcm = PeakKilobytes(path("long.wav"), path("mem.wav"), wtPCM);
    const long shortIma = PeakKilobytes(path("short.wav"), path("mem.wav"), wtDVIADPCM);
    const long longIma = PeakKilobytes(path("long.wav"), path("mem.wav"), wtDVIADPCM);

    // Our IMA file is the input of both decoders.
    Convert(path("long.wav"), path("ima.wav"), wtDVIADPCM);
    // Warm the page cache for every input.
    Convert(path("long.wav"), path("warm.wav"), wtPCM);

    auto ours = [&](const char* from, const char* to, TWavType type) {
        return [=, &path] { return Measure([&] { return Convert(path(from), path(to), type); }); };
    };
    auto ffmpeg = [&](const char* from, const char* codec, const char* to) {
        return [=, &path, &temp] {
            return RunPeer({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", Path(path(from)), "-c:a", codec,
                            Path(path(to))},
                           temp.path());
        };
    };
    const TSides copy =
        Compare(runs, {ours("long.wav", "copy.wav", wtPCM), [&] {
                           return RunPeer({"dd", "if=" + Path(path("long.wav")), "of=" + Path(path("dd.wav")),
                                           "bs=16384", "status=none"},
                                          temp.path());
                       }});
    const TSides encode = Compare(
        runs, {ours("long.wav", "enc.wav", wtDVIADPCM), ffmpeg("long.wav", "adpcm_ima_wav", "ffenc.wav")});
    const TSides decode =
        Compare(runs, {ours("ima.wav", "dec.wav", wtPCM), ffmpeg("ima.wav", "pcm_s16le", "ffdec.wav")});

    std::printf("\n%d-minute stereo music, medians of %d runs:\n", minutes, runs);
    bool met = Report("PCM copy TWaveIn->TWaveOut vs dd bs=16384 (target <= 1.5)", copy, 1, 1.5, false);
    met = Report("IMA ADPCM encode vs ffmpeg adpcm_ima_wav (at least as fast)", encode, 1, 1.0, false) && met;
    met = Report("IMA ADPCM decode vs ffmpeg pcm_s16le (at least as fast)", decode, 1, 1.0, false) && met;
    std::printf("\nPeak memory (max RSS), 1-minute vs %d-minute file:\n", minutes);
    std::printf("  PCM copy:   %ld KB vs %ld KB\n", shortPcm, longPcm);
    std::printf("  IMA encode: %ld KB vs %ld KB\n", shortIma, longIma);
    // Flat: the long file may not cost more than a little slack over the short one.
    const bool flat = longPcm <= shortPcm + 2048 && longIma <= shortIma + 2048;
    std::printf("  memory stays flat with file length: %s\n", flat ? "met" : "MISSED");
    return met && flat ? 0 : 1;
}
