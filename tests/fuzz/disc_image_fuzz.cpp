// Arbitrary bytes as a CUE sheet (first byte even) or a TOC file (odd). What the
// parser accepts must be a sane disc, its plain copy must read back the same,
// and libcdio must read a small accepted image exactly as we described it.
#include "cd/cd_drive.h"
#include "cd/disc_image.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckSane(const TImageDescription& description)
{
    Check(!description.Tracks.empty() && description.Tracks.size() <= 99);
    qint64 previous = 0;
    for (const TImageTrack& track : description.Tracks) {
        Check(track.Start >= previous && track.Start < CDMaxFrames + CDLeadInFrames);
        Check(track.PregapStart <= track.Start);
        previous = track.Start;
    }
}

// Opens the accepted description with a data file just long enough, through
// the drive library, and compares the table of contents.
void ReadThroughLibcdio(const QByteArray& text, bool cue, const TImageDescription& description)
{
    static QTemporaryDir folder;
    const QString name = folder.path() + (cue ? QStringLiteral("/fuzz.cue") : QStringLiteral("/fuzz.toc"));
    QFile file(name);
    Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    QFile data(folder.path() + QLatin1Char('/') + description.DataFile);
    if (description.DataFile.contains(QLatin1Char('/')) ||
        description.DataFile.startsWith(QLatin1String("fuzz.")) ||
        !data.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    data.resize((description.Tracks.back().Start + 20) * CDFrameBytes);
    data.close();
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
        ReadThroughLibcdio(text, cue, description);
    return 0;
}
