// The machine's serial devices as the loader sees them: their COM order and
// USB identity over a fake /dev and /sys, numbers that hold still during a
// scan, exclusive use against other programs, a holder scan that never
// hangs, why a refused port was refused, the hang-up callback, the port
// watch and the port doctor's report.
#include "fake_device.h"
#include "holder_process.h"
#include "port_watch.h"
#include "serial.h"
#include "serial_holders.h"
#include "serial_ports_map.h"
#include "visible_text.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <grp.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

int openAtLoaderSettings(int port)
{
    return OpenComConfig(port, "", 115200, 0, 8, 1, 512, -1);
}

void mapPorts(const QString &list)
{
    qputenv("QUORVEL_COM_PORTS", list.toLocal8Bit());
}

bool writeFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

// A fake /sys/class/tty entry whose device link leads to a USB interface
// below a USB device with these attributes.
bool fakeUsbTty(const QString &sys, const QString &name, const QString &busPath, const QByteArray &vendor,
                const QByteArray &product, const QByteArray &productText, const QByteArray &serial)
{
    const QString device = sys + "/devices/" + busPath;
    const QString interface = device + "/" + QFileInfo(busPath).fileName() + ":1.0";
    return QDir().mkpath(interface) && QDir().mkpath(sys + "/class/tty/" + name)
           && QFile::link(interface, sys + "/class/tty/" + name + "/device")
           && writeFile(device + "/idVendor", vendor + "\n") && writeFile(device + "/idProduct", product + "\n")
           && writeFile(device + "/product", productText + "\n") && writeFile(device + "/manufacturer", "Acme\n")
           && writeFile(device + "/serial", serial + "\n");
}

int hangUps = 0;
int lastHangUpMask = 0;
void countHangUp(int, int mask, void *)
{
    ++hangUps;
    lastHangUpMask = mask;
}
void ignoreBytes(int port, int, void *)
{
    while (GetInQLen(port) > 0 && ComRdByte(port) >= 0) {
    }
}

int watchCalls = 0;
void countWatch()
{
    ++watchCalls;
}

// What the holder scan looked at beyond a descriptor's link text.
std::mutex statsLock;
std::vector<std::string> statted;  // guarded by statsLock
void recordStat(const char *path)
{
    std::lock_guard<std::mutex> guard(statsLock);
    statted.emplace_back(path);
}

// A look at a file that never comes back, as a stat() on a dead network
// mount: held until the test lets go (or 20 s, so a broken test ends).
std::mutex stuckLock;
std::condition_variable stuckReleased;
bool stuckFree = false;  // guarded by stuckLock
std::atomic<int> stuckCalls{0};
void hangLikeADeadMount(const char *)
{
    ++stuckCalls;
    std::unique_lock<std::mutex> guard(stuckLock);
    stuckReleased.wait_for(guard, std::chrono::seconds(20), [] { return stuckFree; });
}
void releaseStuckScan()
{
    {
        std::lock_guard<std::mutex> guard(stuckLock);
        stuckFree = true;
    }
    stuckReleased.notify_all();
}

// Names relative to a fake /dev: the device paths COM1.. name now.
QStringList comNames(const QString &dev, int count)
{
    QStringList names;
    for (int port = 1; port <= count; ++port) {
        const QString path = QString::fromStdString(platform::deviceForComPort(port));
        names << (path.startsWith(dev + "/") ? path.mid(dev.size() + 1) : path);
    }
    return names;
}

} // namespace

class PortDevicesTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        for (int port = 1; port <= 9; ++port) {
            CloseCom(port);
            ComInjectOpenError(port, 0, nullptr, 0);
        }
        StopPortWatch();
        qunsetenv("QUORVEL_COM_PORTS");
        ComReleaseNumbering();
        platform::useSerialDeviceTree("", "");
        platform::observeHolderStats(nullptr);
    }

    // ttyACM, ttyUSB, other drivers' devices, then the ttyS with a UART,
    // each with the USB identity sysfs gives it.
    void comOrderAndIdentityOverFakeTree()
    {
        QTemporaryDir root;
        const QString dev = root.filePath("dev"), sys = root.filePath("sys");
        QVERIFY(QDir().mkpath(dev));
        for (const char *name : {"ttyS0", "ttyUSB1", "ttyAMA0", "ttyACM0", "ttyS7", "ttyUSB0", "console", "tty3"})
            QVERIFY(writeFile(dev + "/" + name, ""));
        QVERIFY(fakeUsbTty(sys, "ttyACM0", "usb1/1-2", "1d6b", "0104", "Thermal Camera", "SN42"));
        QVERIFY(fakeUsbTty(sys, "ttyUSB1", "usb1/1-3/1-3.1", "0403", "6001", "FT232R USB UART", "A9XK"));
        QVERIFY(QDir().mkpath(sys + "/class/tty/ttyAMA0/device"));  // a board UART of another driver
        QVERIFY(writeFile(sys + "/class/tty/ttyS0/type", "4"));
        QVERIFY(writeFile(sys + "/class/tty/ttyS7/type", "0"));  // an empty slot

        const auto devices = platform::scanSerialDevices(dev.toStdString(), (sys + "/class/tty").toStdString());
        QStringList paths;
        for (const auto &d : devices)
            paths << QString::fromStdString(d.path).mid(dev.size() + 1);
        QCOMPARE(paths, QStringList({"ttyACM0", "ttyUSB0", "ttyUSB1", "ttyAMA0", "ttyS0"}));
        QCOMPARE(devices[0].vendorId, 0x1d6b);
        QCOMPARE(devices[0].productId, 0x0104);
        QCOMPARE(devices[0].product, std::string("Thermal Camera"));
        QCOMPARE(devices[0].serialNumber, std::string("SN42"));
        QCOMPARE(devices[1].vendorId, -1);  // no sysfs entry: no identity
        QCOMPARE(devices[2].vendorId, 0x0403);  // found two levels above the interface
        QCOMPARE(devices[2].product, std::string("FT232R USB UART"));

        // The operator's list replaces the numbering, identity kept where known.
        mapPorts(QString("5=%1/ttyUSB1,2=/dev/none").arg(dev));
        const auto table = platform::comPortTable(dev.toStdString(), (sys + "/class/tty").toStdString());
        QCOMPARE(table.size(), std::size_t(2));
        QCOMPARE(table.at(5).productId, 0x6001);
        QCOMPARE(table.at(2).path, std::string("/dev/none"));
    }

    // While the numbering is held (a scan), a COM number keeps its device:
    // a newcomer takes the next free number, a device that goes keeps its
    // number and gets it back at the same path; the next hold starts afresh.
    void numbersHoldStillDuringAScan()
    {
        QTemporaryDir root;
        const QString dev = root.filePath("dev"), sys = root.filePath("sys");
        QVERIFY(QDir().mkpath(dev));
        QVERIFY(writeFile(sys + "/ttyS0/type", "4"));
        QVERIFY(writeFile(dev + "/ttyS0", ""));
        QVERIFY(writeFile(dev + "/ttyUSB0", ""));
        platform::useSerialDeviceTree(dev.toStdString(), sys.toStdString());
        QCOMPARE(QString::fromStdString(platform::serialDeviceDirectory()), dev);
        const auto plug = [&](const char *name) {
            QVERIFY(writeFile(dev + "/" + name, ""));
            platform::forgetSerialDevices();  // as the port watch does when a node comes
        };
        const auto unplug = [&](const char *name) {
            QVERIFY(QFile::remove(dev + "/" + name));
            platform::forgetSerialDevices();
        };

        ComHoldNumbering();
        QCOMPARE(comNames(dev, 3), QStringList({"ttyUSB0", "ttyS0", ""}));
        plug("ttyACM0");  // sorts first, yet must not take COM1 from the open ttyUSB0
        QCOMPARE(comNames(dev, 4), QStringList({"ttyUSB0", "ttyS0", "ttyACM0", ""}));
        unplug("ttyACM0");
        plug("ttyACM1");
        QCOMPARE(comNames(dev, 4), QStringList({"ttyUSB0", "ttyS0", "ttyACM0", "ttyACM1"}));
        plug("ttyACM0");  // back at the same path: the same number
        unplug("ttyUSB0");
        QCOMPARE(comNames(dev, 5), QStringList({"ttyUSB0", "ttyS0", "ttyACM0", "ttyACM1", ""}));
        mapPorts(QString("2=%1/ttyACM1").arg(dev));  // the operator's list still rules
        QCOMPARE(comNames(dev, 3), QStringList({"", "ttyACM1", ""}));
        qunsetenv("QUORVEL_COM_PORTS");

        ComReleaseNumbering();
        QCOMPARE(comNames(dev, 4), QStringList({"ttyACM0", "ttyACM1", "ttyS0", ""}));
        unplug("ttyACM0");
        ComHoldNumbering();  // the next scan numbers what is there now
        QCOMPARE(comNames(dev, 3), QStringList({"ttyACM1", "ttyS0", ""}));
    }

    void refusalsSayWhy_data()
    {
        QTest::addColumn<int>("injectedErrno");
        QTest::addColumn<QString>("holder");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("group");
        QTest::newRow("permission denied, dialout may") << EACCES << QString() << 0660 << int(kComSystemError) << "dialout";
        QTest::newRow("permission denied, no group may") << EACCES << QString() << 0620 << int(kComSystemError) << "";
        QTest::newRow("busy, holder unknown") << EBUSY << QString() << 0660 << int(kComBusy) << "";
        QTest::newRow("busy, ModemManager") << EBUSY << QString("ModemManager") << 0660 << int(kComBusy) << "";
    }
    // A refusal is recorded with the device, its group and the holder.
    void refusalsSayWhy()
    {
        QFETCH(int, injectedErrno);
        QFETCH(QString, holder);
        QFETCH(int, mode);
        QFETCH(int, expected);
        QFETCH(QString, group);
        FakeDevice camera;
        if (!camera.giveTo("dialout", static_cast<mode_t>(mode)))
            QSKIP("this user may not give the pty to group dialout");
        mapPorts(QString("3=%1,4=/dev/quorvel-none").arg(camera.path));
        ComInjectOpenError(3, injectedErrno, holder.isEmpty() ? nullptr : "ModemManager", holder.isEmpty() ? 0 : 812);
        ComInjectOpenError(4, injectedErrno, nullptr, 0);

        QCOMPARE(openAtLoaderSettings(3), expected);
        ComOpenFailure f{};
        QCOMPARE(GetComOpenFailure(3, &f), 0);
        QCOMPARE(f.error, expected);
        QCOMPARE(f.systemErrno, injectedErrno);
        QCOMPARE(QString(f.device), camera.path);
        QCOMPARE(QString(f.group), group);
        QCOMPARE(QString(f.holder), holder);
        QCOMPARE(f.holderPid, holder.isEmpty() ? 0 : 812);
        // No device behind the number: nothing to tell, whatever is injected.
        QCOMPARE(openAtLoaderSettings(4), int(kComNoDevice));
        QCOMPARE(GetComOpenFailure(4, &f), 0);
        QCOMPARE(QString(f.device), QString());

        ComInjectOpenError(3, 0, nullptr, 0);
        QCOMPARE(openAtLoaderSettings(3), 0);
        QCOMPARE(GetComOpenFailure(3, &f), 0);
        QCOMPARE(f.error, 0);
    }

    void otherProgramHoldsTheDevice_data()
    {
        QTest::addColumn<bool>("farEnd");
        QTest::newRow("a rival reader is refused") << false;
        QTest::newRow("the line's far end is not a rival") << true;
    }
    // Another process with the device open, as /proc shows it: refused and
    // named, even as root (TIOCEXCL does not stop root); the process that
    // holds the pty's master is the camera's end and does not count.
    void otherProgramHoldsTheDevice()
    {
        QFETCH(bool, farEnd);
        FakeDevice camera;
        mapPorts(QString("2=%1").arg(camera.path));
        HolderProcess other(camera.path.toStdString(), "ModemManager", farEnd);
        QVERIFY(other.holding());
        if (farEnd) {
            QCOMPARE(openAtLoaderSettings(2), 0);
            return;
        }
        QCOMPARE(openAtLoaderSettings(2), int(kComBusy));
        ComOpenFailure f{};
        GetComOpenFailure(2, &f);
        QCOMPARE(QString(f.holder), QString("ModemManager"));
        QCOMPARE(f.holderPid, int(other.pid));
        other.release();
        QCOMPARE(openAtLoaderSettings(2), 0);  // tried again once it let go
    }

    void oneDeviceIsUsedOnce_data()
    {
        QTest::addColumn<bool>("throughLink");
        QTest::newRow("the same path twice") << false;
        QTest::newRow("a link and its target") << true;
    }
    // Two COM numbers on one device: the second is refused as a device this
    // program already uses, never as held by another program.
    void oneDeviceIsUsedOnce()
    {
        QFETCH(bool, throughLink);
        FakeDevice camera;
        QTemporaryDir dir;
        const QString alias = throughLink ? dir.filePath("camera") : camera.path;
        if (throughLink)
            QVERIFY(QFile::link(camera.path, alias));
        mapPorts(QString("1=%1,6=%2").arg(camera.path, alias));
        QCOMPARE(openAtLoaderSettings(1), 0);
        QCOMPARE(openAtLoaderSettings(6), int(kComBusy));
        ComOpenFailure f{};
        QCOMPARE(GetComOpenFailure(6, &f), 0);
        QCOMPARE(f.ownPort, 1);
        QCOMPARE(QString(f.holder), QString());
        CloseCom(1);
        QCOMPARE(openAtLoaderSettings(6), 0);
        QCOMPARE(GetComOpenFailure(6, &f), 0);
        QCOMPARE(f.ownPort, 0);
    }

    // A desktop process holding 19,900 files beside the device: the scan
    // names it, and looks beyond the link text only at the device's file,
    // never at the FIFO's 19,900 (a look that could hang on a dead mount).
    void holderScanLooksOnlyAtTheDevice()
    {
        FakeDevice camera;
        QTemporaryDir dir;
        const QByteArray fifo = dir.filePath("fifo").toLocal8Bit();
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        constexpr int kOtherFiles = 19900;
        HolderProcess busy(camera.path.toStdString(), "busydesktop",
                           HolderOptions{false, false, fifo.constData(), kOtherFiles});
        if (!busy.holding())
            QSKIP("this user may not hold 19,900 files in one process");
        {
            std::lock_guard<std::mutex> guard(statsLock);
            statted.clear();
        }
        platform::observeHolderStats(recordStat);
        std::vector<double> took;
        std::vector<platform::DeviceHolder> holders;
        for (int run = 0; run < 5; ++run) {
            QElapsedTimer timer;
            timer.start();
            holders = platform::findDeviceHolders(camera.path.toStdString());
            took.push_back(timer.nsecsElapsed() / 1e6);
        }
        std::sort(took.begin(), took.end());
        qInfo("holder scan with %d files held by one process: median %.1f ms (%.1f..%.1f)", kOtherFiles,
              took[2], took.front(), took.back());
        QCOMPARE(holders.size(), std::size_t(1));
        QCOMPARE(holders[0].pid, int(busy.pid));
        QCOMPARE(QString::fromStdString(holders[0].program), QString("busydesktop"));
        std::lock_guard<std::mutex> guard(statsLock);
        QCOMPARE(statted.size(), std::size_t(5));  // one file per scan: the device's
        for (const std::string &path : statted)
            QVERIFY2(QString::fromStdString(path).startsWith(QString("/proc/%1/fd/").arg(busy.pid)), path.c_str());
    }

    // A holder scan held up in the kernel: an open waits at most the
    // budget, the port is refused as held by an unnamed program (or, when
    // only the scan could tell, taken on the locks alone), no second scan
    // piles up, and the holder is named again once the scan is free.
    void holderScanStuckInTheKernel()
    {
        FakeDevice locked, plain;
        mapPorts(QString("2=%1,3=%2").arg(locked.path, plain.path));
        HolderProcess monitor(locked.path.toStdString(), "serialmon", HolderOptions{false, true, nullptr, 0});
        HolderProcess prober(plain.path.toStdString(), "prober");
        QVERIFY(monitor.holding() && prober.holding());
        {
            std::lock_guard<std::mutex> guard(stuckLock);
            stuckFree = false;
        }
        stuckCalls = 0;
        platform::observeHolderStats(hangLikeADeadMount);

        QElapsedTimer timer;
        timer.start();
        QCOMPARE(openAtLoaderSettings(2), int(kComBusy));
        const qint64 refusedIn = timer.elapsed();
        ComOpenFailure f{};
        GetComOpenFailure(2, &f);
        QCOMPARE(QString(f.holder), QString());  // "another program"
        QCOMPARE(f.holderPid, 0);
        QTRY_COMPARE(stuckCalls.load(), 1);
        timer.restart();
        QCOMPARE(openAtLoaderSettings(3), 0);  // only /proc could tell: the locks let it through
        const qint64 openedIn = timer.elapsed();
        QCOMPARE(stuckCalls.load(), 1);        // the stuck scan was not joined by another
        qInfo("with the holder scan stuck: refused in %lld ms, opened in %lld ms", refusedIn, openedIn);
        QVERIFY2(refusedIn < 2000, qPrintable(QString::number(refusedIn)));
        QVERIFY2(openedIn < 500, qPrintable(QString::number(openedIn)));
        CloseCom(3);

        releaseStuckScan();
        platform::observeHolderStats(nullptr);
        std::vector<platform::DeviceHolder> holders;
        QTRY_VERIFY(platform::findDeviceHoldersWithin(locked.path.toStdString(), platform::kHolderScanBudget,
                                                      &holders));
        QCOMPARE(openAtLoaderSettings(2), int(kComBusy));
        GetComOpenFailure(2, &f);
        QCOMPARE(QString(f.holder), QString("serialmon"));
        QCOMPARE(f.holderPid, int(monitor.pid));
        QCOMPARE(openAtLoaderSettings(3), int(kComBusy));  // and the prober is seen again
    }

    // The hang-up callback comes once, after the port is marked failed; a
    // closed port's never.
    void hangUpCallbackOncePerUnplug()
    {
        hangUps = 0;
        FakeDevice first, second;
        mapPorts(QString("7=%1,8=%2").arg(first.path, second.path));
        for (int port : {7, 8}) {
            QCOMPARE(openAtLoaderSettings(port), 0);
            QCOMPARE(InstallComCallback(port, 1, 0, 13, ignoreBytes, nullptr), 0);
            QCOMPARE(InstallComHangUpCallback(port, countHangUp, nullptr), 0);
        }
        CloseCom(8);
        second.unplug();
        first.unplug();
        QTRY_COMPARE(hangUps, 1);
        QCOMPARE(lastHangUpMask, kComEventHangUp);
        QCOMPARE(GetInQLen(7), int(kComHangUp));
        QTest::qWait(200);  // more event-loop passes over the dead line
        QCOMPARE(hangUps, 1);
        QCOMPARE(InstallComHangUpCallback(9, countHangUp, nullptr), int(kComNotOpen));
    }

    // The watch calls about once a period, and at once when a node appears
    // in the directory of a listed device; nothing after it is stopped.
    void portWatchPeriodAndNewNodes()
    {
        QTemporaryDir dir;
        mapPorts(QString("1=%1").arg(dir.filePath("camera")));
        watchCalls = 0;
        StartPortWatch(countWatch, 0.1);
        QVERIFY(PortWatchRunning());
        QTRY_VERIFY_WITH_TIMEOUT(watchCalls >= 3, 5000);
        StopPortWatch();

        watchCalls = 0;
        StartPortWatch(countWatch, 60.0);  // the period cannot explain a call now
        QVERIFY(writeFile(dir.filePath("camera"), ""));
        QTRY_VERIFY_WITH_TIMEOUT(watchCalls >= 1, 5000);
        StopPortWatch();
        QVERIFY(!PortWatchRunning());
        const int seen = watchCalls;
        QVERIFY(writeFile(dir.filePath("other"), ""));
        QTest::qWait(300);
        QCOMPARE(watchCalls, seen);
    }

    void portDoctor_data()
    {
        QTest::addColumn<bool>("withFreePort");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("one usable port") << true << 0;
        QTest::newRow("only a held port") << false << 1;
    }
    // quorvel-ports over a fake /dev and /sys whose nodes lead to ptys.
    void portDoctor()
    {
        QFETCH(bool, withFreePort);
        QFETCH(int, exitCode);
        FakeDevice camera, modem;
        QTemporaryDir root;
        const QString dev = root.filePath("dev"), sys = root.filePath("sys");
        QVERIFY(QDir().mkpath(dev));
        if (withFreePort)
            QVERIFY(QFile::link(camera.path, dev + "/ttyACM0"));
        QVERIFY(QFile::link(modem.path, dev + "/ttyUSB0"));
        QVERIFY(fakeUsbTty(sys, "ttyACM0", "usb1/1-2", "1d6b", "0104", "Thermal Camera", "SN42"));
        HolderProcess modemManager(modem.path.toStdString(), "ModemManager");
        QVERIFY(modemManager.holding());

        QProcess doctor;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QUORVEL_COM_PORTS");
        doctor.setProcessEnvironment(env);
        doctor.start(QUORVEL_PORTS_TOOL, {"--dev", dev, "--sys", sys + "/class/tty"});
        QVERIFY(doctor.waitForFinished(30000));
        const QString out = QString::fromLocal8Bit(doctor.readAllStandardOutput());
        QCOMPARE(doctor.exitCode(), exitCode);
        const QString held = QString("COM%1 ").arg(withFreePort ? 2 : 1);
        QVERIFY2(out.contains(QRegularExpression(held + " *" + QRegularExpression::escape(dev)
                                                 + "/ttyUSB0 .*NOT usable")), qPrintable(out));
        QVERIFY2(out.contains(QString("in use by ModemManager, pid %1").arg(modemManager.pid)), qPrintable(out));
        if (withFreePort) {
            QVERIFY2(out.contains(QRegularExpression("COM1  *" + QRegularExpression::escape(dev)
                                                     + "/ttyACM0 *USB 1d6b:0104 Acme \"Thermal Camera\", serial SN42: usable")),
                     qPrintable(out));
            QVERIFY(out.contains("1 usable port(s)."));
        } else {
            QVERIFY(out.contains("0 usable port(s)."));
        }
    }

    void visibleText_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("plain") << QByteArray("ModemManager") << QByteArray("ModemManager");
        QTest::newRow("accented UTF-8 kept") << QByteArray("Caméra thermique") << QByteArray("Caméra thermique");
        QTest::newRow("escape sequence") << QByteArray("\x1b]0;owned\x07x") << QByteArray("\\x1b]0;owned\\x07x");
        QTest::newRow("newline, tab, DEL") << QByteArray("a\nb\tc\x7f") << QByteArray("a\\x0ab\\x09c\\x7f");
        QTest::newRow("C1 control, the one-byte CSI") << QByteArray("a\xc2\x9b" "2J") << QByteArray("a\\xc2\\x9b2J");
        QTest::newRow("no-break space kept") << QByteArray("a\xc2\xa0" "b") << QByteArray("a\xc2\xa0" "b");
        QTest::newRow("Latin-1, not UTF-8") << QByteArray("Cam\xe9ra") << QByteArray("Cam\\xe9ra");
        QTest::newRow("stray continuation") << QByteArray("\x80z") << QByteArray("\\x80z");
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << QByteArray("\\xc0\\xaf");
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << QByteArray("\\xed\\xa0\\x80");
        QTest::newRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << QByteArray("\\xf4\\x90\\x80\\x80");
        QTest::newRow("cut at the end") << QByteArray("\xe2\x82") << QByteArray("\\xe2\\x82");
        QTest::newRow("backslash cannot forge an escape") << QByteArray("\\x1b") << QByteArray("\\\\x1b");
    }
    // Outside text as the port doctor prints it.
    void visibleText()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, shown);
        QCOMPARE(QByteArray::fromStdString(::visibleText(text.toStdString())), shown);
    }

    // A process named with terminal escapes, USB strings and a device name
    // with control bytes: the doctor's output shows them, never sends them.
    void portDoctorShowsOutsideTextSafely()
    {
        FakeDevice camera, modem;
        QTemporaryDir root;
        const QString dev = root.filePath("dev"), sys = root.filePath("sys");
        QVERIFY(QDir().mkpath(dev));
        QVERIFY(QFile::link(camera.path, dev + "/ttyACM0"));
        const QString oddName = QString::fromLatin1("rfcomm\x1b[2J");
        QVERIFY(QFile::link(modem.path, dev + "/" + oddName));
        QVERIFY(QDir().mkpath(sys + "/class/tty/" + oddName + "/device"));
        QVERIFY(fakeUsbTty(sys, "ttyACM0", "usb1/1-2", "1d6b", "0104", "Cam\x1b]0;owned\x07", "S\xff" "1"));
        HolderProcess rogue(modem.path.toStdString(), "\x1b[31mred\x7f");
        QVERIFY(rogue.holding());

        QProcess doctor;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QUORVEL_COM_PORTS");
        doctor.setProcessEnvironment(env);
        doctor.start(QUORVEL_PORTS_TOOL, {"--dev", dev, "--sys", sys + "/class/tty"});
        QVERIFY(doctor.waitForFinished(30000));
        const QByteArray out = doctor.readAllStandardOutput();
        for (char c : out)
            QVERIFY2((static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) || c == '\n', out.constData());
        QVERIFY2(out.contains("\"Cam\\x1b]0;owned\\x07\", serial S\\xff1: usable"), out.constData());
        QVERIFY2(out.contains("/rfcomm\\x1b[2J"), out.constData());
        QVERIFY2(out.contains(QByteArray("in use by \\x1b[31mred\\x7f, pid ") + QByteArray::number(rogue.pid)),
                 out.constData());
    }
};

QTEST_MAIN(PortDevicesTest)
#include "test_port_devices.moc"
