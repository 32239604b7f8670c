// Who else has a serial device open, and which group may use it: what the
// serial service needs to refuse a shared port and what the operator needs
// to hear about it (internal to platform/ and the port doctor).
#pragma once

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
// Devices are compared by device number, so a symlink to the node matches.
std::vector<DeviceHolder> findDeviceHolders(const std::string &device,
                                            const std::string &procDir = "/proc");

// The group whose members may read and write the node ("dialout"): "" when
// joining a group would not help (the node is not group read-write, or its
// group is root's) or the node is unknown.
std::string deviceGroup(const std::string &device);

// What opening `device` the way the serial service does would find, without
// keeping it: 0 when it could be used, else the errno of the refusal (EACCES,
// EBUSY, ENOENT, ENOTTY, EWOULDBLOCK for a lock held elsewhere...). Holders
// seen in /proc are reported through `holders` and make the device busy.
int probeSerialDevice(const std::string &device, std::vector<DeviceHolder> *holders);

} // namespace platform
