// quorvel-flash: the update of the Quorvel window from a terminal or a
// script, one camera per process, the result as the exit code.
#include "options.h"
#include "process.h"
#include "report.h"
#include "session.h"

#include "files_time.h"
#include "panel_headless.h"
#include "startup.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double monotonicSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The package the window would use: installed, the one beside the installed
// program; run from the build tree, the one beside this executable.
std::string defaultPackage()
{
    char dir[4096] = "";
    if (GetProjectDir(dir, sizeof dir) != 0)
        return "vers.kq";
    if (std::string(dir) == QUORVEL_FLASH_BINDIR)
        return QUORVEL_FLASH_APP_DIR "/vers.kq";
    return std::string(dir) + "/vers.kq";
}

} // namespace

int main(int argc, char **argv)
{
    FlashOptions options;
    const std::string error = parseFlashOptions(argc, argv, &options);
    if (!error.empty()) {
        std::fprintf(stderr, "quorvel-flash: %s\nTry 'quorvel-flash --help'.\n", error.c_str());
        return kExitRefused;
    }
    if (options.help) {
        std::fputs(kFlashUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("quorvel-flash %s\n", kVersionText);
        return 0;
    }
    // Only the devices named: the loader's COM list holds exactly them.
    if (!options.ports.empty())
        setProcessVariable("QUORVEL_COM_PORTS", portListFor(options.ports).c_str());

    const ReportMode mode = options.json ? ReportMode::Json : options.quiet ? ReportMode::Quiet : ReportMode::Plain;
    Reporter reporter(mode, stdout, stderr, errorIsTerminal(), monotonicSeconds);
    const std::string package = options.package.empty() ? defaultPackage() : options.package;

    UseHeadlessPanel();
    // The run-time reads its own arguments: it is given none of ours.
    int runArgc = 1;
    char *runArgv[] = {argv[0], nullptr};
    return runUpdate(runArgc, runArgv, options, package, reporter);
}
