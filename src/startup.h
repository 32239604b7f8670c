// Start-up and shut-down of the loader.
#pragma once

constexpr const char *kVersionText = "v1.09";

// The program: loads and shows the panel, runs the event loop, releases
// what it holds. Returns the process's exit code.
int QuorvelMain(int argc, char **argv);

// Ticks per second of a timer interval, rounded to the nearest whole number (at least 1).
int TicksParSeconde(double intervalSeconds);
