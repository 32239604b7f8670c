// Fuzz target: arbitrary bytes as the package file vers.kq. The start-up
// header read, both image loads, the camera's header and the INFO line are
// checked against the oracle of package_model.h, which knows the package
// format from its description alone and shares nothing with the loader.
// This file only drives the loader and compares.
#include "loader_state.h"
#include "package.h"
#include "package_model.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

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

    const package_model::Header expected = package_model::ReadHeader(file);
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
            check(line == package_model::InfoLine(name, loader.packageVersions[k], loader.imageSize, language),
                  "INFO line differs");
        }
        std::string image;
        const bool loads = package_model::Image(file, expected, k, &image);
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
