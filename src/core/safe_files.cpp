#include "safe_files.h"

#include "core/language.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr mode_t WriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
// The longest file name most Linux file systems take, in bytes.
constexpr qsizetype NameMaxBytes = 255;
constexpr int NumberedNames = 999;
constexpr int PendingAttempts = 100;
// Less room than this left on a file system counts as full: a writer fails on
// the block it cannot place, not on the last byte.
constexpr qint64 FullDiskBytes = 64 * 1024;

QByteArray Native(const QString& path)
{
    return QFile::encodeName(path);
}

bool ProtectedMode(const struct stat& st)
{
    return S_ISREG(st.st_mode) && (st.st_mode & WriteBits) == 0;
}

// Splits a file name at its extension's dot; a leading dot (a hidden file) is
// no extension.
void SplitName(const QString& name, QString* stem, QString* extension)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    *stem = dot > 0 ? name.left(dot) : name;
    *extension = dot > 0 ? name.mid(dot) : QString();
}

// The text cut to at most bytes bytes of its file-name encoding, at a
// character boundary.
QString ClipToBytes(const QString& text, qsizetype bytes)
{
    QString clipped = text;
    while (!clipped.isEmpty() && Native(clipped).size() > bytes) {
        clipped.chop(1);
        if (!clipped.isEmpty() && clipped.back().isHighSurrogate())
            clipped.chop(1);
    }
    return clipped;
}

QString RandomTag()
{
    static const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString tag;
    for (int i = 0; i < 8; ++i)
        tag.append(QLatin1Char(digits[QRandomGenerator::global()->bounded(36)]));
    return tag;
}

void SetError(TFileError* error, const TFileError& value)
{
    if (error)
        *error = value;
}

} // namespace

QString SystemErrorText(int number)
{
    char buffer[256] = {};
    // The GNU variant returns the text, which may or may not be in buffer.
    const char* text = strerror_r(number, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

TFileError TFileError::FromErrno()
{
    return TFileError(errno != 0 ? errno : EIO);
}

TFileError TFileError::WriteProtected()
{
    return TFileError(EPERM, TKind::Protected);
}

TFileError TFileError::NotPlainFile()
{
    return TFileError(EEXIST, TKind::NotPlain);
}

QString TFileError::Text() const
{
    switch (Kind) {
    case TKind::Protected:
        return Translate(RES_File_ReadOnly);
    case TKind::NotPlain:
        return Translate(RES_File_NotPlain);
    case TKind::System:
        break;
    }
    return SystemErrorText(Number);
}

QString FileErrorMessage(const QString& headline, const QString& path, const QString& reason)
{
    return headline + QLatin1Char('\n') + path + QLatin1Char('\n') + reason;
}

bool EntryExists(const QString& path)
{
    struct stat st {};
    if (lstat(Native(path).constData(), &st) == 0)
        return true;
    // A name we cannot look at may well be taken.
    return errno != ENOENT && errno != ENOTDIR;
}

bool IsWriteProtected(const QString& path)
{
    const QByteArray native = Native(path);
    struct stat st {};
    if (lstat(native.constData(), &st) != 0)
        return false;
    if (S_ISLNK(st.st_mode) && stat(native.constData(), &st) != 0)
        return false;
    return ProtectedMode(st);
}

TFileError CheckReplaceable(const QString& path)
{
    const QByteArray native = Native(path);
    struct stat st {};
    if (lstat(native.constData(), &st) != 0)
        return errno == ENOENT ? TFileError() : TFileError::FromErrno();
    if (S_ISLNK(st.st_mode)) {
        // The link itself is replaced; a read-only file it leads to is still
        // the user's sign to keep things as they are.
        struct stat target {};
        if (stat(native.constData(), &target) == 0 && ProtectedMode(target))
            return TFileError::WriteProtected();
        return {};
    }
    if (S_ISDIR(st.st_mode))
        return TFileError(EISDIR);
    if (!S_ISREG(st.st_mode))
        return TFileError::NotPlainFile();
    if (ProtectedMode(st))
        return TFileError::WriteProtected();
    return {};
}

TFileIdentity TFileIdentity::Of(const QString& path)
{
    struct stat st {};
    if (lstat(Native(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return {st.st_dev, st.st_ino, true};
}

TFileIdentity TFileIdentity::OfHandle(int handle)
{
    struct stat st {};
    if (handle < 0 || fstat(handle, &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return {st.st_dev, st.st_ino, true};
}

bool TFileIdentity::Matches(const QString& path) const
{
    if (!Valid)
        return false;
    const TFileIdentity now = Of(path);
    return now.Valid && now.Device == Device && now.Inode == Inode;
}

bool RemoveIfSame(const QString& path, const TFileIdentity& identity)
{
    return identity.Matches(path) && unlink(Native(path).constData()) == 0;
}

TFileError WriteFully(int handle, const char* data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t written = ::write(handle, data + done, static_cast<size_t>(size - done));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return TFileError::FromErrno();
        }
        if (written == 0)
            return TFileError(EIO);
        done += written;
    }
    return {};
}

bool WriteFully(QIODevice& device, const char* data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const qint64 written = device.write(data + done, size - done);
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

int OpenFileForWriting(const QString& path, bool truncate, TFileError* error)
{
    const QByteArray native = Native(path);
    struct stat st {};
    if (lstat(native.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            SetError(error, TFileError(EISDIR));
            return -1;
        }
        if (!S_ISREG(st.st_mode)) {
            SetError(error, TFileError::NotPlainFile());
            return -1;
        }
        if (ProtectedMode(st)) {
            SetError(error, TFileError::WriteProtected());
            return -1;
        }
    }
    // Non-blocking, so a FIFO that took the name since cannot hang us.
    const int handle =
        ::open(native.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (handle < 0) {
        SetError(error, errno == ELOOP ? TFileError::NotPlainFile() : TFileError::FromErrno());
        return -1;
    }
    struct stat opened {};
    if (fstat(handle, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(handle);
        SetError(error, TFileError::NotPlainFile());
        return -1;
    }
    const int flags = fcntl(handle, F_GETFL);
    if ((flags >= 0 && fcntl(handle, F_SETFL, flags & ~O_NONBLOCK) != 0) ||
        (truncate && ftruncate(handle, 0) != 0)) {
        SetError(error, TFileError::FromErrno());
        ::close(handle);
        return -1;
    }
    SetError(error, {});
    return handle;
}

int LikelyWriteFailure(const QString& path)
{
    struct statvfs disk {};
    const QString folder = QFileInfo(path).absolutePath();
    if (statvfs(Native(folder).constData(), &disk) == 0) {
        // Root may use the blocks kept back for it.
        const auto blocks = geteuid() == 0 ? disk.f_bfree : disk.f_bavail;
        if (qint64(blocks) * qint64(disk.f_frsize) < FullDiskBytes)
            return ENOSPC;
    }
    rlimit limit{};
    struct stat st {};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        stat(Native(path).constData(), &st) == 0 &&
        qint64(st.st_size) + FullDiskBytes >= qint64(limit.rlim_cur))
        return EFBIG;
    return 0;
}

TCreatedFile::~TCreatedFile()
{
    Remove();
}

TCreatedFile::TCreatedFile(TCreatedFile&& other) noexcept
    : FilePath(std::move(other.FilePath)), FileHandle(other.FileHandle), Identity(other.Identity)
{
    other.FileHandle = -1;
    other.Identity = {};
    other.FilePath.clear();
}

TCreatedFile& TCreatedFile::operator=(TCreatedFile&& other) noexcept
{
    if (this != &other) {
        Remove();
        FilePath = std::move(other.FilePath);
        FileHandle = other.FileHandle;
        Identity = other.Identity;
        other.FileHandle = -1;
        other.Identity = {};
        other.FilePath.clear();
    }
    return *this;
}

TCreatedFile TCreatedFile::Create(const QString& path, TFileError* error)
{
    TCreatedFile file;
    // O_EXCL also fails on a link, dangling or not: nothing is followed.
    const int handle =
        ::open(Native(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
    if (handle < 0) {
        SetError(error, TFileError::FromErrno());
        return file;
    }
    file.FilePath = path;
    file.FileHandle = handle;
    file.Identity = TFileIdentity::OfHandle(handle);
    SetError(error, {});
    return file;
}

TCreatedFile TCreatedFile::CreateNew(const QString& path, TFileError* error)
{
    return Create(path, error);
}

TCreatedFile TCreatedFile::CreateTemporary(const QString& path, TFileError* error)
{
    TFileError failure;
    TCreatedFile file = Create(path, &failure);
    if (file.IsValid() || failure.ErrorNumber() != EEXIST) {
        SetError(error, failure);
        return file;
    }
    const QFileInfo info(path);
    QString stem;
    QString extension;
    SplitName(info.fileName(), &stem, &extension);
    const QString folder = path.left(path.size() - info.fileName().size());
    for (int n = 2; n <= NumberedNames; ++n) {
        // A name that fitted may not fit with its number: the stem gives way.
        const QString number = QStringLiteral(" (%1)").arg(n);
        const QString fitted = ClipToBytes(stem, NameMaxBytes - Native(number + extension).size());
        file = Create(folder + fitted + number + extension, &failure);
        if (file.IsValid() || failure.ErrorNumber() != EEXIST)
            break;
    }
    SetError(error, failure);
    return file;
}

bool TCreatedFile::StillOurs() const
{
    return Identity.Matches(FilePath);
}

bool TCreatedFile::Reset()
{
    return FileHandle >= 0 && StillOurs() && ftruncate(FileHandle, 0) == 0 &&
           lseek(FileHandle, 0, SEEK_SET) == 0;
}

TFileError TCreatedFile::Close()
{
    TFileError error;
    if (FileHandle >= 0 && ::close(FileHandle) != 0 && errno != EINTR)
        error = TFileError::FromErrno();
    FileHandle = -1;
    return error;
}

bool TCreatedFile::Remove()
{
    Close();
    const bool removed = RemoveIfSame(FilePath, Identity);
    Identity = {};
    FilePath.clear();
    return removed;
}

void TCreatedFile::Keep()
{
    Close();
    Identity = {};
    FilePath.clear();
}

TPendingFile::~TPendingFile()
{
    Discard();
}

TPendingFile& TPendingFile::operator=(TPendingFile&& other) noexcept
{
    if (this != &other) {
        Discard();
        TargetPath = std::move(other.TargetPath);
        File = std::move(other.File);
    }
    return *this;
}

TFileError TPendingFile::Begin(const QString& target)
{
    Discard();
    TargetPath = target;
    const QFileInfo info(target);
    QString stem;
    QString extension;
    SplitName(info.fileName(), &stem, &extension);
    const QString folder = target.left(target.size() - info.fileName().size());
    // Hidden, and with the target's extension: a program that writes it may
    // choose its format by the name.
    const QString marker = QStringLiteral(".part-");
    const qsizetype room = NameMaxBytes - 1 - Native(marker + RandomTag() + extension).size();
    stem = ClipToBytes(stem, room);
    TFileError error;
    for (int attempt = 0; attempt < PendingAttempts; ++attempt) {
        File = TCreatedFile::CreateNew(folder + QLatin1Char('.') + stem + marker + RandomTag() + extension,
                                       &error);
        if (File.IsValid() || error.ErrorNumber() != EEXIST)
            break;
    }
    return error;
}

TFileError TPendingFile::BeginNamed(const QString& target, const QString& temporaryPath)
{
    Discard();
    TargetPath = target;
    TFileError error;
    File = TCreatedFile::CreateTemporary(temporaryPath, &error);
    return error;
}

qint64 TPendingFile::Size() const
{
    struct stat st {};
    if (File.Handle() < 0 || fstat(File.Handle(), &st) != 0)
        return -1;
    return qint64(st.st_size);
}

TFileError TPendingFile::Commit(TReplace replace)
{
    if (!Active())
        return TFileError(EINVAL);
    // Write errors reported late (quotas, network file systems) show here,
    // before the file takes the target's place.
    const TFileError closed = File.Close();
    if (closed)
        return closed;
    if (!File.StillOurs())
        return TFileError(ENOENT);
    const QByteArray from = Native(File.Path());
    const QByteArray to = Native(TargetPath);
    if (replace == TReplace::Allowed) {
        const TFileError refused = CheckReplaceable(TargetPath);
        if (refused)
            return refused;
        if (::rename(from.constData(), to.constData()) != 0)
            return TFileError::FromErrno();
    } else if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
            return TFileError::FromErrno();
        // A file system without that rename: a hard link is just as exclusive.
        if (::link(from.constData(), to.constData()) == 0) {
            ::unlink(from.constData());
        } else {
            if (errno == EEXIST || EntryExists(TargetPath))
                return TFileError(EEXIST);
            if (::rename(from.constData(), to.constData()) != 0)
                return TFileError::FromErrno();
        }
    }
    File.Keep();
    return {};
}

void TPendingFile::Discard()
{
    File.Remove();
}
