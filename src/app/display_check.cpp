#include "display_check.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <arpa/inet.h>
#include <cstddef>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool ConnectUnix(const QByteArray& path, bool abstract)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof(address.sun_path)) {
        close(fd);
        return false;
    }
    std::memcpy(address.sun_path + offset, path.constData(), static_cast<size_t>(path.size()));
    const socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + static_cast<size_t>(path.size()));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    close(fd);
    return ok;
}

bool ConnectTcp(const QByteArray& host, int port)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.constData(), QByteArray::number(port).constData(), &hints, &found) != 0)
        return false;
    bool ok = false;
    for (addrinfo* a = found; a && !ok; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        ok = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
        close(fd);
    }
    freeaddrinfo(found);
    return ok;
}

// DISPLAY is [host]:number[.screen]; a local display listens on a Unix socket.
bool X11Reachable(const QString& display)
{
    const qsizetype colon = display.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    QString host = display.left(colon);
    const QString number = display.mid(colon + 1).section(QLatin1Char('.'), 0, 0);
    bool ok = false;
    const int n = number.toInt(&ok);
    if (!ok || n < 0)
        return false;
    if (host.isEmpty() || host == QLatin1String("unix")) {
        const QByteArray path = "/tmp/.X11-unix/X" + QByteArray::number(n);
        return ConnectUnix(path, false) || ConnectUnix(path, true);
    }
    if (host.startsWith(QLatin1Char('/')))
        return QFileInfo::exists(display); // a launchd-style socket path
    return ConnectTcp(host.toLocal8Bit(), 6000 + n);
}

bool WaylandReachable(const QString& display)
{
    QString path = display;
    if (!QDir::isAbsolutePath(path)) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (runtime.isEmpty())
            return false;
        path = runtime + QLatin1Char('/') + display;
    }
    return ConnectUnix(QFile::encodeName(path), false);
}

} // namespace

QString DisplayProblem()
{
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith(QLatin1String("xcb")) &&
        !platform.startsWith(QLatin1String("wayland")))
        return {}; // offscreen, vnc, eglfs...: Qt was told what to use
    const QString x11 = qEnvironmentVariable("DISPLAY");
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (x11.isEmpty() && wayland.isEmpty())
        return QStringLiteral("No display: neither DISPLAY nor WAYLAND_DISPLAY is set.");
    if (!wayland.isEmpty() && WaylandReachable(wayland))
        return {};
    if (!x11.isEmpty() && X11Reachable(x11))
        return {};
    if (!x11.isEmpty())
        return QStringLiteral("No display: the X display \"%1\" cannot be reached.").arg(x11);
    return QStringLiteral("No display: the Wayland display \"%1\" cannot be reached.").arg(wayland);
}
