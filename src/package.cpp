// The firmware package: existence test, header, image selection and load.
#include "package.h"

#include "loader_state.h"
#include "messages.h"
#include "numbers.h"
#include "platform.h"
#include "ui_constants.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kHeaderMaxLength = 4096;  // a real header is one short line

double megabytes(int32_t size)
{
    return static_cast<double>(static_cast<uint32_t>(size)) / std::pow(2.0, 20.0);
}

// True when `line` gives the four numbers the start-up read gave. Only the
// first kHeaderMaxLength bytes of a line count, as at start-up.
bool headerIsTheOneRead(const char *line)
{
    double versions[2] = {0.0, 0.0};
    int32_t sizes[2] = {0, 0};
    return AnalyseEntete(line, versions, sizes) && sizes[0] == loader.packageSizes[0]
           && sizes[1] == loader.packageSizes[1] && versions[0] == loader.packageVersions[0]
           && versions[1] == loader.packageVersions[1];
}

} // namespace

bool AnalyseEntete(const char *line, double versions[2], int32_t sizes[2])
{
    // Same reading as "%f %i %f %i": stop at the first field that is not there.
    const char *p = line;
    return LireReel(p, &versions[0]) && LireEntier32(p, &sizes[0]) && LireReel(p, &versions[1])
           && LireEntier32(p, &sizes[1]);
}

void FormatLigneInfo(char *out, std::size_t size, const char *productName, double version,
                     int32_t imageSize, int language)
{
    char versionText[32];
    FormatFixe(versionText, sizeof versionText, version, 2);
    // A text that does not fit (a version of 1e300) is cut, as the fields are bounded.
    char product[20];
    if (std::snprintf(product, sizeof product, "%s v0%s", productName, versionText) < 0)
        product[0] = '\0';
    char megabytesText[32];
    FormatFixe(megabytesText, sizeof megabytesText, megabytes(imageSize), 3);
    std::snprintf(out, size, "%s %s : %s %s ...", Msg(MSG_UPDATING_WITH, language), product,
                  megabytesText, Msg(MSG_SIZE_UNIT, language));
}

void FormatEnteteCamera(char out[17], uint32_t size, uint32_t checksum)
{
    std::snprintf(out, 17, "%08X%08X", size, checksum);
}

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
    loader.packageHeaderRead = 0;
    std::FILE *f = std::fopen(loader.packagePath, "r");
    if (!f)
        return;
    char line[kHeaderMaxLength + 1] = {};
    if (std::fgets(line, sizeof line, f))
        loader.packageHeaderRead
            = AnalyseEntete(line, loader.packageVersions, loader.packageSizes) ? 1 : 0;
    std::fclose(f);
}

long long LongueurEntete(const char *path)
{
    std::FILE *f = std::fopen(path, "rb");
    if (!f)
        return -1;
    long long length = 0;
    int c;
    do {  // as the image load skips it: up to the first line feed
        c = std::fgetc(f);
        ++length;
    } while (c != EOF && c != '\n');
    std::fclose(f);
    return c == '\n' ? length : -1;
}

int VerifFichier(int index)
{
    loader.imageSize = loader.packageSizes[index];

    char line[100];
    FormatLigneInfo(line, sizeof line, loader.productName, loader.packageVersions[index],
                    loader.imageSize, loader.language);
    SetCtrlVal(loader.panel, INFO, line);
    return 0;
}

int ChecksumFichier(int index)
{
    if (index < 0 || index > 1)
        return -1;
    // Without the header the sizes are zeros nobody wrote: the camera would
    // be told "empty image" and the update reported a success.
    if (!loader.packageHeaderRead)
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
    bool sameHeader = true;
    if (std::FILE *f = std::fopen(loader.packagePath, "rb")) {
        // The header is read again from the file the image comes from: a
        // package replaced since start-up lays its images out differently,
        // and the announced bytes would be a slice of the wrong ones.
        char line[kHeaderMaxLength + 1] = {};
        int length = 0;
        int c;
        do {  // the header ends at the first line feed
            c = std::fgetc(f);
            if (c != EOF && length < kHeaderMaxLength)
                line[length++] = static_cast<char>(c);
        } while (c != EOF && c != '\n');
        sameHeader = headerIsTheOneRead(line);
        if (c == '\n' && sameHeader && std::fseek(f, static_cast<long>(offset), SEEK_CUR) == 0)
            bytesRead = static_cast<long long>(std::fread(buffer, 1, static_cast<size_t>(size), f));
        std::fclose(f);
    }
    if (!sameHeader)
        return kPackageChanged;
    if (bytesRead != loader.packageSizes[index] || bytesRead != size)
        return -1;
    loader.imageChecksum = Checksum(buffer, static_cast<uint32_t>(size));
    return 0;
}
