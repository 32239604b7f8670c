// Fuzz target: arbitrary bytes as the package file vers.kq. The start-up
// header read, both image loads and the INFO line are checked against a
// model written here from the package's description alone; it shares no
// code, constant or limit with the loader:
//
//   - the header line is the file's bytes up to its first line feed, which
//     must be among the file's first 4096 bytes; otherwise there is none;
//   - the line holds, in order, a real, an integer, a real, an integer,
//     each a word between blanks (space, tab) ending at a blank, a carriage
//     return or the line feed. A word that is not wholly a number of its
//     kind, or a value out of range (a real beyond a double or one that
//     would read as 0 although its digits are not all 0; an integer outside
//     32 bits signed), leaves it and the fields after it unread and
//     unchanged; the header counts as read only with all four;
//   - a header not read loads no image at all;
//   - image k starts right after the header line, behind the images before
//     it, and loads only when the file holds all its bytes; a size of 0
//     always loads; a negative size never does;
//   - the checksum is the complement of the wrapping 32-bit byte sum;
//   - the INFO line is "Updating with NAME v0V.VV : M.MMM Mb ..." (French:
//     "Mise à jour avec" and "Mo"), the name and version cut to 19 bytes and
//     the whole line to 99.
#include "loader_state.h"
#include "package.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// ---- the model ----------------------------------------------------------------

struct Header {
    double versions[2] = {-7.0, -7.0};  // what the fields hold before the read
    int32_t sizes[2] = {-7, -7};
    bool complete = false;  // all four fields were read
    size_t length = 0;      // bytes of the header line, line feed included; 0: none
};

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

Header modelHeader(const std::string &file)
{
    Header h;
    for (size_t i = 0; i < file.size() && i < 4096; ++i)
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

// The image that loads for `index`, or false when the load must fail.
bool modelImage(const std::string &file, const Header &h, int index, std::string *image)
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

uint32_t modelChecksum(const std::string &bytes)
{
    uint64_t sum = 0;
    for (unsigned char c : bytes)
        sum += c;
    return ~static_cast<uint32_t>(sum & 0xFFFFFFFFu);
}

std::string modelInfoLine(const char *name, double version, int32_t size, int language)
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

// ---- the checks -------------------------------------------------------------------

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

// One file per fuzzing process, in memory when the machine offers it: a
// file per input on disk is slow.
const std::string &packagePath()
{
    static const std::string path = [] {
        std::string name = std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp")
                           + "/quorvel-fuzz-package-XXXXXX";
        const int fd = ::mkstemp(name.data());
        if (fd < 0)
            fail("cannot create the package file");
        ::close(fd);
        std::atexit([] { ::unlink(packagePath().c_str()); });
        return name;
    }();
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
    loader.packagePath = packagePath();

    const Header expected = modelHeader(file);
    loader.packageVersions[0] = loader.packageVersions[1] = -7.0;
    loader.packageSizes[0] = loader.packageSizes[1] = -7;
    loader.packageHeaderRead = 0;
    LectureEntete();
    check((loader.packageHeaderRead != 0) == expected.complete, "header completeness differs");
    for (int k = 0; k < 2; ++k) {
        check(loader.packageSizes[k] == expected.sizes[k], "header size differs");
        // Both read the same decimal text: the nearest double, exactly.
        check(loader.packageVersions[k] == expected.versions[k], "header version differs");
    }

    for (int k = 0; k < 2; ++k) {
        // What VerifFichier selects, then the load the camera's START OK asks for.
        loader.imageSize = loader.packageSizes[k];
        for (int language = 0; language < 2; ++language) {
            char line[100];
            const char *name = k == 0 ? "RZ4417" : "KWT6083";
            FormatLigneInfo(line, sizeof line, name, loader.packageVersions[k], loader.imageSize,
                            language);
            check(line == modelInfoLine(name, loader.packageVersions[k], loader.imageSize, language),
                  "INFO line differs");
        }
        std::string image;
        const bool loads = modelImage(file, expected, k, &image);
        loader.imageChecksum = 0x5EED;
        const int result = ChecksumFichier(k);
        check((result == 0) == loads, loads ? "a whole image did not load" : "a bad image loaded");
        if (loads) {
            check(std::memcmp(loader.imageBuffer.load(), image.data(), image.size()) == 0,
                  "loaded image bytes differ");
            check(static_cast<uint32_t>(loader.imageChecksum) == modelChecksum(image), "checksum differs");
            char header[17];
            FormatEnteteCamera(header, static_cast<uint32_t>(image.size()), modelChecksum(image));
            char expectedHeader[17];
            std::snprintf(expectedHeader, sizeof expectedHeader, "%08X%08X",
                          static_cast<unsigned>(image.size()), modelChecksum(image));
            check(std::strcmp(header, expectedHeader) == 0, "camera header differs");
        } else {
            check(loader.imageChecksum == 0x5EED, "a failed load changed the checksum");
        }
    }
    std::free(loader.imageBuffer.exchange(nullptr));
    return 0;
}
