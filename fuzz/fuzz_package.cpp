// Fuzz target: arbitrary bytes as the package file vers.kq. The header read,
// both image loads and the INFO line are checked against a reference
// written here from the package's description, not from the loader's code:
//
//   - the header is the file's first line (at most 4096 bytes read, ending at
//     a NUL as a C text does); its fields "version size version size" are
//     read in order, blanks or tabs before each, and the first field that is
//     not a number of its kind leaves the rest unread and unchanged;
//   - a header that did not give all four numbers loads no image at all;
//   - image k starts after the first line feed, behind the images before it,
//     and loads only when the file holds all its bytes; a size of 0 always
//     loads; a negative size never does;
//   - the checksum is the complement of the wrapping 32-bit byte sum;
//   - the INFO line is "Updating with NAME v0V.VV : M.MMM Mb ..." (French:
//     "Mise à jour avec" and "Mo"), the name and version cut to 19 bytes and
//     the whole line to 99.
#include "loader_state.h"
#include "package.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// ---- the reference ----------------------------------------------------------

struct Header {
    double versions[2] = {-7.0, -7.0};  // what the fields hold before the read
    int32_t sizes[2] = {-7, -7};
    // A real below the smallest normal double, or a field of 64 characters
    // or more (the loader reads at most 64): either reading is fair.
    bool ambiguous = false;
    bool complete = false;  // all four fields were read
};

constexpr size_t kLongestNumber = 63;  // longer runs are not modelled

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The text of one field: blanks skipped, then up to a blank or line end.
std::string fieldText(const std::string &line, size_t &at, bool *ambiguous)
{
    while (at < line.size() && isBlank(line[at]))
        ++at;
    size_t end = at;
    while (end < line.size() && !isBlank(line[end]) && line[end] != '\r' && line[end] != '\n')
        ++end;
    if (end - at > kLongestNumber)
        *ambiguous = true;
    return line.substr(at, end - at);
}

// Length of the optional sign the field starts with: one '+' or one '-'.
size_t signLength(const std::string &t)
{
    return !t.empty() && (t[0] == '+' || t[0] == '-') ? 1 : 0;
}

// A decimal real: sign, digits with at most one point (one digit at least),
// then an exponent only if digits follow its 'e'. Returns the characters
// used, 0 when there is no number.
size_t realLength(const std::string &t)
{
    size_t i = signLength(t);
    size_t digits = 0;
    while (i < t.size() && isDigit(t[i]))
        ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && isDigit(t[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return 0;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        size_t j = i + 1;
        if (j < t.size() && (t[j] == '+' || t[j] == '-'))
            ++j;
        if (j < t.size() && isDigit(t[j])) {
            while (j < t.size() && isDigit(t[j]))
                ++j;
            i = j;
        }
    }
    return i;
}

bool readReal(const std::string &line, size_t &at, double *out, bool *ambiguous)
{
    size_t start = at;
    const std::string t = fieldText(line, start, ambiguous);
    const size_t n = realLength(t);
    if (n == 0)
        return false;
    errno = 0;
    const std::string number = t.substr(0, n);
    const double value = std::strtod(number.c_str(), nullptr);
    if (!std::isfinite(value) || (errno == ERANGE && std::fabs(value) >= DBL_MIN))
        return false;  // beyond any double
    if (errno == ERANGE || (value != 0.0 && std::fabs(value) < DBL_MIN))
        *ambiguous = true;
    *out = value;
    at = start + n;
    return true;
}

bool readInteger(const std::string &line, size_t &at, int32_t *out, bool *ambiguous)
{
    size_t start = at;
    const std::string t = fieldText(line, start, ambiguous);
    size_t i = signLength(t);
    const bool negative = i == 1 && t[0] == '-';
    long long value = 0;
    const size_t first = i;
    while (i < t.size() && isDigit(t[i])) {
        value = value * 10 + (t[i] - '0');
        if (value > 2147483648LL)
            return false;  // does not fit 32 bits
        ++i;
    }
    if (i == first)
        return false;
    if (negative)
        value = -value;
    if (value > INT32_MAX || value < INT32_MIN)
        return false;
    *out = static_cast<int32_t>(value);
    at = start + i;
    return true;
}

Header referenceHeader(const std::string &file)
{
    Header h;
    const size_t lineFeed = file.find('\n');
    std::string line = file.substr(0, std::min<size_t>(
                                           lineFeed == std::string::npos ? file.size() : lineFeed + 1, 4096));
    line = line.substr(0, line.find('\0'));
    size_t at = 0;
    if (readReal(line, at, &h.versions[0], &h.ambiguous)
        && readInteger(line, at, &h.sizes[0], &h.ambiguous)
        && readReal(line, at, &h.versions[1], &h.ambiguous))
        h.complete = readInteger(line, at, &h.sizes[1], &h.ambiguous);
    return h;
}

// The image that loads for `index`, or false when the load must fail.
bool referenceImage(const std::string &file, const int32_t sizes[2], int index, std::string *image)
{
    const int32_t size = sizes[index];
    if (size < 0 || (index == 1 && sizes[0] < 0))
        return false;
    image->clear();
    if (size == 0)
        return true;
    const size_t lineFeed = file.find('\n');
    if (lineFeed == std::string::npos)
        return false;
    const unsigned long long start = lineFeed + 1 + (index == 1 ? static_cast<uint64_t>(sizes[0]) : 0);
    if (start + static_cast<uint64_t>(size) > file.size())
        return false;
    *image = file.substr(start, static_cast<size_t>(size));
    return true;
}

uint32_t referenceChecksum(const std::string &bytes)
{
    uint64_t sum = 0;
    for (unsigned char c : bytes)
        sum += c;
    return ~static_cast<uint32_t>(sum & 0xFFFFFFFFu);
}

std::string referenceInfoLine(const char *name, double version, int32_t size, int language)
{
    char versionText[400];
    std::snprintf(versionText, sizeof versionText, "%.2f", version);
    // The loader keeps a version of at most 31 characters; a longer one is
    // left out rather than cut in the middle of its digits.
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

// ---- the checks ---------------------------------------------------------------

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "package fuzz: %s\n", what);
    std::abort();
}

void check(bool ok, const char *what)
{
    if (!ok)
        fail(what);
}

const std::string &packagePath()
{
    // In memory when the machine offers it: a file per input on disk is slow.
    static const std::string folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    static const std::string path
        = folder + "/quorvel-fuzz-package-" + std::to_string(::getpid()) + ".kq";
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string file(reinterpret_cast<const char *>(data), size);
    if (std::FILE *f = std::fopen(packagePath().c_str(), "wb")) {
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
    } else {
        return 0;
    }
    std::snprintf(loader.packagePath, sizeof loader.packagePath, "%s", packagePath().c_str());

    const Header expected = referenceHeader(file);
    loader.packageVersions[0] = loader.packageVersions[1] = -7.0;
    loader.packageSizes[0] = loader.packageSizes[1] = -7;
    loader.packageHeaderRead = 0;
    LectureEntete();
    const bool complete = expected.ambiguous ? loader.packageHeaderRead != 0 : expected.complete;
    if (!expected.ambiguous) {
        check((loader.packageHeaderRead != 0) == expected.complete, "header completeness differs");
        for (int k = 0; k < 2; ++k) {
            check(loader.packageSizes[k] == expected.sizes[k], "header size differs");
            // Both read the same decimal text: the nearest double, exactly.
            check(loader.packageVersions[k] == expected.versions[k], "header version differs");
        }
    }

    for (int k = 0; k < 2; ++k) {
        // What VerifFichier selects, then the load the camera's START OK asks for.
        loader.imageSize = loader.packageSizes[k];
        for (int language = 0; language < 2; ++language) {
            char line[100];
            const char *name = k == 0 ? "RZ4417" : "KWT6083";
            FormatLigneInfo(line, sizeof line, name, loader.packageVersions[k], loader.imageSize,
                            language);
            check(line == referenceInfoLine(name, loader.packageVersions[k], loader.imageSize,
                                            language),
                  "INFO line differs");
        }
        std::string image;
        const bool loads = complete && referenceImage(file, loader.packageSizes, k, &image);
        loader.imageChecksum = 0x5EED;
        const int result = ChecksumFichier(k);
        check((result == 0) == loads, loads ? "a whole image did not load" : "a bad image loaded");
        if (loads) {
            check(std::memcmp(loader.imageBuffer.load(), image.data(), image.size()) == 0,
                  "loaded image bytes differ");
            check(static_cast<uint32_t>(loader.imageChecksum) == referenceChecksum(image),
                  "checksum differs");
            char header[17];
            FormatEnteteCamera(header, static_cast<uint32_t>(image.size()), referenceChecksum(image));
            char expectedHeader[17];
            std::snprintf(expectedHeader, sizeof expectedHeader, "%08X%08X",
                          static_cast<unsigned>(image.size()), referenceChecksum(image));
            check(std::strcmp(header, expectedHeader) == 0, "camera header differs");
        } else {
            check(loader.imageChecksum == 0x5EED, "a failed load changed the checksum");
        }
    }
    std::free(loader.imageBuffer.exchange(nullptr));
    return 0;
}
