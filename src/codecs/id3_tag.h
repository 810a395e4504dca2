#pragma once

#include "core/safe_files.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

// The 128-byte ID3v1 tag at the end of an MP3 file, with the ID3v1.1 variant that
// keeps a track number in the last two bytes of the comment.
//
// The file holds single-byte text. We write Latin-1 where every character fits,
// otherwise UTF-8 cut at a character boundary; we read valid UTF-8 as UTF-8 and
// anything else as Latin-1, so tags written by older programs read sensibly.
//
// Only a regular file is read or changed: a directory, a device or a FIFO is
// refused, and a file that has vanished is never made anew. Where the tag is
// (or whether there is one) is found afresh by every operation, so a file that
// another program changed since it was read never loses audio.
//
// Main thread only; every operation opens and closes the file itself.
class Tid3tag {
public:
    // Results of ReadTag and WriteTag: the high byte holds one error, the low byte
    // flags; below 256 is success.
    static constexpr uint16_t FileNotFound = 0x0100; // also: cannot be opened
    static constexpr uint16_t FileReadOnly = 0x0200;
    static constexpr uint16_t ReadError = 0x0300;
    static constexpr uint16_t WriteError = 0x0400;
    static constexpr uint16_t IoError = 0x0500;
    static constexpr uint16_t NoTag = 0x1000;
    static constexpr uint16_t UnknownGenreFlag = 0x0080;

    static constexpr int BlockSize = 128;
    static constexpr int TextSize = 30;
    static constexpr int YearSize = 4;
    static constexpr int TrackCommentSize = 28;

    bool HasTrack = false;
    // The file of the last read, or of the last successful write.
    QString FileName;
    QString Title;
    QString Artist;
    QString Album;
    QString Year;
    QString Comment;
    uint8_t Genre = 255;
    uint8_t Track = 0;
    // Why the last ReadTag, WriteTag or RemoveTag failed, for the user.
    TFileError LastError;

    // Fills the fields only when the file ends with a tag.
    uint16_t ReadTag(const QString& path);
    // path "=" writes to FileName. Overwrites a tag at the end of the file, or
    // appends one. A failed write leaves the file as it was.
    uint16_t WriteTag(const QString& path);
    // Cuts the tag off FileName when it has one. A file without a tag is left
    // alone and counts as success; otherwise the codes of WriteTag.
    uint16_t RemoveTag();

    // Each cuts the text to the characters the tag can hold.
    void SetTitle(const QString& text);
    void SetArtist(const QString& text);
    void SetAlbum(const QString& text);
    void SetYear(const QString& text);
    void SetComment(const QString& text);
    void SetTrack(uint8_t value);

    // The block WriteTag writes for the current fields.
    QByteArray ToBlock() const;
    // Reads a 128-byte block that begins with "TAG" into the fields; returns the
    // flags of ReadTag (0 or UnknownGenreFlag).
    uint16_t FromBlock(const QByteArray& block);
};

// Whether the file may be changed by us. A file whose write permission bits are
// all cleared counts as read-only even for root, as the user meant it so.
bool IsWritableFile(const QString& path);
