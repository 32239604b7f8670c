// Where the system tells that a serial device node appeared: the system
// half of the port watch. Linux watches /dev and the directories of the
// devices named in QUORVEL_COM_PORTS with inotify, through the event loop's
// handle watch (device_directory_watch_linux.cpp); Windows has no such
// directory, and the port watch's periodic try finds a new COM port
// (device_directory_watch_win32.cpp). Internal to the serial wing.
#pragma once

namespace platform {

// Starts watching; `changed` runs from the event loop soon after a node is
// created, removed or changed (several at once may give one call). Returns
// true when the machine's device directory itself is watched. UI thread;
// one watch at a time (a second start replaces the first).
bool startDeviceDirectoryWatch(void (*changed)());
// No call comes after this. Safe when not watching; safe from inside `changed`.
void stopDeviceDirectoryWatch();

} // namespace platform
