// SIGINT, SIGTERM and SIGHUP into the event loop on POSIX: the handler
// writes a byte on a pipe (all a handler may safely do); a thread of ours
// reads it and posts the call to the UI thread. A hang-up of the terminal is
// taken as SIGTERM is: the update stops as Stop stops it, never mid-block.
#include "interrupt.h"

#include "ui_queue.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

int pipeEnds[2] = {-1, -1};

void onSignal(int signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = saved;
}

} // namespace

bool watchInterrupts(std::function<void(int signal)> callback)
{
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return false;
    // Blocked in read for the rest of the process; never joined.
    std::thread([callback] {
        unsigned char byte = 0;
        for (;;) {
            const ssize_t got = ::read(pipeEnds[0], &byte, 1);
            if (got == 1)
                platform::postToUiThread([callback, signal = int(byte)] { callback(signal); });
            else if (got == 0 || errno != EINTR)
                return;
        }
    }).detach();
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0
           && ::sigaction(SIGHUP, &action, nullptr) == 0;
}

void endBySignal(int signal)
{
    std::fflush(nullptr);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    std::_Exit(128 + signal);  // a signal whose default is not to end the process
}

namespace {

volatile sig_atomic_t noted = 0;

void onNotedSignal(int signal)
{
    if (noted == 0)
        noted = signal;
}

} // namespace

bool noteInterrupts()
{
    struct sigaction action {};
    action.sa_handler = onNotedSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: the station's pause ends at once
    return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0
           && ::sigaction(SIGHUP, &action, nullptr) == 0;
}

int takeInterrupt()
{
    const int signal = noted;
    noted = 0;
    return signal;
}
