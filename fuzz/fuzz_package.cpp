// Fuzz target: arbitrary bytes as the package file vers.kq, in a build that
// trusts the project's release key (the test pair the build generates). The
// start-up header read and signature check, both image loads, the camera's
// header and the INFO line are checked against the oracle of
// package_model.h, which knows the package format from its description
// alone and shares nothing with the loader. This file only drives the
// loader and compares.
//
// The input's first byte chooses what the rest becomes: bit 0 clear, the
// file as it is; set, header and images as the rest gives them, signed
// (bit 1: kind demo, bit 2: by the demo key rather than the release key),
// and with bit 3 one byte of the signed file changed (where: from the
// input's last bytes; how: the high nibble). A signed file with no change
// must be taken exactly when it is a release by the release key; a changed
// one never.
#include "crypto.h"
#include "loader_state.h"
#include "package.h"
#include "package_model.h"
#include "trailer.h"
#include "trust.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

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

struct ReleaseKey {
    Ed25519Seed seed{};
    Ed25519PublicKey key{};
};

const ReleaseKey &releaseKey()
{
    static const ReleaseKey pair = [] {
        ReleaseKey read;
        std::string text(400, '\0');
        std::FILE *f = std::fopen(QUORVEL_TEST_RELEASE_KEY, "rb");
        if (!f)
            fail("no test release key");
        text.resize(std::fread(text.data(), 1, text.size(), f));
        std::fclose(f);
        if (!ReadPrivateKeyText(text, &read.seed, &read.key))
            fail("the test release key cannot be read");
        return read;
    }();
    return pair;
}

// The header's words, split on blanks and line ends.
std::vector<std::string> words(const std::string &line)
{
    std::vector<std::string> out;
    std::string word;
    for (const char c : line + " ") {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!word.empty())
                out.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    return out;
}

// Header and images of `rest`, and a trailer signed as `mode` says; false
// when `rest` holds no whole package to sign.
bool signedFile(const std::string &rest, uint8_t mode, std::string *file, bool *signable)
{
    const package_model::Header h = package_model::ReadHeader(rest);
    if (!h.complete || h.sizes[0] < 0 || h.sizes[1] < 0)
        return false;
    const uint64_t end = h.length + static_cast<uint64_t>(h.sizes[0]) + static_cast<uint64_t>(h.sizes[1]);
    if (end > rest.size())
        return false;
    const std::vector<std::string> tokens = words(rest.substr(0, h.length));
    Manifest manifest;
    manifest.kind = mode & 2 ? PackageKind::Demo : PackageKind::Release;
    manifest.header = Sha256(rest.data(), h.length);
    uint64_t at = h.length;
    *signable = tokens.size() >= 4;
    for (int k = 0; k < 2; ++k) {
        manifest.images[k].size = h.sizes[k];
        manifest.images[k].version = tokens.size() >= 4 ? tokens[2 * k] : "1";
        manifest.images[k].digest = Sha256(rest.data() + at, static_cast<std::size_t>(h.sizes[k]));
        at += static_cast<uint64_t>(h.sizes[k]);
        const std::string &v = manifest.images[k].version;
        *signable = *signable && !v.empty() && v.size() <= 32;
    }
    const ReleaseKey &release = releaseKey();
    const std::string trailer = mode & 4 ? SignedTrailer(manifest, end, kDemoSeed, kDemoPublicKey)
                                         : SignedTrailer(manifest, end, release.seed, release.key);
    *file = rest.substr(0, end) + trailer;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    std::string file(reinterpret_cast<const char *>(data) + 1, size - 1);
    bool madeSigned = false, signable = false, changed = false;
    if ((mode & 1) && signedFile(std::string(file), mode, &file, &signable)) {
        madeSigned = true;
        if ((mode & 8) && !file.empty()) {
            uint32_t where = 0;
            for (std::size_t i = size > 4 ? size - 4 : 1; i < size; ++i)
                where = where * 256 + data[i];
            file[where % file.size()] = static_cast<char>(file[where % file.size()] ^ ((mode >> 4) | 1));
            changed = true;
        }
    }
    if (std::FILE *f = std::fopen(packagePath().c_str(), "wb")) {
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
    } else {
        return 0;
    }
    loader.packagePath = packagePath();

    const package_model::Header expected = package_model::ReadHeader(file);
    loader.packageVersions[0] = loader.packageVersions[1] = -7.0;
    loader.packageSizes[0] = loader.packageSizes[1] = -7;
    loader.packageHeaderRead = 0;
    LectureEntete();
    check((loader.packageHeaderRead != 0) == expected.complete, "header completeness differs");
    const std::string trusted(reinterpret_cast<const char *>(releaseKey().key.data()), 32);
    const bool accepted = package_model::SignedRelease(file, expected, trusted);
    check((loader.packageVerdict == PackageVerdict::Verified) == accepted,
          accepted ? "a signed release was refused" : "a package not signed as a release was taken");
    check(accepted == RefusPackage(0).empty(), "the refusal's text disagrees with the verdict");
    if (madeSigned && !changed && signable && !(mode & 6))
        check(accepted, "a release just signed by the release key does not verify");
    if (changed)
        check(!accepted, "a signed package with one byte changed was taken");
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
            check(line == package_model::InfoLine(name, loader.packageVersions[k], loader.imageSize, language),
                  "INFO line differs");
        }
        std::string image;
        const bool loads = accepted && package_model::Image(file, expected, k, &image);
        loader.imageChecksum = 0x5EED;
        const int result = ChecksumFichier(k);
        check((result == 0) == loads, loads ? "a whole image did not load" : "a bad image loaded");
        if (loads) {
            check(std::memcmp(loader.imageBuffer.load(), image.data(), image.size()) == 0,
                  "loaded image bytes differ");
            const uint32_t sum = package_model::Checksum(image);
            check(static_cast<uint32_t>(loader.imageChecksum) == sum, "checksum differs");
            char header[17];
            FormatEnteteCamera(header, static_cast<uint32_t>(image.size()), sum);
            check(header == package_model::CameraHeader(static_cast<uint32_t>(image.size()), sum),
                  "camera header differs");
        } else {
            check(loader.imageChecksum == 0x5EED, "a failed load changed the checksum");
        }
    }
    std::free(loader.imageBuffer.exchange(nullptr));
    return 0;
}
