#include "small_disk.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <sys/mount.h>

TSmallDisk::TSmallDisk(int kilobytes) : Dir(QDir::tempPath() + QStringLiteral("/velbrook-disk-XXXXXX"))
{
    const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k,mode=0777";
    IsMounted = ::mount("tmpfs", QFile::encodeName(Dir.path()).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                        options.constData()) == 0;
}

TSmallDisk::~TSmallDisk()
{
    if (IsMounted)
        ::umount2(QFile::encodeName(Dir.path()).constData(), MNT_DETACH);
}

TFileSizeLimit::TFileSizeLimit(qint64 bytes)
{
    EXPECT_EQ(getrlimit(RLIMIT_FSIZE, &Previous), 0);
    PreviousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = Previous;
    limited.rlim_cur = static_cast<rlim_t>(bytes);
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
}

TFileSizeLimit::~TFileSizeLimit()
{
    setrlimit(RLIMIT_FSIZE, &Previous);
    std::signal(SIGXFSZ, PreviousHandler);
}
