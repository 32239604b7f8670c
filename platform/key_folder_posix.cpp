// The administrator's folder of trusted key files: read only when nobody
// but root could have put or changed anything in it.
#include "key_folder.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr long long kLongestKeyFile = 4096;

// Owned by root and writable by no one else.
const char *whyNotRootOnly(const struct stat &info)
{
    if (info.st_uid != 0)
        return "not owned by root";
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return "writable by users other than root";
    return nullptr;
}

// Every folder from `folder` up to "/": a folder above that someone else
// could write would let them swap the whole folder.
const char *whyFolderUnsafe(const std::string &folder, std::string *where)
{
    std::string path = folder;
    for (;;) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            *where = path;
            return "not a folder";
        }
        if (const char *why = whyNotRootOnly(info)) {
            *where = path;
            return why;
        }
        const std::size_t slash = path.find_last_of('/');
        if (slash == std::string::npos || path == "/")
            return nullptr;
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
}

// The file's text, read through a descriptor that was checked before any
// open for reading: an O_PATH handle is looked at with fstat, then reopened.
std::string readFile(int folderFd, const char *name, std::string *why)
{
    const int handle = ::openat(folderFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (handle < 0) {
        *why = std::string("cannot be opened: ") + std::strerror(errno);
        return {};
    }
    struct stat info {};
    std::string text;
    if (::fstat(handle, &info) != 0 || !S_ISREG(info.st_mode)) {
        *why = "not a regular file";
    } else if (const char *reason = whyNotRootOnly(info)) {
        *why = reason;
    } else if (info.st_size > kLongestKeyFile) {
        *why = "too long for a key file";
    } else {
        const std::string self = "/proc/self/fd/" + std::to_string(handle);
        const int fd = ::open(self.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            *why = std::string("cannot be read: ") + std::strerror(errno);
        } else {
            char buffer[kLongestKeyFile + 1];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 || n > kLongestKeyFile)
                *why = "cannot be read whole";
            else
                text.assign(buffer, static_cast<std::size_t>(n));
            ::close(fd);
        }
    }
    ::close(handle);
    return text;
}

} // namespace

std::vector<KeyFolderFile> ReadRootOwnedFolder(const char *folder)
{
    std::vector<KeyFolderFile> files;
    struct stat info {};
    if (!folder || !*folder || ::lstat(folder, &info) != 0)
        return files;  // no folder: no key from it
    std::string where;
    if (const char *why = whyFolderUnsafe(folder, &where)) {
        files.push_back({folder, "", (where == folder ? "" : where + " ") + why});
        return files;
    }
    const int folderFd = ::open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderFd < 0)
        return files;
    DIR *listing = ::fdopendir(folderFd);
    if (!listing) {
        ::close(folderFd);
        return files;
    }
    while (const struct dirent *entry = ::readdir(listing)) {
        if (entry->d_name[0] == '.')
            continue;
        KeyFolderFile file;
        file.path = std::string(folder) + "/" + entry->d_name;
        file.text = readFile(folderFd, entry->d_name, &file.ignoredBecause);
        files.push_back(file);
    }
    ::closedir(listing);  // closes folderFd too
    return files;
}
