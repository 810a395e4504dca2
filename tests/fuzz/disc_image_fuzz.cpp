// Arbitrary bytes as a CUE sheet (first byte even) or a TOC file (odd). What the
// parser accepts must be a sane disc, its plain copy must read back the same,
// and the drive library must read a small accepted image exactly as we
// described it: through libcdio, or served from its raw and sound files (short
// WAV files stand in for these, so reads also run past their ends).
#include "cd/cd_drive.h"
#include "cd/disc_image.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// Sound files are this short, whatever the sheet makes of them.
constexpr qint64 ShortAudioFrames = 30;

QByteArray WavHeader(qint64 frames)
{
    QByteArray header("RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xAC\0\0\x10\xB1\x02\0\x04\0\x10\0data",
                      40);
    char bytes[4];
    qToLittleEndian(quint32(frames * CDFrameBytes), bytes);
    header.append(bytes, 4);
    return header;
}

void CheckSane(const TImageDescription& description)
{
    Check(!description.Tracks.empty() && description.Tracks.size() <= 99);
    Check(description.Files.size() <= size_t(CDMaxImageFiles));
    // Positions count within their files, which follow one another.
    std::pair<int, qint64> previous{0, 0};
    for (const TImageTrack& track : description.Tracks) {
        const std::pair<int, qint64> start{track.StartFile, track.Start};
        Check(start >= previous && track.Start < CDMaxFrames + CDLeadInFrames);
        Check(track.StartFile >= 0 && size_t(track.StartFile) < description.Files.size());
        Check(track.PregapStart < 0 || std::pair<int, qint64>{track.PregapFile, track.PregapStart} <= start);
        previous = start;
    }
}

// Opens the accepted description with its files (raw ones just long enough,
// sound files short) through the drive library, compares the table of
// contents and reads across the disc.
void ReadThroughTheDriveLibrary(const QByteArray& text, bool cue, const TImageDescription& description)
{
    static QTemporaryDir folder;
    const QString name = folder.path() + (cue ? QStringLiteral("/fuzz.cue") : QStringLiteral("/fuzz.toc"));
    QFile file(name);
    Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    for (const TImageFile& named : description.Files) {
        QFile data(folder.path() + QLatin1Char('/') + named.Name);
        if (named.Name.contains(QLatin1Char('/')) || named.Name.contains(QLatin1Char('\\')) ||
            named.Name.startsWith(QLatin1String("fuzz.")) ||
            !data.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return;
        if (named.Kind == TImageFileKind::Audio) {
            data.write(WavHeader(ShortAudioFrames));
            data.resize(44 + ShortAudioFrames * CDFrameBytes);
        } else {
            data.resize((description.Tracks.back().Start + 20) * CDFrameBytes);
        }
    }
    const TDiscImage image = LoadDiscImage(name);
    if (!image.IsValid())
        return;
    SetCDImages({name});
    CDDriveList list{};
    list.MaxDrives = 1;
    Check(GetCDList(&list) == 1 && list.NumDrives == 1);
    CDHandleRequest request{12, 1, list.Drives[0].HostAdapter, list.Drives[0].Target, 0, {}};
    const CDHandle handle = GetCDHandle(&request);
    if (handle == 0)
        return; // refused as misread: a clear answer
    CDTOC toc{};
    Check(ReadTOC(handle, &toc) == 1);
    Check(toc.FirstTrack == 1 && toc.LastTrack <= image.Tracks.size());
    for (int i = 0; i < toc.LastTrack; ++i) {
        const CDTOCEntry& entry = toc.Entries[i];
        const qint64 lba = qint64(entry.Address[0]) << 24 | entry.Address[1] << 16 | entry.Address[2] << 8 |
                           entry.Address[3];
        Check(lba == image.Tracks[size_t(i)].Start);
    }
    // Reads may fail where a file falls short; they must not do anything worse.
    std::vector<std::uint8_t> storage(sizeof(CDTrackBuffer) + 10 * CDFrameBytes);
    auto* buffer = reinterpret_cast<CDTrackBuffer*>(storage.data());
    for (const qint64 at : {qint64(0), image.LeadOut / 2, image.LeadOut - 10}) {
        *buffer = CDTrackBuffer{std::uint32_t(std::max<qint64>(at, 0)), 10, 10 * CDFrameBytes, 0, 0, 0};
        if (ReadCDAudioLBA(handle, buffer) == 1)
            Check(buffer->Length == 10 * CDFrameBytes);
    }
    Check(CloseCDHandle(handle) != 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const bool cue = data[0] % 2 == 0;
    const QByteArray text(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    const TImageDescription description = cue ? ParseCueSheet(text) : ParseTocFile(text);
    if (!description.IsAccepted())
        return 0;
    CheckSane(description);
    if (description.Tracks.back().Start < 5000)
        ReadThroughTheDriveLibrary(text, cue, description);
    return 0;
}
