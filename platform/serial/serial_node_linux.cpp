// Opening a serial device node only when it is one: see openSerialNode in
// serial_holders.h. Linux: O_PATH, /sys/dev/char and /proc/self/fd.
#include "serial_holders.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr long kDevptsMagic = 0x1cd1;  // a pseudo-terminal's file system

// Is the character device `rdev`, whose node `pathFd` holds, a terminal?
// A pseudo-terminal lies on devpts; any other terminal is of the tty class
// in /sys. Where /sys does not tell (not mounted), the open's isatty decides.
bool ofTtyKind(int pathFd, dev_t rdev)
{
    struct statfs fs {};
    if (::fstatfs(pathFd, &fs) == 0 && static_cast<long>(fs.f_type) == kDevptsMagic)
        return true;
    char link[64];
    std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", major(rdev), minor(rdev));
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link, target, sizeof target - 1);
    if (length <= 0) {
        struct stat sys {};
        return ::stat("/sys/dev/char", &sys) != 0;  // no /sys to ask: isatty will
    }
    target[length] = '\0';
    const char *name = std::strrchr(target, '/');
    return std::strcmp(name ? name + 1 : target, "tty") == 0;
}

} // namespace

namespace platform {

int openSerialNode(const std::string &device, int *fd)
{
    *fd = -1;
    const int node = ::open(device.c_str(), O_PATH | O_CLOEXEC);
    if (node < 0)
        return errno;
    struct stat before {};
    if (::fstat(node, &before) != 0) {
        const int error = errno;
        ::close(node);
        return error;
    }
    if (!S_ISCHR(before.st_mode) || !ofTtyKind(node, before.st_rdev)) {
        ::close(node);
        return ENOTTY;
    }
    // The node checked, not whatever the path names by now.
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", node);
    const int opened = ::open(self, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int error = errno;
    ::close(node);
    if (opened < 0)
        return error;
    struct stat after {};
    if (::fstat(opened, &after) != 0 || after.st_rdev != before.st_rdev || !::isatty(opened)) {
        ::close(opened);
        return ENOTTY;
    }
    *fd = opened;
    return 0;
}

} // namespace platform
