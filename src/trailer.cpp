// The signature trailer: its manifest text, its footer, signing and checking.
#include "trailer.h"

#include "numbers.h"
#include "package.h"
#include "platform.h"

#include <cstring>
#include <vector>

namespace {

constexpr char kManifestFirstLine[] = "quorvel-firmware-manifest 1\n";
constexpr char kSignedLabel[] = "quorvel-package-signature-1\n";
constexpr std::size_t kHashBlock = 1 << 20;

void putLittleEndian(std::string &out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xff);
}

uint64_t littleEndian(const uint8_t *bytes, int count)
{
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

// A version as the header writes it: 1 to 32 characters, none of them a
// blank or a control character.
bool versionToken(const std::string &text)
{
    if (text.empty() || text.size() > 32)
        return false;
    for (const char c : text)
        if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 127)
            return false;
    return true;
}

// The manifest's lines are split on single spaces; fields never hold one.
std::vector<std::string> fields(const std::string &line)
{
    std::vector<std::string> out(1);
    for (const char c : line) {
        if (c == ' ')
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

bool readDigest(const std::string &text, Sha256Digest *digest)
{
    return ReadHex(text.data(), text.size(), digest->data(), digest->size());
}

// The SHA-256 of `count` bytes from `offset`, read a block at a time.
bool hashRange(int handle, long long offset, long long count, Sha256Digest *digest)
{
    std::vector<uint8_t> block(kHashBlock);
    Sha256Stream hash;
    while (count > 0) {
        const long long want = count < static_cast<long long>(kHashBlock) ? count : kHashBlock;
        if (ReadFileAt(handle, offset, block.data(), want) != want)
            return false;
        hash.add(block.data(), static_cast<std::size_t>(want));
        offset += want;
        count -= want;
    }
    *digest = hash.finish();
    return true;
}

SignatureReport verdict(SignatureReport report, SignatureCheck result, const std::string &detail)
{
    report.result = result;
    report.detail = detail;
    return report;
}

} // namespace

KeyId KeyIdOf(const Ed25519PublicKey &key)
{
    const Sha256Digest digest = Sha256(key.data(), key.size());
    KeyId id{};
    std::memcpy(id.data(), digest.data(), id.size());
    return id;
}

std::string KeyIdText(const KeyId &id)
{
    return HexText(id.data(), id.size());
}

std::string ManifestText(const Manifest &manifest)
{
    std::string text = kManifestFirstLine;
    text += std::string("kind ") + (manifest.kind == PackageKind::Demo ? "demo" : "release") + "\n";
    text += "signer " + KeyIdText(manifest.signer) + "\n";
    text += "header-sha256 " + HexText(manifest.header.data(), manifest.header.size()) + "\n";
    for (int k = 0; k < 2; ++k) {
        const ManifestImage &image = manifest.images[k];
        text += "image " + std::to_string(k) + " " + kImageProducts[k] + " " + std::to_string(image.size)
                + " " + image.version + " " + HexText(image.digest.data(), image.digest.size()) + "\n";
    }
    return text;
}

bool ReadManifest(const char *text, std::size_t length, Manifest *manifest)
{
    if (length > kLongestManifest)
        return false;
    const std::string all(text, length);
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < all.size()) {
        const std::size_t end = all.find('\n', at);
        if (end == std::string::npos)
            return false;  // every line ends with a line feed
        lines.push_back(all.substr(at, end - at));
        at = end + 1;
    }
    if (lines.size() != 6 || lines[0] + "\n" != kManifestFirstLine)
        return false;
    Manifest read;
    if (lines[1] == "kind release")
        read.kind = PackageKind::Release;
    else if (lines[1] == "kind demo")
        read.kind = PackageKind::Demo;
    else
        return false;
    const auto signer = fields(lines[2]);
    if (signer.size() != 2 || signer[0] != "signer"
        || !ReadHex(signer[1].data(), signer[1].size(), read.signer.data(), read.signer.size()))
        return false;
    const auto header = fields(lines[3]);
    if (header.size() != 2 || header[0] != "header-sha256" || !readDigest(header[1], &read.header))
        return false;
    for (int k = 0; k < 2; ++k) {
        const auto image = fields(lines[4 + k]);
        if (image.size() != 6 || image[0] != "image" || image[1] != std::to_string(k)
            || image[2] != kImageProducts[k] || !versionToken(image[4]) || !readDigest(image[5], &read.images[k].digest))
            return false;
        const char *p = image[3].c_str();
        if (!LireEntier32(p, p + image[3].size(), &read.images[k].size) || read.images[k].size < 0)
            return false;
        read.images[k].version = image[4];
    }
    // One text per manifest: no leading zeros, upper-case digits or other
    // spellings of the same numbers.
    if (ManifestText(read) != all)
        return false;
    *manifest = read;
    return true;
}

std::string FooterBytes(uint64_t trailerStart, uint32_t manifestLength)
{
    std::string footer(kFooterMagic, 8);
    putLittleEndian(footer, trailerStart, 8);
    putLittleEndian(footer, manifestLength, 4);
    putLittleEndian(footer, kSignatureSize, 4);
    return footer;
}

std::string SignedMessage(const std::string &manifestText, const std::string &footer)
{
    return kSignedLabel + manifestText + footer;
}

std::string SignedTrailer(Manifest manifest, uint64_t trailerStart, const Ed25519Seed &seed,
                          const Ed25519PublicKey &publicKey)
{
    manifest.signer = KeyIdOf(publicKey);
    const std::string text = ManifestText(manifest);
    const std::string footer = FooterBytes(trailerStart, static_cast<uint32_t>(text.size()));
    const std::string message = SignedMessage(text, footer);
    Ed25519Signature signature{};
    if (!SignEd25519(seed, publicKey, reinterpret_cast<const uint8_t *>(message.data()), message.size(),
                     &signature))
        return "";
    return text + std::string(reinterpret_cast<const char *>(signature.data()), signature.size()) + footer;
}

SignatureReport CheckSignature(int handle, long long fileSize, const KeyLookup &lookup)
{
    SignatureReport report;
    char line[kHeaderWindow];
    const long long headerLength = LireLigneEntete(handle, line);
    double versions[2] = {0.0, 0.0};
    int32_t sizes[2] = {-1, -1};
    if (headerLength <= 0 || !AnalyseEntete(line, static_cast<std::size_t>(headerLength), versions, sizes)
        || sizes[0] < 0 || sizes[1] < 0)
        return verdict(report, SignatureCheck::Unreadable, "no header line with two sizes");
    const long long trailerStart = headerLength + sizes[0] + sizes[1];

    uint8_t footer[kFooterSize];
    if (fileSize < static_cast<long long>(kFooterSize)
        || ReadFileAt(handle, fileSize - static_cast<long long>(kFooterSize), footer, kFooterSize)
               != static_cast<long long>(kFooterSize)
        || std::memcmp(footer, kFooterMagic, 8) != 0)
        return verdict(report, SignatureCheck::Unsigned,
                       fileSize == trailerStart ? "nothing follows image 1"
                                                : "the file does not end with a signature footer");

    const uint64_t start = littleEndian(footer + 8, 8);
    const uint64_t manifestLength = littleEndian(footer + 16, 4);
    const uint64_t signatureLength = littleEndian(footer + 20, 4);
    if (start != static_cast<uint64_t>(trailerStart))
        return verdict(report, SignatureCheck::Altered,
                       "the footer places the trailer at byte " + std::to_string(start)
                           + ", the header's sizes end image 1 at byte " + std::to_string(trailerStart));
    if (signatureLength != kSignatureSize || manifestLength == 0 || manifestLength > kLongestManifest
        || start + manifestLength + kSignatureSize + kFooterSize != static_cast<uint64_t>(fileSize))
        return verdict(report, SignatureCheck::Altered, "the footer's lengths do not match the file's size");

    std::string manifestText(static_cast<std::size_t>(manifestLength), '\0');
    Ed25519Signature signature{};
    if (ReadFileAt(handle, trailerStart, manifestText.data(), static_cast<long long>(manifestLength))
            != static_cast<long long>(manifestLength)
        || ReadFileAt(handle, trailerStart + static_cast<long long>(manifestLength), signature.data(),
                      kSignatureSize)
               != static_cast<long long>(kSignatureSize))
        return verdict(report, SignatureCheck::Unreadable, "the trailer could not be read");
    if (!ReadManifest(manifestText.data(), manifestText.size(), &report.manifest))
        return verdict(report, SignatureCheck::Altered, "the manifest is not well formed");
    report.manifestRead = true;
    const Manifest &manifest = report.manifest;
    for (int k = 0; k < 2; ++k) {
        double version = 0.0;
        const char *p = manifest.images[k].version.c_str();
        const char *end = p + manifest.images[k].version.size();
        if (manifest.images[k].size != sizes[k] || !LireReel(p, end, &version) || p != end
            || version != versions[k])
            return verdict(report, SignatureCheck::Altered,
                           "image " + std::to_string(k) + "'s size or version differs from the header's");
    }

    const Ed25519PublicKey *key = lookup ? lookup(manifest.signer) : nullptr;
    if (!key)
        return verdict(report, SignatureCheck::UntrustedKey,
                       "signed by key " + KeyIdText(manifest.signer) + ", which is not trusted");
    const std::string message
        = SignedMessage(manifestText, std::string(reinterpret_cast<const char *>(footer), kFooterSize));
    if (!VerifyEd25519(*key, reinterpret_cast<const uint8_t *>(message.data()), message.size(), signature))
        return verdict(report, SignatureCheck::Altered, "the signature does not match the manifest");

    Sha256Digest digest{};
    if (!hashRange(handle, 0, headerLength, &digest))
        return verdict(report, SignatureCheck::Unreadable, "the header could not be read");
    if (digest != manifest.header)
        return verdict(report, SignatureCheck::Altered, "the header's bytes are not the signed ones");
    long long offset = headerLength;
    for (int k = 0; k < 2; ++k) {
        if (!hashRange(handle, offset, sizes[k], &digest))
            return verdict(report, SignatureCheck::Unreadable,
                           "image " + std::to_string(k) + " could not be read");
        if (digest != manifest.images[k].digest)
            return verdict(report, SignatureCheck::Altered,
                           "image " + std::to_string(k) + "'s bytes are not the signed ones");
        offset += sizes[k];
    }
    return verdict(report, SignatureCheck::Verified, "");
}
