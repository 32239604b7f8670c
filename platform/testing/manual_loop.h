// An event loop on a manual clock, for tests and fuzzers: time stands still
// until the caller moves it, and nothing runs until the caller pumps. Posted
// calls (ui_queue), timers and delayed calls then run synchronously on the
// calling thread, in the order of their moments, so that a whole update runs
// at the speed of the processor and in an order the driver chooses.
//
// The pool's worker is held too: it runs only when the driver steps it, from
// its start to its next pause (Delay) or to its end, and freely while the UI
// thread waits for it (a pool being discarded), so that the interleaving of
// the worker's blocks with what the camera says is the driver's choice.
//
// UseManualLoop(true) installs the loop for the calling thread, which
// becomes the UI thread; switch only while nothing runs (no timer started,
// no pool, no port open). Everything else here is for that thread.
#pragma once

void UseManualLoop(bool on);

// Drops every timer, posted call and pending quit, and sets the clock back
// to 0, for a test that starts afresh. Nothing is run.
void ManualLoopReset();

// The clock, in seconds since the loop was installed or reset. It counts
// whole microseconds: every duration given to the loop (a timer's delay or
// period, a pause, an advance) is rounded to the nearest microsecond.
double ManualLoopNow();

// Runs every posted call and every timer whose moment has come, until none
// is left (a call may post or start more). Returns how many ran.
int ManualLoopRunDue();

// Moves the clock `seconds` on, running every timer at its own moment (the
// clock reads that moment during its call) and the posted calls in
// between. Returns how many calls ran.
int ManualLoopAdvance(double seconds);

// Moves the clock to the next timer's moment and runs what is due then.
// False, with the clock unchanged, when no timer is running.
bool ManualLoopAdvanceToNextTimer();

// Timers running now (a repeating one counts while it is not stopped).
int ManualLoopTimers();

// Lets the worker run to its next pause or to the end of its function, and
// waits for it there. A worker not yet at its start is waited for, up to
// `patienceSeconds` of real time. False when no worker arrived.
bool ManualLoopStepWorker(double patienceSeconds = 5.0);

// Workers inside their function now (started and not yet returned).
int ManualLoopWorkersRunning();
