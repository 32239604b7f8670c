#include "process.h"

#include <cstdio>
#include <cstdlib>
#include <io.h>
#include <map>
#include <string>
#include <vector>

#include <windows.h>

void setProcessVariable(const char *name, const char *value)
{
    ::_putenv_s(name, value);  // the C run-time's copy, which getenv reads
}

namespace {

// "COM7", "com7" or "\\.\COM7" -> 7; any other name -> 0.
int comNumber(std::string name)
{
    if (name.rfind("\\\\.\\", 0) == 0)
        name.erase(0, 4);
    if (name.size() < 4 || (name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' || (name[2] | 0x20) != 'm')
        return 0;
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || number > 1000)
            return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number >= 1 && number <= 255 ? number : 0;
}

} // namespace

std::string portListFor(const std::vector<std::string> &devices)
{
    std::map<int, std::string> ports;
    for (const std::string &device : devices)
        if (const int number = comNumber(device))
            ports.emplace(number, "COM" + std::to_string(number));
    int next = 1;
    for (const std::string &device : devices) {
        if (comNumber(device))
            continue;
        while (ports.count(next))
            ++next;
        ports.emplace(next, device);
    }
    std::string list;
    for (const auto &[number, device] : ports)
        list += (list.empty() ? "" : ",") + std::to_string(number) + "=" + device;
    return list;
}

bool errorIsTerminal()
{
    return ::_isatty(::_fileno(stderr)) != 0;
}

void ignoreBrokenPipe()
{
    // Windows raises no signal for a closed pipe: the write fails.
}

std::string comLabelFor(const std::string &device)
{
    const int number = comNumber(device);
    return number ? "COM" + std::to_string(number) : "";
}

std::string ownProgram(const char *argv0)
{
    char path[MAX_PATH + 1];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string(argv0);
}

namespace {

// One argument as CommandLineToArgvW and the C run-time read it back.
std::string quoted(const std::string &arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

std::map<long long, HANDLE> &children()
{
    static std::map<long long, HANDLE> running;  // process id -> its handle
    return running;
}

} // namespace

long long startChild(const std::string &program, const std::vector<std::string> &args)
{
    std::string line = quoted(program);
    for (const std::string &arg : args)
        line += " " + quoted(arg);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // A group of its own, so that Ctrl+Break can be sent to it alone.
    if (!::CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr,
                          nullptr, &startup, &info))
        return -1;
    ::CloseHandle(info.hThread);
    children()[info.dwProcessId] = info.hProcess;
    return info.dwProcessId;
}

bool childEnded(long long id, int *code)
{
    const auto found = children().find(id);
    if (found == children().end() || ::WaitForSingleObject(found->second, 0) != WAIT_OBJECT_0)
        return false;
    DWORD status = 1;
    ::GetExitCodeProcess(found->second, &status);
    ::CloseHandle(found->second);
    children().erase(found);
    *code = static_cast<int>(status);
    return true;
}

void stopWithParent()
{
    // A console process outlives its parent on Windows; the station's
    // Ctrl+Break reaches it while the station lives.
}

void stopChild(long long id, int)
{
    ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(id));
}

void sleepFor(double seconds)
{
    ::Sleep(static_cast<DWORD>(seconds * 1000));
}

std::string deviceIdentity(const std::string &device)
{
    const int number = comNumber(device);
    const std::string name = number ? "COM" + std::to_string(number) : device;
    char target[1024];
    return ::QueryDosDeviceA(name.c_str(), target, sizeof target) ? std::string(target) : std::string();
}
