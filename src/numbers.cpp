// Locale-free number reading and writing (std::from_chars / std::to_chars).
#include "numbers.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool endsWord(char c) { return isBlank(c) || c == '\r' || c == '\n'; }

// The word at `p` after its blanks: [start, stop).
void findWord(const char *p, const char *end, const char **start, const char **stop)
{
    while (p < end && isBlank(*p))
        ++p;
    *start = p;
    while (p < end && !endsWord(*p))
        ++p;
    *stop = p;
}

// An optional '+' is a sign as the C library reads it; from_chars itself
// takes only '-'. "+-1" stays what it is: no number.
const char *afterPlus(const char *start, const char *stop)
{
    if (stop - start >= 2 && *start == '+' && start[1] != '-' && start[1] != '+')
        return start + 1;
    return start;
}

} // namespace

int FormatFixe(char *out, std::size_t size, double value, int decimals)
{
    if (!out || size == 0)
        return -1;
    const std::to_chars_result r = std::to_chars(out, out + size - 1, value, std::chars_format::fixed,
                                                 decimals);
    if (r.ec != std::errc()) {
        out[0] = '\0';
        return -1;
    }
    *r.ptr = '\0';
    return static_cast<int>(r.ptr - out);
}

bool LireReel(const char *&p, const char *end, double *out)
{
    const char *start, *stop;
    findWord(p, end, &start, &stop);
    const char *number = afterPlus(start, stop);
    double value = 0.0;
    // from_chars reports a value beyond a double, or one that would read as
    // 0, as out of range; "inf" and "nan" it reads, and they are refused here.
    const std::from_chars_result r = std::from_chars(number, stop, value, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != stop || stop == start || !std::isfinite(value))
        return false;
    *out = value;
    p = stop;
    return true;
}

bool LireEntier32(const char *&p, const char *end, int32_t *out)
{
    const char *start, *stop;
    findWord(p, end, &start, &stop);
    const char *number = afterPlus(start, stop);
    int32_t value = 0;
    const std::from_chars_result r = std::from_chars(number, stop, value, 10);
    if (r.ec != std::errc() || r.ptr != stop || stop == start)
        return false;
    *out = value;
    p = stop;
    return true;
}
