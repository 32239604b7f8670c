// quorvel-ports: lists every serial device with the COM number the loader
// gives it, its USB identity, whether this user can open it and, if not,
// why and what to do, and who holds it. Exit code 0 when at least one port
// the loader scans (COM1..COM49) is usable, 1 when none is, 2 on bad usage.
// Every text that comes from outside (device names, USB strings, process
// names) goes through visibleText: a process may name itself with terminal
// escapes, and a USB device may say anything.
#include "serial_holders.h"
#include "serial_ports_map.h"
#include "visible_text.h"
#include "who.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kLastScannedPort = 49;  // the loader tries COM1..COM49

void usage(std::FILE *to)
{
    std::fprintf(to,
                 "Usage: quorvel-ports [--dev DIR --sys DIR]\n"
                 "Lists the serial ports of this PC as a Start now would number them\n"
                 "(COM1..COM49), with their USB identity, whether you may use them, and why\n"
                 "not. During a scan Quorvel's numbers hold still: a device that appears\n"
                 "after Ok takes the next free number.\n"
                 "QUORVEL_COM_PORTS (N=DEVICE,...) replaces the automatic numbering, as it\n"
                 "does for Quorvel. --dev and --sys read another /dev and /sys/class/tty tree.\n"
                 "Exit code: 0 when at least one port is usable, 1 when none is.\n");
}

std::string identity(const platform::SerialDevice &d)
{
    if (d.vendorId < 0)
        return "no USB identity";
    char ids[32];
    std::snprintf(ids, sizeof ids, "USB %04x:%04x", d.vendorId, d.productId < 0 ? 0 : d.productId);
    std::string text = ids;
    if (!d.manufacturer.empty())
        text += " " + visibleText(d.manufacturer);
    if (!d.product.empty())
        text += " \"" + visibleText(d.product) + "\"";
    if (!d.serialNumber.empty())
        text += ", serial " + visibleText(d.serialNumber);
    return text;
}

std::string holderList(const std::vector<platform::DeviceHolder> &holders)
{
    std::string text;
    for (const auto &h : holders)
        text += (text.empty() ? "" : "; ") + visibleText(h.program) + ", pid " + std::to_string(h.pid);
    return text;
}

// Why the device cannot be used and what to do, for a probe result other than 0.
void explain(const std::string &device, int error, const std::vector<platform::DeviceHolder> &holders)
{
    if (error == EACCES || error == EPERM) {
        const std::string group = visibleText(platform::deviceGroup(device));
        if (group.empty()) {
            std::printf("      why: permission denied, and no group may use this device\n");
            std::printf("      fix: a udev rule giving it to group 'dialout' (ask your administrator)\n");
        } else {
            std::printf("      why: permission denied: only members of group '%s' may use it\n", group.c_str());
            std::printf("      fix: sudo usermod -aG %s $USER, then log out and in again\n", group.c_str());
        }
    } else if (error == EBUSY || error == EWOULDBLOCK) {
        if (holders.empty())
            std::printf("      why: in use by another program (not visible to this user)\n");
        else
            std::printf("      why: in use by %s\n", holderList(holders).c_str());
        std::printf("      fix: close that program (ModemManager: sudo systemctl stop ModemManager)\n");
    } else if (error == ENOENT || error == ENODEV || error == ENXIO) {
        std::printf("      why: no device there now (unplugged, or the camera is off)\n");
        std::printf("      fix: plug the camera in and power it on in its Bootloader\n");
    } else if (error == ENOTTY) {
        std::printf("      why: not a serial device\n");
        std::printf("      fix: correct QUORVEL_COM_PORTS\n");
    } else {
        std::printf("      why: %s\n", std::strerror(error));
    }
}

} // namespace

int main(int argc, char **argv)
{
    std::string devDir;
    std::string sysDir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--dev" || arg == "--sys") && i + 1 < argc) {
            (arg == "--dev" ? devDir : sysDir) = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (devDir.empty() != sysDir.empty()) {
        usage(stderr);
        return 2;
    }

    const bool listed = std::getenv("QUORVEL_COM_PORTS") != nullptr;
    const auto table = devDir.empty() ? platform::comPortTable()
                                      : platform::comPortTable(devDir, sysDir);
    std::printf("Serial ports as Quorvel numbers them at the next Start (%s), for %s:\n",
                listed ? "from QUORVEL_COM_PORTS" : kAutomaticNumbering, currentUser().c_str());
    if (table.empty())
        std::printf("  none found: is the USB cable plugged in and the camera on in its Bootloader?\n");

    int usable = 0;
    for (const auto &[port, device] : table) {
        std::vector<platform::DeviceHolder> holders;
        const int error = platform::probeSerialDevice(device.path, &holders);
        const bool scanned = port <= kLastScannedPort;
        std::printf("COM%-3d %-20s %s: %s%s\n", port, visibleText(device.path).c_str(), identity(device).c_str(),
                    error == 0 ? "usable" : "NOT usable", scanned ? "" : " (above COM49: never scanned)");
        if (error != 0)
            explain(device.path, error, holders);
        else if (!holders.empty())
            std::printf("      also open in: %s\n", holderList(holders).c_str());
        if (error == 0 && scanned)
            ++usable;
    }
    std::printf("%d usable port(s).\n", usable);
    return usable > 0 ? 0 : 1;
}
