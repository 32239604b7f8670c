// The run-time services the loader relies on: the event loop and delayed
// calls, panels and controls addressed by id, popups, serial ports addressed
// by COM number, the one-thread pool, files and time. The program includes
// this header only; Qt, termios and file descriptors stay behind it.
#pragma once

#include "callback_names.h"
#include "delayed_calls.h"
#include "events.h"
#include "files_time.h"
#include "key_folder.h"
#include "panel.h"
#include "popups.h"
#include "port_watch.h"
#include "runtime.h"
#include "serial.h"
#include "threadpool.h"
