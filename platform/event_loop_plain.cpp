// The plain event loop: timers on the monotonic clock, calls posted from
// other threads (ui_queue), readable-handle watches, nested runs. It needs
// no toolkit; quorvel-flash, quorvel-pack and quorvel-ports run on it on
// every system. How the UI thread waits is the system half's
// (event_loop_system.h).
//
// One pass: wait until the earliest timer, a wake-up or a watched handle;
// deliver the posted calls; fire the timers due when the pass began (a
// repeating timer at most once a pass, so a zero interval cannot starve the
// rest); fire the watches found ready. Every call is made on the UI thread,
// never inside another.
#include "event_loop.h"
#include "event_loop_system.h"
#include "ui_queue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// The thread that runs main() is the UI thread: this is initialised before
// main, on it.
const std::thread::id uiThread = std::this_thread::get_id();
const Clock::time_point clockStart = Clock::now();

struct Timer {
    double due;       // seconds on plainNow's clock
    double interval;  // seconds, >= 0
    bool repeat;
    TimerFunction fn;
    void *data;
};

struct Watch {
    int handle;
    WatchFunction fn;
    void *data;
    bool enabled;
};

// All of these belong to the UI thread.
std::map<int, Timer> timers;
int nextTimerId = 1;
std::map<int, Watch> watches;
int nextWatchId = 1;

struct Run {
    bool done = false;
    int code = 0;
};
std::vector<Run *> runs;  // the runs in progress, innermost last
bool quitPending = false; // quit came with no run in progress
int pendingQuitCode = 0;

int nextId(int *counter)
{
    const int id = *counter;
    *counter = *counter == 0x7fffffff ? 1 : *counter + 1;
    return id;
}

bool plainOnUiThread()
{
    return std::this_thread::get_id() == uiThread;
}

double plainNow()
{
    return std::chrono::duration<double>(Clock::now() - clockStart).count();
}

void quitNow(int returnCode)
{
    if (runs.empty()) {
        quitPending = true;  // the next run returns at once
        pendingQuitCode = returnCode;
        return;
    }
    runs.back()->done = true;
    runs.back()->code = returnCode;
}

void plainQuit(int returnCode)
{
    if (plainOnUiThread())
        quitNow(returnCode);
    else
        postToUiThread([returnCode] { quitNow(returnCode); });
}

void plainWake()
{
    loop_system::wake();
}

void fireDueTimers(double passStart)
{
    std::vector<int> due;
    for (const auto &[id, timer] : timers)
        if (timer.due <= passStart)
            due.push_back(id);
    std::sort(due.begin(), due.end(), [](int a, int b) {
        const Timer &ta = timers[a];
        const Timer &tb = timers[b];
        return ta.due != tb.due ? ta.due < tb.due : a < b;
    });
    for (const int id : due) {
        if (!runs.empty() && runs.back()->done)
            return;  // the rest waits for the next run's pass
        const auto it = timers.find(id);
        if (it == timers.end() || it->second.due > passStart)
            continue;  // stopped, or restarted, by an earlier call of this pass
        const Timer timer = it->second;
        if (timer.repeat)  // behind time, it fires once on the next pass, not once per period missed
            it->second.due = std::max(timer.due + timer.interval, passStart);
        else
            timers.erase(it);  // over: forgotten before the call, which may start another
        timer.fn(timer.data);
    }
}

// One pass of the loop; see the file's head.
void pass()
{
    double timeout = -1.0;
    if (!timers.empty()) {
        double earliest = timers.begin()->second.due;
        for (const auto &entry : timers)
            earliest = std::min(earliest, entry.second.due);
        timeout = std::max(0.0, earliest - plainNow());
    }
    if (uiCallsQueued())
        timeout = 0.0;
    std::vector<int> ids;
    std::vector<int> handles;
    for (const auto &[id, watch] : watches)
        if (watch.enabled) {
            ids.push_back(id);
            handles.push_back(watch.handle);
        }
    std::vector<bool> ready(handles.size(), false);
    loop_system::wait(timeout, handles, &ready);

    DeliverQueuedUiCalls();
    fireDueTimers(plainNow());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (!ready[i] || (!runs.empty() && runs.back()->done))
            continue;
        const auto it = watches.find(ids[i]);
        if (it == watches.end() || !it->second.enabled)
            continue;  // stopped or switched off by an earlier call of this pass
        it->second.fn(ids[i], it->second.data);
    }
}

int plainRun()
{
    if (!plainOnUiThread())
        return -1;
    if (quitPending) {
        quitPending = false;
        return pendingQuitCode;
    }
    Run run;
    runs.push_back(&run);
    while (!run.done)
        pass();
    runs.pop_back();
    return run.code;
}

void plainSleep(double seconds)
{
    loop_system::sleep(seconds);
}

int plainStartTimer(double seconds, bool repeat, TimerFunction fn, void *data)
{
    if (!fn || !plainOnUiThread())
        return 0;
    const double interval = seconds > 0.0 ? std::min(seconds, 2.0e6) : 0.0;
    const int id = nextId(&nextTimerId);
    timers[id] = Timer{plainNow() + interval, interval, repeat, fn, data};
    return id;
}

void plainStopTimer(int id)
{
    timers.erase(id);
}

int plainWatchReadable(int handle, WatchFunction fn, void *data)
{
    if (!fn || handle < 0 || !plainOnUiThread() || !loop_system::canWatchHandles())
        return 0;
    const int id = nextId(&nextWatchId);
    watches[id] = Watch{handle, fn, data, true};
    return id;
}

void plainEnableWatch(int id, bool on)
{
    const auto it = watches.find(id);
    if (it != watches.end())
        it->second.enabled = on;
}

void plainStopWatch(int id)
{
    if (plainOnUiThread())
        watches.erase(id);
    else
        postToUiThread([id] { watches.erase(id); });
}

void nothing() {}
void nothingWaiting(bool) {}

} // namespace

const EventLoopBackend kPlainEventLoop = {
    plainOnUiThread,    plainRun,         plainQuit,      plainWake,
    plainNow,           plainSleep,       plainStartTimer, plainStopTimer,
    nothing,            nothing,          nothingWaiting,
    plainWatchReadable, plainEnableWatch, plainStopWatch,
};

} // namespace platform
