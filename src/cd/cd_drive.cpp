#include "cd_drive.h"

#include "cd/album_reader.h"
#include "cd/cdio_text.h"
#include "cd/disc_image.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cdio/cdio.h>
#include <cdio/logging.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

// libcdio's messages are details for a developer; users get them through
// GetAspiLibErrorText. QT_LOGGING_RULES="velbrook.cd.debug=true" shows them.
Q_LOGGING_CATEGORY(lcCdio, "velbrook.cd", QtInfoMsg)

namespace {

constexpr int MaxHandles = 10;
// Reads of a real drive go out in pieces a kernel accepts in one request.
constexpr std::uint32_t MaxFramesPerDeviceRead = 26;
// An image is read ahead in blocks this long: one file read serves a dozen
// requests of ten sectors.
constexpr qint64 ImageReadAheadFrames = 128;

struct TLastError {
    std::uint32_t Code = CDERR_NONE;
    QString Text;
    QString LibcdioMessage; // the last thing libcdio said on this thread
};

thread_local TLastError LastError;

bool Fail(std::uint32_t code, const QString& text)
{
    LastError.Code = code;
    LastError.Text = text;
    return false;
}

void Succeed()
{
    LastError.Code = CDERR_NONE;
    LastError.Text.clear();
}

void LogHandler(cdio_log_level_t level, const char* message)
{
    const QString text = QString::fromLocal8Bit(message).trimmed();
    if (level >= CDIO_LOG_WARN)
        LastError.LibcdioMessage = text;
    qCDebug(lcCdio).noquote() << "libcdio:" << text;
}

// libcdio keeps global state (its driver table, the log handler): opening and
// closing go through one lock. Defined before the handle table, so drives still
// open at exit are closed while it exists.
std::mutex LibcdioMutex;

std::mutex& LibcdioLock()
{
    return LibcdioMutex;
}

void EnsureLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        std::lock_guard guard(LibcdioLock());
        cdio_log_set_handler(LogHandler);
        cdio_init();
    });
}

QString LibcdioDetail()
{
    return LastError.LibcdioMessage.isEmpty() ? QString()
                                              : QStringLiteral(" (%1)").arg(LastError.LibcdioMessage);
}

struct TCdioDeleter {
    void operator()(CdIo_t* cdio) const
    {
        std::lock_guard guard(LibcdioLock());
        cdio_destroy(cdio);
    }
};
using TCdio = std::unique_ptr<CdIo_t, TCdioDeleter>;

// Drives this process has seen, numbered from 1 in the order first seen. A
// handle request names a drive by its number, so a request stays bound to its
// drive even when the list changes in between.
struct TKnownDrive {
    QString Path;
    bool IsImage = false;
};

std::mutex RegistryLock;
std::vector<TKnownDrive> KnownDrives;
QStringList CommandLineImages;

int DriveNumber(const TKnownDrive& drive)
{
    std::lock_guard guard(RegistryLock);
    for (size_t i = 0; i < KnownDrives.size(); ++i) {
        if (KnownDrives[i].Path == drive.Path && KnownDrives[i].IsImage == drive.IsImage)
            return static_cast<int>(i) + 1;
    }
    KnownDrives.push_back(drive);
    return static_cast<int>(KnownDrives.size());
}

bool KnownDriveByNumber(int number, TKnownDrive* drive)
{
    std::lock_guard guard(RegistryLock);
    if (number < 1 || number > static_cast<int>(KnownDrives.size()))
        return false;
    *drive = KnownDrives[static_cast<size_t>(number) - 1];
    return true;
}

struct TSectorRange {
    qint64 First;
    qint64 Last;
};

// "1200-1260,5000": sectors an image drive refuses to read.
std::vector<TSectorRange> UnreadableSectors()
{
    std::vector<TSectorRange> ranges;
    const QString text = qEnvironmentVariable("VELBROOK_UNREADABLE_SECTORS");
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList bounds = part.trimmed().split(QLatin1Char('-'));
        bool firstOk = false;
        bool lastOk = bounds.size() == 1;
        const qint64 first = bounds.first().trimmed().toLongLong(&firstOk);
        const qint64 last = bounds.size() == 2 ? bounds[1].trimmed().toLongLong(&lastOk) : first;
        if (!firstOk || !lastOk || bounds.size() > 2 || last < first) {
            qWarning("VELBROOK_UNREADABLE_SECTORS: ignoring \"%s\" (expected ranges such as 1200-1260,5000)",
                     qPrintable(part));
            continue;
        }
        ranges.push_back({first, last});
    }
    return ranges;
}

// A disc as the drive reports it: every track, and the part that holds audio.
struct TLayoutTrack {
    qint64 Start = 0;
    std::uint8_t Control = 0;
};

struct TDiscLayout {
    int FirstTrack = 1;
    std::vector<TLayoutTrack> Tracks;
    qint64 LeadOut = 0;
    // On an Enhanced CD the TOC ends with the first session.
    int ReportedTracks = 0;
    qint64 ReportedLeadOut = 0;
};

// One opened drive. Threads: any; every field after construction is guarded by
// Lock (the image, its staging folder and the kind never change).
struct TDrive {
    TDrive() = default;
    TDrive(const TDrive&) = delete;
    TDrive& operator=(const TDrive&) = delete;
    ~TDrive()
    {
        if (DataFile >= 0)
            ::close(DataFile);
    }

    std::mutex Lock;
    bool IsImage = false;
    QString Path; // device or description
    TDiscImage Image;
    std::unique_ptr<QTemporaryDir> Staging; // what libcdio reads an image through
    TCdio Cdio;
    bool Msf = false;
    std::vector<TSectorRange> Unreadable;
    bool FailModify = false;
    bool FailReadToc = false;
    // What an image numbers its first track: real discs that start at track 2
    // or later exist, image files always start at 1.
    int FirstTrack = 1;
    // The image's data file, held open to ask for its size.
    int DataFile = -1;
    // Sectors read ahead from an image, as a drive's cache holds them.
    std::vector<std::uint8_t> Cache;
    qint64 CacheStart = 0;
    qint64 CacheFrames = 0;
    // An image libcdio cannot read, served by this library itself.
    std::unique_ptr<TAlbumReader> Album;
};

std::mutex HandleLock;
std::array<std::shared_ptr<TDrive>, MaxHandles> Handles;

std::shared_ptr<TDrive> DriveOf(CDHandle handle)
{
    std::lock_guard guard(HandleLock);
    if (handle < 1 || handle > MaxHandles || !Handles[handle - 1]) {
        Fail(CDERR_BAD_HANDLE, QStringLiteral("%1 is not an open CD handle").arg(handle));
        return nullptr;
    }
    return Handles[handle - 1];
}

std::uint8_t ControlOf(CdIo_t* cdio, track_t track)
{
    std::uint8_t control = 0;
    if (cdio_get_track_format(cdio, track) != TRACK_FORMAT_AUDIO)
        control |= 0x04;
    if (cdio_get_track_copy_permit(cdio, track) == CDIO_TRACK_FLAG_TRUE)
        control |= 0x02;
    if (cdio_get_track_preemphasis(cdio, track) == CDIO_TRACK_FLAG_TRUE)
        control |= 0x01;
    if (cdio_get_track_channels(cdio, track) == 4)
        control |= 0x08;
    return control;
}

bool ReadLayout(CdIo_t* cdio, TDiscLayout* layout)
{
    const track_t first = cdio_get_first_track_num(cdio);
    const track_t count = cdio_get_num_tracks(cdio);
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0 || first < 1 ||
        first + count - 1 > CDMaxTracks)
        return Fail(CDERR_NO_DISC,
                    QStringLiteral("There is no readable disc in the drive") + LibcdioDetail());
    layout->FirstTrack = first;
    layout->Tracks.clear();
    for (track_t t = first; t < first + count; ++t) {
        const lsn_t start = cdio_get_track_lsn(cdio, t);
        if (start == CDIO_INVALID_LSN)
            return Fail(CDERR_TOC,
                        QStringLiteral("The start of track %1 cannot be read").arg(t) + LibcdioDetail());
        layout->Tracks.push_back({start, ControlOf(cdio, t)});
    }
    const lsn_t leadOut = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
    if (leadOut == CDIO_INVALID_LSN)
        return Fail(CDERR_TOC, QStringLiteral("The end of the disc cannot be read") + LibcdioDetail());
    layout->LeadOut = leadOut;
    layout->ReportedTracks = count;
    layout->ReportedLeadOut = leadOut;
    return true;
}

// A real drive's Enhanced CD: its last session starts with data tracks only.
void TrimToAudioSession(CdIo_t* cdio, TDiscLayout* layout)
{
    lsn_t lastSession = 0;
    if (cdio_get_last_session(cdio, &lastSession) != DRIVER_OP_SUCCESS || lastSession <= 0)
        return;
    for (size_t i = 1; i < layout->Tracks.size(); ++i) {
        if (layout->Tracks[i].Start != lastSession)
            continue;
        for (size_t j = i; j < layout->Tracks.size(); ++j) {
            if (!(layout->Tracks[j].Control & 0x04))
                return;
        }
        const qint64 end = lastSession - CDSessionGapFrames;
        if (end > layout->Tracks[i - 1].Start) {
            layout->ReportedTracks = static_cast<int>(i);
            layout->ReportedLeadOut = end;
        }
        return;
    }
}

// An image the library serves itself: its tracks as the description gives them.
void LayoutOfImage(const TDiscImage& image, TDiscLayout* layout)
{
    layout->FirstTrack = 1;
    layout->Tracks.clear();
    for (const TImageTrack& track : image.Tracks) {
        std::uint8_t control = track.Audio ? 0 : 0x04;
        if (track.CopyPermitted)
            control |= 0x02;
        if (track.Preemphasis)
            control |= 0x01;
        if (track.FourChannel)
            control |= 0x08;
        layout->Tracks.push_back({track.Start, control});
    }
    layout->LeadOut = image.LeadOut;
}

// The drive's layout; for a real drive the TOC is read afresh, since libcdio
// keeps the one of the disc that was in the drive when it was opened.
bool LayoutOf(TDrive& drive, TDiscLayout* layout)
{
    if (!drive.IsImage) {
        CdIo_t* fresh = nullptr;
        {
            std::lock_guard guard(LibcdioLock());
            fresh = cdio_open(QFile::encodeName(drive.Path).constData(), DRIVER_DEVICE);
        }
        if (!fresh)
            return Fail(CDERR_OPEN_FAILED,
                        QStringLiteral("The drive %1 cannot be opened").arg(drive.Path) + LibcdioDetail());
        drive.Cdio.reset(fresh);
        if (!ReadLayout(drive.Cdio.get(), layout))
            return false;
        TrimToAudioSession(drive.Cdio.get(), layout);
        return true;
    }
    if (drive.Album)
        LayoutOfImage(drive.Image, layout);
    else if (!ReadLayout(drive.Cdio.get(), layout))
        return false;
    layout->FirstTrack = drive.FirstTrack;
    layout->ReportedTracks = drive.Image.AudioSessionTrackCount();
    layout->ReportedLeadOut = drive.Image.AudioSessionLeadOut();
    return true;
}

// Whether libcdio reads the staged image as the description says.
QString CompareWithDescription(CdIo_t* cdio, const TDiscImage& image)
{
    TDiscLayout layout;
    if (!ReadLayout(cdio, &layout))
        return LastError.Text;
    if (layout.FirstTrack != 1 || layout.Tracks.size() != image.Tracks.size())
        return QStringLiteral("libcdio finds %1 tracks, the description %2")
            .arg(layout.Tracks.size())
            .arg(image.Tracks.size());
    for (size_t i = 0; i < layout.Tracks.size(); ++i) {
        const TImageTrack& expected = image.Tracks[i];
        const bool data = layout.Tracks[i].Control & 0x04;
        if (layout.Tracks[i].Start != expected.Start || data == expected.Audio)
            return QStringLiteral("libcdio reads track %1 differently than the description")
                .arg(expected.Number);
    }
    if (layout.LeadOut != image.LeadOut)
        return QStringLiteral("libcdio finds the end of the disc at %1 instead of %2")
            .arg(FramesToMsfText(layout.LeadOut), FramesToMsfText(image.LeadOut));
    return {};
}

// An image libcdio reads: through a plain copy of its description that names
// the data file beside a link to it.
bool OpenThroughLibcdio(TDrive& drive, const QString& path)
{
    drive.Staging =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/velbrook-disc-XXXXXX"));
    const QString folder = drive.Staging->path();
    if (!drive.Staging->isValid() || folder.contains(QLatin1Char('"'))) {
        Fail(CDERR_OPEN_FAILED,
             QStringLiteral("No working folder for the image in %1").arg(QDir::tempPath()));
        return false;
    }
    // libcdio reads the data file named like the sheet, and a TOC's data file
    // relative to the working folder: a link beside the plain copy serves both.
    const bool cue = drive.Image.Format == TImageFormat::Cue;
    const QString link = folder + QStringLiteral("/disc.bin");
    const QString description = folder + (cue ? QStringLiteral("/disc.cue") : QStringLiteral("/disc.toc"));
    QFile copy(description);
    if (!QFile::link(drive.Image.DataPath, link) || !copy.open(QIODevice::WriteOnly) ||
        copy.write(drive.Image.CanonicalDescription(cue ? QStringLiteral("disc.bin") : link)) < 0 ||
        !copy.flush()) {
        Fail(CDERR_OPEN_FAILED, QStringLiteral("No working copy of the image in %1").arg(folder));
        return false;
    }
    copy.close();
    LastError.LibcdioMessage.clear();
    {
        std::lock_guard guard(LibcdioLock());
        const QByteArray name = QFile::encodeName(description);
        drive.Cdio.reset(cue ? cdio_open_cue(name.constData()) : cdio_open_cdrdao(name.constData()));
    }
    if (!drive.Cdio) {
        Fail(CDERR_BAD_IMAGE,
             QStringLiteral("%1: libcdio cannot read the image").arg(path) + LibcdioDetail());
        return false;
    }
    const QString difference = CompareWithDescription(drive.Cdio.get(), drive.Image);
    if (!difference.isEmpty()) {
        Fail(CDERR_BAD_IMAGE, QStringLiteral("%1: %2").arg(path, difference));
        return false;
    }
    drive.DataFile = ::open(QFile::encodeName(drive.Image.DataPath).constData(), O_RDONLY | O_CLOEXEC);
    if (drive.DataFile < 0) {
        Fail(CDERR_OPEN_FAILED, QStringLiteral("%1: the data file cannot be opened").arg(path));
        return false;
    }
    return true;
}

std::shared_ptr<TDrive> OpenImage(const QString& path)
{
    auto drive = std::make_shared<TDrive>();
    drive->IsImage = true;
    drive->Path = path;
    drive->Image = LoadDiscImage(path);
    if (!drive->Image.IsValid()) {
        Fail(CDERR_BAD_IMAGE, drive->Image.Problem);
        return nullptr;
    }
    // Sheets libcdio cannot read are served by this library itself.
    if (drive->Image.Served)
        drive->Album = std::make_unique<TAlbumReader>(drive->Image);
    else if (!OpenThroughLibcdio(*drive, path))
        return nullptr;
    drive->Unreadable = UnreadableSectors();
    const QStringList failing =
        qEnvironmentVariable("VELBROOK_FAILING_CD_CALLS").split(QLatin1Char(','), Qt::SkipEmptyParts);
    drive->FailModify = failing.contains(QStringLiteral("ModifyCDParms"));
    drive->FailReadToc = failing.contains(QStringLiteral("ReadTOC"));
    if (qEnvironmentVariableIsSet("VELBROOK_FIRST_TRACK")) {
        bool numbered = false;
        const int firstTrack = qEnvironmentVariableIntValue("VELBROOK_FIRST_TRACK", &numbered);
        if (numbered && firstTrack >= 1 && firstTrack + int(drive->Image.Tracks.size()) - 1 <= CDMaxTracks)
            drive->FirstTrack = firstTrack;
        else
            qWarning("VELBROOK_FIRST_TRACK: ignoring \"%s\" (a track number the image's tracks fit after)",
                     qgetenv("VELBROOK_FIRST_TRACK").constData());
    }
    return drive;
}

std::shared_ptr<TDrive> OpenDevice(const QString& path)
{
    auto drive = std::make_shared<TDrive>();
    drive->Path = path;
    LastError.LibcdioMessage.clear();
    {
        std::lock_guard guard(LibcdioLock());
        drive->Cdio.reset(cdio_open(QFile::encodeName(path).constData(), DRIVER_DEVICE));
    }
    if (!drive->Cdio) {
        Fail(CDERR_OPEN_FAILED, QStringLiteral("The drive %1 cannot be opened").arg(path) + LibcdioDetail());
        return nullptr;
    }
    return drive;
}

std::shared_ptr<TDrive> OpenKnown(const TKnownDrive& known)
{
    return known.IsImage ? OpenImage(known.Path) : OpenDevice(known.Path);
}

// The drives to list, in order: usable images, then the real drives.
std::vector<TKnownDrive> CurrentDrives()
{
    std::vector<TKnownDrive> drives;
    for (const QString& image : CDImages()) {
        if (CheckCDImage(image).isEmpty())
            drives.push_back({image, true});
    }
    for (const QString& device : RealCDDrives())
        drives.push_back({device, false});
    return drives;
}

void CopyText(char* field, size_t size, const QByteArray& text)
{
    std::memset(field, 0, size);
    std::memcpy(field, text.constData(), std::min(size - 1, static_cast<size_t>(text.size())));
}

void FillDriveInfo(const TKnownDrive& known, CDDriveInfo* info)
{
    const int number = DriveNumber(known);
    info->HostAdapter = static_cast<std::uint8_t>(number >> 8);
    info->Target = static_cast<std::uint8_t>(number & 0xFF);
    info->Lun = 0;
    if (known.IsImage) {
        // Padded like the vendor field a real drive reports.
        CopyText(info->Vendor, sizeof info->Vendor, "Image   ");
        CopyText(info->Product, sizeof info->Product, QFileInfo(known.Path).fileName().toUtf8().left(16));
        return;
    }
    cdio_hwinfo_t hardware{};
    bool known_hardware = false;
    {
        std::lock_guard guard(LibcdioLock());
        if (CdIo_t* cdio = cdio_open(QFile::encodeName(known.Path).constData(), DRIVER_DEVICE)) {
            known_hardware = cdio_get_hwinfo(cdio, &hardware);
            cdio_destroy(cdio);
        }
    }
    if (known_hardware) {
        CopyText(info->Vendor, sizeof info->Vendor, QByteArray(hardware.psz_vendor));
        CopyText(info->Product, sizeof info->Product, QByteArray(hardware.psz_model));
    } else {
        CopyText(info->Vendor, sizeof info->Vendor, "");
        CopyText(info->Product, sizeof info->Product, QFileInfo(known.Path).fileName().toUtf8());
    }
}

// The first drive of the list, opened on its own (not in the handle table).
std::shared_ptr<TDrive> OpenFirstDrive()
{
    const std::vector<TKnownDrive> drives = CurrentDrives();
    if (drives.empty()) {
        Fail(CDERR_NO_SUCH_DRIVE, QStringLiteral("No CD drive and no disc image"));
        return nullptr;
    }
    return OpenKnown(drives.front());
}

bool IsUnreadable(const TDrive& drive, qint64 first, qint64 count)
{
    for (const TSectorRange& range : drive.Unreadable) {
        if (range.First < first + count && range.Last >= first)
            return true;
    }
    return false;
}

qint64 CurrentSize(int file)
{
    struct stat status {};
    if (::fstat(file, &status) != 0)
        return -1;
    return status.st_size;
}

bool ReadImageSectors(TDrive& drive, std::uint8_t* data, qint64 start, std::uint32_t count)
{
    if (start + count > drive.Image.LeadOut)
        return Fail(CDERR_OUT_OF_RANGE, QStringLiteral("Sectors %1 to %2 lie beyond the end of the disc (%3)")
                                            .arg(start)
                                            .arg(start + count - 1)
                                            .arg(drive.Image.LeadOut));
    if (IsUnreadable(drive, start, count))
        return Fail(CDERR_READ,
                    QStringLiteral("Sectors %1 to %2 cannot be read").arg(start).arg(start + count - 1));
    if (drive.Album) {
        QString error;
        if (!drive.Album->Read(start, count, data, &error))
            return Fail(CDERR_READ, error);
        return true;
    }
    auto endsBefore = [&] {
        drive.CacheFrames = 0;
        return Fail(CDERR_READ,
                    QStringLiteral("Sectors %1 to %2 cannot be read: the image's data file %3 ends "
                                   "before them")
                        .arg(start)
                        .arg(start + count - 1)
                        .arg(drive.Image.DataPath));
    };
    const bool cached = start >= drive.CacheStart && start + count <= drive.CacheStart + drive.CacheFrames;
    if (!cached) {
        const qint64 frames =
            std::max<qint64>(count, std::min(ImageReadAheadFrames, drive.Image.LeadOut - start));
        drive.Cache.resize(size_t(frames) * CDFrameBytes);
        drive.CacheFrames = 0;
        LastError.LibcdioMessage.clear();
        if (cdio_read_audio_sectors(drive.Cdio.get(), drive.Cache.data(), static_cast<lsn_t>(start),
                                    static_cast<std::uint32_t>(frames)) != DRIVER_OP_SUCCESS)
            return Fail(CDERR_READ,
                        QStringLiteral("Sectors %1 to %2 cannot be read").arg(start).arg(start + count - 1) +
                            LibcdioDetail());
        // libcdio answers a read past the end of the data file with success and
        // whatever its buffer held: only the sectors the file held are kept.
        drive.CacheStart = start;
        drive.CacheFrames = std::clamp<qint64>(CurrentSize(drive.DataFile) / CDFrameBytes - start, 0, frames);
        if (start + count > drive.CacheStart + drive.CacheFrames)
            return endsBefore();
    }
    // A file may also shrink under an open drive: it must hold every sector
    // asked for at the time it is asked for.
    if (CurrentSize(drive.DataFile) < (start + count) * CDFrameBytes)
        return endsBefore();
    std::memcpy(data, drive.Cache.data() + size_t(start - drive.CacheStart) * CDFrameBytes,
                size_t(count) * CDFrameBytes);
    return true;
}

bool ReadDeviceSectors(TDrive& drive, std::uint8_t* data, qint64 start, std::uint32_t count)
{
    if (!drive.Cdio) {
        TDiscLayout layout;
        if (!LayoutOf(drive, &layout))
            return false;
    }
    for (std::uint32_t done = 0; done < count;) {
        const std::uint32_t piece = std::min(MaxFramesPerDeviceRead, count - done);
        LastError.LibcdioMessage.clear();
        if (cdio_read_audio_sectors(drive.Cdio.get(), data + static_cast<size_t>(done) * CDFrameBytes,
                                    static_cast<lsn_t>(start + done), piece) != DRIVER_OP_SUCCESS)
            return Fail(CDERR_READ, QStringLiteral("Sectors %1 to %2 cannot be read")
                                            .arg(start + done)
                                            .arg(start + done + piece - 1) +
                                        LibcdioDetail());
        done += piece;
    }
    return true;
}

void PutAddress(CDTOCEntry* entry, qint64 sector, bool msf)
{
    if (msf) {
        const qint64 frames = sector + CDLeadInFrames;
        entry->Address[0] = 0;
        entry->Address[1] = static_cast<std::uint8_t>(frames / (60 * CDFramesPerSecond));
        entry->Address[2] = static_cast<std::uint8_t>(frames / CDFramesPerSecond % 60);
        entry->Address[3] = static_cast<std::uint8_t>(frames % CDFramesPerSecond);
        return;
    }
    const auto value = static_cast<std::uint32_t>(static_cast<std::int32_t>(sector));
    entry->Address[0] = static_cast<std::uint8_t>(value >> 24);
    entry->Address[1] = static_cast<std::uint8_t>(value >> 16);
    entry->Address[2] = static_cast<std::uint8_t>(value >> 8);
    entry->Address[3] = static_cast<std::uint8_t>(value);
}

int SumOfDigits(std::uint32_t n)
{
    int sum = 0;
    for (; n > 0; n /= 10)
        sum += static_cast<int>(n % 10);
    return sum;
}

} // namespace

void SetCDImages(const QStringList& files)
{
    QStringList absolute;
    for (const QString& file : files)
        absolute.append(QFileInfo(file).absoluteFilePath());
    std::lock_guard guard(RegistryLock);
    CommandLineImages = absolute;
}

QStringList CDImages()
{
    QStringList images;
    {
        std::lock_guard guard(RegistryLock);
        images = CommandLineImages;
    }
    for (const QString& file :
         qEnvironmentVariable("VELBROOK_CD_IMAGES").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        images.append(QFileInfo(file).absoluteFilePath());
    images.removeDuplicates();
    return images;
}

QString CheckCDImage(const QString& file)
{
    return LoadDiscImage(file).Problem;
}

QString CDImageNote(const QString& file)
{
    return LoadDiscImage(file).Note;
}

QStringList RealCDDrives()
{
    EnsureLibrary();
    QStringList devices;
    std::lock_guard guard(LibcdioLock());
    char** list = cdio_get_devices(DRIVER_DEVICE);
    for (char** device = list; device && *device; ++device) {
        const QString path = QFile::decodeName(*device);
        const QString canonical = QFileInfo(path).canonicalFilePath();
        const QString name = canonical.isEmpty() ? path : canonical;
        if (!devices.contains(name))
            devices.append(name);
    }
    cdio_free_device_list(list);
    return devices;
}

int GetCDList(CDDriveList* list)
{
    EnsureLibrary();
    if (!list || list->MaxDrives == 0)
        return Fail(CDERR_BAD_ARGUMENT, QStringLiteral("The drive list has no room")), 0;
    const int capacity = std::min<int>(list->MaxDrives, CDMaxDrives);
    const std::vector<TKnownDrive> drives = CurrentDrives();
    int count = 0;
    for (const TKnownDrive& drive : drives) {
        if (count == capacity)
            break;
        FillDriveInfo(drive, &list->Drives[count]);
        ++count;
    }
    list->NumDrives = static_cast<std::uint8_t>(count);
    Succeed();
    return 1;
}

CDHandle GetCDHandle(const CDHandleRequest* request)
{
    EnsureLibrary();
    if (!request || request->Size != sizeof(CDHandleRequest) || request->Version != 1)
        return Fail(CDERR_BAD_ARGUMENT,
                    QStringLiteral("The handle request is not one of size 12, version 1")),
               0;
    TKnownDrive known;
    if (!KnownDriveByNumber(request->HostAdapter << 8 | request->Target, &known) || request->Lun != 0)
        return Fail(CDERR_NO_SUCH_DRIVE, QStringLiteral("The request names no listed drive")), 0;
    {
        std::lock_guard guard(HandleLock);
        if (std::all_of(Handles.begin(), Handles.end(), [](const auto& slot) { return slot != nullptr; }))
            return Fail(CDERR_TOO_MANY_HANDLES,
                        QStringLiteral("All %1 CD handles are in use; close one first").arg(MaxHandles)),
                   0;
    }
    std::shared_ptr<TDrive> drive = OpenKnown(known);
    if (!drive)
        return 0;
    std::lock_guard guard(HandleLock);
    for (int i = 0; i < MaxHandles; ++i) {
        if (!Handles[static_cast<size_t>(i)]) {
            Handles[static_cast<size_t>(i)] = drive;
            Succeed();
            return static_cast<CDHandle>(i + 1);
        }
    }
    return Fail(CDERR_TOO_MANY_HANDLES,
                QStringLiteral("All %1 CD handles are in use; close one first").arg(MaxHandles)),
           0;
}

int CloseCDHandle(CDHandle handle)
{
    std::shared_ptr<TDrive> closed;
    {
        std::lock_guard guard(HandleLock);
        if (handle < 1 || handle > MaxHandles || !Handles[handle - 1])
            return Fail(CDERR_BAD_HANDLE, QStringLiteral("%1 is not an open CD handle").arg(handle)), 0;
        closed = std::move(Handles[handle - 1]);
    }
    // A read still running on another thread keeps the drive until it returns.
    closed.reset();
    Succeed();
    return 1;
}

int ModifyCDParms(CDHandle handle, std::uint32_t parameter, std::uint32_t value)
{
    const std::shared_ptr<TDrive> drive = DriveOf(handle);
    if (!drive)
        return 0;
    std::lock_guard guard(drive->Lock);
    if (drive->FailModify)
        return Fail(CDERR_UNSUPPORTED, QStringLiteral("The drive refuses to change its parameters")), 0;
    if (parameter != CDP_MSF || value > 1)
        return Fail(CDERR_BAD_ARGUMENT,
                    QStringLiteral("Unknown drive parameter %1 = %2").arg(parameter).arg(value)),
               0;
    drive->Msf = value == 1;
    Succeed();
    return 1;
}

int ReadTOC(CDHandle handle, CDTOC* toc)
{
    if (!toc)
        return Fail(CDERR_BAD_ARGUMENT, QStringLiteral("No room for the table of contents")), 0;
    const std::shared_ptr<TDrive> drive = DriveOf(handle);
    if (!drive)
        return 0;
    std::lock_guard guard(drive->Lock);
    if (drive->FailReadToc)
        return Fail(CDERR_TOC, QStringLiteral("The drive refuses to read the table of contents")), 0;
    TDiscLayout layout;
    if (!LayoutOf(*drive, &layout))
        return 0;
    std::memset(toc, 0, sizeof *toc);
    const int count = layout.ReportedTracks;
    toc->FirstTrack = static_cast<std::uint8_t>(layout.FirstTrack);
    toc->LastTrack = static_cast<std::uint8_t>(layout.FirstTrack + count - 1);
    // Like a drive's READ TOC: the bytes that follow the length field.
    toc->Length = static_cast<std::uint16_t>(2 + (count + 1) * sizeof(CDTOCEntry));
    for (int i = 0; i <= count; ++i) {
        CDTOCEntry& entry = toc->Entries[i];
        const bool leadOut = i == count;
        entry.AdrControl = static_cast<std::uint8_t>(0x10 | (leadOut ? 0 : layout.Tracks[size_t(i)].Control));
        entry.TrackNumber = leadOut ? CDLeadOutTrack : static_cast<std::uint8_t>(layout.FirstTrack + i);
        PutAddress(&entry, leadOut ? layout.ReportedLeadOut : layout.Tracks[size_t(i)].Start, drive->Msf);
    }
    Succeed();
    return 1;
}

int ReadCDAudioLBA(CDHandle handle, CDTrackBuffer* buffer)
{
    if (!buffer)
        return Fail(CDERR_BAD_ARGUMENT, QStringLiteral("No buffer to read into")), 0;
    const std::uint64_t bytes = std::uint64_t(buffer->NumFrames) * CDFrameBytes;
    if (bytes > buffer->MaxLength)
        return Fail(CDERR_BAD_ARGUMENT, QStringLiteral("%1 sectors do not fit in a buffer of %2 bytes")
                                            .arg(buffer->NumFrames)
                                            .arg(buffer->MaxLength)),
               0;
    if (buffer->StartFrame > static_cast<std::uint32_t>(CDMaxFrames))
        return Fail(CDERR_OUT_OF_RANGE,
                    QStringLiteral("Sector %1 lies beyond any disc").arg(buffer->StartFrame)),
               0;
    const std::shared_ptr<TDrive> drive = DriveOf(handle);
    if (!drive)
        return 0;
    buffer->Length = 0;
    buffer->StartOffset = 0;
    if (buffer->NumFrames == 0) {
        Succeed();
        return 1;
    }
    std::lock_guard guard(drive->Lock);
    std::uint8_t* data = CDTrackBufferData(buffer);
    const bool read = drive->IsImage ? ReadImageSectors(*drive, data, buffer->StartFrame, buffer->NumFrames)
                                     : ReadDeviceSectors(*drive, data, buffer->StartFrame, buffer->NumFrames);
    if (!read)
        return 0;
    buffer->Length = static_cast<std::uint32_t>(bytes);
    Succeed();
    return 1;
}

std::uint32_t GetAspiLibError()
{
    return LastError.Code;
}

QString GetAspiLibErrorText()
{
    return LastError.Text;
}

int ReadCDText(CDHandle handle, TCDText* text)
{
    if (!text)
        return Fail(CDERR_BAD_ARGUMENT, QStringLiteral("No room for the disc's texts")), 0;
    *text = TCDText{};
    const std::shared_ptr<TDrive> drive = DriveOf(handle);
    if (!drive)
        return 0;
    std::lock_guard guard(drive->Lock);
    if (drive->IsImage) {
        *text = drive->Image.Text;
    } else {
        // Opened afresh, so the texts are those of the disc in the drive now.
        TDiscLayout layout;
        if (!LayoutOf(*drive, &layout))
            return 0;
        *text = CDTextOfCdio(drive->Cdio.get());
    }
    Succeed();
    return text->IsEmpty() ? 0 : 1;
}

bool CanEjectCD(CDHandle handle)
{
    const std::shared_ptr<TDrive> drive = DriveOf(handle);
    if (!drive || drive->IsImage)
        return false;
    cdio_drive_read_cap_t read = 0;
    cdio_drive_write_cap_t write = 0;
    cdio_drive_misc_cap_t misc = 0;
    std::lock_guard guard(LibcdioLock());
    cdio_get_drive_cap_dev(QFile::encodeName(drive->Path).constData(), &read, &write, &misc);
    return misc & CDIO_DRIVE_CAP_MISC_EJECT;
}

bool CanCloseCDTray(CDHandle handle)
{
    const std::shared_ptr<TDrive> drive = DriveOf(handle);
    if (!drive || drive->IsImage)
        return false;
    cdio_drive_read_cap_t read = 0;
    cdio_drive_write_cap_t write = 0;
    cdio_drive_misc_cap_t misc = 0;
    std::lock_guard guard(LibcdioLock());
    cdio_get_drive_cap_dev(QFile::encodeName(drive->Path).constData(), &read, &write, &misc);
    return misc & CDIO_DRIVE_CAP_MISC_CLOSE_TRAY;
}

int EjectCD(CDHandle handle)
{
    const std::shared_ptr<TDrive> drive = DriveOf(handle);
    if (!drive)
        return 0;
    if (drive->IsImage)
        return Fail(CDERR_UNSUPPORTED, QStringLiteral("A disc image has no tray")), 0;
    std::lock_guard guard(drive->Lock);
    // Our own open descriptor must not keep the drive busy; the next use opens
    // the drive again.
    drive->Cdio.reset();
    LastError.LibcdioMessage.clear();
    std::lock_guard libcdio(LibcdioLock());
    if (cdio_eject_media_drive(QFile::encodeName(drive->Path).constData()) != DRIVER_OP_SUCCESS)
        return Fail(CDERR_UNSUPPORTED,
                    QStringLiteral("The drive %1 cannot eject").arg(drive->Path) + LibcdioDetail()),
               0;
    Succeed();
    return 1;
}

int CloseCDTray(CDHandle handle)
{
    const std::shared_ptr<TDrive> drive = DriveOf(handle);
    if (!drive)
        return 0;
    if (drive->IsImage)
        return Fail(CDERR_UNSUPPORTED, QStringLiteral("A disc image has no tray")), 0;
    std::lock_guard guard(drive->Lock);
    drive->Cdio.reset();
    LastError.LibcdioMessage.clear();
    std::lock_guard libcdio(LibcdioLock());
    driver_id_t driver = DRIVER_DEVICE;
    if (cdio_close_tray(QFile::encodeName(drive->Path).constData(), &driver) != DRIVER_OP_SUCCESS)
        return Fail(CDERR_UNSUPPORTED,
                    QStringLiteral("The drive %1 cannot close its tray").arg(drive->Path) + LibcdioDetail()),
               0;
    Succeed();
    return 1;
}

QString CDHandleSource(CDHandle handle, bool* isImage)
{
    const std::shared_ptr<TDrive> drive = DriveOf(handle);
    if (isImage)
        *isImage = drive && drive->IsImage;
    if (!drive)
        return {};
    Succeed();
    return drive->Path;
}

QString DriveDisplayName(const CDDriveInfo& drive)
{
    const QByteArray vendor(drive.Vendor, static_cast<qsizetype>(strnlen(drive.Vendor, sizeof drive.Vendor)));
    const QByteArray product(drive.Product,
                             static_cast<qsizetype>(strnlen(drive.Product, sizeof drive.Product)));
    return QString::fromUtf8(vendor + product).left(26);
}

namespace {

bool DriveHasAudio(TDrive& drive)
{
    std::lock_guard guard(drive.Lock);
    TDiscLayout layout;
    if (!LayoutOf(drive, &layout))
        return false;
    return std::any_of(layout.Tracks.begin(), layout.Tracks.end(),
                       [](const TLayoutTrack& track) { return !(track.Control & 0x04); });
}

QString DiscIdOfDrive(TDrive& drive)
{
    std::lock_guard guard(drive.Lock);
    TDiscLayout layout;
    if (!LayoutOf(drive, &layout))
        return {};
    if (std::none_of(layout.Tracks.begin(), layout.Tracks.end(),
                     [](const TLayoutTrack& track) { return !(track.Control & 0x04); }))
        return {};
    std::vector<std::uint32_t> starts;
    for (const TLayoutTrack& track : layout.Tracks)
        starts.push_back(static_cast<std::uint32_t>(track.Start));
    const std::uint32_t id = CddbDiscId(starts.data(), static_cast<int>(starts.size()),
                                        static_cast<std::uint32_t>(layout.LeadOut));
    return QString::number(static_cast<std::int32_t>(id));
}

} // namespace

bool HasAudioDisc()
{
    EnsureLibrary();
    const std::shared_ptr<TDrive> drive = OpenFirstDrive();
    return drive && DriveHasAudio(*drive);
}

// The drive behind an open handle, opened on its own like OpenFirstDrive: the
// question is about the disc in it now, also for an image whose files changed
// since the handle was opened.
std::shared_ptr<TDrive> OpenDriveOf(CDHandle handle)
{
    const std::shared_ptr<TDrive> open = DriveOf(handle);
    if (!open)
        return nullptr;
    TKnownDrive known;
    {
        std::lock_guard guard(open->Lock);
        known = {open->Path, open->IsImage};
    }
    return OpenKnown(known);
}

bool HasAudioDisc(CDHandle handle)
{
    const std::shared_ptr<TDrive> drive = OpenDriveOf(handle);
    return drive && DriveHasAudio(*drive);
}

QString GetDiscId()
{
    EnsureLibrary();
    const std::shared_ptr<TDrive> drive = OpenFirstDrive();
    return drive ? DiscIdOfDrive(*drive) : QString();
}

QString GetDiscId(CDHandle handle)
{
    const std::shared_ptr<TDrive> drive = OpenDriveOf(handle);
    return drive ? DiscIdOfDrive(*drive) : QString();
}

int CDDBDiscLayout(CDHandle handle, std::vector<std::uint32_t>* trackStarts, std::uint32_t* leadOut)
{
    if (!trackStarts || !leadOut)
        return Fail(CDERR_BAD_ARGUMENT, QStringLiteral("No room for the disc layout")), 0;
    const std::shared_ptr<TDrive> drive = DriveOf(handle);
    if (!drive)
        return 0;
    std::lock_guard guard(drive->Lock);
    TDiscLayout layout;
    if (!LayoutOf(*drive, &layout))
        return 0;
    // Unlike ReadTOC, every session counts: the CDDB id of an Enhanced CD
    // includes its data track and ends where the disc ends.
    trackStarts->clear();
    for (const TLayoutTrack& track : layout.Tracks)
        trackStarts->push_back(static_cast<std::uint32_t>(track.Start));
    *leadOut = static_cast<std::uint32_t>(layout.LeadOut);
    Succeed();
    return 1;
}

std::uint32_t CddbDiscId(const std::uint32_t* trackStarts, int trackCount, std::uint32_t leadOut)
{
    if (!trackStarts || trackCount <= 0)
        return 0;
    std::uint32_t sum = 0;
    for (int i = 0; i < trackCount; ++i)
        sum += static_cast<std::uint32_t>(SumOfDigits((trackStarts[i] + CDLeadInFrames) / CDFramesPerSecond));
    const std::uint32_t seconds = (leadOut + CDLeadInFrames) / CDFramesPerSecond -
                                  (trackStarts[0] + CDLeadInFrames) / CDFramesPerSecond;
    return (sum % 0xFF) << 24 | seconds << 8 | static_cast<std::uint32_t>(trackCount);
}
