// What reaches the program from a panel: every callback in order, recorded
// by callbacks the tests register, whichever panel backend delivers them.
#pragma once

#include "panel.h"

#include <functional>
#include <string>
#include <vector>

struct Delivered {
    int panel;
    int control;  // 0 for the panel's own events
    int event;
    bool operator==(const Delivered &o) const
    {
        return panel == o.panel && control == o.control && event == o.event;
    }
};

inline std::vector<Delivered> delivered;                // every callback, in order
inline std::function<void(const Delivered &)> onEvent;  // what a test's program does on one

inline int recordControl(int panel, int control, int event, void *, int, int)
{
    delivered.push_back({panel, control, event});
    if (onEvent)
        onEvent(delivered.back());
    return 0;
}

inline int recordPanel(int panel, int event, void *, int, int)
{
    delivered.push_back({panel, 0, event});
    if (onEvent)
        onEvent(delivered.back());
    return 0;
}

inline int countOf(int control, int event)
{
    int n = 0;
    for (const Delivered &d : delivered)
        n += d.control == control && d.event == event;
    return n;
}

inline std::string textOf(int panel, int control)
{
    std::string text;
    GetCtrlVal(panel, control, &text);
    return text;
}
