// Linked into the tests of the window-less panel: besides its built-in
// definition it loads the ones a test keeps as Qt resources (broken,
// duplicate ids, a missing picture), read by the same XML reader that
// writes the built-in one.
#include "panel_definition_reader.h"

namespace {
const bool resourcesRead = (platform::setExtraPanelDefinitionSource(platform::readPanelDefinition), true);
} // namespace
