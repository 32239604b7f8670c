// The window-less panel's definitions: the built-in table first, then the
// extra source a test installs; what was found kept for the whole run.
#include "panel_definition.h"

#include "panel.h"

#include <map>
#include <utility>

namespace platform {

namespace {

PanelDefinitionSource extraSource = nullptr;

} // namespace

void setExtraPanelDefinitionSource(PanelDefinitionSource source)
{
    extraSource = source;
}

int cachedPanelDefinition(const std::string &name, int panelId, const PanelDefinition **out)
{
    static std::map<std::pair<std::string, int>, PanelDefinition> cache;
    const auto key = std::make_pair(name, panelId);
    auto it = cache.find(key);
    if (it == cache.end()) {
        PanelDefinition found;
        int rc = builtInPanelDefinition(name, panelId, &found);
        if (rc == kPanelNotFound && extraSource)
            rc = extraSource(name, panelId, &found);
        if (rc != 0)
            return rc;  // only what was found is kept
        it = cache.emplace(key, std::move(found)).first;
    }
    *out = &it->second;
    return 0;
}

} // namespace platform
