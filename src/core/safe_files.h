#pragma once

#include <QString>
#include <QtGlobal>

#include <sys/types.h>

class QIODevice;

// Writing result files and temporary files without harming anything else.
// Every writer of a file that the user did not name as input goes through here.
//
// - A name is taken when any directory entry has it (EntryExists): a file, a
//   folder, a FIFO, a symbolic link, also a link that leads nowhere. Nothing
//   here ever writes through a link.
// - A file whose write permission bits are all cleared (mode 444) is the user's
//   way of saying "keep this" (IsWriteProtected). It is never replaced,
//   truncated or deleted, also when we run as root.
// - A temporary file with a fixed name (the resampling files, <title>.nor):
//   TCreatedFile::CreateTemporary creates it exclusively (O_CREAT | O_EXCL |
//   O_NOFOLLOW) under that name when it is free, else as "name (2).ext",
//   "name (3).ext"... Use the name it got (Path), write through Handle or by
//   that name, and let Remove (or the destructor) delete it: only while the name
//   still leads to the file this object created.
// - A result file is written into a private temporary beside its target
//   (TPendingFile::Begin): a hidden, unique name created exclusively in the same
//   folder. Write it through Handle, or let another program (lame,
//   velbrook-wmaenc) write PendingPath. Once it is complete, and only then,
//   Commit puts it in the target's place in one rename; otherwise Discard (or
//   the destructor) deletes it. A stopped or failed writer thus leaves nothing
//   under the final name, and a file it replaces stays whole until then.
//   Commit(TReplace::Never) keeps whatever took the name meanwhile (EEXIST);
//   Commit(TReplace::Allowed) replaces a plain file or a link (the link itself,
//   never what it leads to), never a write-protected file, a folder or a device.
// - A file that a job made and later deletes (an extracted WAV after its
//   encoding): remember TFileIdentity::Of(path) once it is in place and delete
//   it with RemoveIfSame, which leaves alone whatever has taken the name since.
// - Failures are TFileError values: the errno and the system's reason
//   (strerror's text), for messages that say what really went wrong.
//
// Threads: everything here may be used from any thread; one object from one
// thread at a time.

// strerror's text for errno value number ("No space left on device").
QString SystemErrorText(int number);

// Why a file operation failed, or no failure.
class TFileError {
public:
    TFileError() = default;
    explicit TFileError(int number) : Number(number) {}
    // errno as it is now.
    static TFileError FromErrno();
    // The file is write-protected and was left as it is (errno EPERM).
    static TFileError WriteProtected();
    // The name is taken by a FIFO, a device or a socket (errno EEXIST).
    static TFileError NotPlainFile();

    bool Failed() const { return Number != 0; }
    explicit operator bool() const { return Failed(); }
    int ErrorNumber() const { return Number; }
    // The reason as users read it: strerror's text, or words of ours for the
    // two cases above.
    QString Text() const;

private:
    enum class TKind { System, Protected, NotPlain };
    TFileError(int number, TKind kind) : Number(number), Kind(kind) {}

    int Number = 0;
    TKind Kind = TKind::System;
};

// A message about a file that failed: what failed, the file and the reason,
// one to a line.
QString FileErrorMessage(const QString& headline, const QString& path, const QString& reason);

// Whether any directory entry has this name, a dangling link included.
bool EntryExists(const QString& path);

// Whether the entry, or the file a link leads to, is a regular file whose write
// permission bits are all cleared.
bool IsWriteProtected(const QString& path);

// Whether a result may be put in place at path: no error when nothing has the
// name or it is a plain file or a link that may be replaced; otherwise why not
// (write-protected, EISDIR for a folder, NotPlainFile for anything else).
TFileError CheckReplaceable(const QString& path);

// Where a file is on the disk, to tell later whether a name still leads to it.
struct TFileIdentity {
    dev_t Device = 0;
    ino_t Inode = 0;
    bool Valid = false;

    // The regular file the entry itself is (a link is not followed): Valid is
    // false for anything else.
    static TFileIdentity Of(const QString& path);
    static TFileIdentity OfHandle(int handle);
    bool Matches(const QString& path) const;
};

// Deletes path only while it is the file identity describes; true when deleted.
bool RemoveIfSame(const QString& path, const TFileIdentity& identity);

// Writes all of data, going on after short writes, so that a failure carries
// the real reason (a short write sets no errno; the next one says ENOSPC).
TFileError WriteFully(int handle, const char* data, qint64 size);
// The same for a device (an unbuffered QFile): false when it failed, and the
// device's errorString then holds the system's reason.
bool WriteFully(QIODevice& device, const char* data, qint64 size);

// Opens path for writing without following a link at its end: creates it when
// nothing has the name, else opens the plain file that is there (emptied when
// truncate is set). Refuses write-protected files and anything that is not a
// plain file. Returns the handle (close-on-exec) or -1 and the error.
int OpenFileForWriting(const QString& path, bool truncate, TFileError* error);

// Why a file written by another program may have come out short, judged from
// the outside: ENOSPC when its file system has no room left, EFBIG when it has
// reached this process's file-size limit (which children inherit), 0 when
// neither holds.
int LikelyWriteFailure(const QString& path);

// A file this object created, and deletes again unless told to keep it.
class TCreatedFile {
public:
    TCreatedFile() = default;
    ~TCreatedFile();
    TCreatedFile(TCreatedFile&& other) noexcept;
    TCreatedFile& operator=(TCreatedFile&& other) noexcept;
    TCreatedFile(const TCreatedFile&) = delete;
    TCreatedFile& operator=(const TCreatedFile&) = delete;

    // Creates path, which must be free (EEXIST when any entry has the name).
    static TCreatedFile CreateNew(const QString& path, TFileError* error = nullptr);
    // Creates path when it is free, else the first free "stem (n).ext" beside
    // it (n from 2 on).
    static TCreatedFile CreateTemporary(const QString& path, TFileError* error = nullptr);

    bool IsValid() const { return Identity.Valid; }
    // The name the file got.
    QString Path() const { return FilePath; }
    // Open for reading and writing; -1 once closed.
    int Handle() const { return FileHandle; }
    TFileIdentity FileIdentity() const { return Identity; }
    // Whether Path still leads to the file this object created.
    bool StillOurs() const;
    // Empties the file for a new use, when it is still ours; false otherwise.
    bool Reset();
    // Closes the handle; the file stays and is still removed later. The error
    // is what closing reported (a network file system may report a failed
    // write only here).
    TFileError Close();
    // Deletes the file if Path still leads to it, and forgets it.
    bool Remove();
    // Forgets the file without deleting it (it has been renamed into place).
    void Keep();

private:
    static TCreatedFile Create(const QString& path, TFileError* error);

    QString FilePath;
    int FileHandle = -1;
    TFileIdentity Identity;
};

// A result file written privately and put in place when complete.
class TPendingFile {
public:
    enum class TReplace { Never, Allowed };

    TPendingFile() = default;
    ~TPendingFile();
    TPendingFile(TPendingFile&& other) noexcept = default;
    TPendingFile& operator=(TPendingFile&& other) noexcept;
    TPendingFile(const TPendingFile&) = delete;
    TPendingFile& operator=(const TPendingFile&) = delete;

    // Creates the private temporary beside target (same folder, so Commit is
    // one rename). A temporary of an earlier Begin is discarded first.
    TFileError Begin(const QString& target);
    // The same with a temporary of a fixed name (the gain pass's <title>.nor),
    // made unique as TCreatedFile::CreateTemporary does. It should lie in the
    // target's folder, so that Commit is one rename.
    TFileError BeginNamed(const QString& target, const QString& temporaryPath);
    bool Active() const { return File.IsValid(); }
    QString Target() const { return TargetPath; }
    QString PendingPath() const { return File.Path(); }
    int Handle() const { return File.Handle(); }
    qint64 Size() const;

    // Closes the temporary and renames it to the target. Fails (and keeps the
    // temporary for Discard) when closing reports a failed write, when the
    // temporary is no longer ours, when the target may not be replaced (see
    // TReplace), or when the system refuses.
    TFileError Commit(TReplace replace);
    // Deletes the temporary if it is still ours.
    void Discard();

private:
    QString TargetPath;
    TCreatedFile File;
};
