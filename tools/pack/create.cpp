// quorvel-pack create: two images and their versions into one package,
// written whole or not at all.
#include "pack.h"
#include "output_file.h"

#include "package.h"
#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kLongestVersion = 32;  // room to spare for any real version
constexpr std::size_t kCopyBlock = 1 << 20;

std::string systemError(const std::string &what, const std::string &path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

// "1", "1.5", "2.05": digits, then optionally a point and more digits.
// No sign, exponent, comma or blank, so that every reader takes it the same way.
bool plainDecimal(const std::string &text)
{
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        return i > start;
    };
    if (!digits())
        return false;
    if (i < text.size() && text[i] == '.') {
        ++i;
        if (!digits())
            return false;
    }
    return i == text.size();
}

bool checkVersion(const std::string &version, int index, double *value, std::string *error)
{
    const std::string which = "version " + std::to_string(index) + " '" + version + "'";
    if (!plainDecimal(version)) {
        *error = which + " is not a plain decimal number (digits, optionally a point and more digits)";
        return false;
    }
    if (version.size() > kLongestVersion) {
        *error = which + " is longer than " + std::to_string(kLongestVersion) + " characters";
        return false;
    }
    const auto r = std::from_chars(version.data(), version.data() + version.size(), *value);
    if (r.ec != std::errc() || r.ptr != version.data() + version.size()) {
        *error = which + " is not a number Quorvel can hold";
        return false;
    }
    return true;
}

struct OpenImage {
    int handle = -1;
    int32_t size = 0;
    ~OpenImage() { CloseFile(handle); }
};

// An image is a regular file: a FIFO or a device such as /dev/zero would
// hang the maker's command or never end.
bool openImage(const std::string &path, int index, OpenImage *image, std::string *error)
{
    const std::string which = "image " + std::to_string(index);
    long long size = 0;
    image->handle = OpenRegularFile(path.c_str(), &size);
    if (image->handle == kFileNotRegular) {
        *error = which + " " + path + " is not a regular file";
        return false;
    }
    if (image->handle < 0) {
        *error = systemError("cannot open " + which, path);
        return false;
    }
    if (size > INT32_MAX) {
        *error = which + " " + path + " is " + std::to_string(size)
                 + " bytes; an image holds at most 2147483647 bytes";
        return false;
    }
    image->size = static_cast<int32_t>(size);
    return true;
}

// Copies exactly image.size bytes and sums them as the camera will. An image
// that shrinks or grows while it is read is refused: its header would lie.
bool copyImage(const OpenImage &image, const std::string &path, OutputFile &out, uint32_t *checksum,
               Sha256Digest *digest, std::string *error)
{
    std::vector<uint8_t> block(kCopyBlock);
    Sha256Stream hash;
    uint32_t sum = 0;
    long long at = 0;
    for (;;) {
        const long long left = image.size - at;
        // Once every byte is copied, one more is asked for: there must be none.
        const long long want = left > 0 ? std::min<long long>(left, kCopyBlock) : 1;
        const long long n = ReadFileAt(image.handle, at, block.data(), want);
        if (n < 0) {
            *error = systemError("cannot read", path);
            return false;
        }
        if (left == 0) {
            if (n > 0) {
                *error = path + " grew while it was read";
                return false;
            }
            break;
        }
        if (n < want) {
            *error = path + " shrank while it was read";
            return false;
        }
        sum += ~static_cast<uint32_t>(Checksum(block.data(), static_cast<uint32_t>(n)));
        hash.add(block.data(), static_cast<std::size_t>(n));
        if (!out.writeAll(reinterpret_cast<const char *>(block.data()), static_cast<std::size_t>(n))) {
            *error = std::string("cannot write the package: ") + std::strerror(errno);
            return false;
        }
        at += n;
    }
    *checksum = ~sum;
    *digest = hash.finish();
    return true;
}

std::string folderOf(const std::string &path)
{
    const std::size_t slash = path.find_last_of(kFolderSeparators);
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string hex8(uint32_t value)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

} // namespace

int createPackage(const std::string &output, const PackImage images[2], const PackSigner *signer,
                  std::FILE *out, std::string *error)
{
    double versions[2] = {};
    OpenImage opened[2];
    for (int k = 0; k < 2; ++k)
        if (!checkVersion(images[k].version, k, &versions[k], error))
            return kPackRefused;
    for (int k = 0; k < 2; ++k)
        if (!openImage(images[k].path, k, &opened[k], error))
            return kPackRefused;

    const std::string header = images[0].version + " " + std::to_string(opened[0].size) + " "
                               + images[1].version + " " + std::to_string(opened[1].size) + "\n";
    // Read back by the loader's own header reader: the numbers must survive.
    double readVersions[2] = {-1.0, -1.0};
    int32_t readSizes[2] = {-1, -1};
    if (!AnalyseEntete(header.c_str(), readVersions, readSizes) || readVersions[0] != versions[0]
        || readVersions[1] != versions[1] || readSizes[0] != opened[0].size
        || readSizes[1] != opened[1].size) {
        *error = "Quorvel would not read the header \"" + header.substr(0, header.size() - 1)
                 + "\" as written";
        return kPackRefused;
    }

    // Written beside the package under another name, then renamed over
    // it: a reader sees the old package or the new one, never half of one.
    OutputFile file;
    if (!file.create(folderOf(output))) {
        *error = systemError("cannot create a file in", folderOf(output));
        return kPackRefused;
    }

    uint32_t checksums[2] = {};
    Sha256Digest digests[2];
    bool ok = true;
    if (!file.writeAll(header.data(), header.size())) {
        *error = std::string("cannot write the package: ") + std::strerror(errno);
        ok = false;
    }
    for (int k = 0; ok && k < 2; ++k)
        ok = copyImage(opened[k], images[k].path, file, &checksums[k], &digests[k], error);
    // The signature covers the bytes just written: their digests were
    // taken from the same blocks.
    if (ok && signer) {
        const int32_t sizes[2] = {opened[0].size, opened[1].size};
        const std::string trailer = trailerFor(*signer, header, Sha256(header.data(), header.size()), sizes, digests, error);
        ok = !trailer.empty();
        if (ok && !file.writeAll(trailer.data(), trailer.size())) {
            *error = std::string("cannot write the package: ") + std::strerror(errno);
            ok = false;
        }
    }
    if (ok) {
        std::string failedStep;
        if (!file.commit(output, &failedStep)) {
            *error = failedStep + ": " + std::strerror(errno);
            ok = false;
        }
    }
    if (!ok)
        return kPackRefused;

    std::string signature = ", not signed";
    if (signer && signer->kind == PackageKind::Demo)
        signature = ", signed as a demo package by the demo key " + KeyIdText(KeyIdOf(signer->publicKey))
                    + " (never for a real camera)";
    else if (signer)
        signature = ", signed as a release by key " + KeyIdText(KeyIdOf(signer->publicKey));
    std::fprintf(out, "%s written: header \"%s\"%s\n", output.c_str(),
                 header.substr(0, header.size() - 1).c_str(), signature.c_str());
    for (int k = 0; k < 2; ++k)
        std::fprintf(out, "  image %d, %s: version %s, %d bytes, checksum 0x%s\n", k, kPackProducts[k],
                     images[k].version.c_str(), static_cast<int>(opened[k].size),
                     hex8(checksums[k]).c_str());
    return kPackOk;
}
