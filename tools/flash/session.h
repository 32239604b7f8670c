// One update driven on the window-less panel as an operator drives the
// window: Start, Ok to the instructions, then following what the panel shows
// until it says how the update ended.
#pragma once

#include "options.h"
#include "report.h"

#include <cstdint>
#include <string>

// What the package check found, for the record.
struct PackageFacts {
    std::string versions[2];  // each image's version as the header writes it ("1.50")
    uint32_t checksums[2] = {0, 0};
    bool demo = false;        // a demo package (random images)
};

// The package at `packagePath`, read and checked by the loader's own code
// before any port opens: 0 when the window would update from it, else
// kExitRefused with the window's words for it in `reason`. The images'
// checksums go to `checksums`.
int checkPackage(const std::string &packagePath, std::string *reason, uint32_t checksums[2]);

// Runs the loader until the update ends; returns the exit code. `label` is
// the COM label of the one device named with --port ("" when unknown or
// none). When the run was ended by a signal, *signal is that signal (the
// process should end by it) and the code is 128 + it; else 0. The run-time
// must not have started yet.
int runUpdate(int argc, char **argv, const FlashOptions &options, const std::string &packagePath,
              const std::string &label, Reporter &reporter, int *signal);
