// The event loop of the UI thread and the clock it keeps: the seam between
// the run-time services and what drives them. The window runs on Qt's event
// loop (event_loop_qt.cpp, chosen by UseQtPanel); the command-line tools run
// on a plain loop of our own and the real clock (event_loop_plain.cpp, with
// its system half in event_loop_posix.cpp or event_loop_win32.cpp), which is
// the default and needs no toolkit; tests and fuzzers may install a loop
// that runs on a manual clock (testing/manual_loop.h), so that a whole update
// runs at the speed of the processor and in an order the test chooses.
// Internal to platform/.
#pragma once

namespace platform {

using TimerFunction = void (*)(void *data);
// A readable-handle watch fired: its id and the data given with it.
using WatchFunction = void (*)(int watchId, void *data);

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
    // Calls fn(id, data) from the event loop while the file descriptor
    // `handle` has bytes to read or is hung up, on every pass while it stays
    // so (level-triggered), as long as the watch is enabled (it starts
    // enabled). Returns an id > 0, or 0 when this loop cannot watch handles
    // (a manual clock, Windows: the serial backend posts its own events
    // there). UI thread. May be null: no watches.
    int (*watchReadable)(int handle, WatchFunction fn, void *data);
    // Switches a watch off and on; an unknown id is ignored. UI thread.
    void (*enableWatch)(int id, bool on);
    // No call comes for `id` once this returns on the UI thread; from
    // another thread the watch is switched off on the UI thread soon after.
    // Safe from inside the watch's own call; an unknown id is ignored.
    void (*stopWatch)(int id);
};

// Qt's event loop (QCoreApplication or QApplication) and the real clock;
// in quorvel_runtime_qt, linked by the window and the tests only.
extern const EventLoopBackend kQtEventLoop;
// The plain loop and the real clock: no toolkit, POSIX or Win32.
extern const EventLoopBackend kPlainEventLoop;

// Switches the run-time to `backend` (nullptr: the default loop). Only
// while nothing runs: no timer started, no pool, no port open.
void selectEventLoop(const EventLoopBackend *backend);
// Makes `backend` the default loop and selects it (nullptr: the plain
// loop). The window (UseQtPanel) and the Qt-based tests choose Qt's, before
// anything runs.
void setDefaultEventLoop(const EventLoopBackend *backend);
const EventLoopBackend &eventLoop();

} // namespace platform
