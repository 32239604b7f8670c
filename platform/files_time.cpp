// Files and time: where the executable lives, file dates and sizes, pauses
// and the seconds clock.
#include "files_time.h"
#include "event_loop.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

// Full path of the running executable, "" when it cannot be told.
std::string executablePath()
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0)
        return std::string(path, static_cast<std::size_t>(length));
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath().toStdString();
    return {};
}

} // namespace

int GetProjectDir(char *dir, std::size_t size)
{
    const std::string path = executablePath();
    const std::size_t slash = path.rfind('/');
    if (!dir || slash == std::string::npos)
        return -1;
    const std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    if (folder.size() + 1 > size)
        return -1;
    std::memcpy(dir, folder.c_str(), folder.size() + 1);
    return 0;
}

const char *GetExecutableName()
{
    static const std::string name = [] {
        const std::string path = executablePath();
        return path.substr(path.rfind('/') + 1);  // npos + 1 == 0: the whole text
    }();
    return name.c_str();
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
