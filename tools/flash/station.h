// Several cameras at once: a station that keeps watching the ports and
// updates each camera as it appears (--station), or one update per port
// named (several --port). Each camera's update runs in a process of its own:
// the loader keeps one record of state per process, as the window does.
#pragma once

#include "options.h"
#include "report.h"

#include <string>

// Runs until the station ends (--count cameras, or a signal; with several
// --port, once every port's process has ended) and returns the exit code.
// `program` is this program's file, run again for each camera. When a
// signal ended it, *signal is that signal (the process should end by it).
int runStation(const FlashOptions &options, const std::string &program, Reporter &reporter, int *signal);
