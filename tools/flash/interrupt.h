// The operator's interrupt into the event loop: SIGINT, SIGTERM and SIGHUP
// on POSIX (interrupt_posix.cpp), Ctrl+C, Ctrl+Break and the console's
// closing on Windows (interrupt_win32.cpp), each called back on the UI thread.
#pragma once

#include <functional>

// Installs the handlers; `onSignal` runs on the event loop's thread, once
// per signal received (SIGINT, SIGTERM or SIGHUP; Windows: SIGINT for
// Ctrl+C, SIGTERM for the others). Call once, before the loop runs.
bool watchInterrupts(std::function<void(int signal)> onSignal);

// Ends the process by `signal` with the system's default action, as the
// shell expects of a program it interrupted (a loop that runs it stops);
// where a signal cannot end a process (Windows), exits with 128 + signal.
[[noreturn]] void endBySignal(int signal);

// For a program without the event loop (the station): the same signals
// are only noted, and taken one at a time. takeInterrupt returns the
// signal noted first since the last call, 0 when none.
bool noteInterrupts();
int takeInterrupt();
