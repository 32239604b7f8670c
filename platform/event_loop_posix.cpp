// The plain event loop's system half on POSIX: the UI thread waits in
// ppoll on the watched descriptors and on a self-pipe that other threads
// write a byte to when they post a call.
#include "event_loop_system.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

namespace platform::loop_system {

namespace {

int pipeEnds[2] = {-1, -1};
std::once_flag pipeMade;

// The pipe is made at first use; non-blocking both ends, so a full pipe
// (wake-ups nobody read yet) never blocks a writer and reading drains it.
void makePipe()
{
    std::call_once(pipeMade, [] {
        if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
            pipeEnds[0] = pipeEnds[1] = -1;
    });
}

timespec spanOf(double seconds)
{
    if (seconds > 1.0e9)
        seconds = 1.0e9;
    timespec span{};
    span.tv_sec = static_cast<time_t>(seconds);
    span.tv_nsec = static_cast<long>((seconds - static_cast<double>(span.tv_sec)) * 1e9);
    if (span.tv_nsec >= 1'000'000'000L) {
        span.tv_sec += 1;
        span.tv_nsec -= 1'000'000'000L;
    }
    return span;
}

} // namespace

bool canWatchHandles()
{
    return true;
}

void wait(double seconds, const std::vector<int> &handles, std::vector<bool> *ready)
{
    makePipe();
    std::vector<pollfd> entries;
    entries.reserve(handles.size() + 1);
    entries.push_back(pollfd{pipeEnds[0], POLLIN, 0});
    for (const int handle : handles)
        entries.push_back(pollfd{handle, POLLIN, 0});
    timespec span{};
    if (seconds >= 0.0)
        span = spanOf(seconds);
    const int count = ::ppoll(entries.data(), entries.size(), seconds >= 0.0 ? &span : nullptr, nullptr);
    if (count <= 0)
        return;  // time-out, or a signal: the caller's pass goes on
    if (entries[0].revents != 0) {
        char drained[64];
        while (::read(pipeEnds[0], drained, sizeof drained) > 0) {
        }
    }
    for (std::size_t i = 0; i < handles.size(); ++i)
        (*ready)[i] = entries[i + 1].revents != 0;
}

void wake()
{
    makePipe();
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);  // full: a wake-up is pending anyway
    errno = saved;
}

// Sleeps to an absolute deadline, so an interrupted sleep resumes without
// drift; the kernel's high-resolution timers keep even 0.1 ms pauses within
// a few tens of microseconds, without spinning.
void sleep(double seconds)
{
    if (!(seconds > 0.0))
        return;
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    const timespec span = spanOf(seconds);
    deadline.tv_sec += span.tv_sec;
    deadline.tv_nsec += span.tv_nsec;
    if (deadline.tv_nsec >= 1'000'000'000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1'000'000'000L;
    }
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

// With the default 50 us of timer slack each pause ends up near 0.2 ms and
// the image goes out at half the speed the pauses allow; 1 ns keeps them
// at 0.1 ms, still sleeping rather than spinning.
void preciseTimersForThisThread()
{
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

} // namespace platform::loop_system
