// The cryptography the signed package needs, from libgcrypt: SHA-256 and
// Ed25519 (RFC 8032). Nothing here is our own cryptography; this file only
// shapes the library's calls for the package code. Thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

using Sha256Digest = std::array<uint8_t, 32>;
using Ed25519PublicKey = std::array<uint8_t, 32>;
using Ed25519Seed = std::array<uint8_t, 32>;       // the private half: RFC 8032's 32-byte secret
using Ed25519Signature = std::array<uint8_t, 64>;  // R then S

Sha256Digest Sha256(const void *data, std::size_t length);

// SHA-256 of data given in pieces (an image read a block at a time).
class Sha256Stream {
public:
    Sha256Stream();
    ~Sha256Stream();
    Sha256Stream(const Sha256Stream &) = delete;
    Sha256Stream &operator=(const Sha256Stream &) = delete;
    void add(const void *data, std::size_t length);
    Sha256Digest finish();  // once

private:
    void *context;  // gcry_md_hd_t
};

// A new key pair from the library's strongest random source. False when the
// library fails (it says why on stderr).
bool GenerateEd25519(Ed25519Seed *seed, Ed25519PublicKey *publicKey);
// Signs `message` with the pair; false when the library refuses (a seed and
// public key that do not belong together are refused: the signature is
// checked against the public key before it is returned).
bool SignEd25519(const Ed25519Seed &seed, const Ed25519PublicKey &publicKey, const uint8_t *message,
                 std::size_t length, Ed25519Signature *signature);
// True when `signature` is a valid signature of `message` by `publicKey`. A
// signature whose S is not reduced below the group order is refused, so
// that no second encoding of a signature verifies.
bool VerifyEd25519(const Ed25519PublicKey &publicKey, const uint8_t *message, std::size_t length,
                   const Ed25519Signature &signature);

// Lower-case hexadecimal of `length` bytes.
std::string HexText(const uint8_t *bytes, std::size_t length);
// Reads exactly 2 * length lower- or upper-case hexadecimal digits.
bool ReadHex(const char *text, std::size_t textLength, uint8_t *bytes, std::size_t length);
