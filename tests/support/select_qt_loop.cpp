// Linked into the tests that run on Qt's event loop (QTest's waits pump
// it): Qt's loop is made the default before the test's main runs, as the
// window's UseQtPanel makes it.
#include "event_loop.h"

namespace {
const bool qtLoopChosen = (platform::setDefaultEventLoop(&platform::kQtEventLoop), true);
} // namespace
