// The panels the window-less panel knows: each control's kind, stored value
// and attributes, callback name, and the panel's title and callback, as the
// window shows them right after loading. The program's own panel is built
// in: generated at build time from the window's Qt Designer file
// (ui/Quorvel.ui) by quorvel-panel-table, which reads it with the window-less
// reader of that XML, so the window and the window-less panel start from one
// definition without the window-less panel carrying an XML reader or a
// toolkit. Internal to the window-less panel.
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

// Finds panel `panelId` of the definition named `name`: returns 0 and fills
// `out`, or the window's codes: kPanelNotFound (no such definition),
// kPanelUnreadable, kPanelNoSuchPanel (the definition's panel has another id).
using PanelDefinitionSource = int (*)(const std::string &name, int panelId, PanelDefinition *out);

// The definitions built into the program (generated; see above).
int builtInPanelDefinition(const std::string &name, int panelId, PanelDefinition *out);

// Adds a source asked after the built-in definitions (tests: definitions
// read from Qt resources); nullptr removes it. Before anything is loaded.
void setExtraPanelDefinitionSource(PanelDefinitionSource source);

// The definition as the built-in table or the extra source gives it, each
// found once per process (they cannot change while it runs). On success
// `*out` points into the cache, valid to the end of the process. UI thread.
int cachedPanelDefinition(const std::string &name, int panelId, const PanelDefinition **out);

} // namespace platform
