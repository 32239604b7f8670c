// COM number -> device on Windows: a port's own name is its number, so
// COM7 is the device COM7 (opened as \\.\COM7). The operator's list in
// QUORVEL_COM_PORTS, when set, maps numbers to names as on Linux. The
// machine's ports, for the port doctor: those the serial drivers registered
// (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), every COMn the system has a DOS
// name for (QueryDosDevice), and the COM1..COM49 that answer an open as a
// port that exists (free or held): a port that appeared after the registry
// was written, and under Wine one linked in the prefix's dosdevices, is
// found all the same. SetupAPI adds what the operator knows a port by: the
// device's name in the Device Manager, its maker, and a USB device's
// vendor and product ids.
#include "serial_ports_map.h"
#include "serial.h"

#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include <windows.h>
#include <setupapi.h>

namespace {

// "COM12" -> 12, anything else -> 0.
int comNumber(const std::string &name)
{
    if (name.size() < 4 || (name[0] != 'C' && name[0] != 'c') || (name[1] != 'O' && name[1] != 'o')
        || (name[2] != 'M' && name[2] != 'm'))
        return 0;
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || number > 100000)
            return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number >= 1 && number <= kComMaxPort ? number : 0;
}

void fromRegistry(std::set<int> *numbers)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameSize = sizeof name;
        BYTE data[256];
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        const LONG rc = ::RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS || type != REG_SZ)
            continue;
        data[dataSize] = 0;
        if (const int number = comNumber(reinterpret_cast<const char *>(data)))
            numbers->insert(number);
    }
    ::RegCloseKey(key);
}

void fromDosNames(std::set<int> *numbers)
{
    std::vector<char> names(65536);
    for (int tries = 0; tries < 4; ++tries) {
        const DWORD length = ::QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
        if (length > 0) {
            for (const char *name = names.data(); *name && name < names.data() + length; name += std::strlen(name) + 1)
                if (const int number = comNumber(name))
                    numbers->insert(number);
            return;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return;
        names.resize(names.size() * 4);
    }
}

std::string windowsName(int number)
{
    return "COM" + std::to_string(number);
}

// The numbers the loader scans that Windows will open or says are held.
void fromOpening(std::set<int> *numbers)
{
    for (int number = 1; number <= 49; ++number) {
        if (numbers->count(number))
            continue;
        const std::string name = "\\\\.\\COM" + std::to_string(number);
        const HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle);
            numbers->insert(number);
        } else if (::GetLastError() == ERROR_ACCESS_DENIED) {
            numbers->insert(number);
        }
    }
}

// "...VID_1A86&PID_7523..." -> the four hex digits after `key`, -1 when absent.
int hexAfter(const std::string &text, const char *key)
{
    const std::size_t at = text.find(key);
    if (at == std::string::npos || at + std::strlen(key) + 4 > text.size())
        return -1;
    int value = 0;
    for (std::size_t i = at + std::strlen(key); i < at + std::strlen(key) + 4; ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

std::string deviceProperty(HDEVINFO set, SP_DEVINFO_DATA *info, DWORD property)
{
    char text[512];
    DWORD type = 0;
    if (!::SetupDiGetDeviceRegistryPropertyA(set, info, property, &type, reinterpret_cast<BYTE *>(text),
                                             sizeof text - 2, nullptr))
        return {};
    text[sizeof text - 2] = text[sizeof text - 1] = '\0';
    return text;  // a multi-string's first entry
}

// The ports class ({4d36e978-e325-11ce-bfc1-08002be10318}): every present
// device with a PortName "COMn" gives its identity to that number.
void identities(std::map<int, platform::SerialDevice> *devices)
{
    static const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    const HDEVINFO set = ::SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &info); ++index) {
        const HKEY key = ::SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        char portName[64];
        DWORD size = sizeof portName - 1;
        DWORD type = 0;
        const LONG rc = ::RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE *>(portName), &size);
        ::RegCloseKey(key);
        if (rc != ERROR_SUCCESS || type != REG_SZ)
            continue;
        portName[size < sizeof portName ? size : sizeof portName - 1] = '\0';
        const int number = comNumber(portName);
        if (number == 0)
            continue;
        platform::SerialDevice &device = (*devices)[number];
        device.path = windowsName(number);
        device.product = deviceProperty(set, &info, SPDRP_FRIENDLYNAME);
        device.manufacturer = deviceProperty(set, &info, SPDRP_MFG);
        const std::string hardware = deviceProperty(set, &info, SPDRP_HARDWAREID);
        if (hardware.rfind("USB", 0) == 0 || hardware.rfind("FTDIBUS", 0) == 0) {
            device.vendorId = hexAfter(hardware, "VID_");
            device.productId = hexAfter(hardware, "PID_");
        }
    }
    ::SetupDiDestroyDeviceInfoList(set);
}

} // namespace

namespace platform {

std::vector<SerialDevice> orderSerialDevices(std::vector<SerialDevice> devices, const std::string &)
{
    return devices;
}

// There is no /dev tree on Windows to read.
std::vector<SerialDevice> scanSerialDevices(const std::string &, const std::string &)
{
    return {};
}

std::vector<std::string> listSerialDevices(const std::string &, const std::string &)
{
    return {};
}

std::vector<SerialDevice> systemSerialDevices()
{
    std::set<int> numbers;
    fromRegistry(&numbers);
    fromDosNames(&numbers);
    fromOpening(&numbers);
    std::map<int, SerialDevice> byNumber;
    for (const int number : numbers)
        byNumber[number].path = windowsName(number);
    identities(&byNumber);
    std::vector<SerialDevice> devices;
    for (const auto &entry : byNumber)
        devices.push_back(entry.second);
    return devices;
}

void forgetSerialDevices() {}
void watchSerialDevices(bool) {}

std::string serialDeviceDirectory()
{
    return {};
}

void useSerialDeviceTree(const std::string &, const std::string &) {}

std::string deviceForComPort(int port)
{
    if (port < 1 || port > kComMaxPort)
        return {};
    if (const char *list = std::getenv("QUORVEL_COM_PORTS")) {
        const std::map<int, std::string> ports = parseComPortList(list);
        const auto it = ports.find(port);
        return it == ports.end() ? std::string() : it->second;
    }
    return windowsName(port);
}

std::map<int, SerialDevice> comPortTable()
{
    std::map<int, SerialDevice> table;
    if (const char *list = std::getenv("QUORVEL_COM_PORTS")) {
        for (const auto &[port, path] : parseComPortList(list)) {
            SerialDevice device;
            device.path = path;
            table.emplace(port, device);
        }
        return table;
    }
    for (const SerialDevice &device : systemSerialDevices())
        table.emplace(comNumber(device.path), device);
    return table;
}

std::map<int, SerialDevice> comPortTable(const std::string &, const std::string &)
{
    return {};
}

// Windows' numbers never move while the loader listens.
void holdNumbering(bool) {}

} // namespace platform
