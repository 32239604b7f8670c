// Who else has a serial device open, and which group may use it: what the
// serial service needs to refuse a shared port and what the operator needs
// to hear about it (internal to platform/ and the port doctor).
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace platform {

struct DeviceHolder {
    int pid = 0;
    std::string program;  // the process's name as /proc/<pid>/comm gives it
};

// The other processes that have `device` open, as `procDir` (/proc) shows
// them: only processes whose descriptors this user may read are seen, so
// as a plain user mostly the user's own. This process is left out, and so is
// a process that holds the master of the pseudo-terminal `device` is: that
// is the far end of the line (the simulated camera), not a rival reader.
//
// Each open file is judged by its link text (readlink of <pid>/fd/<n>),
// which the kernel keeps with the open file: reading it never reaches the
// file's own file system. Only a file whose text is the device's path or
// its canonical path is looked at further, and then only in what the kernel
// records of the open file (<pid>/fdinfo/<n>: its mount id and inode),
// compared with the device node's own. No file of another process is ever
// stat'ed: a stat would hang, uninterruptibly and for good, on a file of a
// dead network or FUSE mount, even one of another mount namespace whose
// path text happens to be the device's.
// A holder that reached the device through another mount (a container's
// /dev) is not seen; TIOCEXCL and the lock still keep it out.
std::vector<DeviceHolder> findDeviceHolders(const std::string &device,
                                            const std::string &procDir = "/proc");

// The same scan of /proc on a helper thread, waited for at most `budget`.
// True with *holders filled when it finished in time. False, *holders
// empty, when it did not: the scan is left to finish alone and its result
// is dropped, and until it has finished every further call returns false
// at once, so a scan held up in the kernel costs one thread and one budget.
bool findDeviceHoldersWithin(const std::string &device, std::chrono::milliseconds budget,
                             std::vector<DeviceHolder> *holders);

// How long the serial service waits for a holder scan when it opens or
// refuses a port: far more than a scan takes, short enough for the panel.
constexpr std::chrono::milliseconds kHolderScanBudget{500};

// Test hook: called, on the scanning thread, with the path of every open
// file the scan looks at further than its link text. nullptr: none.
using HolderStatObserver = void (*)(const char *path);
void observeHolderStats(HolderStatObserver observer);

// The group whose members may read and write the node ("dialout"): "" when
// joining a group would not help (the node is not group read-write, or its
// group is root's) or the node is unknown.
std::string deviceGroup(const std::string &device);

// Opens the serial device `device` for reading and writing (non-blocking,
// never as the controlling terminal, close-on-exec), but only when it is a
// character device of the tty kind: the node is first taken without being
// opened (O_PATH), checked, and then that very node is opened through
// /proc/self/fd, so a node swapped at the path in between is never opened.
// Anything else (a watchdog, /dev/zero, a disk) is never opened read-write.
// Returns 0 with the descriptor in *fd (the caller closes it), or an errno:
// ENOTTY for what is no serial device, else the open's own (ENOENT, EACCES,
// EBUSY...).
int openSerialNode(const std::string &device, int *fd);

// What opening `device` the way the serial service does would find, without
// keeping it: 0 when it could be used, else the errno of the refusal (EACCES,
// EBUSY, ENOENT, ENOTTY, EWOULDBLOCK for a lock held elsewhere...). Holders
// seen in /proc are reported through `holders` and make the device busy.
int probeSerialDevice(const std::string &device, std::vector<DeviceHolder> *holders);

} // namespace platform
