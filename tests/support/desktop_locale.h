// Real desktop locales for tests: compiled from Debian's locale sources with
// localedef into a temporary directory that LOCPATH points at, so a test can
// run under fr_FR.UTF-8 or tr_TR.UTF-8 whatever the machine has installed.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace desktop {

// The process's locale directory, made on first use, removed at exit.
inline const std::string &localeDirectory()
{
    static const std::string dir = [] {
        char pattern[] = "/tmp/quorvel-locales-XXXXXX";
        const char *made = ::mkdtemp(pattern);
        return std::string(made ? made : "");
    }();
    static const struct Remover {
        ~Remover()
        {
            if (!dir.empty())
                std::system(("rm -rf '" + dir + "'").c_str());
        }
    } remover;
    return dir;
}

// Compiles `name` ("fr_FR.UTF-8": source fr_FR, character map UTF-8) and
// sets LOCPATH to it; later setlocale calls find it. Returns false, with
// localedef's output on stderr, when it cannot be built.
inline bool compileLocale(const std::string &name)
{
    const std::string &dir = localeDirectory();
    const std::size_t dot = name.find('.');
    if (dir.empty() || dot == std::string::npos)
        return false;
    const std::string target = dir + "/" + name;
    struct stat info {};
    if (::stat((target + "/LC_NUMERIC").c_str(), &info) != 0) {
        // localedef exits 1 on mere warnings; what counts is the result.
        const std::string command = "localedef -i " + name.substr(0, dot) + " -f " + name.substr(dot + 1)
                                    + " '" + target + "' >&2";
        const int rc = std::system(command.c_str());
        (void)rc;
        if (::stat((target + "/LC_NUMERIC").c_str(), &info) != 0 ||
            ::stat((target + "/LC_CTYPE").c_str(), &info) != 0) {
            std::fprintf(stderr, "cannot compile the locale %s (is Debian's 'locales' installed?)\n",
                         name.c_str());
            return false;
        }
    }
    ::setenv("LOCPATH", dir.c_str(), 1);
    return true;
}

// The environment of a desktop session in `name`: LANG set, nothing that
// would override it.
inline void setDesktopEnvironment(const std::string &name)
{
    for (const char *variable : {"LC_ALL", "LC_NUMERIC", "LC_CTYPE", "LC_MESSAGES", "LC_COLLATE",
                                 "LC_TIME", "LC_MONETARY", "LANGUAGE"})
        ::unsetenv(variable);
    ::setenv("LANG", name.c_str(), 1);
}

} // namespace desktop
