// What one control of the window-less panel holds: its kind, value and
// attributes, and the rules each kind follows when the program writes them.
// They are the window's rules: the same kinds take the same values and
// attributes, convert them alike and refuse the same requests. Internal to
// the window-less panel.
#pragma once

#include "events.h"
#include "log_text.h"
#include "panel_backend.h"

#include <string>
#include <vector>

namespace platform {

// The kinds of control a panel definition holds, by the class it names.
// Any other class (a frame drawn around a group) is a decoration: it has no
// value, only its visibility and dimming.
enum class ControlKind {
    CommandButton,
    TextMessage,
    TextBox,
    NumericDisplay,
    Led,
    Slide,
    PictureRing,
    Timer,
    Decoration,
};

ControlKind controlKindOf(const std::string &className);

struct PictureItem {
    int value;
    std::string path;
};

struct ControlState {
    ControlKind kind = ControlKind::Decoration;
    std::string className;     // as the definition names it ("Led", "QFrame")
    std::string name;          // its constant's name ("LED1")
    std::string callbackName;  // "" = the operator cannot act on it

    // The value, in the member of the control's kind.
    bool lit = false;          // LED
    int number = 0;            // slide (0..100), picture ring
    double reading = 0.0;      // numeric display, kept within minimum..maximum
    std::string text;          // text message
    LogText log;               // text box

    std::string label;         // command button, LED, numeric display, slide
    std::string accessibleName; // any control: its name for a screen reader
    bool visible = true;
    bool dimmed = false;
    int parent = 0;            // the control it lies inside, 0 = the panel itself
    int textColor = 0x000000;  // text message; the window's text is black
    bool textBold = false;     // text message
    int fillColor = 0x3060C0;  // slide
    bool timerEnabled = false; // timer
    double interval = 1.0;     // timer, seconds

    int decimals = 0;          // numeric display: how it shows its value
    double minimum = 0.0;
    double maximum = 2147483647.0;
    std::vector<PictureItem> items;  // picture ring
    bool framed = false;
};

// Writes and reads with the window's rules. Values are converted with
// convertForKind; each returns 0 or kPanelBadAttribute (the control has no
// such value or attribute, or the value cannot be converted). setValue on a
// text box appends; reading a text box gives the kept text.
int setControlValue(ControlState &control, const PanelValue &value);
int readControlValue(const ControlState &control, PanelValue *value);
int setControlAttribute(ControlState &control, CtrlAttribute attribute, const PanelValue &value);
int readControlAttribute(const ControlState &control, CtrlAttribute attribute, PanelValue *value);

// The settings a definition gives and the program cannot change.
void setNumericDecimals(ControlState &control, int decimals);
void setNumericRange(ControlState &control, double minimum, double maximum);

// The picture a ring shows now: the path of the first item whose value is
// the ring's, "" when none is.
std::string currentPicture(const ControlState &control);

} // namespace platform
