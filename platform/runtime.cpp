// The program's view of the event loop, forwarded to the active backend.
#include "runtime.h"
#include "event_loop.h"

#include <atomic>
#include <clocale>

namespace platform {

namespace {
std::atomic<const EventLoopBackend *> defaultLoop{&kPlainEventLoop};
std::atomic<const EventLoopBackend *> activeLoop{&kPlainEventLoop};
} // namespace

void selectEventLoop(const EventLoopBackend *backend)
{
    activeLoop.store(backend ? backend : defaultLoop.load(std::memory_order_acquire),
                     std::memory_order_release);
}

void setDefaultEventLoop(const EventLoopBackend *backend)
{
    defaultLoop.store(backend ? backend : &kPlainEventLoop, std::memory_order_release);
    selectEventLoop(nullptr);
}

const EventLoopBackend &eventLoop()
{
    return *activeLoop.load(std::memory_order_acquire);
}

// A toolkit adopts the desktop's locale when it starts. On a French or
// Turkish desktop that would give the C library a decimal comma (the package
// header "1.5 262144" read as 1 and 0) and Turkish case rules (tolower('I')
// is not 'i'). LC_NUMERIC is "C"; LC_CTYPE is "C.UTF-8", ASCII rules with
// the UTF-8 character set Qt relies on, or plain "C" where that is not
// installed. The other categories (messages, dates) stay the desktop's.
void fixProcessLocale()
{
    std::setlocale(LC_NUMERIC, "C");
    if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
        std::setlocale(LC_CTYPE, "C");
}

} // namespace platform

int RunUserInterface()
{
    return platform::eventLoop().run();
}

int QuitUserInterface(int returnCode)
{
    platform::eventLoop().quit(returnCode);
    return 0;
}

bool OnUiThread()
{
    return platform::eventLoop().onUiThread();
}
