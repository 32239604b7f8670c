// Holders of a serial device from /proc, the device's group, and a probe
// that opens a device as the serial service would and lets it go again.
#include "serial_holders.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <memory>
#include <mutex>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

constexpr unsigned kPtySlaveMajorFirst = 136;  // Unix98 pty slaves: majors 136..143
constexpr unsigned kPtySlaveMajorLast = 143;

std::atomic<platform::HolderStatObserver> statObserver{nullptr};

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

// The text of descriptor `name`'s link in the fd directory `fdDir`
// ("/dev/ttyACM0"); false when unreadable. Read relative to the directory,
// without building a path: a scan reads tens of thousands of them.
bool linkText(int fdDir, const char *name, char (&text)[PATH_MAX], std::size_t *length)
{
    const ssize_t got = ::readlinkat(fdDir, name, text, sizeof text);
    if (got <= 0 || static_cast<std::size_t>(got) >= sizeof text)
        return false;
    *length = static_cast<std::size_t>(got);
    return true;
}

bool sameText(const char *text, std::size_t length, const std::string &other)
{
    return length == other.size() && other.compare(0, length, text, length) == 0;
}

// A pty master opened through /dev/ptmx or a devpts instance's own ptmx.
bool namesPtyMaster(const char *text, std::size_t length)
{
    return length >= 5 && std::string::traits_type::compare(text + length - 5, "/ptmx", 5) == 0;
}

// Where an open file lies, as the kernel keeps it with the open file: its
// mount's id and its inode number, from an fdinfo file ("mnt_id:", "ino:").
// Reading it never reaches the file's own file system, so a file of a dead
// network or FUSE mount cannot hold the scan up. ino is 0 when the kernel
// does not say it (before Linux 5.14).
struct OpenFileId {
    int mountId = -1;
    unsigned long long inode = 0;
};

OpenFileId readOpenFileId(const std::string &fdinfoPath)
{
    OpenFileId id;
    std::ifstream info(fdinfoPath);
    std::string line;
    while (std::getline(info, line)) {
        if (line.compare(0, 7, "mnt_id:") == 0)
            id.mountId = std::atoi(line.c_str() + 7);
        else if (line.compare(0, 4, "ino:") == 0)
            id.inode = std::strtoull(line.c_str() + 4, nullptr, 10);
    }
    return id;
}

// The device's own node as this process sees it: opened without being
// opened for reading or writing (O_PATH), and looked up in our own fdinfo.
OpenFileId deviceNodeId(const std::string &device)
{
    const int fd = ::open(device.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return {};
    const OpenFileId id = readOpenFileId("/proc/self/fdinfo/" + std::to_string(fd));
    ::close(fd);
    return id;
}

// Is the open file behind `fdPath` (its link text matched) the device's
// node? Judged by its mount and inode as the kernel records them
// (`fdinfoPath`), compared with the device node's: the file itself is never
// looked at.
bool isDevice(const std::string &fdPath, const std::string &fdinfoPath, const OpenFileId &node)
{
    if (const platform::HolderStatObserver observer = statObserver.load())
        observer(fdPath.c_str());
    const OpenFileId file = readOpenFileId(fdinfoPath);
    if (file.mountId < 0 || file.mountId != node.mountId)
        return false;  // another mount, perhaps one of another namespace: not this node
    return node.inode == 0 || file.inode == 0 || file.inode == node.inode;
}

} // namespace

namespace platform {

std::vector<DeviceHolder> findDeviceHolders(const std::string &device, const std::string &procDir)
{
    std::vector<DeviceHolder> holders;
    struct stat node {};
    if (::stat(device.c_str(), &node) != 0 || !S_ISCHR(node.st_mode))
        return holders;
    char resolved[PATH_MAX];
    const std::string canonical = ::realpath(device.c_str(), resolved) ? resolved : device;
    const bool ptySlave = major(node.st_rdev) >= kPtySlaveMajorFirst
                          && major(node.st_rdev) <= kPtySlaveMajorLast;
    const int ptyIndex = ptySlave
        ? static_cast<int>((major(node.st_rdev) - kPtySlaveMajorFirst) * 256 + minor(node.st_rdev))
        : -1;
    const std::string self = std::to_string(::getpid());
    const OpenFileId nodeId = deviceNodeId(device);
    if (nodeId.mountId < 0)
        return holders;  // without our own fdinfo no open file can be matched

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
        char text[PATH_MAX];
        std::size_t length = 0;
        while (const dirent *fd = ::readdir(fds)) {
            if (!allDigits(fd->d_name) || !linkText(::dirfd(fds), fd->d_name, text, &length))
                continue;
            if (sameText(text, length, canonical) || sameText(text, length, device)) {
                holds = holds
                        || isDevice(fdDir + "/" + fd->d_name, procDir + "/" + pid + "/fdinfo/" + fd->d_name, nodeId);
            } else if (ptySlave && namesPtyMaster(text, length)
                       && masterIndex(procDir, pid, fd->d_name) == ptyIndex) {
                farEnd = true;
            }
        }
        ::closedir(fds);
        if (holds && !farEnd)
            holders.push_back({std::atoi(pid.c_str()), programName(procDir, pid)});
    }
    ::closedir(processes);
    return holders;
}

namespace {

// One scan handed to a helper thread. Shared by the thread and the caller,
// so a caller who gave up waiting leaves nothing dangling behind.
struct HolderScan {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;                // guarded by lock
    std::vector<DeviceHolder> holders;    // guarded by lock
};

std::atomic<bool> scanRunning{false};  // a helper thread has not finished yet

} // namespace

bool findDeviceHoldersWithin(const std::string &device, std::chrono::milliseconds budget,
                             std::vector<DeviceHolder> *holders)
{
    holders->clear();
    bool idle = false;
    if (!scanRunning.compare_exchange_strong(idle, true))
        return false;  // an earlier scan is still held up: do not pile threads on it
    auto scan = std::make_shared<HolderScan>();
    try {
        std::thread([scan, device] {
            std::vector<DeviceHolder> found = findDeviceHolders(device);
            {
                std::lock_guard<std::mutex> guard(scan->lock);
                scan->holders = std::move(found);
                scan->finished = true;
            }
            scanRunning.store(false);
            scan->done.notify_all();
        }).detach();
    } catch (const std::system_error &) {
        scanRunning.store(false);
        return false;  // no thread to be had: the holders stay unknown
    }
    std::unique_lock<std::mutex> guard(scan->lock);
    if (!scan->done.wait_for(guard, budget, [&] { return scan->finished; }))
        return false;
    *holders = std::move(scan->holders);
    return true;
}

void observeHolderStats(HolderStatObserver observer)
{
    statObserver.store(observer);
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
    int fd = -1;
    if (const int error = openSerialNode(device, &fd); error != 0)
        return error;
    int result = 0;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        result = errno == EWOULDBLOCK ? EWOULDBLOCK : errno;
    else if (!seen.empty())
        result = EBUSY;
    ::close(fd);  // the lock goes with the descriptor
    return result;
}

} // namespace platform
