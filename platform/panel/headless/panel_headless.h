// The panel with no window: every panel and popup call of the program, its
// controls held in memory and readable by the caller, the log as text,
// popups answered by a script, the timer control ticking on the run-time's
// event loop, and what the operator does (a click, a key on a button, the
// close box) delivered on request. The command-line updater, the tests and
// the fuzzers run the loader on it. It links Qt Core only, and needs no Qt
// application object when a loop of the caller's own is installed
// (event_loop.h).
//
// Everything here is for the UI thread (the thread the event loop runs on),
// as the panel calls' backends are: called elsewhere, a reader returns
// kPanelWrongThread and an action delivers nothing.
#pragma once

#include "events.h"
#include "panel_backend.h"

#include <functional>
#include <string>
#include <vector>

// Makes every later panel and popup call use the window-less panel. Call
// before InitRunTime. InitRunTime then creates a QCoreApplication when the
// run-time is on Qt's event loop and none exists yet (any kind of Qt
// application made by the caller before serves as well), and nothing at all
// when the caller has installed a loop of its own.
void UseHeadlessPanel();

namespace platform::headless {

// ---------------------------------------------------------------------------
// What the panel holds. Each returns 0, or kPanelBadHandle for an unknown
// panel or control, or kPanelBadAttribute when the control has no such
// value or attribute. Values come as the control holds them (an LED's state
// as a flag, a numeric display's as a double), not converted.

int controlValue(int panel, int control, PanelValue *value);
int controlAttribute(int panel, int control, CtrlAttribute attribute, PanelValue *value);
int panelTitle(int panel, std::string *title);
// The text box's text, the most recent 256 KiB of it (what the window shows
// is the whole; a longer log is no update's).
int logText(int panel, int control, std::string *text);
// A control's value as the window draws it: a numeric display with its
// decimals, a text as it is, a picture ring's picture path ("" for none).
int shownText(int panel, int control, std::string *text);
// The id of the control whose constant is `name` ("LED1"), kPanelBadHandle
// when the panel holds none.
int controlId(int panel, const std::string &name);
// The ids of the panel's controls in the definition's order (none for an
// unknown panel), and its live panels in the order loaded.
std::vector<int> controlIds(int panel);
std::vector<int> panels();
bool panelDisplayed(int panel);
int activeControl(int panel);  // the control SetActiveCtrl named last, 0 for none
// What AnnounceText told a screen reader on `panel`, oldest first: the
// latest 64.
std::vector<std::string> announcements(int panel);
bool waitCursorShown();

// ---------------------------------------------------------------------------
// What the operator does. Delivered at once to the control's callback, as
// the window delivers it, and only where the window would: to a control
// with a callback, shown and not dimmed (nor inside a dimmed control), on a
// displayed panel, with no popup open. Each returns true when the callback
// ran.

// A left click: EVENT_LEFT_CLICK, then for a button EVENT_COMMIT (unless
// the first callback dimmed, hid or discarded it).
bool clickControl(int panel, int control);
// Enter or Space on the focused button: EVENT_COMMIT alone.
bool commitControl(int panel, int control);
// The close box: EVENT_CLOSE to the panel's callback. The panel stays; the
// program decides.
bool closePanel(int panel);

// ---------------------------------------------------------------------------
// Popups. The script answers each popup with the number of a button; a
// popup is marked open (popup_hold.h) while the script runs, so what waits
// behind a real popup waits behind it. An answer that is none of the
// popup's buttons, or no script, answers as Escape would: its escape
// number, or the first button when Escape does nothing.

using PopupScript = std::function<int(const std::string &title, const std::string &message,
                                      const PopupButtons &buttons)>;
void setPopupScript(PopupScript script);  // an empty function: no script

// ---------------------------------------------------------------------------
// Following the panel: the observer is called after every change the
// program makes (the log, the slide, the LEDs, labels, the title), on the UI
// thread, with what changed.

enum class PanelChangeKind {
    Value,          // `value` is the control's new value
    LogAppended,    // the text box: `value` is the text appended
    LogReplaced,    // the text box: `value` is its whole new text
    Attribute,      // `attribute` changed; `value` is its new value
    Title,          // the panel's title (control 0); `value` is the new title
    Displayed,      // the panel was displayed (control 0)
    Discarded,      // the panel is gone (control 0)
    Announced,      // AnnounceText (control 0); `value` is the text
};

struct PanelChange {
    int panel;
    int control;
    PanelChangeKind kind;
    CtrlAttribute attribute;  // for Attribute
    const PanelValue &value;
};

using PanelObserver = std::function<void(const PanelChange &change)>;
void setPanelObserver(PanelObserver observer);  // an empty function: none

} // namespace platform::headless
