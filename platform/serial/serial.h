// Serial ports addressed by COM number (1..49 used by the loader; any number
// 1..kComMaxPort is accepted, others are an argument error).
//
// Which device a COM number names: when QUORVEL_COM_PORTS is set (read at
// every open) it is a comma-separated list of N=DEVICE pairs and exactly
// those numbers exist (set but empty: no port exists); otherwise COM1.. map
// to /dev/ttyACM*, then /dev/ttyUSB*, then the /dev/ttyS* behind which a UART
// really answers, each group in numeric order, as the machine has them now
// or, while the numbering is held (ComHoldNumbering), as it had them then.
//
// Threads: reads and writes (ComWrt, ComRdByte, GetInQLen, FlushInQ/OutQ)
// may run on different threads on the same port at once, typically the
// worker writing while the UI thread reads. Opening, closing, configuring
// and installing callbacks belong to the UI thread; they wait for a read in
// progress on that port (at most its time-out) and for the system call of a
// write, never for a write's wait on a full line, and are never concurrent
// with either.
//
// A device that goes away while open (USB cable pulled) leaves the port
// failed: its callback is no longer called, its hang-up callback (if any) is
// called once, and every call but CloseCom and OpenComConfig returns
// kComHangUp until it is closed or opened again.
//
// Exclusive use: a port is opened only when no other program holds the
// device: TIOCEXCL and flock(LOCK_EX) on the descriptor (so a second loader,
// or a terminal program that locks, is refused, as root too), and no other
// process that /proc shows with the device open (ModemManager probing a new
// modem, a serial monitor). Such a device gives kComBusy. /proc is read
// without touching any file's own file system, on a helper thread, and
// waited for at most half a second; past that the port is taken on the
// locks alone and a refused port's holder stays unnamed. A device already
// open here under another COM number gives kComBusy too, with
// ComOpenFailure::ownPort saying which.
//
// Error codes (all negative, closed set):
#pragma once

constexpr int kComMaxPort = 255;  // highest COM number accepted

enum ComError {
    kComArgumentError = -1, // bad COM number or argument: the caller's bug
    kComNoDevice      = -2, // no device behind this COM number
    kComSystemError   = -3, // the operating system refused (errno kept, see ComErrno)
    kComNotOpen       = -4, // the port is not open
    kComTimeout       = -5, // nothing arrived / nothing accepted within the time-out
    kComHangUp        = -6, // the device went away (unplugged); the port stays unusable
    kComBusy          = -7, // another program holds the device (see GetComOpenFailure)
};

// Event mask given to a hang-up callback (InstallComHangUpCallback).
constexpr int kComEventHangUp = 0x100;

// Receive callback: COM number, the events that fired (1 = bytes received),
// the data given at installation. Delivered on the UI thread.
using ComCallbackPtr = void (*)(int port, int eventMask, void *callbackData);

// Opens and configures: raw bytes, exclusive use, no XON/XOFF, no CTS, the
// line ignores modem control (CLOCAL). baudRate one of the usual rates
// 50..4000000; parity 0 none, 1 odd, 2 even; dataBits 5..8; stopBits 1..2.
// The queue sizes are accepted and ignored (the kernel's queues are used).
// deviceName "" = the device mapped to the COM number, else a device path.
// Returns 0 when the port is open with these settings, else a ComError:
// kComNoDevice when nothing (or no terminal) is behind the number,
// kComBusy when another program holds it, kComSystemError when the OS
// refuses otherwise (permission: errno EACCES; see ComErrno and
// GetComOpenFailure),
// kComArgumentError for a bad number or setting (then nothing changes).
// Re-opening a port that is still open on the same device reconfigures it
// in place and keeps its single callback; a failed (hung-up) port is opened
// afresh without callback. A new port's time-out is 10 s.
// The port is released by CloseCom (the caller owns it until then).
int OpenComConfig(int port, const char *deviceName, long baudRate, int parity,
                  int dataBits, int stopBits, int inputQueueSize, int outputQueueSize);
// Removes the callback and releases the device. Returns 0, or kComNotOpen
// without effect when the port is not open.
int CloseCom(int port);
// Bounds each later ComRdByte and ComWrt (0 = do not wait). Returns 0 or a ComError.
int SetComTime(int port, double timeoutSeconds);
int SetXMode(int port, int on);                // 0 off, 1 XON/XOFF both ways; 0 or a ComError
int SetCTSMode(int port, int on);              // 0 off, 1 RTS/CTS; 0 or a ComError
int FlushInQ(int port);                        // drops received bytes; 0 or a ComError
int FlushOutQ(int port);                       // drops bytes not yet sent; 0 or a ComError
// eventMask with bit 0 (bytes received) installs `callback`, replacing any
// earlier one of the port (the port keeps one); other bits are ignored.
// eventMask 0 removes it. notifyCount and eventChar are accepted and ignored:
// the callback comes whenever bytes are waiting, once per event-loop pass
// while they stay, so it should drain them. It runs on the thread that
// installed it (the UI thread, which must run the event loop), never while
// a port call of that thread is in progress. Returns 0 or a ComError
// (kComNotOpen without effect when the port is not open).
int InstallComCallback(int port, int eventMask, int notifyCount, int eventChar,
                       ComCallbackPtr callback, void *callbackData);
int GetInQLen(int port);                       // bytes waiting, or a ComError
int ComRdByte(int port);                       // 0..255, or a ComError (kComTimeout after the time-out)
// Writes `count` bytes; callable from another thread while the UI thread
// reads the same port. Returns the count accepted within the time-out
// (short on time-out) or a ComError when nothing could be written.
int ComWrt(int port, const char *buffer, int count);
// Ends a ComWrt waiting on the port at once, as its time-out would (it
// returns what went out), and every later one until the port is closed or
// opened again: the writer leaves now, whatever the line does. Any thread.
// Returns 0, or kComNotOpen / kComArgumentError.
int CancelComWrite(int port);
int ComErrno(int port);                        // errno of the last system error on the port, 0 if none

// The device the port is open on, else the one its COM number maps to now
// ("" if none). For messages and tests. The text stays valid until the
// calling thread's next ComDevicePath.
const char *ComDevicePath(int port);

// Test hook: make the next writes on `port` accept at most `maxBytes` bytes
// per call and then stall until the time-out, as a cable that stops taking
// bytes does (-1 restores normal writes). Kept across open and close.
void ComInjectShortWrite(int port, int maxBytes);

// Why the last OpenComConfig of a port did not open it, in the operator's
// terms. Plain fields, owned by the caller.
struct ComOpenFailure {
    int error;            // what that open returned: 0 (it opened) or a ComError
    int systemErrno;      // the errno behind kComSystemError or kComBusy, else 0
    char device[256];     // the device that was tried, "" when the number names none
    char group[64];       // permission denied: the group whose members may use the device
                          // ("dialout"); "" when joining a group would not help
    char holder[64];      // the program seen holding it ("ModemManager"), "" when unknown
    int holderPid;        // that program's pid, 0 when unknown
    int ownPort;          // kComBusy because this program has the device open as
                          // this COM number (a link and its target, or the list
                          // naming one device twice); 0 otherwise
};
// Fills `failure` for `port`. Returns 0, or kComArgumentError (bad number or
// null pointer; then nothing is written). UI thread, like OpenComConfig.
int GetComOpenFailure(int port, ComOpenFailure *failure);

// Installs the callback called, on the installing (UI) thread, when the
// device of the open port goes away: once per open, with kComEventHangUp,
// after the port is marked failed, from the event loop and never inside a
// port call. It is noticed while the port has its receive callback (the
// line is watched for that). `callback` nullptr removes it; CloseCom and a
// fresh OpenComConfig remove it too. Returns 0 or a ComError (kComNotOpen
// without effect when the port is not open).
int InstallComHangUpCallback(int port, ComCallbackPtr callback, void *callbackData);

// Holds the receive callback of an open port (hold 1): bytes wait in the
// queue and the callback is not called, so the program can read them at a
// pace of its own without the callback coming back on every event-loop
// pass. hold 0 lets the callback come again (at once when bytes wait); a
// hang-up during the hold is reported then. CloseCom ends the hold (an
// OpenComConfig that reconfigures the port in place keeps it). Returns 0 or a ComError (kComNotOpen without
// effect when the port is not open). UI thread.
int HoldComCallback(int port, int hold);

// Test hook: make the opens of `port` whose device exists fail as if the
// system refused with `systemErrno` (EACCES: permission denied; EBUSY: held,
// by `holderProgram`/`holderPid` when given, else by an unknown program).
// systemErrno 0 restores real opens. Kept across open and close.
void ComInjectOpenError(int port, int systemErrno, const char *holderProgram, int holderPid);

// Holds the automatic numbering still while the loader listens. Devices come
// and go during a scan (the camera is powered on after Ok, a USB device
// re-enumerates); numbering them by their sorted position would hand an open
// port's number to a newcomer and give the newcomer a number that names a
// device already open. From ComHoldNumbering to ComReleaseNumbering each COM
// number keeps the device it named when the hold was first used (the
// scan's first open, at once after ComHoldNumbering); a device that
// appears meanwhile takes the next free number, and a device that goes keeps
// its number (nothing is behind it until it is back at the same path).
// ComHoldNumbering again starts afresh from the devices present then.
// QUORVEL_COM_PORTS, when set, is read as always. Both may be called in any
// state; UI thread.
void ComHoldNumbering();
void ComReleaseNumbering();
