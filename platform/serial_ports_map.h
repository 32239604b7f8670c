// Which device stands behind a COM number (internal to the serial service;
// tests use it to check the order of the automatic numbering).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace platform {

// Reads a COM list such as "7=/dev/pts/3, 12=/dev/ttyUSB0". Spaces around
// numbers, devices and commas are ignored. An entry without '=', with a
// number that is not 1..kComMaxPort or with an empty device is skipped; a
// number given twice keeps its first device.
std::map<int, std::string> parseComPortList(const std::string &text);

// The serial devices under `devDir` in COM order: ttyACM<n>, then ttyUSB<n>,
// then ttyS<n>, each group by increasing n. A ttyS<n> is listed only when a
// UART answers behind it: `sysTtyDir`/ttyS<n>/type is not 0 (PORT_UNKNOWN),
// or, when that file is missing, TIOCGSERIAL on the node says so. A node
// that exists but is held by another program or not permitted is listed
// (opening it will say why). Returns full paths.
std::vector<std::string> listSerialDevices(const std::string &devDir,
                                           const std::string &sysTtyDir);

// The device that COM `port` names now: from QUORVEL_COM_PORTS when it is
// set (read at every call), else the port-th entry of
// listSerialDevices("/dev", "/sys/class/tty"). "" when there is none.
std::string deviceForComPort(int port);

} // namespace platform
