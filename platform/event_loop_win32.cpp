// The plain event loop's system half on Windows: the UI thread waits on a
// condition variable that other threads signal when they post a call. It
// watches no handle: a serial port's receive events come from the port's
// own thread as posted calls (serial/serial_win32.cpp). The system timer's
// period is asked down to 1 ms while the program runs, so a 1 ms pause is
// about 1 ms and not a 15.6 ms tick.
#include "event_loop_system.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <windows.h>
#include <timeapi.h>

namespace platform::loop_system {

namespace {

std::mutex wakeLock;
std::condition_variable wakeSignal;
bool woken = false;  // guarded by wakeLock

struct FineTimer {
    FineTimer() { ::timeBeginPeriod(1); }
    ~FineTimer() { ::timeEndPeriod(1); }
};
const FineTimer fineTimer;

} // namespace

bool canWatchHandles()
{
    return false;
}

void wait(double seconds, const std::vector<int> &, std::vector<bool> *)
{
    std::unique_lock<std::mutex> lock(wakeLock);
    if (seconds < 0.0) {
        wakeSignal.wait(lock, [] { return woken; });
    } else {
        const auto span = std::chrono::duration<double>(seconds > 1.0e6 ? 1.0e6 : seconds);
        wakeSignal.wait_for(lock, std::chrono::duration_cast<std::chrono::nanoseconds>(span),
                            [] { return woken; });
    }
    woken = false;
}

void wake()
{
    {
        std::lock_guard<std::mutex> lock(wakeLock);
        woken = true;
    }
    wakeSignal.notify_one();
}

void sleep(double seconds)
{
    if (!(seconds > 0.0))
        return;
    const auto deadline = std::chrono::steady_clock::now()
        + std::chrono::duration_cast<std::chrono::nanoseconds>(
              std::chrono::duration<double>(seconds > 1.0e6 ? 1.0e6 : seconds));
    std::this_thread::sleep_until(deadline);
}

// The 1 ms system timer period asked for above serves every thread.
void preciseTimersForThisThread() {}

} // namespace platform::loop_system
