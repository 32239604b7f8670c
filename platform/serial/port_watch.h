// Tells the program when a serial device may have appeared, so that a port
// the camera brings up after the operator's Ok is still heard: about once a
// period, and at once when a node is created or changed in /dev or in the
// directory of a device named in QUORVEL_COM_PORTS (inotify). One watch at
// a time; everything on the UI thread, from its event loop.
#pragma once

using PortWatchCallback = void (*)();

// Starts (or restarts) the watch: `callback` runs from the event loop every
// `periodSeconds` (at least 0.05 s) and soon after each change seen, several
// changes at once giving one call. Never called inside StartPortWatch.
void StartPortWatch(PortWatchCallback callback, double periodSeconds);
// Stops it; no call comes after this returns. Safe when not running.
void StopPortWatch();
// True between StartPortWatch and StopPortWatch.
bool PortWatchRunning();
