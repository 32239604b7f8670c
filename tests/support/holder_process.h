// Another program holding a serial device: a child process that opens the
// device, takes a name (ModemManager, a serial monitor) and waits until the
// test lets it go. With keepInherited the child also keeps the descriptors
// it inherited (the pty's master: then it is the far end of the line).
// Options: lock the device as a terminal program does (flock), and hold
// `otherFiles` more descriptors on `otherFile` (a busy desktop process).
#pragma once

#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

struct HolderOptions {
    bool keepInherited = false;
    bool lock = false;
    const char *otherFile = nullptr;
    int otherFiles = 0;
};

struct HolderProcess {
    pid_t pid = -1;

    HolderProcess(const std::string &device, const char *name, bool keepInherited = false)
        : HolderProcess(device, name, HolderOptions{keepInherited, false, nullptr, 0})
    {
    }
    HolderProcess(const std::string &device, const char *name, const HolderOptions &options)
    {
        const bool keepInherited = options.keepInherited;
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            // Only async-signal-safe calls here: the parent has threads.
            if (!keepInherited)
                for (int fd = 3; fd < 1024; ++fd)
                    if (fd != ready[1])
                        ::close(fd);
            ::prctl(PR_SET_NAME, name, 0, 0, 0);
            bool ok = true;
            if (options.otherFiles > 0) {
                rlimit limit{};
                ::getrlimit(RLIMIT_NOFILE, &limit);
                limit.rlim_cur = limit.rlim_max;
                ::setrlimit(RLIMIT_NOFILE, &limit);
                for (int i = 0; i < options.otherFiles && ok; ++i)
                    ok = ::open(options.otherFile, O_RDWR | O_NONBLOCK) >= 0;
            }
            const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            ok = ok && fd >= 0 && (!options.lock || ::flock(fd, LOCK_EX | LOCK_NB) == 0);
            const char result = ok ? 'y' : 'n';
            (void)::write(ready[1], &result, 1);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char result = 'n';
        if (pid < 0 || ::read(ready[0], &result, 1) != 1 || result != 'y')
            release();
        ::close(ready[0]);
    }
    ~HolderProcess() { release(); }
    HolderProcess(const HolderProcess &) = delete;
    HolderProcess &operator=(const HolderProcess &) = delete;

    bool holding() const { return pid > 0; }
    void release()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }
};
