// The port watch: an event-loop timer for the periodic try, and the
// system's word that a device node appeared (device_directory_watch.h) when
// the loop can watch handles (a manual loop has no device to wait for).
#include "port_watch.h"

#include "device_directory_watch.h"
#include "event_loop.h"
#include "serial_ports_map.h"

namespace {

constexpr double kBurstSeconds = 0.02;  // udev names the node just after creating it

struct Watch {
    int period = 0;  // the loop's repeating timer
    int soon = 0;    // single shot: gathers a burst of directory changes into one call
    bool directories = false;  // the device directories are watched
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

void onDirectoryChanged()
{
    platform::forgetSerialDevices();  // the enumeration is stale now
    if (currentWatch && currentWatch->soon == 0)
        currentWatch->soon = platform::eventLoop().startTimer(kBurstSeconds, false, onSoon, nullptr);
}

} // namespace

void StartPortWatch(PortWatchCallback callback, double periodSeconds)
{
    StopPortWatch();
    auto *watch = new Watch;
    watch->callback = callback;
    watch->period = platform::eventLoop().startTimer(periodSeconds < 0.05 ? 0.05 : periodSeconds,
                                                     true, onPeriod, nullptr);
    currentWatch = watch;
    if (platform::eventLoop().watchReadable) {
        // With /dev watched, the machine's device list is enumerated again
        // only when a node comes or goes.
        platform::watchSerialDevices(platform::startDeviceDirectoryWatch(onDirectoryChanged));
        watch->directories = true;
    }
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
        platform::stopDeviceDirectoryWatch();
    }
    delete watch;
}

bool PortWatchRunning()
{
    return currentWatch != nullptr;
}
