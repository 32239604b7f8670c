// COM number -> device path: the operator's (or a test's) explicit list in
// QUORVEL_COM_PORTS, or the machine's serial devices in a stable order.
#include "serial_ports_map.h"
#include "serial.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <tuple>

namespace {

std::string trimmed(const std::string &text)
{
    const char *blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// "123" -> 123; anything but plain decimal digits (or too many) -> -1.
int decimalNumber(const std::string &text)
{
    if (text.empty() || text.size() > 6)
        return -1;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Is a UART really behind this ttyS node? Boards and virtual machines
// register ttyS0..ttyS31 whether or not the hardware exists; an empty slot
// reports PORT_UNKNOWN.
bool uartPresent(const std::string &node, const std::string &sysTypeFile)
{
    std::ifstream typeFile(sysTypeFile);
    int type = -1;
    if (typeFile >> type)
        return type != PORT_UNKNOWN;

    // No sysfs attribute: ask the driver. O_NONBLOCK so a port waiting for
    // carrier does not hold us up.
    const int fd = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EBUSY || errno == EACCES || errno == EPERM;
    serial_struct info{};
    const bool present = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return present;
}

} // namespace

namespace platform {

std::map<int, std::string> parseComPortList(const std::string &text)
{
    std::map<int, std::string> ports;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string entry = text.substr(start, end - start);
        start = end + 1;

        const std::size_t equals = entry.find('=');
        if (equals == std::string::npos)
            continue;
        const int port = decimalNumber(trimmed(entry.substr(0, equals)));
        const std::string device = trimmed(entry.substr(equals + 1));
        if (port < 1 || port > kComMaxPort || device.empty())
            continue;
        ports.emplace(port, device);  // keeps the first device of a number
    }
    return ports;
}

std::vector<std::string> listSerialDevices(const std::string &devDir,
                                           const std::string &sysTtyDir)
{
    static const char *const groups[] = {"ttyACM", "ttyUSB", "ttyS"};
    std::vector<std::tuple<int, int, std::string>> found;  // (group, number, name)

    if (DIR *dir = ::opendir(devDir.c_str())) {
        while (const dirent *entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            for (int group = 0; group < 3; ++group) {
                const std::string prefix = groups[group];
                if (name.compare(0, prefix.size(), prefix) != 0)
                    continue;
                const int number = decimalNumber(name.substr(prefix.size()));
                if (number >= 0)
                    found.emplace_back(group, number, name);
                break;
            }
        }
        ::closedir(dir);
    }
    std::sort(found.begin(), found.end());

    std::vector<std::string> devices;
    for (const auto &[group, number, name] : found) {
        const std::string node = devDir + "/" + name;
        if (group == 2 && !uartPresent(node, sysTtyDir + "/" + name + "/type"))
            continue;
        devices.push_back(node);
    }
    return devices;
}

std::string deviceForComPort(int port)
{
    if (port < 1 || port > kComMaxPort)
        return {};
    if (const char *list = std::getenv("QUORVEL_COM_PORTS")) {
        const std::map<int, std::string> ports = parseComPortList(list);
        const auto it = ports.find(port);
        return it == ports.end() ? std::string() : it->second;
    }
    const std::vector<std::string> devices = listSerialDevices("/dev", "/sys/class/tty");
    return static_cast<std::size_t>(port) <= devices.size() ? devices[port - 1] : std::string();
}

} // namespace platform
