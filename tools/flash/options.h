// The command line of quorvel-flash.
#pragma once

#include <string>
#include <vector>

// Exit codes, as --help, the manual page and the README give them. A line
// script branches on them: each says what to do with the camera next.
enum FlashExit {
    kExitWritten = 0,        // the camera said "WRITE OK" (a hang-up after it included)
    kExitFailed = 1,         // the camera answered "ERROR", or the update otherwise failed
    kExitRefused = 2,        // usage error or package refused: nothing sent after "START"
    kExitNoCamera = 3,       // no camera answered within --wait
    kExitDisconnected = 4,   // the camera went away before "WRITE OK"
    kExitUnknownProduct = 5, // a camera answered whose product the package has no image for
    kExitPortUnusable = 6,   // the named port is busy, not permitted, not present or no serial port
    kExitTimeout = 7,        // the camera answered but the update outlasted --timeout
    kExitFlashing = 8,       // interrupted once the whole image was sent: the camera writes its flash
    kExitInterrupted = 130,  // SIGINT where the process cannot end by the signal (Windows)
};

struct FlashOptions {
    std::string package;             // "" for the default beside the installed program
    std::vector<std::string> ports;  // devices to listen on; none: the window's scan
    double waitSeconds = -1.0;       // < 0: wait until interrupted
    double timeoutSeconds = -1.0;    // < 0: no limit once the camera has answered
    std::string logFile;             // "" none; else the JSON record appended there too
    int count = 0;                   // --station: stop after this many cameras, 0 never
    bool french = false;
    bool json = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    bool list = false;
    bool dryRun = false;
    bool allowDemo = false;
    bool station = false;
    // Set by a station (or several --port) for the process it runs per
    // camera: the COM label its lines carry; for a station, the file it
    // creates once a camera answered, and ports that cannot be used yet are
    // waited for.
    std::string label;
    bool labelGiven = false;
    std::string stationFile;
    bool stationChild = false;
};

extern const char kFlashUsage[];

// Reads argv into `options`. Returns "" or what is wrong with the line.
std::string parseFlashOptions(int argc, const char *const *argv, FlashOptions *options);

// What QUORVEL_COM_PORTS must hold for the loader to listen on `devices`
// only: "1=/dev/ttyACM0,2=/dev/ttyACM1".
std::string comPortList(const std::vector<std::string> &devices);

// The arguments a station gives the process of one camera on `device`:
// the options that shape an update, never those that shape the station.
// `stationFile` is "" for several --port, else the file the process creates
// once its camera answered.
std::vector<std::string> childArguments(const FlashOptions &options, const std::string &device,
                                        const std::string &label, const std::string &stationFile);
