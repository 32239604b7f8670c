// The port doctor's report: every serial device with the COM number the
// loader gives it, its USB identity, whether this user can open it and, if
// not, why and what to do, and who holds it. Shared by quorvel-ports and
// quorvel-flash --list. Every text that comes from outside (device names,
// USB strings, process names) goes through visibleText: a process may name
// itself with terminal escapes, and a USB device may say anything.
#include "port_report.h"

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
void explain(std::FILE *out, const std::string &device, int error, const std::vector<platform::DeviceHolder> &holders)
{
    if (error == EACCES || error == EPERM) {
        const std::string group = visibleText(platform::deviceGroup(device));
        if (group.empty()) {
            std::fprintf(out, "      why: permission denied, and no group may use this device\n");
            std::fprintf(out, "      fix: a udev rule giving it to group 'dialout' (ask your administrator)\n");
        } else {
            std::fprintf(out, "      why: permission denied: only members of group '%s' may use it\n", group.c_str());
            std::fprintf(out, "      fix: sudo usermod -aG %s $USER, then log out and in again\n", group.c_str());
        }
    } else if (error == EBUSY || error == EWOULDBLOCK) {
        if (holders.empty())
            std::fprintf(out, "      why: in use by another program (not visible to this user)\n");
        else
            std::fprintf(out, "      why: in use by %s\n", holderList(holders).c_str());
        std::fprintf(out, "      fix: close that program (ModemManager: sudo systemctl stop ModemManager)\n");
    } else if (error == ENOENT || error == ENODEV || error == ENXIO) {
        std::fprintf(out, "      why: no device there now (unplugged, or the camera is off)\n");
        std::fprintf(out, "      fix: plug the camera in and power it on in its Bootloader\n");
    } else if (error == ENOTTY) {
        std::fprintf(out, "      why: not a serial device\n");
        std::fprintf(out, "      fix: correct QUORVEL_COM_PORTS\n");
    } else {
        std::fprintf(out, "      why: %s\n", std::strerror(error));
    }
}

} // namespace

int printPortReport(std::FILE *out, const std::string &devDir, const std::string &sysDir)
{
    const bool listed = std::getenv("QUORVEL_COM_PORTS") != nullptr;
    const auto table = devDir.empty() ? platform::comPortTable()
                                      : platform::comPortTable(devDir, sysDir);
    std::fprintf(out, "Serial ports as Quorvel numbers them at the next Start (%s), for %s:\n",
                listed ? "from QUORVEL_COM_PORTS" : kAutomaticNumbering, currentUser().c_str());
    if (table.empty())
        std::fprintf(out, "  none found: is the USB cable plugged in and the camera on in its Bootloader?\n");

    int usable = 0;
    for (const auto &[port, device] : table) {
        std::vector<platform::DeviceHolder> holders;
        const int error = platform::probeSerialDevice(device.path, &holders);
        const bool scanned = port <= kLastScannedPort;
        std::fprintf(out, "COM%-3d %-20s %s: %s%s\n", port, visibleText(device.path).c_str(), identity(device).c_str(),
                    error == 0 ? "usable" : "NOT usable", scanned ? "" : " (above COM49: never scanned)");
        if (error != 0)
            explain(out, device.path, error, holders);
        else if (!holders.empty())
            std::fprintf(out, "      also open in: %s\n", holderList(holders).c_str());
        if (error == 0 && scanned)
            ++usable;
    }
    std::fprintf(out, "%d usable port(s).\n", usable);
    std::fflush(out);
    return usable;
}
