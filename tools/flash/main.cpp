// quorvel-flash: the update of the Quorvel window from a terminal or a
// script, one camera per process, the result as the exit code; several
// cameras side by side as a station of such processes.
#include "interrupt.h"
#include "options.h"
#include "port_report.h"
#include "process.h"
#include "report.h"
#include "session.h"
#include "station.h"

#include "files_time.h"
#include "panel_headless.h"
#include "startup.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

double monotonicSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The package the window would use: installed, the one beside the installed
// program; run from the build tree, the one beside this executable. "" when
// this program cannot tell where it lies: never the current folder's.
std::string defaultPackage()
{
    char dir[4096] = "";
    if (GetProjectDir(dir, sizeof dir) != 0 || dir[0] == '\0')
        return "";
    if (std::string(dir) == QUORVEL_FLASH_BINDIR)
        return QUORVEL_FLASH_APP_DIR "/vers.kq";
    return std::string(dir) + "/vers.kq";
}

} // namespace

int main(int argc, char **argv)
{
    // A reader that goes away (`| head -1`) must not end an update.
    ignoreBrokenPipe();
    FlashOptions options;
    const std::string error = parseFlashOptions(argc, argv, &options);
    if (!error.empty()) {
        std::fprintf(stderr, "quorvel-flash: %s\nTry 'quorvel-flash --help'.\n", error.c_str());
        return kExitRefused;
    }
    if (options.help) {
        std::fputs(kFlashUsage, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (options.version) {
        std::printf("quorvel-flash %s\n", kVersionText);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (options.list)
        return printPortReport(stdout) >= 0 ? 0 : 1;

    const ReportMode mode = options.json ? ReportMode::Json : options.quiet ? ReportMode::Quiet : ReportMode::Plain;
    Reporter reporter(mode, stdout, stderr, errorIsTerminal(), monotonicSeconds);
    std::FILE *log = nullptr;
    if (!options.logFile.empty()) {
        log = std::fopen(options.logFile.c_str(), "ab");
        if (!log) {
            std::fprintf(stderr, "quorvel-flash: --log %s: %s\n", options.logFile.c_str(), std::strerror(errno));
            return kExitRefused;
        }
        static char buffer[1 << 16];  // a whole line per write: processes append side by side
        std::setvbuf(log, buffer, _IOFBF, sizeof buffer);
        reporter.setLog(log);
    }

    int signal = 0;
    int code = 0;
    if (options.station || options.ports.size() > 1) {
        code = runStation(options, ownProgram(argv[0]), reporter, &signal);
    } else {
        std::string label;
        if (!options.ports.empty()) {
            // Before the loader's list is set below: the machine's own numbering.
            label = options.labelGiven ? options.label : comLabelFor(options.ports.front());
            reporter.setPlace(options.ports.front(), label);
            // Only the device named: the loader's COM list holds exactly it.
            setProcessVariable("QUORVEL_COM_PORTS", portListFor(options.ports).c_str());
        }
        if (options.labelGiven)
            reporter.setPrefix("[" + (label.empty() ? options.ports.front() : label) + "] ");
        const std::string package = options.package.empty() ? defaultPackage() : options.package;
        if (package.empty()) {
            reporter.result(kExitRefused,
                            "this program cannot tell the folder it lies in, so it has no package beside it: "
                            "give --package",
                            0.0, "");
            code = kExitRefused;
        } else {
            UseHeadlessPanel();
            // The run-time reads its own arguments: it is given none of ours.
            int runArgc = 1;
            char *runArgv[] = {argv[0], nullptr};
            code = runUpdate(runArgc, runArgv, options, package, label, reporter, &signal);
        }
    }
    if (log)
        std::fclose(log);
    if (signal != 0)
        endBySignal(signal);
    std::fflush(stdout);
    return code;
}
