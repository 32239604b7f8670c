#include "process.h"
#include "options.h"

#include <cstdlib>
#include <unistd.h>

void setProcessVariable(const char *name, const char *value)
{
    ::setenv(name, value, 1);
}

std::string portListFor(const std::vector<std::string> &devices)
{
    return comPortList(devices);
}

bool errorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}
