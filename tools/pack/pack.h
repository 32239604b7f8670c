// quorvel-pack: builds a firmware package "vers.kq" from two images and
// shows what a package holds, through the loader's own package code.
#pragma once

#include "crypto.h"
#include "trailer.h"

#include <cstdio>
#include <string>
#include <vector>

// Image k of a package is the firmware of this product (the loader's order).
constexpr const char *kPackProducts[2] = {"RZ4417", "KWT6083"};

// Who signs a package, and as what kind.
struct PackSigner {
    Ed25519Seed seed{};
    Ed25519PublicKey publicKey{};
    PackageKind kind = PackageKind::Release;
};

// The demo key (trust.h), kind demo: what `create --demo` signs with.
// Random demo images would brick a real camera, so such a package is never
// shipped, and no build that trusts a key takes it.
PackSigner demoSigner();
// Reads a private key file (keygen's NAME.key) into signer's keys.
bool readPrivateKeyFile(const std::string &path, PackSigner *signer, std::string *error);

struct PackImage {
    std::string path;     // the image file, taken byte for byte
    std::string version;  // written into the header exactly as given
};

// Exit codes of both commands.
constexpr int kPackOk = 0;
constexpr int kPackRefused = 1;  // the package was not written, or Quorvel would not update from it
constexpr int kPackUsage = 2;    // wrong arguments, or a file that cannot be read at all

// Writes `output` as the header line "V0 S0 V1 S1", a line feed, image 0 and
// image 1, then, when `signer` is given, the signature trailer, through a
// temporary file in the same folder renamed into place (mode 0644). Each
// image must be a regular file. On refusal nothing is left behind and
// `error` says why. Prints what was written to `out`.
int createPackage(const std::string &output, const PackImage images[2], const PackSigner *signer,
                  std::FILE *out, std::string *error);

// Writes NAME.key (the private half, mode 0600) and NAME.pub, never over an
// existing file; prints the key id.
int keygenCommand(const std::string &base, std::FILE *out, std::string *error);
// The signature trailer for a package with this header line (line feed
// included), its digest, sizes and image digests; "" with `error` set when
// it cannot be made.
std::string trailerFor(const PackSigner &signer, const std::string &header, const Sha256Digest &headerDigest,
                       const int32_t sizes[2], const Sha256Digest digests[2], std::string *error);
// Writes `output` (which may be `path`) as the package at `path` with a
// new signature trailer; an existing trailer is replaced, other trailing
// bytes are refused.
int signPackage(const std::string &path, const std::string &output, const PackSigner &signer,
                std::FILE *out, std::string *error);
// Checks the package's signature against the public key files given, or,
// with none, the keys this build trusts. kPackOk when verified (and of kind
// release when `requireRelease`), kPackRefused when not.
int verifyPackage(const std::string &path, const std::vector<std::string> &keyFiles, bool requireRelease,
                  std::FILE *out, std::string *error);

// Prints each product's version, size, checksum, camera header and INFO
// line, whether every image byte is there, how many bytes trail, and its
// signature: the signer's key id, the kind, and whether this build trusts
// and verifies it. kPackOk when Quorvel would update both
// products from the package (a demo package too: it would, and a test
// camera may take it); kPackUsage when it is no regular file or cannot be read.
int inspectPackage(const std::string &path, std::FILE *out, std::string *error);
