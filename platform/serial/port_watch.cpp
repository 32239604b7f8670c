// The port watch: an event-loop timer for the periodic try, and a
// QFileSystemWatcher (inotify) on the directories where device nodes appear
// when the loop is Qt's (a manual loop has no device to wait for).
#include "port_watch.h"

#include "event_loop.h"
#include "serial_ports_map.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QStringList>

#include <cstdlib>
#include <memory>

namespace {

constexpr double kBurstSeconds = 0.02;  // udev names the node just after creating it

struct Watch {
    int period = 0;  // the loop's repeating timer
    int soon = 0;    // single shot: gathers a burst of directory changes into one call
    std::unique_ptr<QFileSystemWatcher> directories;
    PortWatchCallback callback = nullptr;
};

Watch *currentWatch = nullptr;

void deliver()
{
    if (currentWatch && currentWatch->callback)
        currentWatch->callback();  // may stop or restart the watch
}

void onPeriod(void *)
{
    deliver();
}

void onSoon(void *)
{
    if (currentWatch)
        currentWatch->soon = 0;
    deliver();
}

// /dev, and the directories of the devices the operator named, which may be
// elsewhere (/dev/pts, /dev/serial/by-id, a test's directory).
QStringList watchedDirectories(const QString &deviceDir)
{
    QStringList dirs{deviceDir};
    if (const char *list = std::getenv("QUORVEL_COM_PORTS")) {
        for (const auto &entry : platform::parseComPortList(list)) {
            const QString dir = QFileInfo(QString::fromStdString(entry.second)).absolutePath();
            if (!dirs.contains(dir) && QDir(dir).exists())
                dirs << dir;
        }
    }
    return dirs;
}

void watchDirectories(Watch *watch)
{
    watch->directories = std::make_unique<QFileSystemWatcher>();
    const QString deviceDir = QString::fromStdString(platform::serialDeviceDirectory());
    const QStringList failed = watch->directories->addPaths(watchedDirectories(deviceDir));
    // With /dev watched, the machine's device list is enumerated again only
    // when a node comes or goes.
    platform::watchSerialDevices(!failed.contains(deviceDir));
    QObject::connect(watch->directories.get(), &QFileSystemWatcher::directoryChanged,
                     watch->directories.get(), [watch](const QString &) {
                         platform::forgetSerialDevices();  // the enumeration is stale now
                         if (watch->soon == 0)
                             watch->soon = platform::eventLoop().startTimer(kBurstSeconds, false,
                                                                            onSoon, nullptr);
                     });
}

} // namespace

void StartPortWatch(PortWatchCallback callback, double periodSeconds)
{
    StopPortWatch();
    auto *watch = new Watch;
    watch->callback = callback;
    watch->period = platform::eventLoop().startTimer(periodSeconds < 0.05 ? 0.05 : periodSeconds,
                                                     true, onPeriod, nullptr);
    if (&platform::eventLoop() == &platform::kQtEventLoop)
        watchDirectories(watch);
    currentWatch = watch;
}

void StopPortWatch()
{
    Watch *watch = currentWatch;
    currentWatch = nullptr;
    if (!watch)
        return;
    platform::eventLoop().stopTimer(watch->period);
    platform::eventLoop().stopTimer(watch->soon);
    if (watch->directories) {
        platform::watchSerialDevices(false);
        watch->directories->disconnect();
        // From inside its own signal the watcher must outlive the call.
        watch->directories.release()->deleteLater();
    }
    delete watch;
}

bool PortWatchRunning()
{
    return currentWatch != nullptr;
}
