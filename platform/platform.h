// The run-time services the loader relies on: panels and controls addressed
// by id, popups, the event loop and timer controls, serial ports addressed by
// COM number, the one-thread pool, files and time. The program includes this
// header only; Qt, termios and file descriptors stay behind it.
#pragma once

#include "events.h"
#include "panel.h"
#include "popups.h"
#include "port_watch.h"
#include "serial.h"
#include "threadpool.h"
#include "files_time.h"
