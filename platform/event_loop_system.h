// The system half of the plain event loop (event_loop_plain.cpp): how the
// UI thread waits for time to pass, for a wake-up from another thread and
// for handles to become readable, and how a thread pauses. One file per
// system: event_loop_posix.cpp (ppoll and a self-pipe), event_loop_win32.cpp
// (a condition variable; no handle watches). Internal to platform/.
#pragma once

#include <vector>

namespace platform::loop_system {

// True when the system half can wait on handles (file descriptors).
bool canWatchHandles();
// Waits at most `seconds` (negative: no limit) for a wake() or for one of
// `handles` to be readable or hung up. Sets ready[i] for each handle that
// is; `ready` has the size of `handles`. Returns early, with nothing set, on
// a signal. A wake() that came before the wait makes it return at once.
// UI thread.
void wait(double seconds, const std::vector<int> &handles, std::vector<bool> *ready);
// Ends the UI thread's wait, or the next one. Any thread; never blocks.
void wake();
// Pauses the calling thread for `seconds`, resuming without drift after an
// interruption.
void sleep(double seconds);
// Makes the calling thread's pauses as exact as the system allows (the
// pool's thread, which paces the image with pauses of a fraction of a ms).
void preciseTimersForThisThread();

} // namespace platform::loop_system
