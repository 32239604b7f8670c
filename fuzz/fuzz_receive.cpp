// Fuzz target: the receive path. Arbitrary sequences of what three cameras
// on COM1..COM3 may say, with cables pulled and plugged back, writes cut
// short or failing, the operator's Start (Ok or Cancel), Stop and the
// window's close, time passing and the worker going block by block, run
// through the real dialogue, update control and worker, on the window-less
// panel, the manual event loop and the in-memory ports: everything runs
// synchronously, nothing waits for a real clock.
//
// An oracle of its own checks after every event. It shares no code and no
// limit with the loader: it builds the packages itself, and its verdicts
// rest on what crosses the wire, the ports' state and the log. Of the
// loader it reads only whether a chunk is still being gathered and a worker
// expected (to know when all has come to rest) and, for the worker check,
// whether a camera is connected.
//
//   - nothing but "START" goes to a port until its camera has named a
//     product in a banner, and one START at most per Ok;
//   - after a START, only once the camera said "START OK", one 16-byte
//     header with the size and checksum of the product's image (as the
//     oracle built the package), then exactly that image in order; none at
//     all when the package could not give that image whole; the image ends
//     early only after "ERROR", "WRITE OK", Stop, the close, a hang-up or a
//     write the cable cut short;
//   - "Operation successful!" only after some camera said "WRITE OK" since
//     the Ok; a "WRITE OK" followed by the cable pulled still ends in
//     success; no failure is logged after success;
//   - a screen reader is told of success only once it is logged, and of no
//     failure after it;
//   - never two workers, never a worker without a camera connected; after
//     a lone "ERROR" or Stop at most one more block goes out;
//   - no chunk over 4999 bytes;
//   - after Stop, success or a camera lost no port is open, and none opens
//     before the next Ok.
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

constexpr int kPorts = 3;
constexpr std::size_t kChunkLimit = 4999;
constexpr std::size_t kBlock = 512;
constexpr const char *kProductNames[2] = {"RZ4417", "KWT6083"};  // image 0, image 1

const std::string kSuccess = "Operation successful!\n";
// What a screen reader is told when an update ends well; and the texts of
// the ends that are failures.
const std::string kToldSuccess = "Update finished: operation successful.";
const std::string kToldFailures[] = {
    "The camera answered ERROR: the update has failed. Press Stop.",
    "The camera was disconnected: update stopped.",
    "Update stopped.",
    "Update refused: the firmware package could not be used, nothing was sent.",
    "Update refused: this product is unknown.",
    "Update aborted: the image could not be sent to the camera.",
};
const std::string kDisconnected = "\nThe camera was disconnected: update stopped.\n";
const std::string kAborted = "\nTransfer aborted!\n";

[[noreturn]] void fail(const char *what, int port)
{
    std::fprintf(stderr, "receive fuzz: %s (COM%d)\n", what, port);
    std::abort();
}

// ---------------------------------------------------------------------------
// The package family, built here: the oracle knows what each holds.

std::string images[2];  // no byte is 'S', so a START stands out on the wire
std::string headers[2];  // the 16-byte header each image must be announced with

struct Package {
    std::string path;
    bool whole[2];  // the image can be read whole for its camera
};
std::vector<Package> packages;

std::string upper(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\0')
            out += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    return out;
}

void buildPackages()
{
    for (int k = 0; k < 2; ++k) {
        const int size = k == 0 ? 700 : 1024;  // a short last block; whole blocks
        uint32_t sum = 0;
        for (int i = 0; i < size; ++i) {
            char c = static_cast<char>((i * 37 + k * 11) % 251);
            if (c == 'S')
                c = 'T';
            images[k] += c;
            sum += static_cast<unsigned char>(c);
        }
        char header[17];
        std::snprintf(header, sizeof header, "%08X%08X", static_cast<unsigned>(size), ~sum);
        headers[k] = header;
    }
    const std::string dir = "/tmp/quorvel-fuzz-receive-" + std::to_string(::getpid());
    ::mkdir(dir.c_str(), 0700);
    const std::string both = images[0] + images[1];
    struct Made {
        std::string name, header, body;
        bool whole0, whole1;
    };
    const std::vector<Made> made = {
        {"good", "1.5 700 2.05 1024\n", both, true, true},
        {"long-numbers", "+0001.50000000000000000000000000000 " + std::string(70, '0') + "700\t2.05e0 "
                             + std::string(60, '0') + "1024\r\n", both, true, true},
        {"long-version", "1." + std::string(3990, '5') + " 700 2.05 1024\n", both, true, true},
        {"image-short", "1.5 700 2.05 1024\n", images[0] + images[1].substr(0, 500), true, false},
        {"size-beyond-32-bits", "1.5 4294967996 2.05 1024\n", both, false, false},
        {"letters-glued", "1.5 700kb 2.05 1024\n", both, false, false},
        {"no-line-end-in-window", "1.5 700 2.05 1024" + std::string(5000, ' ') + "\n", both, false,
         false},
        {"negative-size", "1.5 -700 2.05 1024\n", both, false, false},
    };
    for (const Made &m : made) {
        const std::string path = dir + "/" + m.name + ".kq";
        std::FILE *f = std::fopen(path.c_str(), "wb");
        if (!f)
            fail("cannot write a package", 0);
        std::fwrite(m.header.data(), 1, m.header.size(), f);
        std::fwrite(m.body.data(), 1, m.body.size(), f);
        std::fclose(f);
        packages.push_back({path, {m.whole0, m.whole1}});
    }
    packages.push_back({dir + "/missing.kq", {false, false}});  // unreadable: not there
    packages.push_back({dir, {false, false}});                   // a folder, no file
}

// ---------------------------------------------------------------------------
// The oracle's record.

enum class Phase { Idle, AwaitHeader, Streaming, Ended };

struct Wire {
    Phase phase = Phase::Idle;
    std::string heardSinceOk;     // what the camera said since the last Ok, upper-cased
    int image = -1;
    std::size_t sent = 0;         // image bytes on the wire after the header
    int writer = 0;
    std::size_t allowedAfter = SIZE_MAX;  // image bytes still allowed: set by a lone ERROR or Stop
    bool mayEndEarly = false;     // an ERROR, WRITE OK, Stop, close, hang-up or cut write came
    bool cutShort = false;        // the cable may cut writes (budget or limit set)
    bool limitSet = false;        // writes cut to a length: stays across a plug
    bool plugged = true;
    std::size_t readsChecked = 0;  // callback reads already checked but the last
    bool readsMayGrow = true;     // bytes were fed or still wait since the last check
};

Wire wires[kPorts + 1];
const Package *package = nullptr;
int startsSinceOk = 0;
std::string heardSinceOk;      // every port, since the last Ok (one update at most)
bool successLogged = false;    // since the log was last replaced
bool closedUntilOk = false;
int popupAnswer = 1;           // the instructions popup's answer
bool instructionsDue = false;  // the next popup is Start's instructions
bool writeOkAlone = false;     // the last thing any camera said was a lone, gathered "WRITE OK"

bool productNamed(const Wire &w, int image)
{
    return w.heardSinceOk.find("BOOTLOADER V") != std::string::npos
           && w.heardSinceOk.find(kProductNames[image]) != std::string::npos;
}

// QUORVEL_FUZZ_TRACE=1 prints the wire and the log as they go, to read a finding.
const bool tracing = std::getenv("QUORVEL_FUZZ_TRACE") != nullptr;

void onWrite(int port, const MemoryWrite &write)
{
    if (tracing)
        std::fprintf(stderr, "COM%d <- %zu bytes \"%.16s\" (writer %d)\n", port, write.bytes.size(),
                     write.bytes.c_str(), write.writer);
    Wire &w = wires[port];
    const std::string &bytes = write.bytes;
    if (w.phase == Phase::Streaming && bytes == "START") {
        if (!w.mayEndEarly)
            fail("a START in the middle of an image", port);
        w.phase = Phase::Ended;
    }
    switch (w.phase) {
    case Phase::Idle:
    case Phase::Ended:
        if (std::string("START").compare(0, bytes.size(), bytes) != 0)
            fail("something other than START before a product is known", port);
        if (bytes.size() < 5 && !w.cutShort)
            fail("a START cut short by the program", port);
        if (!productNamed(w, 0) && !productNamed(w, 1))
            fail("a START to a port whose camera named no product", port);
        if (++startsSinceOk > 1)
            fail("two STARTs for one Ok", port);
        w.phase = Phase::AwaitHeader;
        return;
    case Phase::AwaitHeader: {
        // (Said since the Ok: bytes said before the START may still wait
        // in the queue when it goes out, and are read after it.)
        if (w.heardSinceOk.find("START OK") == std::string::npos)
            fail("a header before the camera said START OK", port);
        int image = -1;
        for (int k = 0; k < 2; ++k)
            if (bytes.size() <= 16 && headers[k].compare(0, bytes.size(), bytes) == 0
                && package->whole[k] && productNamed(w, k))
                image = k;
        if (image < 0)
            fail("a header that announces no image this camera can be given", port);
        if (bytes.size() < 16) {
            if (!w.cutShort)
                fail("a header cut short by the program", port);
            w.phase = Phase::Ended;  // nothing may follow a cut header
            return;
        }
        w.phase = Phase::Streaming;
        w.image = image;
        w.sent = 0;
        w.writer = 0;
        w.allowedAfter = SIZE_MAX;
        w.mayEndEarly = w.cutShort;
        return;
    }
    case Phase::Streaming: {
        if (w.writer == 0)
            w.writer = write.writer;
        else if (w.writer != write.writer)
            fail("two workers wrote one image", port);
        const std::string &image = images[w.image];
        if (w.sent + bytes.size() > image.size() || image.compare(w.sent, bytes.size(), bytes) != 0)
            fail("image bytes out of order", port);
        w.sent += bytes.size();
        if (w.allowedAfter != SIZE_MAX && w.sent > w.allowedAfter + kBlock)
            fail("more than one block after ERROR or Stop", port);
        if (w.sent == image.size())
            w.phase = Phase::Ended;
        return;
    }
    }
}

void onPanelChange(const platform::headless::PanelChange &change)
{
    using Kind = platform::headless::PanelChangeKind;
    if (change.kind == Kind::Announced) {
        const std::string &told = std::get<std::string>(change.value);
        if (tracing)
            std::fprintf(stderr, "told: %s\n", told.c_str());
        if (told == kToldSuccess && !successLogged)
            fail("a screen reader told of success that the log does not show", 0);
        if (successLogged && std::find(std::begin(kToldFailures), std::end(kToldFailures), told) != std::end(kToldFailures))
            fail("a screen reader told of a failure after success", 0);
        return;
    }
    if (change.control != TEXTBOX)
        return;
    if (change.kind == Kind::LogReplaced) {
        successLogged = false;
        return;
    }
    if (change.kind != Kind::LogAppended)
        return;
    const std::string &text = std::get<std::string>(change.value);
    if (tracing)
        std::fprintf(stderr, "log: %s\n", text.c_str());
    if (text == kSuccess) {
        if (heardSinceOk.find("WRITE OK") == std::string::npos)
            fail("success reported before any camera said WRITE OK", 0);
        successLogged = true;
        closedUntilOk = true;
    } else if (text == kDisconnected || text == kAborted) {
        if (successLogged)
            fail("a failure reported after success", 0);
        if (text == kDisconnected)
            closedUntilOk = true;
    }
}

// The operator's Ok starts the oracle's record afresh: the ports are
// opened (and their input dropped) right after it.
int popupScript(const std::string &, const std::string &, const platform::PopupButtons &)
{
    const int answer = popupAnswer;
    popupAnswer = 1;  // any later popup: Ok
    if (instructionsDue && answer == 1) {
        startsSinceOk = 0;
        closedUntilOk = false;
        heardSinceOk.clear();
        for (Wire &w : wires) {
            w.heardSinceOk.clear();
            w.phase = Phase::Idle;
        }
    }
    instructionsDue = false;
    return answer;
}

bool portOpen(int port)
{
    return GetInQLen(port) != kComNotOpen;
}

void checkNow()
{
    const int workers = ManualLoopWorkersRunning();
    if (workers > 1)
        fail("two workers at once", 0);
    if (workers == 1 && loader.connectedPort == 0)
        fail("a worker with no camera connected", 0);
    for (int port = 1; port <= kPorts; ++port) {
        Wire &w = wires[port];
        if (closedUntilOk && portOpen(port))
            fail("a port open after Stop or the end of an update, before the next Ok", port);
        if (!w.readsMayGrow)
            continue;  // nothing fed, nothing waiting: no chunk can have grown
        w.readsMayGrow = MemoryPortWaiting(port) > 0;
        const std::size_t count = MemoryPortCallbackReadCount(port);
        if (count == 0)
            continue;
        const std::size_t from = std::min(w.readsChecked, count - 1);
        for (const std::string &read : MemoryPortCallbackReads(port, from))
            if (static_cast<std::size_t>(std::count_if(read.begin(), read.end(),
                                                       [](char c) { return c != '\0'; }))
                > kChunkLimit)
                fail("a chunk of more than 4999 bytes", port);
        w.readsChecked = count - 1;
    }
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
    Wire &w = wires[port];
    if (GetInQLen(port) >= 0) {  // else nobody listens: the bytes are lost
        const std::string heard = upper(bytes);
        w.heardSinceOk += heard;
        heardSinceOk += heard;
    }
    writeOkAlone = false;
    w.readsMayGrow = true;
    MemoryPortFeed(port, bytes);
    if (settle)
        settleChunks();
}

// A word said alone: gathered as a chunk of its own.
void saidAlone(int port, const std::string &word)
{
    settleChunks();
    const bool heard = GetInQLen(port) == 0 && !CollecteEnCours(port);
    said(port, word + "\r\n", true);
    if (!heard)
        return;
    if (word == "ERROR")
        for (Wire &w : wires)
            if (w.phase == Phase::Streaming)
                w.allowedAfter = std::min(w.allowedAfter, w.sent);
    writeOkAlone = word == "WRITE OK";
}

void pressOk(int answer)
{
    popupAnswer = answer;
    instructionsDue = true;
    platform::headless::clickControl(loader.panel, GO);
    instructionsDue = false;
    popupAnswer = 1;
}

void stopped()
{
    for (Wire &w : wires) {
        w.mayEndEarly = true;
        if (w.phase == Phase::Streaming)
            w.allowedAfter = std::min(w.allowedAfter, w.sent);
    }
}

void hangUp(int port)
{
    Wire &w = wires[port];
    w.mayEndEarly = true;
    w.plugged = false;
    // The connected camera hangs up right after a lone WRITE OK: the update
    // has succeeded all the same.
    const bool expectSuccess = writeOkAlone && portOpen(port) && w.phase != Phase::Idle;
    MemoryPortUnplug(port);
    ManualLoopRunDue();
    if (expectSuccess && !successLogged)
        fail("WRITE OK then the cable pulled, and no success", port);
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
    buildPackages();
    UseMemorySerial(true);
    MemorySerialObserveWrites(onWrite);
}

void startInput(int packageChoice)
{
    ResetLoaderState(LoaderReset::Scan);
    // Every port was closed at the end of the last input: a fresh device
    // behind each of ours (what was written and read forgotten), taking
    // every byte. The other numbers never had one.
    for (int port = 1; port <= kPorts; ++port) {
        wires[port] = Wire();
        MemoryPortUnplug(port);
        MemoryPortPlug(port);
        ComInjectShortWrite(port, -1);
    }
    ManualLoopRunDue();
    const Package *chosen = &packages[static_cast<std::size_t>(packageChoice) % packages.size()];
    if (chosen != package) {  // the header as start-up reads it, once per package
        package = chosen;
        loader.packagePath = package->path;
        LectureEntete();
    }
    heardSinceOk.clear();
    successLogged = false;
    closedUntilOk = false;
    writeOkAlone = false;
    EtatRepos(loader.panel);
    pressOk(1);
    checkNow();
}

// The end of an input: the worker and the chunks come to rest, an image
// nothing ended is whole, then Stop closes everything.
void endInput(bool closed)
{
    settleAll();
    const bool told = heardSinceOk.find("ERROR") != std::string::npos
                      || heardSinceOk.find("WRITE OK") != std::string::npos;
    for (int port = 1; port <= kPorts; ++port)
        if (wires[port].phase == Phase::Streaming && !wires[port].mayEndEarly && !told)
            fail("the image stopped short with nothing to end it", port);
    if (!closed) {
        Transfert(loader.panel, STOP, EVENT_COMMIT, nullptr, 0, 0);
        closedUntilOk = true;
        settleAll();
    }
    ResetLoaderState(LoaderReset::Scan);
    if (tracing)
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
            break;
        case 5:  // the cable is plugged back: a fresh device
            if (!wires[port].plugged) {
                MemoryPortPlug(port);
                wires[port].plugged = true;
                wires[port].cutShort = wires[port].limitSet;  // a fresh device takes every byte
            }
            break;
        case 6:  // the cable takes only LEN*8 more bytes
            MemoryPortWriteBudget(port, next() * 8);
            wires[port].cutShort = true;
            wires[port].mayEndEarly = true;
            break;
        case 7: {  // every write cut to LEN % 24 bytes (0: writes fail)
            ComInjectShortWrite(port, next() % 24);
            wires[port].cutShort = wires[port].limitSet = true;
            wires[port].mayEndEarly = true;
            break;
        }
        case 8:  // Start, and Ok
            pressOk(1);
            break;
        case 9:  // Start, and Cancel
            pressOk(2);
            break;
        case 10:  // Stop
            stopped();
            if (platform::headless::clickControl(loader.panel, STOP))
                closedUntilOk = true;
            break;
        case 11:  // the window's close: the program ends
            stopped();
            platform::headless::closePanel(loader.panel);
            closedUntilOk = true;
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
