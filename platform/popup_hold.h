// What waits while a modal popup is open. The operator answers a popup
// before the line is acted on: the serial ports' receive callbacks and the
// program's delayed calls are held (what the camera sends stays in its
// queue) and come once the last popup has closed. So no camera is
// connected, sent "START" or streamed to behind a popup, and no receive
// callback runs inside another one. UI thread only.
#pragma once

#include <functional>

// True while a modal popup is open.
bool ModalPopupOpen();

namespace platform {

// Popups mark their event loop with these; they nest. The last leave runs
// what was held, in the order it was held.
void enterModalPopup();
void leaveModalPopup();

// While a popup is open: keeps `resume`, to be run when the last popup has
// closed, and returns true. The caller has switched its delivery off and
// `resume` switches it on again (checking that what it delivers for still
// exists). Returns false, keeping nothing, when no popup is open.
bool holdUntilPopupsClose(std::function<void()> resume);

} // namespace platform
