// Ctrl+C, Ctrl+Break and the console window's closing into the event loop
// on Windows: the system calls the handler on a thread of its own, which
// posts the call to the UI thread. For the console's closing the handler
// then waits a little: returning would end the process at once, before
// Stop has closed the port.
#include "interrupt.h"

#include "ui_queue.h"

#include <csignal>

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
