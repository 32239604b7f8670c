// What waits while a modal popup is open. The operator answers a popup
// before the line is acted on: the serial ports' receive callbacks are held
// (what the camera sends stays in the kernel's queue) and come once the last
// popup has closed. So no camera is connected, sent "START" or streamed to
// behind a popup, and no receive callback runs inside another one. Timer
// controls' ticks are dropped meanwhile (panel.cpp). UI thread only.
#pragma once

class QSocketNotifier;

namespace platform {

// Popups mark their event loop with these; they nest. The last leave
// switches the held notifiers back on.
void enterModalPopup();
void leaveModalPopup();

// Called by a serial receive notifier before it delivers. While a popup is
// open it switches the notifier off, remembers it and returns true: the
// notifier is switched on again when the last popup closes, unless its
// descriptor has been closed meanwhile (a notifier of a closed port stays
// off; one whose port changed hands is told apart by the serial layer).
// Returns false, doing nothing, when no popup is open.
bool holdWhileModalPopup(QSocketNotifier *notifier);

} // namespace platform
