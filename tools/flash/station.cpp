// The station: one process of this program per camera, side by side, each
// with the COM label of its port on every line it prints; a summary when
// the station ends.
//
// A station watches every port (the window's numbering, or the --port
// devices) about five times a second. A port present and not yet listened
// to gets a process that waits for a camera there. When that process ends
// after a camera answered, the camera is counted, and the port gets no new
// process while the same device node stays: a camera left plugged in after
// its update is updated again only once it was unplugged.
#include "station.h"

#include "interrupt.h"
#include "process.h"
#include "serial_ports_map.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr double kPollSeconds = 0.2;

struct Port {
    std::string device;
    std::string label;         // "COM7", "" when the machine gives it none
    long long child = -1;      // the process listening there, -1 none
    std::string answeredFile;  // it creates this once its camera answered
    bool spawned = false;      // several --port: each port's process runs once
    bool done = false;         // a camera was counted here and may still be plugged in
    std::string doneNode;      // the node it was on then, "" when it had gone
    int code = -1;             // several --port: that process's exit code
};

// The ports to watch now, in COM order: those named, else the machine's.
std::vector<std::pair<std::string, std::string>> portsToWatch(const FlashOptions &options)
{
    std::vector<std::pair<std::string, std::string>> ports;
    if (!options.ports.empty()) {
        for (const std::string &device : options.ports)
            ports.emplace_back(device, comLabelFor(device));
        return ports;
    }
    for (const auto &[number, device] : platform::comPortTable())
        if (number <= 49)  // the window scans COM1..COM49
            ports.emplace_back(device.path, "COM" + std::to_string(number));
    return ports;
}

std::string randomName()
{
    std::random_device random;
    char name[40];
    std::snprintf(name, sizeof name, "quorvel-station-%08x%08x", random(), random());
    return name;
}

} // namespace

int runStation(const FlashOptions &options, const std::string &program, Reporter &reporter, int *signal)
{
    *signal = 0;
    noteInterrupts();
    const bool station = options.station;
    // Where each camera's process says that its camera answered.
    std::error_code error;
    const fs::path scratch = fs::temp_directory_path(error) / randomName();
    if (station && (error || !fs::create_directory(scratch, error))) {
        reporter.say("quorvel-flash: no folder for the station's notes in the temporary folder");
        return kExitFailed;
    }

    std::map<std::string, Port> ports;
    std::vector<std::string> order;  // several --port: the order given
    int cameras = 0;
    int updated = 0;
    std::map<std::string, int> failures;  // result word -> cameras
    int firstFailure = 0;
    bool stopping = false;
    int serial = 0;

    auto running = [&] {
        int n = 0;
        for (const auto &entry : ports)
            n += entry.second.child > 0;
        return n;
    };
    auto answered = [&](const Port &port) {
        return port.child > 0 && fs::exists(port.answeredFile, error);
    };
    auto stopIdle = [&](int how) {
        // A process whose camera has answered finishes its update; the
        // others listen for nothing any more.
        for (auto &[device, port] : ports)
            if (port.child > 0 && (!station || !answered(port) || how != 0))
                stopChild(port.child, how != 0 ? how : SIGTERM);
    };

    for (;;) {
        if (const int got = takeInterrupt(); got != 0) {
            if (!stopping)
                reporter.say("quorvel-flash: stopping: every update stops as Stop stops it");
            stopping = true;
            if (*signal == 0)
                *signal = got;
            stopIdle(got);
        }
        // Processes that ended.
        for (auto &[device, port] : ports) {
            int code = 0;
            if (port.child <= 0 || !childEnded(port.child, &code))
                continue;
            const bool cameraAnswered = !station || fs::exists(port.answeredFile, error) || code != kExitNoCamera;
            port.child = -1;
            port.code = code;
            if (station)
                fs::remove(port.answeredFile, error);
            if (!cameraAnswered || code == kExitPortUnusable)
                continue;
            ++cameras;
            if (code == kExitWritten) {
                ++updated;
            } else {
                ++failures[resultWord(code)];
                if (firstFailure == 0)
                    firstFailure = code;
            }
            port.done = true;
            port.doneNode = deviceIdentity(device);
        }
        if (station && options.count > 0 && cameras >= options.count && !stopping) {
            stopping = true;
            stopIdle(0);
        }
        if (stopping || (!station && !order.empty())) {
            bool allDone = running() == 0;
            if (allDone)
                break;
            sleepFor(kPollSeconds);
            continue;
        }

        // Ports to listen to.
        int answering = 0;
        for (const auto &entry : ports)
            answering += answered(entry.second);
        for (const auto &[device, label] : portsToWatch(options)) {
            Port &port = ports[device];
            if (port.device.empty()) {
                port.device = device;
                order.push_back(device);
            }
            port.label = label;
            if (port.child > 0 || port.spawned)
                continue;
            const std::string node = deviceIdentity(device);
            if (port.done) {
                if (!node.empty() && node == port.doneNode)
                    continue;  // the camera updated is still plugged in
                port.done = false;  // unplugged since: what comes there is a new camera
            }
            if (station && node.empty())
                continue;  // nothing there to listen to yet
            if (station && options.count > 0 && cameras + answering >= options.count)
                continue;
            port.answeredFile = station ? (scratch / ("camera-" + std::to_string(++serial))).string() : "";
            const std::string shown = label.empty() ? device : label;
            port.child = startChild(program, childArguments(options, device, label, port.answeredFile));
            port.spawned = !station;
            if (port.child <= 0) {
                reporter.say("quorvel-flash: " + shown + ": the process for this port could not be started");
                port.code = kExitFailed;
            }
        }
        if (!station && running() == 0)
            break;
        sleepFor(kPollSeconds);
    }

    if (station)
        fs::remove_all(scratch, error);
    const int failed = cameras - updated;
    std::string byReason;
    nlohmann::json reasons = nlohmann::json::object();
    for (const auto &[word, n] : failures) {
        byReason += (byReason.empty() ? "" : ", ") + word + ": " + std::to_string(n);
        reasons[word] = n;
    }
    char line[128];
    std::snprintf(line, sizeof line, "quorvel-flash: %s: %d camera%s, %d updated, %d failed", station ? "station" : "ports",
                  cameras, cameras == 1 ? "" : "s", updated, failed);
    if (!options.json)
        reporter.say(std::string(line) + (byReason.empty() ? "" : " (" + byReason + ")"));
    reporter.event("summary", {{"cameras", cameras}, {"updated", updated}, {"failed", failed}, {"by_reason", reasons}});
    reporter.finish();
    if (!station) {
        // Several --port: the first port's verdict, in the order given, that was not a success.
        for (const std::string &device : order)
            if (ports[device].code != kExitWritten)
                return ports[device].code < 0 ? kExitFailed : ports[device].code;
        return kExitWritten;
    }
    return failed == 0 ? kExitWritten : kExitFailed;
}
