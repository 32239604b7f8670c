// Reading a panel definition built into the executable (the window's Qt
// Designer XML) without creating a widget: every control's kind, stored
// value and attributes, callback name, and the panel's title and callback,
// as the window shows them right after loading. Internal to the window-less
// panel.
#pragma once

#include "control_state.h"

#include <string>
#include <utility>
#include <vector>

namespace platform {

struct PanelDefinition {
    int panelId = 0;
    std::string title;
    std::string callbackName;  // the panel's own callback, "" = none
    std::vector<std::pair<int, ControlState>> controls;  // by id, in the definition's order
};

// Reads panel `panelId` of the definition stored as resource ":/<name>".
// Returns 0 and fills `out`, or the window's codes: kPanelNotFound (no such
// definition, or a name that is not a plain file name), kPanelUnreadable
// (not well-formed, not a panel, a control without a positive unique
// "ctrlId", a picture ring whose item is malformed or whose picture is not
// built in), kPanelNoSuchPanel (the definition's panel has another id).
int readPanelDefinition(const std::string &name, int panelId, PanelDefinition *out);

// As readPanelDefinition, from the definitions read before: each built-in
// definition is read once per process (they cannot change while it runs).
// On success `*out` points into the cache, valid to the end of the process.
// UI thread only.
int cachedPanelDefinition(const std::string &name, int panelId, const PanelDefinition **out);

} // namespace platform
