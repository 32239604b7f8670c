// Fuzz target: the receive path. Arbitrary sequences of what three cameras
// on COM1..COM3 may say, with cables pulled, writes cut short and the
// operator's Start and Stop in between, go through the real dialogue, update
// control and worker on the in-memory ports, with the panel loaded on the
// offscreen platform. After every step:
//
//   - nothing on any port's wire but "START", each followed by at most one
//     16-byte header that announces one of the package's images, then bytes
//     of that image from its first on, in order; a header the cable cut
//     short (a write of fewer than 16 bytes) is followed by nothing at all;
//   - the image bytes after one header are written by one thread (never two
//     workers);
//   - no worker runs while no product is known;
//   - no chunk holds more than 4999 bytes;
//   - "Operation successful!" only once a camera said WRITE OK since the
//     operator's last Start; a WRITE OK followed by a pulled cable is still
//     a success, and once successful, no disconnection or abort is logged
//     for that update;
//   - after Stop, every port is closed, and none opens before the next Start.
//
// Input: records of one operation byte, then its arguments.
//   op & 3          the port (0 and 1: COM1, 2: COM2, 3: COM3)
//   (op >> 2) & 7   0-2 the camera says the next LEN bytes (LEN: one byte)
//                   3   the camera says LEN*40 bytes: the next LEN bytes repeated
//                   4   the cable is pulled (and plugged back at the next Start)
//                   5   the cable takes only LEN*8 more bytes
//                   6   the operator presses Stop
//                   7   the operator presses Start and Ok
#include "control.h"
#include "collecte.h"
#include "loader_state.h"
#include "messages.h"
#include "package.h"
#include "panel_qt.h"
#include "platform.h"
#include "ports.h"
#include "serial_memory.h"
#include "ui_constants.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

constexpr int kPorts = 3;
constexpr int kLargestChunk = 4999;
std::string images[2];  // the package's images; no byte is 'S', so START stands out

[[noreturn]] void fail(const char *what, int port)
{
    std::fprintf(stderr, "receive fuzz: %s (COM%d)\n", what, port);
    std::abort();
}

// Answers every popup with its first button (Ok), as the operator would.
class PopupAnswer : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            if (auto *dialog = qobject_cast<QDialog *>(watched))
                QTimer::singleShot(0, dialog, [dialog] { dialog->done(1); });
        return false;
    }
};

void setUp()
{
    static char name[] = "quorvel-fuzz";
    static char *argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    UseQtPanel();
    InitRunTime(1, argv);
    qApp->installEventFilter(new PopupAnswer);
    RegisterCtrlCallback("Transfert", Transfert);
    RegisterPanelCallback("Sortir", Sortir);
    loader.panel = LoadPanel(0, "Quorvel.uir", PANEL);
    if (loader.panel <= 0)
        fail("the panel did not load", 0);

    // Image 0: 700 bytes (a short last block); image 1: 1024 (whole blocks).
    for (int k = 0; k < 2; ++k) {
        const int size = k == 0 ? 700 : 1024;
        for (int i = 0; i < size; ++i) {
            const char c = static_cast<char>((i * 37 + k * 11) % 251);
            images[k] += c == 'S' ? 'T' : c;
        }
    }
    const std::string path = "/tmp/quorvel-fuzz-receive-" + std::to_string(::getpid()) + ".kq";
    loader.packagePath = path;
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        fail("cannot write the package", 0);
    std::fputs("1.5 700 2.05 1024\n", f);
    std::fwrite(images[0].data(), 1, images[0].size(), f);
    std::fwrite(images[1].data(), 1, images[1].size(), f);
    std::fclose(f);
    LectureEntete();
    UseMemorySerial(true);
}

bool gathering()
{
    for (int port = 1; port <= kPorts; ++port)
        if (CollecteEnCours(port))
            return true;
    return false;
}

// What each port was told since the operator's last Start, NULs dropped
// and upper-cased, as the camera's words are recognised: the oracle's own
// record, apart from the loader's.
std::string heardSinceStart[kPorts + 1];
// The verdict the operator reads is the slide's colour: green once the
// flash is written, red while an update runs or after it failed. (The log
// cannot tell: a camera may send any text, the program's own included.)
bool successShown = false;

void checkVerdict()
{
    int fill = 0;
    GetCtrlAttribute(loader.panel, SLIDE, ATTR_FILL_COLOR, &fill);
    const bool green = fill == 0x00FF00;
    if (green && !successShown) {
        successShown = true;
        bool wrote = false;
        for (int port = 1; port <= kPorts; ++port)
            wrote = wrote || heardSinceStart[port].find("WRITE OK") != std::string::npos;
        if (!wrote)
            fail("success shown with no WRITE OK from any camera", loader.connectedPort);
    } else if (!green && successShown) {
        fail("a success turned into a failure with no Stop or Start", loader.connectedPort);
    }
}

void checkAllClosed(const char *when)
{
    for (int port = 1; port <= kPorts; ++port)
        if (GetInQLen(port) != kComNotOpen)
            fail(when, port);
}

void heard(int port, const std::string &bytes)
{
    for (char c : bytes)
        if (c != '\0')
            heardSinceStart[port] += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

// Runs the event loop until no receive callback is queued and the worker,
// if any, has returned.
void settle()
{
    QElapsedTimer clock;
    clock.start();
    do {
        QCoreApplication::processEvents();
        // Checked between events too: a worker ends within microseconds here.
        if (loader.workerRunning && (loader.productIndex < 0 || loader.connectedPort == 0))
            fail("a worker runs with no product known", loader.connectedPort);
        if (clock.elapsed() > 20000)
            fail("the loader never came to rest", 0);
    } while (MemorySerialCallbacksPending() > 0 || loader.workerRunning || gathering());
    QCoreApplication::processEvents();
}

void checkWire(int port)
{
    const std::string wire = MemoryPortWritten(port);
    const auto writes = MemoryPortWrites(port);
    size_t at = 0;
    size_t write = 0;  // index in writes of the write holding wire[at]
    size_t writeEnd = writes.empty() ? 0 : writes[0].bytes.size();
    auto advance = [&](size_t n) {
        at += n;
        while (write < writes.size() && at >= writeEnd && write + 1 < writes.size())
            writeEnd += writes[++write].bytes.size();
    };
    while (at < wire.size()) {
        if (wire.compare(at, 5, "START") != 0)
            fail("something other than START on the wire", port);
        advance(5);
        if (at == wire.size())
            break;
        if (wire.compare(at, 5, "START") == 0)
            continue;
        // The header runs up to the next START (no header or image byte is
        // an 'S'), at most 16 bytes. Fewer only when the cable stopped taking
        // bytes in the middle of it: then nothing but a later START follows.
        const size_t nextStart = wire.find('S', at);
        const size_t headerLength = std::min<size_t>(16, (nextStart == std::string::npos ? wire.size()
                                                                                       : nextStart) - at);
        int image = -1;
        for (int k = 0; k < 2; ++k) {
            char header[17];
            uint32_t sum = 0;
            for (unsigned char c : images[k])
                sum += c;
            std::snprintf(header, sizeof header, "%08X%08X", static_cast<unsigned>(images[k].size()),
                          ~sum);
            if (wire.compare(at, headerLength, header, headerLength) == 0)
                image = k;
        }
        if (image < 0)
            fail("a header that announces no image of the package", port);
        if (headerLength < 16) {
            if (MemoryPortWrites(port).empty() || writes[write].bytes.size() >= 16)
                fail("a header cut short by the program", port);
            advance(headerLength);
            continue;
        }
        advance(16);
        size_t sent = 0;
        int writer = 0;
        while (at < wire.size() && wire[at] != 'S') {
            if (sent >= images[image].size() || wire[at] != images[image][sent])
                fail("image bytes out of order", port);
            if (writer == 0)
                writer = writes[write].writer;
            else if (writes[write].writer != writer)
                fail("two workers wrote one image", port);
            ++sent;
            advance(1);
        }
    }
}

void checkAfterStep()
{
    if (loader.workerRunning && (loader.productIndex < 0 || loader.connectedPort == 0))
        fail("a worker runs with no product known", loader.connectedPort);
    for (int port = 1; port <= kPorts; ++port) {
        for (const std::string &read : MemoryPortCallbackReads(port)) {
            size_t kept = 0;
            for (char c : read)
                kept += c != '\0';
            if (kept > kLargestChunk)
                fail("a chunk of more than 4999 bytes", port);
        }
        checkWire(port);
    }
}

void freshScan()
{
    loader.connectedPort = 0;
    loader.transferActive = 0;
    loader.bootloaderFound = 0;
    loader.startAcknowledged = 0;
    loader.reportedStep = loader.displayedStep = 0;
    loader.productIndex = 0;
    for (int &s : loader.portStatus)
        s = 0;
    MemorySerialReset();
    for (int port = 1; port <= kPorts; ++port)
        MemoryPortPlug(port);
    EtatMarche(loader.panel);
    ResetTextBox(loader.panel, TEXTBOX, "");
    successShown = false;
    SetCtrlAttribute(loader.panel, SLIDE, ATTR_FILL_COLOR, 0xFF0000);
    for (std::string &h : heardSinceStart)
        h.clear();
    OuvertureCom();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool ready = (setUp(), true);
    (void)ready;
    freshScan();

    size_t i = 0;
    auto next = [&]() -> int { return i < size ? data[i++] : 0; };
    while (i < size) {
        const int op = next();
        const int port = (op & 3) == 0 ? 1 : op & 3;
        const int action = (op >> 2) & 7;
        if (action <= 3) {
            const int length = next();
            std::string bytes(reinterpret_cast<const char *>(data + i),
                              std::min<size_t>(static_cast<size_t>(length), size - i));
            i += bytes.size();
            if (action == 3 && !bytes.empty()) {
                std::string repeated;
                while (repeated.size() < static_cast<size_t>(length) * 40)
                    repeated += bytes;
                bytes = repeated;
            }
            MemoryPortFeed(port, bytes);
            heard(port, bytes);
        } else if (action == 4) {
            MemoryPortUnplug(port);
        } else if (action == 5) {
            MemoryPortWriteBudget(port, next() * 8);
        } else if (action == 6) {
            successShown = false;
            Transfert(loader.panel, STOP, EVENT_COMMIT, nullptr, 0, 0);
            checkAllClosed("a port open right after Stop");
            settle();
            checkAllClosed("a port opened after Stop, before any Start");
        } else {
            // Stop first, as the panel shows only Stop while an update runs.
            Transfert(loader.panel, STOP, EVENT_COMMIT, nullptr, 0, 0);
            for (int p = 1; p <= kPorts; ++p)
                MemoryPortPlug(p);
            successShown = false;
            for (std::string &h : heardSinceStart)
                h.clear();
            Transfert(loader.panel, GO, EVENT_COMMIT, nullptr, 0, 0);
        }
        settle();
        checkAfterStep();
        checkVerdict();
    }
    Transfert(loader.panel, STOP, EVENT_COMMIT, nullptr, 0, 0);
    settle();
    checkAfterStep();
    if (loader.threadPool != 0) {
        CmtDiscardThreadPool(loader.threadPool);
        loader.threadPool = 0;
    }
    return 0;
}
