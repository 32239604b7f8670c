// A serial port's receive callback while a popup is open: held, without
// keeping the program busy, and delivered once the popup has closed; a port
// closed meanwhile stays quiet.
#include "fake_device.h"
#include "platform.h"
#include "popup_hold.h"
#include "popup_helper.h"

#include <QtTest>
#include <time.h>

namespace {

constexpr int kPort = 7;
int callbacks = 0;
QByteArray received;

void onReceive(int port, int, void *)
{
    ++callbacks;
    while (GetInQLen(port) > 0)
        received += char(ComRdByte(port));
}

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

bool openPort(const FakeDevice &device)
{
    return OpenComConfig(kPort, device.path.toLocal8Bit().constData(), 115200, 0, 8, 1, 512, 512) == 0
           && InstallComCallback(kPort, 1, 0, 13, onReceive, nullptr) == 0;
}

} // namespace

class PopupHoldTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        callbacks = 0;
        received.clear();
    }
    void cleanup() { CloseCom(kPort); }

    void bytesDuringAPopupWaitForIt()
    {
        FakeDevice device;
        QVERIFY(openPort(device));
        int duringPopup = -1;
        double cpuDuringPopup = -1;
        double cpuAtOpen = 0;
        auto seen = answerNextPopup(
            Qt::Key_Return, 600, 10000,
            [&] {
                QVERIFY(ModalPopupOpen());
                cpuAtOpen = cpuSeconds();
                device.send("Bootloader v2.10\r\n");
            },
            [&] {
                duringPopup = callbacks;
                cpuDuringPopup = cpuSeconds() - cpuAtOpen;
            });
        QCOMPARE(MessagePopup("Error!", "held"), 1);
        QVERIFY(seen->answered);
        QVERIFY(!ModalPopupOpen());
        QCOMPARE(duringPopup, 0);
        QVERIFY2(cpuDuringPopup >= 0 && cpuDuringPopup < 0.3, qPrintable(QString::number(cpuDuringPopup)));
        QTRY_COMPARE(received, QByteArray("Bootloader v2.10\r\n"));
    }

    // The port was closed while its callback was held: nothing comes after
    // the popup, the event loop stays idle, and the port opened again
    // delivers as before.
    void portClosedDuringThePopupStaysQuiet()
    {
        // Switched on over the closed descriptor, Qt would watch whatever
        // file takes its number next, or warn and give up on it.
        QTest::failOnWarning(QRegularExpression("QSocketNotifier"));
        FakeDevice device;
        QVERIFY(openPort(device));
        auto seen = answerNextPopup(
            Qt::Key_Return, 300, 10000, [&] { device.send("first\r\n"); }, [&] { CloseCom(kPort); });
        QCOMPARE(MessagePopup("Error!", "held"), 1);
        QVERIFY(seen->answered);
        const double before = cpuSeconds();
        QTest::qWait(500);  // measuring that nothing happens takes a while
        QVERIFY2(cpuSeconds() - before < 0.2, qPrintable(QString::number(cpuSeconds() - before)));
        QCOMPARE(callbacks, 0);

        QVERIFY(openPort(device));
        FlushInQ(kPort);  // "first" is still in the line, as after any close
        device.send("second\r\n");
        QTRY_COMPARE(received, QByteArray("second\r\n"));
    }
};

QTEST_MAIN(PopupHoldTest)
#include "test_popup_hold.moc"
