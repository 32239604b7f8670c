// The simulated camera's bootloader: the pty line and the dialogue.
//
// Sections:
//   1. The line: the pty master, its pacing and the stop signal
//   2. Start and stop
//   3. The dialogue: announcing, the header, the image, the verdict
//   4. The report
#include "simcam.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <random>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr Clock::time_point kNever = Clock::time_point::max();
constexpr size_t kKeptBeforeHeader = 64 * 1024;  // enough to show what a loader sent instead of "START"
constexpr double kSecondStartOkGap = 0.1;        // long enough for the loader to read the two as separate chunks

Clock::duration seconds(double s)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

// Milliseconds for poll() until `deadline`, rounded up so that the wait
// never ends just before it; at most one second, so a lost wake-up costs little.
int pollTimeout(Clock::time_point deadline)
{
    if (deadline == kNever)
        return 1000;
    auto now = Clock::now();
    if (deadline <= now)
        return 0;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
    return static_cast<int>(std::min<long long>(ms, 1000));
}

std::string hex8(uint32_t v)
{
    char text[16];
    snprintf(text, sizeof text, "%08X", static_cast<unsigned>(v));
    return text;
}

bool parseHex8(const std::string &text, uint32_t *value)
{
    uint32_t v = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        v = (v << 4) | static_cast<uint32_t>(digit);
    }
    *value = v;
    return true;
}

std::string decimal(double value)
{
    char text[32];
    snprintf(text, sizeof text, "%g", value);
    return text;
}

// For the event lines: line ends and other control bytes as escapes.
std::string printable(const std::string &bytes)
{
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else if (c < 0x20 || c >= 0x7F) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\x%02X", c);
            text += escape;
        } else
            text += static_cast<char>(c);
    }
    return text;
}

std::string lowerCase(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A line of the chatter some cameras print while booting: printable, and
// holding nothing the loader could take for a banner, a product or a reply.
std::string noiseLine(std::mt19937 &rng, const std::string &product)
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,:;-=+*#/()[]";
    const std::string forbidden[] = {"bootloader", "start", "ok", "error", "rz4417", "kwt6083"};
    const std::string ownProduct = lowerCase(product);
    for (;;) {
        std::string line(16 + rng() % 48, ' ');
        for (char &c : line)
            c = alphabet[rng() % (sizeof alphabet - 1)];
        std::string lower = lowerCase(line);
        bool clean = ownProduct.empty() || lower.find(ownProduct) == std::string::npos;
        for (const auto &word : forbidden)
            clean = clean && lower.find(word) == std::string::npos;
        if (clean)
            return line + "\r\n";
    }
}

} // namespace

// ---------------------------------------------------------------------------
// 1. The line
// ---------------------------------------------------------------------------

// The master side of the pty, used by the camera thread only, except
// requestStop() which any thread may call. The camera keeps the slave open
// itself, so a loader that opens and closes the device never hangs the line
// up; only hangUp() does, as a pulled cable would.
class SimCamera::Line {
public:
    explicit Line(long rate) : rate_(rate) {}
    ~Line() { close(); }

    bool open(std::string *path, std::string *error)
    {
        if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
            return fail(error, "pipe");
        if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0)
            return fail(error, "openpty");
        fcntl(master_, F_SETFD, FD_CLOEXEC);
        fcntl(slave_, F_SETFD, FD_CLOEXEC);
        if (fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0)
            return fail(error, "fcntl");
        // Raw, so that nothing the loader sends is echoed back to it or
        // altered on the way, until the loader sets its own line settings.
        termios settings{};
        if (tcgetattr(slave_, &settings) != 0)
            return fail(error, "tcgetattr");
        cfmakeraw(&settings);
        if (tcsetattr(slave_, TCSANOW, &settings) != 0)
            return fail(error, "tcsetattr");
        char name[256];
        if (ttyname_r(slave_, name, sizeof name) != 0)
            return fail(error, "ttyname_r");
        *path = name;
        return true;
    }

    void close()
    {
        hangUp();
        for (int &fd : wake_) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    }

    // Closes both sides: the loader's reads then fail and its poll reports
    // POLLHUP, and the device node disappears.
    void hangUp()
    {
        if (master_ >= 0)
            ::close(master_);
        if (slave_ >= 0)
            ::close(slave_);
        master_ = slave_ = -1;
    }

    bool isUp() const { return master_ >= 0; }

    // True while a descriptor other than the camera's own holds the device
    // `path` open, in any process /proc lets this user see.
    bool heldElsewhere(const std::string &path) const
    {
        const std::string self = std::to_string(getpid());
        DIR *proc = opendir("/proc");
        if (!proc)
            return false;
        bool held = false;
        while (dirent *p = readdir(proc)) {
            if (held || !std::isdigit(static_cast<unsigned char>(p->d_name[0])))
                continue;
            const std::string fdDir = std::string("/proc/") + p->d_name + "/fd";
            DIR *fds = opendir(fdDir.c_str());
            if (!fds)
                continue;
            while (dirent *f = readdir(fds)) {
                if (!std::isdigit(static_cast<unsigned char>(f->d_name[0])))
                    continue;
                if (p->d_name == self && std::atoi(f->d_name) == slave_)
                    continue;
                char target[256];
                const ssize_t n = readlink((fdDir + "/" + f->d_name).c_str(), target, sizeof target - 1);
                if (n > 0 && std::string(target, static_cast<size_t>(n)) == path) {
                    held = true;
                    break;
                }
            }
            closedir(fds);
        }
        closedir(proc);
        return held;
    }

    void requestStop()
    {
        stop_.store(true);
        if (wake_[1] >= 0) {
            char byte = 1;
            ssize_t ignored = ::write(wake_[1], &byte, 1);
            (void)ignored;  // the pipe is already full of wake-ups
        }
    }
    bool stopping() const { return stop_.load(); }

    // Reads what the loader sent, at most `max` bytes, waiting until
    // `deadline`. Returns the count (> 0), 0 when the deadline passed,
    // kStopped or kGone. At a line rate, bytes are taken no faster than the
    // rate, so the loader's writes back up as on a real line.
    static constexpr long kStopped = -1;
    static constexpr long kGone = -2;
    long read(uint8_t *buffer, size_t max, Clock::time_point deadline)
    {
        for (;;) {
            if (stopping())
                return kStopped;
            if (!isUp())
                return kGone;
            auto now = Clock::now();
            if (rate_ > 0 && rxFree_ > now) {
                if (!sleepUntil(std::min(rxFree_, deadline)))
                    return kStopped;
                if (Clock::now() >= deadline && rxFree_ > Clock::now())
                    return 0;
                continue;
            }
            pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            int ready = poll(fds, 2, pollTimeout(deadline));
            if (ready < 0 && errno != EINTR)
                return kGone;
            if (stopping())
                return kStopped;
            if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
                size_t slice = rate_ > 0 ? std::min(max, sliceFor(rate_)) : max;
                ssize_t n = ::read(master_, buffer, slice);
                if (n > 0) {
                    if (rate_ > 0)
                        rxFree_ = std::max(rxFree_, Clock::now()) + seconds(double(n) / rate_);
                    return static_cast<long>(n);
                }
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                    return kGone;
            }
            if (Clock::now() >= deadline)
                return 0;
        }
    }

    // Writes every byte of `bytes` at the line rate. False when the camera
    // was stopped or the line is gone before all went out.
    bool write(const std::string &bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            if (stopping() || !isUp())
                return false;
            if (rate_ > 0 && txFree_ > Clock::now()) {
                if (!sleepUntil(txFree_))
                    return false;
                continue;
            }
            size_t slice = bytes.size() - done;
            if (rate_ > 0)
                slice = std::min(slice, sliceFor(rate_));
            ssize_t n = ::write(master_, bytes.data() + done, slice);
            if (n > 0) {
                done += static_cast<size_t>(n);
                if (rate_ > 0)
                    txFree_ = std::max(txFree_, Clock::now()) + seconds(double(n) / rate_);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            // The loader is not reading and the pty is full: wait for room.
            pollfd fds[2] = {{master_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
            if (poll(fds, 2, 1000) < 0 && errno != EINTR)
                return false;
        }
        return true;
    }

    // Bytes the camera sent that no one has read from the device yet.
    int unreadByLoader() const
    {
        int count = 0;
        if (slave_ < 0 || ioctl(slave_, FIONREAD, &count) != 0)
            return 0;
        return count;
    }
    // Drops them, as a real line drops what it carries while no port listens.
    void dropUnread() const
    {
        if (slave_ >= 0)
            tcflush(slave_, TCIFLUSH);
    }

    // Waits until `until`; false when stopped meanwhile.
    bool sleepUntil(Clock::time_point until)
    {
        while (!stopping()) {
            if (Clock::now() >= until)
                return true;
            pollfd wake = {wake_[0], POLLIN, 0};
            poll(&wake, 1, pollTimeout(until));
        }
        return false;
    }

private:
    // About 10 ms of the line per read or write, so the pace stays even.
    static size_t sliceFor(long rate) { return static_cast<size_t>(std::max(1L, rate / 100)); }

    static bool fail(std::string *error, const char *what)
    {
        if (error)
            *error = std::string(what) + ": " + std::strerror(errno);
        return false;
    }

    long rate_;                       // bytes per second each way, 0 = unpaced
    int master_ = -1;                 // camera's side of the pty
    int slave_ = -1;                  // kept open so the loader's close never hangs the line up
    int wake_[2] = {-1, -1};          // self-pipe: requestStop() writes, every wait polls the read end
    std::atomic<bool> stop_{false};   // set by requestStop() on any thread; read by the camera thread
    Clock::time_point rxFree_{};      // when the line may deliver the next byte from the loader
    Clock::time_point txFree_{};      // when the line may carry the next byte to the loader
};

// ---------------------------------------------------------------------------
// 2. Start and stop
// ---------------------------------------------------------------------------

// Every change to the report goes through here, so waiters always wake.
template <typename F> void SimCamera::update(F &&change)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        change(report_);
    }
    changed_.notify_all();
}

SimCamera::SimCamera(SimCameraOptions options) : options_(std::move(options)) {}

SimCamera::~SimCamera() { stop(); }

bool SimCamera::start(std::string *error)
{
    if (started_ || line_) {
        if (error)
            *error = "the camera was already started";
        return false;
    }
    auto line = std::make_unique<Line>(options_.lineRate);
    std::string path;
    if (!line->open(&path, error))
        return false;
    if (!options_.symlinkPath.empty() && !makeLink(path, error))
        return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        devicePath_ = path;
    }
    line_ = std::move(line);
    started_ = true;
    thread_ = std::thread([this] { run(); });
    return true;
}

void SimCamera::stop()
{
    if (!started_)
        return;
    line_->requestStop();
    thread_.join();
    // The link goes while our pty still exists: once it is closed, another
    // camera may take the name and be given the same pty number, and its
    // link would look like ours.
    if (!options_.symlinkPath.empty() && linkTarget(options_.symlinkPath) == devicePath())
        unlink(options_.symlinkPath.c_str());
    line_->close();
    started_ = false;
}

// PATH made a link to our pty. A link already there is replaced only when it
// leads to a pseudo-terminal that no longer exists (a camera that was killed
// left it); anything else at PATH may be another camera's or the operator's.
bool SimCamera::makeLink(const std::string &device, std::string *error) const
{
    const std::string &link = options_.symlinkPath;
    auto refuse = [&](const std::string &why) {
        if (error)
            *error = link + " " + why + "; left alone";
        return false;
    };
    struct stat info;
    if (lstat(link.c_str(), &info) != 0) {
        if (errno != ENOENT)
            return refuse(std::string("cannot be checked: ") + std::strerror(errno));
        if (symlink(device.c_str(), link.c_str()) != 0)
            return refuse(std::string("cannot be made a link: ") + std::strerror(errno));
        return true;
    }
    if (!S_ISLNK(info.st_mode))
        return refuse("exists and is not a symbolic link");
    const std::string target = linkTarget(link);
    if (target.compare(0, 9, "/dev/pts/") != 0)
        return refuse("is a link to '" + target + "', not to a pseudo-terminal");
    struct stat pty;
    if (stat(target.c_str(), &pty) == 0 || errno != ENOENT)
        return refuse("is a link to " + target + ", which exists (another camera may use it)");
    // Put in place in one step, so no loader sees the name missing.
    const std::string fresh = link + ".new-" + std::to_string(getpid());
    unlink(fresh.c_str());
    if (symlink(device.c_str(), fresh.c_str()) != 0 || rename(fresh.c_str(), link.c_str()) != 0) {
        const int why = errno;
        unlink(fresh.c_str());
        return refuse(std::string("cannot be replaced: ") + std::strerror(why));
    }
    return true;
}

// The text of the link at `path`, "" when it is none.
std::string SimCamera::linkTarget(const std::string &path)
{
    char target[4096];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    return n > 0 && static_cast<size_t>(n) < sizeof target ? std::string(target, static_cast<size_t>(n))
                                                            : std::string();
}

std::string SimCamera::devicePath() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return devicePath_;
}

// ---------------------------------------------------------------------------
// 3. The dialogue (camera thread)
// ---------------------------------------------------------------------------

void SimCamera::run()
{
    for (;;) {
        if (!announce())
            return;
        runUpdate();
        if (line_->stopping() || !line_->isUp())
            return;
        if (!options_.repeat) {
            drainIdle();
            return;
        }
        // The camera reboots into its bootloader for the next update; asked
        // to, once the loader has let go of the line.
        if (options_.repeatWhenClosed) {
            event("camera waits for the loader to close the line");
            const std::string path = devicePath();
            while (line_->heldElsewhere(path)) {
                if (!pause(0.1))
                    return;
            }
        }
        event("camera restarts its bootloader");
        if (!pause(options_.bannerPeriod))
            return;
        resetUpdate();
    }
}

// Repeats the banner until "START" arrives: a camera powered on before the
// operator's Ok would otherwise go unheard. Every byte received up to the
// end of "START" is kept; what follows it in the same read is the header's.
bool SimCamera::announce()
{
    std::string banner = options_.banner.empty()
                             ? "\r\nBootloader v2.10 - " + options_.product + "\r\n"
                             : options_.banner;
    if (options_.lowerCaseBanner)
        banner = lowerCase(banner);
    std::mt19937 rng(std::random_device{}());
    std::string tail;  // the last bytes received, so "START" split across reads is still heard
    const double period = std::max(0.01, options_.bannerPeriod);  // a zero period would flood the line
    auto next = Clock::now();
    for (;;) {
        if (Clock::now() >= next) {
            // A banner nobody read for a whole period went to a closed port;
            // a real line would have lost it, so the loader must not find a
            // pile of old banners when it opens the device.
            if (line_->unreadByLoader() > 0)
                line_->dropUnread();
            std::string text = banner;
            if (options_.noise)
                text = noiseLine(rng, options_.product) + noiseLine(rng, options_.product) + text;
            if (!line_->write(text))
                return false;
            unsigned count = 0;
            update([&](SimCameraReport &r) { count = ++r.bannersSent; });
            if (count == 1)
                event("announcing \"" + printable(banner) + "\" every " + decimal(period) + " s");
            next += seconds(period);
            if (next < Clock::now())
                next = Clock::now() + seconds(period);
        }
        uint8_t buffer[256];
        long n = line_->read(buffer, sizeof buffer, next);
        if (n < 0)
            return false;
        if (n == 0)
            continue;
        std::string chunk(reinterpret_cast<char *>(buffer), static_cast<size_t>(n));
        std::string window = tail + chunk;
        size_t at = window.find("START");
        size_t kept = at == std::string::npos ? chunk.size() : at + 5 - tail.size();
        update([&](SimCameraReport &r) {
            size_t room = kKeptBeforeHeader - std::min(kKeptBeforeHeader, r.received_before_header.size());
            r.received_before_header.append(chunk, 0, std::min(kept, room));
            r.heardStart = at != std::string::npos;
        });
        if (at != std::string::npos) {
            carry_ = chunk.substr(kept);
            event("heard START");
            return true;
        }
        tail = window.substr(window.size() - std::min<size_t>(window.size(), 4));
    }
}

void SimCamera::runUpdate()
{
    if (options_.hangUpAtStart) {
        event("line hung up at START");
        hangUp();
        return;
    }
    if (!reply("START OK"))
        return;
    if (options_.secondStartOk) {
        if (!line_->sleepUntil(Clock::now() + seconds(kSecondStartOkGap)) || !reply("START OK"))
            return;
    }

    // The header: 16 characters, nothing before or after.
    std::string header;
    while (header.size() < 16) {
        if (!carry_.empty()) {
            size_t take = std::min(carry_.size(), 16 - header.size());
            header += carry_.substr(0, take);
            carry_.erase(0, take);
            continue;
        }
        uint8_t buffer[16];
        auto deadline = options_.silenceTimeout > 0 ? Clock::now() + seconds(options_.silenceTimeout) : kNever;
        long n = line_->read(buffer, 16 - header.size(), deadline);
        if (n < 0)
            return;
        if (n == 0) {
            event("no header within " + decimal(options_.silenceTimeout) + " s");
            update([&](SimCameraReport &r) { r.headerText = header; });
            if (reply("ERROR"))
                finish("ERROR timeout");
            return;
        }
        header.append(reinterpret_cast<char *>(buffer), static_cast<size_t>(n));
    }
    uint32_t size = 0, sum = 0;
    bool wellFormed = parseHex8(header.substr(0, 8), &size) && parseHex8(header.substr(8), &sum);
    update([&](SimCameraReport &r) {
        r.headerReceived = true;
        r.headerText = header;
        r.announcedSize = size;
        r.announcedChecksum = sum;
    });
    if (!wellFormed) {
        event("malformed header \"" + printable(header) + "\"");
        if (reply("ERROR"))
            finish("ERROR header");
        return;
    }
    event("header " + header + ": size " + std::to_string(size) + " bytes, checksum 0x" + hex8(sum));
    if (size > options_.flashSize) {
        event("image larger than the flash (" + std::to_string(options_.flashSize) + " bytes)");
        if (reply("ERROR"))
            finish("ERROR size");
        return;
    }
    update([&](SimCameraReport &) { image_.reserve(size); });

    if (!takeImage())
        return;

    uint32_t computed = 0;
    update([&](SimCameraReport &r) { computed = r.computedChecksum; });
    bool match = computed == sum;
    event("image received: " + std::to_string(size) + " bytes, checksum 0x" + hex8(computed) +
          (match ? " matches" : " differs from the header's 0x" + hex8(sum)));
    if (!pause(options_.fileOkSeconds))
        return;
    if (!match) {
        if (reply("ERROR"))
            finish("ERROR checksum");
        return;
    }
    if (!reply("FILE OK") || !pause(options_.eraseSeconds) || !reply("ERASE OK") ||
        !pause(options_.programSeconds) || !reply("WRITE OK"))
        return;
    if (options_.rebootAfterWrite) {
        // The USB device goes away as the camera restarts: the reply is on
        // its way, the line closes a moment later.
        if (options_.rebootDelay <= 0.0 || pause(options_.rebootDelay)) {
            line_->hangUp();
            finish("OK, rebooted");
        }
        return;
    }
    finish("OK");
}

// Takes the announced number of image bytes, honouring the injected faults.
// True once the whole image is in; false when a verdict was given early,
// the camera was stopped or the line is gone.
bool SimCamera::takeImage()
{
    uint64_t size = 0;
    update([&](SimCameraReport &r) { size = r.announcedSize; });
    uint64_t received = 0;
    const long errorAt = options_.errorAfterBytes;
    const long hangUpAt = options_.hangUpAfterBytes;
    for (;;) {
        if (hangUpAt >= 0 && received == static_cast<uint64_t>(hangUpAt)) {
            event("line hung up after " + std::to_string(received) + " image bytes");
            hangUp();
            return false;
        }
        if (errorAt >= 0 && received == static_cast<uint64_t>(errorAt)) {
            event("refusing the image after " + std::to_string(received) + " bytes");
            if (reply("ERROR"))
                finish("ERROR injected");
            return false;
        }
        if (received == size)
            break;
        // Never read past a point where the camera must act.
        uint64_t limit = size - received;
        if (errorAt >= 0 && received < static_cast<uint64_t>(errorAt))
            limit = std::min(limit, static_cast<uint64_t>(errorAt) - received);
        if (hangUpAt >= 0 && received < static_cast<uint64_t>(hangUpAt))
            limit = std::min(limit, static_cast<uint64_t>(hangUpAt) - received);

        uint8_t buffer[4096];
        size_t want = static_cast<size_t>(std::min<uint64_t>(limit, sizeof buffer));
        long n;
        if (!carry_.empty()) {
            n = static_cast<long>(std::min(want, carry_.size()));
            std::memcpy(buffer, carry_.data(), static_cast<size_t>(n));
            carry_.erase(0, static_cast<size_t>(n));
        } else {
            auto deadline = options_.silenceTimeout > 0 ? Clock::now() + seconds(options_.silenceTimeout) : kNever;
            n = line_->read(buffer, want, deadline);
        }
        if (n < 0)
            return false;
        if (n == 0) {
            event("image stalled after " + std::to_string(received) + " bytes");
            if (reply("ERROR"))
                finish("ERROR timeout");
            return false;
        }
        received += static_cast<uint64_t>(n);
        update([&](SimCameraReport &r) {
            image_.insert(image_.end(), buffer, buffer + n);
            r.bytesReceived = received;
            r.computedChecksum = checksum(buffer, static_cast<size_t>(n), r.computedChecksum);
        });
    }
    recordExtra(carry_.size());
    carry_.clear();
    return true;
}

void SimCamera::finish(const std::string &verdict)
{
    recordExtra(carry_.size());
    carry_.clear();
    update([&](SimCameraReport &r) {
        r.verdict = verdict;
        r.finished = true;
        ++r.updatesFinished;
        r.verdicts.push_back(verdict);
    });
    event("verdict: " + verdict);
}

// Sends one reply word with its line end; with nulInReply a NUL goes inside
// the word (before its blank, or in its middle), as some firmware does.
bool SimCamera::reply(const std::string &word)
{
    std::string text = word;
    if (options_.nulInReply) {
        size_t blank = text.find(' ');
        text.insert(blank != std::string::npos ? blank : (text.size() + 1) / 2, 1, '\0');
    }
    if (!line_->write(text + "\r\n"))
        return false;
    update([&](SimCameraReport &r) { r.sent.push_back(word); });
    event("sent " + word);
    return true;
}

// The camera is busy (checking, erasing, programming) but the line still
// delivers: whatever the loader sends meanwhile is counted, not lost in the pty.
bool SimCamera::pause(double secondsToWait)
{
    auto deadline = Clock::now() + seconds(std::max(0.0, secondsToWait));
    for (;;) {
        uint8_t buffer[4096];
        long n = line_->read(buffer, sizeof buffer, deadline);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        recordExtra(static_cast<size_t>(n));
    }
}

void SimCamera::drainIdle()
{
    uint8_t buffer[4096];
    for (;;) {
        long n = line_->read(buffer, sizeof buffer, kNever);
        if (n < 0)
            return;
        recordExtra(static_cast<size_t>(n));
    }
}

void SimCamera::recordExtra(size_t n)
{
    if (n == 0)
        return;
    bool first = false;
    update([&](SimCameraReport &r) {
        first = !r.extraBytesAfterImage;
        r.extraBytesAfterImage = true;
        r.extraBytes += n;
    });
    if (first)
        event("bytes keep arriving after the image");
}

void SimCamera::hangUp()
{
    line_->hangUp();
    finish("hung up");
}

void SimCamera::event(const std::string &text)
{
    if (options_.onEvent)
        options_.onEvent(text);
}

void SimCamera::resetUpdate()
{
    carry_.clear();
    update([this](SimCameraReport &r) {
        std::vector<uint8_t>().swap(image_);
        SimCameraReport next;
        next.updatesFinished = r.updatesFinished;
        next.verdicts = std::move(r.verdicts);
        next.sent = std::move(r.sent);
        r = std::move(next);
    });
}

// ---------------------------------------------------------------------------
// 4. The report
// ---------------------------------------------------------------------------

SimCameraReport SimCamera::report(bool withImage) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    SimCameraReport copy = report_;
    if (withImage)
        copy.image = image_;
    return copy;
}

bool SimCamera::waitFor(const std::function<bool(const SimCameraReport &)> &condition,
                        std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return condition(report_); });
}

bool SimCamera::waitForFinished(std::chrono::milliseconds timeout) const
{
    return waitFor([](const SimCameraReport &r) { return r.finished; }, timeout);
}

bool SimCamera::waitForSent(const std::string &reply, std::chrono::milliseconds timeout) const
{
    return waitFor([&](const SimCameraReport &r) {
        return std::find(r.sent.begin(), r.sent.end(), reply) != r.sent.end();
    }, timeout);
}

uint32_t SimCamera::checksum(const uint8_t *data, size_t length, uint32_t seed)
{
    uint32_t sum = ~seed;
    for (size_t i = 0; i < length; ++i)
        sum += data[i];
    return ~sum;
}
