// The callback names bound by the program, looked up by every panel backend.
#include "callback_names.h"

#include <map>

namespace {

std::map<std::string, CtrlCallbackPtr> ctrlCallbacks;
std::map<std::string, PanelCallbackPtr> panelCallbacks;

template <typename Map>
typename Map::mapped_type find(const Map &map, const std::string &name)
{
    const auto it = map.find(name);
    return name.empty() || it == map.end() ? nullptr : it->second;
}

} // namespace

void RegisterCtrlCallback(const char *name, CtrlCallbackPtr fn)
{
    if (name)
        ctrlCallbacks[name] = fn;
}

void RegisterPanelCallback(const char *name, PanelCallbackPtr fn)
{
    if (name)
        panelCallbacks[name] = fn;
}

namespace platform {

CtrlCallbackPtr findCtrlCallback(const std::string &name)
{
    return find(ctrlCallbacks, name);
}

PanelCallbackPtr findPanelCallback(const std::string &name)
{
    return find(panelCallbacks, name);
}

} // namespace platform
