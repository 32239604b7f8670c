// Files on POSIX: the executable's path, dates, sizes, and reading a
// regular file without ever blocking on something that is not one.
#include "files_system.h"
#include "files_time.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

// The buffer grows until the link fits: an installation folder may be
// deeper than any fixed guess.
std::string platform::executablePath()
{
    std::vector<char> path(1024);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
        if (length < 0)
            break;
        if (static_cast<std::size_t>(length) < path.size())
            return std::string(path.data(), static_cast<std::size_t>(length));
        path.resize(path.size() * 2);
    }
    return {};
}


int GetFileDate(const char *path, int *month, int *day, int *year)
{
    struct stat info {};
    if (!path || !month || !day || !year || ::stat(path, &info) != 0)
        return -1;
    std::tm local{};
    if (!::localtime_r(&info.st_mtime, &local))
        return -1;
    *month = local.tm_mon + 1;
    *day = local.tm_mday;
    *year = local.tm_year + 1900;
    return 0;
}

long long GetFileSize(const char *path)
{
    struct stat info {};
    if (!path || ::stat(path, &info) != 0 || S_ISDIR(info.st_mode))
        return -1;
    return static_cast<long long>(info.st_size);
}

int OpenRegularFile(const char *path, long long *size)
{
    if (!path) {
        errno = EINVAL;
        return kFileMissing;
    }
    // Opened once without reading rights: an O_PATH handle opens no device
    // (no control line raised, no FIFO waited on). Its type is checked on
    // that handle, and only a regular file is then reopened for reading,
    // through the handle itself, so the object read is the object checked
    // whatever the path names meanwhile.
    const int handle = ::open(path, O_PATH | O_CLOEXEC);
    if (handle < 0)
        return kFileMissing;
    struct stat info {};
    if (::fstat(handle, &info) != 0) {
        const int saved = errno;
        ::close(handle);
        errno = saved;
        return kFileSystemError;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(handle);
        errno = EINVAL;
        return kFileNotRegular;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(handle);
    const int fd = ::open(self.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const int saved = errno;
    ::close(handle);
    if (fd < 0) {
        errno = saved;
        return kFileSystemError;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || opened.st_dev != info.st_dev || opened.st_ino != info.st_ino) {
        ::close(fd);
        errno = EINVAL;
        return kFileNotRegular;
    }
    if (size)
        *size = static_cast<long long>(opened.st_size);
    return fd;
}

long long ReadFileAt(int handle, long long offset, void *buffer, long long count)
{
    if (handle < 0 || offset < 0 || count < 0 || (!buffer && count > 0)) {
        errno = EINVAL;
        return kFileSystemError;
    }
    auto *bytes = static_cast<char *>(buffer);
    long long done = 0;
    while (done < count) {
        // One call reads at most about 2 GiB on Linux; the loop takes the rest.
        const std::size_t want = static_cast<std::size_t>(std::min<long long>(count - done, 1LL << 30));
        const ssize_t n = ::pread(handle, bytes + done, want, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return kFileSystemError;
        if (n == 0)
            break;  // end of file
        done += n;
    }
    return done;
}

void CloseFile(int handle)
{
    if (handle >= 0)
        ::close(handle);
}

