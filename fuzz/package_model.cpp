// The package fuzzer's oracle (see package_model.h).
#include "package_model.h"

#include <gcrypt.h>

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

namespace {

std::string sha256(const std::string &bytes)
{
    unsigned char digest[32];
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest, bytes.data(), bytes.size());
    return std::string(reinterpret_cast<const char *>(digest), 32);
}

std::string lowerHex(const std::string &bytes)
{
    std::string text;
    char two[3];
    for (unsigned char c : bytes) {
        std::snprintf(two, sizeof two, "%02x", c);
        text += two;
    }
    return text;
}

uint64_t littleEndian(const std::string &bytes, std::size_t at, int count)
{
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value * 256 + static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

// A version in the manifest: 1 to 32 visible characters, no space, read
// as the same number as the header's.
bool sameVersion(const std::string &word, double headerVersion)
{
    if (word.empty() || word.size() > 32)
        return false;
    for (unsigned char c : word)
        if (c <= ' ' || c >= 127)
            return false;
    double value = 0.0;
    return readReal(word, &value) && value == headerVersion;
}

// S below the group order L = 2^252 + 27742317777372353535851937790883648493.
bool reducedS(const std::string &s)
{
    static const unsigned char order[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                                            0xa2, 0xde, 0xf9, 0xde, 0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                            0, 0, 0, 0x10};
    for (int i = 31; i >= 0; --i) {
        const auto c = static_cast<unsigned char>(s[static_cast<std::size_t>(i)]);
        if (c != order[i])
            return c < order[i];
    }
    return false;
}

bool ed25519Verifies(const std::string &key, const std::string &message, const std::string &signature)
{
    static const bool ready = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)ready;
    gcry_sexp_t publicKey = nullptr, data = nullptr, value = nullptr;
    bool good = gcry_sexp_build(&publicKey, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))", 32,
                                key.data()) == 0
                && gcry_sexp_build(&data, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                                   static_cast<int>(message.size()), message.data()) == 0
                && gcry_sexp_build(&value, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature.data(), 32,
                                   signature.data() + 32) == 0
                && gcry_pk_verify(value, data, publicKey) == 0;
    gcry_sexp_release(publicKey);
    gcry_sexp_release(data);
    gcry_sexp_release(value);
    return good;
}

} // namespace

bool SignedRelease(const std::string &file, const Header &header, const std::string &trustedKey)
{
    if (!header.complete || header.length == 0 || header.sizes[0] < 0 || header.sizes[1] < 0)
        return false;
    const uint64_t start = header.length + static_cast<uint64_t>(header.sizes[0]) + static_cast<uint64_t>(header.sizes[1]);
    constexpr std::size_t kFooter = 24, kSignature = 64;
    if (file.size() < kFooter)
        return false;
    const std::string footer = file.substr(file.size() - kFooter);
    if (footer.compare(0, 8, "QVSIGN01") != 0 || littleEndian(footer, 8, 8) != start
        || littleEndian(footer, 20, 4) != kSignature)
        return false;
    const uint64_t manifestLength = littleEndian(footer, 16, 4);
    if (manifestLength < 1 || manifestLength > 4096 || start + manifestLength + kSignature + kFooter != file.size())
        return false;
    const std::string manifest = file.substr(start, manifestLength);
    const std::string signature = file.substr(start + manifestLength, kSignature);

    // The six lines, written out as the release they must describe.
    std::string expected = "quorvel-firmware-manifest 1\nkind release\nsigner "
                           + lowerHex(sha256(trustedKey).substr(0, 8)) + "\nheader-sha256 "
                           + lowerHex(sha256(file.substr(0, header.length))) + "\n";
    std::size_t at = header.length;
    const char *const products[2] = {"RZ4417", "KWT6083"};
    // The versions are the words the manifest gives; each is checked
    // against the header's number.
    std::size_t lineStart = 0;
    for (int line = 0; line < 4 && lineStart != std::string::npos; ++line)
        lineStart = manifest.find('\n', lineStart) == std::string::npos ? std::string::npos
                                                                         : manifest.find('\n', lineStart) + 1;
    for (int k = 0; k < 2; ++k) {
        const std::string prefix = "image " + std::to_string(k) + " " + products[k] + " "
                                   + std::to_string(header.sizes[k]) + " ";
        if (lineStart == std::string::npos || manifest.compare(lineStart, prefix.size(), prefix) != 0)
            return false;
        const std::size_t versionEnd = manifest.find(' ', lineStart + prefix.size());
        if (versionEnd == std::string::npos)
            return false;
        const std::string version = manifest.substr(lineStart + prefix.size(), versionEnd - lineStart - prefix.size());
        if (!sameVersion(version, header.versions[k]))
            return false;
        expected += prefix + version + " " + lowerHex(sha256(file.substr(at, static_cast<std::size_t>(header.sizes[k])))) + "\n";
        at += static_cast<std::size_t>(header.sizes[k]);
        const std::size_t next = manifest.find('\n', lineStart);
        lineStart = next == std::string::npos ? next : next + 1;
    }
    if (manifest != expected || !reducedS(signature.substr(32)))
        return false;
    return ed25519Verifies(trustedKey, "quorvel-package-signature-1\n" + manifest + footer, signature);
}

} // namespace package_model
