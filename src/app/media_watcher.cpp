#include "media_watcher.h"

#include "cd/disc_image.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <libudev.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

QString CanonicalDevice(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

QString FileSignature(const QString& path)
{
    const QFileInfo info(path);
    return QString::number(info.size()) + QLatin1Char('@') +
           QString::number(info.lastModified().toMSecsSinceEpoch());
}

} // namespace

TMediaChange MediaChangeOf(const QString& device, const TUdevEvent& event)
{
    if (device.isEmpty() || event.DevNode.isEmpty())
        return TMediaChange::None;
    if (event.DevNode != device && CanonicalDevice(event.DevNode) != CanonicalDevice(device))
        return TMediaChange::None;
    if (event.Action == QLatin1String("remove"))
        return TMediaChange::Removed;
    if (event.Action != QLatin1String("change") && event.Action != QLatin1String("add"))
        return TMediaChange::None;
    const auto media = event.Properties.constFind(QStringLiteral("ID_CDROM_MEDIA"));
    if (media != event.Properties.constEnd())
        return media.value() == QLatin1String("1") ? TMediaChange::Arrived : TMediaChange::Removed;
    if (event.Properties.value(QStringLiteral("DISK_MEDIA_CHANGE")) == QLatin1String("1"))
        return TMediaChange::Probe;
    return TMediaChange::None;
}

TMediaWatcher::TMediaWatcher(QObject* parent) : QObject(parent), PollTimer(new QTimer(this))
{
    PollTimer->setInterval(DefaultPollInterval);
    connect(PollTimer, &QTimer::timeout, this, &TMediaWatcher::Poll);
}

TMediaWatcher::~TMediaWatcher()
{
    StopUdev();
}

void TMediaWatcher::Watch(const QString& source, bool isImage)
{
    PollTimer->stop();
    StopUdev();
    WatchedSource = source;
    WatchedImage = isImage;
    LastState = TState{};
    if (source.isEmpty())
        return;
    LastState = Look();
    if (isImage || !StartUdev())
        PollTimer->start();
}

QString TMediaWatcher::Source() const
{
    return WatchedSource;
}

bool TMediaWatcher::UsesUdevEvents() const
{
    return Monitor != nullptr;
}

void TMediaWatcher::SetPollInterval(int milliseconds)
{
    PollTimer->setInterval(milliseconds);
}

void TMediaWatcher::Poll()
{
    if (!WatchedSource.isEmpty())
        Report(Look());
}

TMediaWatcher::TState TMediaWatcher::Look() const
{
    TState state;
    if (WatchedImage) {
        const TDiscImage image = LoadDiscImage(WatchedSource);
        state.Known = true;
        state.Present = image.IsValid();
        if (state.Present) {
            state.Signature = FileSignature(image.DescriptionPath);
            for (const TImageFile& file : image.Files)
                state.Signature += QLatin1Char('/') + FileSignature(file.Path);
        }
        return state;
    }
    // Asking the drive's status neither spins the disc up nor locks the tray.
    const int fd = ::open(QFile::encodeName(WatchedSource).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return state;
    const int status = ::ioctl(fd, CDROM_DRIVE_STATUS, CDSL_CURRENT);
    ::close(fd);
    if (status < 0 || status == CDS_NO_INFO)
        return state;
    state.Known = true;
    state.Present = status == CDS_DISC_OK;
    return state;
}

void TMediaWatcher::Report(const TState& state)
{
    // A drive that cannot be asked (busy, no permission) changes nothing.
    if (!state.Known || state == LastState)
        return;
    const TState previous = LastState;
    LastState = state;
    if (state.Present)
        emit MediaArrived();
    else if (previous.Present || !previous.Known)
        emit MediaRemoved();
}

bool TMediaWatcher::StartUdev()
{
    Udev = udev_new();
    if (!Udev)
        return false;
    // Without a running udev daemon no processed events come; poll instead.
    udev_queue* queue = udev_queue_new(Udev);
    const bool active = queue && udev_queue_get_udev_is_active(queue);
    if (queue)
        udev_queue_unref(queue);
    if (active)
        Monitor = udev_monitor_new_from_netlink(Udev, "udev");
    if (!Monitor || udev_monitor_filter_add_match_subsystem_devtype(Monitor, "block", nullptr) < 0 ||
        udev_monitor_enable_receiving(Monitor) < 0) {
        StopUdev();
        return false;
    }
    const int fd = udev_monitor_get_fd(Monitor);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    Notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, &TMediaWatcher::ReadUdevEvents);
    return true;
}

void TMediaWatcher::StopUdev()
{
    delete Notifier;
    Notifier = nullptr;
    if (Monitor)
        udev_monitor_unref(Monitor);
    Monitor = nullptr;
    if (Udev)
        udev_unref(Udev);
    Udev = nullptr;
}

void TMediaWatcher::ReadUdevEvents()
{
    while (Monitor) {
        udev_device* device = udev_monitor_receive_device(Monitor);
        if (!device)
            return;
        TUdevEvent event;
        event.Action = QString::fromUtf8(udev_device_get_action(device));
        event.DevNode = QString::fromUtf8(udev_device_get_devnode(device));
        for (const char* name : {"ID_CDROM_MEDIA", "DISK_MEDIA_CHANGE"}) {
            if (const char* value = udev_device_get_property_value(device, name))
                event.Properties.insert(QString::fromLatin1(name), QString::fromUtf8(value));
        }
        udev_device_unref(device);
        switch (MediaChangeOf(WatchedSource, event)) {
        case TMediaChange::Arrived:
            LastState = {true, true, {}};
            emit MediaArrived();
            break;
        case TMediaChange::Removed:
            LastState = {true, false, {}};
            emit MediaRemoved();
            break;
        case TMediaChange::Probe:
            Poll();
            break;
        case TMediaChange::None:
            break;
        }
    }
}
