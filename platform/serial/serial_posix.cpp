// Serial ports on POSIX termios (Linux): one non-blocking file descriptor per
// COM number, waits done with ppoll, the receive callback a readable-handle
// watch of the event loop.
//
//   1. The port table and its locking
//   2. Line settings
//   3. Open and close
//   4. Configuration
//   5. Reads and writes
//   6. The receive callback and hang-up
#include "serial.h"
#include "serial_holders.h"
#include "serial_ports_map.h"
#include "event_loop.h"
#include "popup_hold.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <shared_mutex>
#include <string>
#include <cstdint>
#include <cstdio>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

// ---------------------------------------------------------------------------
// 1. The port table and its locking
//
// The worker writes to the camera's port while the UI thread reads from it,
// so each port has a shared_mutex: reads, writes and queries hold it shared
// (they only use the descriptor), open, close and configuration hold it
// exclusive, so the descriptor is never closed or replaced under a read or
// write. The flags a reader may change (hang-up, errno) are atomics.

namespace {

using Clock = std::chrono::steady_clock;

constexpr long long kDefaultTimeoutNs = 10'000'000'000LL;

struct Port {
    std::shared_mutex lock;                  // see above
    int fd = -1;                             // open descriptor or -1; guarded by lock
    std::string device;                      // path fd was opened on; guarded by lock
    dev_t rdev = 0;                          // device number behind fd; guarded by lock
    std::atomic<bool> hungUp{false};         // device went away; any thread sets, open/close clear
    std::atomic<long long> timeoutNs{kDefaultTimeoutNs};  // read/write bound; SetComTime writes
    std::atomic<int> lastErrno{0};           // errno of the last system error, any thread
    std::atomic<int> shortWriteLimit{-1};    // test hook: bytes accepted per ComWrt, -1 = all
    std::atomic<bool> hangUpReported{false}; // the hang-up callback has run for this open
    std::atomic<bool> writeCancelled{false}; // CancelComWrite: writes end at once until closed
    std::atomic<unsigned> opening{0};        // counts opens and closes: a write that let go of
                                             // the lock knows whether its descriptor is still the port's
    int wakeFd = -1;                         // eventfd that ends a write's wait; made once, never closed
    ComOpenFailure failure{};                // why the last open did not open; UI thread
    // Test hook (UI thread): opens fail as if refused with this errno, 0 = real.
    int injectedErrno = 0;
    std::string injectedHolder;
    int injectedHolderPid = 0;
    // Receive callback. Touched only on the thread that installed it (the UI
    // thread), and written there under the exclusive lock.
    int watch = 0;                           // the event loop's watch of fd, 0 = none
    ComCallbackPtr callback = nullptr;
    void *callbackData = nullptr;
    bool callbackHeld = false;               // HoldComCallback: bytes wait, no callback
    ComCallbackPtr hangUpCallback = nullptr; // called once when the device goes away
    void *hangUpData = nullptr;
};

std::array<Port, kComMaxPort + 1> &portTable()
{
    static std::array<Port, kComMaxPort + 1> ports;  // index = COM number, 0 unused
    return ports;
}

bool validPort(int port)
{
    return port >= 1 && port <= kComMaxPort;
}

Port &portAt(int port)
{
    return portTable()[static_cast<std::size_t>(port)];
}

int systemError(Port &p, int error)
{
    p.lastErrno.store(error, std::memory_order_relaxed);
    return kComSystemError;
}

int markHungUp(Port &p, int error)
{
    p.lastErrno.store(error, std::memory_order_relaxed);
    p.hungUp.store(true, std::memory_order_relaxed);
    return kComHangUp;
}

// For calls that use an open port: kComNotOpen, kComHangUp, or 0 when usable.
// Caller holds the lock in either mode.
int usable(const Port &p)
{
    if (p.fd < 0)
        return kComNotOpen;
    if (p.hungUp.load(std::memory_order_relaxed))
        return kComHangUp;
    return 0;
}

// The prologue of every call on an open port, once: the port by number,
// its lock taken in `Lock`'s mode (shared for reads and writes, which the
// UI thread and the worker make at once; unique for a change of settings),
// then `call(port)` when the port is usable, else the code that says why not.
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

// Waits for `events` on fd until `deadline`. Returns the events that came
// (possibly POLLHUP/POLLERR/POLLNVAL), 0 on time-out, -1 on error (errno set).
int waitForEvents(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
            deadline - Clock::now());
        timespec wait{0, 0};
        if (left.count() > 0) {
            wait.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
            wait.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
        }
        pollfd entry{fd, events, 0};
        const int ready = ::ppoll(&entry, 1, &wait, nullptr);
        if (ready > 0)
            return entry.revents;
        if (ready == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

bool deviceGone(int fd)
{
    const int events = waitForEvents(fd, POLLIN, Clock::now());
    return events > 0 && (events & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// Ends the callback of a port: stops its watch (it may be the very watch
// whose call is running). Closed from another thread than the UI thread,
// the watch is switched off there soon after; it is already detached from
// the port, so a last firing before then is ignored.
void releaseNotifier(Port &p)
{
    const int watch = p.watch;
    p.watch = 0;
    p.callback = nullptr;
    p.callbackData = nullptr;
    if (watch != 0)
        platform::eventLoop().stopWatch(watch);
}

// ---------------------------------------------------------------------------
// 2. Line settings

speed_t speedFor(long baudRate)
{
    switch (baudRate) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    case 2500000: return B2500000;
    case 3000000: return B3000000;
    case 3500000: return B3500000;
    case 4000000: return B4000000;
    default: return B0;
    }
}

struct LineSettings {
    speed_t speed;
    int parity;
    int dataBits;
    int stopBits;
};

// Raw bytes both ways: no echo, no line editing, no CR/LF translation, no
// signals, no XON/XOFF and no CTS (the bootloader uses neither). CLOCAL so a
// cable without carrier detect still talks and does not hang us up.
int applyLineSettings(Port &p, const LineSettings &line)
{
    termios tio{};
    if (::tcgetattr(p.fd, &tio) != 0)
        return systemError(p, errno);
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= sizes[line.dataBits - 5];
    if (line.parity != 0) {
        tio.c_cflag |= PARENB;
        if (line.parity == 1)
            tio.c_cflag |= PARODD;
        tio.c_iflag |= INPCK;
    }
    if (line.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    // The descriptor is non-blocking and waits are ppoll's. VMIN 1 so that a
    // read with nothing waiting fails with EAGAIN; with VMIN 0 it would
    // return 0, which could not be told from a hang-up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, line.speed) != 0 || ::cfsetospeed(&tio, line.speed) != 0)
        return systemError(p, errno);
    if (::tcsetattr(p.fd, TCSANOW, &tio) != 0)
        return systemError(p, errno);
    return 0;
}

// Read-modify-write of some termios flags. Caller holds the exclusive lock.
int changeFlags(Port &p, tcflag_t termios::*field, tcflag_t flags, bool on)
{
    termios tio{};
    if (::tcgetattr(p.fd, &tio) != 0)
        return systemError(p, errno);
    if (on)
        tio.*field |= flags;
    else
        tio.*field &= ~flags;
    if (::tcsetattr(p.fd, TCSANOW, &tio) != 0)
        return systemError(p, errno);
    return 0;
}

// ---------------------------------------------------------------------------
// 3. Open and close (UI thread)

// Caller holds the exclusive lock.
// Writes go out again after a CancelComWrite (close or reopen). Caller
// holds the lock exclusive.
void clearWriteCancel(Port &p)
{
    p.writeCancelled.store(false, std::memory_order_relaxed);
    std::uint64_t pending = 0;
    while (p.wakeFd >= 0 && ::read(p.wakeFd, &pending, sizeof pending) > 0) {
    }
}

void releasePort(Port &p)
{
    releaseNotifier(p);
    if (p.fd >= 0) {
        ::ioctl(p.fd, TIOCNXCL);
        ::close(p.fd);
    }
    p.fd = -1;
    p.device.clear();
    p.rdev = 0;
    p.hungUp.store(false, std::memory_order_relaxed);
    p.hangUpReported.store(false, std::memory_order_relaxed);
    p.opening.fetch_add(1, std::memory_order_relaxed);
    clearWriteCancel(p);
    p.hangUpCallback = nullptr;
    p.hangUpData = nullptr;
    p.callbackHeld = false;
}

void copyText(char *to, std::size_t size, const std::string &text)
{
    std::snprintf(to, size, "%s", text.c_str());
}

// Records why the open failed, for the operator's message, and returns the error.
int refuse(Port &p, int error, int systemErrno, const std::string &device,
           const std::vector<platform::DeviceHolder> &holders = {}, int ownPort = 0)
{
    p.lastErrno.store(systemErrno, std::memory_order_relaxed);
    ComOpenFailure &f = p.failure;
    f = ComOpenFailure{};
    f.error = error;
    f.systemErrno = systemErrno;
    copyText(f.device, sizeof f.device, device);
    if (error == kComSystemError && (systemErrno == EACCES || systemErrno == EPERM))
        copyText(f.group, sizeof f.group, platform::deviceGroup(device));
    if (!holders.empty()) {
        copyText(f.holder, sizeof f.holder, holders.front().program);
        f.holderPid = holders.front().pid;
    }
    f.ownPort = ownPort;
    return error;
}

// Another program holds the device: refused, naming the holder when /proc
// tells it within the budget (else the operator hears "another program").
int refuseHeld(Port &p, int systemErrno, const std::string &device)
{
    std::vector<platform::DeviceHolder> holders;
    platform::findDeviceHoldersWithin(device, platform::kHolderScanBudget, &holders);
    return refuse(p, kComBusy, systemErrno, device, holders);
}

bool nodeExists(const std::string &device)
{
    struct stat info {};
    return ::stat(device.c_str(), &info) == 0;
}

// The other COM number this program already has open on `device` (under
// any name: a link and its target are one device), 0 when none. Called
// without the lock of `port`; takes each other port's lock in turn.
int portOpenOn(int port, const std::string &device)
{
    struct stat node {};
    if (::stat(device.c_str(), &node) != 0 || !S_ISCHR(node.st_mode))
        return 0;
    for (int other = 1; other <= kComMaxPort; ++other) {
        if (other == port)
            continue;
        Port &q = portAt(other);
        std::shared_lock<std::shared_mutex> lock(q.lock);
        if (q.fd >= 0 && !q.hungUp.load(std::memory_order_relaxed) && q.rdev == node.st_rdev)
            return other;
    }
    return 0;
}

// The injected refusal of a test, as the system would have given it.
int injectedRefusal(Port &p, const std::string &device)
{
    if (p.injectedErrno == EBUSY) {
        std::vector<platform::DeviceHolder> holders;
        if (p.injectedHolderPid > 0)
            holders.push_back({p.injectedHolderPid, p.injectedHolder});
        return refuse(p, kComBusy, EBUSY, device, holders);
    }
    return refuse(p, kComSystemError, p.injectedErrno, device);
}

// A fresh descriptor on `device`, kept only when nobody else uses the device:
// TIOCEXCL keeps later opens out (not root's), flock a second loader or a
// locking terminal program (root too), /proc shows the rest. A device this
// program already has open as `ownPort` is refused as such, never as held
// by another program. /proc is read only here, once per open, within the
// holder scan's budget: past it the port is taken on the locks alone.
// Returns the descriptor, or a ComError recorded with refuse().
int openExclusive(Port &p, const std::string &device, int ownPort)
{
    if (p.injectedErrno != 0 && nodeExists(device))
        return injectedRefusal(p, device);
    if (ownPort != 0)
        return refuse(p, kComBusy, EBUSY, device, {}, ownPort);
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENXIO || error == ENODEV || error == ENOTDIR)
            return refuse(p, kComNoDevice, error, "");
        if (error == EBUSY)  // TIOCEXCL of another program
            return refuseHeld(p, error, device);
        return refuse(p, kComSystemError, error, device);
    }
    if (!::isatty(fd)) {  // a plain file or /dev/null is no serial port
        ::close(fd);
        return refuse(p, kComNoDevice, ENOTTY, "");
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return refuseHeld(p, error, device);
    }
    std::vector<platform::DeviceHolder> holders;
    platform::findDeviceHoldersWithin(device, platform::kHolderScanBudget, &holders);
    if (!holders.empty()) {
        ::close(fd);
        return refuse(p, kComBusy, EBUSY, device, holders);
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno;
        ::close(fd);
        return refuse(p, kComSystemError, error, device);
    }
    return fd;
}

} // namespace

int posixOpenComConfig(int port, const char *deviceName, long baudRate, int parity,
                  int dataBits, int stopBits, int /*inputQueueSize*/, int /*outputQueueSize*/)
{
    const LineSettings line{speedFor(baudRate), parity, dataBits, stopBits};
    if (!validPort(port) || line.speed == B0 || parity < 0 || parity > 2 || dataBits < 5
        || dataBits > 8 || stopBits < 1 || stopBits > 2)
        return kComArgumentError;

    const std::string device = (deviceName && *deviceName) ? std::string(deviceName)
                                                           : platform::deviceForComPort(port);
    const int ownPort = device.empty() ? 0 : portOpenOn(port, device);
    Port &p = portAt(port);
    std::unique_lock<std::shared_mutex> lock(p.lock);

    if (p.fd >= 0 && !p.hungUp.load(std::memory_order_relaxed) && p.device == device) {
        // Still open from an earlier scan: same descriptor, same callback.
        clearWriteCancel(p);
        const int result = applyLineSettings(p, line);
        if (result != 0)
            releasePort(p);  // a result other than 0 always means "not open"
        p.failure = ComOpenFailure{};
        p.failure.error = result;
        return result;
    }
    releasePort(p);
    if (device.empty())
        return refuse(p, kComNoDevice, 0, "");
    const int fd = openExclusive(p, device, ownPort);
    if (fd < 0)
        return fd;
    struct stat node {};
    if (p.wakeFd < 0)
        p.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    p.fd = fd;
    p.device = device;
    p.rdev = ::fstat(fd, &node) == 0 ? node.st_rdev : 0;
    p.timeoutNs.store(kDefaultTimeoutNs, std::memory_order_relaxed);
    const int result = applyLineSettings(p, line);
    if (result != 0)
        releasePort(p);
    p.failure = ComOpenFailure{};
    p.failure.error = result;
    copyText(p.failure.device, sizeof p.failure.device, device);
    return result;
}

int posixGetComOpenFailure(int port, ComOpenFailure *failure)
{
    if (!validPort(port) || !failure)
        return kComArgumentError;
    Port &p = portAt(port);
    std::shared_lock<std::shared_mutex> lock(p.lock);
    *failure = p.failure;
    return 0;
}

void posixComInjectOpenError(int port, int systemErrno, const char *holderProgram, int holderPid)
{
    if (!validPort(port))
        return;
    Port &p = portAt(port);
    std::unique_lock<std::shared_mutex> lock(p.lock);
    p.injectedErrno = systemErrno;
    p.injectedHolder = holderProgram ? holderProgram : "";
    p.injectedHolderPid = holderPid;
}

int posixCloseCom(int port)
{
    if (!validPort(port))
        return kComArgumentError;
    Port &p = portAt(port);
    std::unique_lock<std::shared_mutex> lock(p.lock);
    if (p.fd < 0)
        return kComNotOpen;
    releasePort(p);
    return 0;
}

// ---------------------------------------------------------------------------
// 4. Configuration

int posixSetComTime(int port, double timeoutSeconds)
{
    if (!(timeoutSeconds >= 0.0))
        return kComArgumentError;
    return onUsablePort<Shared>(port, [&](Port &p) {
        const double capped = std::min(timeoutSeconds, 1.0e6);
        p.timeoutNs.store(static_cast<long long>(std::llround(capped * 1e9)),
                          std::memory_order_relaxed);
        return 0;
    });
}

int posixSetXMode(int port, int on)
{
    if (on != 0 && on != 1)
        return kComArgumentError;
    return onUsablePort<Unique>(port, [&](Port &p) {
        return changeFlags(p, &termios::c_iflag, IXON | IXOFF, on == 1);
    });
}

int posixSetCTSMode(int port, int on)
{
    if (on != 0 && on != 1)
        return kComArgumentError;
    return onUsablePort<Unique>(port, [&](Port &p) {
        return changeFlags(p, &termios::c_cflag, CRTSCTS, on == 1);
    });
}

namespace {

int flushQueue(int port, int queue)
{
    return onUsablePort<Shared>(port, [&](Port &p) {
        if (::tcflush(p.fd, queue) != 0)
            return errno == EIO ? markHungUp(p, errno) : systemError(p, errno);
        return 0;
    });
}

} // namespace

int posixFlushInQ(int port)
{
    return flushQueue(port, TCIFLUSH);
}

int posixFlushOutQ(int port)
{
    return flushQueue(port, TCOFLUSH);
}

void posixComInjectShortWrite(int port, int maxBytes)
{
    if (validPort(port))
        portAt(port).shortWriteLimit.store(maxBytes < 0 ? -1 : maxBytes,
                                           std::memory_order_relaxed);
}

int posixComErrno(int port)
{
    return validPort(port) ? portAt(port).lastErrno.load(std::memory_order_relaxed) : 0;
}

const char *posixComDevicePath(int port)
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

// Bytes waiting, or kComHangUp / kComSystemError. Caller holds the lock.
int bytesWaiting(Port &p)
{
    int waiting = 0;
    if (::ioctl(p.fd, FIONREAD, &waiting) != 0)
        return markHungUp(p, errno);  // a hung-up tty answers EIO
    if (waiting == 0 && deviceGone(p.fd))
        return markHungUp(p, EIO);
    return waiting;
}

} // namespace

int posixGetInQLen(int port)
{
    return onUsablePort<Shared>(port, [](Port &p) { return bytesWaiting(p); });
}

namespace {

// One byte, waiting up to the port's time-out. Caller holds the lock.
int readByte(Port &p)
{
    const auto deadline = Clock::now()
        + std::chrono::nanoseconds(p.timeoutNs.load(std::memory_order_relaxed));
    bool lastTry = false;  // the line reported a hang-up or error: one more read, then give up
    for (;;) {
        unsigned char byte = 0;
        const ssize_t got = ::read(p.fd, &byte, 1);
        if (got == 1)
            return byte;
        if (got == 0)  // end of file on a terminal: the other end is gone
            return markHungUp(p, EIO);
        if (errno == EINTR)
            continue;
        if (errno == EIO)
            return markHungUp(p, errno);
        if (errno != EAGAIN)
            return systemError(p, errno);
        if (lastTry)
            return markHungUp(p, EIO);
        const int events = waitForEvents(p.fd, POLLIN, deadline);
        if (events == 0)
            return kComTimeout;
        if (events < 0)
            return systemError(p, errno);
        lastTry = (events & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
}

// Waits until `deadline` for room on `fd` or for CancelComWrite's wake on
// `wakeFd`, without any lock. Returns the events of fd (0 on time-out or
// when `fd` is -1), -1 on error (errno set), or kWoken.
constexpr int kWoken = -2;
int waitForRoomOrWake(int fd, int wakeFd, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
        timespec wait{0, 0};
        if (left.count() > 0) {
            wait.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
            wait.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
        }
        pollfd entries[2] = {{wakeFd, POLLIN, 0}, {fd, POLLOUT, 0}};
        const int ready = ::ppoll(entries, fd >= 0 ? 2 : 1, &wait, nullptr);
        if (ready > 0)
            return entries[0].revents != 0 ? kWoken : entries[1].revents;
        if (ready == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

} // namespace

// Writes `count` bytes (count > 0), honouring an injected short write. The
// port's lock is held, shared, only around each write(): a full line is
// waited for without it, on a duplicate of the descriptor, so that the UI
// thread's receive, hold, close and Stop never wait behind a stalled camera.
// CancelComWrite ends the wait at once. Returns what went out, or the code
// that says why nothing did.
int posixComWrt(int port, const char *buffer, int count)
{
    if (count < 0 || (count > 0 && !buffer) || !validPort(port))
        return kComArgumentError;
    Port &p = portAt(port);
    Shared lock(p.lock);
    if (const int state = usable(p))
        return state;
    if (count == 0)
        return 0;
    const auto deadline = Clock::now()
        + std::chrono::nanoseconds(p.timeoutNs.load(std::memory_order_relaxed));
    const int limit = p.shortWriteLimit.load(std::memory_order_relaxed);
    const int accepted = limit >= 0 && limit < count ? limit : count;
    const unsigned opening = p.opening.load(std::memory_order_relaxed);
    const int wakeFd = p.wakeFd;

    int written = 0;
    int failure = kComTimeout;  // what to report when nothing at all went out
    int waitFd = -1;            // the duplicate waited on without the lock
    for (;;) {
        if (p.writeCancelled.load(std::memory_order_relaxed))
            break;  // as a time-out: what went out counts
        const bool stalled = written == accepted;  // only the injected stall is left
        if (stalled && accepted == count)
            break;
        if (!stalled) {
            const ssize_t put = ::write(p.fd, buffer + written,
                                        static_cast<std::size_t>(accepted - written));
            if (put > 0) {
                written += static_cast<int>(put);
                continue;
            }
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0 && errno != EAGAIN) {
                failure = errno == EIO ? markHungUp(p, errno) : systemError(p, errno);
                break;
            }
            if (waitFd < 0 && (waitFd = ::fcntl(p.fd, F_DUPFD_CLOEXEC, 0)) < 0) {
                failure = systemError(p, errno);
                break;
            }
        }
        // The injected stall: the cable takes no more until the time-out.
        lock.unlock();
        const int events = waitForRoomOrWake(stalled ? -1 : waitFd, wakeFd, deadline);
        const int waitErrno = errno;
        lock.lock();
        if (p.fd < 0 || p.opening.load(std::memory_order_relaxed) != opening) {
            failure = kComNotOpen;  // closed meanwhile: the descriptor is no longer the port's
            break;
        }
        if (events == kWoken || events == 0 || stalled)
            break;  // cancelled, or time-out: report what went out
        if (events < 0) {
            failure = systemError(p, waitErrno);
            break;
        }
        if ((events & POLLOUT) == 0) {  // POLLHUP/POLLERR alone
            failure = markHungUp(p, EIO);
            break;
        }
    }
    if (waitFd >= 0)
        ::close(waitFd);
    return written > 0 ? written : failure;
}

int posixCancelComWrite(int port)
{
    if (!validPort(port))
        return kComArgumentError;
    Port &p = portAt(port);
    Shared lock(p.lock);
    if (p.fd < 0)
        return kComNotOpen;
    p.writeCancelled.store(true, std::memory_order_relaxed);
    const std::uint64_t one = 1;
    if (p.wakeFd >= 0 && ::write(p.wakeFd, &one, sizeof one) < 0) {
        // Counter full: the writer is awake already.
    }
    return 0;
}

int posixComRdByte(int port)
{
    return onUsablePort<Shared>(port, readByte);
}


// ---------------------------------------------------------------------------
// 6. The receive callback and hang-up (UI thread)
//
// The watch fires on the UI thread whenever the descriptor is readable.
// A device that went away is "readable" forever (POLLHUP), so a firing with
// no byte waiting is checked for a hang-up: the watch is then switched off
// (else the event loop would spin) and the port marked failed.

namespace {

void enableWatch(int watch, bool on)
{
    platform::eventLoop().enableWatch(watch, on);
}

// Switches the watch back on once the popups have closed, if it is still
// the port's and the program does not hold the port's callback itself.
void resumeAfterPopups(int port, int watch)
{
    Port &p = portAt(port);
    std::shared_lock<std::shared_mutex> lock(p.lock);
    if (p.watch == watch && !p.callbackHeld && p.fd >= 0)
        enableWatch(watch, true);
}

void onPortReadable(int watch, void *portAsPointer)
{
    const int port = static_cast<int>(reinterpret_cast<std::intptr_t>(portAsPointer));
    if (ModalPopupOpen()) {  // the bytes wait until the popup has closed
        // Level-triggered: left on, it would fire on every pass of the popup's loop.
        enableWatch(watch, false);
        platform::holdUntilPopupsClose([port, watch] { resumeAfterPopups(port, watch); });
        return;
    }
    Port &p = portAt(port);
    ComCallbackPtr callback = nullptr;
    void *callbackData = nullptr;
    int event = 1;
    {
        std::shared_lock<std::shared_mutex> lock(p.lock);
        if (p.watch != watch || p.callbackHeld) {
            enableWatch(watch, false);
            return;
        }
        int state = usable(p);  // a worker's write may have seen the hang-up first
        const int waiting = state == 0 ? bytesWaiting(p) : 0;
        if (waiting < 0)
            state = waiting;
        if (state != 0) {
            enableWatch(watch, false);
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
    // Called without the lock: the callback reads, closes or reopens ports.
    if (callback)
        callback(port, event, callbackData);
}

} // namespace

int posixInstallComCallback(int port, int eventMask, int /*notifyCount*/, int /*eventChar*/,
                       ComCallbackPtr callback, void *callbackData)
{
    if (!validPort(port) || eventMask < 0 || (eventMask != 0 && (eventMask & 1) == 0)
        || (eventMask != 0 && !callback))
        return kComArgumentError;
    Port &p = portAt(port);
    std::unique_lock<std::shared_mutex> lock(p.lock);
    if (p.fd < 0)
        return kComNotOpen;
    if (eventMask == 0) {
        releaseNotifier(p);
        return 0;
    }
    if (p.hungUp.load(std::memory_order_relaxed))
        return kComHangUp;
    const platform::EventLoopBackend &loop = platform::eventLoop();
    if (!loop.watchReadable || !loop.onUiThread())
        return kComArgumentError;  // no event loop here to deliver the callback

    if (p.watch == 0) {
        p.watch = loop.watchReadable(p.fd, onPortReadable,
                                     reinterpret_cast<void *>(static_cast<std::intptr_t>(port)));
        if (p.watch == 0)
            return kComArgumentError;
    }
    p.callback = callback;
    p.callbackData = callbackData;
    enableWatch(p.watch, !p.callbackHeld);
    return 0;
}

int posixHoldComCallback(int port, int hold)
{
    if (!validPort(port) || (hold != 0 && hold != 1))
        return kComArgumentError;
    Port &p = portAt(port);
    std::unique_lock<std::shared_mutex> lock(p.lock);
    if (p.fd < 0)
        return kComNotOpen;
    p.callbackHeld = hold == 1;
    // Let go, the watch fires again for bytes still waiting and for a
    // hang-up that came meanwhile (the line reads as closed then).
    if (p.watch != 0)
        enableWatch(p.watch, !p.callbackHeld);
    return 0;
}

int posixInstallComHangUpCallback(int port, ComCallbackPtr callback, void *callbackData)
{
    if (!validPort(port))
        return kComArgumentError;
    Port &p = portAt(port);
    std::unique_lock<std::shared_mutex> lock(p.lock);
    if (p.fd < 0)
        return kComNotOpen;
    p.hangUpCallback = callback;
    p.hangUpData = callback ? callbackData : nullptr;
    return 0;
}

// ---------------------------------------------------------------------------
// The backend table serial.cpp forwards to.

#include "serial_backend.h"

namespace {

const SerialBackend kPosixSerialBackend = {
    posixOpenComConfig, posixCloseCom,   posixSetComTime,         posixSetXMode,
    posixSetCTSMode,    posixFlushInQ,   posixFlushOutQ,          posixInstallComCallback,
    posixGetInQLen,     posixComRdByte,  posixComWrt,             posixComErrno,
    posixComDevicePath, posixComInjectShortWrite, posixGetComOpenFailure,
    posixInstallComHangUpCallback, posixComInjectOpenError, posixHoldComCallback,
    posixCancelComWrite,
};

} // namespace

const SerialBackend *systemSerialBackend()
{
    return &kPosixSerialBackend;
}
