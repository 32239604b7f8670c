// The firmware package: existence test, header, image selection and load.
#include "package.h"

#include "crypto.h"
#include "loader_state.h"
#include "messages.h"
#include "numbers.h"
#include "platform.h"
#include "trailer.h"
#include "trust.h"
#include "ui_constants.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

double megabytes(int32_t size)
{
    return static_cast<double>(static_cast<uint32_t>(size)) / std::pow(2.0, 20.0);
}

// True when the header line gives the four numbers the start-up read gave.
bool headerIsTheOneRead(const char *line, std::size_t length)
{
    double versions[2] = {0.0, 0.0};
    int32_t sizes[2] = {0, 0};
    return AnalyseEntete(line, length, versions, sizes) && sizes[0] == loader.packageSizes[0]
           && sizes[1] == loader.packageSizes[1] && versions[0] == loader.packageVersions[0]
           && versions[1] == loader.packageVersions[1];
}

// The load itself, on the package open at `handle` (negative: it could not
// be opened) of `fileSize` bytes: image `index`, `size` bytes from `offset`
// behind the header.
int chargerImage(int handle, long long fileSize, int index, long long offset, int32_t size)
{
    long long headerLength = 0;
    if (handle >= 0) {
        // The header is read again from the file the image comes from: a
        // package replaced since start-up lays its images out differently,
        // and the announced bytes would be a slice of the wrong ones.
        char line[kHeaderWindow];
        headerLength = LireLigneEntete(handle, line);
        if (headerLength < 0)
            return -1;
        if (headerLength == 0 || !headerIsTheOneRead(line, static_cast<std::size_t>(headerLength)))
            return kPackageChanged;
        // A file that cannot hold the image is refused before a buffer of the
        // announced size is allocated (a corrupt header could ask for 2 GiB).
        if (size > 0 && offset + size > fileSize - headerLength)
            return -1;
    } else if (size > 0) {
        return -1;
    }

    auto *buffer = static_cast<uint8_t *>(std::calloc(size > 0 ? static_cast<size_t>(size) : 1, 1));
    if (!buffer)
        return -1;
    std::free(loader.imageBuffer.exchange(buffer));

    const long long bytesRead = handle >= 0 ? ReadFileAt(handle, headerLength + offset, buffer, size) : 0;
    if (bytesRead != loader.packageSizes[index] || bytesRead != size)
        return -1;
    // The bytes that will go out are the ones whose digest was signed,
    // whatever became of the file since start-up.
    if (SignaturesVerifiees()) {
        const Sha256Digest digest = Sha256(buffer, static_cast<std::size_t>(size));
        if (std::memcmp(digest.data(), loader.imageDigests[index], digest.size()) != 0)
            return kPackageChanged;
    }
    loader.imageChecksum = Checksum(buffer, static_cast<uint32_t>(size));
    return 0;
}

} // namespace

bool AnalyseEntete(const char *line, std::size_t length, double versions[2], int32_t sizes[2])
{
    // In the order of "%f %i %f %i": stop at the first field that is not there.
    const char *p = line;
    const char *end = line + length;
    return LireReel(p, end, &versions[0]) && LireEntier32(p, end, &sizes[0])
           && LireReel(p, end, &versions[1]) && LireEntier32(p, end, &sizes[1]);
}

bool AnalyseEntete(const char *line, double versions[2], int32_t sizes[2])
{
    return AnalyseEntete(line, std::strlen(line), versions, sizes);
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
    const int handle = OpenRegularFile(loader.packagePath.c_str(), nullptr);
    CloseFile(handle);
    // A package this user may not read is still there: start-up goes on, and
    // the update says the image could not be read.
    return handle >= 0 || handle == kFileSystemError;
}

int SignalerPackageAbsent()
{
    return MessagePopup(Msg(MSG_ERROR_TITLE, loader.language), Msg(MSG_NO_PACKAGE, loader.language));
}

void LectureEntete()
{
    loader.packageHeaderRead = 0;
    loader.packageDemo = 0;
    loader.packageSigner[0] = '\0';
    std::memset(loader.imageDigests, 0, sizeof loader.imageDigests);
    const bool checked = SignaturesVerifiees();
    loader.packageVerdict = checked ? PackageVerdict::Unreadable : PackageVerdict::NotChecked;
    long long fileSize = 0;
    const int handle = OpenRegularFile(loader.packagePath.c_str(), &fileSize);
    if (handle < 0)
        return;
    char line[kHeaderWindow];
    const long long length = LireLigneEntete(handle, line);
    if (length > 0)
        loader.packageHeaderRead
            = AnalyseEntete(line, static_cast<std::size_t>(length), loader.packageVersions,
                            loader.packageSizes)
                  ? 1
                  : 0;
    // The signature is checked through the same open as the header: what is
    // judged is what was read. A program that trusts no key still reads the
    // manifest, for its kind; the demo key is the one it can check.
    const SignatureReport report = CheckSignature(handle, fileSize, [checked](const KeyId &id) {
        if (checked)
            return FindTrustedKey(id);
        return id == KeyIdOf(kDemoPublicKey) ? &kDemoPublicKey : nullptr;
    });
    CloseFile(handle);
    if (report.manifestRead) {
        loader.packageDemo = report.manifest.kind == PackageKind::Demo ? 1 : 0;
        std::snprintf(loader.packageSigner, sizeof loader.packageSigner, "%s",
                      KeyIdText(report.manifest.signer).c_str());
    }
    if (!checked)
        return;
    switch (report.result) {
    case SignatureCheck::Verified:
        loader.packageVerdict = loader.packageDemo ? PackageVerdict::Demo : PackageVerdict::Verified;
        break;
    case SignatureCheck::UntrustedKey:
        loader.packageVerdict = loader.packageDemo ? PackageVerdict::Demo : PackageVerdict::UntrustedKey;
        break;
    case SignatureCheck::Unsigned: loader.packageVerdict = PackageVerdict::Unsigned; break;
    case SignatureCheck::Altered: loader.packageVerdict = PackageVerdict::Altered; break;
    case SignatureCheck::Unreadable: loader.packageVerdict = PackageVerdict::Unreadable; break;
    }
    // The sizes kept are the signed ones: a header rewritten in place
    // between its read and the check is a package altered.
    for (int k = 0; k < 2; ++k)
        if (loader.packageVerdict == PackageVerdict::Verified
            && (!loader.packageHeaderRead || loader.packageSizes[k] != report.manifest.images[k].size))
            loader.packageVerdict = PackageVerdict::Altered;
    if (loader.packageVerdict == PackageVerdict::Verified)
        for (int k = 0; k < 2; ++k)
            std::memcpy(loader.imageDigests[k], report.manifest.images[k].digest.data(), 32);
}

bool SignaturesVerifiees()
{
    return !TrustedKeys().empty();
}

bool PackageIsDemo()
{
    return loader.packageDemo != 0;
}

std::string RefusPackage(int language)
{
    char text[256];
    switch (loader.packageVerdict) {
    case PackageVerdict::NotChecked:
    case PackageVerdict::Verified: return "";
    case PackageVerdict::Unsigned: return Msg(MSG_PACKAGE_UNSIGNED, language);
    case PackageVerdict::UntrustedKey:
        std::snprintf(text, sizeof text, Msg(MSG_PACKAGE_UNTRUSTED, language), loader.packageSigner);
        return text;
    case PackageVerdict::Altered: return Msg(MSG_PACKAGE_ALTERED, language);
    case PackageVerdict::Demo: return Msg(MSG_PACKAGE_DEMO, language);
    case PackageVerdict::Unreadable: return Msg(MSG_PACKAGE_UNREADABLE, language);
    }
    return Msg(MSG_PACKAGE_UNREADABLE, language);
}

void AnnoncerSignatures(int panel)
{
    char line[600];
    for (const std::string &ignored : IgnoredKeys()) {
        std::snprintf(line, sizeof line, Msg(MSG_KEY_IGNORED, loader.language), ignored.c_str());
        SetCtrlVal(panel, TEXTBOX, line);
    }
    if (!SignaturesVerifiees())
        SetCtrlVal(panel, TEXTBOX, Msg(MSG_SIGNATURES_NOT_CHECKED, loader.language));
}

long long LireLigneEntete(int handle, char line[kHeaderWindow])
{
    // One read of the window, whatever the file's size: a huge file without
    // a line feed is refused at once, not searched byte after byte.
    const long long got = ReadFileAt(handle, 0, line, kHeaderWindow);
    if (got < 0)
        return -1;
    const void *lineFeed = std::memchr(line, '\n', static_cast<std::size_t>(got));
    return lineFeed ? static_cast<const char *>(lineFeed) - line + 1 : 0;
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
    // A program that trusts a key loads images only from a package verified
    // at start-up: a refused one gives no image, whoever asks.
    if (SignaturesVerifiees() && loader.packageVerdict != PackageVerdict::Verified)
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

    // One open for the header and the image: what is checked is what is read.
    long long fileSize = 0;
    const int handle = OpenRegularFile(loader.packagePath.c_str(), &fileSize);
    const int result = chargerImage(handle, fileSize, index, offset, size);
    CloseFile(handle);
    return result;
}

std::vector<std::string> ChampsEntete(const char *line, long long length)
{
    std::vector<std::string> fields;
    std::string field;
    for (long long i = 0; i < length; ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!field.empty())
                fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    if (!field.empty())
        fields.push_back(field);
    return fields;
}
