#pragma once

#include "cd/cd_text.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// The CD drive library: drives, handles, the table of contents and audio reads,
// on libcdio. Its records keep the byte layout callers of a CD drive library
// expect (little-endian, texts zero-terminated 8-bit strings).
//
// The drive list holds the disc images named with SetCDImages or the
// VELBROOK_CD_IMAGES variable first (an image reads like a drive), then the real
// drives. A CDHandle is a slot of this library's own handle table, so closing a
// handle can only close one that this program opened.
//
// The CDDB lookup on top of this library lives in cd/query_cddb.h.
//
// Threads: every operation may be called from any thread. One handle may serve
// several threads; its reads are serialised. The last error is kept per thread.

using CDHandle = std::uint32_t; // 0 = no drive

struct CDDriveInfo {
    std::uint8_t HostAdapter;
    std::uint8_t Target;
    std::uint8_t Lun;
    std::uint8_t Reserved1[66];
    char Vendor[9];   // zero-terminated
    char Product[17]; // zero-terminated
    std::uint8_t Reserved2[26];
};
static_assert(sizeof(CDDriveInfo) == 121);

inline constexpr int CDMaxDrives = 8;

struct CDDriveList {
    std::uint8_t MaxDrives; // capacity, set by the caller (8)
    std::uint8_t NumDrives; // filled
    CDDriveInfo Drives[CDMaxDrives];
};
static_assert(sizeof(CDDriveList) == 970);

struct CDHandleRequest {
    std::uint8_t Size;    // 12
    std::uint8_t Version; // 1
    std::uint8_t HostAdapter;
    std::uint8_t Target;
    std::uint8_t Lun;
    std::uint8_t Reserved[7];
};
static_assert(sizeof(CDHandleRequest) == 12);

struct CDTOCEntry {
    std::uint8_t Reserved1;
    std::uint8_t AdrControl;  // ADR in the high nibble, control bits low (4: data track)
    std::uint8_t TrackNumber; // 0xAA for the lead-out
    std::uint8_t Reserved2;
    // After ModifyCDParms(CDP_MSF, 1): 0, minute, second, frame. Otherwise the
    // sector number, big-endian.
    std::uint8_t Address[4];
};
static_assert(sizeof(CDTOCEntry) == 8);

inline constexpr int CDTOCEntries = 100;

struct CDTOC {
    std::uint16_t Length;
    std::uint8_t FirstTrack;
    std::uint8_t LastTrack;
    CDTOCEntry
        Entries[CDTOCEntries]; // entry i is track FirstTrack + i; the one after the last is the lead-out
};
static_assert(sizeof(CDTOC) == 804);

// Followed in memory by MaxLength bytes of audio.
struct CDTrackBuffer {
    std::uint32_t StartFrame; // sector number
    std::uint32_t NumFrames;
    std::uint32_t MaxLength;   // capacity of the data area in bytes
    std::uint32_t Length;      // filled: bytes of audio
    std::uint32_t Status;      // not used
    std::uint32_t StartOffset; // filled: where the audio starts in the data area
};
static_assert(sizeof(CDTrackBuffer) == 24);

inline std::uint8_t* CDTrackBufferData(CDTrackBuffer* buffer)
{
    return reinterpret_cast<std::uint8_t*>(buffer) + sizeof(CDTrackBuffer);
}

inline constexpr std::uint32_t CDP_MSF = 36;
inline constexpr std::uint8_t CDLeadOutTrack = 0xAA;

// Error numbers of GetAspiLibError.
enum : std::uint32_t {
    CDERR_NONE = 0,
    CDERR_BAD_ARGUMENT = 1,  // a null record, a wrong size or version, a bad parameter
    CDERR_NO_SUCH_DRIVE = 2, // the request names no listed drive
    CDERR_BAD_HANDLE = 3,    // not a handle this library opened
    CDERR_TOO_MANY_HANDLES = 4,
    CDERR_OPEN_FAILED = 5, // the device or image cannot be opened
    CDERR_BAD_IMAGE = 6,   // the image cannot be read correctly
    CDERR_NO_DISC = 7,
    CDERR_TOC = 8,           // the table of contents cannot be read
    CDERR_READ = 9,          // sectors cannot be read
    CDERR_OUT_OF_RANGE = 10, // sectors outside the disc
    CDERR_UNSUPPORTED = 11,  // the drive cannot do this
};

// Images to list before the real drives (from the command line). Relative paths
// are taken from the working folder.
void SetCDImages(const QStringList& files);
// The images to list: those of SetCDImages, then those of VELBROOK_CD_IMAGES
// (colon-separated), each once, as absolute paths.
QStringList CDImages();
// Why an image cannot serve as a drive, or an empty text when it can.
QString CheckCDImage(const QString& file);
// What the user should know about an image that can serve (a CUE sheet whose
// REM DISCID is not the id of its tracks); empty when nothing.
QString CDImageNote(const QString& file);
// Device paths of the real CD drives libcdio finds.
QStringList RealCDDrives();

// Fills list (zero-filled, MaxDrives set) with at most MaxDrives drives. 1 on
// success, 0 for a null or capacity-less list.
int GetCDList(CDDriveList* list);
// A handle to the drive the request names, or 0.
CDHandle GetCDHandle(const CDHandleRequest* request);
// Non-zero when the handle was open and is now closed.
int CloseCDHandle(CDHandle handle);
// Non-zero on success. CDP_MSF with value 1 makes ReadTOC give minute/second/
// frame addresses, with 0 sector numbers.
int ModifyCDParms(CDHandle handle, std::uint32_t parameter, std::uint32_t value);
// 1 on success.
int ReadTOC(CDHandle handle, CDTOC* toc);
// Reads buffer->NumFrames sectors from buffer->StartFrame into the data area;
// 1 on success, with Length and StartOffset set.
int ReadCDAudioLBA(CDHandle handle, CDTrackBuffer* buffer);
// The last error of this thread, and a sentence describing it.
std::uint32_t GetAspiLibError();
QString GetAspiLibErrorText();

// The texts the disc in the drive carries about itself: CD-Text read through
// libcdio, or an image's TITLE, PERFORMER and REM lines. 1 when it carries
// any, 0 when none or on failure.
int ReadCDText(CDHandle handle, TCDText* text);

// Tray operations. The Can* questions answer whether the drive can do it at all
// (an image has no tray); the operations return non-zero on success.
bool CanEjectCD(CDHandle handle);
bool CanCloseCDTray(CDHandle handle);
int EjectCD(CDHandle handle);
int CloseCDTray(CDHandle handle);

// The device path or image file behind an open handle (empty for a bad
// handle), and whether it is an image: what a watcher of media changes watches.
QString CDHandleSource(CDHandle handle, bool* isImage = nullptr);

// Vendor directly followed by product, at most 26 characters.
QString DriveDisplayName(const CDDriveInfo& drive);

// Whether the first drive of the list holds a disc with an audio track.
bool HasAudioDisc();
// The CDDB disc id of the disc in the first drive, as a signed 32-bit decimal
// text; empty when there is no audio disc.
QString GetDiscId();
// The same for the drive behind an open handle: once the user has chosen another
// drive, the disc in that drive is the one whose titles are listed and cached.
bool HasAudioDisc(CDHandle handle);
QString GetDiscId(CDHandle handle);

// The disc behind an open handle as CDDB counts it: the start sectors of every
// track of every session, data tracks too, and the sector where the disc ends.
// 1 on success.
int CDDBDiscLayout(CDHandle handle, std::vector<std::uint32_t>* trackStarts, std::uint32_t* leadOut);

// The CDDB disc id of a table of contents: track start sectors (addresses
// without the lead-in) and the lead-out sector.
std::uint32_t CddbDiscId(const std::uint32_t* trackStarts, int trackCount, std::uint32_t leadOut);
