// Holders of a serial device from /proc, the device's group, and a probe
// that opens a device as the serial service would and lets it go again.
#include "serial_holders.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr unsigned kPtySlaveMajorFirst = 136;  // Unix98 pty slaves: majors 136..143
constexpr unsigned kPtySlaveMajorLast = 143;

bool allDigits(const char *text)
{
    if (!*text)
        return false;
    for (; *text; ++text)
        if (*text < '0' || *text > '9')
            return false;
    return true;
}

std::string programName(const std::string &procDir, const std::string &pid)
{
    std::ifstream comm(procDir + "/" + pid + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// The pty index of a ptmx descriptor, from its fdinfo; -1 when not a master.
int masterIndex(const std::string &procDir, const std::string &pid, const std::string &fd)
{
    std::ifstream info(procDir + "/" + pid + "/fdinfo/" + fd);
    std::string line;
    while (std::getline(info, line))
        if (line.compare(0, 10, "tty-index:") == 0)
            return std::atoi(line.c_str() + 10);
    return -1;
}

} // namespace

namespace platform {

std::vector<DeviceHolder> findDeviceHolders(const std::string &device, const std::string &procDir)
{
    std::vector<DeviceHolder> holders;
    struct stat node {};
    if (::stat(device.c_str(), &node) != 0 || !S_ISCHR(node.st_mode))
        return holders;
    const bool ptySlave = major(node.st_rdev) >= kPtySlaveMajorFirst
                          && major(node.st_rdev) <= kPtySlaveMajorLast;
    const int ptyIndex = ptySlave
        ? static_cast<int>((major(node.st_rdev) - kPtySlaveMajorFirst) * 256 + minor(node.st_rdev))
        : -1;
    const std::string self = std::to_string(::getpid());

    DIR *processes = ::opendir(procDir.c_str());
    if (!processes)
        return holders;
    while (const dirent *process = ::readdir(processes)) {
        if (!allDigits(process->d_name) || self == process->d_name)
            continue;
        const std::string pid = process->d_name;
        const std::string fdDir = procDir + "/" + pid + "/fd";
        DIR *fds = ::opendir(fdDir.c_str());
        if (!fds)
            continue;  // another user's process: not ours to see
        bool holds = false;
        bool farEnd = false;
        while (const dirent *fd = ::readdir(fds)) {
            if (!allDigits(fd->d_name))
                continue;
            struct stat target {};
            if (::stat((fdDir + "/" + fd->d_name).c_str(), &target) != 0 || !S_ISCHR(target.st_mode))
                continue;
            if (target.st_rdev == node.st_rdev)
                holds = true;
            else if (ptySlave && masterIndex(procDir, pid, fd->d_name) == ptyIndex)
                farEnd = true;
        }
        ::closedir(fds);
        if (holds && !farEnd)
            holders.push_back({std::atoi(pid.c_str()), programName(procDir, pid)});
    }
    ::closedir(processes);
    return holders;
}

std::string deviceGroup(const std::string &device)
{
    struct stat node {};
    if (::stat(device.c_str(), &node) != 0 || (node.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)
        || node.st_gid == 0)
        return {};
    char buffer[4096];
    group entry {};
    group *found = nullptr;
    if (::getgrgid_r(node.st_gid, &entry, buffer, sizeof buffer, &found) != 0 || !found)
        return {};
    return found->gr_name;
}

int probeSerialDevice(const std::string &device, std::vector<DeviceHolder> *holders)
{
    std::vector<DeviceHolder> seen = findDeviceHolders(device);
    if (holders)
        *holders = seen;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int result = 0;
    if (!::isatty(fd))
        result = ENOTTY;
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        result = errno == EWOULDBLOCK ? EWOULDBLOCK : errno;
    else if (!seen.empty())
        result = EBUSY;
    ::close(fd);  // the lock goes with the descriptor
    return result;
}

} // namespace platform
