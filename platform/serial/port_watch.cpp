// The port watch: a QTimer for the periodic try and a QFileSystemWatcher
// (inotify) on the directories where device nodes appear.
#include "port_watch.h"

#include "serial_ports_map.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QStringList>
#include <QTimer>

#include <cstdlib>
#include <memory>

namespace {

struct Watch {
    QTimer period;
    QTimer soon;  // single shot: gathers a burst of directory changes into one call
    std::unique_ptr<QFileSystemWatcher> directories;
    PortWatchCallback callback = nullptr;
};

Watch *&currentWatch()
{
    static Watch *watch = nullptr;
    return watch;
}

// The watch whose callback is running, so that a StopPortWatch from inside
// it leaves the freeing to deliver().
Watch *delivering = nullptr;

void deliver()
{
    Watch *watch = currentWatch();
    if (!watch || !watch->callback || delivering)
        return;
    delivering = watch;
    watch->callback();
    delivering = nullptr;
    if (currentWatch() != watch)  // stopped (or restarted) by its own callback:
        QTimer::singleShot(0, [watch] { delete watch; });  // freed once its timer's signal is over
}

// /dev, and the directories of the devices the operator named, which may be
// elsewhere (/dev/pts, /dev/serial/by-id, a test's directory).
QStringList watchedDirectories()
{
    QStringList dirs{"/dev"};
    if (const char *list = std::getenv("QUORVEL_COM_PORTS")) {
        for (const auto &entry : platform::parseComPortList(list)) {
            const QString dir = QFileInfo(QString::fromStdString(entry.second)).absolutePath();
            if (!dirs.contains(dir) && QDir(dir).exists())
                dirs << dir;
        }
    }
    return dirs;
}

} // namespace

void StartPortWatch(PortWatchCallback callback, double periodSeconds)
{
    StopPortWatch();
    auto *watch = new Watch;
    watch->callback = callback;
    const int periodMs = periodSeconds < 0.05 ? 50 : static_cast<int>(periodSeconds * 1000.0);
    QObject::connect(&watch->period, &QTimer::timeout, &watch->period, [] { deliver(); });
    watch->period.start(periodMs);

    watch->soon.setSingleShot(true);
    QObject::connect(&watch->soon, &QTimer::timeout, &watch->soon, [] { deliver(); });
    watch->directories = std::make_unique<QFileSystemWatcher>();
    const QStringList failed = watch->directories->addPaths(watchedDirectories());
    // With /dev watched, the machine's device list is enumerated again only
    // when a node comes or goes.
    platform::watchSerialDevices(!failed.contains("/dev"));
    Watch *self = watch;
    QObject::connect(watch->directories.get(), &QFileSystemWatcher::directoryChanged,
                     watch->directories.get(), [self](const QString &) {
                         platform::forgetSerialDevices();  // the enumeration is stale now
                         if (!self->soon.isActive())
                             self->soon.start(20);  // udev names the node just after creating it
                     });
    currentWatch() = watch;
}

void StopPortWatch()
{
    Watch *watch = currentWatch();
    currentWatch() = nullptr;
    if (!watch)
        return;
    platform::watchSerialDevices(false);
    watch->period.stop();
    watch->soon.stop();
    watch->directories->disconnect();
    if (watch != delivering)  // else deliver() frees it once its callback returns
        delete watch;
}

bool PortWatchRunning()
{
    return currentWatch() != nullptr;
}
