// Files and time: where the executable lives, pauses and the seconds
// clock. The file calls themselves are the system's (files_posix.cpp,
// files_win32.cpp).
#include "files_time.h"
#include "event_loop.h"
#include "files_system.h"

#include <cstring>
#include <string>

int GetProjectDir(std::string *dir)
{
    const std::string path = platform::executablePath();
    const std::size_t slash = path.find_last_of(kPathSeparators);
    if (!dir || slash == std::string::npos)
        return -1;
    *dir = slash == 0 ? std::string("/") : path.substr(0, slash);
    return 0;
}

int GetProjectDir(char *dir, std::size_t size)
{
    std::string folder;
    if (!dir || GetProjectDir(&folder) != 0 || folder.size() + 1 > size)
        return -1;
    std::memcpy(dir, folder.c_str(), folder.size() + 1);
    return 0;
}

const char *GetExecutableName()
{
    static const std::string name = [] {
        const std::string path = platform::executablePath();
        return path.substr(path.find_last_of(kPathSeparators) + 1);  // npos + 1 == 0: the whole text
    }();
    return name.c_str();
}

// The event loop's clock: the machine's, or a test's manual one.
void Delay(double seconds)
{
    platform::eventLoop().sleep(seconds);
}

void DelayUntil(double timerSeconds)
{
    Delay(timerSeconds - Timer());
}

double Timer()
{
    return platform::eventLoop().now();
}
