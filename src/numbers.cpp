// Locale-free number reading and writing (std::from_chars / std::to_chars).
#include "numbers.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace {

constexpr std::size_t kLongestNumber = 64;  // longer runs of digits are no header number

const char *skipBlanks(const char *p)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

// The number's text: an optional '+' is accepted as the C library would;
// from_chars itself takes only '-'.
const char *numberStart(const char *p)
{
    if (*p == '+' && p[1] != '-' && p[1] != '+')
        ++p;
    return p;
}

const char *numberEnd(const char *p)
{
    std::size_t n = 0;
    while (p[n] && p[n] != ' ' && p[n] != '\t' && p[n] != '\r' && p[n] != '\n' && n < kLongestNumber)
        ++n;
    return p + n;
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

bool LireReel(const char *&p, double *out)
{
    const char *start = numberStart(skipBlanks(p));
    double value = 0.0;
    const std::from_chars_result r = std::from_chars(start, numberEnd(start), value,
                                                     std::chars_format::general);
    if (r.ec != std::errc() || r.ptr == start || !std::isfinite(value))
        return false;
    *out = value;
    p = r.ptr;
    return true;
}

bool LireEntier32(const char *&p, int32_t *out)
{
    const char *start = numberStart(skipBlanks(p));
    int32_t value = 0;
    const std::from_chars_result r = std::from_chars(start, numberEnd(start), value, 10);
    if (r.ec != std::errc() || r.ptr == start)
        return false;
    *out = value;
    p = r.ptr;
    return true;
}
