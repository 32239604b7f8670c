// Modal popups, run on the UI thread (nested event loop; callbacks of other
// controls, timer ticks and serial receive callbacks are not delivered while
// a popup is open; the receive callbacks come once it has closed).
#pragma once

// One "OK" button. Returns 1 when closed.
int MessagePopup(const char *title, const char *message);

// Up to three buttons (null or empty for absent ones). The first button has
// the focus; Enter chooses the first button, Escape the second (or the only
// one). Returns the 1-based number of the chosen button.
int GenericMessagePopup(const char *title, const char *message,
                        const char *button1, const char *button2, const char *button3);

// True while a modal popup is open (UI thread). Code that would act on the
// line behind the operator's back (a timed port rescan) waits for false.
bool ModalPopupOpen();
