// Quorvel's performance figures, each measured beside a baseline in the same
// run so that a loaded machine moves both alike:
//
//   streaming   the worker into a drained pseudo-terminal vs a bare C loop
//               of 512-byte writes with a 0.1 ms pause (default timer slack)
//   checksum    Checksum over 32 MiB vs memchr's read of the same bytes
//   stall       the event loop's longest stall while a port talks without end
//               at 115200 baud vs a bare loop's; Stop's time from click to closed
//   stalledwrite  the same while the camera stops reading mid-image and then
//               answers ERROR, and Stop's time while the worker's write waits
//   linerate    image bytes/s to the simulated camera at 115200 baud vs 11,520
//   idlecpu     CPU while scanning five silent ports vs the bare event loop
//   logstream   memory and CPU of the window while a device streams hex digits
//               without line ends for QUORVEL_BENCH_STREAM_SECONDS (900), the
//               last minute vs the first; Stop's time to close it at the end
//
// Prints one row per figure: name|value|unit|baseline|baseline value|ratio.
// Usage: quorvel_bench FIGURE... [--simcam PATH]   (no figure: all but linerate)
#include "control.h"
#include "dialogue.h"
#include "loader_state.h"
#include "package.h"
#include "panel_qt.h"
#include "platform.h"
#include "ports.h"
#include "streaming.h"
#include "ui_constants.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <random>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

double now()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double cpuNow()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void row(const char *name, double value, const char *unit, const char *baseline,
         double baselineValue, double ratio)
{
    std::printf("%s|%.4g|%s|%s|%.4g|%.3f\n", name, value, unit, baseline, baselineValue, ratio);
    std::fflush(stdout);
}

// A raw pseudo-terminal: the loader's end (slave) by path, the camera's end
// (master) kept here.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    Pty()
    {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        termios t{};
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
        path = name;
    }
    ~Pty()
    {
        if (slave >= 0)
            ::close(slave);
        ::close(master);
    }
    void closeSlave()
    {
        ::close(slave);
        slave = -1;
    }
};

// Reads the master as fast as it can until told to stop: the camera side of
// a line that never holds the sender back.
struct Drain {
    std::atomic<bool> stop{false};
    std::atomic<long long> bytes{0};
    std::thread thread;
    explicit Drain(int fd)
    {
        thread = std::thread([this, fd] {
            std::vector<char> buffer(1 << 16);
            while (!stop) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 20) > 0) {
                    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
                    if (n > 0)
                        bytes += n;
                }
            }
        });
    }
    ~Drain()
    {
        stop = true;
        thread.join();
    }
};

void mapComPorts(const std::string &pairs)
{
    ::setenv("QUORVEL_COM_PORTS", pairs.c_str(), 1);
}

// Runs the event loop for `seconds`, or until `done` holds (checked every ms).
void runEventsFor(double seconds, const std::function<bool()> &done = {})
{
    if (!done) {  // one timer: an idle loop stays idle
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
        loop.exec();
        return;
    }
    const double end = now() + seconds;
    while (now() < end && !(done && done())) {
        QEventLoop loop;
        QTimer::singleShot(1, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void freshLoader()
{
    ResetLoaderState(LoaderReset::Scan);
}

// ---------------------------------------------------------------------------

constexpr int kBlock = 512;
constexpr long long kStreamBytes = 4 << 20;

double bareLoopBytesPerSecond()
{
    Pty pty;
    Drain drain(pty.master);
    std::vector<char> block(kBlock, 'x');
    const timespec pause{0, 100000};
    const double start = now();
    for (long long sent = 0; sent < kStreamBytes; sent += kBlock) {
        int done = 0;
        while (done < kBlock) {
            const ssize_t n = ::write(pty.slave, block.data() + done, kBlock - done);
            if (n > 0)
                done += static_cast<int>(n);
        }
        ::nanosleep(&pause, nullptr);
    }
    return static_cast<double>(kStreamBytes) / (now() - start);
}

double workerBytesPerSecond(std::vector<uint8_t> &image)
{
    Pty pty;
    Drain drain(pty.master);
    mapComPorts("1=" + pty.path);
    if (OpenComConfig(1, "", 115200, 0, 8, 1, 512, -1) != 0) {
        std::fprintf(stderr, "cannot open %s\n", pty.path.c_str());
        std::exit(1);
    }
    SetComTime(1, 1.0);
    loader.imageBuffer = image.data();
    loader.imageSize = static_cast<int32_t>(image.size());
    loader.connectedPort = 1;
    loader.transferActive = 1;
    loader.lastPercent = 0;
    loader.bytesSent = 0;
    int pool = 0;
    CmtNewThreadPool(1, &pool);
    const double start = now();
    loader.workerRunning = true;
    CmtScheduleThreadPoolFunction(pool, EnvoiRS, nullptr, nullptr);
    CmtDiscardThreadPool(pool);  // returns once EnvoiRS has
    const double seconds = now() - start;
    loader.imageBuffer = nullptr;
    loader.connectedPort = 0;
    loader.transferActive = 0;
    CloseCom(1);
    if (loader.bytesSent != static_cast<int32_t>(image.size()))
        std::fprintf(stderr, "worker sent %d of %zu bytes\n", loader.bytesSent.load(), image.size());
    return static_cast<double>(image.size()) / seconds;
}

// Five pairs, bare loop then worker; the figure is the median of the pairs'
// ratios, so that a burst of load on the machine lands on one pair only.
void benchStreaming()
{
    std::vector<uint8_t> image(kStreamBytes, 0x5A);
    std::vector<double> bare, worker, ratios;
    double cpuBare = 0, cpuWorker = 0, wallBare = 0, wallWorker = 0;
    for (int run = 0; run < 5; ++run) {
        double c = cpuNow(), w = now();
        bare.push_back(bareLoopBytesPerSecond());
        cpuBare += cpuNow() - c;
        wallBare += now() - w;
        c = cpuNow();
        w = now();
        worker.push_back(workerBytesPerSecond(image));
        cpuWorker += cpuNow() - c;
        wallWorker += now() - w;
        ratios.push_back(worker.back() / bare.back());
    }
    row("streaming_vs_bare_loop", median(worker) / 1e6, "MB/s", "bare loop MB/s",
        median(bare) / 1e6, median(ratios));
    // CPU of the whole process (sender and drain) per second of streaming.
    row("streaming_cpu_vs_bare_loop", 100.0 * cpuWorker / wallWorker, "% CPU", "bare loop % CPU",
        100.0 * cpuBare / wallBare, (cpuWorker / wallWorker) / (cpuBare / wallBare));
}

// ---------------------------------------------------------------------------

void benchChecksum()
{
    const size_t size = 32u << 20;
    std::vector<uint8_t> bytes(size);
    std::mt19937 gen(7);
    for (uint8_t &b : bytes)
        b = static_cast<uint8_t>(gen() % 255);  // never 255: memchr reads it all
    std::vector<double> sum, scan;
    volatile uint32_t sink = 0;
    for (int run = 0; run < 15; ++run) {
        double start = now();
        sink = sink + static_cast<uint32_t>(Checksum(bytes.data(), static_cast<uint32_t>(size)));
        sum.push_back(now() - start);
        start = now();
        sink = sink + (std::memchr(bytes.data(), 255, size) == nullptr ? 1u : 0u);
        scan.push_back(now() - start);
    }
    const double gbSum = size / *std::min_element(sum.begin(), sum.end()) / 1e9;
    const double gbScan = size / *std::min_element(scan.begin(), scan.end()) / 1e9;
    row("checksum_vs_memory_read_32MiB", gbSum, "GB/s", "memchr GB/s", gbScan, gbSum / gbScan);
}

// ---------------------------------------------------------------------------

// The longest time the event loop goes without running a 1 ms timer, over
// `seconds`: what an operator sees as a window that neither repaints nor
// takes a click.
double longestStall(double seconds)
{
    double last = now(), longest = 0.0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double t = now();
        longest = std::max(longest, t - last);
        last = t;
    });
    tick.start(1);
    runEventsFor(seconds);
    tick.stop();
    return std::max(longest, now() - last);
}

// A device that talks without end (a GPS, a console, a camera booted into
// its firmware) at 115200 baud: 11,520 bytes a second in 10 ms slices, drawn
// from `alphabet`, from a process of its own so that its work is not counted
// as the loader's. A full line drops what it cannot take, as a UART does.
class ChattyDevice {
public:
    ChattyDevice(int master, const char *alphabet)
    {
        child_ = ::fork();
        if (child_ != 0)
            return;
        const std::size_t letters = std::strlen(alphabet);
        std::mt19937 gen(7);
        const double start = now();
        long long sent = 0;
        char slice[4096];
        for (;;) {
            const long long due = static_cast<long long>((now() - start) * 11520.0);
            std::size_t n = 0;
            while (sent + static_cast<long long>(n) < due && n < sizeof slice)
                slice[n++] = alphabet[gen() % letters];
            if (n > 0) {
                pollfd p{master, POLLOUT, 0};
                if (::poll(&p, 1, 0) > 0) {
                    const ssize_t written = ::write(master, slice, n);
                    if (written > 0)
                        sent += written;
                } else {
                    sent = due;
                }
            }
            ::usleep(10000);
        }
    }
    ~ChattyDevice()
    {
        if (child_ > 0) {
            ::kill(child_, SIGKILL);
            ::waitpid(child_, nullptr, 0);
        }
    }

private:
    pid_t child_ = -1;
};

// The resident memory of this process, in MB.
double residentMegabytes()
{
    long pages = 0, resident = 0;
    if (std::FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1e6;
}

// Listening on one port that talks without end: Ok pressed, COM1 open.
void listenTo(const Pty &pty, const char *figure)
{
    mapComPorts("1=" + pty.path);
    EtatMarche(loader.panel);
    ResetTextBox(loader.panel, TEXTBOX, "");
    OuvertureCom();
    if (GetInQLen(1) < 0) {
        std::fprintf(stderr, "%s: COM1 did not open\n", figure);
        std::exit(1);
    }
}

// The operator's Stop, clicked 1.5 s into a while of listening: seconds from
// the click to the port closed. A click waits for the event loop, so a loop
// held by a port is felt here.
double stopListening(const char *figure)
{
    const double clickAt = now() + 1.5;
    double closedAt = 0.0;
    QTimer::singleShot(1500, [&] {
        Transfert(loader.panel, STOP, EVENT_COMMIT, nullptr, 0, 0);
        closedAt = now();
    });
    runEventsFor(60.0, [&] { return closedAt > 0.0; });
    if (GetInQLen(1) >= 0)
        std::fprintf(stderr, "%s: COM1 still open after Stop\n", figure);
    return closedAt > 0.0 ? closedAt - clickAt : 60.0;
}

// A chatty device on the only port, 10 s: the longest stall of the event loop
// meanwhile, beside a bare loop's; then how long the operator's Stop takes to
// close the port.
void benchStall()
{
    freshLoader();
    const double bare = longestStall(10.0);

    Pty pty;
    pty.closeSlave();  // the loader holds the only slave
    ChattyDevice device(pty.master, "abcdefghijklmnopqrstuvwxyz");  // no banner in lower case
    listenTo(pty, "stall");
    const double chatty = longestStall(10.0);
    const double stopSeconds = stopListening("stall");
    std::string logged;
    GetCtrlVal(loader.panel, TEXTBOX, &logged);
    if (logged.size() < 4999)
        std::fprintf(stderr, "stall: only %zu bytes reached the log\n", logged.size());
    row("stall_chatty_port_ms", chatty * 1000.0, "ms", "bare event loop ms", bare * 1000.0,
        bare > 0 ? chatty / bare : 0.0);
    row("stop_chatty_port_ms", stopSeconds * 1000.0, "ms", "", 0.0, 0.0);
}

// A camera that stops reading mid-image: it announces itself, takes START,
// the header and `taken` image bytes, then reads nothing more; `reply`, when
// given, comes `replyAfter` seconds into the stall. A thread of this process
// plays it on the pty's master.
class StallingCamera {
public:
    StallingCamera(int master, long taken, const char *reply, double replyAfter)
        : thread_([=] { run(master, taken, reply, replyAfter); })
    {
    }
    ~StallingCamera()
    {
        stop_ = true;
        thread_.join();
    }
    double stalledAt() const { return stalledAt_; }

private:
    // Reads what is there within `ms`; false once told to stop.
    bool take(int master, std::string *into, int ms)
    {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, ms) > 0) {
            char buffer[4096];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0)
                into->append(buffer, static_cast<size_t>(n));
        }
        return !stop_;
    }
    void say(int master, const char *text)
    {
        if (::write(master, text, std::strlen(text)) < 0)
            std::perror("camera write");
    }
    void run(int master, long taken, const char *reply, double replyAfter)
    {
        std::string heard;
        double banner = 0;
        while (heard.find("START") == std::string::npos) {
            if (now() - banner > 0.1) {
                say(master, "\r\nBootloader v2.10 - RZ4417\r\n");
                banner = now();
            }
            if (!take(master, &heard, 10))
                return;
        }
        say(master, "START OK\r\n");
        heard.clear();
        while (static_cast<long>(heard.size()) < 16 + taken) {
            if (!take(master, &heard, 10))
                return;
        }
        stalledAt_ = now();
        while (!stop_ && now() - stalledAt_ < replyAfter)
            ::usleep(1000);
        if (reply && !stop_)
            say(master, reply);
        while (!stop_)
            ::usleep(1000);
    }

    std::atomic<bool> stop_{false};
    std::atomic<double> stalledAt_{0.0};
    std::thread thread_;
};

// The camera stops reading 32 KiB into a 1 MiB image (the line fills and the
// worker's write waits) and says ERROR 0.3 s later: the event loop's longest
// stall over the 1.5 s from the stall on. Then, with a camera that stays
// silent, Stop clicked 0.3 s into the stall: its time from click to port closed.
void benchStalledWrite()
{
    const std::string package = loader.packagePath;
    loader.packagePath = package + ".large";
    if (std::FILE *f = std::fopen(loader.packagePath.c_str(), "wb")) {
        std::fputs("1.5 1048576 2.05 16\n", f);
        for (int i = 0; i < 1048576 + 16; ++i)
            std::fputc(i & 0x7F, f);
        std::fclose(f);
    }
    LectureEntete();

    double stall = 0.0, stopSeconds = 0.0;
    for (int figure = 0; figure < 2; ++figure) {
        freshLoader();
        Pty pty;
        pty.closeSlave();
        StallingCamera camera(pty.master, 32768, figure == 0 ? "ERROR\r\n" : nullptr, 0.3);
        listenTo(pty, "stalledwrite");
        runEventsFor(10.0, [&] { return camera.stalledAt() > 0.0; });
        if (camera.stalledAt() == 0.0) {
            std::string logged;
            GetCtrlVal(loader.panel, TEXTBOX, &logged);
            std::fprintf(stderr, "stalledwrite: the update did not start; the log:\n%s\n", logged.c_str());
            std::exit(1);
        }
        if (figure == 0) {
            stall = longestStall(1.5);
            Transfert(loader.panel, STOP, EVENT_COMMIT, nullptr, 0, 0);
        } else {
            runEventsFor(0.3);
            const double click = now();
            Transfert(loader.panel, STOP, EVENT_COMMIT, nullptr, 0, 0);
            stopSeconds = now() - click;
            if (GetInQLen(1) >= 0)
                std::fprintf(stderr, "stalledwrite: COM1 still open after Stop\n");
        }
    }
    std::remove(loader.packagePath.c_str());
    loader.packagePath = package;
    LectureEntete();
    row("stall_camera_stops_reading_ms", stall * 1000.0, "ms", "", 0.0, 0.0);
    row("stop_during_stalled_write_ms", stopSeconds * 1000.0, "ms", "", 0.0, 0.0);
}

// Hex digits without line ends for a long while (15 minutes unless
// QUORVEL_BENCH_STREAM_SECONDS says otherwise), every chunk appended to the
// window's log: memory and CPU over the last minute beside the first, and
// Stop's time at the end. A bounded log keeps both flat.
void benchLogStream()
{
    freshLoader();
    const char *setting = std::getenv("QUORVEL_BENCH_STREAM_SECONDS");
    const double seconds = std::max(120.0, setting ? std::atof(setting) : 900.0);
    Pty pty;
    pty.closeSlave();
    ChattyDevice device(pty.master, "0123456789ABCDEF");
    listenTo(pty, "logstream");

    auto minute = [](double *megabytes, double *cpuPercent) {
        const double cpu = cpuNow(), wall = now();
        runEventsFor(60.0);
        *cpuPercent = 100.0 * (cpuNow() - cpu) / (now() - wall);
        *megabytes = residentMegabytes();
    };
    double firstMb = 0, firstCpu = 0, lastMb = 0, lastCpu = 0;
    minute(&firstMb, &firstCpu);
    runEventsFor(seconds - 120.0);
    minute(&lastMb, &lastCpu);
    const double stopSeconds = stopListening("logstream");
    char name[64];
    std::snprintf(name, sizeof name, "log_stream_%.0fmin_rss_mb", seconds / 60.0);
    row(name, lastMb, "MB", "after the first minute MB", firstMb, firstMb > 0 ? lastMb / firstMb : 0.0);
    std::snprintf(name, sizeof name, "log_stream_%.0fmin_cpu_percent", seconds / 60.0);
    row(name, lastCpu, "% CPU", "first minute % CPU", firstCpu, firstCpu > 0 ? lastCpu / firstCpu : 0.0);
    std::snprintf(name, sizeof name, "log_stream_%.0fmin_stop_ms", seconds / 60.0);
    row(name, stopSeconds * 1000.0, "ms", "", 0.0, 0.0);
}

// ---------------------------------------------------------------------------

// The real loader against the simulated camera at 115200 baud: from the
// camera's START OK being acted on to its FILE OK (every image byte heard).
void benchLineRate(const char *simcam)
{
    const int imageSize = 65536;
    int out[2];
    if (::pipe(out) != 0)
        std::exit(1);
    const pid_t camera = ::fork();
    if (camera == 0) {
        ::dup2(out[1], 1);
        ::execl(simcam, simcam, "--rate", "11520", "--quiet", "--file-ok", "0", "--erase", "0.05",
                "--program", "0.05", "--banner-period", "0.05", nullptr);
        ::_exit(127);
    }
    ::close(out[1]);
    char line[256] = {};
    size_t got = 0;
    while (got < sizeof line - 1) {
        const ssize_t n = ::read(out[0], line + got, 1);
        if (n <= 0 || line[got] == '\n')
            break;
        ++got;
    }
    line[got] = '\0';
    mapComPorts(std::string("1=") + line);

    freshLoader();
    EtatMarche(loader.panel);
    OuvertureCom();
    double acknowledged = 0;
    runEventsFor(30.0, [&] {
        if (acknowledged == 0 && loader.startAcknowledged)
            acknowledged = now();
        return loader.reportedStep >= kStepFileReceived;
    });
    const double seconds = now() - acknowledged;
    const bool whole = loader.reportedStep >= kStepFileReceived && loader.bytesSent == imageSize;
    Transfert(loader.panel, STOP, EVENT_COMMIT, nullptr, 0, 0);
    ::kill(camera, SIGTERM);
    ::waitpid(camera, nullptr, 0);
    if (!whole) {
        std::fprintf(stderr, "line rate: the update did not get through\n");
        return;
    }
    const double rate = imageSize / seconds;
    row("line_rate_efficiency", rate, "B/s", "line B/s", 11520, rate / 11520);
}

// ---------------------------------------------------------------------------

void benchIdleCpu()
{
    freshLoader();
    runEventsFor(0.3);
    double cpu = cpuNow(), wall = now();
    runEventsFor(3.0);
    const double bare = 100.0 * (cpuNow() - cpu) / (now() - wall);

    std::vector<Pty> ptys(5);
    std::string pairs;
    for (size_t i = 0; i < ptys.size(); ++i) {
        pairs += (i ? "," : "") + std::to_string(i + 1) + "=" + ptys[i].path;
        ptys[i].closeSlave();  // the loader holds the only slave
    }
    mapComPorts(pairs);
    EtatMarche(loader.panel);
    OuvertureCom();
    runEventsFor(0.3);
    cpu = cpuNow();
    wall = now();
    runEventsFor(3.0);
    const double scanning = 100.0 * (cpuNow() - cpu) / (now() - wall);
    Transfert(loader.panel, STOP, EVENT_COMMIT, nullptr, 0, 0);
    row("idle_cpu_scanning_percent", scanning, "% CPU", "bare event loop % CPU", bare,
        bare > 0 ? scanning / bare : 0.0);
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> figures;
    const char *simcam = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--simcam") == 0 && i + 1 < argc)
            simcam = argv[++i];
        else
            figures.emplace_back(argv[i]);
    }
    if (figures.empty())
        figures = {"checksum", "streaming", "stall", "stalledwrite", "idlecpu"};

    // A package of two 64 KiB images in a folder of our own.
    char folder[] = "/tmp/quorvel-bench-XXXXXX";
    if (!::mkdtemp(folder))
        return 1;
    loader.packagePath = std::string(folder) + "/vers.kq";
    if (std::FILE *f = std::fopen(loader.packagePath.c_str(), "wb")) {
        std::fputs("1.5 65536 2.05 65536\n", f);
        std::mt19937 gen(3);
        for (int i = 0; i < 2 * 65536; ++i)
            std::fputc(static_cast<int>(gen() & 0xFF), f);
        std::fclose(f);
    }
    LectureEntete();

    UseQtPanel();
    InitRunTime(argc, argv);
    RegisterCtrlCallback("Transfert", Transfert);
    RegisterPanelCallback("Sortir", Sortir);
    loader.panel = LoadPanel(0, "Quorvel.uir", PANEL);
    if (loader.panel <= 0) {
        std::fprintf(stderr, "the panel did not load\n");
        return 1;
    }
    for (const std::string &f : figures) {
        if (f == "checksum")
            benchChecksum();
        else if (f == "streaming")
            benchStreaming();
        else if (f == "stall")
            benchStall();
        else if (f == "stalledwrite")
            benchStalledWrite();
        else if (f == "idlecpu")
            benchIdleCpu();
        else if (f == "logstream")
            benchLogStream();
        else if (f == "linerate" && simcam)
            benchLineRate(simcam);
        else {
            std::fprintf(stderr, "unknown figure %s (or linerate without --simcam)\n", f.c_str());
            return 2;
        }
    }
    std::remove(loader.packagePath.c_str());
    ::rmdir(folder);
    return 0;
}
