// Callback names: a panel definition names its callbacks as text
// ("Transfert", "Sortir"); loading a panel binds each name to the program's
// function of that name.
#pragma once

#include "events.h"

#include <string>

// Binds a callback name to a function. Before LoadPanel; UI thread.
void RegisterCtrlCallback(const char *name, CtrlCallbackPtr fn);
void RegisterPanelCallback(const char *name, PanelCallbackPtr fn);

namespace platform {

// The function bound to `name`; nullptr for an empty or unknown name.
CtrlCallbackPtr findCtrlCallback(const std::string &name);
PanelCallbackPtr findPanelCallback(const std::string &name);

} // namespace platform
