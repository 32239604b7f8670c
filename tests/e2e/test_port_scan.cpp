// The scan as an operator meets it on a real PC: the camera's port appears
// after Ok (beside ports already open), vanishes and comes back, is refused
// or held by another program, no port opens at all or none answers, or the
// camera is unplugged during the update.
#include "fake_device.h"
#include "holder_process.h"
#include "loader_state.h"
#include "messages.h"
#include "package_file.h"
#include "program_fixture.h"
#include "serial_ports_map.h"
#include "simcam.h"
#include "ui_constants.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <ctime>
#include <grp.h>
#include <memory>
#include <sys/stat.h>

using namespace fixture;

namespace {

constexpr int kUpdateTimeoutMs = 30000;

QByteArray installPackage(int size)
{
    const QByteArray image = randomImage(size, 4417);
    writePackage(packagePath(), QByteArray("1.5 %1 2.05 777\n").replace("%1", QByteArray::number(size)),
                 image + randomImage(777, 6083));
    return image;
}

void mapPorts(const QString &list)
{
    qputenv("QUORVEL_COM_PORTS", list.toLocal8Bit());
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

bool idle()
{
    return intAttribute(GO, ATTR_VISIBLE) == 1 && intAttribute(STOP, ATTR_VISIBLE) == 0;
}

std::unique_ptr<SimCamera> plugIn(SimCameraOptions options)
{
    auto cam = std::make_unique<SimCamera>(std::move(options));
    std::string error;
    if (!cam->start(&error))
        qFatal("simulated camera: %s", error.c_str());
    return cam;
}

} // namespace

class PortScanTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        for (int port = 1; port <= 49; ++port)
            ComInjectOpenError(port, 0, nullptr, 0);
        qunsetenv("QUORVEL_COM_PORTS");
        platform::useSerialDeviceTree("", "");
    }

    // A PC with its own UART (ttyS0) and a USB adapter (ttyUSB0), both open
    // at Ok. The camera's ttyACM0 comes 2 s later and would sort before
    // both: it takes the next free number, COM3, is opened at once and
    // updated, while COM1 and COM2 keep their devices. The port doctor's
    // numbers are the Start's; the next Start numbers afresh.
    void cameraBesideOpenPortsIsUpdated()
    {
        const QByteArray image = installPackage(3000);
        QTemporaryDir root;
        const QString dev = root.filePath("dev"), sys = root.filePath("sys");
        QVERIFY(QDir().mkpath(dev) && QDir().mkpath(sys + "/ttyS0"));
        QFile type(sys + "/ttyS0/type");
        QVERIFY(type.open(QIODevice::WriteOnly) && type.write("4\n") == 2);  // a 16550A answers
        type.close();
        FakeDevice uart, adapter;
        QVERIFY(QFile::link(uart.path, dev + "/ttyS0") && QFile::link(adapter.path, dev + "/ttyUSB0"));
        platform::useSerialDeviceTree(dev.toStdString(), sys.toStdString());

        // What quorvel-ports --dev --sys prints for this tree (run in this
        // process: a child started here would stop ThreadSanitizer's runs).
        const auto doctor = platform::comPortTable(dev.toStdString(), sys.toStdString());
        QCOMPARE(doctor.size(), std::size_t(2));
        QCOMPARE(QString::fromStdString(doctor.at(1).path), dev + "/ttyUSB0");
        QCOMPARE(QString::fromStdString(doctor.at(2).path), dev + "/ttyS0");

        std::unique_ptr<SimCamera> cam;
        runProgram([&] {
            pressStart();
            QCOMPARE(loader.portStatus[1], 0);
            QCOMPARE(loader.portStatus[2], 0);
            QCOMPARE(QString(ComDevicePath(1)), dev + "/ttyUSB0");
            QCOMPARE(QString(ComDevicePath(2)), dev + "/ttyS0");
            const double okAt = Timer();
            QTRY_VERIFY_WITH_TIMEOUT(Timer() - okAt >= 2.0, 5000);  // the camera is switched on late

            SimCameraOptions o;
            o.symlinkPath = (dev + "/ttyACM0").toStdString();
            o.eraseSeconds = o.programSeconds = 0.3;
            QElapsedTimer appeared;
            appeared.start();
            cam = plugIn(o);
            QTRY_COMPARE_WITH_TIMEOUT(loader.portStatus[3], 0, 1000);
            qInfo("ttyACM0 opened as COM3 %lld ms after it appeared", appeared.elapsed());
            QCOMPARE(QString(ComDevicePath(3)), dev + "/ttyACM0");
            QCOMPARE(QString(ComDevicePath(1)), dev + "/ttyUSB0");
            QTRY_COMPARE(loader.connectedPort.load(), 3);
            QTRY_VERIFY_WITH_TIMEOUT(log().contains("Operation successful!"), kUpdateTimeoutMs);
            const SimCameraReport r = cam->report();
            QCOMPARE(QString::fromStdString(r.verdict), QString("OK"));
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(r.image.data()), int(r.image.size())), image);
            QVERIFY2(!log().contains("in use"), qPrintable(log()));

            pressStart();
            QCOMPARE(QString(ComDevicePath(1)), dev + "/ttyACM0");
            QCOMPARE(QString(ComDevicePath(2)), dev + "/ttyUSB0");
            QCOMPARE(QString(ComDevicePath(3)), dev + "/ttyS0");
            QCOMPARE(loader.portStatus[1], 0);
            QCOMPARE(loader.portStatus[3], 0);
            click("STOP");
        });
    }

    void listenedPortsAreNamed_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("expected");  // %1 device
        QTest::newRow("English") << 0
            << "Listening on COM1 (%1) for 10 s: no camera has answered. Check that the camera was "
               "started in its Bootloader (F1 and F3 held at power-on) and that the USB cable is plugged "
               "in; run 'quorvel-ports' to see this PC's serial ports.\n";
        QTest::newRow("French") << 1
            << "À l'écoute de COM1 (%1) depuis 10 s : aucune caméra n'a répondu. Vérifiez que la caméra "
               "a été démarrée dans son Bootloader (F1 et F3 appuyées à la mise sous tension) et que le "
               "câble USB est branché ; lancez 'quorvel-ports' pour voir les ports série du PC.\n";
    }
    // A port opens and nothing answers on it (the PC's own serial port, a
    // camera not in its Bootloader): 10 s after Ok one line names what is
    // listened to and what to check. The same device under a second COM
    // number is listened to once and is no one else's.
    void listenedPortsAreNamed()
    {
        QFETCH(int, language);
        QFETCH(QString, expected);
        installPackage(512);
        FakeDevice silent;
        QTemporaryDir dir;
        const QString alias = dir.filePath("serial0");
        QVERIFY(QFile::link(silent.path, alias));
        mapPorts(QString("1=%1,2=%2,4=/dev/quorvel-absent").arg(silent.path, alias));
        const QString line = expected.arg(silent.path);
        runProgram([&] {
            if (language == 1)
                click("LANGU");
            pressStart();
            const double okAt = Timer();
            QCOMPARE(loader.portStatus[1], 0);
            QVERIFY(loader.portStatus[2] < 0);
            QTRY_VERIFY_WITH_TIMEOUT(log().contains(line), 15000);
            const double toldAt = Timer();
            QVERIFY(toldAt - okAt >= 9.5);
            QTRY_VERIFY_WITH_TIMEOUT(Timer() - toldAt > 2.5, 5000);  // more tries: said once
            QCOMPARE(log().count(line), 1);
            QVERIFY2(!log().contains("COM2"), qPrintable(log()));
            QVERIFY(!log().contains(QString::fromUtf8(Msg(MSG_NO_PORT_OPENED, language))));
            click("STOP");
        });
    }

    // The camera's port shows up 2 s after the operator's Ok (it is powered
    // on in its bootloader late): it is opened and the update goes through.
    void cameraAppearingAfterOkIsUpdated()
    {
        const QByteArray image = installPackage(3000);
        QTemporaryDir dir;
        const QString link = dir.filePath("camera");
        mapPorts(QString("1=%1").arg(link));
        std::unique_ptr<SimCamera> cam;
        runProgram([&] {
            pressStart();
            QCOMPARE(loader.portStatus[1], int(kComNoDevice));
            QTest::qWait(2000);  // the operator was a little early
            SimCameraOptions o;
            o.symlinkPath = link.toStdString();
            o.eraseSeconds = o.programSeconds = 0.3;
            QElapsedTimer appeared;
            appeared.start();
            cam = plugIn(o);
            QTRY_VERIFY_WITH_TIMEOUT(cam->report(false).heardStart, 5000);
            qInfo("START reached the camera %lld ms after its port appeared", appeared.elapsed());
            QTRY_VERIFY_WITH_TIMEOUT(log().contains("Operation successful!"), kUpdateTimeoutMs);
            const SimCameraReport r = cam->report();
            QCOMPARE(QString::fromStdString(r.verdict), QString("OK"));
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(r.image.data()), int(r.image.size())), image);
            QCOMPARE(labelOf(BOOT), QString("Not connected"));
        });
    }

    // A listened port whose device re-enumerates: it hangs up, is closed,
    // and is opened again when the device is back at the same path.
    void portVanishesAndComesBack()
    {
        installPackage(512);
        QTemporaryDir dir;
        const QString link = dir.filePath("ttyACM0");
        auto first = std::make_unique<FakeDevice>();
        QVERIFY(QFile::link(first->path, link));
        mapPorts(QString("1=%1").arg(link));
        runProgram([&] {
            pressStart();
            QCOMPARE(loader.portStatus[1], 0);
            QVERIFY(QFile::remove(link));  // the node goes as the device leaves the bus
            first->unplug();
            QTRY_VERIFY(loader.portStatus[1] < 0);
            QCOMPARE(openDescriptorsOn(first->path), 0);

            FakeDevice second;
            QVERIFY(QFile::link(second.path, link));
            QTRY_COMPARE_WITH_TIMEOUT(loader.portStatus[1], 0, 5000);
            QVERIFY(second.send("\r\nBootloader v2.10 - RZ4417\r\n"));
            QTRY_COMPARE(loader.connectedPort.load(), 1);
            QByteArray heard;
            QTRY_VERIFY((heard += second.drain()).contains("START"));
            click("STOP");
            QTRY_VERIFY(second.hungUp());
            QVERIFY(!log().contains("COM1 ("));  // a device that comes and goes is nothing to report
        });
    }

    void refusedPortIsExplained_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<int>("injectedErrno");
        QTest::addColumn<bool>("namedHolder");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("expected");  // %1 device
        QTest::newRow("permission, English") << 0 << EACCES << false << 0660
            << "COM3 (%1): permission denied. Your account must be in the 'dialout' group "
               "(sudo usermod -aG dialout $USER), then log out and in again.\n";
        QTest::newRow("permission, French") << 1 << EACCES << false << 0660
            << "COM3 (%1) : accès refusé. Votre compte doit être dans le groupe 'dialout' "
               "(sudo usermod -aG dialout $USER), puis fermez la session et reconnectez-vous.\n";
        QTest::newRow("permission, no group, English") << 0 << EACCES << false << 0600
            << "COM3 (%1): permission denied, and no group may use this device. Ask your administrator "
               "to give it to the 'dialout' group (a udev rule).\n";
        QTest::newRow("permission, no group, French") << 1 << EACCES << false << 0600
            << "COM3 (%1) : accès refusé, et aucun groupe ne peut utiliser ce périphérique. Demandez à "
               "l'administrateur de le confier au groupe 'dialout' (une règle udev).\n";
        QTest::newRow("ModemManager, English") << 0 << EBUSY << true << 0660
            << "COM3 (%1): in use by ModemManager, pid 812. Close that program; the port is tried again every second.\n";
        QTest::newRow("ModemManager, French") << 1 << EBUSY << true << 0660
            << "COM3 (%1) : utilisé par ModemManager, pid 812. Fermez ce programme ; le port est réessayé chaque seconde.\n";
        QTest::newRow("unknown holder, English") << 0 << EBUSY << false << 0660
            << "COM3 (%1): in use by another program. Close it; the port is tried again every second.\n";
        QTest::newRow("unknown holder, French") << 1 << EBUSY << false << 0660
            << "COM3 (%1) : utilisé par un autre programme. Fermez-le ; le port est réessayé chaque seconde.\n";
    }
    // A device that exists but cannot be used gets one line, once, in the
    // operator's language; a number with no device gets none; the port is
    // used as soon as the refusal ends.
    void refusedPortIsExplained()
    {
        QFETCH(int, language);
        QFETCH(int, injectedErrno);
        QFETCH(bool, namedHolder);
        QFETCH(int, mode);
        QFETCH(QString, expected);
        installPackage(512);
        FakeDevice camera;
        if (!camera.giveTo("dialout", static_cast<mode_t>(mode)))
            QSKIP("this user may not give the pty to group dialout");
        mapPorts(QString("3=%1,5=/dev/quorvel-absent").arg(camera.path));
        ComInjectOpenError(3, injectedErrno, namedHolder ? "ModemManager" : nullptr, namedHolder ? 812 : 0);
        const QString line = expected.arg(camera.path);
        runProgram([&] {
            if (language == 1)
                click("LANGU");
            pressStart();
            QVERIFY(loader.portStatus[3] < 0);
            QTRY_VERIFY_WITH_TIMEOUT(log().contains(line), 5000);
            const double toldAt = Timer();
            QTRY_VERIFY_WITH_TIMEOUT(Timer() - toldAt > 2.5, 5000);  // two more tries
            QCOMPARE(log().count(line), 1);
            QVERIFY(!log().contains("COM5"));

            ComInjectOpenError(3, 0, nullptr, 0);
            QTRY_COMPARE_WITH_TIMEOUT(loader.portStatus[3], 0, 5000);
            QVERIFY(camera.send("\r\nBootloader v2.10 - RZ4417\r\n"));
            QTRY_COMPARE(loader.connectedPort.load(), 3);
            click("STOP");
        });
    }

    // Another program has the camera's port open: the scan skips it, says
    // who holds it, and takes the port once that program lets go.
    void portHeldByAnotherProcess()
    {
        installPackage(512);
        FakeDevice camera;
        mapPorts(QString("2=%1").arg(camera.path));
        HolderProcess monitor(camera.path.toStdString(), "serialmon");
        QVERIFY(monitor.holding());
        const QString line = QString("COM2 (%1): in use by serialmon, pid %2.").arg(camera.path).arg(monitor.pid);
        runProgram([&] {
            pressStart();
            QCOMPARE(loader.portStatus[2], int(kComBusy));
            QCOMPARE(openDescriptorsOn(camera.path), 0);
            QTRY_VERIFY_WITH_TIMEOUT(log().contains(line), 5000);
            monitor.release();
            QTRY_COMPARE_WITH_TIMEOUT(loader.portStatus[2], 0, 5000);
            QVERIFY(camera.send("\r\nBootloader v2.10 - RZ4417\r\n"));
            QTRY_COMPARE(loader.connectedPort.load(), 2);
            click("STOP");
        });
    }

    // 49 COM numbers, none with a device: after 10 s one line says so; the
    // once-a-second tries cost almost nothing.
    void noPortAtAll()
    {
        installPackage(512);
        QStringList absent;
        for (int port = 1; port <= 49; ++port)
            absent << QString("%1=/dev/quorvel-absent-%1").arg(port);
        mapPorts(absent.join(','));
        const QString line = "No serial port could be opened for 10 s. Check that the USB cable is plugged in "
                             "and the camera is in its Bootloader; run 'quorvel-ports' to see this PC's serial ports.\n";
        runProgram([&] {
            pressStart();
            const double okAt = Timer();
            const double cpuAtOk = processCpuSeconds();
            QTRY_VERIFY_WITH_TIMEOUT(log().contains(line), 20000);
            const double waited = Timer() - okAt;
            const double cpu = processCpuSeconds() - cpuAtOk;
            qInfo("Scanning 49 absent ports: %.3f s of CPU in %.1f s (%.2f %% of a core)", cpu, waited,
                  100.0 * cpu / waited);
            QVERIFY(waited >= 9.5);
            QVERIFY2(cpu / waited < 0.05, qPrintable(QString("%1 s of CPU").arg(cpu)));
            QTRY_VERIFY_WITH_TIMEOUT(Timer() - okAt > waited + 1.5, 5000);
            QCOMPARE(log().count(line), 1);
            QVERIFY(!log().contains("COM"));
            click("STOP");
            QVERIFY(!PortWatchRunning());
        });
    }

    void cameraUnpluggedDuringUpdate_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<bool>("whileErasing");
        QTest::addColumn<QString>("expected");
        QTest::newRow("while it erases") << 0 << true << "\nThe camera was disconnected: update stopped.\n";
        QTest::newRow("while it erases, French") << 1 << true << "\nLa caméra a été déconnectée : mise à jour arrêtée.\n";
        QTest::newRow("while the image goes out") << 0 << false << "\nThe camera was disconnected: update stopped.\n";
    }
    // The cable is pulled during the update: the log says so, the update
    // ends as Stop ends it, and the next Start updates the next camera.
    void cameraUnpluggedDuringUpdate()
    {
        QFETCH(int, language);
        QFETCH(bool, whileErasing);
        QFETCH(QString, expected);
        const QByteArray image = installPackage(whileErasing ? 1000 : 400000);
        SimCameraOptions o;
        o.eraseSeconds = 30;  // pulled long before the erase ends
        o.lineRate = 11520;
        if (!whileErasing)
            o.hangUpAfterBytes = 20000;
        auto cam = plugIn(o);
        mapPorts(QString("4=%1").arg(QString::fromStdString(cam->devicePath())));
        runProgram([&] {
            if (language == 1)
                click("LANGU");
            pressStart();
            if (whileErasing) {
                QTRY_COMPARE_WITH_TIMEOUT(loader.reportedStep, kStepFileReceived, kUpdateTimeoutMs);
                cam->stop();  // the cable is pulled
            }
            QTRY_VERIFY_WITH_TIMEOUT(log().contains(expected), kUpdateTimeoutMs);
            QCOMPARE(loader.connectedPort.load(), 0);
            QCOMPARE(loader.transferActive.load(), 0);
            QCOMPARE(loader.threadPool, 0);  // the worker was stopped before the port closed
            QVERIFY(!loader.workerRunning);
            QVERIFY(GetInQLen(4) < 0);
            QVERIFY(idle());
            QCOMPARE(intAttribute(TIMER, ATTR_ENABLED), 0);
            QCOMPARE(intValue(BOOT), 0);
            QCOMPARE(intAttribute(PICTURE, ATTR_VISIBLE), 0);
            QVERIFY(!log().contains(Msg(MSG_SUCCESS, language)));

            // The next camera on the desk.
            SimCameraOptions next;
            next.eraseSeconds = next.programSeconds = 0.3;
            auto cam2 = plugIn(next);
            mapPorts(QString("4=%1").arg(QString::fromStdString(cam2->devicePath())));
            pressStart();
            QTRY_VERIFY_WITH_TIMEOUT(log().contains(Msg(MSG_SUCCESS, language)), kUpdateTimeoutMs);
            const SimCameraReport r = cam2->report();
            QCOMPARE(QString::fromStdString(r.verdict), QString("OK"));
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(r.image.data()), int(r.image.size())), image);
        });
    }

    void cameraRebootsRightAfterWriteOk_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<double>("rebootDelay");
        QTest::newRow("English, 50 ms") << 0 << 0.05;
        QTest::newRow("French, 2 ms") << 1 << 0.002;
    }
    // The camera restarts into its new firmware right after "WRITE OK",
    // before the next one-second mark: the flash is written, so the update
    // is a success, and nothing afterwards says otherwise. 2 ms: the reply
    // is the loader's before the line's hang-up takes the unread input.
    void cameraRebootsRightAfterWriteOk()
    {
        QFETCH(int, language);
        QFETCH(double, rebootDelay);
        installPackage(3000);
        SimCameraOptions o;
        o.eraseSeconds = o.programSeconds = 0.2;
        o.rebootAfterWrite = true;
        o.rebootDelay = rebootDelay;
        auto cam = plugIn(o);
        mapPorts(QString("4=%1").arg(QString::fromStdString(cam->devicePath())));
        runProgram([&] {
            if (language == 1)
                click("LANGU");
            pressStart();
            QTRY_VERIFY_WITH_TIMEOUT(log().contains(Msg(MSG_SUCCESS, language)), kUpdateTimeoutMs);
            QCOMPARE(QString::fromStdString(cam->report().verdict), QString("OK, rebooted"));
            QVERIFY(inOrder(log(), {"WRITE OK", Msg(MSG_SUCCESS, language)}));
            QCOMPARE(intAttribute(SLIDE, ATTR_FILL_COLOR), 0x00FF00);
            QCOMPARE(intValue(BOOT), 0);
            QCOMPARE(intValue(LED2), 0);
            QVERIFY(idle());
            QVERIFY(GetInQLen(4) < 0);
            // Two more seconds: no tick, hang-up or retry turns it into a failure.
            QTest::qWait(2000);
            QVERIFY(!log().contains(Msg(MSG_CAMERA_DISCONNECTED, language)));
            QCOMPARE(log().count(Msg(MSG_SUCCESS, language)), 1);
            QCOMPARE(intAttribute(SLIDE, ATTR_FILL_COLOR), 0x00FF00);
        });
    }

    void instructionsSpeakOfLinux_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("firstStep");
        QTest::addColumn<QString>("groupRemark");
        QTest::newRow("English") << 0 << "   1. Switch off the camera.\n" << "member of the 'dialout' group";
        QTest::newRow("French") << 1 << "   1. Eteindre la caméra.\n" << "membre du groupe 'dialout'";
    }
    // The steps stay; the remark tells a Linux operator that no driver is
    // needed and which group the account needs.
    void instructionsSpeakOfLinux()
    {
        QFETCH(int, language);
        QFETCH(QString, firstStep);
        QFETCH(QString, groupRemark);
        const QString text = QString::fromUtf8(Msg(MSG_INSTRUCTIONS_LINUX, language));
        QVERIFY(text.startsWith(firstStep));
        QCOMPARE(text.count(QRegularExpression("^   [1-4]\\. ", QRegularExpression::MultilineOption)), 4);
        QVERIFY(text.contains(groupRemark));
        QVERIFY(!text.contains("Program Files"));
        QVERIFY(!text.contains("WindowsUSBSerialDrivers"));
    }
};

QTEST_MAIN(PortScanTest)
#include "test_port_scan.moc"
