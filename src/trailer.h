// The signature trailer of a firmware package: after image 1, a manifest
// (what the package holds, with SHA-256 digests), the signer's Ed25519
// signature and a fixed footer ending the file. A reader that knows only
// the header and the two images never reads it. docs/package-signature.md
// describes the bytes for a maker's build engineer.
#pragma once

#include "crypto.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

enum class PackageKind {
    Release,  // firmware for real cameras
    Demo,     // test images (random bytes): only for the simulated camera
};

// A key's id: the first 8 bytes of the SHA-256 of its 32 public bytes,
// shown as 16 lower-case hexadecimal digits.
using KeyId = std::array<uint8_t, 8>;
KeyId KeyIdOf(const Ed25519PublicKey &key);
std::string KeyIdText(const KeyId &id);

// Image k of a package is the firmware of this product.
constexpr const char *kImageProducts[2] = {"RZ4417", "KWT6083"};

struct ManifestImage {
    int32_t size = 0;
    std::string version;  // the header's text of the version ("1.5")
    Sha256Digest digest{};
};

struct Manifest {
    PackageKind kind = PackageKind::Release;
    KeyId signer{};
    Sha256Digest header{};  // of the header line, its line feed included
    ManifestImage images[2];
};

constexpr std::size_t kFooterSize = 24;
constexpr std::size_t kLongestManifest = 4096;
constexpr std::size_t kSignatureSize = 64;
constexpr char kFooterMagic[] = "QVSIGN01";  // its 8 characters begin the footer

// The manifest's one canonical text; ReadManifest accepts nothing else.
std::string ManifestText(const Manifest &manifest);
// Reads a manifest written by ManifestText; false for any other text.
bool ReadManifest(const char *text, std::size_t length, Manifest *manifest);
// The footer for a trailer that starts at `trailerStart` with a manifest of
// `manifestLength` bytes.
std::string FooterBytes(uint64_t trailerStart, uint32_t manifestLength);
// What the signature signs: a fixed label, the manifest, the footer.
std::string SignedMessage(const std::string &manifestText, const std::string &footer);

// The whole trailer (manifest, signature, footer) for a package whose
// header and images end at `trailerStart`, signed with the pair; the
// manifest's signer is set from the public key. "" when signing fails.
std::string SignedTrailer(Manifest manifest, uint64_t trailerStart, const Ed25519Seed &seed,
                          const Ed25519PublicKey &publicKey);

enum class SignatureCheck {
    Verified,      // signed by a key looked up, and every byte is the signed one
    Unsigned,      // the file does not end with a signature trailer
    UntrustedKey,  // a well-formed trailer, signed by a key not looked up
    Altered,       // a trailer whose signature, digests, sizes or layout do not match the file
    Unreadable,    // no header line with four numbers, or the file could not be read
};

struct SignatureReport {
    SignatureCheck result = SignatureCheck::Unreadable;
    bool manifestRead = false;  // `manifest` was read from the trailer (even when not verified)
    Manifest manifest;
    std::string detail;  // for the maker's tools: what did not match
};

// The trusted public key of that id, or null.
using KeyLookup = std::function<const Ed25519PublicKey *(const KeyId &)>;

// Checks the package open at `handle` (OpenRegularFile) of `fileSize` bytes:
// its header line, its two images and its trailer, all read through that
// one handle.
SignatureReport CheckSignature(int handle, long long fileSize, const KeyLookup &lookup);
