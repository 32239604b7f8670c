// The command line of quorvel-flash.
#include "options.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

const char kFlashUsage[] =
    "Usage: quorvel-flash [OPTION]...\n"
    "Writes the firmware package into the camera that answers in its bootloader,\n"
    "as the Quorvel window does after Start and Ok, without a window.\n"
    "\n"
    "  -f, --package FILE     firmware package (default: vers.kq beside the installed\n"
    "                         Quorvel, /opt/quorvel/vers.kq); read and checked before\n"
    "                         any port is opened\n"
    "  -p, --port DEVICE      listen on DEVICE only; given several times, each port\n"
    "                         gets its own update, side by side; default: every\n"
    "                         serial port, COM1 to COM49 as the window numbers them\n"
    "                         (QUORVEL_COM_PORTS honoured), ports held by others skipped\n"
    "  -w, --wait SECONDS     give up when no camera has answered within SECONDS\n"
    "                         (default: wait until interrupted; with --port, a port\n"
    "                         that cannot be used or an unknown product ends the run\n"
    "                         at once unless --wait is given)\n"
    "  -t, --timeout SECONDS  the longest the update may take once the camera has\n"
    "                         answered; then Stop (default: no limit)\n"
    "  -n, --dry-run          check the package, wait for a camera, name its product\n"
    "                         and the image that would go out; send nothing, not\n"
    "                         even START\n"
    "      --allow-demo       update from a demo package (random images); refused\n"
    "                         without it\n"
    "  -l, --list             list the serial ports as quorvel-ports does, and end\n"
    "  -s, --station          keep watching the ports: update each camera as it\n"
    "                         appears, several at once, each in a process of its own;\n"
    "                         a camera left plugged in is updated again only after it\n"
    "                         was unplugged; a summary at the end (Ctrl-C)\n"
    "  -c, --count N          with --station: stop after N cameras\n"
    "      --log FILE         append the JSON record (as --json prints it) to FILE\n"
    "      --french           the log in French\n"
    "  -j, --json             one JSON object per line per event, instead of the log\n"
    "                         (described by quorvel-flash-record.schema.json in\n"
    "                         /usr/share/doc/quorvel, docs/ in the sources)\n"
    "  -q, --quiet            print the result line only\n"
    "  -h, --help             this text\n"
    "  -V, --version          the version\n"
    "\n"
    "The log goes to standard output as the window shows it, the camera's own\n"
    "text with its control characters made visible (\\r, \\x1b, ...). Progress\n"
    "goes to standard error. Ctrl-C, SIGTERM or SIGHUP stops as the Stop button\n"
    "does; the program then ends by that signal. A closed or full standard output\n"
    "never stops an update: the failure is said on standard error and the exit\n"
    "status is still the camera's verdict.\n"
    "\n"
    "Exit status:\n"
    "  0    the camera said \"WRITE OK\" (a hang-up after it included); --dry-run:\n"
    "       a camera answered and its image is in the package\n"
    "  1    the camera answered \"ERROR\", or the update otherwise failed\n"
    "  2    usage error, or package refused (unreadable, or a demo package without\n"
    "       --allow-demo): nothing sent after \"START\"\n"
    "  3    no camera answered within --wait\n"
    "  4    the camera was disconnected before \"WRITE OK\"\n"
    "  5    a camera answered whose product the package has no image for\n"
    "  6    the port named cannot be used: busy, permission denied, not present,\n"
    "       or not a serial port\n"
    "  7    the camera answered but the update outlasted --timeout\n"
    "  8    interrupted after the whole image was sent: the camera is writing its\n"
    "       flash; keep it powered until it restarts\n"
    "  130, 143, 129  interrupted by SIGINT, SIGTERM or SIGHUP (128 + the signal,\n"
    "       as the shell reports a process ended by it)\n"
    "With several --port, the status is 0 when every camera was written, else the\n"
    "first port's (in the order given) that was not. --station ends with 0 when\n"
    "every camera was written, else 1, or by the signal that ended it.\n";

namespace {

// Reads a number of seconds as C reads it whatever the desktop's locale:
// "2.5", never "2,5".
bool readSeconds(const std::string &value, double *seconds)
{
    const char *const last = value.data() + value.size();
    const auto read = std::from_chars(value.data(), last, *seconds);
    return !value.empty() && read.ec == std::errc() && read.ptr == last && std::isfinite(*seconds)
           && *seconds >= 0 && *seconds <= 1e6;
}

// The long name of a short option, "" when there is none.
std::string longName(const std::string &arg)
{
    static const struct {
        const char *shortName;
        const char *longName;
    } kShort[] = {{"-f", "--package"}, {"-p", "--port"},    {"-w", "--wait"},    {"-t", "--timeout"},
                  {"-n", "--dry-run"}, {"-l", "--list"},    {"-s", "--station"}, {"-c", "--count"},
                  {"-j", "--json"},    {"-q", "--quiet"},   {"-h", "--help"},    {"-V", "--version"}};
    for (const auto &option : kShort)
        if (arg == option.shortName)
            return option.longName;
    return "";
}

} // namespace

std::string parseFlashOptions(int argc, const char *const *argv, FlashOptions *options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string name = arg;
        std::string value;
        bool hasValue = false;
        if (const std::string full = longName(arg); !full.empty()) {
            name = full;
        } else if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }
        const bool takesValue = name == "--package" || name == "--port" || name == "--wait" || name == "--timeout"
                                || name == "--log" || name == "--count" || name == "--label"
                                || name == "--station-child";
        if (takesValue && !hasValue) {
            if (i + 1 >= argc)
                return "option '" + name + "' needs a value";
            value = argv[++i];
        } else if (!takesValue && hasValue) {
            return "option '" + name + "' takes no value";
        }

        if (name == "--package") {
            if (value.empty())
                return "--package needs a file";
            options->package = value;
        } else if (name == "--port") {
            // The loader's port list is "N=DEVICE,...": a device naming a
            // comma cannot be put in it.
            if (value.empty() || value.find(',') != std::string::npos)
                return "--port needs a device without a comma";
            if (options->ports.size() >= 49)
                return "at most 49 --port devices";
            options->ports.push_back(value);
        } else if (name == "--wait") {
            if (!readSeconds(value, &options->waitSeconds))
                return "--wait needs a number of seconds";
        } else if (name == "--timeout") {
            if (!readSeconds(value, &options->timeoutSeconds) || options->timeoutSeconds <= 0)
                return "--timeout needs a number of seconds above 0";
        } else if (name == "--log") {
            if (value.empty())
                return "--log needs a file";
            options->logFile = value;
        } else if (name == "--count") {
            int count = 0;
            const char *const last = value.data() + value.size();
            const auto read = std::from_chars(value.data(), last, count);
            if (value.empty() || read.ec != std::errc() || read.ptr != last || count < 1)
                return "--count needs a number of cameras, 1 or more";
            options->count = count;
        } else if (name == "--label") {
            options->label = value;
            options->labelGiven = true;
        } else if (name == "--station-child") {
            if (value.empty())
                return "--station-child needs a file";
            options->stationFile = value;
            options->stationChild = true;
        } else if (name == "--french") {
            options->french = true;
        } else if (name == "--json") {
            options->json = true;
        } else if (name == "--quiet") {
            options->quiet = true;
        } else if (name == "--dry-run") {
            options->dryRun = true;
        } else if (name == "--allow-demo") {
            options->allowDemo = true;
        } else if (name == "--list") {
            options->list = true;
        } else if (name == "--station") {
            options->station = true;
        } else if (name == "--help") {
            options->help = true;
        } else if (name == "--version") {
            options->version = true;
        } else {
            return "unknown argument '" + arg + "'";
        }
    }
    if (options->json && options->quiet)
        return "--json and --quiet do not go together";
    if (options->count > 0 && !options->station)
        return "--count goes with --station";
    if (options->station && options->dryRun)
        return "--station and --dry-run do not go together";
    return "";
}

std::string comPortList(const std::vector<std::string> &devices)
{
    std::string list;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (i)
            list += ',';
        list += std::to_string(i + 1) + "=" + devices[i];
    }
    return list;
}

std::vector<std::string> childArguments(const FlashOptions &options, const std::string &device,
                                        const std::string &label, const std::string &stationFile)
{
    std::vector<std::string> args = {"--port", device, "--label", label};
    if (!options.package.empty())
        args.insert(args.end(), {"--package", options.package});
    char number[32];
    if (options.waitSeconds >= 0 && !options.station) {
        std::snprintf(number, sizeof number, "%.17g", options.waitSeconds);
        args.insert(args.end(), {"--wait", number});
    }
    if (options.timeoutSeconds > 0) {
        std::snprintf(number, sizeof number, "%.17g", options.timeoutSeconds);
        args.insert(args.end(), {"--timeout", number});
    }
    if (!options.logFile.empty())
        args.insert(args.end(), {"--log", options.logFile});
    for (const auto &[set, flag] : {std::pair{options.french, "--french"}, {options.json, "--json"},
                                    {options.quiet, "--quiet"}, {options.dryRun, "--dry-run"},
                                    {options.allowDemo, "--allow-demo"}})
        if (set)
            args.push_back(flag);
    if (!stationFile.empty())
        args.insert(args.end(), {"--station-child", stationFile});
    return args;
}
