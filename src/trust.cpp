// Trusted keys: the built-in table and the administrator's folder.
#include "trust.h"

#include "platform.h"

#include <algorithm>

namespace {

constexpr char kPublicPrefix[] = "quorvel-public-key ed25519 ";
constexpr char kPrivatePrefix[] = "quorvel-private-key ed25519 ";

// The text without one final line feed, when it begins with `prefix` and
// holds no other line.
bool oneLine(const std::string &text, const char *prefix, std::string *rest)
{
    std::string line = text;
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    if (line.find('\n') != std::string::npos || line.compare(0, std::string(prefix).size(), prefix) != 0)
        return false;
    *rest = line.substr(std::string(prefix).size());
    return true;
}

struct Trust {
    std::vector<TrustedKey> keys;
    std::vector<std::string> ignored;
};

const Trust &trust()
{
    static const Trust read = [] {
        Trust t;
#ifdef _WIN32
        ReadTrustedKeys("", &t.keys, &t.ignored);
#else
        ReadTrustedKeys(kTrustedKeyFolder, &t.keys, &t.ignored);
#endif
        return t;
    }();
    return read;
}

// Adds the key unless it is the demo key or already there.
void addKey(const Ed25519PublicKey &key, const std::string &origin, std::vector<TrustedKey> *keys,
            std::vector<std::string> *ignored)
{
    if (key == kDemoPublicKey) {
        ignored->push_back(origin + ": the demo key, which no build trusts");
        return;
    }
    for (const TrustedKey &known : *keys)
        if (known.key == key)
            return;
    keys->push_back({key, KeyIdOf(key), origin});
}

} // namespace

std::string PublicKeyText(const Ed25519PublicKey &key)
{
    return kPublicPrefix + HexText(key.data(), key.size()) + "\n";
}

bool ReadPublicKeyText(const std::string &text, Ed25519PublicKey *key)
{
    std::string hex;
    return oneLine(text, kPublicPrefix, &hex) && ReadHex(hex.data(), hex.size(), key->data(), key->size());
}

std::string PrivateKeyText(const Ed25519Seed &seed, const Ed25519PublicKey &key)
{
    return kPrivatePrefix + HexText(seed.data(), seed.size()) + " " + HexText(key.data(), key.size()) + "\n";
}

bool ReadPrivateKeyText(const std::string &text, Ed25519Seed *seed, Ed25519PublicKey *key)
{
    std::string hex;
    if (!oneLine(text, kPrivatePrefix, &hex) || hex.size() != 129 || hex[64] != ' ')
        return false;
    return ReadHex(hex.data(), 64, seed->data(), seed->size())
           && ReadHex(hex.data() + 65, 64, key->data(), key->size());
}

void ReadTrustedKeys(const char *folder, std::vector<TrustedKey> *keys, std::vector<std::string> *ignored)
{
    for (int i = 0; i < kBuiltInKeyCount; ++i) {
        Ed25519PublicKey key{};
        const std::string origin = std::string("built in (") + kBuiltInKeys[i].origin + ")";
        if (ReadPublicKeyText(kBuiltInKeys[i].text, &key))
            addKey(key, origin, keys, ignored);
        else
            ignored->push_back(origin + ": not a public key file");
    }
    std::vector<KeyFolderFile> files = ReadRootOwnedFolder(folder);
    std::sort(files.begin(), files.end(),
              [](const KeyFolderFile &a, const KeyFolderFile &b) { return a.path < b.path; });
    for (const KeyFolderFile &file : files) {
        Ed25519PublicKey key{};
        if (!file.ignoredBecause.empty())
            ignored->push_back(file.path + ": " + file.ignoredBecause);
        else if (!ReadPublicKeyText(file.text, &key))
            ignored->push_back(file.path + ": not a public key file");
        else
            addKey(key, file.path, keys, ignored);
    }
}

const std::vector<TrustedKey> &TrustedKeys()
{
    return trust().keys;
}

const std::vector<std::string> &IgnoredKeys()
{
    return trust().ignored;
}

const Ed25519PublicKey *FindTrustedKey(const KeyId &id)
{
    for (const TrustedKey &known : TrustedKeys())
        if (known.id == id)
            return &known.key;
    return nullptr;
}
