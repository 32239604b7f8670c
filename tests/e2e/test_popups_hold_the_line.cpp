// A camera that announces itself while a popup is open: nothing is sent to
// it behind the popup, and once the popup is closed its update runs whole,
// "START", then the header, then every byte of the image.
#include "control.h"
#include "dialogue.h"
#include "loader_state.h"
#include "package.h"
#include "package_file.h"
#include "program_fixture.h"
#include "scripted_camera.h"
#include "simcam.h"
#include "ui_constants.h"

#include <QtTest>
#include <memory>
#include <time.h>

using namespace fixture;

namespace {

constexpr int kImageSize = 20000;
constexpr int kHoldMs = 1500;  // long enough for many banners to arrive behind the popup

QByteArray headerFor(const QByteArray &image)
{
    return QByteArray::number(image.size(), 16).toUpper().rightJustified(8, '0')
           + QByteArray::number(referenceChecksum(image), 16).toUpper().rightJustified(8, '0');
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// What the popup saw of the line while it was open.
struct BehindThePopup {
    QByteArray heard;
    int connectedPort = -1;
    double cpuAtOpen = 0;
    double cpuSeconds = -1;  // the process's CPU time while the popup was open

    void opened() { cpuAtOpen = processCpuSeconds(); }
    void answered(ScriptedCamera &camera)
    {
        cpuSeconds = processCpuSeconds() - cpuAtOpen;
        heard = camera.heardNow();
        connectedPort = loader.connectedPort;
    }
    // Nothing reached the camera, none was connected, and the held line
    // did not keep the program busy (a port left to signal would spin).
    void expectNothingHappened() const
    {
        QCOMPARE(heard, QByteArray());
        QCOMPARE(connectedPort, 0);
        QVERIFY2(cpuSeconds >= 0 && cpuSeconds < 0.5 * kHoldMs / 1000.0, qPrintable(QString::number(cpuSeconds)));
    }
};

// The camera on COM6 says "START OK" once it hears START; the loader must
// then send the header and the whole image, and nothing else.
void expectWholeUpdate(ScriptedCamera &camera, const QByteArray &image)
{
    QTRY_VERIFY_WITH_TIMEOUT(camera.heardNow().contains("START"), 10000);
    QCOMPARE(loader.connectedPort.load(), 6);
    QVERIFY(camera.line.send("START OK\r\n"));
    const QByteArray expected = "START" + headerFor(image) + image;
    QTRY_VERIFY_WITH_TIMEOUT(camera.heardNow().size() >= expected.size(), 15000);
    QCOMPARE(camera.heard, expected);
    QTRY_VERIFY_WITH_TIMEOUT(!loader.workerRunning, 5000);
    QVERIFY(!log().contains("Transfer aborted!"));
    QCOMPARE(intAttribute(STOP, ATTR_VISIBLE), 1);  // the update runs until the camera's steps or Stop
}

} // namespace

class PopupsHoldTheLineTest : public QObject {
    Q_OBJECT
    QByteArray image0;

private slots:
    void initTestCase()
    {
        image0 = randomImage(kImageSize, 61);
        QVERIFY(writePackage(packagePath(), QByteArray("1.5 ") + QByteArray::number(kImageSize) + " 2.05 10\n",
                             image0 + QByteArray(10, 'x')));
    }
    void cleanup() { qunsetenv("QUORVEL_COM_PORTS"); }

    // After an unknown product the other ports still listen. The operator
    // presses Start; the camera announces itself while the instructions are
    // on the screen. Whatever the answer, nothing reaches the camera before
    // it, and the camera's update then runs whole.
    void cameraAnnouncesDuringTheInstructions_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("Ok") << int(Qt::Key_Return);
        QTest::newRow("Cancel") << int(Qt::Key_Escape);
    }
    void cameraAnnouncesDuringTheInstructions()
    {
        QFETCH(int, answer);
        SimCameraOptions o;
        o.product = "XYZ999";
        SimCamera unknown(o);
        QVERIFY(unknown.start());
        ScriptedCamera camera;
        qputenv("QUORVEL_COM_PORTS",
                QString("2=%1,6=%2").arg(QString::fromStdString(unknown.devicePath()), camera.line.path).toLocal8Bit());

        runProgram([&] {
            pressStart();
            auto refused = answerNextPopup(Qt::Key_Return, 0, 15000);
            QTRY_VERIFY_WITH_TIMEOUT(refused->answered, 15000);
            QCOMPARE(loader.portStatus[6], 0);  // still listening
            unknown.stop();  // unplugged: the next scan hears only the camera

            BehindThePopup behind;
            auto instructions = answerNextPopup(
                Qt::Key(answer), kHoldMs, 10000,
                [&] {
                    behind.opened();
                    camera.announcing = true;
                },
                [&] { behind.answered(camera); });
            click("GO");
            QVERIFY(instructions->answered);
            QCOMPARE(instructions->title, QString("Please..."));
            behind.expectNothingHappened();

            expectWholeUpdate(camera, image0);
            click("STOP");
        });
    }

    // While the unknown-product popup of one port is open, a known camera
    // announces itself on another: it is connected only once the popup is
    // closed, and its update runs whole.
    void cameraAnnouncesDuringTheUnknownProductPopup()
    {
        SimCameraOptions o;
        o.product = "XYZ999";
        SimCamera unknown(o);
        QVERIFY(unknown.start());
        ScriptedCamera camera;
        qputenv("QUORVEL_COM_PORTS",
                QString("2=%1,6=%2").arg(QString::fromStdString(unknown.devicePath()), camera.line.path).toLocal8Bit());

        runProgram([&] {
            pressStart();
            BehindThePopup behind;
            auto refused = answerNextPopup(
                Qt::Key_Return, kHoldMs, 15000,
                [&] {
                    behind.opened();
                    camera.announcing = true;
                },
                [&] { behind.answered(camera); });
            QTRY_VERIFY_WITH_TIMEOUT(refused->answered, 20000);
            QCOMPARE(refused->text, QString("This product is unknown, and can't bu updated!"));
            behind.expectNothingHappened();

            expectWholeUpdate(camera, image0);
            QVERIFY(!unknown.report(false).heardStart);
            click("STOP");
        });
    }

    // Should a camera get connected behind the instructions all the same
    // (here the banner's connection is made by hand from inside the popup:
    // the line itself holds every chunk until the popup has closed), Ok does
    // not tear its update down: it goes on, header and whole image.
    void okKeepsAnUpdateConnectedBehindThePopup()
    {
        SimCameraOptions o;
        o.product = "XYZ999";
        SimCamera unknown(o);
        QVERIFY(unknown.start());
        ScriptedCamera camera;
        qputenv("QUORVEL_COM_PORTS",
                QString("2=%1,6=%2").arg(QString::fromStdString(unknown.devicePath()), camera.line.path).toLocal8Bit());
        runProgram([&] {
            pressStart();
            auto refused = answerNextPopup(Qt::Key_Return, 0, 15000);
            QTRY_VERIFY_WITH_TIMEOUT(refused->answered, 15000);
            unknown.stop();
            QCOMPARE(loader.portStatus[6], 0);  // still listening
            auto instructions = answerNextPopup(Qt::Key_Return, 0, 10000, [&] {
                std::snprintf(loader.productName, sizeof loader.productName, "RZ4417");
                loader.productIndex = 0;
                loader.connectedPort = 6;
                loader.bootloaderFound = 1;
                VerifFichier(0);
                EnvoiStart();
            });
            click("GO");
            QVERIFY(instructions->answered);
            QCOMPARE(loader.connectedPort.load(), 6);
            QCOMPARE(loader.transferActive.load(), 1);
            expectWholeUpdate(camera, image0);
            click("STOP");
        });
    }
};

QTEST_MAIN(PopupsHoldTheLineTest)
#include "test_popups_hold_the_line.moc"
