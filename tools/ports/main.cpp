// quorvel-ports: lists every serial device with the COM number the loader
// gives it, its USB identity, whether this user can open it and, if not,
// why and what to do, and who holds it. Exit code 0 when at least one port
// the loader scans (COM1..COM49) is usable, 1 when none is, 2 on bad usage.
// Every text that comes from outside (device names, USB strings, process
// names) goes through visibleText: a process may name itself with terminal
// escapes, and a USB device may say anything.
#include "port_report.h"

#include <cstdio>
#include <string>

namespace {

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

    const int usable = printPortReport(stdout, devDir, sysDir);
    return usable > 0 ? 0 : 1;
}
