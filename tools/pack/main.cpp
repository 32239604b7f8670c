// quorvel-pack: the operator's and the firmware maker's tool for "vers.kq".
#include "pack.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "Usage: quorvel-pack create [--demo | --key PRIVATE_KEY] OUTPUT IMAGE0 VERSION0 IMAGE1 VERSION1\n"
    "       quorvel-pack inspect PACKAGE\n"
    "       quorvel-pack keygen NAME\n"
    "       quorvel-pack sign --key PRIVATE_KEY [--demo] PACKAGE [OUTPUT]\n"
    "       quorvel-pack verify [--key PUBLIC_KEY]... [--release] PACKAGE\n"
    "\n"
    "create   writes a firmware package: the line \"VERSION0 SIZE0 VERSION1 SIZE1\",\n"
    "         then IMAGE0 (the RZ4417's firmware) and IMAGE1 (the KWT6083's).\n"
    "         Versions are plain decimal numbers (1.5, 2.05), written as given.\n"
    "         --key signs it as a release with the private key; --demo signs\n"
    "         it as a demo package (test images, never for a real camera)\n"
    "         with the demo key that ships with Quorvel and that no release\n"
    "         trusts. Without either the package is not signed.\n"
    "inspect  shows what Quorvel will read from PACKAGE and send to each camera,\n"
    "         who signed it (key id), its kind, and whether this build trusts it.\n"
    "keygen   writes a new key pair: NAME.key (private, mode 0600: it signs)\n"
    "         and NAME.pub (public: what Quorvel is built to trust).\n"
    "sign     writes PACKAGE (or OUTPUT) with a signature trailer by the key,\n"
    "         kind release (demo with --demo); an earlier trailer is replaced.\n"
    "verify   checks the signature and every byte against the public keys\n"
    "         given (without --key, the keys this build trusts); --release\n"
    "         also requires kind release.\n"
    "\n"
    "Exit status: 0 done, 1 refused (nothing written, a package Quorvel would\n"
    "not update from, or a signature that does not verify), 2 wrong arguments\n"
    "or an unreadable file.\n";

int usageError(const char *text)
{
    std::fprintf(stderr, "quorvel-pack: %s\n%s", text, kUsage);
    return kPackUsage;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return kPackOk;
    }
    if (argc < 2)
        return usageError("a command is needed");
    const std::string command = argv[1];
    // Options first, then the operands.
    std::vector<std::string> operands;
    std::vector<std::string> keys;
    bool demo = false, release = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!operands.empty() || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            operands.push_back(arg);
        } else if (arg == "--demo") {
            demo = true;
        } else if (arg == "--release") {
            release = true;
        } else if (arg == "--key") {
            if (++i >= argc)
                return usageError("--key needs a key file");
            keys.push_back(argv[i]);
        } else {
            return usageError(("unknown option '" + arg + "'").c_str());
        }
    }
    std::string error;
    int result;
    if (command == "create") {
        if (operands.size() != 5 || keys.size() > 1 || (demo && !keys.empty()) || release)
            return usageError("create takes [--demo | --key PRIVATE_KEY] OUTPUT IMAGE0 VERSION0 IMAGE1 VERSION1");
        const PackImage images[2] = {{operands[1], operands[2]}, {operands[3], operands[4]}};
        PackSigner signer = demoSigner();
        if (!keys.empty()) {
            if (!readPrivateKeyFile(keys[0], &signer, &error)) {
                std::fprintf(stderr, "quorvel-pack: %s\n", error.c_str());
                return kPackUsage;
            }
            signer.kind = PackageKind::Release;
        }
        result = createPackage(operands[0], images, demo || !keys.empty() ? &signer : nullptr, stdout, &error);
    } else if (command == "inspect") {
        if (operands.size() != 1 || demo || release || !keys.empty())
            return usageError("inspect takes one PACKAGE");
        result = inspectPackage(operands[0], stdout, &error);
    } else if (command == "keygen") {
        if (operands.size() != 1 || demo || release || !keys.empty())
            return usageError("keygen takes one NAME");
        result = keygenCommand(operands[0], stdout, &error);
    } else if (command == "sign") {
        if (keys.size() != 1 || operands.empty() || operands.size() > 2 || release)
            return usageError("sign takes --key PRIVATE_KEY [--demo] PACKAGE [OUTPUT]");
        PackSigner signer;
        if (!readPrivateKeyFile(keys[0], &signer, &error)) {
            std::fprintf(stderr, "quorvel-pack: %s\n", error.c_str());
            return kPackUsage;
        }
        signer.kind = demo ? PackageKind::Demo : PackageKind::Release;
        result = signPackage(operands[0], operands.size() == 2 ? operands[1] : operands[0], signer, stdout, &error);
    } else if (command == "verify") {
        if (operands.size() != 1 || demo)
            return usageError("verify takes [--key PUBLIC_KEY]... [--release] PACKAGE");
        result = verifyPackage(operands[0], keys, release, stdout, &error);
    } else {
        return usageError(("unknown command '" + command + "'").c_str());
    }
    std::fflush(stdout);
    if (!error.empty())
        std::fprintf(stderr, "quorvel-pack: %s\n", error.c_str());
    return result;
}
