// In-memory serial ports: the backend of serial_memory.h.
#include "serial_memory.h"
#include "serial_backend.h"

#include "event_loop.h"
#include "popup_hold.h"
#include "runtime.h"
#include "ui_queue.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace {

// What the camera sent and nobody has read yet: a string read from `head`
// on. (A deque would allocate even while empty, and a fuzzer resets every
// port for every input.)
struct InputQueue {
    std::string bytes;
    std::size_t head = 0;

    bool empty() const { return head == bytes.size(); }
    std::size_t size() const { return bytes.size() - head; }
    void clear()
    {
        bytes.clear();
        head = 0;
    }
    unsigned char front() const { return static_cast<unsigned char>(bytes[head]); }
    void popFront()
    {
        if (++head == bytes.size())
            clear();
    }
    void append(const std::string &more)
    {
        if (head > 4096 && head * 2 > bytes.size()) {  // what was read goes, now and then
            bytes.erase(0, head);
            head = 0;
        }
        bytes += more;
    }
};

struct MemoryPort {
    bool present = false;         // a device is plugged in behind the number
    bool open = false;
    bool hungUp = false;          // unplugged while open: failed until closed
    InputQueue input;             // what the camera sent, not yet read
    std::string written;          // everything accepted since the plug
    std::vector<MemoryWrite> writes;  // the same, one entry per ComWrt
    long long writeBudget = -1;   // bytes the cable still accepts, -1 = no limit
    int shortWriteLimit = -1;     // bytes accepted per ComWrt, -1 = all
    double timeoutSeconds = 10.0;
    // The watch of the line, as a real port's readable-descriptor watch:
    // with the receive callback installed and not held, it fires from the
    // event loop (a timer of no delay, never inside another call) while
    // bytes wait, and once for a hang-up. While a popup is open it waits for
    // the popup to close.
    ComCallbackPtr callback = nullptr;
    void *callbackData = nullptr;
    bool held = false;            // HoldComCallback: bytes wait, no callback, no hang-up
    bool writeCancelled = false;  // CancelComWrite: writes take nothing until closed or reopened
    bool posted = false;          // the watch is armed and has not fired yet
    unsigned long posting = 0;    // which arming is the live one
    int postTimer = 0;            // its event-loop timer, 0 = armed through the UI queue
    bool inCallback = false;
    bool recording = false;       // reads join the last chunk: in the callback or the hold it began
    std::vector<std::string> callbackReads;
    // Hang-up callback: called once per open, by the watch, after the cable
    // was pulled from the open port.
    ComCallbackPtr hangUpCallback = nullptr;
    void *hangUpData = nullptr;
    bool hangUpReported = false;  // the watch has reported this open's hang-up
    int lastOpenResult = 0;       // what the last open returned, for GetComOpenFailure
    int injectedErrno = 0;        // ComInjectOpenError: opens fail as refused
    std::string injectedHolder;
    int injectedHolderPid = 0;
};

struct Ports {
    std::mutex mutex;  // guards everything below
    std::condition_variable arrived;  // bytes fed: a waiting ComRdByte looks again
    std::array<MemoryPort, kComMaxPort + 1> ports;  // index = COM number
    int callbacksPending = 0;
    unsigned long nextPosting = 1;  // numbers the queued calls, never reused
    MemoryWriteObserver writeObserver = nullptr;
};

Ports &table()
{
    static Ports ports;
    return ports;
}

// A number per thread, so that a test can tell two writers apart.
int writerNumber()
{
    static std::atomic<int> next{1};
    thread_local const int number = next++;
    return number;
}

bool validPort(int port)
{
    return port >= 1 && port <= kComMaxPort;
}

// The state every call but open and close checks first. Caller holds the lock.
int usable(const MemoryPort &p)
{
    if (!p.open)
        return kComNotOpen;
    return p.hungUp ? kComHangUp : 0;
}

// The prologue of every call on one port: the number checked (`invalid`
// returned when it names no port), the ports locked, then call(table, port).
template <typename Result, typename Call>
Result onPort(int port, Result invalid, Call call)
{
    if (!validPort(port))
        return invalid;
    Ports &t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    return call(t, t.ports[static_cast<std::size_t>(port)]);
}

// The same for the calls that need the port open and working: what is
// wrong with it is returned instead of the call's result.
template <typename Call>
int onUsablePort(int port, Call call)
{
    return onPort(port, int(kComArgumentError), [&call](Ports &t, MemoryPort &p) {
        if (const int state = usable(p))
            return state;
        return call(t, p);
    });
}

void fire(void *data);

// What the watch would report now, as a real port's readable descriptor:
// bytes waiting, or the hang-up not yet reported. Caller holds the lock.
bool watchWanted(const MemoryPort &p)
{
    if (!p.open || !p.callback || p.held || p.inCallback)
        return false;
    return p.hungUp ? !p.hangUpReported : !p.input.empty();
}

// The timer's data: the port and the arming it belongs to.
void *firing(int port, unsigned long posting)
{
    return reinterpret_cast<void *>(static_cast<std::uintptr_t>(posting) << 9
                                    | static_cast<std::uintptr_t>(port));
}

// Arms the watch with a timer of no delay on the UI thread's event loop.
// From another thread the arming itself is handed to the UI thread (it may
// run anywhere there: it only starts the timer). Caller holds the lock.
void armTimer(Ports &t, int port, unsigned long posting)
{
    MemoryPort &p = t.ports[static_cast<std::size_t>(port)];
    if (OnUiThread()) {
        p.postTimer = platform::eventLoop().startTimer(0.0, false, fire, firing(port, posting));
        if (p.postTimer != 0)
            return;
    }
    p.postTimer = 0;
    platform::postToUiThread([port, posting] {
        Ports &tt = table();
        std::lock_guard<std::mutex> lock(tt.mutex);
        MemoryPort &pp = tt.ports[static_cast<std::size_t>(port)];
        if (pp.posted && pp.posting == posting)
            pp.postTimer = platform::eventLoop().startTimer(0.0, false, fire, firing(port, posting));
    });
}

// Arms the watch when it has something to report and is not armed yet.
// Caller holds the lock.
void postCallback(Ports &t, int port)
{
    MemoryPort &p = t.ports[static_cast<std::size_t>(port)];
    if (p.posted || !watchWanted(p))
        return;
    p.posted = true;
    p.posting = t.nextPosting++;
    ++t.callbacksPending;
    armTimer(t, port, p.posting);
}

// Disarms the watch: a timer already started finds nothing. Caller holds the lock.
void disarm(Ports &t, MemoryPort &p)
{
    if (!p.posted)
        return;
    p.posted = false;
    --t.callbacksPending;
    if (p.postTimer != 0 && OnUiThread())
        platform::eventLoop().stopTimer(p.postTimer);
    p.postTimer = 0;
}

// The watch fires, on the UI thread from the event loop: the hang-up
// callback once for a pulled cable, else the receive callback while bytes
// wait, each called without the lock (they read, close and reopen ports).
// While a popup is open the watch waits for it to close, as a real port's
// does.
void fire(void *data)
{
    const auto bits = reinterpret_cast<std::uintptr_t>(data);
    const int port = static_cast<int>(bits & 0x1FF);
    const unsigned long posting = static_cast<unsigned long>(bits >> 9);
    Ports &t = table();
    ComCallbackPtr callback = nullptr;
    void *callbackData = nullptr;
    int event = 1;
    bool receiving = false;
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        MemoryPort &p = t.ports[static_cast<std::size_t>(port)];
        if (!p.posted || p.posting != posting)
            return;  // disarmed: the callback removed, held, or the port closed
        p.postTimer = 0;
        if (ModalPopupOpen()) {
            platform::holdUntilPopupsClose([port, posting] {
                Ports &tt = table();
                std::lock_guard<std::mutex> relock(tt.mutex);
                MemoryPort &pp = tt.ports[static_cast<std::size_t>(port)];
                if (pp.posted && pp.posting == posting)
                    armTimer(tt, port, posting);
            });
            return;
        }
        p.posted = false;
        if (!watchWanted(p)) {
            --t.callbacksPending;
            return;
        }
        if (p.hungUp) {
            p.hangUpReported = true;
            callback = p.hangUpCallback;
            callbackData = p.hangUpData;
            event = kComEventHangUp;
            --t.callbacksPending;
        } else {
            callback = p.callback;
            callbackData = p.callbackData;
            receiving = true;
            p.inCallback = true;
            p.recording = true;
            p.callbackReads.emplace_back();
        }
    }
    if (!receiving) {
        if (callback)
            callback(port, event, callbackData);
        return;
    }
    callback(port, event, callbackData);
    std::lock_guard<std::mutex> lock(t.mutex);
    MemoryPort &p = t.ports[static_cast<std::size_t>(port)];
    p.inCallback = false;
    p.recording = p.held;  // a chunk gathered after the callback is still its chunk
    --t.callbacksPending;
    postCallback(t, port);
}

// Removes the callback and disarms the watch. Caller holds the lock.
void dropCallback(Ports &t, MemoryPort &p)
{
    disarm(t, p);
    p.callback = nullptr;
    p.callbackData = nullptr;
    p.held = false;
    p.recording = false;
    p.hangUpCallback = nullptr;
    p.hangUpData = nullptr;
}

// The open's result, kept for GetComOpenFailure. Caller holds the lock.
int opened(MemoryPort &p, int result)
{
    p.lastOpenResult = result;
    return result;
}

int memoryOpenComConfig(int port, const char * /*deviceName*/, long baudRate, int parity,
                        int dataBits, int stopBits, int, int)
{
    if (baudRate <= 0 || parity < 0 || parity > 2 || dataBits < 5 || dataBits > 8 || stopBits < 1
        || stopBits > 2)
        return kComArgumentError;
    return onPort(port, int(kComArgumentError), [](Ports &t, MemoryPort &p) {
        p.writeCancelled = false;
        if (p.open && !p.hungUp)
            return opened(p, 0);  // reconfigured in place, callback kept
        if (p.open)
            dropCallback(t, p);  // a failed port is opened afresh without callback
        if (!p.present) {
            p.open = false;
            return opened(p, kComNoDevice);
        }
        if (p.injectedErrno != 0) {
            p.open = false;
            return opened(p, p.injectedErrno == EBUSY ? kComBusy : kComSystemError);
        }
        p.open = true;
        p.hungUp = false;
        p.hangUpReported = false;
        p.timeoutSeconds = 10.0;
        return opened(p, 0);
    });
}

int memoryCloseCom(int port)
{
    return onPort(port, int(kComArgumentError), [](Ports &t, MemoryPort &p) {
        if (!p.open)
            return int(kComNotOpen);
        dropCallback(t, p);
        p.open = false;
        p.hungUp = false;
        p.writeCancelled = false;
        p.input.clear();
        return 0;
    });
}

int memorySetComTime(int port, double timeoutSeconds)
{
    if (!(timeoutSeconds >= 0.0))
        return kComArgumentError;
    return onUsablePort(port, [timeoutSeconds](Ports &, MemoryPort &p) {
        p.timeoutSeconds = timeoutSeconds;
        return 0;
    });
}

int memoryCheckedPort(int port)
{
    return onUsablePort(port, [](Ports &, MemoryPort &) { return 0; });
}

int memorySetMode(int port, int on)
{
    return on != 0 && on != 1 ? kComArgumentError : memoryCheckedPort(port);
}

int memoryFlushInQ(int port)
{
    return onUsablePort(port, [](Ports &, MemoryPort &p) {
        p.input.clear();
        return 0;
    });
}

int memoryInstallComCallback(int port, int eventMask, int, int, ComCallbackPtr callback,
                             void *callbackData)
{
    if (eventMask < 0 || (eventMask != 0 && (eventMask & 1) == 0) || (eventMask != 0 && !callback))
        return kComArgumentError;
    return onPort(port, int(kComArgumentError), [=](Ports &t, MemoryPort &p) {
        if (!p.open)
            return int(kComNotOpen);
        if (eventMask == 0) {
            dropCallback(t, p);
            return 0;
        }
        if (p.hungUp)
            return int(kComHangUp);
        if (!OnUiThread())
            return int(kComArgumentError);  // callbacks are delivered on the UI thread only
        p.callback = callback;
        p.callbackData = callbackData;
        postCallback(t, port);
        return 0;
    });
}

int memoryGetInQLen(int port)
{
    return onUsablePort(port,
                        [](Ports &, MemoryPort &p) { return static_cast<int>(p.input.size()); });
}

// The one call that may wait (for the camera's next byte): it keeps its own
// prologue, with a lock it can release while waiting.
int memoryComRdByte(int port)
{
    if (!validPort(port))
        return kComArgumentError;
    Ports &t = table();
    std::unique_lock<std::mutex> lock(t.mutex);
    MemoryPort &p = t.ports[static_cast<std::size_t>(port)];
    if (const int state = usable(p))
        return state;
    if (p.input.empty()) {  // the clock is read only when there is a wait
        const auto deadline = std::chrono::steady_clock::now()
            + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                  std::chrono::duration<double>(p.timeoutSeconds));
        for (;;) {
            if (t.arrived.wait_until(lock, deadline) == std::cv_status::timeout && p.input.empty())
                return usable(p) ? usable(p) : kComTimeout;
            if (const int state = usable(p))
                return state;
            if (!p.input.empty())
                break;
        }
    }
    const unsigned char byte = p.input.front();
    p.input.popFront();
    if (p.recording && !p.callbackReads.empty())
        p.callbackReads.back().push_back(static_cast<char>(byte));
    return byte;
}

int memoryComWrt(int port, const char *buffer, int count)
{
    if (count < 0 || (count > 0 && !buffer))
        return kComArgumentError;
    return onUsablePort(port, [=](Ports &t, MemoryPort &p) {
        if (count == 0)
            return 0;
        long long accepted = count;
        if (p.shortWriteLimit >= 0 && p.shortWriteLimit < accepted)
            accepted = p.shortWriteLimit;
        if (p.writeBudget >= 0 && p.writeBudget < accepted)
            accepted = p.writeBudget;
        if (p.writeCancelled)
            accepted = 0;
        if (p.writeBudget >= 0)
            p.writeBudget -= accepted;
        if (accepted == 0)
            return int(kComTimeout);  // nothing went out within the time-out
        p.written.append(buffer, static_cast<std::size_t>(accepted));
        p.writes.push_back({std::string(buffer, static_cast<std::size_t>(accepted)), writerNumber()});
        if (t.writeObserver)
            t.writeObserver(port, p.writes.back());
        return static_cast<int>(accepted);
    });
}

int memoryComErrno(int port)
{
    return validPort(port) ? 0 : kComArgumentError;
}

const char *memoryComDevicePath(int port)
{
    thread_local std::string path;
    path = validPort(port) ? "memory:" + std::to_string(port) : std::string();
    return path.c_str();
}

void memoryComInjectShortWrite(int port, int maxBytes)
{
    onPort(port, 0, [maxBytes](Ports &, MemoryPort &p) {
        p.shortWriteLimit = maxBytes < 0 ? -1 : maxBytes;
        return 0;
    });
}

int memoryGetComOpenFailure(int port, ComOpenFailure *failure)
{
    if (!failure)
        return kComArgumentError;
    return onPort(port, int(kComArgumentError), [=](Ports &, MemoryPort &p) {
        *failure = ComOpenFailure{};
        failure->error = p.lastOpenResult;
        if (p.lastOpenResult == kComSystemError || p.lastOpenResult == kComBusy) {
            failure->systemErrno = p.injectedErrno;
            std::snprintf(failure->holder, sizeof failure->holder, "%s", p.injectedHolder.c_str());
            failure->holderPid = p.injectedHolderPid;
        }
        if (p.lastOpenResult != kComNoDevice)
            std::snprintf(failure->device, sizeof failure->device, "memory:%d", port);
        return 0;
    });
}

int memoryInstallComHangUpCallback(int port, ComCallbackPtr callback, void *callbackData)
{
    return onPort(port, int(kComArgumentError), [=](Ports &, MemoryPort &p) {
        if (!p.open)
            return int(kComNotOpen);
        p.hangUpCallback = callback;
        p.hangUpData = callback ? callbackData : nullptr;
        return 0;
    });
}

void memoryComInjectOpenError(int port, int systemErrno, const char *holderProgram, int holderPid)
{
    onPort(port, 0, [=](Ports &, MemoryPort &p) {
        p.injectedErrno = systemErrno;
        p.injectedHolder = holderProgram ? holderProgram : "";
        p.injectedHolderPid = holderPid;
        return 0;
    });
}

int memoryHoldComCallback(int port, int hold)
{
    if (hold != 0 && hold != 1)
        return kComArgumentError;
    return onPort(port, int(kComArgumentError), [=](Ports &t, MemoryPort &p) {
        if (!p.open)
            return int(kComNotOpen);
        p.held = hold == 1;
        if (p.held) {
            disarm(t, p);  // bytes and a hang-up wait for the hold's end
        } else {
            p.recording = p.inCallback;
            postCallback(t, port);
        }
        return 0;
    });
}

int memoryCancelComWrite(int port)
{
    return onPort(port, int(kComArgumentError), [](Ports &, MemoryPort &p) {
        if (!p.open)
            return int(kComNotOpen);
        p.writeCancelled = true;  // a write never waits here: the later ones take nothing
        return 0;
    });
}

// What a test reads of a port (nothing for a number that names none).
template <typename Result, typename Read>
Result readPort(int port, Read read)
{
    return onPort(port, Result(), [&read](Ports &, MemoryPort &p) { return read(p); });
}

} // namespace

const SerialBackend kMemorySerialBackend = {
    memoryOpenComConfig, memoryCloseCom,  memorySetComTime,    memorySetMode,
    memorySetMode,       memoryFlushInQ,  memoryCheckedPort,   memoryInstallComCallback,
    memoryGetInQLen,     memoryComRdByte, memoryComWrt,        memoryComErrno,
    memoryComDevicePath, memoryComInjectShortWrite, memoryGetComOpenFailure,
    memoryInstallComHangUpCallback, memoryComInjectOpenError, memoryHoldComCallback,
    memoryCancelComWrite,
};

void UseMemorySerial(bool on)
{
    selectSerialBackend(on ? &kMemorySerialBackend : nullptr);
}

void MemorySerialReset()
{
    Ports &t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (MemoryPort &p : t.ports) {
        dropCallback(t, p);
        p = MemoryPort();
    }
    t.arrived.notify_all();
}

void MemoryPortPlug(int port)
{
    onPort(port, 0, [](Ports &, MemoryPort &p) {
        if (p.present && !p.hungUp)
            return 0;
        p.present = true;
        p.written.clear();
        p.writes.clear();
        p.writeBudget = -1;
        p.callbackReads.clear();
        return 0;
    });
}

void MemoryPortUnplug(int port)
{
    onPort(port, 0, [port](Ports &t, MemoryPort &p) {
        p.present = false;
        p.input.clear();
        if (p.open && !p.hungUp) {
            p.hungUp = true;
            // Reported by the watch, from the event loop, once it may fire.
            disarm(t, p);
            postCallback(t, port);
        }
        t.arrived.notify_all();
        return 0;
    });
}

void MemoryPortFeed(int port, const std::string &bytes)
{
    onUsablePort(port, [port, &bytes](Ports &t, MemoryPort &p) {
        p.input.append(bytes);
        t.arrived.notify_all();
        postCallback(t, port);
        return 0;
    });
}

int MemoryPortWaiting(int port)
{
    return readPort<int>(port, [](const MemoryPort &p) { return static_cast<int>(p.input.size()); });
}

std::string MemoryPortWritten(int port)
{
    return readPort<std::string>(port, [](const MemoryPort &p) { return p.written; });
}

std::vector<MemoryWrite> MemoryPortWrites(int port)
{
    return readPort<std::vector<MemoryWrite>>(port, [](const MemoryPort &p) { return p.writes; });
}

void MemoryPortWriteBudget(int port, long long bytes)
{
    onPort(port, 0, [bytes](Ports &, MemoryPort &p) {
        p.writeBudget = bytes < 0 ? -1 : bytes;
        return 0;
    });
}

std::vector<std::string> MemoryPortCallbackReads(int port, std::size_t from)
{
    return readPort<std::vector<std::string>>(port, [from](const MemoryPort &p) {
        if (from >= p.callbackReads.size())
            return std::vector<std::string>();
        return std::vector<std::string>(p.callbackReads.begin() + static_cast<long>(from),
                                        p.callbackReads.end());
    });
}

std::size_t MemoryPortCallbackReadCount(int port)
{
    return readPort<std::size_t>(port, [](const MemoryPort &p) { return p.callbackReads.size(); });
}

void MemorySerialObserveWrites(MemoryWriteObserver observer)
{
    Ports &t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.writeObserver = observer;
}

int MemorySerialCallbacksPending()
{
    Ports &t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.callbacksPending;
}
