#pragma once

#include <QString>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

// A file system that fills up: a tmpfs of the given size mounted on a fresh
// folder, when this process may mount one (as root). Tests that need a full
// disk use it when Mounted(), and a file-size limit (TFileSizeLimit, or
// RLIMIT_FSIZE in a child) otherwise.
class TSmallDisk {
public:
    explicit TSmallDisk(int kilobytes);
    ~TSmallDisk();
    TSmallDisk(const TSmallDisk&) = delete;
    TSmallDisk& operator=(const TSmallDisk&) = delete;

    bool Mounted() const { return IsMounted; }
    QString Path() const { return Dir.path(); }
    QString File(const QString& name) const { return Dir.filePath(name); }

private:
    QTemporaryDir Dir;
    bool IsMounted = false;
};

// A file-size limit for this process while the object lives: writes past it
// fail with EFBIG (SIGXFSZ is ignored meanwhile, as the program ignores it).
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(qint64 bytes);
    ~TFileSizeLimit();
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    rlimit Previous{};
    void (*PreviousHandler)(int) = SIG_DFL;
};
