// Serial ports on the Win32 comm API: one overlapped handle per COM number
// (COMn, the port's own Windows name, opened as \\.\COMn), line settings in a DCB, the
// queue length from ClearCommError, and a watcher thread per port with a
// receive callback that posts the callback to the UI thread.
//
//   1. The port table and its locking
//   2. Line settings
//   3. Open and close
//   4. Configuration
//   5. Reads and writes
//   6. The receive callback and hang-up
//
// Why overlapped: on a handle opened without it Windows runs one call at a
// time, so the UI thread's look at the queue would wait behind the worker's
// write of a whole block. Why a watcher thread that asks ClearCommError
// every 2 ms rather than WaitCommEvent: it keeps the queue untouched (the
// loader reads it at its own pace, 1 ms a byte) and it behaves the same on
// every driver, USB adapters' included, and under Wine, where a pseudo-
// terminal stands in for the port.
//
// A device pulled out makes every later call on its handle fail (Windows
// reports 5, 22, 31, 995 or, under Wine, 21 depending on the driver): any
// failure of ClearCommError, ReadFile or WriteFile on an open port is taken
// as the hang-up.
//
// Under Wine (where the tests run it, a pseudo-terminal standing in for the
// port) an overlapped write that finds the terminal's buffer full stays
// pending for good, even once the far end has read: there the write is
// waited for in 20 ms slices, cancelled and issued again for the rest (a
// cancelled write reports what went out). On Windows the write is waited
// for whole, up to the port's time-out.
#include "serial.h"
#include "serial_backend.h"
#include "serial_holders.h"
#include "serial_ports_map.h"
#include "popup_hold.h"
#include "runtime.h"
#include "ui_queue.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

#include <windows.h>

// ---------------------------------------------------------------------------
// 1. The port table and its locking
//
// As on POSIX: reads, writes and queries hold the port's lock shared, open,
// close and configuration hold it exclusive, so the handle is never closed
// under a read or write.

namespace {

using Clock = std::chrono::steady_clock;

constexpr long long kDefaultTimeoutNs = 10'000'000'000LL;
constexpr DWORD kWatchPauseMs = 2;  // the watcher's look at the queue

// The watcher of one open port's receive queue. It owns nothing of the
// port: it is given the handle and is joined before the handle is closed.
struct Watcher {
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> armed{false};   // the callback may come (not held, not behind a popup)
    std::atomic<bool> posted{false};  // a delivery is queued and has not run yet
};

struct Port {
    std::shared_mutex lock;                  // see above
    HANDLE handle = INVALID_HANDLE_VALUE;    // guarded by lock
    std::string device;                      // name the handle was opened on; guarded by lock
    std::atomic<bool> hungUp{false};         // device went away; any thread sets, open/close clear
    std::atomic<long long> timeoutNs{kDefaultTimeoutNs};
    std::atomic<int> lastErrno{0};           // errno-style code of the last system error
    std::atomic<int> shortWriteLimit{-1};    // test hook: bytes accepted per ComWrt, -1 = all
    std::atomic<bool> hangUpReported{false}; // the hang-up callback has run for this open
    std::atomic<bool> writeCancelled{false}; // CancelComWrite: writes end at once until closed
    ComOpenFailure failure{};                // why the last open did not open; UI thread
    int injectedErrno = 0;                   // test hook (UI thread)
    std::string injectedHolder;
    int injectedHolderPid = 0;
    // Receive callback; UI thread, written under the exclusive lock.
    std::unique_ptr<Watcher> watcher;
    int generation = 0;                      // changes with every new watcher
    ComCallbackPtr callback = nullptr;
    void *callbackData = nullptr;
    bool callbackHeld = false;
    ComCallbackPtr hangUpCallback = nullptr;
    void *hangUpData = nullptr;
};

bool validPort(int port)
{
    return port >= 1 && port <= kComMaxPort;
}

std::array<Port, kComMaxPort + 1> &portTable()
{
    static std::array<Port, kComMaxPort + 1> ports;
    return ports;
}

Port &portAt(int port)
{
    return portTable()[static_cast<std::size_t>(port)];
}

// The errno the rest of the program knows for a Windows error.
int errnoFor(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EBUSY;
    case ERROR_INVALID_PARAMETER:
        return EINVAL;
    default:
        return EIO;
    }
}

int systemError(Port &p, DWORD error)
{
    p.lastErrno.store(errnoFor(error), std::memory_order_relaxed);
    return kComSystemError;
}

int markHungUp(Port &p, DWORD error)
{
    p.lastErrno.store(errnoFor(error), std::memory_order_relaxed);
    p.hungUp.store(true, std::memory_order_relaxed);
    return kComHangUp;
}

int usable(const Port &p)
{
    if (p.handle == INVALID_HANDLE_VALUE)
        return kComNotOpen;
    if (p.hungUp.load(std::memory_order_relaxed))
        return kComHangUp;
    return 0;
}

template <typename Lock, typename Call>
int onUsablePort(int port, Call call)
{
    if (!validPort(port))
        return kComArgumentError;
    Port &p = portAt(port);
    Lock lock(p.lock);
    if (const int state = usable(p))
        return state;
    return call(p);
}

using Shared = std::shared_lock<std::shared_mutex>;
using Unique = std::unique_lock<std::shared_mutex>;

// Bytes waiting in the driver's queue, or -1 with the error when the
// handle fails (the device went away).
long long queueLength(HANDLE handle, DWORD *error)
{
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(handle, &errors, &status)) {
        *error = ::GetLastError();
        return -1;
    }
    return static_cast<long long>(status.cbInQue);
}

std::string upper(std::string text)
{
    for (char &c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

void copyText(char *to, std::size_t size, const std::string &text)
{
    std::snprintf(to, size, "%s", text.c_str());
}

// ---------------------------------------------------------------------------
// 2. Line settings

struct LineSettings {
    long baudRate;
    int parity;
    int dataBits;
    int stopBits;
};

bool knownRate(long baudRate)
{
    static const long rates[] = {50,     75,     110,    134,    150,    200,     300,     600,
                                 1200,   1800,   2400,   4800,   9600,   19200,   38400,   57600,
                                 115200, 230400, 460800, 500000, 576000, 921600,  1000000, 1152000,
                                 1500000, 2000000, 2500000, 3000000, 3500000, 4000000};
    return std::find(std::begin(rates), std::end(rates), baudRate) != std::end(rates);
}

// Raw bytes both ways: binary, no XON/XOFF, no CTS or DSR flow control, DTR
// and RTS raised (a USB camera's serial function and most adapters want
// them), errors not aborting the I/O. Reads return at once with what is
// waiting; writes are bounded by our own wait (section 5).
int applyLineSettings(Port &p, const LineSettings &line)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(p.handle, &dcb))
        return systemError(p, ::GetLastError());
    dcb.BaudRate = static_cast<DWORD>(line.baudRate);
    dcb.ByteSize = static_cast<BYTE>(line.dataBits);
    dcb.Parity = line.parity == 1 ? ODDPARITY : line.parity == 2 ? EVENPARITY : NOPARITY;
    dcb.StopBits = line.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = line.parity != 0;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    if (!::SetCommState(p.handle, &dcb))
        return systemError(p, ::GetLastError());
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;  // with the two below 0: return what is there
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;   // no limit of the driver's: ours (section 5)
    if (!::SetCommTimeouts(p.handle, &timeouts))
        return systemError(p, ::GetLastError());
    return 0;
}

// Read-modify-write of the DCB. Caller holds the exclusive lock.
template <typename Change>
int changeDcb(Port &p, Change change)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(p.handle, &dcb))
        return systemError(p, ::GetLastError());
    change(dcb);
    if (!::SetCommState(p.handle, &dcb))
        return systemError(p, ::GetLastError());
    return 0;
}

// ---------------------------------------------------------------------------
// 3. Open and close (UI thread)

// Stops the watcher and waits for its thread. Caller holds the exclusive
// lock; the watcher never takes it, so the join cannot wait on us.
void stopWatcher(Port &p)
{
    if (!p.watcher)
        return;
    p.watcher->stop.store(true);
    if (p.watcher->thread.joinable())
        p.watcher->thread.join();
    p.watcher.reset();
    ++p.generation;  // a delivery still queued belongs to no watcher now
}

void releasePort(Port &p)
{
    stopWatcher(p);
    p.callback = nullptr;
    p.callbackData = nullptr;
    if (p.handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(p.handle);
    p.handle = INVALID_HANDLE_VALUE;
    p.device.clear();
    p.hungUp.store(false, std::memory_order_relaxed);
    p.hangUpReported.store(false, std::memory_order_relaxed);
    p.writeCancelled.store(false, std::memory_order_relaxed);
    p.hangUpCallback = nullptr;
    p.hangUpData = nullptr;
    p.callbackHeld = false;
}

int refuse(Port &p, int error, int systemErrno, const std::string &device,
           const std::string &holder = {}, int holderPid = 0, int ownPort = 0)
{
    p.lastErrno.store(systemErrno, std::memory_order_relaxed);
    ComOpenFailure &f = p.failure;
    f = ComOpenFailure{};
    f.error = error;
    f.systemErrno = systemErrno;
    copyText(f.device, sizeof f.device, device);
    copyText(f.holder, sizeof f.holder, holder);
    f.holderPid = holderPid;
    f.ownPort = ownPort;
    return error;
}

// The other COM number this program already has open on `device`, 0 when none.
int portOpenOn(int port, const std::string &device)
{
    const std::string name = upper(device);
    for (int other = 1; other <= kComMaxPort; ++other) {
        if (other == port)
            continue;
        Port &q = portAt(other);
        std::shared_lock<std::shared_mutex> lock(q.lock);
        if (q.handle != INVALID_HANDLE_VALUE && !q.hungUp.load(std::memory_order_relaxed)
            && upper(q.device) == name)
            return other;
    }
    return 0;
}

// The name CreateFile takes: COM10 and above are reached only as \\.\COM10,
// and \\.\ does for COM1..COM9 too. A name that is a path already is kept.
std::string fileNameOf(const std::string &device)
{
    return device.find('\\') == std::string::npos ? "\\\\.\\" + device : device;
}

// A fresh handle on `device`. Windows opens a COM port for one program at
// a time: a port another program has open answers ERROR_ACCESS_DENIED,
// which is "in use by another program" to the operator (Windows does not
// say which program). Returns the handle, or INVALID_HANDLE_VALUE with the
// refusal recorded in *result.
HANDLE openExclusive(Port &p, const std::string &device, int ownPort, int *result)
{
    if (ownPort != 0) {
        *result = refuse(p, kComBusy, EBUSY, device, {}, 0, ownPort);
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE handle = ::CreateFileA(fileNameOf(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle != INVALID_HANDLE_VALUE && p.injectedErrno != 0) {
        ::CloseHandle(handle);  // the device exists: refuse it as the test asked
        if (p.injectedErrno == EBUSY)
            *result = refuse(p, kComBusy, EBUSY, device, p.injectedHolder, p.injectedHolderPid);
        else
            *result = refuse(p, kComSystemError, p.injectedErrno, device);
        return INVALID_HANDLE_VALUE;
    }
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            *result = refuse(p, kComNoDevice, ENOENT, "");
        else if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            *result = refuse(p, kComBusy, EBUSY, device);
        else
            *result = refuse(p, kComSystemError, errnoFor(error), device);
        return INVALID_HANDLE_VALUE;
    }
    DCB probe{};
    probe.DCBlength = sizeof probe;
    if (!::GetCommState(handle, &probe)) {  // a file or another device is no serial port
        ::CloseHandle(handle);
        *result = refuse(p, kComNoDevice, ENOTTY, "");
        return INVALID_HANDLE_VALUE;
    }
    ::SetupComm(handle, 16384, 16384);
    return handle;
}

} // namespace

int win32OpenComConfig(int port, const char *deviceName, long baudRate, int parity, int dataBits,
                       int stopBits, int /*inputQueueSize*/, int /*outputQueueSize*/)
{
    const LineSettings line{baudRate, parity, dataBits, stopBits};
    if (!validPort(port) || !knownRate(baudRate) || parity < 0 || parity > 2 || dataBits < 5
        || dataBits > 8 || stopBits < 1 || stopBits > 2)
        return kComArgumentError;

    const std::string device = (deviceName && *deviceName) ? std::string(deviceName)
                                                           : platform::deviceForComPort(port);
    const int ownPort = device.empty() ? 0 : portOpenOn(port, device);
    Port &p = portAt(port);
    std::unique_lock<std::shared_mutex> lock(p.lock);

    if (p.handle != INVALID_HANDLE_VALUE && !p.hungUp.load(std::memory_order_relaxed)
        && p.device == device) {
        // Still open from an earlier scan: same handle, same callback.
        p.writeCancelled.store(false, std::memory_order_relaxed);
        const int result = applyLineSettings(p, line);
        if (result != 0)
            releasePort(p);
        p.failure = ComOpenFailure{};
        p.failure.error = result;
        return result;
    }
    releasePort(p);
    if (device.empty())
        return refuse(p, kComNoDevice, 0, "");
    int refused = 0;
    const HANDLE handle = openExclusive(p, device, ownPort, &refused);
    if (handle == INVALID_HANDLE_VALUE)
        return refused;
    p.handle = handle;
    p.device = device;
    p.timeoutNs.store(kDefaultTimeoutNs, std::memory_order_relaxed);
    const int result = applyLineSettings(p, line);
    if (result != 0)
        releasePort(p);
    p.failure = ComOpenFailure{};
    p.failure.error = result;
    copyText(p.failure.device, sizeof p.failure.device, device);
    return result;
}

int win32GetComOpenFailure(int port, ComOpenFailure *failure)
{
    if (!validPort(port) || !failure)
        return kComArgumentError;
    Port &p = portAt(port);
    std::shared_lock<std::shared_mutex> lock(p.lock);
    *failure = p.failure;
    return 0;
}

void win32ComInjectOpenError(int port, int systemErrno, const char *holderProgram, int holderPid)
{
    if (!validPort(port))
        return;
    Port &p = portAt(port);
    std::unique_lock<std::shared_mutex> lock(p.lock);
    p.injectedErrno = systemErrno;
    p.injectedHolder = holderProgram ? holderProgram : "";
    p.injectedHolderPid = holderPid;
}

int win32CloseCom(int port)
{
    if (!validPort(port))
        return kComArgumentError;
    Port &p = portAt(port);
    std::unique_lock<std::shared_mutex> lock(p.lock);
    if (p.handle == INVALID_HANDLE_VALUE)
        return kComNotOpen;
    releasePort(p);
    return 0;
}

// ---------------------------------------------------------------------------
// 4. Configuration

int win32SetComTime(int port, double timeoutSeconds)
{
    if (!(timeoutSeconds >= 0.0))
        return kComArgumentError;
    return onUsablePort<Shared>(port, [&](Port &p) {
        const double capped = std::min(timeoutSeconds, 1.0e6);
        p.timeoutNs.store(static_cast<long long>(std::llround(capped * 1e9)), std::memory_order_relaxed);
        return 0;
    });
}

int win32SetXMode(int port, int on)
{
    if (on != 0 && on != 1)
        return kComArgumentError;
    return onUsablePort<Unique>(port, [&](Port &p) {
        return changeDcb(p, [on](DCB &dcb) {
            dcb.fOutX = on == 1;
            dcb.fInX = on == 1;
        });
    });
}

int win32SetCTSMode(int port, int on)
{
    if (on != 0 && on != 1)
        return kComArgumentError;
    return onUsablePort<Unique>(port, [&](Port &p) {
        return changeDcb(p, [on](DCB &dcb) {
            dcb.fOutxCtsFlow = on == 1;
            dcb.fRtsControl = on == 1 ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
        });
    });
}

namespace {

int purge(int port, DWORD what)
{
    return onUsablePort<Shared>(port, [&](Port &p) {
        if (!::PurgeComm(p.handle, what))
            return markHungUp(p, ::GetLastError());
        return 0;
    });
}

} // namespace

int win32FlushInQ(int port)
{
    return purge(port, PURGE_RXCLEAR);
}

int win32FlushOutQ(int port)
{
    return purge(port, PURGE_TXCLEAR);
}

void win32ComInjectShortWrite(int port, int maxBytes)
{
    if (validPort(port))
        portAt(port).shortWriteLimit.store(maxBytes < 0 ? -1 : maxBytes, std::memory_order_relaxed);
}

int win32ComErrno(int port)
{
    return validPort(port) ? portAt(port).lastErrno.load(std::memory_order_relaxed) : 0;
}

const char *win32ComDevicePath(int port)
{
    thread_local std::string path;
    path.clear();
    if (!validPort(port))
        return path.c_str();
    {
        Port &p = portAt(port);
        std::shared_lock<std::shared_mutex> lock(p.lock);
        path = p.device;
    }
    if (path.empty())
        path = platform::deviceForComPort(port);
    return path.c_str();
}

// ---------------------------------------------------------------------------
// 5. Reads and writes (any thread; shared lock)

namespace {

bool underWine()
{
    static const bool wine = [] {
        const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
        return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

constexpr DWORD kWineWriteSliceMs = 20;

int bytesWaiting(Port &p)
{
    DWORD error = 0;
    const long long waiting = queueLength(p.handle, &error);
    if (waiting < 0)
        return markHungUp(p, error);
    return static_cast<int>(std::min<long long>(waiting, 0x7fffffff));
}

// One overlapped transfer on the port's handle, waited for at most until
// `deadline`; an unfinished one is cancelled. Returns the bytes moved, or
// -1 with the error in *error. A transfer under way when `cancelled` is set
// ends at once: the flag is looked at once the transfer is under way, and
// CancelComWrite sets it before it cancels what is under way, so one of
// the two always sees the other.
long long transfer(HANDLE handle, bool write, void *buffer, DWORD count, Clock::time_point deadline,
                   DWORD *error, const std::atomic<bool> *cancelled = nullptr)
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent) {
        *error = ::GetLastError();
        return -1;
    }
    DWORD moved = 0;
    BOOL done = write ? ::WriteFile(handle, buffer, count, &moved, &overlapped)
                      : ::ReadFile(handle, buffer, count, &moved, &overlapped);
    long long result = moved;
    if (!done) {
        *error = ::GetLastError();
        result = -1;
        if (*error == ERROR_IO_PENDING) {
            if (cancelled && cancelled->load())
                ::CancelIoEx(handle, &overlapped);
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            DWORD waitMs = left.count() <= 0 ? 0 : static_cast<DWORD>(std::min<long long>(left.count(), 0x7ffffffe));
            if (write && underWine())
                waitMs = std::min(waitMs, kWineWriteSliceMs);
            if (::WaitForSingleObject(overlapped.hEvent, waitMs) != WAIT_OBJECT_0)
                ::CancelIoEx(handle, &overlapped);
            if (::GetOverlappedResult(handle, &overlapped, &moved, TRUE)) {
                result = moved;
            } else {
                *error = ::GetLastError();
                // Cancelled at the time-out: what went out before counts.
                result = *error == ERROR_OPERATION_ABORTED ? static_cast<long long>(moved) : -1;
            }
        }
    }
    ::CloseHandle(overlapped.hEvent);
    return result;
}

// One byte, waiting up to the port's time-out: the queue is looked at every
// millisecond, and a byte is taken only when one is there, so a read never
// waits inside the driver.
int readByte(Port &p)
{
    const auto deadline = Clock::now() + std::chrono::nanoseconds(p.timeoutNs.load(std::memory_order_relaxed));
    for (;;) {
        const int waiting = bytesWaiting(p);
        if (waiting < 0)
            return waiting;
        if (waiting > 0) {
            unsigned char byte = 0;
            DWORD error = 0;
            const long long got = transfer(p.handle, false, &byte, 1, deadline, &error);
            if (got == 1)
                return byte;
            if (got < 0)
                return markHungUp(p, error);
        }
        if (Clock::now() >= deadline)
            return kComTimeout;
        ::Sleep(1);
    }
}

int writeBytes(Port &p, const char *buffer, int count)
{
    const auto deadline = Clock::now() + std::chrono::nanoseconds(p.timeoutNs.load(std::memory_order_relaxed));
    const int limit = p.shortWriteLimit.load(std::memory_order_relaxed);
    const int accepted = limit >= 0 && limit < count ? limit : count;
    int written = 0;
    int failure = kComTimeout;
    while (written < accepted && !p.writeCancelled.load()) {
        DWORD error = 0;
        const long long put = transfer(p.handle, true, const_cast<char *>(buffer + written),
                                       static_cast<DWORD>(accepted - written), deadline, &error,
                                       &p.writeCancelled);
        if (put < 0) {
            failure = markHungUp(p, error);
            break;
        }
        written += static_cast<int>(put);
        if (Clock::now() >= deadline)
            break;  // time-out: report what went out
    }
    // The injected stall, which a cancel ends too.
    while (written == accepted && accepted < count && !p.writeCancelled.load() && Clock::now() < deadline)
        ::Sleep(1);
    return written > 0 ? written : failure;
}

} // namespace

int win32GetInQLen(int port)
{
    return onUsablePort<Shared>(port, [](Port &p) { return bytesWaiting(p); });
}

int win32ComRdByte(int port)
{
    return onUsablePort<Shared>(port, readByte);
}

int win32ComWrt(int port, const char *buffer, int count)
{
    if (count < 0 || (count > 0 && !buffer))
        return kComArgumentError;
    return onUsablePort<Shared>(port, [&](Port &p) { return count == 0 ? 0 : writeBytes(p, buffer, count); });
}

// A write waits inside the driver holding the port's lock shared, which the
// UI thread's reads and callbacks share; the one who needs the port back
// (Stop, the end of an update) cancels the write first, so it never waits
// for the line.
int win32CancelComWrite(int port)
{
    if (!validPort(port))
        return kComArgumentError;
    Port &p = portAt(port);
    std::shared_lock<std::shared_mutex> lock(p.lock);
    if (p.handle == INVALID_HANDLE_VALUE)
        return kComNotOpen;
    p.writeCancelled.store(true);
    ::CancelIoEx(p.handle, nullptr);  // the transfer under way ends as a time-out would
    return 0;
}

// ---------------------------------------------------------------------------
// 6. The receive callback and hang-up
//
// The watcher thread looks at the queue every 2 ms while it is armed; when
// bytes wait or the handle fails it posts one delivery to the UI thread and
// waits for it to run before it looks again, so the UI thread gets one call
// per pass while bytes stay, as a level-triggered watch gives on POSIX.

namespace {

void deliver(int port, int generation);

void watch(int port, int generation, HANDLE handle, Watcher *watcher)
{
    while (!watcher->stop.load()) {
        if (watcher->armed.load() && !watcher->posted.load()) {
            DWORD error = 0;
            const long long waiting = queueLength(handle, &error);
            if (waiting != 0) {  // bytes, or a failed handle: the device went away
                watcher->posted.store(true);
                platform::postToUiThread([port, generation] { deliver(port, generation); });
                if (waiting < 0)
                    return;  // nothing more to watch on a dead handle
            }
        }
        ::Sleep(kWatchPauseMs);
    }
}

void arm(Port &p, bool on)
{
    if (p.watcher)
        p.watcher->armed.store(on);
}

void resumeAfterPopups(int port, int generation)
{
    Port &p = portAt(port);
    std::shared_lock<std::shared_mutex> lock(p.lock);
    if (p.generation == generation && !p.callbackHeld && p.handle != INVALID_HANDLE_VALUE)
        arm(p, true);
}

void deliver(int port, int generation)
{
    Port &p = portAt(port);
    ComCallbackPtr callback = nullptr;
    void *callbackData = nullptr;
    int event = 1;
    {
        std::shared_lock<std::shared_mutex> lock(p.lock);
        if (p.generation != generation || !p.watcher)
            return;  // closed, or another callback installed, since it was posted
        p.watcher->posted.store(false);
        if (ModalPopupOpen()) {  // the bytes wait until the popup has closed
            arm(p, false);
            platform::holdUntilPopupsClose([port, generation] { resumeAfterPopups(port, generation); });
            return;
        }
        if (p.callbackHeld) {
            arm(p, false);
            return;
        }
        int state = usable(p);
        const int waiting = state == 0 ? bytesWaiting(p) : 0;
        if (waiting < 0)
            state = waiting;
        if (state != 0) {
            arm(p, false);
            if (state != kComHangUp || p.hangUpReported.exchange(true))
                return;
            callback = p.hangUpCallback;
            callbackData = p.hangUpData;
            event = kComEventHangUp;
        } else {
            if (waiting == 0)
                return;
            callback = p.callback;
            callbackData = p.callbackData;
        }
    }
    if (callback)
        callback(port, event, callbackData);
}

} // namespace

int win32InstallComCallback(int port, int eventMask, int /*notifyCount*/, int /*eventChar*/,
                            ComCallbackPtr callback, void *callbackData)
{
    if (!validPort(port) || eventMask < 0 || (eventMask != 0 && (eventMask & 1) == 0)
        || (eventMask != 0 && !callback))
        return kComArgumentError;
    Port &p = portAt(port);
    std::unique_lock<std::shared_mutex> lock(p.lock);
    if (p.handle == INVALID_HANDLE_VALUE)
        return kComNotOpen;
    if (eventMask == 0) {
        stopWatcher(p);
        p.callback = nullptr;
        p.callbackData = nullptr;
        return 0;
    }
    if (p.hungUp.load(std::memory_order_relaxed))
        return kComHangUp;
    if (!OnUiThread())
        return kComArgumentError;  // the callback is delivered on the UI thread only
    if (!p.watcher) {
        p.watcher = std::make_unique<Watcher>();
        ++p.generation;
        p.watcher->thread = std::thread(watch, port, p.generation, p.handle, p.watcher.get());
    }
    p.callback = callback;
    p.callbackData = callbackData;
    arm(p, !p.callbackHeld);
    return 0;
}

int win32HoldComCallback(int port, int hold)
{
    if (!validPort(port) || (hold != 0 && hold != 1))
        return kComArgumentError;
    Port &p = portAt(port);
    std::unique_lock<std::shared_mutex> lock(p.lock);
    if (p.handle == INVALID_HANDLE_VALUE)
        return kComNotOpen;
    p.callbackHeld = hold == 1;
    arm(p, !p.callbackHeld);
    return 0;
}

int win32InstallComHangUpCallback(int port, ComCallbackPtr callback, void *callbackData)
{
    if (!validPort(port))
        return kComArgumentError;
    Port &p = portAt(port);
    std::unique_lock<std::shared_mutex> lock(p.lock);
    if (p.handle == INVALID_HANDLE_VALUE)
        return kComNotOpen;
    p.hangUpCallback = callback;
    p.hangUpData = callback ? callbackData : nullptr;
    return 0;
}

// ---------------------------------------------------------------------------
// The backend table serial.cpp forwards to.

namespace {

const SerialBackend kWin32SerialBackend = {
    win32OpenComConfig, win32CloseCom,  win32SetComTime,         win32SetXMode,
    win32SetCTSMode,    win32FlushInQ,  win32FlushOutQ,          win32InstallComCallback,
    win32GetInQLen,     win32ComRdByte, win32ComWrt,             win32ComErrno,
    win32ComDevicePath, win32ComInjectShortWrite, win32GetComOpenFailure,
    win32InstallComHangUpCallback, win32ComInjectOpenError, win32HoldComCallback,
    win32CancelComWrite,
};

} // namespace

const SerialBackend *systemSerialBackend()
{
    return &kWin32SerialBackend;
}
