// SIGINT and SIGTERM into the event loop: the handler writes a byte on a
// pipe, the loop reads it and calls back on the UI thread.
#pragma once

#include <functional>

// Installs the handlers; `onSignal` runs on the event loop's thread, once
// per signal received. Call after the application object exists.
bool watchInterrupts(std::function<void(int signal)> onSignal);
