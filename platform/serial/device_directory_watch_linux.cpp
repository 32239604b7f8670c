// Device nodes appearing on Linux: inotify on /dev and on the directories
// of the devices the operator named (which may be elsewhere: /dev/pts,
// /dev/serial/by-id, a test's directory), read from the event loop.
#include "device_directory_watch.h"

#include "event_loop.h"
#include "serial_ports_map.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

int inotifyFd = -1;
int loopWatch = 0;
void (*onChange)() = nullptr;

std::string directoryOf(const std::string &path)
{
    std::string absolute = path;
    if (absolute.empty() || absolute[0] != '/') {
        char here[4096];
        if (!::getcwd(here, sizeof here))
            return {};
        absolute = std::string(here) + "/" + absolute;
    }
    const std::size_t slash = absolute.rfind('/');
    return slash == 0 ? std::string("/") : absolute.substr(0, slash);
}

bool isDirectory(const std::string &path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void onReadable(int, void *)
{
    alignas(inotify_event) char events[4096];
    bool any = false;
    while (::read(inotifyFd, events, sizeof events) > 0)
        any = true;
    if (any && onChange)
        onChange();
}

} // namespace

bool startDeviceDirectoryWatch(void (*changed)())
{
    stopDeviceDirectoryWatch();
    const EventLoopBackend &loop = eventLoop();
    if (!loop.watchReadable)
        return false;
    inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd < 0)
        return false;
    const std::string deviceDir = serialDeviceDirectory();
    std::vector<std::string> dirs{deviceDir};
    if (const char *list = std::getenv("QUORVEL_COM_PORTS")) {
        for (const auto &entry : parseComPortList(list)) {
            const std::string dir = directoryOf(entry.second);
            if (!dir.empty() && std::find(dirs.begin(), dirs.end(), dir) == dirs.end() && isDirectory(dir))
                dirs.push_back(dir);
        }
    }
    const uint32_t mask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB
                          | IN_DELETE_SELF | IN_MOVE_SELF;
    bool deviceDirWatched = false;
    for (const std::string &dir : dirs) {
        const bool watched = ::inotify_add_watch(inotifyFd, dir.c_str(), mask) >= 0;
        if (dir == deviceDir)
            deviceDirWatched = watched;
    }
    onChange = changed;
    loopWatch = loop.watchReadable(inotifyFd, onReadable, nullptr);
    if (loopWatch == 0) {
        stopDeviceDirectoryWatch();
        return false;
    }
    return deviceDirWatched;
}

void stopDeviceDirectoryWatch()
{
    onChange = nullptr;
    if (loopWatch != 0)
        eventLoop().stopWatch(loopWatch);
    loopWatch = 0;
    if (inotifyFd >= 0)
        ::close(inotifyFd);
    inotifyFd = -1;
}

} // namespace platform
