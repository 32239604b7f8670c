// Start, Stop, the close box and the port scan, with pseudo-terminals in
// place of serial devices and an operator's clicks and key presses.
#include "fake_device.h"
#include "loader_state.h"
#include "messages.h"
#include "package_file.h"
#include "program_fixture.h"
#include "ui_constants.h"

#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <sys/resource.h>
#include <time.h>
#include <vector>

using namespace fixture;

namespace {

const QByteArray kBanner = "\r\nBootloader v2.10 - RZ4417\r\n";

QString mapping(const std::vector<std::pair<int, QString>> &ports)
{
    QStringList parts;
    for (const auto &p : ports)
        parts << QString("%1=%2").arg(p.first).arg(p.second);
    return parts.join(',');
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

} // namespace

class UpdateControlTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(writeDemoPackage(packagePath(), "1.5 1048576 2.05 1000\n", randomImage(1048576 + 1000, 5)));
    }
    void cleanup() { qunsetenv("QUORVEL_COM_PORTS"); }

    // Before any Start the close box releases every port entry: all -1.
    void closingWhileIdleBeforeAnyStart()
    {
        qputenv("QUORVEL_COM_PORTS", "");
        QCOMPARE(runProgram([] {}), 0);
        for (int port = 1; port <= 49; ++port)
            QCOMPARE(loader.portStatus[port], -1);
    }

    // No package beside the executable: the English error popup, answered
    // with Return, and the program ends with the popup's result, its window
    // never shown.
    void missingPackage()
    {
        QVERIFY(QFile::rename(packagePath(), packagePath() + ".away"));
        struct ShowWatch : QObject {
            bool panelShown = false;
            bool eventFilter(QObject *o, QEvent *e) override
            {
                if (e->type() == QEvent::Show && o->isWidgetType() && static_cast<QWidget *>(o)->findChild<QWidget *>("GO"))
                    panelShown = true;
                return false;
            }
        } watch;
        qApp->installEventFilter(&watch);
        auto seen = answerNextPopup(Qt::Key_Return);
        static char name[] = "Quorvel";
        static char *argv[] = {name, nullptr};
        const int result = QuorvelMain(1, argv);
        qApp->removeEventFilter(&watch);
        QVERIFY(QFile::rename(packagePath() + ".away", packagePath()));

        QVERIFY(seen->answered);
        QCOMPARE(seen->title, QString("Error!"));
        QCOMPARE(seen->text, QString("Can't find 'vers.kq' file!"));
        QCOMPARE(seen->buttons.size(), 1);
        QCOMPARE(result, 1);
        QVERIFY(!watch.panelShown);
        QVERIFY(window() == nullptr);
    }

    // COM49 is the last port tried: a device mapped as COM50 is never opened.
    // A port that opens is raw 115200 8N1 without flow control, and what the
    // device sends reaches the log. Stop closes every port of the scan.
    void scanOpensComOneToFortyNine()
    {
        FakeDevice com49, com50;
        QVERIFY(com49.valid() && com50.valid());
        qputenv("QUORVEL_COM_PORTS",
                mapping({{7, "/dev/quorvel-no-such-device"}, {49, com49.path}, {50, com50.path}}).toLocal8Bit());
        runProgram([&] {
            pressStart();
            QCOMPARE(loader.portStatus[49], 0);
            QVERIFY(loader.portStatus[7] < 0);
            QCOMPARE(openDescriptorsOn(com49.path), 1);
            QCOMPARE(openDescriptorsOn(com50.path), 0);

            termios t{};
            QCOMPARE(tcgetattr(com49.master, &t), 0);
            QCOMPARE(cfgetispeed(&t), static_cast<speed_t>(B115200));
            QCOMPARE(cfgetospeed(&t), static_cast<speed_t>(B115200));
            QCOMPARE(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
            QCOMPARE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
            QCOMPARE(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
            QCOMPARE(t.c_lflag & (ICANON | ECHO | ISIG), 0u);

            QVERIFY(com49.send("hello from COM49\r\n"));
            QTRY_VERIFY(log().contains("hello from COM49"));

            click("STOP");
            QCOMPARE(loader.portStatus[49], -1);
            QCOMPARE(openDescriptorsOn(com49.path), 0);
            QTRY_VERIFY(com49.hungUp());
            QVERIFY(QApplication::overrideCursor() == nullptr);
        });
    }

    // The display of a finished update, then Start. Cancel (Escape) puts
    // back only the buttons: nothing else moves and no port opens. Ok
    // (Return) resets the update display, keeps the last rate, and scans.
    void instructionPopup_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::newRow("Escape cancels") << false;
        QTest::newRow("Return is Ok") << true;
    }
    void instructionPopup()
    {
        QFETCH(bool, ok);
        FakeDevice com3;
        qputenv("QUORVEL_COM_PORTS", mapping({{3, com3.path}}).toLocal8Bit());
        runProgram([&] {
            const int panel = loader.panel;
            SetCtrlVal(panel, TEXTBOX, "earlier log\n");
            SetCtrlVal(panel, LED1, 1);
            SetCtrlVal(panel, LED2, 1);
            SetCtrlVal(panel, SLIDE, 42);
            SetCtrlAttribute(panel, SLIDE, ATTR_FILL_COLOR, 0x00FF00);
            SetCtrlVal(panel, TEMPS, "03:14");
            SetCtrlVal(panel, OCTET, 0.5);
            SetCtrlAttribute(panel, OCTET, ATTR_LABEL_TEXT, "/ 1.000 Mb");
            SetCtrlVal(panel, TAUX, 3.5);

            auto seen = pressStart(ok ? Qt::Key_Return : Qt::Key_Escape);
            QVERIFY(seen->answered);
            QCOMPARE(seen->title, QString("Please..."));
            // The popup shows the Linux remark; the catalogue's entry keeps
            // its own text, the Windows one.
            QCOMPARE(seen->text, QString::fromUtf8(Msg(MSG_INSTRUCTIONS_LINUX, 0)));
            QVERIFY(QString::fromUtf8(Msg(MSG_INSTRUCTIONS, 0)).contains("WindowsUSBSerialDrivers"));
            QCOMPARE(seen->buttons, QStringList({"Ok", "Cancel"}));

            std::string temps;
            GetCtrlVal(panel, TEMPS, &temps);
            double octet = 0, taux = 0;
            GetCtrlVal(panel, OCTET, &octet);
            GetCtrlVal(panel, TAUX, &taux);
            // Start-up's own line (this build trusts no key) is older than the test's.
            QCOMPARE(log(), ok ? QString()
                               : QString::fromUtf8(Msg(MSG_SIGNATURES_NOT_CHECKED, 0)) + "earlier log\n");
            QCOMPARE(intValue(LED1), ok ? 0 : 1);
            QCOMPARE(intValue(LED2), ok ? 0 : 1);
            QCOMPARE(intValue(SLIDE), ok ? 0 : 42);
            QCOMPARE(intAttribute(SLIDE, ATTR_FILL_COLOR), ok ? 0xFF0000 : 0x00FF00);
            QCOMPARE(labelOf(OCTET), ok ? QString("Mb") : QString("/ 1.000 Mb"));
            QCOMPARE(QString::fromStdString(temps), ok ? QString("00:00") : QString("03:14"));
            QCOMPARE(octet, ok ? 0.0 : 0.5);
            QCOMPARE(taux, 3.5);
            if (ok)
                QCOMPARE(labelOf(SLIDE), QString("0 %"));

            QCOMPARE(intAttribute(GO, ATTR_VISIBLE), ok ? 0 : 1);
            QCOMPARE(intAttribute(STOP, ATTR_VISIBLE), ok ? 1 : 0);
            QCOMPARE(intAttribute(LANGU, ATTR_DIMMED), ok ? 1 : 0);
            QCOMPARE(openDescriptorsOn(com3.path), ok ? 1 : 0);
            QCOMPARE(QApplication::overrideCursor() != nullptr, ok);  // the wait cursor while scanning
            if (ok) {
                click("STOP");
                QVERIFY(QApplication::overrideCursor() == nullptr);
                QCOMPARE(openDescriptorsOn(com3.path), 0);
            }
        });
    }

    // Five ports listen; the camera answers on the third. Exactly that port
    // stays open, the others hang up, and "START" goes out byte-exact with
    // nothing after it. Stop before "START OK" ends the update.
    void bannerOnTheThirdOfFivePorts()
    {
        std::vector<std::unique_ptr<FakeDevice>> devices;
        std::vector<std::pair<int, QString>> ports;
        for (int port = 1; port <= 5; ++port) {
            devices.push_back(std::make_unique<FakeDevice>());
            ports.push_back({port, devices.back()->path});
        }
        qputenv("QUORVEL_COM_PORTS", mapping(ports).toLocal8Bit());
        runProgram([&] {
            pressStart();
            for (int port = 1; port <= 5; ++port)
                QCOMPARE(loader.portStatus[port], 0);

            FakeDevice &camera = *devices[2];
            QVERIFY(camera.send(kBanner));
            QByteArray heard;
            QTRY_VERIFY((heard += camera.drain()).size() >= 5);
            QTest::qWait(200);
            heard += camera.drain();
            QCOMPARE(heard, QByteArray("START"));

            QCOMPARE(loader.connectedPort.load(), 3);
            for (int port : {1, 2, 4, 5}) {
                QCOMPARE(loader.portStatus[port], -1);
                QTRY_VERIFY(devices[port - 1]->hungUp());
            }
            QCOMPARE(loader.portStatus[3], 0);
            QCOMPARE(openDescriptorsOn(camera.path), 1);
            QCOMPARE(intValue(BOOT), 1);
            QCOMPARE(labelOf(BOOT), QString("Connected - COM3 used"));
            QVERIFY(inOrder(log(), {"Bootloader v2.10 - RZ4417", "START : "}));
            QVERIFY(log().endsWith("START : "));
            QVERIFY(QApplication::overrideCursor() == nullptr);
            QCOMPARE(intAttribute(STOP, ATTR_VISIBLE), 1);
            QCOMPARE(window()->focusWidget(), control("STOP"));
            QCOMPARE(intAttribute(TIMER, ATTR_ENABLED), 1);
            QCOMPARE(intAttribute(TEMPS, ATTR_TEXT_COLOR), 0xFF0000);
            QCOMPARE(intAttribute(PICTURE, ATTR_VISIBLE), 1);
            QCOMPARE(labelOf(OCTET), QString("/ 1.000 Mb"));
            std::string info;
            GetCtrlVal(loader.panel, INFO, &info);
            QCOMPARE(QString::fromStdString(info), QString("Updating with RZ4417 v01.50 : 1.000 Mb ..."));
            QCOMPARE(loader.transferActive.load(), 1);

            click("STOP");
            QTRY_VERIFY(camera.hungUp());
            QCOMPARE(loader.connectedPort.load(), 0);
            QCOMPARE(loader.bootloaderFound, 0);
            QCOMPARE(intValue(BOOT), 0);
            QCOMPARE(labelOf(BOOT), QString("Not connected"));
            QCOMPARE(intAttribute(TIMER, ATTR_ENABLED), 0);
            QCOMPARE(intAttribute(TEMPS, ATTR_TEXT_COLOR), 0);
            QCOMPARE(intAttribute(TEMPS, ATTR_TEXT_BOLD), 0);
            QCOMPARE(intAttribute(PICTURE, ATTR_VISIBLE), 0);
            QCOMPARE(intAttribute(GO, ATTR_VISIBLE), 1);
            QCOMPARE(intAttribute(LANGU, ATTR_DIMMED), 0);
        });
    }

    // A device unplugged while the scan listens: the loop does not spin and
    // the program still answers the operator.
    void unpluggedDeviceDoesNotSpin()
    {
        FakeDevice com2, com9;
        // COM2 through a link that goes with the device: the pty's number is
        // soon another program's, and the scan keeps trying COM2.
        QTemporaryDir dir;
        const QString link = dir.filePath("ttyACM0");
        QVERIFY(QFile::link(com2.path, link));
        qputenv("QUORVEL_COM_PORTS", mapping({{2, link}, {9, com9.path}}).toLocal8Bit());
        runProgram([&] {
            pressStart();
            QCOMPARE(loader.portStatus[2], 0);
            QVERIFY(QFile::remove(link));
            com2.unplug();
            // The scan closes the lost port (and keeps trying its number).
            QTRY_VERIFY(loader.portStatus[2] < 0);
            const double before = processCpuSeconds();
            QTest::qWait(1000);
            const double used = processCpuSeconds() - before;
            qInfo("CPU used over one second after the unplug: %.3f s", used);
            QVERIFY2(used < 0.2, qPrintable(QString("CPU %1 s").arg(used)));

            QVERIFY(com9.send("still listening\r\n"));
            QTRY_VERIFY(log().contains("still listening"));
            click("STOP");
            QVERIFY(loader.portStatus[2] < 0);
        });
    }
};

QTEST_MAIN(UpdateControlTest)
#include "test_update_control.moc"
