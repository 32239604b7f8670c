// quorvel-pack keygen, sign and verify: the maker's keys and the signature
// trailer (src/trailer.h) of a package.
#include "pack.h"
#include "output_file.h"

#include "package.h"
#include "platform.h"
#include "trust.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

constexpr long long kLongestKeyFile = 4096;
constexpr std::size_t kCopyBlock = 1 << 20;

std::string systemError(const std::string &what, const std::string &path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

// The text of a small regular file.
bool readSmallFile(const std::string &path, std::string *text, std::string *error)
{
    long long size = 0;
    const int handle = OpenRegularFile(path.c_str(), &size);
    if (handle < 0) {
        *error = handle == kFileNotRegular ? path + " is not a regular file" : systemError("cannot read", path);
        return false;
    }
    bool ok = size <= kLongestKeyFile;
    if (ok) {
        text->assign(static_cast<std::size_t>(size), '\0');
        ok = ReadFileAt(handle, 0, text->data(), size) == size;
    }
    CloseFile(handle);
    if (!ok)
        *error = path + " is no key file (too long or unreadable)";
    return ok;
}

const char *kindWord(PackageKind kind)
{
    return kind == PackageKind::Demo ? "demo" : "release";
}

} // namespace

bool readPrivateKeyFile(const std::string &path, PackSigner *signer, std::string *error)
{
    std::string text;
    if (!readSmallFile(path, &text, error))
        return false;
    if (!ReadPrivateKeyText(text, &signer->seed, &signer->publicKey)) {
        *error = path + " is not a private key file (quorvel-pack keygen writes them)";
        return false;
    }
    return true;
}

PackSigner demoSigner()
{
    PackSigner signer;
    signer.seed = kDemoSeed;
    signer.publicKey = kDemoPublicKey;
    signer.kind = PackageKind::Demo;
    return signer;
}

int keygenCommand(const std::string &base, std::FILE *out, std::string *error)
{
    Ed25519Seed seed{};
    Ed25519PublicKey key{};
    if (!GenerateEd25519(&seed, &key)) {
        *error = "the key pair could not be generated";
        return kPackRefused;
    }
    const std::string privatePath = base + ".key";
    const std::string publicPath = base + ".pub";
    if (!writeNewFile(privatePath, PrivateKeyText(seed, key), true)) {
        *error = systemError("cannot write the new private key file", privatePath);
        return kPackRefused;
    }
    if (!writeNewFile(publicPath, PublicKeyText(key), false)) {
        *error = systemError("cannot write the new public key file", publicPath);
        std::remove(privatePath.c_str());
        return kPackRefused;
    }
    std::fprintf(out, "key %s\n  private half: %s (keep it secret; it signs packages)\n"
                      "  public half:  %s (what Quorvel trusts)\n",
                 KeyIdText(KeyIdOf(key)).c_str(), privatePath.c_str(), publicPath.c_str());
    return kPackOk;
}

std::string trailerFor(const PackSigner &signer, const std::string &header, const Sha256Digest &headerDigest,
                       const int32_t sizes[2], const Sha256Digest digests[2], std::string *error)
{
    const std::vector<std::string> tokens = ChampsEntete(header.data(), static_cast<long long>(header.size()));
    if (tokens.size() < 4) {
        *error = "the header line has no four fields";
        return "";
    }
    Manifest manifest;
    manifest.kind = signer.kind;
    manifest.header = headerDigest;
    for (int k = 0; k < 2; ++k) {
        manifest.images[k].size = sizes[k];
        manifest.images[k].version = tokens[2 * k];
        manifest.images[k].digest = digests[k];
    }
    const uint64_t start = header.size() + static_cast<uint64_t>(sizes[0]) + static_cast<uint64_t>(sizes[1]);
    const std::string trailer = SignedTrailer(manifest, start, signer.seed, signer.publicKey);
    // Read back as Quorvel reads it: a version it would not take is caught here.
    Manifest readBack;
    const std::size_t manifestLength = trailer.size() - kSignatureSize - kFooterSize;
    if (trailer.empty() || !ReadManifest(trailer.data(), manifestLength, &readBack)) {
        *error = "the package's versions cannot be signed (each must be 1 to 32 visible characters)";
        return "";
    }
    return trailer;
}

int signPackage(const std::string &path, const std::string &output, const PackSigner &signer,
                std::FILE *out, std::string *error)
{
    long long fileSize = 0;
    const int handle = OpenRegularFile(path.c_str(), &fileSize);
    if (handle < 0) {
        *error = handle == kFileNotRegular ? path + " is not a regular file" : systemError("cannot read", path);
        return kPackUsage;
    }
    struct Closer {
        int handle;
        ~Closer() { CloseFile(handle); }
    } closer{handle};

    char line[kHeaderWindow];
    const long long headerLength = LireLigneEntete(handle, line);
    double versions[2] = {0.0, 0.0};
    int32_t sizes[2] = {-1, -1};
    if (headerLength <= 0 || !AnalyseEntete(line, static_cast<std::size_t>(headerLength), versions, sizes)
        || sizes[0] < 0 || sizes[1] < 0) {
        *error = path + " has no header line Quorvel can read";
        return kPackRefused;
    }
    const long long end = headerLength + sizes[0] + sizes[1];
    if (fileSize < end) {
        *error = path + " is shorter than its header says (" + std::to_string(fileSize) + " of "
                 + std::to_string(end) + " bytes)";
        return kPackRefused;
    }
    if (fileSize > end) {
        // Only a signature trailer may follow image 1; it is replaced.
        const SignatureReport existing = CheckSignature(handle, fileSize, nullptr);
        if (!existing.manifestRead || existing.result != SignatureCheck::UntrustedKey) {
            *error = path + " holds " + std::to_string(fileSize - end)
                     + " bytes after image 1 that are no signature trailer";
            return kPackRefused;
        }
    }

    // Copied to the new file and hashed in the same pass: what is signed is
    // what is written.
    OutputFile file;
    const std::string folder = [&] {
        const std::size_t slash = output.find_last_of(kFolderSeparators);
        return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : output.substr(0, slash);
    }();
    if (!file.create(folder)) {
        *error = systemError("cannot create a file in", folder);
        return kPackRefused;
    }
    const std::string header(line, static_cast<std::size_t>(headerLength));
    Sha256Digest digests[2];
    std::vector<uint8_t> block(kCopyBlock);
    bool ok = file.writeAll(header.data(), header.size());
    long long at = headerLength;
    for (int k = 0; ok && k < 2; ++k) {
        Sha256Stream hash;
        for (long long left = sizes[k]; ok && left > 0;) {
            const long long want = left < static_cast<long long>(kCopyBlock) ? left : kCopyBlock;
            ok = ReadFileAt(handle, at, block.data(), want) == want;
            if (!ok)
                *error = path + " could not be read whole";
            else if (!(ok = file.writeAll(reinterpret_cast<const char *>(block.data()), static_cast<std::size_t>(want))))
                *error = std::string("cannot write the package: ") + std::strerror(errno);
            hash.add(block.data(), static_cast<std::size_t>(want));
            at += want;
            left -= want;
        }
        digests[k] = hash.finish();
    }
    if (!ok) {
        if (error->empty())
            *error = std::string("cannot write the package: ") + std::strerror(errno);
        return kPackRefused;
    }
    const std::string trailer
        = trailerFor(signer, header, Sha256(header.data(), header.size()), sizes, digests, error);
    if (trailer.empty())
        return kPackRefused;
    std::string failedStep;
    if (!file.writeAll(trailer.data(), trailer.size())) {
        *error = std::string("cannot write the package: ") + std::strerror(errno);
        return kPackRefused;
    }
    if (!file.commit(output, &failedStep)) {
        *error = failedStep + ": " + std::strerror(errno);
        return kPackRefused;
    }
    std::fprintf(out, "%s signed: kind %s, key %s, %zu trailer bytes after image 1\n", output.c_str(),
                 kindWord(signer.kind), KeyIdText(KeyIdOf(signer.publicKey)).c_str(), trailer.size());
    return kPackOk;
}

int verifyPackage(const std::string &path, const std::vector<std::string> &keyFiles, bool requireRelease,
                  std::FILE *out, std::string *error)
{
    std::vector<TrustedKey> keys;
    for (const std::string &keyFile : keyFiles) {
        std::string text;
        Ed25519PublicKey key{};
        if (!readSmallFile(keyFile, &text, error))
            return kPackUsage;
        if (!ReadPublicKeyText(text, &key)) {
            *error = keyFile + " is not a public key file (quorvel-pack keygen writes them)";
            return kPackUsage;
        }
        keys.push_back({key, KeyIdOf(key), keyFile});
    }
    if (keyFiles.empty())
        keys = TrustedKeys();
    if (keys.empty()) {
        *error = "no key to verify with: give --key PUBLIC_KEY_FILE (this build trusts no key)";
        return kPackUsage;
    }

    long long fileSize = 0;
    const int handle = OpenRegularFile(path.c_str(), &fileSize);
    if (handle < 0) {
        *error = handle == kFileNotRegular ? path + " is not a regular file" : systemError("cannot read", path);
        return kPackUsage;
    }
    const SignatureReport report = CheckSignature(handle, fileSize, [&keys](const KeyId &id) {
        for (const TrustedKey &key : keys)
            if (key.id == id)
                return &key.key;
        return static_cast<const Ed25519PublicKey *>(nullptr);
    });
    CloseFile(handle);

    static const char *const kResults[] = {"verified", "NOT SIGNED", "signed by an UNTRUSTED key", "ALTERED",
                                           "UNREADABLE"};
    std::fprintf(out, "%s: %s", path.c_str(), kResults[static_cast<int>(report.result)]);
    if (!report.detail.empty())
        std::fprintf(out, " (%s)", report.detail.c_str());
    std::fprintf(out, "\n");
    if (report.manifestRead)
        std::fprintf(out, "  kind %s, signer key %s\n", kindWord(report.manifest.kind),
                     KeyIdText(report.manifest.signer).c_str());
    if (report.result != SignatureCheck::Verified)
        return kPackRefused;
    if (requireRelease && report.manifest.kind != PackageKind::Release) {
        std::fprintf(out, "  REFUSED: a %s package, not a release\n", kindWord(report.manifest.kind));
        return kPackRefused;
    }
    return kPackOk;
}
