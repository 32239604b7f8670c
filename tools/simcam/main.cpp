// quorvel-simcam: a simulated camera on a pseudo-terminal, for trying the
// loader without a camera on the desk. Prints the device on its first line,
// then what the camera hears and answers, until Ctrl-C.
#include "simcam.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include <pthread.h>

namespace {

const char kUsage[] =
    "Usage: quorvel-simcam [OPTION]...\n"
    "A simulated camera in bootloader mode on a pseudo-terminal. The first line\n"
    "printed is the device to point the loader at, e.g.\n"
    "  QUORVEL_COM_PORTS=3=/dev/pts/7 ./Quorvel\n"
    "\n"
    "  --product TEXT         product in the banner (default RZ4417; KWT6083 is the\n"
    "                         other known one, anything else is unknown to the loader)\n"
    "  --banner TEXT          whole banner text instead of\n"
    "                         \"\\r\\nBootloader v2.10 - PRODUCT\\r\\n\" (\\r, \\n, \\0, \\\\ understood)\n"
    "  --lower-case           send the banner in lower-case letters\n"
    "  --banner-period SECONDS  seconds between banners until START (default 0.3)\n"
    "  --rate BYTES_PER_S     pace both directions like a serial line\n"
    "                         (11520 is 115200 baud; default: as fast as the pty goes)\n"
    "  --file-ok SECONDS      pause before FILE OK while checking (default 0.1)\n"
    "  --erase SECONDS        pause from FILE OK to ERASE OK (default 1.0)\n"
    "  --program SECONDS      pause from ERASE OK to WRITE OK (default 1.5)\n"
    "  --silence SECONDS      answer ERROR when the header or image stalls this\n"
    "                         long (default: wait for ever)\n"
    "  --flash BYTES          largest image accepted (default 33554432)\n"
    "  --nul                  put a NUL byte inside every reply word\n"
    "  --error-after N        answer ERROR after N image bytes\n"
    "  --hang-up-after N      close the line after N image bytes, like a pulled cable\n"
    "  --hang-up-at-start     close the line as soon as START is heard, before answering\n"
    "  --reboot-delay S       with --reboot-after-write: close the line S seconds after\n"
    "                         WRITE OK instead of 0.05 (0: in the same breath)\n"
    "  --reboot-after-write   close the line 50 ms after WRITE OK, as a camera that\n"
    "                         restarts into its new firmware\n"
    "  --second-start-ok      send START OK twice\n"
    "  --noise                print garbage lines before each banner\n"
    "  --link PATH            make PATH a symbolic link to the device (removed at exit);\n"
    "                         a link already there is replaced only when its pty is gone\n"
    "  --repeat               after each update, announce again for the next one\n"
    "  --save-image FILE      at exit, write the image bytes the camera took to FILE\n"
    "                         (to compare them with what was sent, byte for byte)\n"
    "  --repeat-when-closed   as --repeat, once the loader has closed the device (its update ended)\n"
    "  --quiet                print only the device\n"
    "  --help                 this text\n";

// Lines go out whole, one at a time: the camera thread (events) and the main
// thread (progress) both print, and the device must stay the first line, so
// events that come before it is printed wait in `held`.
std::mutex printing;
bool devicePrinted = false;       // guarded by `printing`
std::vector<std::string> held;    // guarded by `printing`

std::string stamped(const std::string &text)
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);  // the plain localtime() shares one buffer between threads
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    return std::string(stamp) + " " + text + "\n";
}

void say(const std::string &text)
{
    std::lock_guard<std::mutex> lock(printing);
    if (!devicePrinted) {
        held.push_back(stamped(text));
        return;
    }
    std::fputs(stamped(text).c_str(), stdout);
    std::fflush(stdout);
}

void printDevice(const std::string &device)
{
    std::lock_guard<std::mutex> lock(printing);
    std::printf("%s\n", device.c_str());
    for (const auto &line : held)
        std::fputs(line.c_str(), stdout);
    held.clear();
    devicePrinted = true;
    std::fflush(stdout);
}

// \r, \n, \0 and \\ in a --banner argument, so a shell user can type line ends.
std::string unescape(const char *text)
{
    std::string out;
    for (const char *p = text; *p; ++p) {
        if (*p != '\\' || !p[1]) {
            out += *p;
            continue;
        }
        ++p;
        switch (*p) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case '0': out += '\0'; break;
        default: out += *p; break;
        }
    }
    return out;
}

bool number(const char *text, double *value)
{
    char *end = nullptr;
    errno = 0;
    *value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' && *value >= 0;
}

bool count(const char *text, long *value)
{
    char *end = nullptr;
    errno = 0;
    long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < 0 || v > 0xFFFFFFFFLL)
        return false;
    *value = static_cast<long>(v);
    return true;
}

int usageError(const std::string &message)
{
    std::fprintf(stderr, "quorvel-simcam: %s\nTry 'quorvel-simcam --help'.\n", message.c_str());
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    SimCameraOptions options;
    bool quiet = false;
    std::string saveImage;  // --save-image: where the image taken goes at exit
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        auto needsSeconds = [&](double *target) {
            const char *v = value();
            return v && number(v, target);
        };
        auto needsCount = [&](long *target) {
            const char *v = value();
            return v && count(v, target);
        };
        bool ok = true;
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--product") {
            const char *v = value();
            ok = v != nullptr;
            if (ok)
                options.product = v;
        } else if (arg == "--banner") {
            const char *v = value();
            ok = v != nullptr && *v != '\0';
            if (ok)
                options.banner = unescape(v);
        } else if (arg == "--lower-case") {
            options.lowerCaseBanner = true;
        } else if (arg == "--banner-period") {
            ok = needsSeconds(&options.bannerPeriod) && options.bannerPeriod > 0;
        } else if (arg == "--rate") {
            ok = needsCount(&options.lineRate);
        } else if (arg == "--file-ok") {
            ok = needsSeconds(&options.fileOkSeconds);
        } else if (arg == "--erase") {
            ok = needsSeconds(&options.eraseSeconds);
        } else if (arg == "--program") {
            ok = needsSeconds(&options.programSeconds);
        } else if (arg == "--silence") {
            ok = needsSeconds(&options.silenceTimeout);
        } else if (arg == "--flash") {
            long flash = 0;
            ok = needsCount(&flash);
            options.flashSize = static_cast<uint32_t>(flash);
        } else if (arg == "--nul") {
            options.nulInReply = true;
        } else if (arg == "--error-after") {
            ok = needsCount(&options.errorAfterBytes);
        } else if (arg == "--hang-up-after") {
            ok = needsCount(&options.hangUpAfterBytes);
        } else if (arg == "--hang-up-at-start") {
            options.hangUpAtStart = true;
        } else if (arg == "--reboot-after-write") {
            options.rebootAfterWrite = true;
        } else if (arg == "--reboot-delay") {
            options.rebootAfterWrite = true;
            ok = needsSeconds(&options.rebootDelay) && options.rebootDelay >= 0;
        } else if (arg == "--second-start-ok") {
            options.secondStartOk = true;
        } else if (arg == "--noise") {
            options.noise = true;
        } else if (arg == "--link") {
            const char *v = value();
            ok = v != nullptr && *v != '\0';
            if (ok)
                options.symlinkPath = v;
        } else if (arg == "--repeat") {
            options.repeat = true;
        } else if (arg == "--save-image") {
            const char *v = value();
            ok = v != nullptr && *v != '\0';
            if (ok)
                saveImage = v;
        } else if (arg == "--repeat-when-closed") {
            options.repeat = true;
            options.repeatWhenClosed = true;
        } else if (arg == "--quiet") {
            quiet = true;
        } else {
            return usageError("unknown option '" + arg + "'");
        }
        if (!ok)
            return usageError("option '" + arg + "' needs a valid value");
    }
    if (!quiet)
        options.onEvent = say;

    // The signals are taken by sigtimedwait() below; blocked before the
    // camera thread starts, so that thread never receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);  // a closed stdout must not kill us before the link is removed

    SimCamera camera(options);
    std::string error;
    if (!camera.start(&error)) {
        std::fprintf(stderr, "quorvel-simcam: %s\n", error.c_str());
        return 1;
    }
    printDevice(camera.devicePath());
    if (!quiet && !options.symlinkPath.empty())
        say("linked as " + options.symlinkPath);

    // Once a second, how far the image has come.
    uint64_t shown = 0;
    for (;;) {
        timespec second = {1, 0};
        int signal = sigtimedwait(&stopSignals, nullptr, &second);
        if (signal > 0)
            break;
        if (quiet)
            continue;
        SimCameraReport report = camera.report(false);
        if (report.headerReceived && report.bytesReceived != shown && report.verdict.empty() &&
            report.bytesReceived < report.announcedSize) {
            shown = report.bytesReceived;
            say("received " + std::to_string(shown) + " of " + std::to_string(report.announcedSize) +
                " bytes (" + std::to_string(shown * 100 / report.announcedSize) + " %)");
        }
        if (report.bytesReceived < shown)
            shown = 0;  // the camera restarted for the next update
    }
    camera.stop();
    if (!quiet)
        say("stopped");
    if (!saveImage.empty()) {
        const std::vector<uint8_t> image = camera.report(true).image;
        std::FILE *file = std::fopen(saveImage.c_str(), "wb");
        const bool saved = file && std::fwrite(image.data(), 1, image.size(), file) == image.size();
        if (!file || std::fclose(file) != 0 || !saved) {
            std::fprintf(stderr, "quorvel-simcam: cannot write %s\n", saveImage.c_str());
            return 1;
        }
    }
    return 0;
}
