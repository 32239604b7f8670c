// The command line of quorvel-flash.
#include "options.h"

#include <charconv>
#include <cmath>
#include <system_error>

const char kFlashUsage[] =
    "Usage: quorvel-flash [--package FILE] [--port DEVICE]... [--wait SECONDS]\n"
    "                     [--french] [--json] [--quiet]\n"
    "Writes the firmware package into the camera that answers in its bootloader,\n"
    "as the Quorvel window does after Start and Ok, without a window.\n"
    "\n"
    "  --package FILE    firmware package (default: vers.kq beside the installed\n"
    "                    Quorvel, /opt/quorvel/vers.kq); read and checked before\n"
    "                    any port is opened\n"
    "  --port DEVICE     listen on DEVICE only (repeatable); default: every serial\n"
    "                    port, COM1 to COM49 as the window numbers them\n"
    "                    (QUORVEL_COM_PORTS honoured), ports held by others skipped\n"
    "  --wait SECONDS    give up when no camera has answered within SECONDS\n"
    "                    (default: wait until interrupted)\n"
    "  --french          the log in French\n"
    "  --json            one JSON object per line per event, instead of the log\n"
    "  --quiet           print the result line only\n"
    "  --help            this text\n"
    "  --version         the version\n"
    "\n"
    "The log goes to standard output as the window shows it, the camera's own\n"
    "text with its control characters made visible (\\r, \\x1b, ...). Progress\n"
    "goes to standard error. Ctrl-C or SIGTERM stops as the Stop button does.\n"
    "One process updates one camera: run one per --port for several at once.\n"
    "\n"
    "Exit status:\n"
    "  0    the camera said \"WRITE OK\" (a hang-up after it included)\n"
    "  1    the camera answered \"ERROR\", or the update otherwise failed\n"
    "  2    usage error, or package refused: nothing sent after \"START\"\n"
    "  3    no camera answered within --wait\n"
    "  4    the camera was disconnected before \"WRITE OK\"\n"
    "  130  interrupted (SIGINT or SIGTERM)\n";

std::string parseFlashOptions(int argc, const char *const *argv, FlashOptions *options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string name = arg;
        std::string value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }
        const bool takesValue = name == "--package" || name == "--port" || name == "--wait";
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
            // Read as C reads it whatever the desktop's locale: "2.5", never "2,5".
            double seconds = 0.0;
            const char *const last = value.data() + value.size();
            const auto read = std::from_chars(value.data(), last, seconds);
            if (value.empty() || read.ec != std::errc() || read.ptr != last || !std::isfinite(seconds)
                || seconds < 0 || seconds > 1e6)
                return "--wait needs a number of seconds";
            options->waitSeconds = seconds;
        } else if (name == "--french") {
            options->french = true;
        } else if (name == "--json") {
            options->json = true;
        } else if (name == "--quiet") {
            options->quiet = true;
        } else if (name == "--help" || name == "-h") {
            options->help = true;
        } else if (name == "--version") {
            options->version = true;
        } else {
            return "unknown argument '" + arg + "'";
        }
    }
    if (options->json && options->quiet)
        return "--json and --quiet do not go together";
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
