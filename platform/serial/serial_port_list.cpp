// The operator's COM list (QUORVEL_COM_PORTS), read alike on every system.
#include "serial_ports_map.h"
#include "serial.h"

namespace {

std::string trimmed(const std::string &text)
{
    const char *blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// "123" -> 123; anything but plain decimal digits (or too many) -> -1.
int decimalNumber(const std::string &text)
{
    if (text.empty() || text.size() > 6)
        return -1;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

namespace platform {

std::map<int, std::string> parseComPortList(const std::string &text)
{
    std::map<int, std::string> ports;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string entry = text.substr(start, end - start);
        start = end + 1;

        const std::size_t equals = entry.find('=');
        if (equals == std::string::npos)
            continue;
        const int port = decimalNumber(trimmed(entry.substr(0, equals)));
        const std::string device = trimmed(entry.substr(equals + 1));
        if (port < 1 || port > kComMaxPort || device.empty())
            continue;
        ports.emplace(port, device);  // keeps the first device of a number
    }
    return ports;
}

} // namespace platform
