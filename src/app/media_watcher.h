#pragma once

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>

class QSocketNotifier;
class QTimer;
struct udev;
struct udev_monitor;

// One event of the udev "block" subsystem, as far as the watcher reads it.
struct TUdevEvent {
    QString Action;  // add, change, remove
    QString DevNode; // /dev/sr0
    QHash<QString, QString> Properties;
};

enum class TMediaChange { None, Arrived, Removed, Probe };

// What an event means for the drive at device: events of other devices (USB
// sticks, loop devices, partitions) mean nothing. A change event that carries
// the disc state says arrived or removed; one that only says the media changed
// asks for a look at the drive (Probe).
TMediaChange MediaChangeOf(const QString& device, const TUdevEvent& event);

// Tells the main window when a disc arrives in or leaves its open drive. A real
// drive is watched through udev's media events where a udev daemon runs, else
// by asking the drive every PollInterval; a disc image is watched by polling
// whether it can still be read (a disc image that disappears is an ejected
// disc, one that comes back or changes is a new disc).
//
// Threads: user-interface thread only; udev events arrive through a socket
// notifier on its event loop.
class TMediaWatcher final : public QObject {
    Q_OBJECT

public:
    static constexpr int DefaultPollInterval = 2000; // milliseconds

    explicit TMediaWatcher(QObject* parent = nullptr);
    ~TMediaWatcher() override;
    TMediaWatcher(const TMediaWatcher&) = delete;
    TMediaWatcher& operator=(const TMediaWatcher&) = delete;

    // Watches the drive behind source (a device path or an image file) from its
    // present state on; an empty source watches nothing.
    void Watch(const QString& source, bool isImage);
    QString Source() const;
    // Whether changes come as udev events (else the drive is polled).
    bool UsesUdevEvents() const;
    void SetPollInterval(int milliseconds);

    // Looks at the drive once, as the polling timer does, and reports a change.
    void Poll();

signals:
    void MediaArrived();
    void MediaRemoved();

private:
    // What a look at the drive finds: whether a disc is there, and for an image
    // what identifies its files' present state.
    struct TState {
        bool Known = false;
        bool Present = false;
        QString Signature;
        bool operator==(const TState&) const = default;
    };

    TState Look() const;
    void Report(const TState& state);
    bool StartUdev();
    void StopUdev();
    void ReadUdevEvents();

    QString WatchedSource;
    bool WatchedImage = false;
    TState LastState;
    QTimer* PollTimer;
    udev* Udev = nullptr;
    udev_monitor* Monitor = nullptr;
    QSocketNotifier* Notifier = nullptr;
};
