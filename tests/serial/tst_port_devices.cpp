// The machine's serial devices as the loader sees them: their COM order and
// USB identity over a fake /dev and /sys, exclusive use against other
// programs, why a refused port was refused, the hang-up callback, the port
// watch and the port doctor's report.
#include "fake_device.h"
#include "holder_process.h"
#include "port_watch.h"
#include "serial.h"
#include "serial_holders.h"
#include "serial_ports_map.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

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

    // Two COM numbers on one device: the second open is refused by the
    // lock on the first descriptor, which root cannot bypass.
    void oneDeviceIsUsedOnce()
    {
        FakeDevice camera;
        mapPorts(QString("1=%1,6=%1").arg(camera.path));
        QCOMPARE(openAtLoaderSettings(1), 0);
        QCOMPARE(openAtLoaderSettings(6), int(kComBusy));
        CloseCom(1);
        QCOMPARE(openAtLoaderSettings(6), 0);
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
};

QTEST_MAIN(PortDevicesTest)
#include "tst_port_devices.moc"
