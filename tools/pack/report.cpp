// quorvel-pack inspect: what the loader itself reads from a package, and
// what it would send each camera.
#include "pack.h"

#include "loader_state.h"
#include "messages.h"
#include "numbers.h"
#include "package.h"
#include "platform.h"
#include "trust.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kShownHeader = 120;  // a longer header is shown cut

// The header's bytes for the eye: printable ASCII as it is, the rest escaped.
std::string shownHeader(const char *bytes, long long length)
{
    std::string text;
    for (long long i = 0; i < length && text.size() < kShownHeader; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\n')
            text += "\\n";
        else if (c == '\r')
            text += "\\r";
        else if (c == '\t')
            text += "\\t";
        else if (c >= 32 && c < 127)
            text += static_cast<char>(c);
        else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        }
    }
    if (text.size() >= kShownHeader)
        text += "...";
    return text;
}

// The signature as the loader judged it at its header read.
void reportSignature(std::FILE *out)
{
    if (loader.packageSigner[0])
        std::fprintf(out, "signature: by key %s, kind %s\n", loader.packageSigner,
                     loader.packageDemo ? "demo" : "release");
    else
        std::fprintf(out, "signature: none read (no well-formed signature trailer)\n");
    for (const std::string &ignored : IgnoredKeys())
        std::fprintf(out, "trusted key ignored: %s\n", ignored.c_str());
    if (!SignaturesVerifiees()) {
        std::fprintf(out, "this build trusts no key: Quorvel would not check the signature\n");
        return;
    }
    const std::string refusal = RefusPackage(0);
    std::fprintf(out, "this build trusts %zu key%s: %s\n", TrustedKeys().size(),
                 TrustedKeys().size() == 1 ? "" : "s",
                 refusal.empty() ? "signature verified, every byte as signed" : ("REFUSED: " + refusal).c_str());
}

std::string whyNotRead(int code)
{
    if (code == kFileMissing)
        return errno == ENOENT ? "no such file" : std::strerror(errno);
    if (code == kFileNotRegular)
        return "not a regular file (a FIFO, device, folder or socket is never read)";
    return std::strerror(errno);
}

// Reports one image as the loader would load it; true when it loaded whole.
bool inspectImage(int k, bool headerRead, long long fileSize, long long headerLength, long long offset,
                  std::FILE *out)
{
    const int32_t size = loader.packageSizes[k];
    char version[32];
    if (FormatFixe(version, sizeof version, loader.packageVersions[k], 2) < 0)
        std::snprintf(version, sizeof version, "(too long to show)");
    std::fprintf(out, "image %d, %s: version %s, %d bytes", k, kPackProducts[k], version,
                 static_cast<int>(size));
    if (headerLength > 0)
        std::fprintf(out, " from byte %lld", headerLength + offset);
    std::fprintf(out, "\n");

    // The loader's own load: header read again, offset, one read, checksum.
    loader.imageSize = size;
    loader.imageChecksum = 0;
    const bool loaded = ChecksumFichier(k) == 0;
    if (loaded) {
        const auto checksum = static_cast<uint32_t>(loader.imageChecksum);
        char cameraHeader[17];
        FormatEnteteCamera(cameraHeader, static_cast<uint32_t>(size), checksum);
        std::fprintf(out, "  checksum 0x%08X\n  sent to the camera: %s\n", checksum, cameraHeader);
    } else {
        std::fprintf(out, "  not loadable: ");
        if (!RefusPackage(0).empty())
            std::fprintf(out, "this build refuses the package (see its signature below)\n");
        else if (headerLength <= 0)
            std::fprintf(out, "the header line never ends (no line feed in the first %d bytes)\n",
                         kHeaderWindow);
        else if (!headerRead)
            std::fprintf(out, "the header was not read, so no size is known\n");
        else if (size < 0)
            std::fprintf(out, "a negative size\n");
        else if (offset < 0)
            std::fprintf(out, "image 0 before it has a negative size\n");
        else {
            const long long present = std::max(0LL, std::min<long long>(size, fileSize - headerLength - offset));
            std::fprintf(out, "SHORT, the file holds %lld of its %d bytes\n", present, static_cast<int>(size));
        }
    }
    char info[100];
    for (int language = 0; language < 2; ++language) {
        FormatLigneInfo(info, sizeof info, kPackProducts[k], loader.packageVersions[k], size, language);
        std::fprintf(out, "  INFO (%s): %s\n", language == 0 ? "English" : "French", info);
    }
    return loaded;
}

} // namespace

int inspectPackage(const std::string &path, std::FILE *out, std::string *error)
{
    // The file is looked at through one open: its size, its header line and
    // its last bytes. The loader's own reads below open it as Quorvel does.
    long long fileSize = 0;
    const int handle = OpenRegularFile(path.c_str(), &fileSize);
    if (handle < 0) {
        *error = "cannot read " + path + ": " + whyNotRead(handle);
        return kPackUsage;
    }
    char line[kHeaderWindow];
    const long long headerLength = LireLigneEntete(handle, line);
    long long shownLength = headerLength;
    if (headerLength == 0)
        shownLength = ReadFileAt(handle, 0, line, sizeof line);
    const int savedErrno = errno;
    CloseFile(handle);
    if (headerLength < 0 || shownLength < 0) {
        *error = "cannot read " + path + ": " + std::strerror(savedErrno);
        return kPackUsage;
    }
    loader.packagePath = path;

    // The start-up header read, on fresh fields as at start-up.
    loader.packageVersions[0] = loader.packageVersions[1] = 0.0;
    loader.packageSizes[0] = loader.packageSizes[1] = 0;
    loader.packageHeaderRead = 0;
    LectureEntete();
    const bool headerRead = loader.packageHeaderRead != 0;
    const bool demo = PackageIsDemo();

    std::fprintf(out, "%s: %lld bytes\n", path.c_str(), fileSize);
    if (headerLength > 0)
        std::fprintf(out, "header: \"%s\" (%lld bytes)\n", shownHeader(line, headerLength).c_str(),
                     headerLength);
    else
        std::fprintf(out, "header: \"%s\" with no line feed in the first %d bytes\n",
                     shownHeader(line, shownLength).c_str(), kHeaderWindow);
    if (!headerRead)
        std::fprintf(out, "header NOT READABLE: Quorvel needs \"VERSION0 SIZE0 VERSION1 SIZE1\", "
                          "each number whole, in one line within the first %d bytes; "
                          "the numbers it could not read stay 0\n",
                     kHeaderWindow);

    bool loaded[2];
    long long offset = 0;
    for (int k = 0; k < 2; ++k) {
        loaded[k] = inspectImage(k, headerRead, fileSize, headerLength, offset, out);
        offset += loader.packageSizes[k];
    }
    std::free(loader.imageBuffer.exchange(nullptr));

    const bool whole = loaded[0] && loaded[1];
    if (whole) {
        const long long trailing = fileSize - headerLength - offset;
        std::fprintf(out, "every image byte is present; %lld byte%s trail%s after image 1 (never read)\n",
                     trailing, trailing == 1 ? "" : "s", trailing == 1 ? "s" : "");
    }
    reportSignature(out);
    if (demo)
        std::fprintf(out, "demo package: random images, never for a real camera\n");
    if (headerRead && whole && RefusPackage(0).empty()) {
        std::fprintf(out, "Quorvel can update both products from this package.\n");
        return kPackOk;
    }
    std::fprintf(out, "Quorvel would NOT update from this package.\n");
    return kPackRefused;
}
