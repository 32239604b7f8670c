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

#include "interrupt.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

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

// A call made from the event loop after `seconds` (0: on its next pass),
// outside whatever panel call is running now (and after a popup open now
// has been answered).
void later(double seconds, std::function<void()> call)
{
    auto *kept = new std::function<void()>(std::move(call));
    const int handle = PostDelayedCall(
        seconds, [](void *data) {
            auto *pending = static_cast<std::function<void()> *>(data);
            (*pending)();
            delete pending;
        },
        kept);
    if (handle < 0)
        delete kept;
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

class Update {
public:
    Update(const FlashOptions &options_, Reporter &reporter_) : options(options_), reporter(reporter_) {}

    void start(int panel_)
    {
        panel = panel_;
        clock.start();
        headless::setPopupScript([this](const std::string &title, const std::string &message,
                                        const PopupButtons &buttons) {
            return answerPopup(title, message, buttons);
        });
        headless::setPanelObserver([this](const headless::PanelChange &change) { observe(change); });
        watchInterrupts([this](int) {
            // A second Ctrl-C while Stop has not returned: the operator
            // insists, the system closes the port.
            if (ending && exitCode == kExitInterrupted)
                std::_Exit(kExitInterrupted);
            end(kExitInterrupted, "interrupted: stopped as the Stop button stops");
        });
        if (options.waitSeconds >= 0) {
            later(options.waitSeconds, [this] {
                if (!loader.bootloaderFound) {
                    char reason[96];
                    std::snprintf(reason, sizeof reason, "no camera answered within %g s", options.waitSeconds);
                    end(kExitNoCamera, reason);
                }
            });
        }
        later(0.0, [this] { pressStart(); });
    }

    void detach()
    {
        headless::setPanelObserver(nullptr);
        headless::setPopupScript(nullptr);
    }

    std::string where() const { return place; }
    double elapsed() const { return updateClock.isValid() ? updateClock.seconds() : clock.seconds(); }
    std::string why() const { return reason; }

private:
    void pressStart()
    {
        if (!ending && !headless::clickControl(panel, GO))
            end(kExitFailed, "the Start button could not be pressed");
    }

    // Ok to every popup: the instructions (the operator has the camera in its
    // bootloader), and the unknown product's error, after which the scan
    // starts again for the next camera.
    int answerPopup(const std::string &title, const std::string &message, const PopupButtons &buttons)
    {
        const bool instructions = message == Msg(MSG_INSTRUCTIONS, loader.language)
                                  || message == Msg(MSG_INSTRUCTIONS_LINUX, loader.language);
        if (!instructions)
            reporter.popupShown(title, message);
        if (message == Msg(MSG_UNKNOWN_PRODUCT, loader.language) && !ending)
            later(0.0, [this] { pressStart(); });
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
        const double byPercent = total * shown.percent / 100.0;
        if (byPercent > shown.megabytesSent)
            shown.megabytesSent = byPercent;
        reporter.progress(shown);
    }

    void cameraAnswered()
    {
        const int port = loader.connectedPort;
        const std::string device = platform::deviceForComPort(port);
        place = "COM" + std::to_string(port) + " (" + visibleLine(device) + ") " + loader.productName;
        updateClock.start();
        reporter.event("banner", {{"port", "COM" + std::to_string(port)},
                                  {"device", visibleLine(device)},
                                  {"product", loader.productName}});
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
            reporter.event("header", {{"product", loader.productName},
                                      {"version", index >= 0 ? loader.packageVersions[index] : 0.0},
                                      {"size", static_cast<long long>(size)},
                                      {"checksum", hex8(checksum)},
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
        case UpdateOutcome::UnknownProduct:  // the popup's Ok starts the scan again
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
            QuitUserInterface(exitCode);
        });
    }

    const FlashOptions &options;
    Reporter &reporter;
    int panel = 0;
    bool ending = false;
    bool transferring = false;
    bool abortPending = false;
    static constexpr double kAbortGraceSeconds = 1.5;
    int stepShown = kStepNone;
    int exitCode = kExitFailed;
    std::string reason;
    std::string place;
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

int runUpdate(int argc, char **argv, const FlashOptions &options, const std::string &packagePath,
              Reporter &reporter)
{
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
    uint32_t checksums[2] = {0, 0};
    if (checkPackage(packagePath, &refusal, checksums) != 0) {
        reporter.result(kExitRefused, refusal, 0.0, "");
        DiscardPanel(panel);
        return kExitRefused;
    }
    nlohmann::json images = nlohmann::json::array();
    for (int index = 0; index < 2; ++index)
        images.push_back({{"version", loader.packageVersions[index]},
                          {"size", static_cast<long long>(loader.packageSizes[index])},
                          {"checksum", hex8(checksums[index])}});
    reporter.event("package", {{"path", visibleLine(packagePath)}, {"images", images},
                               {"signer", loader.packageSigner},
                               {"kind", loader.packageSigner[0] ? (PackageIsDemo() ? "demo" : "release") : ""},
                               {"signature", SignaturesVerifiees() ? "verified" : "not-checked"}});
    // What the window logs at start-up about the trust.
    for (const std::string &ignored : IgnoredKeys()) {
        char line[600];
        std::snprintf(line, sizeof line, Msg(MSG_KEY_IGNORED, loader.language), ignored.c_str());
        reporter.logAppended(line);
    }
    if (!SignaturesVerifiees())
        reporter.logAppended(Msg(MSG_SIGNATURES_NOT_CHECKED, loader.language));

    double interval = 0.0;
    GetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, &interval);
    loader.ticksPerSecond = TicksParSeconde(interval);
    SetCtrlVal(panel, LANGU, loader.language);
    DisplayPanel(panel);
    if (options.french)
        headless::clickControl(panel, LANGU);  // the window's language toggle

    Update update(options, reporter);
    update.start(panel);
    const int code = RunUserInterface();
    update.detach();

    AbandonPool();
    std::free(loader.imageBuffer.exchange(nullptr));
    DiscardPanel(panel);
    reporter.result(code, update.why(), update.elapsed(), update.where(), loader.bytesSent.load());
    return code;
}
