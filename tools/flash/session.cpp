// One update on the window-less panel. What it prints comes from what the
// panel shows (the log's lines, the slide, the LEDs); how it ends comes from
// the outcome the loader decided, never from text on the line or in the log.
#include "session.h"

#include "callback_names.h"
#include "control.h"
#include "dialogue.h"
#include "loader_state.h"
#include "messages.h"
#include "outcome.h"
#include "package.h"
#include "panel_headless.h"
#include "platform.h"
#include "serial_ports_map.h"
#include "startup.h"
#include "trust.h"
#include "ui_constants.h"

#include "files_time.h"
#include "interrupt.h"
#include "process.h"
#include "serial.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

namespace headless = platform::headless;
using platform::PanelValue;
using platform::PopupButtons;

namespace {

int intOf(const PanelValue &value)
{
    if (const int *i = std::get_if<int>(&value))
        return *i;
    if (const bool *b = std::get_if<bool>(&value))
        return *b ? 1 : 0;
    if (const double *d = std::get_if<double>(&value))
        return static_cast<int>(*d);
    return 0;
}

double doubleOf(const PanelValue &value)
{
    if (const double *d = std::get_if<double>(&value))
        return *d;
    return intOf(value);
}

std::string textOf(const PanelValue &value)
{
    if (const std::string *s = std::get_if<std::string>(&value))
        return *s;
    return "";
}

std::string trimmed(const char *text)
{
    std::string s = text;
    while (!s.empty() && (s.front() == '\n' || s.front() == ' '))
        s.erase(0, 1);
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

std::string hex8(uint32_t value)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// Calls made from the event loop after a while and not made yet, by their
// handle: withdrawn and freed when the run ends (a --wait or --timeout
// still pending when the camera has answered).
std::map<int, std::function<void()> *> &pendingCalls()
{
    static std::map<int, std::function<void()> *> calls;
    return calls;
}

// A call made from the event loop after `seconds` (0: on its next pass),
// outside whatever panel call is running now (and after a popup open now
// has been answered).
void later(double seconds, std::function<void()> call)
{
    auto *kept = new std::function<void()>(std::move(call));
    const int handle = PostDelayedCall(
        seconds, [](void *data) {
            auto *pending = static_cast<std::function<void()> *>(data);
            for (auto it = pendingCalls().begin(); it != pendingCalls().end(); ++it)
                if (it->second == pending) {
                    pendingCalls().erase(it);
                    break;
                }
            (*pending)();
            delete pending;
        },
        kept);
    if (handle < 0)
        delete kept;
    else
        pendingCalls()[handle] = kept;
}

// Withdraws every call not made yet. After the event loop has returned.
void forgetPendingCalls()
{
    for (const auto &[handle, call] : pendingCalls()) {
        CancelDelayedCall(handle);
        delete call;
    }
    pendingCalls().clear();
}

// Seconds since start(), on the event loop's clock; -1 before it.
class Stopwatch {
public:
    void start() { startedAt = Timer(); }
    bool isValid() const { return startedAt >= 0.0; }
    double seconds() const { return Timer() - startedAt; }

private:
    double startedAt = -1.0;
};

// The COM numbers the loader listens on when --port named devices: those
// of its QUORVEL_COM_PORTS list ("1=/dev/ttyACM0" or, on Windows, "7=COM7").
std::vector<int> namedComNumbers()
{
    std::vector<int> numbers;
    const char *list = std::getenv("QUORVEL_COM_PORTS");
    for (const char *p = list ? list : ""; *p;) {
        numbers.push_back(std::atoi(p));
        const char *comma = std::strchr(p, ',');
        if (!comma)
            break;
        p = comma + 1;
    }
    return numbers;
}

// Why the named port `port` (device `device`) cannot be used, in the
// operator's terms; "" when it is open or has not been tried.
std::string portProblem(int port, const std::string &device)
{
    if (port < kFirstComPort || port > kLastComPort || loader.portStatus[port] == 0)
        return "";
    const std::string name = visibleLine(device);
    if (loader.portStatus[port] == kComHangUp)
        return name + ": not present (unplugged)";
    ComOpenFailure failure{};
    if (GetComOpenFailure(port, &failure) != 0)
        return name + ": cannot be opened";
    switch (failure.error) {
    case kComBusy:
        if (failure.holder[0])
            return name + ": busy, held by " + visibleLine(failure.holder) + " (pid "
                   + std::to_string(failure.holderPid) + ")";
        return name + ": busy, held by another program";
    case kComNoDevice:
        if (failure.systemErrno == ENOTTY)
            return name + ": not a serial port";
        return name + ": not present";
    case kComSystemError:
        if (failure.systemErrno == EACCES || failure.systemErrno == EPERM)
            return name + ": permission denied"
                   + (failure.group[0] ? " (members of group '" + visibleLine(failure.group) + "' may use it)"
                                       : std::string());
        return name + ": cannot be opened: " + std::strerror(failure.systemErrno);
    case 0:
        return "";
    default:
        return name + ": cannot be opened";
    }
}

class Update {
public:
    Update(const FlashOptions &options_, Reporter &reporter_, const std::string &label_,
           const PackageFacts &facts_)
        : options(options_), reporter(reporter_), label(label_), facts(facts_)
    {
    }

    void start(int panel_)
    {
        panel = panel_;
        clock.start();
        named = options.ports.empty() ? std::vector<int>() : namedComNumbers();
        headless::setPopupScript([this](const std::string &title, const std::string &message,
                                        const PopupButtons &buttons) {
            return answerPopup(title, message, buttons);
        });
        headless::setPanelObserver([this](const headless::PanelChange &change) { observe(change); });
        watchInterrupts([this](int signal) { interrupted(signal); });
        if (options.stationChild)
            stopWithParent();  // its SIGTERM is taken by the handler just installed
        if (options.waitSeconds >= 0)
            later(options.waitSeconds, [this] { waitRanOut(); });
        if (options.dryRun)
            ComHoldWrites(true);  // the loader's START goes nowhere
        later(0.0, [this] {
            pressStart();
            checkNamedPorts(false);
        });
    }

    void detach()
    {
        headless::setPanelObserver(nullptr);
        headless::setPopupScript(nullptr);
    }

    // How the run ended, for its last line.
    ResultRecord record() const
    {
        ResultRecord r;
        r.code = exitCode;
        r.reason = reason;
        r.elapsedSeconds = updateClock.isValid() ? updateClock.seconds() : clock.seconds();
        r.where = place;
        r.bytesSent = options.dryRun ? 0 : loader.bytesSent.load();
        r.outcome = NomIssue(IssueMiseAJour());
        r.product = product;
        r.version = version;
        r.headerSize = headerSize;
        r.headerChecksum = headerChecksum;
        return r;
    }
    // The signal the run ended by, 0 when none: the process ends by it too.
    int signal() const { return endingSignal; }
    bool cameraSeen() const { return answered || unknownSeen; }

private:
    // Whether a port that cannot be used and an unknown product end the
    // run at once: the operator named the port and gave no time to wait.
    // A station's camera process waits for its port whatever comes.
    bool endsAtOnce() const { return !named.empty() && options.waitSeconds < 0; }

    void pressStart()
    {
        if (!ending && !headless::clickControl(panel, GO))
            end(kExitFailed, "the Start button could not be pressed");
    }

    // Every named port tried and none usable: said once the scan's retry
    // has seen the same (a node udev has just made may not have its group
    // yet), then the end when the run may not wait.
    void checkNamedPorts(bool confirmed)
    {
        if (ending || loader.bootloaderFound || named.empty())
            return;
        const std::string problem = namedPortsProblem();
        if (problem.empty())
            return;
        if (!confirmed) {
            later(kPortRecheckSeconds, [this] { checkNamedPorts(true); });
            return;
        }
        if (endsAtOnce() && !options.stationChild)
            end(kExitPortUnusable, problem);
    }

    // "" when some named port is open (or none has been tried), else why the first cannot be used.
    std::string namedPortsProblem() const
    {
        std::string first;
        for (std::size_t i = 0; i < named.size(); ++i) {
            const int port = named[i];
            if (port >= kFirstComPort && port <= kLastComPort && loader.portStatus[port] == 0)
                return "";
            const std::string problem = portProblem(port, i < options.ports.size() ? options.ports[i] : "");
            if (problem.empty())
                return "";
            if (first.empty())
                first = problem;
        }
        return first;
    }

    void waitRanOut()
    {
        if (loader.bootloaderFound || ending)
            return;
        if (unknownSeen) {
            end(kExitUnknownProduct, unknownReason);
            return;
        }
        if (const std::string problem = namedPortsProblem(); !problem.empty()) {
            end(kExitPortUnusable, problem);
            return;
        }
        char text[96];
        std::snprintf(text, sizeof text, "no camera answered within %g s", options.waitSeconds);
        end(kExitNoCamera, text);
    }

    // Ctrl-C, SIGTERM or SIGHUP: Stop, as the operator would press it. Once
    // the whole image is in the camera there is nothing left to stop: the
    // camera goes on to write its flash, and the operator must hear that it
    // has to stay powered.
    void interrupted(int signal)
    {
        // A second signal while Stop has not returned: the operator
        // insists, the system closes the port.
        if (ending && endingSignal != 0)
            endBySignal(endingSignal);
        if (ending)
            return;
        if (imageInCamera()) {
            reporter.say("quorvel-flash: interrupted after the whole image was sent: the camera is now writing "
                         "its flash. Keep it powered until it restarts.");
            end(kExitFlashing, "interrupted after the whole image was sent: the camera is writing its flash; "
                               "keep it powered until it restarts");
            return;
        }
        endingSignal = signal;
        end(128 + signal, "interrupted: stopped as the Stop button stops");
    }

    // The camera holds the whole image and has not yet said its flash is written.
    bool imageInCamera() const
    {
        if (!loader.headerSent || loader.reportedStep >= kStepWritten || options.dryRun)
            return false;
        return loader.reportedStep >= kStepFileReceived
               || static_cast<uint32_t>(loader.bytesSent.load()) >= static_cast<uint32_t>(loader.imageSize.load());
    }

    // Ok to every popup: the instructions (the operator has the camera in its
    // bootloader), and the unknown product's error, after which the scan
    // starts again for the next camera unless the run ends with it.
    int answerPopup(const std::string &title, const std::string &message, const PopupButtons &buttons)
    {
        const bool instructions = message == Msg(MSG_INSTRUCTIONS, loader.language)
                                  || message == Msg(MSG_INSTRUCTIONS_LINUX, loader.language);
        if (!instructions)
            reporter.popupShown(title, message);
        if (!instructions && IssueMiseAJour() == UpdateOutcome::UnknownProduct && !ending) {
            unknownSeen = true;
            unknownReason = "a camera answered whose product this package has no image for";
            if (endsAtOnce() || options.stationChild)
                end(kExitUnknownProduct, unknownReason);
            else
                later(0.0, [this] { pressStart(); });
        }
        const std::string ok = Msg(MSG_OK, loader.language);
        for (std::size_t i = 0; i < buttons.captions.size() && i < buttons.numbers.size(); ++i)
            if (buttons.captions[i] == ok)
                return buttons.numbers[i];
        return buttons.numbers.empty() ? 1 : buttons.numbers.front();
    }

    void observe(const headless::PanelChange &change)
    {
        if (change.panel != panel)
            return;
        if (change.control == TEXTBOX) {
            // A dry run's log ends with the banner: the loader's START
            // line would tell of a command that never went out.
            if (options.dryRun && answered && change.kind == headless::PanelChangeKind::LogAppended
                && bannerLogged++ > 0)
                return;
            if (change.kind == headless::PanelChangeKind::LogReplaced) {
                reporter.logReset();
            } else if (change.kind == headless::PanelChangeKind::LogAppended) {
                const std::string text = textOf(change.value);
                reporter.logAppended(text);
                followSteps();
            }
            judge();
            return;
        }
        if (change.kind != headless::PanelChangeKind::Value) {
            judge();
            return;
        }
        switch (change.control) {
        case BOOT:
            if (intOf(change.value) == 1)
                cameraAnswered();
            break;
        case SLIDE:
            progress.percent = intOf(change.value);
            showProgress();
            break;
        case OCTET:
            progress.megabytesSent = doubleOf(change.value);
            showProgress();
            break;
        case TAUX:
            progress.rateKbPerSecond = doubleOf(change.value);
            showProgress();
            break;
        case TEMPS:
            progress.elapsed = textOf(change.value);
            showProgress();
            break;
        default:
            break;
        }
        judge();
    }

    void showProgress()
    {
        if (!loader.bootloaderFound || !transferring)
            return;
        const double total = static_cast<uint32_t>(loader.imageSize.load()) / 1048576.0;
        ProgressState shown = progress;
        shown.megabytesTotal = total;
        shown.bytes = loader.bytesSent.load();
        const double byPercent = total * shown.percent / 100.0;
        if (byPercent > shown.megabytesSent)
            shown.megabytesSent = byPercent;
        reporter.progress(shown);
    }

    void cameraAnswered()
    {
        const int port = loader.connectedPort;
        const std::string device = platform::deviceForComPort(port);
        // A --port run's loader numbers its one device COM1: the label the
        // machine gives that device says more.
        const std::string comLabel = named.empty() ? "COM" + std::to_string(port) : label;
        reporter.setPlace(device, comLabel);
        place = (comLabel.empty() ? visibleLine(device) : comLabel + " (" + visibleLine(device) + ")") + " "
                + loader.productName;
        answered = true;
        product = loader.productName;
        const int index = loader.productIndex;
        if (index >= 0 && index < 2)
            version = facts.versions[index];
        updateClock.start();
        reporter.event("banner", {{"product", loader.productName}});
        // The station counts this camera, and stops this process only once
        // its update has ended.
        if (!options.stationFile.empty())
            if (std::FILE *note = std::fopen(options.stationFile.c_str(), "wb"))
                std::fclose(note);
        if (options.dryRun) {
            later(0.0, [this, index] { dryRunAnswer(index); });  // after the banner's own log line
            return;
        }
        if (options.timeoutSeconds > 0)
            later(options.timeoutSeconds, [this] { timedOut(); });
    }

    // A dry run: the camera has named its product; what would go out is
    // said, and the run ends before anything does.
    void dryRunAnswer(int index)
    {
        if (index < 0 || index > 1) {
            end(kExitUnknownProduct, "a camera answered whose product this package has no image for");
            return;
        }
        char text[256];
        std::snprintf(text, sizeof text,
                      "dry run: %s would get image %d of the package: version %s, %lld bytes, checksum %s; "
                      "nothing was sent",
                      place.c_str(), index, version.c_str(), static_cast<long long>(loader.packageSizes[index]),
                      hex8(facts.checksums[index]).c_str());
        reporter.say(text);
        reporter.event("dry_run", {{"product", loader.productName},
                                   {"image", index},
                                   {"version", version},
                                   {"size", static_cast<long long>(loader.packageSizes[index])},
                                   {"checksum", hex8(facts.checksums[index])}});
        end(kExitWritten, "dry run: nothing was sent");
    }

    void timedOut()
    {
        if (ending)
            return;
        char text[256];
        std::snprintf(text, sizeof text, "the update outlasted --timeout %g s", options.timeoutSeconds);
        std::string why = text;
        if (imageInCamera())
            why += "; the camera holds the whole image and may be writing its flash: keep it powered until it "
                   "restarts";
        end(kExitTimeout, why);
    }

    // Each step the camera reports, as the loader took it from the line
    // it has just logged (the LEDs show only the latest of a second).
    void followSteps()
    {
        static const char *const kSteps[] = {"", "erasing", "programming", "written"};
        static const MessageId kTexts[] = {MSG_OK, MSG_ERASING, MSG_PROGRAMMING, MSG_SUCCESS};
        while (stepShown < loader.reportedStep && stepShown < kStepWritten) {
            ++stepShown;
            reporter.event("step", {{"step", kSteps[stepShown]},
                                    {"text", trimmed(Msg(kTexts[stepShown], loader.language))}});
        }
    }

    // The header event once the loader has sent it whole; the end once the
    // loader has decided how the update ended.
    void judge()
    {
        if (!transferring && loader.headerSent) {
            transferring = true;
            const int index = loader.productIndex;
            const uint32_t size = static_cast<uint32_t>(loader.imageSize.load());
            const uint32_t checksum = static_cast<uint32_t>(loader.imageChecksum);
            char header[17];
            FormatEnteteCamera(header, size, checksum);
            headerSize = size;
            headerChecksum = hex8(checksum);
            reporter.event("header", {{"product", loader.productName},
                                      {"version", index >= 0 && index < 2 ? facts.versions[index] : ""},
                                      {"size", static_cast<long long>(size)},
                                      {"checksum", headerChecksum},
                                      {"text", header}});
        }
        switch (IssueMiseAJour()) {
        case UpdateOutcome::Success:
            end(kExitWritten, trimmed(Msg(MSG_SUCCESS, loader.language)));
            break;
        case UpdateOutcome::CameraError:
            end(kExitFailed, "the camera answered ERROR");
            break;
        case UpdateOutcome::Disconnected:
            end(kExitDisconnected, trimmed(Msg(MSG_CAMERA_DISCONNECTED, loader.language)));
            break;
        case UpdateOutcome::PackageRefused:
            end(kExitRefused, "the image could not be read from the package as it was at start-up: nothing was sent");
            break;
        case UpdateOutcome::SendFailed:
            // A camera pulled mid-stream fails the worker's write before the
            // hang-up is seen: a disconnection or the camera's ERROR decided
            // within the grace is the truer reason.
            if (!abortPending) {
                abortPending = true;
                later(kAbortGraceSeconds, [this] {
                    if (IssueMiseAJour() == UpdateOutcome::SendFailed)
                        end(kExitFailed, trimmed(Msg(MSG_ABORTED, loader.language)));
                });
            }
            break;
        case UpdateOutcome::None:
        case UpdateOutcome::Stopped:         // only ours: end() pressed Stop
        case UpdateOutcome::UnknownProduct:  // answerPopup decides
            break;
        }
    }

    // Ends the run as the operator would: Stop (where the panel still offers
    // it), then the program's end. Later when called from inside a panel
    // call, so that the loader finishes what it was doing first.
    void end(int code, const std::string &why)
    {
        if (ending)
            return;
        ending = true;
        exitCode = code;
        reason = why;
        later(0.0, [this] {
            // The Stop button returns once the worker has left after its
            // block and the port is closed: what went out meanwhile is known.
            const long long before = loader.bytesSent;
            const int port = loader.connectedPort;
            if (headless::commitControl(panel, STOP) && port != 0)
                reporter.event("stop", {{"bytes_sent_before", before},
                                        {"bytes_sent_after", static_cast<long long>(loader.bytesSent)},
                                        {"port_open", GetInQLen(port) >= 0}});
            // "WRITE OK" heard before the tick showed it: Stop has ended
            // that update as written, and the camera's verdict stands.
            if (exitCode != kExitWritten && IssueMiseAJour() == UpdateOutcome::Success) {
                exitCode = kExitWritten;
                reason = trimmed(Msg(MSG_SUCCESS, loader.language));
                endingSignal = 0;
            }
            ComHoldWrites(false);
            QuitUserInterface(exitCode);
        });
    }

    const FlashOptions &options;
    Reporter &reporter;
    const std::string label;         // the named device's COM label, "" when none
    const PackageFacts &facts;
    std::vector<int> named;          // COM numbers of the --port devices, in their order
    int panel = 0;
    bool ending = false;
    bool transferring = false;
    bool abortPending = false;
    bool answered = false;           // a camera of a known product answered
    int bannerLogged = 0;            // a dry run: log appends since it answered (the banner's is shown)
    bool unknownSeen = false;
    std::string unknownReason;
    static constexpr double kAbortGraceSeconds = 1.5;
    static constexpr double kPortRecheckSeconds = 1.2;  // past the scan's retry of about a second
    int stepShown = kStepNone;
    int exitCode = kExitFailed;
    int endingSignal = 0;
    std::string reason;
    std::string place;
    std::string product;
    std::string version;
    long long headerSize = -1;
    std::string headerChecksum;
    ProgressState progress;
    Stopwatch clock;
    Stopwatch updateClock;
};

} // namespace

int checkPackage(const std::string &packagePath, std::string *reason, uint32_t checksums[2])
{
    loader.packagePath = packagePath;
    if (!PackagePresent()) {
        *reason = packagePath + ": " + Msg(MSG_NO_PACKAGE, loader.language);
        return kExitRefused;
    }
    LectureEntete();
    // Unsigned, untrusted, altered or demo, in a build that trusts a key.
    if (const std::string refusal = RefusPackage(loader.language); !refusal.empty()) {
        *reason = packagePath + ": " + refusal;
        return kExitRefused;
    }
    bool whole = loader.packageHeaderRead != 0;
    // Each image as the loader loads it for its camera (its size selected
    // first, as the banner selects it).
    for (int index = 0; whole && index < 2; ++index) {
        loader.imageSize = loader.packageSizes[index];
        whole = ChecksumFichier(index) == 0;
        checksums[index] = static_cast<uint32_t>(loader.imageChecksum);
    }
    loader.imageSize = 0;
    loader.imageChecksum = 0;
    std::free(loader.imageBuffer.exchange(nullptr));
    if (!whole) {
        *reason = packagePath + ": " + trimmed(Msg(MSG_BAD_IMAGE, loader.language));
        return kExitRefused;
    }
    return 0;
}

namespace {

// The versions as the package's header line writes them ("1.50", not 1.5):
// its first and third fields. Left as they are when the line cannot be read.
void readVersionTexts(const std::string &packagePath, std::string versions[2])
{
    const int handle = OpenRegularFile(packagePath.c_str(), nullptr);
    if (handle < 0)
        return;
    char line[kHeaderWindow];
    const long long length = LireLigneEntete(handle, line);
    CloseFile(handle);
    const std::vector<std::string> fields = ChampsEntete(line, length);
    if (fields.size() >= 3) {
        versions[0] = visibleLine(fields[0]);
        versions[1] = visibleLine(fields[2]);
    }
}

} // namespace

int runUpdate(int argc, char **argv, const FlashOptions &options, const std::string &packagePath,
              const std::string &label, Reporter &reporter, int *signal)
{
    *signal = 0;
    if (!InitRunTime(argc, argv)) {
        reporter.result(kExitFailed, "the run-time could not start", 0.0, "");
        return kExitFailed;
    }
    RegisterCtrlCallback("Transfert", Transfert);
    RegisterPanelCallback("Sortir", Sortir);
    loader.language = 0;
    const int panel = LoadPanel(0, "Quorvel.uir", PANEL);
    if (panel < 0) {
        reporter.result(kExitFailed, "the panel could not be loaded", 0.0, "");
        return kExitFailed;
    }
    loader.panel = panel;
    GetProjectDir(&loader.projectDir);
    std::snprintf(loader.productName, sizeof loader.productName, "%s", "UNKNOWN");
    loader.productIndex = -1;

    std::string refusal;
    PackageFacts facts;
    if (checkPackage(packagePath, &refusal, facts.checksums) != 0) {
        reporter.result(kExitRefused, refusal, 0.0, "");
        DiscardPanel(panel);
        return kExitRefused;
    }
    for (int index = 0; index < 2; ++index) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", loader.packageVersions[index]);
        facts.versions[index] = text;
    }
    readVersionTexts(packagePath, facts.versions);
    facts.demo = PackageIsDemo();  // the signed manifest's kind, read by the package check
    nlohmann::json images = nlohmann::json::array();
    for (int index = 0; index < 2; ++index)
        images.push_back({{"version", facts.versions[index]},
                          {"size", static_cast<long long>(loader.packageSizes[index])},
                          {"checksum", hex8(facts.checksums[index])}});
    reporter.event("package", {{"path", visibleLine(packagePath)}, {"images", images}, {"demo", facts.demo},
                               {"signer", loader.packageSigner},
                               {"kind", loader.packageSigner[0] ? (facts.demo ? "demo" : "release") : ""},
                               {"signature", SignaturesVerifiees() ? "verified" : "not-checked"}});
    // What the window logs at start-up about the trust.
    for (const std::string &ignored : IgnoredKeys()) {
        char line[600];
        std::snprintf(line, sizeof line, Msg(MSG_KEY_IGNORED, loader.language), ignored.c_str());
        reporter.logAppended(line);
    }
    if (!SignaturesVerifiees())
        reporter.logAppended(Msg(MSG_SIGNATURES_NOT_CHECKED, loader.language));
    // Random images would brick a real camera: only on purpose.
    if (facts.demo && !options.allowDemo) {
        reporter.result(kExitRefused,
                        packagePath + ": a demo package (random images, never for a real camera); "
                                      "--allow-demo writes it all the same",
                        0.0, "");
        DiscardPanel(panel);
        return kExitRefused;
    }

    double interval = 0.0;
    GetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, &interval);
    loader.ticksPerSecond = TicksParSeconde(interval);
    SetCtrlVal(panel, LANGU, loader.language);
    DisplayPanel(panel);
    if (options.french)
        headless::clickControl(panel, LANGU);  // the window's language toggle

    Update update(options, reporter, label, facts);
    update.start(panel);
    const int code = RunUserInterface();
    update.detach();
    forgetPendingCalls();

    AbandonPool();
    std::free(loader.imageBuffer.exchange(nullptr));
    DiscardPanel(panel);
    // A station's process that was listening when the station stopped has
    // no camera to tell of.
    if (options.stationChild && update.signal() != 0 && !update.cameraSeen())
        return kExitNoCamera;
    ResultRecord record = update.record();
    record.code = code;
    reporter.result(record);
    *signal = update.signal();
    return code;
}
