// The receive fuzzer's oracle (see receive_oracle.h).
//
//   1. The packages
//   2. The wire, write by write
//   3. The model of the dialogue
//   4. Events and checks
#include "receive_oracle.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace oracle {

const bool tracing = std::getenv("QUORVEL_FUZZ_TRACE") != nullptr;

namespace {

// The camera's dialogue, as its bootloader speaks it.
using Micros = long long;                // the event loop's clock counts whole microseconds
constexpr Micros kByte = 1000;           // a byte of a chunk is taken every millisecond
constexpr std::size_t kChunkKept = 4999; // bytes a chunk keeps at most
constexpr std::size_t kShortest = 6;     // shorter chunks are line noise
constexpr Micros kMark = 1000000;        // the tick shows the steps once a second
constexpr std::size_t kBlock = 512;      // image bytes per write of the worker
constexpr const char *kProducts[2] = {"RZ4417", "KWT6083"};  // image 0, image 1
constexpr int kLookOrder[2] = {1, 0};    // KWT6083 is looked for first
constexpr const char *kBanner = "BOOTLOADER V";
// The replies, in the order their words decide a chunk.
constexpr const char *kWords[5] = {"START OK", "FILE OK", "ERASE OK", "WRITE OK", "ERROR"};
enum Word { StartOk, FileOk, EraseOk, WriteOk, Error, NoWord };

const std::string kSuccessLine = "Operation successful!\n";
const std::string kDisconnectedLine = "\nThe camera was disconnected: update stopped.\n";
const std::string kAbortedLine = "\nTransfer aborted!\n";
// What a screen reader is told when an update ends well; and the texts of
// the ends that are failures.
const std::string kToldSuccess = "Update finished: operation successful.";
const std::string kToldFailures[] = {
    "The camera answered ERROR: the update has failed. Press Stop.",
    "The camera was disconnected: update stopped.",
    "Update stopped.",
    "Update refused: the firmware package could not be used, nothing was sent.",
    "Update refused: this product is unknown.",
    "Update aborted: the image could not be sent to the camera.",
};

[[noreturn]] void fail(const char *what, int port)
{
    std::fprintf(stderr, "receive fuzz: %s (COM%d)\n", what, port);
    std::abort();
}

std::string upper(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\0')
            out += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    return out;
}

// The log shows text: a chunk that is not UTF-8 throughout (strictly: no
// overlong forms, no surrogates, nothing past U+10FFFF) is shown as Latin-1.
std::string asShown(const std::string &bytes)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        const unsigned c = static_cast<unsigned char>(bytes[i]);
        std::size_t length = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3
                                                                   : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (length == 0 || i + length > bytes.size())
            break;
        unsigned code = length == 1 ? c : c & (0xFFu >> (length + 1));
        std::size_t k = 1;
        for (; k < length; ++k) {
            const unsigned d = static_cast<unsigned char>(bytes[i + k]);
            if ((d & 0xC0) != 0x80)
                break;
            code = code << 6 | (d & 0x3F);
        }
        if (k < length || (length == 3 && code < 0x800) || (length == 4 && code < 0x10000)
            || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            break;
        i += length;
    }
    if (i == bytes.size())
        return bytes;
    std::string latin1;
    for (char ch : bytes) {
        const unsigned c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            latin1 += ch;
        } else {
            latin1 += static_cast<char>(0xC0 | c >> 6);
            latin1 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return latin1;
}

bool has(const std::string &upperText, const char *word)
{
    return upperText.find(word) != std::string::npos;
}

// ---------------------------------------------------------------------------
// 1. The packages: a header line of four numbers, then image 0 and image 1.
// The oracle knows what each holds because it wrote them.

std::string images[2];   // no byte is 'S', so a START stands out on the wire
std::string headers[2];  // the 16-byte header each image is announced with

struct Package {
    std::string path;
    bool whole[2];  // the image can be read whole for its camera
};
std::vector<Package> packages;
const Package *package = nullptr;

// The camera's header: size and checksum (the complement of the byte sum),
// each as 8 upper-case hexadecimal digits.
std::string cameraHeader(const std::string &image)
{
    uint32_t sum = 0;
    for (char c : image)
        sum += static_cast<unsigned char>(c);
    char header[17];
    std::snprintf(header, sizeof header, "%08X%08X", static_cast<unsigned>(image.size()),
                  static_cast<unsigned>(~sum));
    return header;
}

} // namespace

void BuildPackages()
{
    for (int k = 0; k < 2; ++k) {
        const int size = k == 0 ? 700 : 1024;  // a short last block; whole blocks
        for (int i = 0; i < size; ++i) {
            char c = static_cast<char>((i * 37 + k * 11) % 251);
            images[k] += c == 'S' ? 'T' : c;
        }
        headers[k] = cameraHeader(images[k]);
    }
    const std::string dir = "/tmp/quorvel-fuzz-receive-" + std::to_string(::getpid());
    ::mkdir(dir.c_str(), 0700);
    const std::string both = images[0] + images[1];
    struct Made {
        std::string name, header, body;
        bool whole0, whole1;
    };
    // The line ends within the first 4096 bytes of the file, or there is no header.
    const std::vector<Made> made = {
        {"good", "1.5 700 2.05 1024\n", both, true, true},
        {"long-numbers", "+0001.50000000000000000000000000000 " + std::string(70, '0') + "700\t2.05e0 "
                             + std::string(60, '0') + "1024\r\n", both, true, true},
        {"long-version", "1." + std::string(3990, '5') + " 700 2.05 1024\n", both, true, true},
        {"image-short", "1.5 700 2.05 1024\n", images[0] + images[1].substr(0, 500), true, false},
        {"size-beyond-32-bits", "1.5 4294967996 2.05 1024\n", both, false, false},
        {"letters-glued", "1.5 700kb 2.05 1024\n", both, false, false},
        {"no-line-end-in-window", "1.5 700 2.05 1024" + std::string(5000, ' ') + "\n", both, false,
         false},
        {"negative-size", "1.5 -700 2.05 1024\n", both, false, false},
    };
    for (const Made &m : made) {
        const std::string path = dir + "/" + m.name + ".kq";
        std::FILE *f = std::fopen(path.c_str(), "wb");
        if (!f)
            fail("cannot write a package", 0);
        std::fwrite(m.header.data(), 1, m.header.size(), f);
        std::fwrite(m.body.data(), 1, m.body.size(), f);
        std::fclose(f);
        packages.push_back({path, {m.whole0, m.whole1}});
    }
    packages.push_back({dir + "/missing.kq", {false, false}});  // unreadable: not there
    packages.push_back({dir, {false, false}});                   // a folder, no file
}

std::size_t PackageCount()
{
    return packages.size();
}

const std::string &PackagePath(std::size_t index)
{
    return packages[index].path;
}

void UsePackage(std::size_t index)
{
    package = &packages[index];
}

namespace {

// ---------------------------------------------------------------------------
// 2. The wire, write by write.

enum class Phase { Idle, AwaitHeader, Streaming, Ended };

struct Wire {
    Phase phase = Phase::Idle;
    std::string heardSinceOk;     // what the camera said since the last Ok, upper-cased
    int image = -1;
    std::size_t sent = 0;         // image bytes on the wire after the header
    int writer = 0;
    std::size_t allowedAfter = SIZE_MAX;  // image bytes still allowed: set by a lone ERROR or Stop
    bool mayEndEarly = false;     // an ERROR, WRITE OK, Stop, close, hang-up or cut write came
    bool cutShort = false;        // the cable may cut writes (budget or limit set)
    bool limitSet = false;        // writes cut to a length: stays across a plug
    long long budget = -1;        // bytes the cable still takes, -1: no limit (as of the last
                                  // START and header; the image's bytes are counted apart)
    long long imageTaken = 0;     // image bytes the cable took since `budget` was counted
    int limit = -1;               // bytes per write, -1: all
};

Wire wires[kPorts + 1];
std::vector<int> startPorts;   // the ports a START went to since the Ok
std::string heardSinceOk;      // every port, since the last Ok (one update at most)
bool closedUntilOk = false;    // Stop or the end of an update: no port may open before the Ok
std::vector<std::string> logSinceOk;  // the log's appended lines since it was last replaced
bool successLogged = false;    // since the log was last replaced

bool productNamed(const Wire &w, int image)
{
    return has(w.heardSinceOk, kBanner) && has(w.heardSinceOk, kProducts[image]);
}

// What the cable accepts of a write of `count` bytes.
long long cableTakes(Wire &w, long long count)
{
    long long accepted = count;
    if (w.limit >= 0)
        accepted = std::min<long long>(accepted, w.limit);
    if (w.budget >= 0) {
        accepted = std::min(accepted, w.budget);
        w.budget -= accepted;
    }
    return accepted;
}

} // namespace

void OnWrite(int port, const std::string &bytes, int writer)
{
    if (tracing)
        std::fprintf(stderr, "COM%d <- %zu bytes \"%.16s\" (writer %d)\n", port, bytes.size(),
                     bytes.c_str(), writer);
    Wire &w = wires[port];
    if (w.phase == Phase::Streaming && bytes == "START") {
        if (!w.mayEndEarly)
            fail("a START in the middle of an image", port);
        w.phase = Phase::Ended;
    }
    switch (w.phase) {
    case Phase::Idle:
    case Phase::Ended:
        if (std::string("START").compare(0, bytes.size(), bytes) != 0)
            fail("something other than START before a product is known", port);
        if (bytes.size() < 5 && !w.cutShort)
            fail("a START cut short by the program", port);
        if (!productNamed(w, 0) && !productNamed(w, 1))
            fail("a START to a port whose camera named no product", port);
        startPorts.push_back(port);
        if (startPorts.size() > 1)
            fail("two STARTs for one Ok", port);
        w.phase = Phase::AwaitHeader;
        return;
    case Phase::AwaitHeader: {
        // (Said since the Ok: bytes said before the START may still wait
        // in the queue when it goes out, and are read after it.)
        if (!has(w.heardSinceOk, "START OK"))
            fail("a header before the camera said START OK", port);
        int image = -1;
        for (int k = 0; k < 2; ++k)
            if (bytes.size() <= 16 && headers[k].compare(0, bytes.size(), bytes) == 0
                && package->whole[k] && productNamed(w, k))
                image = k;
        if (image < 0)
            fail("a header that announces no image this camera can be given", port);
        if (bytes.size() < 16) {
            if (!w.cutShort)
                fail("a header cut short by the program", port);
            w.phase = Phase::Ended;  // nothing may follow a cut header
            return;
        }
        w.phase = Phase::Streaming;
        w.image = image;
        w.sent = 0;
        w.writer = 0;
        w.allowedAfter = SIZE_MAX;
        w.mayEndEarly = w.cutShort;
        return;
    }
    case Phase::Streaming: {
        if (w.writer == 0)
            w.writer = writer;
        else if (w.writer != writer)
            fail("two workers wrote one image", port);
        const std::string &image = images[w.image];
        if (w.sent + bytes.size() > image.size() || image.compare(w.sent, bytes.size(), bytes) != 0)
            fail("image bytes out of order", port);
        w.sent += bytes.size();
        w.imageTaken += static_cast<long long>(bytes.size());
        if (w.allowedAfter != SIZE_MAX && w.sent > w.allowedAfter + kBlock)
            fail("more than one block after ERROR or Stop", port);
        if (w.sent == image.size())
            w.phase = Phase::Ended;
        return;
    }
    }
}

namespace {

// ---------------------------------------------------------------------------
// 3. The model of the dialogue.

using OutcomeSet = unsigned;  // one bit per Outcome: what the program may report now

constexpr OutcomeSet bit(Outcome o)
{
    return 1u << static_cast<int>(o);
}

// Whether the program records `next` over `before`: the camera's own word
// (and success, and the refusals) over a guess, the operator's Stop and a
// cut write over nothing.
bool replaces(Outcome next, Outcome before)
{
    switch (next) {
    case Outcome::Success:
    case Outcome::PackageRefused:
    case Outcome::UnknownProduct:
        return true;
    case Outcome::CameraError:
    case Outcome::Disconnected:
        return before == Outcome::None || before == Outcome::SendFailed;
    case Outcome::Stopped:
    case Outcome::SendFailed:
        return before == Outcome::None;
    case Outcome::None:
        return false;
    }
    return false;
}

OutcomeSet decided(OutcomeSet set, Outcome next)
{
    OutcomeSet out = 0;
    for (int o = 0; o <= static_cast<int>(Outcome::SendFailed); ++o)
        if (set & (1u << o))
            out |= replaces(next, static_cast<Outcome>(o)) ? bit(next) : (1u << o);
    return out;
}

// Bytes that reached a port's queue together.
struct Arrival {
    Micros at;
    std::shared_ptr<const std::string> bytes;  // shared by the orders the model follows
};

struct PortModel {
    bool listened = false;       // the program listens here (as far as the model knows)
    bool closedForGood = false;  // closed by the program until the next Ok
    std::vector<Arrival> pending;  // received, not yet taken into a chunk
    std::size_t arrival = 0;     // the first arrival with bytes not taken
    std::size_t offset = 0;      // bytes of it already taken
    bool gathering = false;      // a chunk is being gathered
    Micros start = 0;            // the chunk's first millisecond
    std::size_t taken = 0;       // bytes taken into it, NULs included
    std::string kept;            // its bytes, NULs dropped
    Micros lastEnd = -1;         // when the previous chunk ended
    bool hungUp = false;         // the cable was pulled: nothing more arrives
    bool lateHangUp = false;     // the connected camera's: acted on once its bytes are judged

    bool bytesLeft() const { return arrival < pending.size(); }
    void drop()
    {
        pending.clear();
        arrival = offset = 0;
        gathering = false;
        kept.clear();
        taken = 0;
    }
};

struct Model {
    PortModel ports[kPorts + 1];
    bool found = false;           // a banner was accepted
    int connected = 0;            // the camera's port, 0: none
    int product = -1;
    bool startAcknowledged = false;
    bool headerSent = false;
    bool timerOn = false;         // the progress tick runs (from the connection)
    Micros timerStart = 0;
    int nextMark = 1;             // the next one-second mark, counted from the connection
    int reported = 0;
    int displayed = 0;
    OutcomeSet outcome = bit(Outcome::None);
    bool workerMayCut = false;    // the worker may find a write cut short
    std::vector<int> starts;      // the ports a START went to since the Ok
    std::vector<std::string> logged;  // the chunks logged since the Ok, in order
    std::size_t logMatched = 0;   // of them, found in the log so far
    std::size_t logCursor = 0;    // where in the log the next one is looked for
    std::string why;              // the first difference with the program, when there is one
};

bool samePort(const PortModel &a, const PortModel &b)
{
    if (a.listened != b.listened || a.closedForGood != b.closedForGood || a.gathering != b.gathering
        || a.start != b.start || a.taken != b.taken || a.kept != b.kept || a.lastEnd != b.lastEnd
        || a.hungUp != b.hungUp || a.lateHangUp != b.lateHangUp
        || a.pending.size() - a.arrival != b.pending.size() - b.arrival || a.offset != b.offset)
        return false;
    for (std::size_t i = a.arrival, j = b.arrival; i < a.pending.size(); ++i, ++j)
        if (a.pending[i].at != b.pending[j].at || *a.pending[i].bytes != *b.pending[j].bytes)
            return false;
    return true;
}

// Two orders that led to one state are followed once.
bool sameModel(const Model &a, const Model &b)
{
    if (a.found != b.found || a.connected != b.connected || a.product != b.product
        || a.startAcknowledged != b.startAcknowledged || a.headerSent != b.headerSent
        || a.timerOn != b.timerOn || a.timerStart != b.timerStart || a.nextMark != b.nextMark
        || a.reported != b.reported || a.displayed != b.displayed || a.outcome != b.outcome
        || a.workerMayCut != b.workerMayCut || a.starts != b.starts || a.logMatched != b.logMatched || a.logCursor != b.logCursor
        || a.logged.size() != b.logged.size())
        return false;
    for (int port = 1; port <= kPorts; ++port)
        if (!samePort(a.ports[port], b.ports[port]))
            return false;
    return std::equal(a.logged.begin() + static_cast<long>(a.logMatched), a.logged.end(),
                      b.logged.begin() + static_cast<long>(b.logMatched));
}

std::vector<Model> models;  // the orders of events still agreeing with the program

// The worker may find a write cut short at any moment while it sends to a
// cable that cuts: the program then records a cut write, over nothing.
void mayCut(Model &m)
{
    if (m.workerMayCut)
        m.outcome |= decided(m.outcome, Outcome::SendFailed);
}

void decide(Model &m, Outcome o)
{
    mayCut(m);
    m.outcome = decided(m.outcome, o);
}

void closePort(Model &m, int port, bool forGood)
{
    PortModel &p = m.ports[port];
    p.drop();
    p.listened = false;
    p.closedForGood = p.closedForGood || forGood;
    p.lateHangUp = false;
}

// The update ends: the tick stops and the camera's port is closed.
void endUpdate(Model &m)
{
    m.timerOn = false;
    m.workerMayCut = false;
    if (m.connected != 0)
        closePort(m, m.connected, true);
    m.connected = 0;
    m.found = false;
}

void success(Model &m)
{
    decide(m, Outcome::Success);
    m.displayed = 3;
    endUpdate(m);
}

bool cableCuts(const Wire &w)
{
    return w.limit >= 0 || w.budget >= 0;
}

void connect(Model &m, int port, int product, Micros at)
{
    m.found = true;
    m.connected = port;
    m.product = product;
    m.outcome = bit(Outcome::None);  // the camera's update has no outcome yet
    m.workerMayCut = false;
    for (int q = 1; q <= kPorts; ++q)
        if (q != port)
            closePort(m, q, true);
    Wire &w = wires[port];
    const long long accepted = m.ports[port].hungUp ? 0 : cableTakes(w, 5);
    if (accepted > 0)
        m.starts.push_back(port);
    if (accepted != 5) {  // the camera never heard START: the update ends here
        decide(m, Outcome::SendFailed);
        if (m.ports[port].hungUp)  // because it is gone
            decide(m, Outcome::Disconnected);
        endUpdate(m);
        return;
    }
    m.timerOn = true;
    m.timerStart = at;
    m.nextMark = 1;
    m.reported = m.displayed = 0;
    m.startAcknowledged = false;
    m.headerSent = false;
}

// The camera's port hung up and what it sent before is judged.
void cameraLost(Model &m)
{
    if (m.reported == 3) {
        success(m);
        return;
    }
    decide(m, Outcome::Disconnected);
    decide(m, Outcome::Stopped);
    endUpdate(m);
}

Word decidingWord(const std::string &upperText)
{
    for (int k = 0; k < NoWord; ++k)
        if (has(upperText, kWords[k]))
            return static_cast<Word>(k);
    return NoWord;
}

void judge(Model &m, int port, const std::string &chunk)
{
    if (chunk.size() < kShortest)
        return;
    m.logged.push_back(asShown(chunk));
    const std::string text = upper(chunk);
    if (!m.found && has(text, kBanner)) {
        for (int k : kLookOrder)
            if (has(text, kProducts[k])) {
                connect(m, port, k, m.ports[port].lastEnd);
                return;
            }
        decide(m, Outcome::UnknownProduct);  // its port is let go, the others listen on
        closePort(m, port, true);
        m.found = false;
        return;
    }
    switch (decidingWord(text)) {
    case StartOk:
        if (m.connected == 0 || m.startAcknowledged)
            return;
        m.startAcknowledged = true;
        if (!package->whole[m.product]) {
            decide(m, Outcome::PackageRefused);
            endUpdate(m);
            return;
        }
        if (m.ports[m.connected].hungUp || cableTakes(wires[m.connected], 16) != 16) {
            decide(m, Outcome::SendFailed);
            if (m.ports[m.connected].hungUp)  // because the camera is gone
                decide(m, Outcome::Disconnected);
            endUpdate(m);
            return;
        }
        m.headerSent = true;
        m.workerMayCut = cableCuts(wires[m.connected]);
        return;
    case FileOk:
        m.reported = 1;
        return;
    case EraseOk:
        m.reported = 2;
        return;
    case WriteOk:
        m.reported = 3;
        return;
    case Error:
        if (m.connected != 0)
            decide(m, Outcome::CameraError);
        return;
    case NoWord:
        return;
    }
}

// Takes the port's bytes into its chunk up to `now`. Returns the moment the
// chunk ends when that is decided by `now`, else -1 (more may still come).
Micros chunkEnd(PortModel &p, Micros now)
{
    if (!p.gathering) {
        if (!p.bytesLeft())
            return -1;
        p.gathering = true;
        p.start = std::max(p.pending[p.arrival].at, p.lastEnd);
        p.taken = 0;
        p.kept.clear();
    }
    for (;;) {
        const Micros moment = p.start + static_cast<Micros>(p.taken) * kByte;
        if (moment > now)
            return -1;
        if (p.kept.size() >= kChunkKept)
            return moment;
        // A byte is taken at its moment when it had arrived before it (the
        // chunk's first byte, at its own moment).
        if (!p.bytesLeft())
            return moment;
        const Arrival &a = p.pending[p.arrival];
        if (p.taken > 0 && a.at >= moment)
            return moment;
        const char c = (*a.bytes)[p.offset];
        if (++p.offset == a.bytes->size()) {
            ++p.arrival;
            p.offset = 0;
        }
        ++p.taken;
        if (c != '\0')
            p.kept += c;
    }
}

// One thing that falls due: a chunk's end (port 1..3) or the tick's mark (0).
struct Due {
    Micros at;
    int what;
};

// What falls due first in a model by `now`: everything due at that moment.
struct DueNow {
    Due due[kPorts + 1];
    int count = 0;
};

void apply(Model &m, const Due &due)
{
    mayCut(m);
    if (tracing)
        std::fprintf(stderr, "model: %.3f %s%s\n", static_cast<double>(due.at) / 1e6, due.what == 0 ? "one-second mark" : "chunk end on COM",
                     due.what == 0 ? "" : std::to_string(due.what).c_str());
    if (due.what == 0) {
        ++m.nextMark;
        if (m.displayed != m.reported) {
            m.displayed = m.reported;
            if (m.displayed == 3)
                success(m);
        }
        return;
    }
    PortModel &p = m.ports[due.what];
    std::string chunk;
    chunk.swap(p.kept);
    p.gathering = false;
    p.taken = 0;
    p.lastEnd = due.at;
    if (p.arrival == p.pending.size()) {  // all taken: forget them
        p.pending.clear();
        p.arrival = p.offset = 0;
    }
    judge(m, due.what, chunk);
    if (p.lateHangUp && p.listened && !p.bytesLeft()) {
        p.lateHangUp = false;
        if (due.what == m.connected)
            cameraLost(m);
        else
            closePort(m, due.what, false);
    }
}

DueNow nextDue(Model &m, Micros now)
{
    DueNow next;
    Micros first = now;
    const auto consider = [&](Micros at, int what) {
        if (at < 0 || at > first)
            return;
        if (at < first) {
            next.count = 0;
            first = at;
        }
        next.due[next.count++] = {at, what};
    };
    for (int port = 1; port <= kPorts; ++port)
        if (m.ports[port].listened)
            consider(chunkEnd(m.ports[port], now), port);
    if (m.timerOn)
        consider(m.timerStart + m.nextMark * kMark, 0);
    return next;
}

// Runs every model up to `now`. What falls due together is applied in each
// order, each order a model of its own.
void advance(Micros now)
{
    const auto byWhat = [](const Due &a, const Due &b) { return a.what < b.what; };
    for (std::size_t i = 0; i < models.size(); ++i) {
        for (;;) {
            DueNow next = nextDue(models[i], now);
            if (next.count == 0)
                break;
            if (next.count == 1) {
                apply(models[i], next.due[0]);
                continue;
            }
            Due *first = next.due;
            Due *last = next.due + next.count;
            std::sort(first, last, byWhat);
            const Model before = models[i];
            for (const Due *d = first; d != last; ++d)
                apply(models[i], *d);
            while (std::next_permutation(first, last, byWhat)) {
                if (models.size() >= 64)
                    fail("the model followed too many orders at once", 0);
                models.push_back(before);  // followed in its turn by this loop
                for (const Due *d = first; d != last; ++d)
                    apply(models.back(), *d);
            }
        }
    }
}

Micros micros(double seconds)
{
    return std::llround(seconds * 1e6);
}

const char *outcomeName(Outcome o)
{
    static const char *const names[] = {"none", "success", "camera-error", "disconnected", "stopped",
                                        "package-refused", "unknown-product", "send-failed"};
    return names[static_cast<int>(o)];
}

// Whether `m` agrees with what the program shows; the first difference in m.why.
bool agrees(Model &m, const Observed &seen)
{
    static char why[200];
    mayCut(m);
    if (!(m.outcome & bit(seen.outcome))) {
        std::snprintf(why, sizeof why, "the outcome is %s where the camera's dialogue gives another",
                      outcomeName(seen.outcome));
        m.why = why;
        return false;
    }
    if (seen.reportedStep != m.reported || seen.displayedStep != m.displayed) {
        std::snprintf(why, sizeof why, "steps reported/shown %d/%d where the dialogue gives %d/%d",
                      seen.reportedStep, seen.displayedStep, m.reported, m.displayed);
        m.why = why;
        return false;
    }
    if (m.starts != startPorts) {
        m.why = "START went to other ports than the banners ask";
        return false;
    }
    // Every chunk judged is in the log, in order, among the program's own lines.
    while (m.logMatched < m.logged.size()) {
        while (m.logCursor < logSinceOk.size() && logSinceOk[m.logCursor] != m.logged[m.logMatched])
            ++m.logCursor;
        if (m.logCursor == logSinceOk.size()) {
            m.why = "a chunk the camera's bytes make is not in the log (boundaries differ)";
            if (tracing)
                std::fprintf(stderr, "expected chunk: \"%s\"\n", m.logged[m.logMatched].c_str());
            return false;
        }
        ++m.logCursor;
        ++m.logMatched;
    }
    m.outcome = bit(seen.outcome);
    m.logged.clear();  // all found: only what comes next is looked for
    m.logMatched = 0;
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// 4. Events and checks.

void StartInput()
{
    for (int port = 1; port <= kPorts; ++port)
        wires[port] = Wire();
    startPorts.clear();
    heardSinceOk.clear();
    closedUntilOk = false;
    logSinceOk.clear();
    models.assign(1, Model());
}

void Ok(double now)
{
    advance(micros(now));
    // The last update's image is all out by now: what the cable took of it
    // counts against what it still takes.
    for (int port = 1; port <= kPorts; ++port) {
        Wire &w = wires[port];
        if (w.budget >= 0)
            w.budget = std::max(0LL, w.budget - w.imageTaken);
        w.imageTaken = 0;
    }
    startPorts.clear();
    closedUntilOk = false;
    heardSinceOk.clear();
    for (int port = 1; port <= kPorts; ++port) {
        wires[port].heardSinceOk.clear();
        wires[port].phase = Phase::Idle;
    }
    for (Model &m : models) {
        if (m.found)
            continue;  // a camera in its update: the Ok changes nothing
        m = Model();  // the log was emptied at the Start, before the popup
        for (int port = 1; port <= kPorts; ++port)
            m.ports[port].listened = true;
    }
}

void Received(int port, const std::string &bytes, double now)
{
    advance(micros(now));
    const std::string heard = upper(bytes);
    wires[port].heardSinceOk += heard;
    heardSinceOk += heard;
    const auto shared = std::make_shared<const std::string>(bytes);
    for (Model &m : models) {
        PortModel &p = m.ports[port];
        if (p.closedForGood)
            continue;  // noticed at the check: the port should not be open
        p.listened = true;
        if (!bytes.empty())
            p.pending.push_back({micros(now), shared});
    }
    if (tracing)
        std::fprintf(stderr, "%.3f COM%d -> %zu bytes \"%s\"\n", now, port, bytes.size(),
                     heard.c_str());
}

void HangUp(int port, double now)
{
    advance(micros(now));
    Wire &w = wires[port];
    w.mayEndEarly = true;
    if (tracing)
        std::fprintf(stderr, "%.3f COM%d hangs up\n", now, port);
    std::vector<Model> after;
    for (Model &m : models) {
        PortModel &p = m.ports[port];
        p.hungUp = true;
        if (!p.listened) {
            after.push_back(std::move(m));
            continue;
        }
        if (port == m.connected) {
            if (m.headerSent)
                m.workerMayCut = true;  // its next write finds the line gone
            if (p.gathering || p.bytesLeft()) {
                p.lateHangUp = true;  // acted on once its bytes are judged
            } else {
                mayCut(m);
                cameraLost(m);
            }
            after.push_back(std::move(m));
            continue;
        }
        // A port listening for a banner is let go; what it was saying is
        // dropped with it, or judged first.
        if (p.gathering || p.bytesLeft()) {
            Model judged = m;
            judged.ports[port].lateHangUp = true;
            after.push_back(std::move(judged));
        }
        closePort(m, port, false);
        after.push_back(std::move(m));
    }
    models.swap(after);
}

void Plugged(int port)
{
    Wire &w = wires[port];
    w.cutShort = w.limitSet;  // a fresh device takes every byte
    w.budget = -1;
    w.imageTaken = 0;
    for (Model &m : models)
        m.ports[port].hungUp = false;
}

void CableBudget(int port, long long bytes)
{
    Wire &w = wires[port];
    w.budget = bytes < 0 ? -1 : bytes;
    w.imageTaken = 0;
    w.cutShort = true;
    w.mayEndEarly = true;
    for (Model &m : models)
        if (m.connected == port && m.headerSent)
            m.workerMayCut = true;
}

void CableLimit(int port, int bytesPerWrite)
{
    Wire &w = wires[port];
    w.limit = bytesPerWrite < 0 ? -1 : bytesPerWrite;
    w.cutShort = w.limitSet = true;
    w.mayEndEarly = true;
    for (Model &m : models)
        if (m.connected == port && m.headerSent)
            m.workerMayCut = true;
}

void Stopping()
{
    for (Wire &w : wires) {
        w.mayEndEarly = true;
        if (w.phase == Phase::Streaming)
            w.allowedAfter = std::min(w.allowedAfter, w.sent);
    }
}

void Stop(double now)
{
    advance(micros(now));
    closedUntilOk = true;
    for (Model &m : models) {
        if (m.connected != 0 && m.reported == 3) {
            success(m);
        } else {
            decide(m, Outcome::Stopped);
            endUpdate(m);
        }
        for (int port = 1; port <= kPorts; ++port)
            closePort(m, port, true);
    }
}

void ErrorSaidAlone()
{
    for (Wire &w : wires)
        if (w.phase == Phase::Streaming)
            w.allowedAfter = std::min(w.allowedAfter, w.sent);
}

bool HeardSinceOk(const char *word)
{
    return has(heardSinceOk, word);
}

void OnLogReplaced()
{
    logSinceOk.clear();
    successLogged = false;
    for (Model &m : models) {
        m.logged.erase(m.logged.begin(), m.logged.begin() + static_cast<long>(m.logMatched));
        m.logMatched = 0;
        m.logCursor = 0;
    }
}

void OnLogAppended(const std::string &text)
{
    if (tracing)
        std::fprintf(stderr, "log: %s\n", text.c_str());
    logSinceOk.push_back(text);
    if (text == kSuccessLine) {
        if (!has(heardSinceOk, "WRITE OK"))
            fail("success reported before any camera said WRITE OK", 0);
        closedUntilOk = true;
        successLogged = true;
    } else if (text == kDisconnectedLine || text == kAbortedLine) {
        if (successLogged)
            fail("a failure reported after success", 0);
        if (text == kDisconnectedLine)
            closedUntilOk = true;
    }
}

void OnAnnounced(const std::string &text)
{
    if (tracing)
        std::fprintf(stderr, "told: %s\n", text.c_str());
    if (text == kToldSuccess && !successLogged)
        fail("a screen reader told of success that the log does not show", 0);
    if (successLogged
        && std::find(std::begin(kToldFailures), std::end(kToldFailures), text) != std::end(kToldFailures))
        fail("a screen reader told of a failure after success", 0);
}

void Check(double now, const Observed &seen)
{
    if (seen.workers > 1)
        fail("two workers at once", 0);
    if (seen.workers == 1 && !seen.cameraConnected)
        fail("a worker with no camera connected", 0);
    for (int port = 1; port <= kPorts; ++port)
        if (closedUntilOk && seen.portOpen[port])
            fail("a port open after Stop or the end of an update, before the next Ok", port);

    advance(micros(now));
    std::string why;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < models.size(); ++i) {
        Model &m = models[i];
        for (int port = 1; port <= kPorts; ++port)
            if (m.ports[port].closedForGood && seen.portOpen[port]) {
                m.why = "a port open that the program should have closed (COM" + std::to_string(port) + ")";
                break;
            }
        if (m.why.empty() && agrees(m, seen)) {
            if (kept != i)
                models[kept] = std::move(m);
            ++kept;
        } else {
            if (why.empty())
                why = m.why;
            if (tracing)
                std::fprintf(stderr,
                             "model %zu of %zu: %s (connected COM%d, steps %d/%d, tick from %lld "
                             "us, next mark %d)\n",
                             i + 1, models.size(), m.why.c_str(), m.connected, m.reported,
                             m.displayed, m.timerOn ? m.timerStart : -1LL, m.nextMark);
        }
    }
    if (kept == 0) {
        std::fprintf(stderr, "receive fuzz: at %.3f s: %s\n", now, why.c_str());
        std::abort();
    }
    models.resize(kept);
    for (std::size_t i = 1; i < models.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (sameModel(models[i], models[j])) {
                models.erase(models.begin() + static_cast<long>(i--));
                break;
            }
}

void CheckRest()
{
    const bool told = has(heardSinceOk, "ERROR") || has(heardSinceOk, "WRITE OK");
    for (int port = 1; port <= kPorts; ++port)
        if (wires[port].phase == Phase::Streaming && !wires[port].mayEndEarly && !told)
            fail("the image stopped short with nothing to end it", port);
}

} // namespace oracle
