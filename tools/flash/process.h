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
// A reader that closes its end of a pipe must not end an update: writes
// to it fail instead (POSIX: SIGPIPE ignored).
void ignoreBrokenPipe();
// The COM label the window gives `device` now ("COM7"): its number in
// QUORVEL_COM_PORTS when set, else in the machine's numbering; on Windows
// a COMn name is its own label. "" when it has none.
std::string comLabelFor(const std::string &device);
// This program's own file, to run it again for each camera of a station.
std::string ownProgram(const char *argv0);

// --- the processes of a station, one per camera ---
// Starts `program` with `args`, sharing this process's standard streams.
// Returns its id (> 0), or -1 when it could not be started.
long long startChild(const std::string &program, const std::vector<std::string> &args);
// True when the child has ended (reaped), with its exit code in *code
// (128 + the signal that ended it). Does not wait.
bool childEnded(long long id, int *code);
// In a station's process: when the station itself goes away (killed), this
// process is asked to stop as Stop does rather than listen on for ever
// (Linux: SIGTERM on the parent's death; elsewhere nothing).
void stopWithParent();
// Asks the child to stop as Stop does, by `signal` (POSIX; the children
// have a process group of their own, so the terminal's Ctrl-C reaches the
// station alone and the station passes it on) or Ctrl+Break (Windows).
void stopChild(long long id, int signal);
// Waits `seconds`, returning early when a signal arrives (POSIX).
void sleepFor(double seconds);
// What tells this device node from the next one at the same path ("" when
// nothing is there): a camera unplugged and plugged in again is a new node.
std::string deviceIdentity(const std::string &device);
