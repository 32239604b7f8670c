// What quorvel-flash asks of its process, per system (process_posix.cpp,
// process_win32.cpp).
#pragma once

#include <string>
#include <vector>

// Sets an environment variable of this process (the loader reads
// QUORVEL_COM_PORTS at every open).
void setProcessVariable(const char *name, const char *value);
// The COM list (QUORVEL_COM_PORTS) for the devices given with --port. On
// POSIX they are numbered 1, 2... in order (comPortList). On Windows a
// port's own name is its number: COM7 (or \\.\COM7) is COM7, and only
// other names are numbered, from the first number free.
std::string portListFor(const std::vector<std::string> &devices);
// True when standard error is a terminal (a console on Windows): the
// progress line is redrawn in place there.
bool errorIsTerminal();
