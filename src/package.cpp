// The firmware package: existence test, header, image selection and load.
#include "package.h"

#include "loader_state.h"
#include "messages.h"
#include "platform.h"
#include "ui_constants.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr int kHeaderMaxLength = 4096;  // a real header is one short line

// Reads one number of the header; returns false (leaving *out alone) when
// none is there. Spaces and tabs before it are skipped.
bool readDouble(const char *&p, double *out)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    char *end = nullptr;
    errno = 0;
    double v = std::strtod(p, &end);
    if (end == p || errno == ERANGE || !std::isfinite(v))
        return false;
    *out = v;
    p = end;
    return true;
}

// A size is a 32-bit signed integer; a value outside that range is refused
// rather than wrapped into a different size.
bool readSize(const char *&p, int32_t *out)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    char *end = nullptr;
    errno = 0;
    long long v = std::strtoll(p, &end, 10);
    if (end == p || errno == ERANGE || v < std::numeric_limits<int32_t>::min()
        || v > std::numeric_limits<int32_t>::max())
        return false;
    *out = static_cast<int32_t>(v);
    p = end;
    return true;
}

double megabytes(int32_t size)
{
    return static_cast<double>(static_cast<uint32_t>(size)) / std::pow(2.0, 20.0);
}

} // namespace

bool PackagePresent()
{
    return GetFileSize(loader.packagePath) >= 0;
}

int SignalerPackageAbsent()
{
    return MessagePopup(Msg(MSG_ERROR_TITLE, loader.language), Msg(MSG_NO_PACKAGE, loader.language));
}

void LectureEntete()
{
    std::FILE *f = std::fopen(loader.packagePath, "r");
    if (!f)
        return;
    char line[kHeaderMaxLength + 1] = {};
    if (std::fgets(line, sizeof line, f)) {
        // Same reading as "%f %i %f %i": stop at the first field that is not there.
        const char *p = line;
        (void)(readDouble(p, &loader.packageVersions[0]) && readSize(p, &loader.packageSizes[0])
               && readDouble(p, &loader.packageVersions[1]) && readSize(p, &loader.packageSizes[1]));
    }
    std::fclose(f);
}

int VerifFichier(int index)
{
    loader.imageSize = loader.packageSizes[index];

    char product[20];
    std::snprintf(product, sizeof product, "%s v0%.2f", loader.productName,
                  loader.packageVersions[index]);
    char line[100];
    std::snprintf(line, sizeof line, "%s %s : %.3f %s ...", Msg(MSG_UPDATING_WITH, loader.language),
                  product, megabytes(loader.imageSize), Msg(MSG_SIZE_UNIT, loader.language));
    SetCtrlVal(loader.panel, INFO, line);
    return 0;
}

int ChecksumFichier(int index)
{
    if (index < 0 || index > 1)
        return -1;
    // The buffer may be replaced only while no worker can be reading it.
    if (loader.workerRunning)
        return -1;
    const int32_t size = loader.imageSize;
    if (size < 0)
        return -1;
    long long offset = 0;
    for (int j = 0; j < index; ++j) {
        if (loader.packageSizes[j] < 0)
            return -1;
        offset += loader.packageSizes[j];
    }

    // A file that cannot hold the image is refused before a buffer of the
    // announced size is allocated (a corrupt header could ask for 2 GiB).
    const long long fileSize = GetFileSize(loader.packagePath);
    if (size > 0 && (fileSize < 0 || offset + size > fileSize))
        return -1;

    auto *buffer = static_cast<uint8_t *>(std::calloc(size > 0 ? static_cast<size_t>(size) : 1, 1));
    if (!buffer)
        return -1;
    std::free(loader.imageBuffer.exchange(buffer));

    long long bytesRead = 0;
    if (std::FILE *f = std::fopen(loader.packagePath, "rb")) {
        int c;
        do {  // the header ends at the first line feed
            c = std::fgetc(f);
        } while (c != EOF && c != '\n');
        if (c == '\n' && std::fseek(f, static_cast<long>(offset), SEEK_CUR) == 0)
            bytesRead = static_cast<long long>(std::fread(buffer, 1, static_cast<size_t>(size), f));
        std::fclose(f);
    }
    if (bytesRead != loader.packageSizes[index] || bytesRead != size)
        return -1;
    loader.imageChecksum = Checksum(buffer, static_cast<uint32_t>(size));
    return 0;
}

int32_t Checksum(const uint8_t *data, uint32_t length)
{
    // One plain pass the compiler can vectorise.
    uint32_t sum = 0;
    for (uint32_t i = 0; i < length; ++i)
        sum += data[i];
    return static_cast<int32_t>(~sum);
}
