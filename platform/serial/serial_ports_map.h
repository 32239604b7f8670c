// Which device stands behind a COM number, and what the machine's serial
// devices are (internal to the serial service and the port doctor; tests use
// it to check the order of the automatic numbering over a fake /dev and /sys).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace platform {

// One serial device as the operator would name it: its node and, for a USB
// adapter or a camera's own USB serial function, its USB identity.
struct SerialDevice {
    std::string path;          // "/dev/ttyACM0"
    int vendorId = -1;         // USB idVendor, -1 when not a USB device
    int productId = -1;        // USB idProduct, -1 when not a USB device
    std::string product;       // USB product text ("" when unknown)
    std::string manufacturer;  // USB manufacturer text ("" when unknown)
    std::string serialNumber;  // USB serial number ("" when unknown)
};

// Reads a COM list such as "7=/dev/pts/3, 12=/dev/ttyUSB0". Spaces around
// numbers, devices and commas are ignored. An entry without '=', with a
// number that is not 1..kComMaxPort or with an empty device is skipped; a
// number given twice keeps its first device.
std::map<int, std::string> parseComPortList(const std::string &text);

// Puts devices in COM order and drops the ttyS slots with no UART: ttyACM<n>,
// then ttyUSB<n>, then the other serial drivers' devices (ttyAMA, ttyXRUSB,
// rfcomm...), then ttyS<n>; by name, then by increasing n. A ttyS<n> is kept
// only when a UART answers behind it: `sysTtyDir`/ttyS<n>/type is not 0
// (PORT_UNKNOWN), or, when that file is missing, TIOCGSERIAL on the node says
// so. A node held by another program or not permitted is kept (opening it
// will say why).
std::vector<SerialDevice> orderSerialDevices(std::vector<SerialDevice> devices,
                                             const std::string &sysTtyDir);

// The serial devices of a /dev and /sys tree (a fake one in tests and for
// the port doctor's --dev/--sys), in COM order: the ttyACM, ttyUSB and ttyS
// nodes under `devDir`, and any other node with a `sysTtyDir`/<name>/device
// link. The USB identity is read from the first directory above that link
// holding idVendor. Returns full paths with their identity.
std::vector<SerialDevice> scanSerialDevices(const std::string &devDir, const std::string &sysTtyDir);
// Only the paths of scanSerialDevices.
std::vector<std::string> listSerialDevices(const std::string &devDir, const std::string &sysTtyDir);

// The machine's serial devices in COM order, as scanSerialDevices finds
// them in /dev and /sys/class/tty. Kept for half a second, so that a scan of 49
// COM numbers enumerates once; while /dev is watched for new nodes
// (watchSerialDevices(true)) kept until forgetSerialDevices() says a node
// came or went, or 10 s at most, so a scan that waits for a camera costs
// almost nothing. Thread-safe.
std::vector<SerialDevice> systemSerialDevices();
void forgetSerialDevices();
void watchSerialDevices(bool watched);

// Where the machine's serial device nodes appear: "/dev", or the tree a
// test gave useSerialDeviceTree. The port watch watches it.
std::string serialDeviceDirectory();
// Test hook: the machine's serial devices are those of this /dev and
// /sys/class/tty tree (scanSerialDevices) instead of the machine's;
// empty texts restore the machine's.
void useSerialDeviceTree(const std::string &devDir, const std::string &sysTtyDir);

// The device that COM `port` names now: from QUORVEL_COM_PORTS when it is
// set (read at every call), else the port-th entry of systemSerialDevices(),
// or of the held numbering while it is held. "" when there is none.
std::string deviceForComPort(int port);

// Every COM number that names a device now, with the device (and its USB
// identity when the machine's enumeration or the fake tree knows it). With
// QUORVEL_COM_PORTS set, exactly its entries. For the port doctor.
std::map<int, SerialDevice> comPortTable();
std::map<int, SerialDevice> comPortTable(const std::string &devDir, const std::string &sysTtyDir);

// ComHoldNumbering / ComReleaseNumbering (serial.h): the same for every
// serial backend, so kept beside the numbering it holds.
void holdNumbering(bool hold);

} // namespace platform
