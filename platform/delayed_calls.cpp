// Delayed calls on the event loop's timers, held while a popup is open.
#include "delayed_calls.h"
#include "event_loop.h"
#include "popup_hold.h"
#include "runtime.h"
#include "ui_queue.h"

#include <cstdint>
#include <map>

namespace {

struct DelayedCall {
    DelayedCallPtr fn;
    void *data;
    int timer;  // the event loop's timer, 0 while held behind a popup
};

std::map<int, DelayedCall> calls;  // by handle (UI thread)
int nextHandle = 1;

void fire(void *handleAsPointer);

// Starts (or restarts after a popup) the timer of a call still wanted.
bool arm(int handle, double seconds)
{
    const auto it = calls.find(handle);
    if (it == calls.end())
        return false;
    it->second.timer = platform::eventLoop().startTimer(
        seconds, false, fire, reinterpret_cast<void *>(static_cast<std::intptr_t>(handle)));
    return it->second.timer != 0;
}

void fire(void *handleAsPointer)
{
    const int handle = static_cast<int>(reinterpret_cast<std::intptr_t>(handleAsPointer));
    const auto it = calls.find(handle);
    if (it == calls.end())
        return;
    if (ModalPopupOpen()) {
        it->second.timer = 0;
        platform::holdUntilPopupsClose([handle] { arm(handle, 0.0); });
        return;
    }
    const DelayedCall call = it->second;
    calls.erase(it);  // made: the handle is spent before the call, which may post again
    call.fn(call.data);
}

} // namespace

int PostDelayedCall(double seconds, DelayedCallPtr fn, void *callbackData)
{
    if (!fn || !OnUiThread())
        return -1;
    const int handle = nextHandle;
    nextHandle = nextHandle == 0x7fffffff ? 1 : nextHandle + 1;
    calls[handle] = DelayedCall{fn, callbackData, 0};
    if (!arm(handle, seconds)) {
        calls.erase(handle);
        return -1;
    }
    return handle;
}

void PostDeferredCall(DelayedCallPtr fn, void *callbackData)
{
    if (!fn)
        return;
    platform::postToUiThread([fn, callbackData] {
        if (PostDelayedCall(0.0, fn, callbackData) < 0)
            fn(callbackData);  // no timer left: now rather than never
    });
}

int CancelDelayedCall(int handle)
{
    const auto it = calls.find(handle);
    if (it == calls.end())
        return -1;
    if (it->second.timer != 0)
        platform::eventLoop().stopTimer(it->second.timer);
    calls.erase(it);  // a call held behind a popup finds nothing when it is resumed
    return 0;
}
