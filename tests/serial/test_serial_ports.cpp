// Serial ports against pseudo-terminals standing in for the camera's USB
// serial link: the test holds the master side (the camera), the loader's
// calls open the slave side by COM number.
#include "serial.h"
#include "serial_ports_map.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The camera's end of the cable.
class Camera {
public:
    Camera()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        char name[128] = {};
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0
            && ::ptsname_r(master, name, sizeof name) == 0)
            device = name;
    }
    ~Camera() { unplug(); }
    Camera(const Camera &) = delete;
    Camera &operator=(const Camera &) = delete;

    bool ok() const { return master >= 0 && !device.empty(); }

    void say(const std::string &bytes) const
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t put = ::write(master, bytes.data() + done, bytes.size() - done);
            if (put > 0)
                done += static_cast<std::size_t>(put);
            else if (errno == EAGAIN)
                waitFor(POLLOUT, 100);
            else if (errno != EINTR)
                return;
        }
    }

    // Reads what the loader sent until `count` bytes or the deadline.
    std::string hear(std::size_t count, int timeoutMs = 5000) const
    {
        std::string got;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count && Clock::now() < deadline) {
            char chunk[4096];
            const ssize_t n = ::read(master, chunk, sizeof chunk);
            if (n > 0)
                got.append(chunk, static_cast<std::size_t>(n));
            else if (n < 0 && errno == EAGAIN)
                waitFor(POLLIN, 50);
            else if (!(n < 0 && errno == EINTR))
                break;
        }
        return got;
    }

    void unplug()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    int master = -1;
    std::string device;

private:
    void waitFor(short events, int ms) const
    {
        pollfd entry{master, events, 0};
        ::poll(&entry, 1, ms);
    }
};

int openAtLoaderSettings(int port)
{
    return OpenComConfig(port, "", 115200, 0, 8, 1, 512, -1);
}

void mapPorts(const std::string &list)
{
    qputenv("QUORVEL_COM_PORTS", QByteArray::fromStdString(list));
}

// Open descriptors of this process on `device`.
int descriptorsOn(const std::string &device)
{
    int count = 0;
    if (DIR *dir = ::opendir("/proc/self/fd")) {
        while (const dirent *entry = ::readdir(dir)) {
            char target[512] = {};
            const std::string link = std::string("/proc/self/fd/") + entry->d_name;
            const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
            if (n > 0 && device == target)
                ++count;
        }
        ::closedir(dir);
    }
    return count;
}

double processCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string pattern(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed) & 0xff);
    return bytes;
}

// What the receive callback saw. Like the loader's callback it drains the
// port's input each time it is called.
struct Reception {
    std::string bytes;
    int calls = 0;
    int emptyCalls = 0;       // called with nothing waiting: a duplicate delivery
    int offUiThreadCalls = 0;
    int lastMask = 0;
    int closeOnText = 0;      // when set: close the port from inside the callback on "ERROR"
};

void receive(int port, int eventMask, void *data)
{
    auto *seen = static_cast<Reception *>(data);
    ++seen->calls;
    seen->lastMask = eventMask;
    if (QThread::currentThread() != QCoreApplication::instance()->thread())
        ++seen->offUiThreadCalls;
    int waiting = GetInQLen(port);
    if (waiting <= 0)
        ++seen->emptyCalls;
    while (waiting > 0) {
        for (int i = 0; i < waiting; ++i) {
            const int byte = ComRdByte(port);
            if (byte < 0)
                return;
            seen->bytes.push_back(static_cast<char>(byte));
        }
        waiting = GetInQLen(port);
    }
    if (seen->closeOnText && seen->bytes.find("ERROR") != std::string::npos) {
        InstallComCallback(port, 0, 0, 0, nullptr, nullptr);
        CloseCom(port);
    }
}

} // namespace

class SerialPortsTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup();

    void comNumberMapping_data();
    void comNumberMapping();
    void automaticNumberingOrder();
    void badArgumentsRejectedWithoutEffect_data();
    void badArgumentsRejectedWithoutEffect();
    void missingDeviceFailsQuietly_data();
    void missingDeviceFailsQuietly();
    void callsOnClosedPortFailWithoutEffect();

    void openedPortHasLineSettings_data();
    void openedPortHasLineSettings();
    void handshakeModesSwitch();

    void bannerReachesCallbackOnUiThread();
    void reopenKeepsOneDescriptorAndOneCallback();
    void callbackRemovedOrClosedFromInside();

    void workerWritesWhileUiReadsSamePort();
    void writeComesBackShortWhenCameraStopsReading();
    void injectedStallGivesShortWrite();
    void readTimesOutWhenCameraIsSilent();

    void unpluggedCameraStopsCallbackWithoutSpinning();
};

void SerialPortsTest::cleanup()
{
    for (int port = 1; port <= 20; ++port) {
        CloseCom(port);
        ComInjectShortWrite(port, -1);
    }
    qunsetenv("QUORVEL_COM_PORTS");
}

// ---------------------------------------------------------------------------
// Which device a COM number names

void SerialPortsTest::comNumberMapping_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("device");

    const QString two = "7=/dev/pts/3,12=/dev/ttyUSB0";
    QTest::newRow("first pair") << two << 7 << "/dev/pts/3";
    QTest::newRow("second pair") << two << 12 << "/dev/ttyUSB0";
    QTest::newRow("unlisted number") << two << 8 << "";
    QTest::newRow("spaces around") << " 7 = /dev/pts/3 ,\t12=/dev/ttyUSB0 " << 7 << "/dev/pts/3";
    QTest::newRow("empty entries") << ",,5=/dev/ttyACM0,," << 5 << "/dev/ttyACM0";
    QTest::newRow("bad entries skipped") << "x=/dev/a,7,=/dev/b,9=,3x=/dev/c,+4=/dev/d,5=/dev/ok"
                                         << 5 << "/dev/ok";
    QTest::newRow("entry without device") << "9=,5=/dev/ok" << 9 << "";
    QTest::newRow("number with sign") << "+4=/dev/d" << 4 << "";
    QTest::newRow("number zero") << "0=/dev/a" << 0 << "";
    QTest::newRow("number past the last") << "256=/dev/a" << 256 << "";
    QTest::newRow("highest number") << "255=/dev/a" << 255 << "/dev/a";
    QTest::newRow("number given twice keeps first") << "4=/dev/a,4=/dev/b" << 4 << "/dev/a";
    QTest::newRow("set but empty: no port") << "" << 1 << "";
}

void SerialPortsTest::comNumberMapping()
{
    QFETCH(QString, list);
    QFETCH(int, port);
    QFETCH(QString, device);
    mapPorts(list.toStdString());
    QCOMPARE(QString::fromUtf8(ComDevicePath(port)), device);
}

void SerialPortsTest::automaticNumberingOrder()
{
    QTemporaryDir dev;
    QTemporaryDir sys;
    QVERIFY(dev.isValid() && sys.isValid());
    for (const char *name : {"ttyUSB10", "ttyS1", "ttyACM1", "ttyS3", "ttyUSB2", "ttyS0",
                             "ttyACM0", "ttyS2", "tty0", "ttyUSB", "ttyACMx", "ttySAC0", "null"}) {
        QFile node(dev.filePath(name));
        QVERIFY(node.open(QIODevice::WriteOnly));
    }
    // ttyS0 and ttyS1 have a UART, ttyS3 is an empty slot, ttyS2 has no
    // sysfs entry and is a plain file (TIOCGSERIAL fails): not a port.
    for (const auto &[name, type] : {std::pair{"ttyS0", "4"}, {"ttyS1", "4"}, {"ttyS3", "0"}}) {
        QVERIFY(QDir(sys.path()).mkdir(name));
        QFile typeFile(sys.filePath(QString(name) + "/type"));
        QVERIFY(typeFile.open(QIODevice::WriteOnly));
        typeFile.write(type);
    }

    const std::string d = dev.path().toStdString() + "/";
    const std::vector<std::string> expected = {d + "ttyACM0", d + "ttyACM1", d + "ttyUSB2",
                                               d + "ttyUSB10", d + "ttyS0", d + "ttyS1"};
    QCOMPARE(platform::listSerialDevices(dev.path().toStdString(), sys.path().toStdString()),
             expected);

    // Without the variable, COM1 is the machine's first serial device.
    qunsetenv("QUORVEL_COM_PORTS");
    const auto machine = platform::listSerialDevices("/dev", "/sys/class/tty");
    QCOMPARE(std::string(ComDevicePath(1)), machine.empty() ? std::string() : machine[0]);
}

// ---------------------------------------------------------------------------
// Refusals

void SerialPortsTest::badArgumentsRejectedWithoutEffect_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");

    QTest::newRow("COM0") << 0 << 115200 << 0 << 8 << 1;
    QTest::newRow("COM-1") << -1 << 115200 << 0 << 8 << 1;
    QTest::newRow("COM256") << 256 << 115200 << 0 << 8 << 1;
    QTest::newRow("odd baud rate") << 3 << 12345 << 0 << 8 << 1;
    QTest::newRow("zero baud rate") << 3 << 0 << 0 << 8 << 1;
    QTest::newRow("parity 3") << 3 << 115200 << 3 << 8 << 1;
    QTest::newRow("parity -1") << 3 << 115200 << -1 << 8 << 1;
    QTest::newRow("4 data bits") << 3 << 115200 << 0 << 4 << 1;
    QTest::newRow("9 data bits") << 3 << 115200 << 0 << 9 << 1;
    QTest::newRow("0 stop bits") << 3 << 115200 << 0 << 8 << 0;
    QTest::newRow("3 stop bits") << 3 << 115200 << 0 << 8 << 3;
}

void SerialPortsTest::badArgumentsRejectedWithoutEffect()
{
    QFETCH(int, port);
    QFETCH(int, baud);
    QFETCH(int, parity);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);

    Camera camera;
    QVERIFY(camera.ok());
    mapPorts("3=" + camera.device);

    // On a closed port: refused, nothing opened.
    QCOMPARE(OpenComConfig(port, "", baud, parity, dataBits, stopBits, 512, -1), int(kComArgumentError));
    QCOMPARE(descriptorsOn(camera.device), 0);

    // On the open COM3: refused, the port keeps its settings and stays open.
    QCOMPARE(openAtLoaderSettings(3), 0);
    QCOMPARE(OpenComConfig(port, "", baud, parity, dataBits, stopBits, 512, -1), int(kComArgumentError));
    termios tio{};
    QCOMPARE(::tcgetattr(camera.master, &tio), 0);
    QCOMPARE(::cfgetospeed(&tio), speed_t(B115200));
    QCOMPARE(tio.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));
    QCOMPARE(GetInQLen(3), 0);

    if (port < 1 || port > kComMaxPort) {
        QCOMPARE(CloseCom(port), int(kComArgumentError));
        QCOMPARE(GetInQLen(port), int(kComArgumentError));
        QCOMPARE(ComRdByte(port), int(kComArgumentError));
        QCOMPARE(ComWrt(port, "x", 1), int(kComArgumentError));
        QCOMPARE(SetComTime(port, 1.0), int(kComArgumentError));
        QCOMPARE(InstallComCallback(port, 0, 0, 0, nullptr, nullptr), int(kComArgumentError));
        QCOMPARE(ComDevicePath(port), "");
    }
}

void SerialPortsTest::missingDeviceFailsQuietly_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<int>("port");

    QTest::newRow("device missing") << "5=/nonexistent/ttyUSB9" << 5;
    QTest::newRow("number not listed") << "5=/dev/null" << 6;
    QTest::newRow("not a terminal") << "5=/dev/null" << 5;
    QTest::newRow("no port at all") << "" << 1;
}

void SerialPortsTest::missingDeviceFailsQuietly()
{
    QFETCH(QString, list);
    QFETCH(int, port);
    mapPorts(list.toStdString());
    QTest::failOnWarning(QRegularExpression(".*"));
    QCOMPARE(openAtLoaderSettings(port), int(kComNoDevice));
    QCOMPARE(GetInQLen(port), int(kComNotOpen));
    QCOMPARE(CloseCom(port), int(kComNotOpen));
}

void SerialPortsTest::callsOnClosedPortFailWithoutEffect()
{
    Camera camera;
    QVERIFY(camera.ok());
    mapPorts("4=" + camera.device);

    // Never opened: the window is closed before the first Start.
    QCOMPARE(InstallComCallback(4, 0, 0, 0, nullptr, nullptr), int(kComNotOpen));
    QCOMPARE(CloseCom(4), int(kComNotOpen));

    // Opened, closed, and closed once more after the update ended.
    QCOMPARE(openAtLoaderSettings(4), 0);
    QCOMPARE(CloseCom(4), 0);
    QCOMPARE(descriptorsOn(camera.device), 0);
    QCOMPARE(InstallComCallback(4, 0, 0, 0, nullptr, nullptr), int(kComNotOpen));
    QCOMPARE(CloseCom(4), int(kComNotOpen));
    QCOMPARE(GetInQLen(4), int(kComNotOpen));
    QCOMPARE(ComRdByte(4), int(kComNotOpen));
    QCOMPARE(ComWrt(4, "START", 5), int(kComNotOpen));
    QCOMPARE(SetComTime(4, 1.0), int(kComNotOpen));
    QCOMPARE(FlushInQ(4), int(kComNotOpen));
    QCOMPARE(camera.hear(1, 50), std::string());

    // And it opens again afterwards.
    QCOMPARE(openAtLoaderSettings(4), 0);
}

// ---------------------------------------------------------------------------
// Line settings

void SerialPortsTest::openedPortHasLineSettings_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<uint>("speed");
    QTest::addColumn<uint>("frame");  // CSIZE | PARENB | PARODD | CSTOPB

    QTest::newRow("bootloader 115200 8N1") << 115200 << 0 << 8 << 1 << uint(B115200) << uint(CS8);
    QTest::newRow("9600 7O2") << 9600 << 1 << 7 << 2 << uint(B9600)
                              << uint(CS7 | PARENB | PARODD | CSTOPB);
    QTest::newRow("57600 8E1") << 57600 << 2 << 8 << 1 << uint(B57600) << uint(CS8 | PARENB);
    QTest::newRow("921600 5N1") << 921600 << 0 << 5 << 1 << uint(B921600) << uint(CS5);
}

void SerialPortsTest::openedPortHasLineSettings()
{
    QFETCH(int, baud);
    QFETCH(int, parity);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QFETCH(uint, speed);
    QFETCH(uint, frame);

    Camera camera;
    QVERIFY(camera.ok());
    mapPorts("2=" + camera.device);
    QCOMPARE(OpenComConfig(2, "", baud, parity, dataBits, stopBits, 512, -1), 0);
    QCOMPARE(std::string(ComDevicePath(2)), camera.device);

    // A pseudo-terminal's master reports the slave's settings.
    termios tio{};
    QCOMPARE(::tcgetattr(camera.master, &tio), 0);
    QCOMPARE(uint(::cfgetospeed(&tio)), speed);
    QCOMPARE(uint(::cfgetispeed(&tio)), speed);
    // The pty driver forces 8 data bits without parity; the parity sense
    // and the stop bits are kept as set.
    QCOMPARE(uint(tio.c_cflag & (PARODD | CSTOPB)), frame & uint(PARODD | CSTOPB));
    QCOMPARE(tio.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    QCOMPARE(tio.c_cflag & CRTSCTS, tcflag_t(0));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP), tcflag_t(0));
    QCOMPARE(tio.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));

    // Exclusive use: ask the line through a descriptor of our own (root may
    // open an exclusive line; others get EBUSY, which proves it as well).
    const int look = ::open(camera.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (look >= 0) {
        int exclusive = 0;
        QCOMPARE(::ioctl(look, TIOCGEXCL, &exclusive), 0);
        ::close(look);
        QCOMPARE(exclusive, 1);
    } else {
        QCOMPARE(errno, EBUSY);
    }
}

void SerialPortsTest::handshakeModesSwitch()
{
    Camera camera;
    QVERIFY(camera.ok());
    mapPorts("2=" + camera.device);
    QCOMPARE(openAtLoaderSettings(2), 0);
    termios tio{};

    QCOMPARE(SetXMode(2, 1), 0);
    QCOMPARE(SetCTSMode(2, 1), 0);
    QCOMPARE(::tcgetattr(camera.master, &tio), 0);
    QCOMPARE(tio.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
    QCOMPARE(tio.c_cflag & CRTSCTS, tcflag_t(CRTSCTS));

    QCOMPARE(SetXMode(2, 0), 0);
    QCOMPARE(SetCTSMode(2, 0), 0);
    QCOMPARE(::tcgetattr(camera.master, &tio), 0);
    QCOMPARE(tio.c_iflag & (IXON | IXOFF), tcflag_t(0));
    QCOMPARE(tio.c_cflag & CRTSCTS, tcflag_t(0));

    QCOMPARE(SetXMode(2, 2), int(kComArgumentError));
    QCOMPARE(SetComTime(2, -1.0), int(kComArgumentError));

    // XON/XOFF bytes pass untouched once the handshake is off.
    camera.say(std::string("\x11\x13", 2));
    QTRY_COMPARE(GetInQLen(2), 2);
    QCOMPARE(ComRdByte(2), 0x11);
    QCOMPARE(ComRdByte(2), 0x13);
}

// ---------------------------------------------------------------------------
// Receiving

void SerialPortsTest::bannerReachesCallbackOnUiThread()
{
    Camera camera;
    QVERIFY(camera.ok());
    mapPorts("7=" + camera.device);
    QCOMPARE(openAtLoaderSettings(7), 0);
    QCOMPARE(SetComTime(7, 1.0), 0);

    // Noise from before the scan is flushed and never reaches the callback.
    camera.say("noise");
    QTRY_COMPARE(GetInQLen(7), 5);
    QCOMPARE(FlushInQ(7), 0);
    QCOMPARE(FlushOutQ(7), 0);
    QCOMPARE(GetInQLen(7), 0);

    Reception seen;
    QCOMPARE(InstallComCallback(7, 1, 0, 13, receive, &seen), 0);
    const std::string banner = "Bootloader v2.4 IR-CAM-320\r\n";
    camera.say(banner);
    QTRY_COMPARE(seen.bytes, banner);
    QCOMPARE(seen.offUiThreadCalls, 0);
    QCOMPARE(seen.lastMask, 1);

    // Bytes with the value 0 and 0xff come through as they are.
    const std::string binary("\x00\xff\r\n\x03", 5);
    camera.say(binary);
    QTRY_COMPARE(seen.bytes, banner + binary);
}

void SerialPortsTest::reopenKeepsOneDescriptorAndOneCallback()
{
    Camera camera;
    QVERIFY(camera.ok());
    mapPorts("7=" + camera.device);
    QTest::failOnWarning(QRegularExpression(".*"));  // e.g. two notifiers on one descriptor

    Reception first;
    QCOMPARE(openAtLoaderSettings(7), 0);
    QCOMPARE(InstallComCallback(7, 1, 0, 13, receive, &first), 0);
    QCOMPARE(descriptorsOn(camera.device), 1);

    // A product the loader refused: next Start scans the still-open port again.
    QCOMPARE(openAtLoaderSettings(7), 0);
    QCOMPARE(descriptorsOn(camera.device), 1);
    camera.say("abc");
    QTRY_COMPARE(first.bytes, std::string("abc"));

    Reception second;
    QCOMPARE(SetComTime(7, 1.0), 0);
    QCOMPARE(InstallComCallback(7, 1, 0, 13, receive, &second), 0);
    camera.say("def");
    QTRY_COMPARE(second.bytes, std::string("def"));
    QCOMPARE(first.bytes, std::string("abc"));
    QCOMPARE(first.emptyCalls + second.emptyCalls, 0);
    QCOMPARE(descriptorsOn(camera.device), 1);
}

void SerialPortsTest::callbackRemovedOrClosedFromInside()
{
    Camera camera;
    QVERIFY(camera.ok());
    mapPorts("9=" + camera.device);
    QCOMPARE(openAtLoaderSettings(9), 0);

    // Removed: bytes wait in the queue, nobody is called.
    Reception seen;
    seen.closeOnText = 1;
    QCOMPARE(InstallComCallback(9, 1, 0, 13, receive, &seen), 0);
    QCOMPARE(InstallComCallback(9, 0, 0, 0, nullptr, nullptr), 0);
    QCOMPARE(InstallComCallback(9, 2, 0, 0, receive, &seen), int(kComArgumentError));
    QCOMPARE(InstallComCallback(9, 1, 0, 0, nullptr, nullptr), int(kComArgumentError));
    camera.say("xyz");
    QTRY_COMPARE(GetInQLen(9), 3);
    QCoreApplication::processEvents();
    QCOMPARE(seen.calls, 0);

    // Installed again it gets them; then the camera answers ERROR and the
    // callback removes itself and closes its own port.
    QCOMPARE(InstallComCallback(9, 1, 0, 13, receive, &seen), 0);
    QTRY_COMPARE(seen.bytes, std::string("xyz"));
    camera.say("ERROR\r\n");
    QTRY_COMPARE(GetInQLen(9), int(kComNotOpen));
    QCOMPARE(descriptorsOn(camera.device), 0);
    const int calls = seen.calls;
    QCoreApplication::processEvents();
    QCOMPARE(seen.calls, calls);

    // The port can be opened and listened to again.
    Reception again;
    QCOMPARE(openAtLoaderSettings(9), 0);
    QCOMPARE(InstallComCallback(9, 1, 0, 13, receive, &again), 0);
    camera.say("Bootloader");
    QTRY_COMPARE(again.bytes, std::string("Bootloader"));
}

// ---------------------------------------------------------------------------
// Sending, and both ways at once

void SerialPortsTest::workerWritesWhileUiReadsSamePort()
{
    Camera camera;
    QVERIFY(camera.ok());
    mapPorts("3=" + camera.device);
    QCOMPARE(openAtLoaderSettings(3), 0);
    QCOMPARE(SetComTime(3, 5.0), 0);

    // The worker streams an image in 512-byte blocks while the camera
    // answers and the UI thread reads those answers from the same port.
    const std::string image = pattern(96 * 1024, 7);
    const std::string replies = pattern(6 * 1024, 99);
    std::atomic<int> blocksShort{0};
    std::thread worker([&] {
        for (std::size_t at = 0; at < image.size(); at += 512)
            if (ComWrt(3, image.data() + at, 512) != 512)
                blocksShort.fetch_add(1);
    });
    std::string heard;
    std::thread cameraSide([&] {
        for (std::size_t at = 0; at < replies.size(); at += 64) {
            camera.say(replies.substr(at, 64));
            if (heard.size() < image.size())
                heard += camera.hear(std::min<std::size_t>(1024, image.size() - heard.size()), 100);
        }
        heard += camera.hear(image.size() - heard.size(), 20000);
    });

    std::string read;
    int readError = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (read.size() < replies.size() && Clock::now() < deadline && readError == 0) {
        SetComTime(3, 5.0);  // settings change while the worker writes
        int waiting = GetInQLen(3);
        if (waiting == 0)
            waiting = 1;  // ComRdByte waits for the next one
        for (int i = 0; i < waiting && readError == 0; ++i) {
            const int byte = ComRdByte(3);
            if (byte < 0)
                readError = byte;
            else
                read.push_back(static_cast<char>(byte));
        }
        if (waiting < 0)
            readError = waiting;
    }
    worker.join();
    cameraSide.join();
    QCOMPARE(readError, 0);
    QCOMPARE(blocksShort.load(), 0);
    QVERIFY(read == replies);
    QCOMPARE(heard.size(), image.size());
    QVERIFY(heard == image);
}

void SerialPortsTest::writeComesBackShortWhenCameraStopsReading()
{
    Camera camera;
    QVERIFY(camera.ok());
    mapPorts("3=" + camera.device);
    QCOMPARE(openAtLoaderSettings(3), 0);
    QCOMPARE(SetComTime(3, 0.2), 0);

    const std::string image = pattern(256 * 1024, 3);
    const auto start = Clock::now();
    const int accepted = ComWrt(3, image.data(), int(image.size()));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    QVERIFY2(accepted > 0 && accepted < int(image.size()), qPrintable(QString::number(accepted)));
    QVERIFY2(seconds >= 0.15 && seconds < 2.0, qPrintable(QString::number(seconds)));

    // Nothing more fits: nothing is accepted, which is a time-out.
    QCOMPARE(ComWrt(3, image.data(), 512), int(kComTimeout));

    // What was accepted is what the camera gets.
    QVERIFY(camera.hear(std::size_t(accepted)) == image.substr(0, std::size_t(accepted)));
    QCOMPARE(camera.hear(1, 100), std::string());
}

void SerialPortsTest::injectedStallGivesShortWrite()
{
    Camera camera;
    QVERIFY(camera.ok());
    mapPorts("3=" + camera.device);
    QCOMPARE(openAtLoaderSettings(3), 0);
    QCOMPARE(SetComTime(3, 0.1), 0);
    const std::string block = pattern(512, 1);

    ComInjectShortWrite(3, 100);
    const auto start = Clock::now();
    QCOMPARE(ComWrt(3, block.data(), 512), 100);
    QVERIFY(Clock::now() - start >= std::chrono::milliseconds(90));  // stalled until the time-out
    QVERIFY(camera.hear(100) == block.substr(0, 100));

    ComInjectShortWrite(3, 0);
    QCOMPARE(ComWrt(3, block.data(), 512), int(kComTimeout));

    ComInjectShortWrite(3, -1);
    QCOMPARE(ComWrt(3, block.data(), 512), 512);
    QVERIFY(camera.hear(512) == block);
    QCOMPARE(ComWrt(3, block.data(), 0), 0);
    QCOMPARE(ComWrt(3, nullptr, 5), int(kComArgumentError));
    QCOMPARE(ComWrt(3, block.data(), -1), int(kComArgumentError));
}

void SerialPortsTest::readTimesOutWhenCameraIsSilent()
{
    Camera camera;
    QVERIFY(camera.ok());
    mapPorts("3=" + camera.device);
    QCOMPARE(openAtLoaderSettings(3), 0);

    QCOMPARE(SetComTime(3, 0.05), 0);
    const auto start = Clock::now();
    QCOMPARE(ComRdByte(3), int(kComTimeout));
    const auto waited = Clock::now() - start;
    QVERIFY(waited >= std::chrono::milliseconds(45) && waited < std::chrono::seconds(1));

    // With a byte waiting, the read returns it at once.
    QCOMPARE(SetComTime(3, 5.0), 0);
    camera.say("K");
    QCOMPARE(ComRdByte(3), int('K'));
    QCOMPARE(SetComTime(3, 0.0), 0);
    QCOMPARE(ComRdByte(3), int(kComTimeout));
    QCOMPARE(GetInQLen(3), 0);  // nothing to read is no hang-up
}

// ---------------------------------------------------------------------------
// The cable is pulled

void SerialPortsTest::unpluggedCameraStopsCallbackWithoutSpinning()
{
    Camera camera;
    QVERIFY(camera.ok());
    mapPorts("5=" + camera.device);
    QCOMPARE(openAtLoaderSettings(5), 0);
    Reception seen;
    QCOMPARE(InstallComCallback(5, 1, 0, 13, receive, &seen), 0);
    camera.say("hello");
    QTRY_COMPARE(seen.bytes, std::string("hello"));

    camera.unplug();

    // The event loop runs on without the dead port keeping it busy.
    const double cpuBefore = processCpuSeconds();
    QTest::qWait(1000);
    const double cpu = processCpuSeconds() - cpuBefore;
    qInfo("CPU over 1 s of event loop after the hang-up: %.3f s", cpu);
    QVERIFY2(cpu < 0.2, qPrintable(QString::number(cpu)));

    // The notifier saw the hang-up: the port is failed before anyone reads it.
    QCOMPARE(SetComTime(5, 1.0), int(kComHangUp));
    QCOMPARE(GetInQLen(5), int(kComHangUp));
    QCOMPARE(ComRdByte(5), int(kComHangUp));
    QCOMPARE(ComWrt(5, "START", 5), int(kComHangUp));
    QCOMPARE(FlushInQ(5), int(kComHangUp));
    QCOMPARE(InstallComCallback(5, 1, 0, 13, receive, &seen), int(kComHangUp));
    QCOMPARE(seen.emptyCalls, 0);
    QCOMPARE(seen.bytes, std::string("hello"));

    QCOMPARE(CloseCom(5), 0);
    QCOMPARE(CloseCom(5), int(kComNotOpen));

    // Plugged in again (a new device behind COM5): it opens afresh.
    Camera replugged;
    QVERIFY(replugged.ok());
    mapPorts("5=" + replugged.device);
    QCOMPARE(openAtLoaderSettings(5), 0);
    Reception again;
    QCOMPARE(InstallComCallback(5, 1, 0, 13, receive, &again), 0);
    replugged.say("Bootloader");
    QTRY_COMPARE(again.bytes, std::string("Bootloader"));
}

QTEST_GUILESS_MAIN(SerialPortsTest)
#include "test_serial_ports.moc"
