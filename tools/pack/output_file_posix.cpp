// The package's temporary file on POSIX.
#include "output_file.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The temporary file, removed if the maker interrupts the copy of a large
// image; only async-signal-safe calls touch it in the handler.
char pendingTemp[PATH_MAX] = "";

extern "C" void removeTempAndExit(int signal)
{
    if (pendingTemp[0])
        ::unlink(pendingTemp);
    ::_exit(128 + signal);
}

// The signals that end the maker while the file is pending.
sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, s);
    return set;
}

} // namespace

OutputFile::~OutputFile()
{
    discard();
}

bool OutputFile::create(const std::string &folder)
{
    std::string pattern = folder + "/.vers.kq.XXXXXX";
    if (pattern.size() >= sizeof pendingTemp) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    struct sigaction stop {};
    stop.sa_handler = removeTempAndExit;
    sigemptyset(&stop.sa_mask);
    const sigset_t blocked = stopSignals();
    sigset_t previous;
    // The name is recorded before a signal can see it half written.
    sigprocmask(SIG_BLOCK, &blocked, &previous);
    fd = ::mkstemp(name.data());
    const int saved = errno;
    if (fd >= 0) {
        std::memcpy(pendingTemp, name.data(), name.size());
        for (int s : {SIGINT, SIGTERM, SIGHUP})
            sigaction(s, &stop, nullptr);
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (fd < 0) {
        errno = saved;
        return false;
    }
    temp = name.data();
    if (::fchmod(fd, 0644) != 0) {
        const int error = errno;
        discard();
        errno = error;
        return false;
    }
    return true;
}

bool OutputFile::writeAll(const char *data, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool OutputFile::commit(const std::string &path, std::string *failedStep)
{
    bool ok = ::fsync(fd) == 0;
    if (::close(fd) != 0)
        ok = false;
    fd = -1;
    if (!ok) {
        const int error = errno;
        *failedStep = "cannot write " + temp;
        discard();
        errno = error;
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        *failedStep = "cannot rename the package to " + path;
        discard();
        errno = error;
        return false;
    }
    const sigset_t blocked = stopSignals();
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &blocked, &previous);
    pendingTemp[0] = '\0';
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    temp.clear();
    return true;
}

void OutputFile::discard()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    if (temp.empty())
        return;
    const sigset_t blocked = stopSignals();
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &blocked, &previous);
    ::unlink(temp.c_str());
    pendingTemp[0] = '\0';
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    temp.clear();
}

bool writeNewFile(const std::string &path, const std::string &text, bool privateKey)
{
    const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           privateKey ? 0600 : 0644);
    if (out < 0)
        return false;
    const bool written = ::write(out, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int saved = errno;
    const bool closed = ::close(out) == 0;
    if (!written || !closed) {
        ::unlink(path.c_str());
        errno = written ? errno : saved;
        return false;
    }
    return true;
}
