// The event loop of the UI thread and the clock it keeps: the seam between
// the run-time services and what drives them. The window and the command-line
// updater run on Qt's event loop and the real clock (event_loop_qt.cpp);
// tests and fuzzers may install a loop of their own that runs on a manual
// clock (testing/manual_loop.h), so that a whole update runs at the speed of
// the processor and in an order the test chooses. Internal to platform/.
#pragma once

namespace platform {

using TimerFunction = void (*)(void *data);

struct EventLoopBackend {
    // True on the thread that runs the callbacks.
    bool (*onUiThread)();
    // Runs callbacks until quit(); returns quit's code. UI thread.
    int (*run)();
    // Ends the innermost run(); with none running, the next run() returns at once.
    void (*quit)(int returnCode);
    // Calls were queued for the UI thread (ui_queue): have them delivered
    // soon. Any thread; never waits.
    void (*wake)();
    // Seconds since a fixed point, monotonic. Any thread.
    double (*now)();
    // Pauses the calling thread; no event is delivered meanwhile.
    void (*sleep)(double seconds);
    // Calls fn(data) from the event loop `seconds` from now, once or every
    // `seconds`. Returns an id > 0, or 0 when no timer can be started. UI thread.
    int (*startTimer)(double seconds, bool repeat, TimerFunction fn, void *data);
    // No call comes for `id` after this; an unknown id is ignored. UI thread.
    void (*stopTimer)(int id);
    // The pool's thread, before and after each function it runs, and the UI
    // thread around a wait for that thread: a manual loop lets a worker run
    // only when its driver says so, and freely while the UI thread waits.
    void (*workerStarts)();
    void (*workerEnds)();
    void (*uiWaitsForWorker)(bool waiting);
};

// Qt's event loop (QCoreApplication or QApplication) and the real clock.
extern const EventLoopBackend kQtEventLoop;

// Switches the run-time to `backend` (nullptr: Qt's). Only while nothing
// runs: no timer started, no pool, no port open.
void selectEventLoop(const EventLoopBackend *backend);
const EventLoopBackend &eventLoop();

} // namespace platform
