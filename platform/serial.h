// Serial ports addressed by COM number (1..49 used by the loader; any number
// 1..kComMaxPort is accepted, others are an argument error).
//
// Which device a COM number names: when QUORVEL_COM_PORTS is set (read at
// every open) it is a comma-separated list of N=DEVICE pairs and exactly
// those numbers exist (set but empty: no port exists); otherwise COM1.. map
// to /dev/ttyACM*, then /dev/ttyUSB*, then the /dev/ttyS* behind which a UART
// really answers, each group in numeric order.
//
// Threads: reads and writes (ComWrt, ComRdByte, GetInQLen, FlushInQ/OutQ)
// may run on different threads on the same port at once, typically the
// worker writing while the UI thread reads. Opening, closing, configuring
// and installing callbacks belong to the UI thread; they wait for a read or
// write in progress on that port (at most its time-out) and are never
// concurrent with one.
//
// A device that goes away while open (USB cable pulled) leaves the port
// failed: its callback is no longer called and every call but CloseCom and
// OpenComConfig returns kComHangUp until it is closed or opened again.
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
};

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
// kComSystemError when the OS refuses (busy, permission; see ComErrno),
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
// installed it (the UI thread, which must run a Qt event loop), never while
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
int ComErrno(int port);                        // errno of the last system error on the port, 0 if none

// The device the port is open on, else the one its COM number maps to now
// ("" if none). For messages and tests. The text stays valid until the
// calling thread's next ComDevicePath.
const char *ComDevicePath(int port);

// Test hook: make the next writes on `port` accept at most `maxBytes` bytes
// per call and then stall until the time-out, as a cable that stops taking
// bytes does (-1 restores normal writes). Kept across open and close.
void ComInjectShortWrite(int port, int maxBytes);
