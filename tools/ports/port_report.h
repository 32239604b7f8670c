// The port doctor's report (quorvel-ports, quorvel-flash --list).
#pragma once

#include <cstdio>
#include <string>

// Prints every serial port as the loader numbers it at the next Start, with
// what is known of each and why one cannot be used, to `out`. `devDir` and
// `sysDir` read another /dev and /sys/class/tty tree (both "" for the
// machine's). Returns how many ports the loader scans are usable.
int printPortReport(std::FILE *out, const std::string &devDir = "", const std::string &sysDir = "");
