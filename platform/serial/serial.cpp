// The public serial calls, forwarded to the active backend: the operating
// system's ports unless a test or fuzzer switched to the in-memory ones.
#include "serial.h"
#include "serial_backend.h"
#include "serial_ports_map.h"

#include <atomic>

namespace {

// Read on every call from any thread; switched only while no port is open.
// nullptr: the operating system's.
std::atomic<const SerialBackend *> activeBackend{nullptr};

const SerialBackend &active()
{
    const SerialBackend *chosen = activeBackend.load(std::memory_order_acquire);
    return chosen ? *chosen : *systemSerialBackend();
}

} // namespace

void selectSerialBackend(const SerialBackend *backend)
{
    activeBackend.store(backend, std::memory_order_release);
}

int OpenComConfig(int port, const char *deviceName, long baudRate, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int outputQueueSize)
{
    return active().openComConfig(port, deviceName, baudRate, parity, dataBits, stopBits,
                                  inputQueueSize, outputQueueSize);
}

int CloseCom(int port) { return active().closeCom(port); }
int SetComTime(int port, double timeoutSeconds) { return active().setComTime(port, timeoutSeconds); }
int SetXMode(int port, int on) { return active().setXMode(port, on); }
int SetCTSMode(int port, int on) { return active().setCTSMode(port, on); }
int FlushInQ(int port) { return active().flushInQ(port); }
int FlushOutQ(int port) { return active().flushOutQ(port); }

int InstallComCallback(int port, int eventMask, int notifyCount, int eventChar,
                       ComCallbackPtr callback, void *callbackData)
{
    return active().installComCallback(port, eventMask, notifyCount, eventChar, callback,
                                       callbackData);
}

int GetInQLen(int port) { return active().getInQLen(port); }
int ComRdByte(int port) { return active().comRdByte(port); }
int ComWrt(int port, const char *buffer, int count) { return active().comWrt(port, buffer, count); }
int ComErrno(int port) { return active().comErrno(port); }
const char *ComDevicePath(int port) { return active().comDevicePath(port); }
void ComInjectShortWrite(int port, int maxBytes) { active().comInjectShortWrite(port, maxBytes); }
int GetComOpenFailure(int port, ComOpenFailure *failure)
{
    return active().getComOpenFailure(port, failure);
}

int InstallComHangUpCallback(int port, ComCallbackPtr callback, void *callbackData)
{
    return active().installComHangUpCallback(port, callback, callbackData);
}

int CancelComWrite(int port)
{
    return active().cancelComWrite(port);
}

int HoldComCallback(int port, int hold)
{
    return active().holdComCallback(port, hold);
}

void ComInjectOpenError(int port, int systemErrno, const char *holderProgram, int holderPid)
{
    active().comInjectOpenError(port, systemErrno, holderProgram, holderPid);
}

// The same for every backend: the numbering belongs to the port map.
void ComHoldNumbering() { platform::holdNumbering(true); }
void ComReleaseNumbering() { platform::holdNumbering(false); }
