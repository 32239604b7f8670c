// The command line of quorvel-flash.
#pragma once

#include <string>
#include <vector>

// Exit codes, as --help and the manual page give them.
enum FlashExit {
    kExitWritten = 0,       // the camera said "WRITE OK" (a hang-up after it included)
    kExitFailed = 1,        // the camera answered "ERROR", or the update otherwise failed
    kExitRefused = 2,       // usage error or package refused: nothing sent after "START"
    kExitNoCamera = 3,      // no camera answered within --wait
    kExitDisconnected = 4,  // the camera went away before "WRITE OK"
    kExitInterrupted = 130, // SIGINT or SIGTERM
};

struct FlashOptions {
    std::string package;             // "" for the default beside the installed program
    std::vector<std::string> ports;  // devices to listen on; none: the window's scan
    double waitSeconds = -1.0;       // < 0: wait until interrupted
    bool french = false;
    bool json = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

extern const char kFlashUsage[];

// Reads argv into `options`. Returns "" or what is wrong with the line.
std::string parseFlashOptions(int argc, const char *const *argv, FlashOptions *options);

// What QUORVEL_COM_PORTS must hold for the loader to listen on `devices`
// only: "1=/dev/ttyACM0,2=/dev/ttyACM1".
std::string comPortList(const std::vector<std::string> &devices);
