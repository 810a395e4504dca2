// CUE sheets over sound files, read as drives. The sound files are made by
// other programs (sox, flac, wavpack) from the sectors of one reference BIN, and
// what the drive library serves is compared with that BIN and with what
// cd-paranoia reads from it.
#include "cd/cd_drive.h"
#include "cd/cdio_text.h"
#include "cd/image_writer.h"
#include "cd_test_support.h"
#include "core/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <tuple>
#include <unistd.h>

namespace {

// The reference disc: three tracks, the second and third with a pregap. The
// silent variant has a silent hidden stretch before track 1 and a silent
// pregap before track 3, as rips write with PREGAP and POSTGAP lines.
constexpr qint64 Frames1 = 901;
constexpr qint64 Gap2 = 40;
constexpr qint64 Frames2 = 857;
constexpr qint64 Gap3 = 75;
constexpr qint64 Frames3 = 801;
constexpr qint64 Hidden = 75;

QByteArray Msf(qint64 frames)
{
    return FramesToMsfText(frames).toLatin1();
}

QByteArray Track(int number)
{
    return QStringLiteral("  TRACK %1 AUDIO\n").arg(number, 2, 10, QLatin1Char('0')).toLatin1();
}

QByteArray Index(int number, qint64 frames)
{
    return "    INDEX 0" + QByteArray::number(number) + " " + Msf(frames) + "\n";
}

QByteArray File(const QString& name, const char* type = "WAVE")
{
    return "FILE \"" + name.toUtf8() + "\" " + type + "\n";
}

bool RunTool(const QString& program, const QStringList& arguments)
{
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(120000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        ADD_FAILURE() << qPrintable(program) << " " << qPrintable(arguments.join(' ')) << ": "
                      << tool.readAllStandardError().constData();
        return false;
    }
    return true;
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The samples of a WAV file: what follows its "data" chunk header.
QByteArray WavSamples(const QString& path)
{
    const QByteArray wav = ReadFile(path);
    const qsizetype data = wav.indexOf("data", 12);
    return data < 0 ? QByteArray() : wav.mid(data + 8);
}

QString FirstDifference(const QByteArray& got, const QByteArray& expected)
{
    if (got == expected)
        return {};
    qsizetype at = 0;
    while (at < got.size() && at < expected.size() && got[at] == expected[at])
        ++at;
    return QStringLiteral("%1 bytes instead of %2, first difference in sector %3")
        .arg(got.size())
        .arg(expected.size())
        .arg(at / CDFrameBytes);
}

QByteArray ReadSectors(CDHandle handle, qint64 start, qint64 frames, int* result)
{
    std::vector<std::uint8_t> storage(sizeof(CDTrackBuffer) + size_t(frames) * CDFrameBytes);
    auto* buffer = reinterpret_cast<CDTrackBuffer*>(storage.data());
    buffer->StartFrame = static_cast<std::uint32_t>(start);
    buffer->NumFrames = static_cast<std::uint32_t>(frames);
    buffer->MaxLength = static_cast<std::uint32_t>(frames * CDFrameBytes);
    *result = ReadCDAudioLBA(handle, buffer);
    return QByteArray(reinterpret_cast<const char*>(CDTrackBufferData(buffer)), qsizetype(buffer->Length));
}

// Every sector up to the lead-out in reads of ten, as extraction reads them.
QByteArray ReadDisc(CDHandle handle, qint64 leadOut)
{
    QByteArray all;
    for (qint64 at = 0; at < leadOut; at += 10) {
        int result = 0;
        all += ReadSectors(handle, at, std::min<qint64>(10, leadOut - at), &result);
        if (result != 1) {
            ADD_FAILURE() << "sector " << at << ": " << qPrintable(GetAspiLibErrorText());
            break;
        }
    }
    return all;
}

CDTOC MsfToc(CDHandle handle)
{
    CDTOC toc{};
    EXPECT_NE(ModifyCDParms(handle, CDP_MSF, 1), 0);
    EXPECT_EQ(ReadTOC(handle, &toc), 1) << qPrintable(GetAspiLibErrorText());
    return toc;
}

QString DiscIdOf(const QString& image)
{
    SetCDImages({image});
    return GetDiscId();
}

struct TAlbum {
    TCdTest Test;
    std::vector<qint64> Index0, Index1;
    qint64 LeadOut = 0;
    QString Cue; // the reference BIN/CUE
    QString Bin;

    explicit TAlbum(bool silent = false)
    {
        const qint64 hidden = silent ? Hidden : 0;
        Index0 = {0, hidden + Frames1, hidden + Frames1 + Gap2 + Frames2};
        Index1 = {hidden, Index0[1] + Gap2, Index0[2] + Gap3};
        LeadOut = Index1[2] + Frames3;
        QByteArray bin(LeadOut * CDFrameBytes, '\0');
        auto play = [&](int voice, qint64 at, qint64 frames) {
            SynthesizeFrames(voice, 0, frames, bin.data() + at * CDFrameBytes);
        };
        play(0, Index1[0], Frames1);
        play(101, Index0[1], Gap2);
        play(1, Index1[1], Frames2);
        if (!silent)
            play(102, Index0[2], Gap3);
        play(2, Index1[2], Frames3);
        Bin = Test.Home.File("disc.bin");
        Test.Home.Write("disc.bin", bin);
        QByteArray cue = File("disc.bin", "BINARY");
        for (int t = 0; t < 3; ++t) {
            cue += Track(t + 1);
            if (Index0[size_t(t)] < Index1[size_t(t)])
                cue += Index(0, Index0[size_t(t)]);
            cue += Index(1, Index1[size_t(t)]);
        }
        Cue = Sheet("disc.cue", cue);
    }

    QByteArray Sectors(qint64 first, qint64 frames) const { return DataSlice(Bin, first, frames); }

    QString Sheet(const QString& name, const QByteArray& text)
    {
        Test.Home.Write(name, text);
        return Test.Home.File(name);
    }

    // Writes the sectors from first up to end as a sound file made by another
    // program, chosen by the name's extension (.bin and .be stay raw, the
    // latter big-endian).
    void Cut(const QString& name, qint64 first, qint64 end, const QStringList& options = {})
    {
        const QString out = Test.Home.File(name);
        QDir().mkpath(QFileInfo(out).path());
        const QString raw = Test.Home.File(QStringLiteral("cut.pcm"));
        Test.Home.Write("cut.pcm", Sectors(first, end - first));
        const QStringList rawIn{"-t", "raw", "-r", "44100", "-e", "signed-integer",
                                "-b", "16",  "-c", "2",     "-L", raw};
        const QString suffix = QFileInfo(name).suffix().toLower();
        if (suffix == "wav") {
            RunTool("sox", rawIn + options + QStringList{out});
        } else if (suffix == "flac") {
            RunTool("flac", QStringList{"-s", "-f", "--force-raw-format", "--endian=little", "--sign=signed",
                                        "--channels=2", "--bps=16", "--sample-rate=44100"} +
                                options + QStringList{"-o", out, raw});
        } else if (suffix == "wv") {
            const QString wav = Test.Home.File(QStringLiteral("cut.wav"));
            RunTool("sox", rawIn + QStringList{wav});
            RunTool("wavpack", {"-q", "-y", wav, "-o", out});
            QFile::remove(wav);
        } else if (suffix == "be") {
            RunTool("sox", rawIn + QStringList{"-t", "raw", "-B", out});
        } else {
            QFile::remove(out);
            QFile::copy(raw, out);
        }
        QFile::remove(raw);
    }
};

// One sheet per layout that rips come in, each over files cut from the album.
struct TLayout {
    const char* Name;
    bool Silent;
    std::function<QByteArray(TAlbum&)> Make;
};

// One file per track, each track's file holding the pregap of the next
// (INDEX 00 of the next track in the previous file's block).
QByteArray GapsAppended(TAlbum& a, const QStringList& names, const char* type = "WAVE")
{
    QByteArray sheet;
    for (int t = 0; t < 3; ++t) {
        const qint64 end = t < 2 ? a.Index1[size_t(t) + 1] : a.LeadOut;
        a.Cut(QString(names[t]).replace('\\', '/'), a.Index1[size_t(t)], end);
        sheet += File(names[t], type);
        if (t > 0)
            sheet += Index(1, 0);
        else
            sheet += Track(1) + Index(1, 0);
        if (t < 2)
            sheet += Track(t + 2) + Index(0, a.Index0[size_t(t) + 1] - a.Index1[size_t(t)]);
    }
    return sheet;
}

// One file per track, each beginning with the track's own pregap.
QByteArray GapsPrepended(TAlbum& a, const QString& extension)
{
    QByteArray sheet;
    for (int t = 0; t < 3; ++t) {
        const QString name = QStringLiteral("Track %1.%2").arg(t + 1).arg(extension);
        a.Cut(name, a.Index0[size_t(t)], t < 2 ? a.Index0[size_t(t) + 1] : a.LeadOut);
        sheet += File(name) + Track(t + 1);
        if (a.Index1[size_t(t)] > a.Index0[size_t(t)])
            sheet += Index(0, 0);
        sheet += Index(1, a.Index1[size_t(t)] - a.Index0[size_t(t)]);
    }
    return sheet;
}

// The whole disc in one file.
QByteArray OneFile(TAlbum& a, const QString& name, const char* type = "WAVE", const QStringList& options = {})
{
    a.Cut(name, 0, a.LeadOut, options);
    QByteArray sheet =
        "REM GENRE Rock\nREM DATE 1999\nPERFORMER \"Someone\"\nTITLE \"An Album\"\n" + File(name, type);
    for (int t = 0; t < 3; ++t) {
        sheet += Track(t + 1);
        if (a.Index0[size_t(t)] < a.Index1[size_t(t)])
            sheet += Index(0, a.Index0[size_t(t)]);
        sheet += Index(1, a.Index1[size_t(t)]);
    }
    return sheet;
}

const std::vector<TLayout>& Layouts()
{
    static const std::vector<TLayout> layouts = {
        {"one FLAC", false, [](TAlbum& a) { return OneFile(a, "album.flac"); }},
        {"one WavPack", false, [](TAlbum& a) { return OneFile(a, "album.wv"); }},
        {"one FLAC with cover art", false,
         [](TAlbum& a) {
             RunTool("ffmpeg", {"-loglevel", "error", "-y", "-f", "lavfi", "-i", "color=red:s=16x16",
                                "-frames:v", "1", a.Test.Home.File("cover.png")});
             return OneFile(a, "cover.flac", "WAVE", {"--picture=" + a.Test.Home.File("cover.png")});
         }},
        {"one big-endian raw file", false, [](TAlbum& a) { return OneFile(a, "album.be", "MOTOROLA"); }},
        {"a WAV per track, gaps appended", false,
         [](TAlbum& a) {
             return GapsAppended(a, {"01.wav", "02.wav", "03.wav"});
         }},
        {"a WAV per track, gaps prepended", false, [](TAlbum& a) { return GapsPrepended(a, "wav"); }},
        {"a FLAC per track, gaps prepended", false, [](TAlbum& a) { return GapsPrepended(a, "flac"); }},
        {"raw files per track", false,
         [](TAlbum& a) {
             return GapsAppended(a, {"01.bin", "02.bin", "03.bin"}, "BINARY");
         }},
        {"backslashes and another case", false,
         [](TAlbum& a) {
             QByteArray sheet =
                 GapsAppended(a, {"CD1\\Track 01.wav", "CD1\\Track 02.wav", "CD1\\Track 03.wav"});
             QDir(a.Test.Home.Path()).rename("CD1", "cd1");
             QDir(a.Test.Home.File("cd1")).rename("Track 02.wav", "track 02.WAV");
             return sheet;
         }},
        {"PREGAP on tracks 1 and 3", true,
         [](TAlbum& a) {
             a.Cut("01.wav", a.Index1[0], a.Index1[1]);
             a.Cut("02.wav", a.Index1[1], a.Index0[2]);
             a.Cut("03.wav", a.Index1[2], a.LeadOut);
             return File("01.wav") + Track(1) + "    PREGAP " + Msf(Hidden) + "\n" + Index(1, 0) + Track(2) +
                    Index(0, Frames1) + File("02.wav") + Index(1, 0) + File("03.wav") + Track(3) +
                    "    PREGAP " + Msf(Gap3) + "\n" + Index(1, 0);
         }},
        {"POSTGAP after track 2", true,
         [](TAlbum& a) {
             a.Cut("all.flac", a.Index1[0], a.Index0[2]);
             a.Cut("03.flac", a.Index1[2], a.LeadOut);
             return File("all.flac") + Track(1) + "    PREGAP " + Msf(Hidden) + "\n" + Index(1, 0) +
                    Track(2) + Index(0, Frames1) + Index(1, Frames1 + Gap2) + "    POSTGAP " + Msf(Gap3) +
                    "\n" + File("03.flac") + Track(3) + Index(1, 0);
         }},
    };
    return layouts;
}

} // namespace

TEST(AlbumImage, LayoutsOfRealRipsReadLikeTheBin)
{
    for (const bool silent : {false, true}) {
        TAlbum album(silent);
        const QString referenceId = DiscIdOf(album.Cue);
        ASSERT_FALSE(referenceId.isEmpty());
        const QByteArray bin = ReadFile(album.Bin);
        for (const TLayout& layout : Layouts()) {
            if (layout.Silent != silent)
                continue;
            SCOPED_TRACE(layout.Name);
            const QString sheet = album.Sheet("layout.cue", layout.Make(album));
            ASSERT_EQ(CheckCDImage(sheet), "");
            EXPECT_EQ(DiscIdOf(sheet), referenceId);
            SetCDImages({album.Cue, sheet});
            const CDHandle reference = album.Test.Open(0);
            const CDHandle handle = album.Test.Open(1);
            ASSERT_NE(handle, 0u) << qPrintable(GetAspiLibErrorText());
            const CDTOC expected = MsfToc(reference);
            const CDTOC toc = MsfToc(handle);
            EXPECT_EQ(std::memcmp(&toc, &expected, sizeof toc), 0);
            EXPECT_EQ(FirstDifference(ReadDisc(handle, album.LeadOut), bin), "");
            int result = 0;
            ReadSectors(handle, album.LeadOut - 5, 10, &result);
            EXPECT_EQ(result, 0);
            EXPECT_EQ(GetAspiLibError(), CDERR_OUT_OF_RANGE);
            EXPECT_EQ(CloseCDHandle(handle), 1);
        }
    }
}

TEST(AlbumImage, ExtractedTracksAreTheSourceAndWhatCdParanoiaReads)
{
    TAlbum album;
    const QString referenceId = DiscIdOf(album.Cue);
    // cd-paranoia reads the BIN through its own copy of libcdio; tracks run
    // from index 1 to the next track's index 1, as ours do.
    const QString paranoia = album.Test.Home.File("paranoia");
    QDir().mkpath(paranoia);
    for (int t = 1; t <= 3; ++t)
        ASSERT_TRUE(RunTool("cd-paranoia", {"-q", "-Z", "-d", album.Cue, "-w", QString::number(t),
                                            paranoia + QStringLiteral("/%1.wav").arg(t)}));
    struct TForm {
        const char* Name;
        QByteArray Sheet;
    };
    const std::vector<TForm> forms = {
        {"one FLAC", OneFile(album, "album.flac")},
        {"gaps appended", GapsAppended(album, {"01.wav", "02.wav", "03.wav"})},
        {"gaps prepended", GapsPrepended(album, "wav")},
    };
    for (const TForm& form : forms) {
        SCOPED_TRACE(form.Name);
        const QString sheet = album.Sheet(QStringLiteral("%1.cue").arg(form.Name), form.Sheet);
        EXPECT_EQ(DiscIdOf(sheet), referenceId);
        const CDHandle drive = album.Test.Open();
        ASSERT_NE(drive, 0u) << qPrintable(GetAspiLibErrorText());
        for (int t = 1; t <= 3; ++t) {
            const QString name = QStringLiteral("%1 %2").arg(form.Name).arg(t);
            ASSERT_EQ(CompletionResult(Rip(drive, t, name)), 0) << "track " << t;
            const QByteArray ripped = WavSamples(AppSettings().OutputFolder + "/" + name + ".wav");
            const qint64 end = t < 3 ? album.Index1[size_t(t)] : album.LeadOut;
            const qint64 start = album.Index1[size_t(t) - 1];
            EXPECT_EQ(FirstDifference(ripped, album.Sectors(start, end - start)), "") << "track " << t;
            EXPECT_EQ(FirstDifference(ripped, WavSamples(paranoia + QStringLiteral("/%1.wav").arg(t))), "")
                << "track " << t;
        }
    }
}

TEST(AlbumImage, ReadsThatJumpGiveTheSameSectorsAsReadsInOrder)
{
    TAlbum album;
    const QByteArray bin = ReadFile(album.Bin);
    // With and without a seek table, and a format that seeks otherwise.
    const std::vector<std::pair<QString, QStringList>> files = {
        {"album.flac", {}}, {"plain.flac", {"--no-seektable"}}, {"album.wv", {}}};
    for (const auto& [name, options] : files) {
        SCOPED_TRACE(name.toStdString());
        album.Cut(name, 0, album.LeadOut, options);
        SetCDImages({album.Sheet("jump.cue", File(name) + Track(1) + Index(1, 0))});
        const CDHandle drive = album.Test.Open();
        ASSERT_NE(drive, 0u) << qPrintable(GetAspiLibErrorText());
        std::vector<qint64> starts;
        for (qint64 at = 0; at + 10 <= album.LeadOut; at += 10)
            starts.push_back(at);
        std::shuffle(starts.begin(), starts.end(), std::mt19937(7));
        starts.resize(60);
        for (const qint64 start : starts) {
            int result = 0;
            const QByteArray got = ReadSectors(drive, start, 10, &result);
            ASSERT_EQ(result, 1) << start << ": " << qPrintable(GetAspiLibErrorText());
            ASSERT_EQ(FirstDifference(got, bin.mid(start * CDFrameBytes, 10 * CDFrameBytes)), "") << start;
        }
        EXPECT_EQ(CloseCDHandle(drive), 1);
    }
}

TEST(AlbumImage, WhatIsNotCdAudioIsNoDriveAndSaysWhy)
{
    TAlbum album;
    const qint64 end = album.LeadOut;
    for (const auto& [name, option, value] : {std::tuple{"hires", "-b", "24"}, {"dvd", "-r", "48000"}}) {
        album.Cut(QStringLiteral("%1.wav").arg(name), 0, end, {option, value});
        RunTool("flac", {"-s", "-f", album.Test.Home.File(QStringLiteral("%1.wav").arg(name)), "-o",
                         album.Test.Home.File(QStringLiteral("%1.flac").arg(name))});
    }
    album.Cut("mono.wav", 0, end, {"-c", "1"});
    album.Cut("lossy.wav", 0, end);
    RunTool("lame", {"--quiet", album.Test.Home.File("lossy.wav"), album.Test.Home.File("lossy.mp3")});
    QByteArray hundred = File("album.wav");
    album.Cut("album.wav", 0, end);
    for (int t = 1; t <= 100; ++t)
        hundred += Track(t) + Index(1, t);
    struct TCase {
        const char* Name;
        QByteArray Sheet;
        QStringList Why;
    };
    const std::vector<TCase> cases = {
        {"missing.cue",
         File("album.wav") + Track(1) + Index(1, 0) + File("gone.wav") + Track(2) + Index(1, 0),
         {"gone.wav", "line 4", "does not exist"}},
        {"hires.cue",
         File("hires.flac") + Track(1) + Index(1, 0),
         {"hires.flac", "24 bits", "only CD audio"}},
        {"dvd.cue", File("dvd.flac") + Track(1) + Index(1, 0), {"dvd.flac", "48000 Hz", "only CD audio"}},
        {"mono.cue", File("mono.wav") + Track(1) + Index(1, 0), {"mono.wav", "1 channels"}},
        {"lossy.cue", File("lossy.mp3", "MP3") + Track(1) + Index(1, 0), {"lossy.mp3", "floating-point"}},
        {"text.cue", File("disc.cue") + Track(1) + Index(1, 0), {"disc.cue", "sound"}},
        {"hundred.cue", hundred, {"at most 99 tracks"}},
        {"data.cue",
         File("album.wav") + "  TRACK 01 MODE1/2352\n" + Index(1, 0),
         {"data track", "album.wav"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString problem = CheckCDImage(album.Sheet(c.Name, c.Sheet));
        EXPECT_TRUE(problem.contains(c.Name)) << qPrintable(problem);
        for (const QString& why : c.Why)
            EXPECT_TRUE(problem.contains(why)) << qPrintable(problem);
        SetCDImages({album.Test.Home.File(c.Name)});
        EXPECT_EQ(album.Test.Open(), 0u);
    }
}

TEST(AlbumImage, SectorsAFileDoesNotHoldFailAndTheRestRead)
{
    TAlbum album;
    struct TCase {
        const char* Name;
        std::function<QByteArray()> Make;
        qint64 MissingFrom; // sectors from here to the end of Track fail
        int Track;
        bool SameToc; // whether the disc keeps the reference's table of contents
    };
    const std::vector<TCase> cases = {
        // The WAV header still claims the whole disc.
        {"cut WAV",
         [&] {
             const QByteArray sheet = OneFile(album, "album.wav");
             const QString wav = album.Test.Home.File("album.wav");
             const qint64 cut = album.Index1[2] + 500;
             EXPECT_EQ(::truncate(QFile::encodeName(wav).constData(), 44 + cut * CDFrameBytes + 1000), 0);
             return sheet;
         },
         album.Index1[2] + 500, 3, true},
        // The next track's INDEX 00 lies beyond the end of the file it is in: the
        // sectors up to it are missing, and the pregap it begins (the rest of the
        // file) is empty.
        {"short track file",
         [&] {
             const QByteArray sheet = GapsAppended(album, {"01.flac", "02.flac", "03.flac"});
             album.Cut("01.flac", album.Index1[0], album.Index0[1] - 20);
             return sheet;
         },
         album.Index0[1] - 20, 1, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        SetCDImages({album.Cue, album.Sheet("short.cue", c.Make())});
        const CDHandle reference = album.Test.Open(0);
        const CDHandle drive = album.Test.Open(1);
        ASSERT_NE(drive, 0u) << qPrintable(GetAspiLibErrorText());
        // The table of contents is the sheet's; the lost sectors are a read error.
        const CDTOC expected = MsfToc(reference);
        const CDTOC toc = MsfToc(drive);
        EXPECT_EQ(std::memcmp(&toc, &expected, sizeof toc) == 0, c.SameToc);
        for (int t = 1; t <= 3; ++t) {
            const QString name = QStringLiteral("%1 %2").arg(c.Name).arg(t);
            const auto reports = Rip(drive, t, name);
            const qint64 start = album.Index1[size_t(t) - 1];
            const QByteArray file = ReadFile(AppSettings().OutputFolder + "/" + name + ".wav");
            if (t != c.Track) {
                EXPECT_EQ(CompletionResult(reports), 0) << "track " << t;
                continue;
            }
            EXPECT_EQ(CompletionResult(reports), 3);
            // What was read before the gap is kept; nothing after it.
            const qint64 kept = (file.size() - 44) / CDFrameBytes;
            EXPECT_GE(start + kept, c.MissingFrom - 10);
            EXPECT_LE(start + kept, c.MissingFrom);
            EXPECT_EQ(FirstDifference(file.mid(44), album.Sectors(start, kept)), "");
        }
        int result = 0;
        ReadSectors(drive, c.MissingFrom - 10, 10, &result);
        EXPECT_EQ(result, 1);
        ReadSectors(drive, c.MissingFrom, 1, &result);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(GetAspiLibError(), CDERR_READ);
        EXPECT_TRUE(GetAspiLibErrorText().contains("cannot be read")) << qPrintable(GetAspiLibErrorText());
        EXPECT_EQ(CloseCDHandle(drive), 1);
    }
}

TEST(AlbumImage, DamagedFlacFrameLosesOnlyItsOwnSectors)
{
    TAlbum album;
    const QString sheet = album.Sheet("album.cue", OneFile(album, "album.flac"));
    // Frames of 4096 samples, each starting with a sync code and its number;
    // damage the one in the middle of track 2.
    const qint64 middle = (album.Index1[1] + Frames2 / 2) * CDSamplesPerFrame;
    const int frameNumber = static_cast<int>(middle / 4096);
    ASSERT_GE(frameNumber, 128);
    ASSERT_LT(frameNumber, 2048);
    // The frame number, coded like UTF-8 in two bytes.
    const char number[] = {char(0xC0 | frameNumber >> 6), char(0x80 | (frameNumber & 0x3F)), 0};
    QByteArray flac = ReadFile(album.Test.Home.File("album.flac"));
    qsizetype at = 0;
    // Block size 4096 and 44100 Hz (0xC9), 16 bits (low nibble 8) in the header.
    for (at = flac.indexOf("\xFF\xF8\xC9", 1000); at >= 0; at = flac.indexOf("\xFF\xF8\xC9", at + 1)) {
        if ((flac[at + 3] & 0x0F) == 0x08 && flac.mid(at + 4, 2) == number)
            break;
    }
    ASSERT_GT(at, 0);
    for (qsizetype i = at + 40; i < at + 60; ++i)
        flac[i] = static_cast<char>(flac[i] ^ 0x5A);
    album.Test.Home.Write("album.flac", flac);

    SetCDImages({sheet});
    const CDHandle drive = album.Test.Open();
    ASSERT_NE(drive, 0u) << qPrintable(GetAspiLibErrorText());
    for (int t : {1, 3}) {
        const QString name = QStringLiteral("damaged %1").arg(t);
        ASSERT_EQ(CompletionResult(Rip(drive, t, name)), 0);
        const qint64 start = album.Index1[size_t(t) - 1];
        const qint64 end = t == 1 ? album.Index1[1] : album.LeadOut;
        EXPECT_EQ(FirstDifference(WavSamples(AppSettings().OutputFolder + "/" + name + ".wav"),
                                  album.Sectors(start, end - start)),
                  "");
    }
    EXPECT_EQ(CompletionResult(Rip(drive, 2, "damaged 2")), 3);
    // Read in tens, track 2 loses the reads that touch the damaged frame (4096
    // samples: 7 sectors) and no other.
    const qint64 damagedFirst = frameNumber * 4096 / CDSamplesPerFrame;
    const qint64 damagedLast = ((frameNumber + 1) * 4096 - 1) / CDSamplesPerFrame;
    for (qint64 s = album.Index1[1]; s + 10 <= album.Index1[2]; s += 10) {
        int result = 0;
        const QByteArray got = ReadSectors(drive, s, 10, &result);
        const bool touches = s <= damagedLast && s + 9 >= damagedFirst;
        EXPECT_EQ(result, touches ? 0 : 1) << "sectors " << s << " to " << s + 9;
        if (result == 1)
            EXPECT_EQ(FirstDifference(got, album.Sectors(s, 10)), "") << s;
        else
            EXPECT_TRUE(GetAspiLibErrorText().contains("album.flac")) << qPrintable(GetAspiLibErrorText());
    }
}

TEST(AlbumImage, RealDiscsGiveTheirCdTextThroughLibcdio)
{
    // libcdio reads CD-Text from a drive as from a sheet it opens itself (it
    // wants the BIN named like the sheet).
    TAlbum album;
    QDir().mkpath(album.Test.Home.File("libcdio"));
    ASSERT_TRUE(QFile::link(album.Bin, album.Test.Home.File("libcdio/plain.bin")));
    album.Sheet("libcdio/plain.cue", "PERFORMER \"Band\"\nTITLE \"Disc\"\nFILE \"plain.bin\" BINARY\n" +
                                         Track(1) + "    TITLE \"One\"\n" + Index(1, 0) + Track(2) +
                                         "    TITLE \"Two\"\n" + "    PERFORMER \"Other\"\n" +
                                         Index(1, album.Index1[1]) + Track(3) + Index(1, album.Index1[2]));
    CdIo_t* cdio = cdio_open_cue(QFile::encodeName(album.Test.Home.File("libcdio/plain.cue")).constData());
    ASSERT_NE(cdio, nullptr);
    const TCDText read = CDTextOfCdio(cdio);
    cdio_destroy(cdio);
    EXPECT_EQ(read.Artist, "Band");
    EXPECT_EQ(read.Album, "Disc");
    EXPECT_EQ(read.TrackTitle(1), "One");
    EXPECT_EQ(read.TrackTitle(2), "Other - Two");
    EXPECT_EQ(read.TrackTitle(3), "");
}
