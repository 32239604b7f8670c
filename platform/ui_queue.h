// Hand-over of panel calls from other threads to the UI thread.
// Calls are kept in our own queue under a std::mutex; Qt is used only to wake
// the UI thread, carrying no data, so the hand-over is visible to race
// detectors that cannot see inside Qt's own locks.
#pragma once

#include <functional>

namespace platform {

// Queues `call` to run on the UI thread, after every call queued before it.
// Never waits. Safe from any thread.
void postToUiThread(std::function<void()> call);

// Runs `call` now when on the UI thread, else queues it. Returns true when it ran now.
bool runOrPostToUiThread(const std::function<void()> &call);

} // namespace platform
