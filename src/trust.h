// The public keys whose signatures Quorvel accepts: those built into the
// program (the CMake option QUORVEL_TRUSTED_KEYS, cmake/KeyTable.cmake) and,
// on Linux, the key files of /etc/quorvel/trusted-keys/ that root alone can
// write. Never a key from the environment or from the package's own folder.
// The demo key is never trusted, wherever it is found.
#pragma once

#include "crypto.h"
#include "trailer.h"

#include <string>
#include <vector>

// The key files' texts, one line each:
//   quorvel-public-key ed25519 <64 hexadecimal digits>
//   quorvel-private-key ed25519 <64 hex digits of the seed> <64 of the public key>
std::string PublicKeyText(const Ed25519PublicKey &key);
bool ReadPublicKeyText(const std::string &text, Ed25519PublicKey *key);
std::string PrivateKeyText(const Ed25519Seed &seed, const Ed25519PublicKey &key);
bool ReadPrivateKeyText(const std::string &text, Ed25519Seed *seed, Ed25519PublicKey *key);

// The demo key. Both halves ship with the project on purpose: it signs
// packages of test images for the simulated camera, anyone can sign with
// it, so a package it signs proves nothing and no build ever trusts it.
extern const Ed25519PublicKey kDemoPublicKey;
extern const Ed25519Seed kDemoSeed;

struct TrustedKey {
    Ed25519PublicKey key{};
    KeyId id{};
    std::string origin;  // "built in (FILE)" or the key file's path
};

// The built-in key table, one entry per key file given at build time; each
// program links exactly one table (quorvel_keys, or a test's own).
struct BuiltInKey {
    const char *origin;  // the key file's name at build time
    const char *text;    // its contents
};
extern const BuiltInKey kBuiltInKeys[];
extern const int kBuiltInKeyCount;

// Where Linux keeps the machine's trusted key files.
constexpr char kTrustedKeyFolder[] = "/etc/quorvel/trusted-keys";

// Every trusted key, read once (the built-in table, then the folder) at the
// first call. Main thread only.
const std::vector<TrustedKey> &TrustedKeys();
// What was found and not trusted, one line each ("PATH: why"), from the
// same single reading.
const std::vector<std::string> &IgnoredKeys();
// The trusted key of that id, or null.
const Ed25519PublicKey *FindTrustedKey(const KeyId &id);

// The reading itself, for a given folder ("" for none): what TrustedKeys
// uses with kTrustedKeyFolder on Linux.
void ReadTrustedKeys(const char *folder, std::vector<TrustedKey> *keys, std::vector<std::string> *ignored);
