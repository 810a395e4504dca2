#include "helpers.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

QString FormatTwoDigits(qint64 n)
{
    if (n >= 0 && n <= 9)
        return QStringLiteral("0") + QString::number(n);
    return QString::number(n);
}

QString TimeText(qint64 seconds)
{
    if (seconds < 0)
        seconds = 0;
    return FormatTwoDigits(seconds / 60) + QLatin1Char(':') + FormatTwoDigits(seconds % 60);
}

qint64 RoundHalfEven(double x)
{
    const double lower = std::floor(x);
    const double diff = x - lower;
    double result = lower;
    if (diff > 0.5)
        result = lower + 1.0;
    else if (diff == 0.5)
        result = std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
    return static_cast<qint64>(result);
}

TClock::time_point Now()
{
    return TClock::now();
}

qint64 ElapsedSeconds(TClock::time_point start, TClock::time_point now)
{
    const std::chrono::duration<double> span = now - start;
    return RoundHalfEven(span.count());
}

QString CleanFileName(const QString& text)
{
    static const QString forbidden = QStringLiteral("*/:<>?\\|");
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        // Control characters, C1 (U+0080-U+009F) too: a terminal listing the
        // folder would obey them.
        const char16_t code = c.unicode();
        if (!forbidden.contains(c) && code >= 0x20 && (code < 0x7F || code >= 0xA0))
            result.append(c);
    }
    return result;
}

QString FromCodePage1252(QByteArrayView bytes)
{
    static constexpr char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    };
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += byte >= 0x80 && byte < 0xA0 ? QChar(high[byte - 0x80]) : QChar(byte);
    }
    return text;
}

QString WithTrailingBackslash(const QString& path)
{
    if (path.isEmpty())
        return path;
    const QChar separator = QDir::separator();
    if (path.endsWith(separator))
        return path;
    return path + separator;
}

namespace {

// Whether any other process has the file (device, inode) open, found the way
// fuser finds it. Processes we may not inspect are skipped.
bool HeldOpenByAnotherProcess(dev_t device, ino_t inode)
{
    DIR* proc = opendir("/proc");
    if (!proc)
        return false;
    const pid_t self = getpid();
    bool found = false;
    while (!found) {
        const dirent* entry = readdir(proc);
        if (!entry)
            break;
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid == self)
            continue;
        const std::string fdPath = std::string("/proc/") + entry->d_name + "/fd";
        DIR* fds = opendir(fdPath.c_str());
        if (!fds)
            continue;
        while (const dirent* fd = readdir(fds)) {
            if (fd->d_name[0] == '.')
                continue;
            struct stat st {};
            // stat() follows the descriptor's link to the open file itself, so a
            // renamed or deleted path still compares by inode.
            if (stat((fdPath + "/" + fd->d_name).c_str(), &st) == 0 && st.st_dev == device &&
                st.st_ino == inode) {
                found = true;
                break;
            }
        }
        closedir(fds);
    }
    closedir(proc);
    return found;
}

} // namespace

bool IsFileInUse(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (lstat(native.constData(), &st) != 0)
        return false;
    if (S_ISLNK(st.st_mode) && stat(native.constData(), &st) != 0)
        return true; // a dangling link cannot be written through safely
    // A directory, FIFO or device is never a file we may overwrite; opening a FIFO
    // could also block.
    if (!S_ISREG(st.st_mode))
        return true;
    const int fd = open(native.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return true;
    close(fd);
    return HeldOpenByAnotherProcess(st.st_dev, st.st_ino);
}

void WaitMilliseconds(qint64 ms)
{
    if (ms < 1)
        return;
    const auto until = Now() + std::chrono::milliseconds(ms);
    while (Now() < until)
        std::this_thread::sleep_until(until);
}

qint64 FileSizeOf(const QString& path)
{
    struct stat st {};
    if (stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<qint64>(st.st_size);
}
