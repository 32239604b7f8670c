// The package's temporary file on Windows.
#include "output_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <windows.h>

namespace {

// The temporary file, removed if the maker presses Ctrl+C during the copy
// of a large image (the C run-time calls the handler on a thread of its own).
char pendingTemp[MAX_PATH + 1] = "";

extern "C" void removeTempAndExit(int signal)
{
    if (pendingTemp[0])
        ::DeleteFileA(pendingTemp);
    std::_Exit(128 + signal);
}

} // namespace

OutputFile::~OutputFile()
{
    discard();
}

bool OutputFile::create(const std::string &folder)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        char unique[32];
        std::snprintf(unique, sizeof unique, "%08lx%04x", static_cast<unsigned long>(::GetTickCount()),
                      static_cast<unsigned>((::GetCurrentProcessId() + attempt * 7919) & 0xffff));
        const std::string name = folder + "\\.vers.kq." + unique;
        if (name.size() >= sizeof pendingTemp) {
            errno = ENAMETOOLONG;
            return false;
        }
        fd = ::_open(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY | _O_NOINHERIT,
                     _S_IREAD | _S_IWRITE);
        if (fd >= 0) {
            temp = name;
            std::memcpy(pendingTemp, name.c_str(), name.size() + 1);
            std::signal(SIGINT, removeTempAndExit);
            std::signal(SIGBREAK, removeTempAndExit);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool OutputFile::writeAll(const char *data, std::size_t length)
{
    while (length > 0) {
        const unsigned chunk = length > (1u << 30) ? (1u << 30) : static_cast<unsigned>(length);
        const int n = ::_write(fd, data, chunk);
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool OutputFile::commit(const std::string &path, std::string *failedStep)
{
    bool ok = ::_commit(fd) == 0;
    if (::_close(fd) != 0)
        ok = false;
    fd = -1;
    if (!ok) {
        const int error = errno;
        *failedStep = "cannot write " + temp;
        discard();
        errno = error;
        return false;
    }
    if (!::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *failedStep = "cannot rename the package to " + path;
        discard();
        errno = EACCES;
        return false;
    }
    pendingTemp[0] = '\0';
    temp.clear();
    return true;
}

void OutputFile::discard()
{
    if (fd >= 0)
        ::_close(fd);
    fd = -1;
    if (temp.empty())
        return;
    ::DeleteFileA(temp.c_str());
    pendingTemp[0] = '\0';
    temp.clear();
}

bool writeNewFile(const std::string &path, const std::string &text, bool)
{
    const int out = ::_open(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY | _O_NOINHERIT,
                            _S_IREAD | _S_IWRITE);
    if (out < 0)
        return false;
    const bool written = ::_write(out, text.data(), static_cast<unsigned>(text.size())) == static_cast<int>(text.size());
    const bool closed = ::_close(out) == 0;
    if (!written || !closed) {
        ::_unlink(path.c_str());
        return false;
    }
    return true;
}
