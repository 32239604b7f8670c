// Hand-over queue from worker threads to the UI thread.
#include "ui_queue.h"
#include "event_loop.h"

#include <deque>
#include <mutex>

namespace {

std::mutex queueMutex;
std::deque<std::function<void()>> queuedCalls;  // guarded by queueMutex

// Takes the calls one by one so that a call which itself queues more (or
// re-enters the event loop) never finds the queue locked.
bool runOneQueuedCall()
{
    std::function<void()> call;
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        if (queuedCalls.empty())
            return false;
        call = std::move(queuedCalls.front());
        queuedCalls.pop_front();
    }
    call();
    return true;
}

} // namespace

void DeliverQueuedUiCalls()
{
    while (runOneQueuedCall()) {
    }
}

namespace platform {

void postToUiThread(std::function<void()> call)
{
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        queuedCalls.push_back(std::move(call));
    }
    eventLoop().wake();
}

bool uiCallsQueued()
{
    std::lock_guard<std::mutex> lock(queueMutex);
    return !queuedCalls.empty();
}

} // namespace platform
