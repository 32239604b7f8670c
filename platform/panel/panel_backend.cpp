// What every panel backend shares: the active backend, value conversions
// and text decoding.
#include "panel_backend.h"

#include <atomic>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace platform {

namespace {
std::atomic<const PanelBackend *> activeBackend{nullptr};
} // namespace

void selectPanelBackend(const PanelBackend *backend)
{
    activeBackend.store(backend, std::memory_order_release);
}

const PanelBackend *activePanelBackend()
{
    return activeBackend.load(std::memory_order_acquire);
}

bool convertForKind(const PanelValue &value, ValueKind kind, PanelValue *out)
{
    switch (kind) {
    case ValueKind::Int:
        if (const bool *b = std::get_if<bool>(&value)) {
            *out = *b ? 1 : 0;
            return true;
        }
        if (const int *i = std::get_if<int>(&value)) {
            *out = *i;
            return true;
        }
        if (const double *d = std::get_if<double>(&value)) {
            const double r = std::round(*d);
            if (!(r >= double(INT_MIN) && r <= double(INT_MAX)))
                return false;
            *out = static_cast<int>(r);
            return true;
        }
        return false;
    case ValueKind::Double:
        if (const bool *b = std::get_if<bool>(&value)) {
            *out = *b ? 1.0 : 0.0;
            return true;
        }
        if (const int *i = std::get_if<int>(&value)) {
            *out = double(*i);
            return true;
        }
        if (const double *d = std::get_if<double>(&value)) {
            *out = *d;
            return true;
        }
        return false;
    case ValueKind::Text:
        if (const std::string *s = std::get_if<std::string>(&value)) {
            *out = *s;
            return true;
        }
        if (std::holds_alternative<bool>(value))
            return false;
        char text[64];
        std::to_chars_result r{};
        if (const int *i = std::get_if<int>(&value))
            r = std::to_chars(text, text + sizeof text, *i);
        else
            r = std::to_chars(text, text + sizeof text, std::get<double>(value));
        if (r.ec != std::errc())
            return false;
        *out = std::string(text, r.ptr);
        return true;
    }
    return false;
}

namespace {

// Length of the valid UTF-8 sequence at s[i], 0 when it is not one.
std::size_t utf8Sequence(const std::string &s, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    std::size_t length = 0;
    unsigned int code = 0;
    if (c < 0x80)
        return 1;
    if ((c & 0xE0) == 0xC0) {
        length = 2;
        code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        length = 3;
        code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        length = 4;
        code = c & 0x07;
    } else {
        return 0;
    }
    if (i + length > s.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    static const unsigned int smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

std::string validUtf8(std::string bytes)
{
    // Most texts are ASCII: past those bytes eight at a time.
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t eight;
        std::memcpy(&eight, bytes.data() + i, 8);
        if (eight & 0x8080808080808080ull)
            break;
    }
    while (i < bytes.size()) {
        const std::size_t n = utf8Sequence(bytes, i);
        if (n == 0) {
            // Not UTF-8 as a whole: every byte is a Latin-1 character.
            std::string latin1;
            latin1.reserve(bytes.size() * 2);
            for (unsigned char c : bytes) {
                if (c < 0x80) {
                    latin1 += static_cast<char>(c);
                } else {
                    latin1 += static_cast<char>(0xC0 | (c >> 6));
                    latin1 += static_cast<char>(0x80 | (c & 0x3F));
                }
            }
            return latin1;
        }
        i += n;
    }
    return bytes;
}

} // namespace platform
