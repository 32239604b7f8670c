// The serial backends behind serial.h: the operating system's ports
// (serial_posix.cpp, serial_win32.cpp) and the in-memory ports of tests and fuzzers
// (testing/serial_memory.cpp). serial.cpp forwards every public call to the
// active one. Internal to the platform layer.
#pragma once

#include "serial.h"

struct SerialBackend {
    int (*openComConfig)(int port, const char *deviceName, long baudRate, int parity,
                         int dataBits, int stopBits, int inputQueueSize, int outputQueueSize);
    int (*closeCom)(int port);
    int (*setComTime)(int port, double timeoutSeconds);
    int (*setXMode)(int port, int on);
    int (*setCTSMode)(int port, int on);
    int (*flushInQ)(int port);
    int (*flushOutQ)(int port);
    int (*installComCallback)(int port, int eventMask, int notifyCount, int eventChar,
                              ComCallbackPtr callback, void *callbackData);
    int (*getInQLen)(int port);
    int (*comRdByte)(int port);
    int (*comWrt)(int port, const char *buffer, int count);
    int (*comErrno)(int port);
    const char *(*comDevicePath)(int port);
    void (*comInjectShortWrite)(int port, int maxBytes);
    int (*getComOpenFailure)(int port, ComOpenFailure *failure);
    int (*installComHangUpCallback)(int port, ComCallbackPtr callback, void *callbackData);
    void (*comInjectOpenError)(int port, int systemErrno, const char *holderProgram, int holderPid);
    int (*holdComCallback)(int port, int hold);
    int (*cancelComWrite)(int port);
};

// The operating system's ports: POSIX termios (serial_posix.cpp) or the
// Win32 comm API (serial_win32.cpp), whichever this build has.
const SerialBackend *systemSerialBackend();

// Switches every later serial call to `backend` (nullptr: the operating
// system's ports). Ports open on the other
// backend stay as they are; close them first.
void selectSerialBackend(const SerialBackend *backend);
