// The simulated camera: a thermal camera's bootloader at the far end of a
// pseudo-terminal, for the tests, the demo and service technicians.
//
// The camera owns the master side of the pty; the loader opens the slave
// device (devicePath()) as it would open a USB serial port. The camera
// repeats its banner until it hears "START", answers "START OK", reads the
// 16-character size-and-checksum header and the image, and replies
// "FILE OK", "ERASE OK", "WRITE OK" or "ERROR" with the pauses a real
// camera takes to erase and program its flash. Faults are injected through
// SimCameraOptions.
//
// Threads: start() spawns one camera thread that runs the dialogue. start()
// and stop() belong to the owner's thread; the report and wait helpers may
// be used from any thread (never from onEvent, which runs on the camera
// thread). The report is kept under a mutex and every change wakes waitFor().
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct SimCameraOptions {
    // --- what the camera announces ---
    std::string product = "RZ4417";  // identifier in the default banner; any text (e.g. "XYZ999" for an unknown product)
    std::string banner;              // whole banner text; "" = "\r\nBootloader v2.10 - <product>\r\n"
    bool lowerCaseBanner = false;    // send the banner in lower-case letters
    double bannerPeriod = 0.3;       // seconds between banner repetitions until "START" is heard
    bool noise = false;              // printable garbage lines (no protocol word in them) before each banner

    // --- the line ---
    long lineRate = 0;               // bytes per second in each direction, 0 = as fast as the pty goes; 11520 is a 115200-baud line
    std::string symlinkPath;         // when set, a symbolic link to the device, made by start() and removed by stop()

    // --- the camera's pace ---
    double fileOkSeconds = 0.1;      // from the last image byte to "FILE OK" (checking the image)
    double eraseSeconds = 1.0;       // from "FILE OK" to "ERASE OK"
    double programSeconds = 1.5;     // from "ERASE OK" to "WRITE OK"
    double silenceTimeout = 0;       // seconds without a byte while the header or image is due before
                                     // the camera answers "ERROR" (verdict "ERROR timeout"); 0 = wait for ever
    uint32_t flashSize = 32u << 20;  // the largest image the camera accepts; a larger header gets "ERROR" ("ERROR size")

    // --- faults ---
    bool nulInReply = false;         // a NUL byte inside each reply word ("START\0 OK", "FILE\0 OK", "ERR\0OR")
    bool secondStartOk = false;      // "START OK" sent twice, the second one 0.1 s after the first
    long errorAfterBytes = -1;       // answer "ERROR" once this many image bytes arrived ("ERROR injected"); -1 = never
    long hangUpAfterBytes = -1;      // close the line once this many image bytes arrived, like a pulled cable; -1 = never
    bool hangUpAtStart = false;      // close the line as soon as "START" is heard, before any answer
    double rebootDelay = 0.05;       // seconds between "WRITE OK" and the line closing when rebootAfterWrite
    bool rebootAfterWrite = false;   // close the line 50 ms after "WRITE OK", as a camera restarting into its new firmware (verdict "OK, rebooted")

    // --- after an update ---
    bool repeat = false;             // after each verdict the camera reboots into its bootloader and announces itself again
    bool repeatWhenClosed = false;   // with repeat: only once no other descriptor holds the device (the loader has
                                     // closed it, its update ended), so no banner lands in a finished update's log

    // Called on the camera thread with one human-readable line per event
    // (START heard, header, image received, each reply). May be empty.
    std::function<void(const std::string &)> onEvent;
};

// What the camera saw and did during the current update (the latest one
// when `repeat` is set; per-update fields are reset when the camera reboots).
struct SimCameraReport {
    bool heardStart = false;                  // "START" arrived
    bool headerReceived = false;              // 16 header characters arrived (well-formed or not)
    std::string headerText;                   // those 16 characters as received
    uint32_t announcedSize = 0;               // size from the header
    uint32_t announcedChecksum = 0;           // checksum from the header
    uint64_t bytesReceived = 0;               // image bytes taken so far
    uint32_t computedChecksum = 0xFFFFFFFFu;  // checksum of the image bytes taken so far
    std::string verdict;                      // "" while running; "OK", "ERROR checksum", "ERROR header",
                                              // "ERROR size", "ERROR injected", "ERROR timeout", "hung up"
    std::vector<uint8_t> image;               // the image bytes taken
    std::string received_before_header;       // every byte received before the header (up to the end of "START"),
                                              // kept up to 64 KiB
    bool extraBytesAfterImage = false;        // bytes kept arriving after the image was complete or refused
    uint64_t extraBytes = 0;                  // how many
    unsigned bannersSent = 0;                 // banners sent in this update's announcing phase
    bool finished = false;                    // the verdict is final and its replies have gone out

    // Kept across updates (with `repeat`, the camera's whole run).
    std::vector<std::string> sent;            // replies sent, in order, without line end or NUL ("START OK", "FILE OK", ...)
    unsigned updatesFinished = 0;             // updates that reached a verdict
    std::vector<std::string> verdicts;        // their verdicts, in order
};

class SimCamera {
public:
    explicit SimCamera(SimCameraOptions options = {});
    ~SimCamera();  // stops the camera
    SimCamera(const SimCamera &) = delete;
    SimCamera &operator=(const SimCamera &) = delete;

    // Creates the pty (and the symlink) and starts the camera thread.
    // Returns false with a reason in *error when the pty or the link
    // cannot be made. Something already at the link's path is replaced only
    // when it is a link to a pseudo-terminal that no longer exists.
    bool start(std::string *error = nullptr);
    // Stops the thread, removes the symlink if it is still ours, closes the line. Idempotent;
    // returns within a few milliseconds even during a long pause.
    void stop();

    std::string devicePath() const;  // the slave device, e.g. "/dev/pts/7"; "" before start()

    // A copy of the report; without the image bytes when withImage is false.
    SimCameraReport report(bool withImage = true) const;

    // Waits until `condition` holds for the report, at most `timeout`.
    // The condition runs under the report's lock: it must not call back
    // into the camera. It sees the report without the image bytes.
    // Returns whether it held.
    bool waitFor(const std::function<bool(const SimCameraReport &)> &condition,
                 std::chrono::milliseconds timeout) const;
    bool waitForFinished(std::chrono::milliseconds timeout) const;
    // Waits until `reply` (e.g. "WRITE OK") is among the replies sent.
    bool waitForSent(const std::string &reply, std::chrono::milliseconds timeout) const;

    // The camera's image checksum: the complement of the wrapping 32-bit sum
    // of the bytes taken as unsigned. `seed` continues an earlier sum's result.
    static uint32_t checksum(const uint8_t *data, size_t length, uint32_t seed = 0xFFFFFFFFu);

private:
    class Line;  // the master side of the pty with its pacing

    void run();
    bool announce();                 // banner phase; true once "START" was heard
    void runUpdate();                // from "START OK" to the verdict
    bool takeImage();                // true with the whole image in; false after an early verdict, stop or hang-up
    void finish(const std::string &verdict);
    bool reply(const std::string &word);
    bool pause(double seconds);      // keeps the line drained; false on stop or hang-up
    void drainIdle();                // after the last update: record stray bytes until stop
    void recordExtra(size_t n);
    void hangUp();
    bool makeLink(const std::string &device, std::string *error) const;
    static std::string linkTarget(const std::string &path);
    void event(const std::string &text);
    void resetUpdate();
    template <typename F> void update(F &&change);

    SimCameraOptions options_;
    std::string devicePath_;
    std::unique_ptr<Line> line_;
    std::thread thread_;
    bool started_ = false;           // start() succeeded and stop() has not run (caller's thread)

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    SimCameraReport report_;         // guarded by mutex_; written by the camera thread; its image stays empty
    std::vector<uint8_t> image_;     // the image bytes taken, guarded by mutex_ (kept apart so waiters do not copy them)
    std::string carry_;              // bytes read but not consumed yet (camera thread only)
};
