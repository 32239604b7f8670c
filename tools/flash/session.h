// One update driven on the window-less panel as an operator drives the
// window: Start, Ok to the instructions, then following what the panel shows
// until it says how the update ended.
#pragma once

#include "options.h"
#include "report.h"

#include <cstdint>
#include <string>

// The package at `packagePath`, read and checked by the loader's own code
// before any port opens: 0 when the window would update from it, else
// kExitRefused with the window's words for it in `reason`. The images'
// checksums go to `checksums`.
int checkPackage(const std::string &packagePath, std::string *reason, uint32_t checksums[2]);

// Runs the loader until the update ends; returns the exit code. The
// run-time must not have started yet.
int runUpdate(int argc, char **argv, const FlashOptions &options, const std::string &packagePath,
              Reporter &reporter);
