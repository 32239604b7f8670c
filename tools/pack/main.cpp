// quorvel-pack: the operator's and the firmware maker's tool for "vers.kq".
#include "pack.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "Usage: quorvel-pack create [--demo] OUTPUT IMAGE0 VERSION0 IMAGE1 VERSION1\n"
    "       quorvel-pack inspect PACKAGE\n"
    "\n"
    "create   writes a firmware package: the line \"VERSION0 SIZE0 VERSION1 SIZE1\",\n"
    "         then IMAGE0 (the RZ4417's firmware) and IMAGE1 (the KWT6083's).\n"
    "         Versions are plain decimal numbers (1.5, 2.05), written as given.\n"
    "         --demo marks the package as a demo (test images, never for a\n"
    "         real camera) with a line after image 1 that Quorvel never reads.\n"
    "inspect  shows what Quorvel will read from PACKAGE and send to each camera,\n"
    "         and says when it is a demo package.\n"
    "\n"
    "Exit status: 0 done, 1 refused (nothing written, or a package Quorvel\n"
    "would not update from), 2 wrong arguments or an unreadable package.\n";

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
    std::string error;
    int result;
    if (command == "create") {
        const bool demo = argc >= 3 && std::strcmp(argv[2], "--demo") == 0;
        char **args = argv + (demo ? 3 : 2);
        if (argc - (demo ? 3 : 2) != 5)
            return usageError("create takes [--demo] OUTPUT IMAGE0 VERSION0 IMAGE1 VERSION1");
        const PackImage images[2] = {{args[1], args[2]}, {args[3], args[4]}};
        result = createPackage(args[0], images, demo, stdout, &error);
    } else if (command == "inspect") {
        if (argc != 3)
            return usageError("inspect takes one PACKAGE");
        result = inspectPackage(argv[2], stdout, &error);
    } else {
        return usageError(("unknown command '" + command + "'").c_str());
    }
    std::fflush(stdout);
    if (!error.empty())
        std::fprintf(stderr, "quorvel-pack: %s\n", error.c_str());
    return result;
}
