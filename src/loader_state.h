// The one record of the loader's state, shared by every callback and the
// streaming worker. Fields the worker reads or writes are atomics; the rest
// belong to the UI thread alone.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

constexpr int kComPortCount = 50;    // portStatus is indexed by COM number 1..49
constexpr int kFirstComPort = 1;
constexpr int kLastComPort = 49;     // COM50 and above are never tried
constexpr int kProductNameSize = 10;

// Step codes of reportedStep / displayedStep.
constexpr int kStepNone = 0;         // nothing reported yet
constexpr int kStepFileReceived = 1; // "FILE OK": the camera erases its flash
constexpr int kStepErased = 2;       // "ERASE OK": the camera programs its flash
constexpr int kStepWritten = 3;      // "WRITE OK": update done

// What the start-up check made of the package's signature.
enum class PackageVerdict : int32_t {
    NotChecked,    // this program trusts no key: the package is used as it is
    Verified,      // a release signed by a trusted key, every byte as signed
    Unsigned,      // refused: no signature trailer
    UntrustedKey,  // refused: signed by a key this program does not trust
    Altered,       // refused: bytes, sizes or layout differ from what was signed
    Demo,          // refused: a demo package, which no build that trusts a key takes
    Unreadable,    // refused: no readable header, or the file could not be read
};

struct LoaderState {
    // --- serial link ---
    std::atomic<int32_t> connectedPort{0};   // COM of the accepted banner, 0 = none; UI writes before the worker starts, worker reads
    std::atomic<int32_t> transferActive{0};  // an update runs; EnvoiStart sets, worker/"ERROR"/Start/Stop clear
    int bootloaderFound = 0;                 // a banner was accepted; later banners are only logged (UI)
    int portStatus[kComPortCount] = {};      // result of the last open per COM: 0 open, negative not open (UI)
    int startAcknowledged = 0;               // the camera's "START OK" to this update's START was acted on (UI)
    int headerSent = 0;                      // the size-and-checksum header went out whole for this update (UI)

    // --- camera and package ---
    char productName[kProductNameSize] = ""; // identifier found in the banner, "UNKNOWN" from start-up (UI)
    int productIndex = 0;                    // -1 unknown, 0 or 1: which image of the package (UI)
    int32_t imageChecksum = 0;               // checksum of the loaded image, a bit pattern (UI)
    std::atomic<int32_t> imageSize{0};       // bytes of the selected image, used as unsigned (UI writes, worker reads)
    std::atomic<uint8_t *> imageBuffer{nullptr}; // the loaded image (UI allocates, worker reads)
    int32_t packageSizes[2] = {0, 0};        // image sizes from the package header, read once at start-up
    double packageVersions[2] = {0.0, 0.0};  // image versions from the package header
    int packageHeaderRead = 0;               // 1 when the header gave all four numbers at start-up (UI)
    PackageVerdict packageVerdict = PackageVerdict::NotChecked; // start-up's signature check (UI)
    int packageDemo = 0;                     // 1 when the package's manifest says kind demo (UI)
    char packageSigner[17] = "";             // key id in the package's manifest, "" when none was read (UI)
    // SHA-256 of each image as signed, when packageVerdict is Verified: a
    // loaded image must match it before a byte of it goes out (UI).
    uint8_t imageDigests[2][32] = {};
    std::string projectDir;                  // directory of the executable, as deep as it is installed (UI)
    std::string packagePath;                 // full path of vers.kq, "" when the executable's place is unknown (UI)

    // --- update progress ---
    int reportedStep = 0;                    // last step the camera reported (UI)
    int displayedStep = 0;                   // last step the tick showed (UI)
    int ticksPerSecond = 0;                  // timer ticks per second, from the TIMER interval (UI)
    int tickCount = 0;                       // ticks since the update started (UI)
    int elapsedSeconds = 0;                  // whole seconds since the update started (UI)
    std::atomic<int32_t> bytesSent{0};       // image bytes written so far; worker writes, tick reads
    int32_t lastBytesSent = 0;               // bytesSent at the previous one-second mark (UI)
    std::atomic<int32_t> lastPercent{0};     // last percentage shown on SLIDE; worker writes, EnvoiStart resets

    // --- panel and worker ---
    int language = 0;                        // 0 English, 1 French (UI; stable while a worker runs: LANGU is dimmed)
    int panel = 0;                           // handle of the main panel
    int threadPool = 0;                      // pool of the current or last worker, 0 = none (UI)
    // True from the scheduling of a worker until its function returns. Kept so
    // that no new image load or second worker can pull a buffer from under a
    // worker that is still sending.
    std::atomic<bool> workerRunning{false};
};

extern LoaderState loader;

// What ResetLoaderState puts back.
enum class LoaderReset {
    // Before a port scan: no worker (its pool discarded), no camera
    // connected or found, no port tried, no step reported, no product.
    Scan,
    // As in a fresh process: the above, and the language, the package
    // header read at start-up, the loaded image and the progress counts.
    // The panel and the package's place stay.
    Process,
};
// UI thread; returns once a worker still running has returned.
void ResetLoaderState(LoaderReset what);
