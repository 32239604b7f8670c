// Reading a panel definition as Qt Designer XML (the window's) without
// creating a widget: every control's kind, stored value and attributes,
// callback name, and the panel's title and callback, as the window shows
// them right after loading. Used at build time by quorvel-panel-table, which
// writes the window-less panel's built-in definition, and by tests that load
// faulty definitions from Qt resources. Needs Qt Core; the window-less panel
// itself does not link it.
#pragma once

#include "panel_definition.h"

#include <string>

namespace platform {

// Reads panel `panelId` of the definition stored as resource ":/<name>".
// Returns 0 and fills `out`, or the window's codes: kPanelNotFound (no such
// definition, or a name that is not a plain file name), kPanelUnreadable
// (not well-formed, not a panel, a control without a positive unique
// "ctrlId", a picture ring whose item is malformed or whose picture is not
// built in), kPanelNoSuchPanel (the definition's panel has another id).
int readPanelDefinition(const std::string &name, int panelId, PanelDefinition *out);

} // namespace platform
