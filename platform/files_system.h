// The system half of files and time (files_posix.cpp, files_win32.cpp).
// Internal to platform/.
#pragma once

#include <string>

namespace platform {

// Full path of the running executable, "" when it cannot be told.
std::string executablePath();

} // namespace platform

// What ends a folder's name in a path: '/' on POSIX, either slash on Windows.
#ifdef _WIN32
constexpr char kPathSeparators[] = "/\\";
#else
constexpr char kPathSeparators[] = "/";
#endif
