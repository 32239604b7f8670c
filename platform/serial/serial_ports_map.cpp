// COM number -> device path: the operator's (or a test's) explicit list in
// QUORVEL_COM_PORTS, or the machine's serial devices in a stable order, as
// /dev and sysfs show them (with their USB identity).
#include "serial_ports_map.h"
#include "serial.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <fstream>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <tuple>

#include <chrono>
#include <climits>
#include <mutex>

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


// "ttyUSB10" -> ("ttyUSB", 10); "rfcomm" -> ("rfcomm", -1).
std::pair<std::string, int> splitNumber(const std::string &name)
{
    std::size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9')
        --digits;
    return {name.substr(0, digits), digits == name.size() ? -1 : decimalNumber(name.substr(digits))};
}

// COM order of the driver families: the camera's own USB serial function
// (CDC-ACM) first, then USB adapters, then other drivers, the board's UARTs last.
int familyRank(const std::string &prefix)
{
    if (prefix == "ttyACM")
        return 0;
    if (prefix == "ttyUSB")
        return 1;
    if (prefix == "ttyS")
        return 3;
    return 2;
}

std::string baseName(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string firstLine(const std::string &file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return trimmed(line);
}

int hexNumber(const std::string &text)
{
    if (text.empty() || text.size() > 4)
        return -1;
    int value = 0;
    for (char c : text) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

// The USB identity of a tty from sysfs: the first directory above its
// device link that has idVendor is the USB device.
void readUsbIdentity(const std::string &sysTtyDir, const std::string &name, platform::SerialDevice &device)
{
    char resolved[PATH_MAX];
    const std::string link = sysTtyDir + "/" + name + "/device";
    if (!::realpath(link.c_str(), resolved))
        return;
    std::string dir = resolved;
    for (int depth = 0; depth < 8 && dir.size() > 1; ++depth) {
        struct stat info {};
        if (::stat((dir + "/idVendor").c_str(), &info) == 0) {
            device.vendorId = hexNumber(firstLine(dir + "/idVendor"));
            device.productId = hexNumber(firstLine(dir + "/idProduct"));
            device.product = firstLine(dir + "/product");
            device.manufacturer = firstLine(dir + "/manufacturer");
            device.serialNumber = firstLine(dir + "/serial");
            return;
        }
        dir = dir.substr(0, dir.rfind('/'));
    }
}

bool hasDeviceLink(const std::string &sysTtyDir, const std::string &name)
{
    struct stat info {};
    return ::stat((sysTtyDir + "/" + name + "/device").c_str(), &info) == 0;
}

} // namespace

namespace platform {

std::vector<SerialDevice> orderSerialDevices(std::vector<SerialDevice> devices,
                                             const std::string &sysTtyDir)
{
    using Key = std::tuple<int, std::string, int, std::string>;  // family, prefix, number, path
    std::vector<std::pair<Key, SerialDevice>> keyed;
    for (SerialDevice &device : devices) {
        const std::string name = baseName(device.path);
        const auto [prefix, number] = splitNumber(name);
        const int family = familyRank(prefix);
        if (family != 2 && number < 0)
            continue;  // "ttyUSB" without a number is no port
        if (family == 3 && !uartPresent(device.path, sysTtyDir + "/" + name + "/type"))
            continue;
        keyed.emplace_back(Key{family, prefix, number, device.path}, std::move(device));
    }
    std::sort(keyed.begin(), keyed.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<SerialDevice> ordered;
    for (auto &entry : keyed)
        ordered.push_back(std::move(entry.second));
    return ordered;
}

std::vector<SerialDevice> scanSerialDevices(const std::string &devDir, const std::string &sysTtyDir)
{
    std::vector<SerialDevice> found;
    if (DIR *dir = ::opendir(devDir.c_str())) {
        while (const dirent *entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            const auto [prefix, number] = splitNumber(name);
            const int family = familyRank(prefix);
            const bool known = family != 2 && number >= 0;
            if (name == "." || name == ".." || (!known && !hasDeviceLink(sysTtyDir, name)))
                continue;
            SerialDevice device;
            device.path = devDir + "/" + name;
            readUsbIdentity(sysTtyDir, name, device);
            found.push_back(std::move(device));
        }
        ::closedir(dir);
    }
    return orderSerialDevices(std::move(found), sysTtyDir);
}

std::vector<std::string> listSerialDevices(const std::string &devDir, const std::string &sysTtyDir)
{
    std::vector<std::string> paths;
    for (const SerialDevice &device : scanSerialDevices(devDir, sysTtyDir))
        paths.push_back(device.path);
    return paths;
}

namespace {

struct DeviceCache {
    std::mutex lock;
    std::vector<SerialDevice> devices;
    std::chrono::steady_clock::time_point taken{};
    bool valid = false;
    bool watched = false;  // /dev is watched: a change calls forgetSerialDevices()
    std::string treeDev;   // a test's /dev instead of the machine's ("" = the machine's)
    std::string treeSys;   // and its /sys/class/tty
};

DeviceCache &deviceCache()
{
    static DeviceCache cache;
    return cache;
}

constexpr auto kDeviceCacheLife = std::chrono::milliseconds(500);
constexpr auto kWatchedDeviceCacheLife = std::chrono::seconds(10);  // in case a change was missed

// Caller holds the cache's lock.
std::vector<SerialDevice> enumerateMachine(const DeviceCache &cache)
{
    if (!cache.treeDev.empty())
        return scanSerialDevices(cache.treeDev, cache.treeSys);
    return scanSerialDevices("/dev", "/sys/class/tty");
}

} // namespace

std::vector<SerialDevice> systemSerialDevices()
{
    DeviceCache &cache = deviceCache();
    std::lock_guard<std::mutex> guard(cache.lock);
    const auto now = std::chrono::steady_clock::now();
    const auto life = cache.watched ? std::chrono::steady_clock::duration(kWatchedDeviceCacheLife)
                                    : std::chrono::steady_clock::duration(kDeviceCacheLife);
    if (!cache.valid || now - cache.taken > life) {
        cache.devices = enumerateMachine(cache);
        cache.taken = now;
        cache.valid = true;
    }
    return cache.devices;
}

void forgetSerialDevices()
{
    DeviceCache &cache = deviceCache();
    std::lock_guard<std::mutex> guard(cache.lock);
    cache.valid = false;
}

void watchSerialDevices(bool watched)
{
    DeviceCache &cache = deviceCache();
    std::lock_guard<std::mutex> guard(cache.lock);
    cache.watched = watched;
}

std::string serialDeviceDirectory()
{
    DeviceCache &cache = deviceCache();
    std::lock_guard<std::mutex> guard(cache.lock);
    return cache.treeDev.empty() ? std::string("/dev") : cache.treeDev;
}

void useSerialDeviceTree(const std::string &devDir, const std::string &sysTtyDir)
{
    DeviceCache &cache = deviceCache();
    std::lock_guard<std::mutex> guard(cache.lock);
    cache.treeDev = devDir;
    cache.treeSys = sysTtyDir;
    cache.valid = false;
}

namespace {

// The numbering held during a scan: device paths by COM number, index 0
// being COM1. Only ever extended while held, so no number changes device.
struct HeldNumbering {
    std::mutex lock;
    bool held = false;
    bool taken = false;  // the devices present at the hold were numbered (at its first use)
    std::vector<std::string> paths;
};

HeldNumbering &heldNumbering()
{
    static HeldNumbering numbering;
    return numbering;
}

// Gives the devices not numbered yet the next free numbers, in COM order.
// Caller holds the numbering's lock.
void numberNewcomers(HeldNumbering &numbering, const std::vector<SerialDevice> &devices)
{
    for (const SerialDevice &device : devices)
        if (std::find(numbering.paths.begin(), numbering.paths.end(), device.path) == numbering.paths.end())
            numbering.paths.push_back(device.path);
}

} // namespace

std::string deviceForComPort(int port)
{
    if (port < 1 || port > kComMaxPort)
        return {};
    if (const char *list = std::getenv("QUORVEL_COM_PORTS")) {
        const std::map<int, std::string> ports = parseComPortList(list);
        const auto it = ports.find(port);
        return it == ports.end() ? std::string() : it->second;
    }
    HeldNumbering &numbering = heldNumbering();
    bool firstUse = false;
    {
        std::lock_guard<std::mutex> guard(numbering.lock);
        firstUse = numbering.held && !numbering.taken;
    }
    if (firstUse)
        forgetSerialDevices();  // number the devices present at this moment
    const std::vector<SerialDevice> devices = systemSerialDevices();
    std::lock_guard<std::mutex> guard(numbering.lock);
    if (numbering.held) {
        numbering.taken = true;
        numberNewcomers(numbering, devices);
        const std::vector<std::string> &paths = numbering.paths;
        return static_cast<std::size_t>(port) <= paths.size() ? paths[port - 1] : std::string();
    }
    return static_cast<std::size_t>(port) <= devices.size() ? devices[port - 1].path : std::string();
}

namespace {

std::map<int, SerialDevice> tableFrom(const std::vector<SerialDevice> &known)
{
    std::map<int, SerialDevice> table;
    if (const char *list = std::getenv("QUORVEL_COM_PORTS")) {
        for (const auto &[port, path] : parseComPortList(list)) {
            SerialDevice device;
            device.path = path;
            char resolved[PATH_MAX];
            const std::string real = ::realpath(path.c_str(), resolved) ? resolved : path;
            for (const SerialDevice &k : known)
                if (k.path == path || k.path == real)
                    device = k, device.path = path;
            table.emplace(port, device);
        }
        return table;
    }
    for (std::size_t i = 0; i < known.size() && i < static_cast<std::size_t>(kComMaxPort); ++i)
        table.emplace(static_cast<int>(i) + 1, known[i]);
    return table;
}

} // namespace

std::map<int, SerialDevice> comPortTable()
{
    return tableFrom(systemSerialDevices());
}

std::map<int, SerialDevice> comPortTable(const std::string &devDir, const std::string &sysTtyDir)
{
    return tableFrom(scanSerialDevices(devDir, sysTtyDir));
}

// The machine is enumerated at the hold's first use, the scan's first
// open, so a scan of listed or in-memory ports never enumerates it.
void holdNumbering(bool hold)
{
    HeldNumbering &numbering = heldNumbering();
    std::lock_guard<std::mutex> guard(numbering.lock);
    numbering.held = hold;
    numbering.taken = false;
    numbering.paths.clear();
}

} // namespace platform
