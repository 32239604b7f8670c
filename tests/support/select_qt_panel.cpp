// Linked into every test that shows the panel: the window on Qt Widgets is
// chosen before the test's main runs, as the Quorvel program's main chooses it.
#include "panel_qt.h"

namespace {
const bool windowChosen = (UseQtPanel(), true);
} // namespace
