// Hand-over of calls from other threads to the UI thread (the worker's panel
// updates). Calls are kept in our own queue under a std::mutex; the event
// loop is only woken, carrying no data, so the hand-over is visible to race
// detectors that cannot see inside Qt's own locks.
#pragma once

#include <functional>

// Runs every call queued from other threads so far, in order (UI thread only).
void DeliverQueuedUiCalls();

namespace platform {

// Queues `call` to run on the UI thread, after every call queued before it,
// and wakes the event loop. Never waits. Safe from any thread.
void postToUiThread(std::function<void()> call);

// Calls queued and not yet run (for a manual loop deciding whether it is idle).
bool uiCallsQueued();

} // namespace platform
