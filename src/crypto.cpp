// SHA-256 and Ed25519 through libgcrypt.
#include "crypto.h"

#include <gcrypt.h>

#include <cstdio>
#include <cstring>

namespace {

// The library is set up once, before its first use, from whichever thread
// comes first (a function-local static is initialised exactly once).
void initialise()
{
    static const bool ready = [] {
        if (!gcry_check_version(GCRYPT_VERSION)) {
            std::fprintf(stderr, "libgcrypt is older than the one Quorvel was built with\n");
            return false;
        }
        // Only public keys are handled by the programs that verify; the one
        // private key quorvel-pack holds lives no longer than one command.
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)ready;
}

struct Sexp {
    gcry_sexp_t value = nullptr;
    ~Sexp() { gcry_sexp_release(value); }
};

// The bytes of the token `name` in `list`: (name BYTES). False unless they are `size` bytes.
bool tokenBytes(gcry_sexp_t list, const char *name, uint8_t *out, std::size_t size)
{
    Sexp token;
    token.value = gcry_sexp_find_token(list, name, 0);
    if (!token.value)
        return false;
    std::size_t length = 0;
    const char *data = gcry_sexp_nth_data(token.value, 1, &length);
    // An Ed25519 public key may come with the 0x40 prefix of its compact form.
    if (data && length == size + 1 && static_cast<uint8_t>(data[0]) == 0x40) {
        ++data;
        --length;
    }
    if (!data || length != size)
        return false;
    std::memcpy(out, data, size);
    return true;
}

// The order of the group, L = 2^252 + 27742317777372353535851937790883648493,
// little-endian as S is encoded.
constexpr uint8_t kGroupOrder[32] = {
    0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7, 0xa2, 0xde, 0xf9, 0xde, 0x14,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10};

bool belowGroupOrder(const uint8_t *s)
{
    for (int i = 31; i >= 0; --i) {
        if (s[i] != kGroupOrder[i])
            return s[i] < kGroupOrder[i];
    }
    return false;
}

void report(const char *what, gcry_error_t error)
{
    std::fprintf(stderr, "libgcrypt: %s: %s\n", what, gcry_strerror(error));
}

} // namespace

Sha256Digest Sha256(const void *data, std::size_t length)
{
    initialise();
    Sha256Digest digest{};
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest.data(), data, length);
    return digest;
}

Sha256Stream::Sha256Stream() : context(nullptr)
{
    initialise();
    gcry_md_hd_t handle = nullptr;
    if (gcry_md_open(&handle, GCRY_MD_SHA256, 0) == 0)
        context = handle;
}

Sha256Stream::~Sha256Stream()
{
    gcry_md_close(static_cast<gcry_md_hd_t>(context));
}

void Sha256Stream::add(const void *data, std::size_t length)
{
    if (context)
        gcry_md_write(static_cast<gcry_md_hd_t>(context), data, length);
}

Sha256Digest Sha256Stream::finish()
{
    Sha256Digest digest{};  // all zeros if the library could not open a context: matches no image
    if (context) {
        const unsigned char *result = gcry_md_read(static_cast<gcry_md_hd_t>(context), GCRY_MD_SHA256);
        if (result)
            std::memcpy(digest.data(), result, digest.size());
    }
    return digest;
}

bool GenerateEd25519(Ed25519Seed *seed, Ed25519PublicKey *publicKey)
{
    initialise();
    Sexp parameters, key;
    gcry_error_t error = gcry_sexp_build(&parameters.value, nullptr, "(genkey (ecc (curve Ed25519) (flags eddsa)))");
    if (!error)
        error = gcry_pk_genkey(&key.value, parameters.value);
    if (error) {
        report("key generation", error);
        return false;
    }
    Sexp secret;
    secret.value = gcry_sexp_find_token(key.value, "private-key", 0);
    return secret.value && tokenBytes(secret.value, "d", seed->data(), seed->size())
           && tokenBytes(secret.value, "q", publicKey->data(), publicKey->size());
}

bool SignEd25519(const Ed25519Seed &seed, const Ed25519PublicKey &publicKey, const uint8_t *message,
                 std::size_t length, Ed25519Signature *signature)
{
    initialise();
    Sexp key, data, result;
    gcry_error_t error = gcry_sexp_build(&key.value, nullptr,
                                         "(private-key (ecc (curve Ed25519) (flags eddsa) (q %b) (d %b)))",
                                         static_cast<int>(publicKey.size()), publicKey.data(),
                                         static_cast<int>(seed.size()), seed.data());
    if (!error)
        error = gcry_sexp_build(&data.value, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                                static_cast<int>(length), message);
    if (!error)
        error = gcry_pk_sign(&result.value, data.value, key.value);
    if (error) {
        report("signing", error);
        return false;
    }
    if (!tokenBytes(result.value, "r", signature->data(), 32)
        || !tokenBytes(result.value, "s", signature->data() + 32, 32))
        return false;
    // A public key that is not the seed's own would give a signature no one can check.
    return VerifyEd25519(publicKey, message, length, *signature);
}

bool VerifyEd25519(const Ed25519PublicKey &publicKey, const uint8_t *message, std::size_t length,
                   const Ed25519Signature &signature)
{
    if (!belowGroupOrder(signature.data() + 32))
        return false;
    initialise();
    Sexp key, data, value;
    gcry_error_t error = gcry_sexp_build(&key.value, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                                         static_cast<int>(publicKey.size()), publicKey.data());
    if (!error)
        error = gcry_sexp_build(&data.value, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                                static_cast<int>(length), message);
    if (!error)
        error = gcry_sexp_build(&value.value, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32,
                                signature.data(), 32, signature.data() + 32);
    return !error && gcry_pk_verify(value.value, data.value, key.value) == 0;
}

std::string HexText(const uint8_t *bytes, std::size_t length)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text(length * 2, '0');
    for (std::size_t i = 0; i < length; ++i) {
        text[2 * i] = kDigits[bytes[i] >> 4];
        text[2 * i + 1] = kDigits[bytes[i] & 15];
    }
    return text;
}

bool ReadHex(const char *text, std::size_t textLength, uint8_t *bytes, std::size_t length)
{
    if (textLength != 2 * length)
        return false;
    const auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < length; ++i) {
        const int high = nibble(text[2 * i]);
        const int low = nibble(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return true;
}
