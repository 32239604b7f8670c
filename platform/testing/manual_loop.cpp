// The manual event loop: timers in a table ordered by moment, posted calls
// from the run-time's queue, and a hand-shake that lets the pool's worker go
// one stretch at a time.
#include "manual_loop.h"

#include "event_loop.h"
#include "ui_queue.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

struct Timer {
    int id;
    long long moment;     // when it runs next, in microseconds of the clock
    unsigned long order;  // of its start (or its last run): breaks ties of moment
    long long period;     // microseconds between calls; 0 for a single call
    platform::TimerFunction fn;
    void *data;
};

// The running timers, few at a time: a flat table looked through whole,
// which allocates nothing once it has grown. UI thread.
std::vector<Timer> timers;
unsigned long nextOrder = 1;
int nextTimerId = 1;

// The timer due first (by moment, then order of start), or timers.end().
std::vector<Timer>::iterator firstTimer()
{
    auto first = timers.begin();
    for (auto it = timers.begin(); it != timers.end(); ++it)
        if (it->moment < first->moment || (it->moment == first->moment && it->order < first->order))
            first = it;
    return first;
}

// The clock counts whole microseconds: moments computed by different sums
// of the same durations (a timer's start plus its delay, a repeating
// timer's periods, a driver's steps) are then equal when they should be, so
// what is due at a moment has run once the clock stands there.
std::atomic<long long> clockMicros{0};

long long micros(double seconds)
{
    return seconds > 0.0 ? std::llround(seconds * 1e6) : 0;
}

double seconds(long long microseconds)
{
    return static_cast<double>(microseconds) / 1e6;  // 1500 gives exactly the double 0.0015
}
std::thread::id uiThread;
int runDepth = 0;
bool quitPending = false;
int quitCode = 0;

// The worker's hand-shake.
struct Worker {
    std::mutex mutex;
    std::condition_variable changed;
    // Written under the mutex; atomics so that a side may look at them
    // without it while it spins (below).
    std::atomic<int> waiting{0};         // workers held at a pause or at their start
    std::atomic<int> grants{0};          // stretches granted and not yet taken
    std::atomic<unsigned long> arrivals{0};  // pauses reached and functions ended, ever
    std::atomic<int> freeRunning{0};     // the UI thread waits for the pool: nothing is held
    int running = 0;                     // workers inside their function
};

// The driver and the worker hand over to each other many times an update,
// each waiting for the other's next step. Each first looks again for a
// moment before it sleeps, which catches a step that ends at once. Only a
// moment (a few microseconds): a longer spin (4000 pauses, tried) mostly
// burnt the time the other thread needed, on a machine with more runnable
// threads than cores (the fuzzer beside two builds: 540-610 us of processor
// time an input against 400-430 us).
template <typename Ready>
bool spinFor(Ready ready)
{
    for (int i = 0; i < 200; ++i) {
        if (ready())
            return true;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    return false;
}

Worker &worker()
{
    static Worker w;
    return w;
}

bool manualOnUiThread()
{
    return std::this_thread::get_id() == uiThread;
}

// A worker reaches a pause: it waits there for the driver's grant.
void holdWorker()
{
    Worker &w = worker();
    std::unique_lock<std::mutex> lock(w.mutex);
    if (w.freeRunning > 0)
        return;
    ++w.waiting;
    ++w.arrivals;
    w.changed.notify_all();
    const auto released = [&w] { return w.grants > 0 || w.freeRunning > 0; };
    lock.unlock();
    spinFor(released);
    lock.lock();
    w.changed.wait(lock, released);
    if (w.grants > 0)
        --w.grants;
    --w.waiting;
}

void manualWorkerStarts()
{
    {
        Worker &w = worker();
        std::lock_guard<std::mutex> lock(w.mutex);
        ++w.running;
    }
    holdWorker();
}

void manualWorkerEnds()
{
    Worker &w = worker();
    std::lock_guard<std::mutex> lock(w.mutex);
    --w.running;
    ++w.arrivals;
    w.changed.notify_all();
}

void manualUiWaitsForWorker(bool waiting)
{
    Worker &w = worker();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.freeRunning += waiting ? 1 : -1;
    if (w.freeRunning == 0)
        w.grants = 0;  // a grant nobody took does not outlive the wait
    w.changed.notify_all();
}

bool runOneDue()
{
    if (platform::uiCallsQueued()) {
        DeliverQueuedUiCalls();
        return true;
    }
    const auto it = firstTimer();
    if (it == timers.end() || it->moment > clockMicros.load())
        return false;
    const platform::TimerFunction fn = it->fn;
    void *const data = it->data;
    if (it->period > 0.0) {
        it->moment += it->period;
        it->order = nextOrder++;
    } else {
        // Over: forgotten before the call, which may start another.
        *it = timers.back();
        timers.pop_back();
    }
    fn(data);
    return true;
}

int manualRun()
{
    if (!manualOnUiThread())
        return -1;
    ++runDepth;
    for (;;) {
        while (!quitPending && runOneDue()) {
        }
        if (quitPending || !ManualLoopAdvanceToNextTimer())
            break;
    }
    --runDepth;
    if (!quitPending)
        return -1;  // nothing left that could ever end it
    quitPending = false;
    return quitCode;
}

void manualQuit(int returnCode)
{
    if (!manualOnUiThread()) {
        platform::postToUiThread([returnCode] { manualQuit(returnCode); });
        return;
    }
    quitPending = true;
    quitCode = returnCode;
}

void manualWake() {}

double manualNow()
{
    return seconds(clockMicros.load());
}

// The UI thread's pause lets time pass (what falls due runs at the next
// pump); the worker's is where the driver holds it.
void manualSleep(double pause)
{
    if (manualOnUiThread()) {
        clockMicros.store(clockMicros.load() + micros(pause));
        return;
    }
    holdWorker();
}

int manualStartTimer(double delaySeconds, bool repeat, platform::TimerFunction fn, void *data)
{
    if (!fn || !manualOnUiThread())
        return 0;
    const int id = nextTimerId;
    nextTimerId = nextTimerId == 0x7fffffff ? 1 : nextTimerId + 1;
    const long long delay = micros(delaySeconds);
    // A repeating timer of no period would hold the clock forever.
    const long long period = repeat ? (delay > 0 ? delay : 1) : 0;
    timers.push_back(Timer{id, clockMicros.load() + delay, nextOrder++, period, fn, data});
    return id;
}

void manualStopTimer(int id)
{
    for (auto it = timers.begin(); it != timers.end(); ++it)
        if (it->id == id) {
            *it = timers.back();
            timers.pop_back();
            return;
        }
}

const platform::EventLoopBackend kManualLoop = {
    manualOnUiThread, manualRun,         manualQuit,          manualWake,
    manualNow,        manualSleep,       manualStartTimer,    manualStopTimer,
    manualWorkerStarts, manualWorkerEnds, manualUiWaitsForWorker,
    nullptr,          nullptr,           nullptr,  // no device to watch on a manual clock
};

} // namespace

void UseManualLoop(bool on)
{
    if (on) {
        uiThread = std::this_thread::get_id();
        ManualLoopReset();
    }
    platform::selectEventLoop(on ? &kManualLoop : nullptr);
}

void ManualLoopReset()
{
    timers.clear();
    clockMicros.store(0);
    quitPending = false;
    quitCode = 0;
}

double ManualLoopNow()
{
    return seconds(clockMicros.load());
}

int ManualLoopRunDue()
{
    int ran = 0;
    while (runOneDue())
        ++ran;
    return ran;
}

int ManualLoopAdvance(double pause)
{
    const long long end = clockMicros.load() + micros(pause);
    int ran = ManualLoopRunDue();
    for (auto it = firstTimer(); it != timers.end() && it->moment <= end; it = firstTimer()) {
        if (it->moment > clockMicros.load())
            clockMicros.store(it->moment);
        ran += ManualLoopRunDue();
    }
    if (end > clockMicros.load())
        clockMicros.store(end);
    return ran + ManualLoopRunDue();
}

bool ManualLoopAdvanceToNextTimer()
{
    const auto it = firstTimer();
    if (it == timers.end())
        return false;
    if (it->moment > clockMicros.load())
        clockMicros.store(it->moment);
    ManualLoopRunDue();
    return true;
}

int ManualLoopTimers()
{
    return static_cast<int>(timers.size());
}

bool ManualLoopStepWorker(double patienceSeconds)
{
    Worker &w = worker();
    std::unique_lock<std::mutex> lock(w.mutex);
    const auto patience = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(patienceSeconds > 0.0 ? patienceSeconds : 0.0));
    if (!w.changed.wait_for(lock, patience, [&w] { return w.waiting > 0; }))
        return false;
    const unsigned long before = w.arrivals;
    ++w.grants;
    w.changed.notify_all();
    const auto arrived = [&w, before] { return w.arrivals != before; };
    lock.unlock();
    spinFor(arrived);
    lock.lock();
    w.changed.wait(lock, arrived);
    return true;
}

int ManualLoopWorkersRunning()
{
    Worker &w = worker();
    std::lock_guard<std::mutex> lock(w.mutex);
    return w.running;
}
