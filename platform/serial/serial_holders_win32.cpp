// Who holds a serial port, on Windows: the system opens a COM port for one
// program at a time and does not say which one has it, so no holder is
// ever named and no group is ever the answer; the probe opens the port as
// the serial service does and says why it could not.
#include "serial_holders.h"

#include <cerrno>

#include <windows.h>

namespace platform {

std::vector<DeviceHolder> findDeviceHolders(const std::string &, const std::string &)
{
    return {};
}

bool findDeviceHoldersWithin(const std::string &, std::chrono::milliseconds, std::vector<DeviceHolder> *holders)
{
    holders->clear();
    return true;
}

void observeHolderStats(HolderStatObserver) {}

std::string deviceGroup(const std::string &)
{
    return {};
}

int probeSerialDevice(const std::string &device, std::vector<DeviceHolder> *holders)
{
    if (holders)
        holders->clear();
    const std::string name = device.find('\\') == std::string::npos ? "\\\\.\\" + device : device;
    const HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return ENOENT;
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            return EBUSY;
        return EIO;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool serial = ::GetCommState(handle, &dcb) != 0;
    ::CloseHandle(handle);
    return serial ? 0 : ENOTTY;
}

} // namespace platform
