// Modal popups, run on the UI thread (the panels receive no input, their
// timer controls do not tick, and the serial receive callbacks and delayed
// calls wait while a popup is open; see popup_hold.h).
#pragma once

// One "OK" button. Returns 1 when closed.
int MessagePopup(const char *title, const char *message);

// Up to three buttons (null or empty for absent ones). The first button has
// the focus; Enter chooses the first button, Escape the second (or the only
// one). Returns the 1-based number of the chosen button.
int GenericMessagePopup(const char *title, const char *message,
                        const char *button1, const char *button2, const char *button3);
