#include "process.h"

#include <cstdio>
#include <cstdlib>
#include <io.h>
#include <map>

void setProcessVariable(const char *name, const char *value)
{
    ::_putenv_s(name, value);  // the C run-time's copy, which getenv reads
}

namespace {

// "COM7", "com7" or "\\.\COM7" -> 7; any other name -> 0.
int comNumber(std::string name)
{
    if (name.rfind("\\\\.\\", 0) == 0)
        name.erase(0, 4);
    if (name.size() < 4 || (name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' || (name[2] | 0x20) != 'm')
        return 0;
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || number > 1000)
            return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number >= 1 && number <= 255 ? number : 0;
}

} // namespace

std::string portListFor(const std::vector<std::string> &devices)
{
    std::map<int, std::string> ports;
    for (const std::string &device : devices)
        if (const int number = comNumber(device))
            ports.emplace(number, "COM" + std::to_string(number));
    int next = 1;
    for (const std::string &device : devices) {
        if (comNumber(device))
            continue;
        while (ports.count(next))
            ++next;
        ports.emplace(next, device);
    }
    std::string list;
    for (const auto &[number, device] : ports)
        list += (list.empty() ? "" : ",") + std::to_string(number) + "=" + device;
    return list;
}

bool errorIsTerminal()
{
    return ::_isatty(::_fileno(stderr)) != 0;
}
