// The package fuzzer's oracle (see package_model.h).
#include "package_model.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace package_model {

namespace {

constexpr std::size_t kHeaderWindow = 4096;  // the header line ends within the file's first bytes

bool digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Walks a word through the states of a decimal real: sign, digits with at
// most one point (a digit on either side at least), then an exponent with
// its own sign and digits. True when the whole word is one.
bool realWord(const std::string &w, bool *nonZeroDigits)
{
    enum { Start, Sign, Whole, Point, Fraction, E, ESign, EDigits, Bad } s = Start;
    *nonZeroDigits = false;
    for (unsigned char c : w) {
        const bool d = digit(c);
        if (d && c != '0' && s != E && s != ESign && s != EDigits)
            *nonZeroDigits = true;
        switch (s) {
        case Start: s = (c == '+' || c == '-') ? Sign : d ? Whole : c == '.' ? Point : Bad; break;
        case Sign: s = d ? Whole : c == '.' ? Point : Bad; break;
        case Whole: s = d ? Whole : c == '.' ? Fraction : (c == 'e' || c == 'E') ? E : Bad; break;
        case Point: s = d ? Fraction : Bad; break;
        case Fraction: s = d ? Fraction : (c == 'e' || c == 'E') ? E : Bad; break;
        case E: s = (c == '+' || c == '-') ? ESign : d ? EDigits : Bad; break;
        case ESign: s = d ? EDigits : Bad; break;
        case EDigits: s = d ? EDigits : Bad; break;
        case Bad: break;
        }
    }
    return s == Whole || s == Fraction || s == EDigits;
}

bool readReal(const std::string &w, double *out)
{
    bool nonZero = false;
    if (!realWord(w, &nonZero))
        return false;
    const double value = std::strtod(w.c_str(), nullptr);  // the C locale: a point
    if (std::isinf(value) || (value == 0.0 && nonZero))
        return false;
    *out = value;
    return true;
}

bool readInteger(const std::string &w, int32_t *out)
{
    size_t i = 0;
    bool negative = false;
    if (i < w.size() && (w[i] == '+' || w[i] == '-'))
        negative = w[i++] == '-';
    if (i == w.size())
        return false;
    unsigned long long magnitude = 0;
    for (; i < w.size(); ++i) {
        if (!digit(static_cast<unsigned char>(w[i])))
            return false;
        magnitude = magnitude * 10 + static_cast<unsigned>(w[i] - '0');
        if (magnitude > 2147483648ULL)
            return false;
    }
    if (!negative && magnitude > 2147483647ULL)
        return false;
    *out = negative ? static_cast<int32_t>(-static_cast<long long>(magnitude)) : static_cast<int32_t>(magnitude);
    return true;
}

} // namespace

Header ReadHeader(const std::string &file)
{
    Header h;
    for (size_t i = 0; i < file.size() && i < kHeaderWindow; ++i)
        if (file[i] == '\n') {
            h.length = i + 1;
            break;
        }
    if (h.length == 0)
        return h;

    // Cut the line into words; the line feed ends the last one.
    size_t at = 0;
    const auto nextWord = [&](std::string *word) {
        while (file[at] == ' ' || file[at] == '\t')
            ++at;
        const size_t start = at;
        while (file[at] != ' ' && file[at] != '\t' && file[at] != '\r' && file[at] != '\n')
            ++at;
        *word = file.substr(start, at - start);
    };
    std::string w;
    nextWord(&w);
    if (!readReal(w, &h.versions[0]))
        return h;
    nextWord(&w);
    if (!readInteger(w, &h.sizes[0]))
        return h;
    nextWord(&w);
    if (!readReal(w, &h.versions[1]))
        return h;
    nextWord(&w);
    h.complete = readInteger(w, &h.sizes[1]);
    return h;
}

bool Image(const std::string &file, const Header &h, int index, std::string *image)
{
    const int32_t size = h.sizes[index];
    if (!h.complete || size < 0 || (index == 1 && h.sizes[0] < 0))
        return false;
    image->clear();
    if (size == 0)
        return true;
    const unsigned long long start = h.length + (index == 1 ? static_cast<unsigned long long>(h.sizes[0]) : 0);
    if (start + static_cast<unsigned long long>(size) > file.size())
        return false;
    *image = file.substr(start, static_cast<size_t>(size));
    return true;
}

uint32_t Checksum(const std::string &bytes)
{
    uint64_t sum = 0;
    for (unsigned char c : bytes)
        sum += c;
    return ~static_cast<uint32_t>(sum & 0xFFFFFFFFu);
}

std::string InfoLine(const char *name, double version, int32_t size, int language)
{
    char versionText[400];
    std::snprintf(versionText, sizeof versionText, "%.2f", version);
    // A version of more than 31 characters is left out rather than cut in
    // the middle of its digits.
    if (std::strlen(versionText) > 31)
        versionText[0] = '\0';
    std::string product = std::string(name) + " v0" + versionText;
    product = product.substr(0, 19);
    char line[400];
    std::snprintf(line, sizeof line, "%s %s : %.3f %s ...",
                  language == 0 ? "Updating with" : "Mise \xC3\xA0 jour avec", product.c_str(),
                  static_cast<double>(static_cast<uint32_t>(size)) / 1048576.0,
                  language == 0 ? "Mb" : "Mo");
    return std::string(line).substr(0, 99);
}

std::string CameraHeader(uint32_t size, uint32_t checksum)
{
    char header[17];
    std::snprintf(header, sizeof header, "%08X%08X", static_cast<unsigned>(size),
                  static_cast<unsigned>(checksum));
    return header;
}

} // namespace package_model
