// Files on Windows: the executable's path, dates, sizes, and reading a
// regular file (a COM port or a pipe named as a package is never opened
// for reading, as on POSIX). Handles are the C run-time's descriptors.
#include "files_system.h"
#include "files_time.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

#include <windows.h>

std::string platform::executablePath()
{
    std::vector<char> path(1024);
    for (;;) {
        const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size())
            return std::string(path.data(), length);
        path.resize(path.size() * 2);  // cut short: the folder is deeper than the buffer
    }
}

int GetFileDate(const char *path, int *month, int *day, int *year)
{
    struct _stat64 info {};
    if (!path || !month || !day || !year || ::_stat64(path, &info) != 0)
        return -1;
    std::tm local{};
    const __time64_t when = info.st_mtime;
    if (::_localtime64_s(&local, &when) != 0)
        return -1;
    *month = local.tm_mon + 1;
    *day = local.tm_mday;
    *year = local.tm_year + 1900;
    return 0;
}

long long GetFileSize(const char *path)
{
    struct _stat64 info {};
    if (!path || ::_stat64(path, &info) != 0 || (info.st_mode & _S_IFMT) == _S_IFDIR)
        return -1;
    return static_cast<long long>(info.st_size);
}

int OpenRegularFile(const char *path, long long *size)
{
    if (!path) {
        errno = EINVAL;
        return kFileMissing;
    }
    // Opened once for its attributes only, its type checked on that handle,
    // and only a disk file reopened for reading from the handle itself
    // (ReOpenFile): what is read is what was checked, never a pipe or a
    // device named in between.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE look = ::CreateFileA(path, FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);  // a folder opens too, to be told apart
    if (look == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        errno = error == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
        return error == ERROR_ACCESS_DENIED ? kFileSystemError : kFileMissing;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(look) != FILE_TYPE_DISK || !::GetFileInformationByHandle(look, &info)
        || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::CloseHandle(look);
        errno = EINVAL;
        return kFileNotRegular;
    }
    const HANDLE file = ::ReOpenFile(look, GENERIC_READ, share, 0);
    ::CloseHandle(look);
    if (file == INVALID_HANDLE_VALUE) {
        errno = ::GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
        return kFileSystemError;
    }
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(file, &length)) {
        ::CloseHandle(file);
        errno = EIO;
        return kFileSystemError;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(file);
        errno = EMFILE;
        return kFileSystemError;
    }
    if (size)
        *size = static_cast<long long>(length.QuadPart);
    return fd;
}

// Reads at an offset without moving a shared file position, as pread does:
// ReadFile with the offset in an OVERLAPPED on the descriptor's handle.
long long ReadFileAt(int handle, long long offset, void *buffer, long long count)
{
    if (handle < 0 || offset < 0 || count < 0 || (!buffer && count > 0)) {
        errno = EINVAL;
        return kFileSystemError;
    }
    const HANDLE file = reinterpret_cast<HANDLE>(::_get_osfhandle(handle));
    if (file == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return kFileSystemError;
    }
    auto *bytes = static_cast<char *>(buffer);
    long long done = 0;
    while (done < count) {
        const DWORD want = static_cast<DWORD>(std::min<long long>(count - done, 1LL << 30));
        OVERLAPPED at{};
        const unsigned long long position = static_cast<unsigned long long>(offset + done);
        at.Offset = static_cast<DWORD>(position & 0xffffffffULL);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD got = 0;
        if (!::ReadFile(file, bytes + done, want, &got, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF)
                break;
            errno = EIO;
            return kFileSystemError;
        }
        if (got == 0)
            break;  // end of file
        done += got;
    }
    return done;
}

void CloseFile(int handle)
{
    if (handle >= 0)
        ::_close(handle);
}
