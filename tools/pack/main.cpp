// quorvel-pack: the operator's and the firmware maker's tool for "vers.kq".
#include "pack.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "Usage: quorvel-pack create OUTPUT IMAGE0 VERSION0 IMAGE1 VERSION1\n"
    "       quorvel-pack inspect PACKAGE\n"
    "\n"
    "create   writes a firmware package: the line \"VERSION0 SIZE0 VERSION1 SIZE1\",\n"
    "         then IMAGE0 (the RZ4417's firmware) and IMAGE1 (the KWT6083's).\n"
    "         Versions are plain decimal numbers (1.5, 2.05), written as given.\n"
    "inspect  shows what Quorvel will read from PACKAGE and send to each camera.\n"
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
        if (argc != 7)
            return usageError("create takes OUTPUT IMAGE0 VERSION0 IMAGE1 VERSION1");
        const PackImage images[2] = {{argv[3], argv[4]}, {argv[5], argv[6]}};
        result = createPackage(argv[2], images, stdout, &error);
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
