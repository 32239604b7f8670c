// Fuzz target: the receive path. Arbitrary sequences of what three cameras
// on COM1..COM3 may say, with cables pulled and plugged back, writes cut
// short or failing, the operator's Start (Ok or Cancel), Stop and the
// window's close, time passing and the worker going block by block, run
// through the real dialogue, update control and worker, on the window-less
// panel, the manual event loop and the in-memory ports: everything runs
// synchronously, nothing waits for a real clock.
//
// This file drives the program and tells the oracle (receive_oracle.h)
// each event and what it observes: the outcome the loader decided, its
// progress steps, the ports' state, the wire and the log. The oracle judges
// from its own model of the dialogue and shares nothing with the loader.
//
// Input: a first byte choosing the package, then records of one operation
// byte and its arguments. op % 3 is the port (COM1..COM3), op / 3 % 16 the
// operation (see the switch in LLVMFuzzerTestOneInput). The camera's words
// never hold '!' or ':' (they become '.' and ';'), so that a chunk cannot
// pass for one of the program's own log lines.
#include "collecte.h"
#include "control.h"
#include "loader_state.h"
#include "package.h"
#include "panel_headless.h"
#include "platform.h"
#include "serial_memory.h"
#include "manual_loop.h"
#include "outcome.h"
#include "receive_oracle.h"
#include "startup.h"
#include "ui_constants.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPorts = oracle::kPorts;

[[noreturn]] void fail(const char *what, int port)
{
    std::fprintf(stderr, "receive fuzz: %s (COM%d)\n", what, port);
    std::abort();
}

std::size_t packageChosen = SIZE_MAX;
bool plugged[kPorts + 1];      // a device is behind the port
int popupAnswer = 1;           // the instructions popup's answer
bool instructionsDue = false;  // the next popup is Start's instructions
bool instructionsAnswered = false;  // it came and was answered Ok

void onWrite(int port, const MemoryWrite &write)
{
    oracle::OnWrite(port, write.bytes, write.writer);
}

void onPanelChange(const platform::headless::PanelChange &change)
{
    using Kind = platform::headless::PanelChangeKind;
    if (change.kind == Kind::Announced) {
        oracle::OnAnnounced(std::get<std::string>(change.value));
        return;
    }
    if (change.control != TEXTBOX)
        return;
    if (change.kind == Kind::LogReplaced)
        oracle::OnLogReplaced();
    else if (change.kind == Kind::LogAppended)
        oracle::OnLogAppended(std::get<std::string>(change.value));
}

int popupScript(const std::string &, const std::string &, const platform::PopupButtons &)
{
    const int answer = popupAnswer;
    popupAnswer = 1;  // any later popup: Ok
    if (instructionsDue && answer == 1)
        instructionsAnswered = true;
    instructionsDue = false;
    return answer;
}

bool portOpen(int port)
{
    return GetInQLen(port) != kComNotOpen;
}

oracle::Outcome outcomeNow()
{
    switch (IssueMiseAJour()) {
    case UpdateOutcome::None: return oracle::Outcome::None;
    case UpdateOutcome::Success: return oracle::Outcome::Success;
    case UpdateOutcome::CameraError: return oracle::Outcome::CameraError;
    case UpdateOutcome::Disconnected: return oracle::Outcome::Disconnected;
    case UpdateOutcome::Stopped: return oracle::Outcome::Stopped;
    case UpdateOutcome::PackageRefused: return oracle::Outcome::PackageRefused;
    case UpdateOutcome::UnknownProduct: return oracle::Outcome::UnknownProduct;
    case UpdateOutcome::SendFailed: return oracle::Outcome::SendFailed;
    }
    fail("an outcome the oracle does not know", 0);
}

void checkNow()
{
    oracle::Observed seen{};
    seen.outcome = outcomeNow();
    seen.reportedStep = loader.reportedStep;
    seen.displayedStep = loader.displayedStep;
    seen.workers = ManualLoopWorkersRunning();
    seen.cameraConnected = loader.connectedPort != 0;
    for (int port = 1; port <= kPorts; ++port)
        seen.portOpen[port] = portOpen(port);
    oracle::Check(ManualLoopNow(), seen);
}

// ---------------------------------------------------------------------------
// Driving the program.

// Lets time pass until every port's bytes are gathered and handled.
void settleChunks()
{
    ManualLoopRunDue();
    for (int guard = 0; guard < 100000; ++guard) {
        bool busy = MemorySerialCallbacksPending() > 0;
        for (int port = 1; port <= kPorts && !busy; ++port)
            busy = GetInQLen(port) > 0 || CollecteEnCours(port);
        if (!busy)
            return;
        if (!ManualLoopAdvanceToNextTimer())
            return;  // bytes nobody listens to any more
    }
    fail("the chunks never came to rest", 0);
}

// Lets the worker go to its end and every chunk be handled.
void settleAll()
{
    for (int guard = 0; guard < 1000; ++guard) {
        settleChunks();
        checkNow();
        if (!loader.workerRunning && ManualLoopWorkersRunning() == 0)
            return;
        if (!ManualLoopStepWorker())
            fail("the worker never arrived", loader.connectedPort);
        ManualLoopRunDue();
        checkNow();
    }
    fail("the worker never came to rest", loader.connectedPort);
}

void said(int port, std::string bytes, bool settle)
{
    for (char &c : bytes)
        c = c == '!' ? '.' : c == ':' ? ';' : c;
    if (GetInQLen(port) >= 0)  // else nobody listens: the bytes are lost
        oracle::Received(port, bytes, ManualLoopNow());
    MemoryPortFeed(port, bytes);
    ManualLoopRunDue();  // the line's watch fires at once
    if (settle)
        settleChunks();
}

// A word said alone: gathered as a chunk of its own.
void saidAlone(int port, const std::string &word)
{
    settleChunks();
    checkNow();
    const bool heard = GetInQLen(port) == 0 && !CollecteEnCours(port);
    said(port, word + "\r\n", true);
    if (heard && word == "ERROR")
        oracle::ErrorSaidAlone();
}

void pressOk(int answer)
{
    popupAnswer = answer;
    instructionsDue = true;
    instructionsAnswered = false;
    platform::headless::clickControl(loader.panel, GO);
    instructionsDue = false;
    popupAnswer = 1;
    if (instructionsAnswered)
        oracle::Ok(ManualLoopNow());
}

void hangUp(int port)
{
    if (GetInQLen(port) >= 0)  // open and working: the program hears it
        oracle::HangUp(port, ManualLoopNow());
    MemoryPortUnplug(port);
    ManualLoopRunDue();
}

void setUp()
{
    static char name[] = "quorvel-fuzz";
    static char *argv[] = {name, nullptr};
    UseHeadlessPanel();
    UseManualLoop(true);
    if (!InitRunTime(1, argv))
        fail("the run-time did not start", 0);
    RegisterCtrlCallback("Transfert", Transfert);
    RegisterPanelCallback("Sortir", Sortir);
    loader.panel = LoadPanel(0, "Quorvel.uir", PANEL);
    if (loader.panel <= 0)
        fail("the panel did not load", 0);
    DisplayPanel(loader.panel);
    double interval = 0.0;
    GetCtrlAttribute(loader.panel, TIMER, ATTR_INTERVAL, &interval);
    loader.ticksPerSecond = TicksParSeconde(interval);
    platform::headless::setPopupScript(popupScript);
    platform::headless::setPanelObserver(onPanelChange);
    oracle::BuildPackages();
    UseMemorySerial(true);
    MemorySerialObserveWrites(onWrite);
}

void startInput(int packageChoice)
{
    ResetLoaderState(LoaderReset::Scan);
    oracle::StartInput();
    // Every port was closed at the end of the last input: a fresh device
    // behind each of ours (what was written and read forgotten), taking
    // every byte. The other numbers never had one.
    for (int port = 1; port <= kPorts; ++port) {
        MemoryPortUnplug(port);
        MemoryPortPlug(port);
        plugged[port] = true;
        ComInjectShortWrite(port, -1);
    }
    ManualLoopRunDue();
    const std::size_t chosen = static_cast<std::size_t>(packageChoice) % oracle::PackageCount();
    oracle::UsePackage(chosen);
    if (chosen != packageChosen) {  // the header as start-up reads it, once per package
        packageChosen = chosen;
        loader.packagePath = oracle::PackagePath(chosen);
        LectureEntete();
    }
    EtatRepos(loader.panel);
    pressOk(1);
    checkNow();
}

// The end of an input: the worker and the chunks come to rest, an image
// nothing ended is whole, then Stop closes everything.
void endInput(bool closed)
{
    settleAll();
    oracle::CheckRest();
    if (!closed) {
        oracle::Stopping();
        Transfert(loader.panel, STOP, EVENT_COMMIT, nullptr, 0, 0);
        oracle::Stop(ManualLoopNow());
        settleAll();
    }
    ResetLoaderState(LoaderReset::Scan);
    if (oracle::tracing)
        std::fprintf(stderr, "end of input: %d timers, clock %.3f s\n", ManualLoopTimers(),
                     ManualLoopNow());
    // Nothing of this input may run during the next.
    for (int port = 1; port <= kPorts; ++port)
        if (portOpen(port))
            fail("a port left open after Stop", port);
}

const char *const kWords[] = {
    "Bootloader v2.10 - RZ4417", "Bootloader v3.0 KWT6083", "Bootloader v1.0 - XX9999",
    "START OK", "FILE OK", "ERASE OK", "WRITE OK", "ERROR", "bootloader V2 rz4417 kwt6083",
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool ready = (setUp(), true);
    (void)ready;
    if (size == 0)
        return 0;
    size_t i = 1;
    auto next = [&]() -> int { return i < size ? data[i++] : 0; };
    startInput(data[0]);

    bool closed = false;
    while (i < size && !closed) {
        const int op = next();
        const int port = op % kPorts + 1;
        switch (op / kPorts % 16) {
        case 0:  // the camera says the next LEN bytes, gathered
        case 1:  // the same, left to arrive while other things happen
        case 2: {  // LEN*20 bytes: the next LEN bytes repeated (up to 5100: past a chunk's limit)
            const int action = op / kPorts % 16;
            const int length = next();
            std::string bytes(reinterpret_cast<const char *>(data + i),
                              std::min<size_t>(static_cast<size_t>(length), size - i));
            i += bytes.size();
            if (action == 2 && !bytes.empty()) {
                std::string repeated;
                while (repeated.size() < static_cast<size_t>(length) * 20)
                    repeated += bytes;
                bytes = repeated;
            }
            said(port, bytes, action != 1);
            break;
        }
        case 3:  // one of the words the camera knows, alone
            saidAlone(port, kWords[static_cast<size_t>(next()) % (sizeof kWords / sizeof *kWords)]);
            break;
        case 4:  // the cable is pulled
            hangUp(port);
            plugged[port] = false;
            break;
        case 5:  // the cable is plugged back: a fresh device
            if (!plugged[port]) {
                MemoryPortPlug(port);
                plugged[port] = true;
                oracle::Plugged(port);
            }
            break;
        case 6: {  // the cable takes only LEN*8 more bytes
            const int bytes = next() * 8;
            MemoryPortWriteBudget(port, bytes);
            oracle::CableBudget(port, bytes);
            break;
        }
        case 7: {  // every write cut to LEN % 24 bytes (0: writes fail)
            const int limit = next() % 24;
            ComInjectShortWrite(port, limit);
            oracle::CableLimit(port, limit);
            break;
        }
        case 8:  // Start, and Ok
            pressOk(1);
            break;
        case 9:  // Start, and Cancel
            pressOk(2);
            break;
        case 10:  // Stop
            oracle::Stopping();
            if (platform::headless::clickControl(loader.panel, STOP))
                oracle::Stop(ManualLoopNow());
            break;
        case 11:  // the window's close: the program ends
            oracle::Stopping();
            platform::headless::closePanel(loader.panel);
            oracle::Stop(ManualLoopNow());
            closed = true;
            break;
        case 12:  // LEN ms pass
            ManualLoopAdvance(next() / 1000.0);
            break;
        case 13:  // LEN * 20 ms pass (up to 5.1 s): ticks, the port watch, the silence warning
            ManualLoopAdvance(next() * 0.02);
            break;
        case 14: {  // the worker sends 1 to 4 blocks
            const int blocks = next() % 4 + 1;
            for (int b = 0; b < blocks && ManualLoopWorkersRunning() + loader.workerRunning > 0; ++b)
                if (!ManualLoopStepWorker())
                    fail("the worker never arrived", loader.connectedPort);
            break;
        }
        default:  // everything comes to rest
            settleAll();
            break;
        }
        ManualLoopRunDue();
        checkNow();
    }
    endInput(closed);
    return 0;
}
