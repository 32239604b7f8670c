// The operator's interrupt into the event loop: SIGINT and SIGTERM on
// POSIX (interrupt_posix.cpp), Ctrl+C, Ctrl+Break and the console's closing
// on Windows (interrupt_win32.cpp), each called back on the UI thread.
#pragma once

#include <functional>

// Installs the handlers; `onSignal` runs on the event loop's thread, once
// per signal received (SIGINT or SIGTERM). Call once, before the loop runs.
bool watchInterrupts(std::function<void(int signal)> onSignal);
