// The key files of a folder that only the system's administrator may change
// (key_folder_posix.cpp; key_folder_win32.cpp has no such folder).
#pragma once

#include <string>
#include <vector>

struct KeyFolderFile {
    std::string path;
    std::string text;           // its contents, when it is trusted
    std::string ignoredBecause; // "" when it is trusted; else why it was left unread
};

// Reads the files of `folder` when the folder, every folder above it and the
// file itself are owned by root and writable by no one else; a file or a
// folder that anyone else could have written is reported with the reason
// and never read. Names beginning with '.' are skipped. A folder that does
// not exist gives nothing. Files are opened without following into a
// device or a FIFO.
std::vector<KeyFolderFile> ReadRootOwnedFolder(const char *folder);
