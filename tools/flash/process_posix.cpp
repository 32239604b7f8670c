#include "process.h"
#include "options.h"

#include "serial_ports_map.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

void setProcessVariable(const char *name, const char *value)
{
    ::setenv(name, value, 1);
}

std::string portListFor(const std::vector<std::string> &devices)
{
    return comPortList(devices);
}

bool errorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

void ignoreBrokenPipe()
{
    std::signal(SIGPIPE, SIG_IGN);
}

namespace {

std::string canonical(const std::string &path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

} // namespace

std::string comLabelFor(const std::string &device)
{
    const std::string wanted = canonical(device);
    for (const auto &[port, entry] : platform::comPortTable())
        if (entry.path == device || canonical(entry.path) == wanted)
            return "COM" + std::to_string(port);
    return "";
}

std::string ownProgram(const char *argv0)
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0) {
        path[length] = '\0';
        return path;
    }
    return argv0;
}

long long startChild(const std::string &program, const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    // The child starts with the signals at their defaults, whatever this
    // process ignores or handles.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, program.c_str(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    return error == 0 ? pid : -1;
}

bool childEnded(long long id, int *code)
{
    int status = 0;
    const pid_t got = ::waitpid(static_cast<pid_t>(id), &status, WNOHANG);
    if (got != static_cast<pid_t>(id))
        return false;
    *code = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
    return true;
}

void stopWithParent()
{
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)  // it went before the request was made
        ::raise(SIGTERM);
}

void stopChild(long long id, int signal)
{
    ::kill(static_cast<pid_t>(id), signal);
}

void sleepFor(double seconds)
{
    timespec wait{static_cast<time_t>(seconds), static_cast<long>((seconds - static_cast<long>(seconds)) * 1e9)};
    ::nanosleep(&wait, nullptr);  // a signal ends it early
}

std::string deviceIdentity(const std::string &device)
{
    struct stat node {};
    if (::stat(device.c_str(), &node) != 0 || !S_ISCHR(node.st_mode))
        return "";
    return std::to_string(node.st_rdev) + ":" + std::to_string(node.st_ino);
}
