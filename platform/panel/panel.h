// Panels and controls. Every function here may be called from any thread:
// called off the UI thread it is queued, in call order, and runs on the UI
// thread later; it never waits (the UI thread may be waiting for the caller).
// Queued calls return 0 at once. Getters must be called on the UI thread.
// What shows the panel is chosen once, before the first LoadPanel: the
// window (panel/qt/panel_qt.h) or no window at all (panel/headless/).
#pragma once

#include <string>
#include "events.h"

// Error codes of the panel functions (all negative, closed set).
enum PanelError {
    kPanelNotFound      = -1, // LoadPanel: no definition of that name is built in
                              // (or no panel backend was chosen)
    kPanelUnreadable    = -2, // LoadPanel: the definition cannot be read
    kPanelNoSuchPanel   = -3, // LoadPanel: the definition holds no panel of that id
    kPanelBadHandle     = -4, // unknown panel handle or control id: the caller's bug
    kPanelBadAttribute  = -5, // the control has no such value or attribute, or the
                              // value has the wrong type: the caller's bug
    kPanelWrongThread   = -6, // a getter, LoadPanel or a popup called off the UI thread
};

// Starts the run-time for the chosen panel backend: creates the toolkit's
// application object if none exists yet, with the program's name as its only
// argument (argc and argv are not passed on: the program takes no options),
// then puts the process's numeric and character-class locale back to C,
// whatever the desktop's language. Returns 1 on success, 0 on failure (no
// backend chosen, or the toolkit cannot start). Call once, first thing in main.
int InitRunTime(int argc, char **argv);

// Loads panel `panelResourceId` from the definition built into the
// executable under `definitionName` ("Quorvel.uir"). Returns a panel handle
// (> 0), or a negative code when the definition cannot be found or read
// (-1: not found, -2: unreadable, -3: no such panel). The caller owns the
// panel and frees it with DiscardPanel. parentPanel 0 = top-level window.
int LoadPanel(int parentPanel, const char *definitionName, int panelResourceId);
int DisplayPanel(int panel);
int DiscardPanel(int panel);  // 0, or negative for an unknown handle

int SetPanelAttribute(int panel, PanelAttribute attr, const char *value);
int GetPanelAttribute(int panel, PanelAttribute attr, std::string *value);

// Values. On the text box SetCtrlVal appends the text at the end.
// Numeric values are converted to the control's kind (int/double/text).
int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, double value);
int SetCtrlVal(int panel, int control, const char *value);
int GetCtrlVal(int panel, int control, int *value);
int GetCtrlVal(int panel, int control, double *value);
int GetCtrlVal(int panel, int control, std::string *value);

int SetCtrlAttribute(int panel, int control, CtrlAttribute attr, int value);
int SetCtrlAttribute(int panel, int control, CtrlAttribute attr, double value);
int SetCtrlAttribute(int panel, int control, CtrlAttribute attr, const char *value);
int GetCtrlAttribute(int panel, int control, CtrlAttribute attr, int *value);
int GetCtrlAttribute(int panel, int control, CtrlAttribute attr, double *value);
int GetCtrlAttribute(int panel, int control, CtrlAttribute attr, std::string *value);

int ResetTextBox(int panel, int control, const char *text);  // replaces the text
int SetActiveCtrl(int panel, int control);                  // keyboard focus
void SetWaitCursor(int on);       // 1 busy cursor, 0 normal; not nested
void ProcessDrawEvents();         // repaints pending widgets; runs no callback
// Restarts the interval of a timer control; panel 0 and control 0 = all.
int ResetTimer(int panel, int control);
// Says `text` (UTF-8) to an operator who listens to a screen reader, as an
// event it speaks wherever the keyboard focus is; the focus stays where it
// is and nothing is drawn. 0, or kPanelBadHandle for an unknown panel.
int AnnounceText(int panel, const char *text);
