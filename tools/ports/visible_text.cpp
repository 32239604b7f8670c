// Escaping for the port doctor's output: see visible_text.h.
#include "visible_text.h"

#include <cstdio>

namespace {

void escapeByte(std::string &out, unsigned char byte)
{
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02x", byte);
    out += text;
}

// Length of the valid UTF-8 sequence starting at `at` and its code point,
// or 0 when the bytes there are not one (overlong forms, surrogates, code
// points past U+10FFFF and cut sequences included).
std::size_t utf8Sequence(const std::string &text, std::size_t at, unsigned *codePoint)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(at);
    std::size_t length;
    unsigned value;
    unsigned minimum;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2, value = lead & 0x1f, minimum = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3, value = lead & 0x0f, minimum = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xc0) != 0x80)
            return 0;
        value = (value << 6) | (byte(at + i) & 0x3f);
    }
    if (value < minimum || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
        return 0;
    *codePoint = value;
    return length;
}

// The characters that reorder the text around them on screen: a USB string
// or a banner holding one could make a line read as something else
// ("KWT6083" shown where "3806TWK" was sent).
bool reordersText(unsigned codePoint)
{
    return codePoint == 0x061c || codePoint == 0x200e || codePoint == 0x200f
           || (codePoint >= 0x202a && codePoint <= 0x202e) || (codePoint >= 0x2066 && codePoint <= 0x2069);
}

} // namespace

std::string visibleText(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte == '\\') {
            out += "\\\\";
            ++at;
        } else if (byte < 0x20 || byte == 0x7f) {
            escapeByte(out, byte);
            ++at;
        } else if (byte < 0x80) {
            out += static_cast<char>(byte);
            ++at;
        } else {
            unsigned codePoint = 0;
            const std::size_t length = utf8Sequence(text, at, &codePoint);
            if (length == 0 || codePoint <= 0x9f) {  // invalid, or a C1 control
                const std::size_t bad = length == 0 ? 1 : length;
                for (std::size_t i = 0; i < bad; ++i)
                    escapeByte(out, static_cast<unsigned char>(text[at + i]));
                at += bad;
            } else if (reordersText(codePoint)) {
                char text[16];
                std::snprintf(text, sizeof text, "\\u{%04x}", codePoint);
                out += text;
                at += length;
            } else {
                out.append(text, at, length);
                at += length;
            }
        }
    }
    return out;
}
