// The package being written: a temporary file beside it, renamed over it
// once whole, removed if anything fails or the maker interrupts the copy of
// a large image. One file per system: output_file_posix.cpp (mkstemp,
// fsync, rename; SIGINT, SIGTERM and SIGHUP remove it),
// output_file_win32.cpp (an exclusive new file, _commit, MoveFileEx; Ctrl+C
// removes it).
#pragma once

#include <cstddef>
#include <string>

// What ends a folder's name in a path.
#ifdef _WIN32
constexpr char kFolderSeparators[] = "/\\";
#else
constexpr char kFolderSeparators[] = "/";
#endif

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    // Removes the temporary file unless commit() succeeded.
    ~OutputFile();

    // Creates the temporary file in `folder` (readable by all, like any
    // package). False with errno set when it cannot.
    bool create(const std::string &folder);
    // Writes every byte; false with errno set when the system refuses.
    bool writeAll(const char *data, std::size_t length);
    // Flushes to the disk, closes, and renames it to `path`, replacing the
    // package there. False with errno set and `*failedStep` saying what
    // could not be done ("cannot rename the package to PATH"); the temporary
    // file is gone either way.
    bool commit(const std::string &path, std::string *failedStep);

private:
    void discard();

    int fd = -1;
    std::string temp;
};

// Writes `text` into a new file at `path`; an existing file is never
// replaced. A private key's file is readable by its owner alone (on
// Windows, by the ACL of its folder). False with errno set when it cannot.
bool writeNewFile(const std::string &path, const std::string &text, bool privateKey);
