// Start-up time: from exec of a program to its first window mapped on the X
// display, measured for Quorvel and for the bare Qt window in turn.
// Usage: window_map RUNS QUORVEL BARE_WINDOW   (DISPLAY must be set)
// Prints: startup_vs_bare_qt_window|Quorvel ms|ms|bare Qt window ms|...|ratio
#include <X11/Xlib.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

double now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Milliseconds from fork to the first MapNotify of a top-level window, or -1.
double timeToMap(Display *display, const char *program)
{
    XSync(display, True);  // forget earlier events
    const double start = now();
    const pid_t child = fork();
    if (child == 0) {
        execl(program, program, nullptr);
        _exit(127);
    }
    double result = -1;
    const int fd = ConnectionNumber(display);
    while (now() - start < 30.0 && result < 0) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && result < 0)
                result = (now() - start) * 1000.0;
        }
        if (result >= 0)
            break;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        timeval wait{0, 100000};
        select(fd + 1, &set, nullptr, nullptr, &wait);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return result;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s RUNS QUORVEL BARE_WINDOW\n", argv[0]);
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    const int runs = std::max(1, std::atoi(argv[1]));
    std::vector<double> quorvel, bare;
    for (int i = 0; i < runs; ++i) {
        quorvel.push_back(timeToMap(display, argv[2]));
        bare.push_back(timeToMap(display, argv[3]));
    }
    if (*std::min_element(quorvel.begin(), quorvel.end()) < 0
        || *std::min_element(bare.begin(), bare.end()) < 0) {
        std::fprintf(stderr, "a window never appeared\n");
        return 1;
    }
    const double q = median(quorvel), b = median(bare);
    std::printf("startup_vs_bare_qt_window|%.4g|ms|bare Qt window ms|%.4g|%.3f\n", q, b, q / b);
    XCloseDisplay(display);
    return 0;
}
