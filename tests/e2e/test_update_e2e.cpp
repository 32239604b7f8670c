// Whole updates: the real program against the simulated camera over a
// pseudo-terminal, driven by an operator's clicks and key presses.
#include "fake_device.h"
#include "loader_state.h"
#include "messages.h"
#include "package_file.h"
#include "program_fixture.h"
#include "simcam.h"
#include "ui_constants.h"

#include <QtTest>
#include <memory>

using namespace fixture;

namespace {

// Images in the package: both products, sizes chosen per test.
struct Package {
    QByteArray image0, image1;
};

Package installPackage(int size0, int size1, const QByteArray &header = {})
{
    Package p{randomImage(size0, 100 + static_cast<quint32>(size0)),
              randomImage(size1, 200 + static_cast<quint32>(size1))};
    const QByteArray line = header.isEmpty() ? QByteArray("1.5 %1 2.05 %2\n")
                                                   .replace("%1", QByteArray::number(size0))
                                                   .replace("%2", QByteArray::number(size1))
                                             : header;
    writePackage(packagePath(), line, p.image0 + p.image1);
    return p;
}

// A camera with pauses long enough that every step shows on its own mark.
SimCameraOptions camera(const std::string &product)
{
    SimCameraOptions o;
    o.product = product;
    o.fileOkSeconds = 0.1;
    o.eraseSeconds = 1.5;  // a mark comes every second, even on a loaded machine
    o.programSeconds = 1.5;
    return o;
}

std::unique_ptr<SimCamera> plugIn(const SimCameraOptions &options, int com = 4)
{
    auto cam = std::make_unique<SimCamera>(options);
    std::string error;
    if (!cam->start(&error))
        qFatal("simulated camera: %s", error.c_str());
    qputenv("QUORVEL_COM_PORTS", QString("%1=%2").arg(com).arg(QString::fromStdString(cam->devicePath())).toLocal8Bit());
    return cam;
}

QByteArray received(const SimCamera &cam)
{
    const SimCameraReport r = cam.report();
    return QByteArray(reinterpret_cast<const char *>(r.image.data()), static_cast<int>(r.image.size()));
}

bool idle()
{
    return intAttribute(GO, ATTR_VISIBLE) == 1 && intAttribute(STOP, ATTR_VISIBLE) == 0;
}

constexpr int kUpdateTimeoutMs = 20000;

// After the operator's Stop: the camera's port (COM4) closed, no camera
// connected, the panel idle.
void expectUpdateEnded()
{
    QCOMPARE(loader.connectedPort.load(), 0);
    QVERIFY(idle());
    QVERIFY(GetInQLen(4) < 0);
}

} // namespace

class UpdateEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { qunsetenv("QUORVEL_COM_PORTS"); }

    void successfulUpdate_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<int>("size");
        for (const QString &product : {QString("RZ4417"), QString("KWT6083")})
            for (int size : {0, 300, 512, 1000, 1024, 1048576})
                QTest::newRow(qPrintable(QString("%1, %2 bytes").arg(product).arg(size))) << product << size;
    }
    // The camera gets "START", the header with the right size and checksum,
    // and every byte of its own image; the panel follows every step.
    void successfulUpdate()
    {
        QFETCH(QString, product);
        QFETCH(int, size);
        const int index = product == "KWT6083" ? 1 : 0;
        const Package package = installPackage(index == 0 ? size : 777, index == 1 ? size : 555);
        const QByteArray &image = index == 0 ? package.image0 : package.image1;
        auto cam = plugIn(camera(product.toStdString()));

        const int result = runProgram([&] {
            pressStart();
            QTRY_VERIFY_WITH_TIMEOUT(cam->report(false).updatesFinished == 1, kUpdateTimeoutMs);
            QTRY_VERIFY_WITH_TIMEOUT(log().contains("Operation successful!"), 5000);

            const SimCameraReport r = cam->report();
            QCOMPARE(QString::fromStdString(r.verdict), QString("OK"));
            QCOMPARE(QByteArray::fromStdString(r.received_before_header), QByteArray("START"));
            QCOMPARE(r.announcedSize, static_cast<uint32_t>(size));
            QCOMPARE(r.announcedChecksum, referenceChecksum(image));
            QCOMPARE(received(*cam), image);
            QVERIFY(!r.extraBytesAfterImage);

            QVERIFY2(inOrder(log(), {"START : START OK", "Transferring file...", "FILE OK", "Erasing FLASH...",
                                     "ERASE OK", "Programming FLASH...", "WRITE OK", "Operation successful!"}),
                     qPrintable(log()));
            QVERIFY(!log().contains("Transfer aborted!"));
            QCOMPARE(labelOf(BOOT), QString("Not connected"));
            QCOMPARE(intValue(BOOT), 0);
            QCOMPARE(intValue(LED1), 0);
            QCOMPARE(intValue(LED2), 0);
            QCOMPARE(intValue(SLIDE), 100);
            QCOMPARE(labelOf(SLIDE), QString("100 %"));
            QCOMPARE(intAttribute(SLIDE, ATTR_FILL_COLOR), 0x00FF00);
            QCOMPARE(intAttribute(TIMER, ATTR_ENABLED), 0);
            QVERIFY(idle());
            QCOMPARE(window()->focusWidget(), control("GO"));
            const QString sizeLabel = QString("/ %1 Mb").arg(size / 1048576.0, 0, 'f', 3);
            QCOMPARE(labelOf(OCTET), sizeLabel);
            std::string info;
            GetCtrlVal(loader.panel, INFO, &info);
            QVERIFY(QString::fromStdString(info).startsWith(QString("Updating with %1 v0%2 : ")
                                                                .arg(product, index == 0 ? "1.50" : "2.05")));
            // A whole number of blocks (none at all included) leaves the
            // transfer flag set; the next Ok clears it.
            QCOMPARE(loader.transferActive.load(), size % 512 == 0 ? 1 : 0);
        });
        QCOMPARE(result, 0);
    }

    void lowerCaseBannerIsRecognised()
    {
        const Package package = installPackage(400, 600);
        SimCameraOptions o = camera("KWT6083");
        o.lowerCaseBanner = true;
        auto cam = plugIn(o);
        runProgram([&] {
            pressStart();
            QTRY_VERIFY_WITH_TIMEOUT(cam->report(false).updatesFinished == 1, kUpdateTimeoutMs);
            QCOMPARE(QString::fromStdString(cam->report().verdict), QString("OK"));
            QCOMPARE(received(*cam), package.image1);
            QCOMPARE(QString(loader.productName), QString("KWT6083"));
        });
    }

    void bannerWithBothIdentifiersSelectsKwt()
    {
        const Package package = installPackage(400, 600);
        SimCameraOptions o = camera("");
        o.banner = "\r\nBootloader v3.00 RZ4417 / KWT6083\r\n";
        auto cam = plugIn(o);
        runProgram([&] {
            pressStart();
            QTRY_VERIFY_WITH_TIMEOUT(cam->report(false).updatesFinished == 1, kUpdateTimeoutMs);
            QCOMPARE(received(*cam), package.image1);
        });
    }

    // An unknown product: the popup, that port closed, nothing written, and
    // the other ports of the scan still listening.
    void unknownProductIsRefused()
    {
        installPackage(400, 600);
        SimCameraOptions o = camera("XYZ999");
        auto unknown = std::make_unique<SimCamera>(o);
        QVERIFY(unknown->start());
        FakeDevice other;  // a second port of the scan, silent until later
        qputenv("QUORVEL_COM_PORTS",
                QString("2=%1,6=%2").arg(QString::fromStdString(unknown->devicePath()), other.path).toLocal8Bit());
        runProgram([&] {
            pressStart();
            auto popup = answerNextPopup(Qt::Key_Return, 0, 15000);
            QTRY_VERIFY_WITH_TIMEOUT(popup->answered, 10000);
            QCOMPARE(popup->title, QString("Error!"));
            QCOMPARE(popup->text, QString("This product is unknown, and can't bu updated!"));
            QVERIFY(log().contains("XYZ999"));
            QCOMPARE(loader.bootloaderFound, 0);
            QCOMPARE(loader.productIndex, -1);
            QCOMPARE(loader.connectedPort.load(), 0);
            QVERIFY(idle());
            QCOMPARE(intValue(BOOT), 0);
            QTest::qWait(500);
            QVERIFY(!unknown->report(false).heardStart);
            QVERIFY(GetInQLen(2) < 0);       // that port is closed
            QCOMPARE(loader.portStatus[6], 0);  // the other one still listens
            QVERIFY(other.send("\r\nBootloader v2.10 - RZ4417\r\n"));
            QByteArray heard;
            QTRY_COMPARE(heard += other.drain(), QByteArray("START"));
            QCOMPARE(loader.connectedPort.load(), 6);
            click("STOP");
        });
    }

    // "ERROR" in the middle of the image: the block being written is
    // finished, the log says aborted, and Stop ends the update.
    void errorMidStreamThenStop()
    {
        const Package package = installPackage(1048576, 10);
        SimCameraOptions o = camera("RZ4417");
        o.errorAfterBytes = 20 * 1024;
        o.lineRate = 200000;
        auto cam = plugIn(o);
        runProgram([&] {
            pressStart();
            QTRY_VERIFY_WITH_TIMEOUT(log().contains("Transfer aborted!"), kUpdateTimeoutMs);
            // The flag is cleared before the camera's text is logged, so the
            // worker's last line may come before or after "ERROR".
            QVERIFY(inOrder(log(), {"START : START OK", "Transferring file...", "ERROR"}));
            QVERIFY(inOrder(log(), {"Transferring file...", "Transfer aborted!"}));
            QCOMPARE(loader.transferActive.load(), 0);
            QTRY_VERIFY(!loader.workerRunning);
            const int sent = loader.bytesSent;
            QVERIFY(sent < 1048576);
            QCOMPARE(sent % 512, 0);  // whole blocks only
            QTRY_COMPARE(static_cast<long long>(cam->report(false).bytesReceived + cam->report(false).extraBytes),
                         static_cast<long long>(sent));
            QVERIFY(intValue(SLIDE) < 100);
            QCOMPARE(intValue(BOOT), 1);  // still connected until the operator stops

            click("STOP");
            expectUpdateEnded();
            QCOMPARE(intValue(BOOT), 0);
            QCOMPARE(intAttribute(TIMER, ATTR_ENABLED), 0);
        });
    }

    // The image is out and the camera erases: the operator's Stop ends the
    // update (port closed, LED off, timer stopped) and Start works again.
    void stopWhileTheCameraErases()
    {
        installPackage(1000, 10);
        SimCameraOptions o = camera("RZ4417");
        o.eraseSeconds = 30;
        auto cam = plugIn(o);
        runProgram([&] {
            pressStart();
            QTRY_VERIFY_WITH_TIMEOUT(log().contains("FILE OK"), kUpdateTimeoutMs);
            QCOMPARE(loader.transferActive.load(), 0);
            click("STOP");
            expectUpdateEnded();
            QCOMPARE(loader.bootloaderFound, 0);
            QCOMPARE(intValue(BOOT), 0);
            QCOMPARE(intAttribute(TIMER, ATTR_ENABLED), 0);

            pressStart();
            QVERIFY(GetInQLen(4) >= 0);  // listening again
            click("STOP");
            QVERIFY(idle());
        });
    }

    void stopDuringStreaming()
    {
        installPackage(1048576, 10);
        SimCameraOptions o = camera("RZ4417");
        o.lineRate = 100000;
        auto cam = plugIn(o);
        runProgram([&] {
            pressStart();
            QTRY_VERIFY_WITH_TIMEOUT(loader.bytesSent > 64 * 1024, kUpdateTimeoutMs);
            click("STOP");
            QVERIFY(!loader.workerRunning);  // the worker returned before the port closed
            QVERIFY(log().endsWith("\nTransfer aborted!\n"));
            expectUpdateEnded();
            QVERIFY(cam->report(false).verdict != "OK");
        });
    }

    void windowClosedDuringStreaming()
    {
        installPackage(1048576, 10);
        SimCameraOptions o = camera("RZ4417");
        o.lineRate = 100000;
        auto cam = plugIn(o);
        const int result = runProgram([&] {
            pressStart();
            QTRY_VERIFY_WITH_TIMEOUT(loader.bytesSent > 64 * 1024, kUpdateTimeoutMs);
        });  // the fixture closes the window mid-stream
        QCOMPARE(result, 0);
        QVERIFY(!loader.workerRunning);
        QVERIFY(loader.bytesSent < 1048576);
        QCOMPARE(loader.connectedPort.load(), 0);
        QCOMPARE(loader.imageBuffer.load(), nullptr);
    }

    // Replies 0.25 s apart: at most one second mark falls between them, so
    // never both intermediate lines, and the update still succeeds.
    void stepsReportedWithinOneSecond()
    {
        installPackage(2000, 10);
        SimCameraOptions o = camera("RZ4417");
        o.eraseSeconds = 0.25;
        o.programSeconds = 0.25;
        auto cam = plugIn(o);
        runProgram([&] {
            pressStart();
            QTRY_VERIFY_WITH_TIMEOUT(log().contains("Operation successful!"), kUpdateTimeoutMs);
            QVERIFY(!(log().contains("Erasing FLASH...") && log().contains("Programming FLASH...")));
            QCOMPARE(log().count("Operation successful!"), 1);
            QVERIFY(idle());
        });
    }

    // After an image of whole blocks the flag stays set; the next Ok clears
    // it and the camera, rebooted, is updated again in the same run.
    void secondUpdateInTheSameRun()
    {
        const Package package = installPackage(1024, 10);
        SimCameraOptions o = camera("RZ4417");
        o.repeat = true;
        auto cam = plugIn(o);
        runProgram([&] {
            pressStart();
            QTRY_VERIFY_WITH_TIMEOUT(log().contains("Operation successful!"), kUpdateTimeoutMs);
            QCOMPARE(loader.transferActive.load(), 1);
            pressStart();
            QCOMPARE(loader.transferActive.load(), 0);
            QTRY_VERIFY_WITH_TIMEOUT(cam->report(false).updatesFinished == 2, kUpdateTimeoutMs);
            QTRY_VERIFY_WITH_TIMEOUT(log().contains("Operation successful!"), 5000);
            // Each verdict checks size, checksum and byte count of that update.
            QCOMPARE(cam->report(false).verdicts, std::vector<std::string>({"OK", "OK"}));
        });
    }

    // The package holds less than its header says: nothing but "START" goes
    // to the camera, the update ends, and the log says why.
    void truncatedPackageSendsNothing()
    {
        const QByteArray image = randomImage(900, 9);
        writePackage(packagePath(), "1.5 1000 2.05 10\n", image);
        auto cam = plugIn(camera("RZ4417"));
        runProgram([&] {
            pressStart();
            QTRY_VERIFY_WITH_TIMEOUT(log().contains(QString::fromUtf8(Msg(MSG_BAD_IMAGE, 0)).trimmed()),
                                     kUpdateTimeoutMs);
            QTest::qWait(300);
            const SimCameraReport r = cam->report();
            QCOMPARE(QByteArray::fromStdString(r.received_before_header), QByteArray("START"));
            QVERIFY(!r.headerReceived);
            QVERIFY(!log().contains("Transferring file..."));
            QCOMPARE(loader.connectedPort.load(), 0);
            QCOMPARE(loader.transferActive.load(), 0);
            QVERIFY(idle());
        });
    }

    // A second "START OK" starts no second transfer, whether the first
    // worker still sends (1 MiB) or has already finished (empty image).
    void secondStartOkIsIgnored_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("while the worker sends") << 1048576;
        QTest::newRow("after the worker finished") << 0;
    }
    void secondStartOkIsIgnored()
    {
        QFETCH(int, size);
        const Package package = installPackage(size, 10);
        SimCameraOptions o = camera("RZ4417");
        o.secondStartOk = true;
        o.lineRate = size > 0 ? 400000 : 0;
        auto cam = plugIn(o);
        runProgram([&] {
            pressStart();
            QTRY_VERIFY_WITH_TIMEOUT(log().contains("Operation successful!"), kUpdateTimeoutMs);
            QCOMPARE(log().count("START OK"), 2);
            const SimCameraReport r = cam->report();
            QCOMPARE(QString::fromStdString(r.verdict), QString("OK"));
            QCOMPARE(received(*cam), package.image0);
            QTest::qWait(200);
            QVERIFY(!cam->report(false).extraBytesAfterImage);
        });
    }
};

QTEST_MAIN(UpdateEndToEndTest)
#include "test_update_e2e.moc"
