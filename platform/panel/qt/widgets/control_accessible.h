// What a screen reader learns of the panel's own controls: a role that fits
// each kind, its name and its value. Installed once, as a factory of
// accessible interfaces, before a panel is first loaded.
#pragma once

namespace platform {

void installControlAccessibility();

} // namespace platform
