// Event codes delivered to callbacks, control attributes, callback shapes.
#pragma once

enum EventCode {
    EVENT_COMMIT = 1,      // button pressed and released (mouse or keyboard)
    EVENT_LEFT_CLICK = 3,  // left mouse button pressed on a control
    EVENT_CLOSE = 11,      // the operator closed the window
    EVENT_TIMER_TICK = 15, // a timer control's interval elapsed
};

enum CtrlAttribute {
    ATTR_VISIBLE,        // int 0/1
    ATTR_DIMMED,         // int 0/1: shown but not operable
    ATTR_LABEL_TEXT,     // text: button caption, LED/numeric/slide label
    ATTR_TEXT_COLOR,     // int 0xRRGGBB
    ATTR_TEXT_BOLD,      // int 0/1
    ATTR_FILL_COLOR,     // int 0xRRGGBB (slide bar)
    ATTR_ENABLED,        // int 0/1 (timer control)
    ATTR_INTERVAL,       // double seconds (timer control)
    ATTR_ACCESSIBLE_NAME, // text: what a screen reader calls the control (any control)
};

enum PanelAttribute {
    ATTR_TITLE,          // text
};

// A control callback: panel handle, control id, event code, the callback data
// given at binding (always null here) and two event-specific words.
using CtrlCallbackPtr = int (*)(int panel, int control, int event, void *callbackData,
                                int eventData1, int eventData2);
// A panel callback: as above without the control.
using PanelCallbackPtr = int (*)(int panel, int event, void *callbackData,
                                 int eventData1, int eventData2);
