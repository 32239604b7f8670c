// Ctrl+C, Ctrl+Break and the console window's closing into the event loop
// on Windows: the system calls the handler on a thread of its own, which
// posts the call to the UI thread. For the console's closing the handler
// then waits a little: returning would end the process at once, before
// Stop has closed the port.
#include "interrupt.h"

#include "ui_queue.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <windows.h>

namespace {

std::function<void(int)> onInterrupt;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    const int signal = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
    platform::postToUiThread([signal] { onInterrupt(signal); });
    if (event == CTRL_CLOSE_EVENT)
        ::Sleep(4000);  // Windows allows about 5 s before it ends the process
    return TRUE;
}

} // namespace

bool watchInterrupts(std::function<void(int signal)> callback)
{
    onInterrupt = std::move(callback);
    return ::SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
}

void endBySignal(int signal)
{
    std::fflush(nullptr);
    std::_Exit(128 + signal);  // no signal ends a Windows process: the shell's number for it
}

namespace {

std::atomic<int> noted{0};

BOOL WINAPI onNotedConsoleEvent(DWORD event)
{
    int expected = 0;
    noted.compare_exchange_strong(expected, event == CTRL_C_EVENT ? SIGINT : SIGTERM);
    if (event == CTRL_CLOSE_EVENT)
        ::Sleep(4000);  // the station's processes stop meanwhile
    return TRUE;
}

} // namespace

bool noteInterrupts()
{
    return ::SetConsoleCtrlHandler(onNotedConsoleEvent, TRUE) != 0;
}

int takeInterrupt()
{
    return noted.exchange(0);
}
