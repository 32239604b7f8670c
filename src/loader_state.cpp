// The loader's state record.
#include "loader_state.h"

LoaderState loader;
