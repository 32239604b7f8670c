// The in-memory ports beside the real ones: one script of what a camera and
// the program do, run on a POSIX port (a pseudo-terminal) and on a memory
// port, must bring the program's callbacks in the same order. What the
// fuzzers find on memory ports is then what real ports can do.
//
// The script: bytes arrive while the program is inside other calls (a
// panel call delivers what the worker posted; a port call); the program
// holds its receive callback while the camera speaks and the cable is
// pulled; a popup is open while the camera speaks.
#include "platform.h"
#include "popup_hold.h"
#include "serial_memory.h"
#include "ui_queue.h"

#include "fake_device.h"

#include <QtTest>

#include <memory>
#include <string>

namespace {

constexpr int kPort = 4;
std::string trace;  // what the program saw, in order

void onReceive(int port, int, void *)
{
    const int waiting = GetInQLen(port);
    trace += "receive " + std::to_string(waiting) + ";";
    for (int i = 0; i < waiting; ++i)
        ComRdByte(port);
}

void onHangUp(int, int event, void *)
{
    trace += event == kComEventHangUp ? "hang-up;" : "hang-up?;";
}

// The camera's end of one port.
struct Camera {
    virtual ~Camera() = default;
    virtual bool plug() = 0;
    virtual void say(const std::string &bytes) = 0;
    virtual void pull() = 0;
};

struct PseudoTerminal : Camera {
    std::unique_ptr<FakeDevice> device;
    bool plug() override
    {
        device = std::make_unique<FakeDevice>();
        qputenv("QUORVEL_COM_PORTS", QByteArray::number(kPort) + "=" + device->path.toLocal8Bit());
        return device->valid();
    }
    void say(const std::string &bytes) override { device->send(QByteArray::fromStdString(bytes)); }
    void pull() override { device->unplug(); }
};

struct MemoryLine : Camera {
    bool plug() override
    {
        MemoryPortPlug(kPort);
        return true;
    }
    void say(const std::string &bytes) override { MemoryPortFeed(kPort, bytes); }
    void pull() override { MemoryPortUnplug(kPort); }
};

// Waits until the bytes have reached the port's queue, without running the
// event loop (a real line takes a moment).
bool queued(int count)
{
    QElapsedTimer clock;
    clock.start();
    while (GetInQLen(kPort) < count && clock.elapsed() < 5000)
        QThread::msleep(1);
    return GetInQLen(kPort) == count;
}

// Lets the event loop run long enough for anything due to come.
void settle()
{
    QTest::qWait(60);
}

std::string runScript(Camera &camera)
{
    trace.clear();
    if (!camera.plug() || OpenComConfig(kPort, "", 115200, 0, 8, 1, 512, -1) != 0)
        return "no port";
    InstallComCallback(kPort, 1, 0, 13, onReceive, nullptr);
    InstallComHangUpCallback(kPort, onHangUp, nullptr);

    // Bytes waiting while the program is inside other calls: none of them
    // brings the callback; the event loop does.
    camera.say("abc");
    if (!queued(3))
        return trace + "bytes never came";
    trace += "inside calls;";
    DeliverQueuedUiCalls();  // what every panel call does first
    GetInQLen(kPort);
    trace += "loop;";
    settle();

    // A popup is open while the camera speaks: the callback waits for it.
    platform::enterModalPopup();
    camera.say("de");
    queued(2);
    settle();
    trace += "popup closes;";
    platform::leaveModalPopup();
    settle();

    // The program holds its callback: bytes and then the cable's pull wait
    // for the hold to end; the hang-up is reported once, then.
    HoldComCallback(kPort, 1);
    camera.say("fg");
    queued(2);
    settle();
    camera.pull();
    settle();
    trace += "hold ends;";
    HoldComCallback(kPort, 0);
    settle();
    settle();
    InstallComCallback(kPort, 0, 0, 0, nullptr, nullptr);
    CloseCom(kPort);
    return trace;
}

} // namespace

class SerialParityTest : public QObject {
    Q_OBJECT

private slots:
    void memoryPortsBringCallbacksAsRealOnesDo()
    {
        PseudoTerminal real;
        const std::string onReal = runScript(real);
        UseMemorySerial(true);
        MemoryLine memory;
        const std::string onMemory = runScript(memory);
        UseMemorySerial(false);
        QCOMPARE(QString::fromStdString(onMemory), QString::fromStdString(onReal));
        QCOMPARE(QString::fromStdString(onReal),
                 QString("inside calls;loop;receive 3;popup closes;receive 2;hold ends;hang-up;"));
    }
};

QTEST_MAIN(SerialParityTest)
#include "test_serial_parity.moc"
