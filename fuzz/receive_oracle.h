// The receive fuzzer's oracle: what the program must do, worked out here
// from what the camera sent and when, what the cable took and what the
// operator did, with no code, constant or header of the program. The
// driver (fuzz_receive.cpp) runs the program and tells the oracle every
// event as it happens, then what it observes; the oracle aborts on the
// first difference.
//
// The oracle keeps its own model of the dialogue:
//   - chunks: a port's bytes are taken one a millisecond on a schedule from
//     the chunk's start (its first byte's arrival, or the end of the chunk
//     before); a chunk ends at the first millisecond that finds nothing
//     more received; NUL bytes are dropped but take their millisecond; a
//     chunk keeps 4999 bytes at most, the rest starting the next one;
//   - chunks of fewer than 6 kept bytes are ignored; the others are logged;
//   - before a connection, a chunk holding "Bootloader v" is a banner:
//     KWT6083 is looked for before RZ4417, and a banner naming neither is
//     an unknown product; after it, every chunk is a reply;
//   - a reply's deciding word is the first found of "START OK", "FILE OK",
//     "ERASE OK", "WRITE OK", "ERROR" (in that order, letter case aside);
//   - the progress steps: FILE OK 1, ERASE OK 2, WRITE OK 3; the tick shows
//     at each one-second mark from the connection only the latest step,
//     and showing step 3 is success;
//   - a hang-up of the connected camera is acted on once the bytes it sent
//     before it are gathered and judged: success after WRITE OK, else
//     "disconnected";
//   - the outcome of an update, ranked as the program ranks it (the
//     camera's word over a guess, the operator's Stop over nothing).
// Where two things fall due at one moment (two ports' chunks, a chunk and
// the tick) either order is a real one: the model follows both and keeps
// those the program's observed state agrees with.
//
// Besides the model, the wire is checked write by write (nothing but START
// before a banner, one START per Ok, the header only after START OK, then
// exactly the image in order, at most one block after ERROR or Stop, never
// two writers), the ports' state (no port open after the end of an
// update or Stop until the next Ok), and what a screen reader is told (of
// success only once it is logged, of no failure after it).
#pragma once

#include <cstddef>
#include <string>

namespace oracle {

constexpr int kPorts = 3;  // COM1..COM3

// How an update ended, as the program reports it.
enum class Outcome {
    None,
    Success,
    CameraError,
    Disconnected,
    Stopped,
    PackageRefused,
    UnknownProduct,
    SendFailed,
};

// The packages the fuzzer offers as vers.kq, built here once.
void BuildPackages();
std::size_t PackageCount();
const std::string &PackagePath(std::size_t index);
// Chooses the package of the input that starts.
void UsePackage(std::size_t index);

// The driver's events, each at `now` (the event loop's clock, seconds),
// told once the program has run everything due up to `now`.
void StartInput();                                 // a fresh device behind every port
void Ok(double now);                               // the operator's Ok at Start's instructions
void Received(int port, const std::string &bytes, double now);  // reached an open port's queue
void HangUp(int port, double now);                 // the cable of an open port is pulled
void Plugged(int port);                            // a fresh device: takes every byte again
void CableBudget(int port, long long bytes);       // the cable takes that many more bytes
void CableLimit(int port, int bytesPerWrite);      // every write cut to that many bytes
void Stop(double now);                             // the operator's Stop acted on (or the close)
void Stopping();                                   // Stop or the close is about to act
void ErrorSaidAlone();                             // a lone ERROR was gathered as one chunk
bool HeardSinceOk(const char *word);               // some camera said `word` since the Ok
void OnWrite(int port, const std::string &bytes, int writer);  // the cable took these
void OnLogAppended(const std::string &text);
void OnLogReplaced();
void OnAnnounced(const std::string &text);  // what a screen reader is told

// What the driver observes of the program after an event.
struct Observed {
    Outcome outcome;
    int reportedStep;
    int displayedStep;
    int workers;           // worker functions running
    bool cameraConnected;  // for the worker check only
    bool portOpen[kPorts + 1];
};
// Compares the program with the model after the event at `now`.
void Check(double now, const Observed &observed);
// The end of an input, after the worker and every chunk came to rest and
// before Stop: an image nothing ended is whole.
void CheckRest();

extern const bool tracing;  // QUORVEL_FUZZ_TRACE set: events and the wire on stderr

} // namespace oracle
