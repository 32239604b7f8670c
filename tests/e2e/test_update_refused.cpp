// Updates that must end with nothing sent after "START": a package whose
// header was never read or was replaced since, and a worker thread that
// cannot be had. In both
// cases the log says why, the update ends, and the next one works.
#include "loader_state.h"
#include "messages.h"
#include "package_file.h"
#include "program_fixture.h"
#include "scripted_camera.h"
#include "simcam.h"
#include "ui_constants.h"

#include <QtTest>
#include <memory>

using namespace fixture;

namespace {

constexpr int kUpdateTimeoutMs = 20000;

bool idle()
{
    return intAttribute(GO, ATTR_VISIBLE) == 1 && intAttribute(STOP, ATTR_VISIBLE) == 0;
}

QByteArray headerFor(const QByteArray &image)
{
    return QByteArray::number(image.size(), 16).toUpper().rightJustified(8, '0')
           + QByteArray::number(referenceChecksum(image), 16).toUpper().rightJustified(8, '0');
}

} // namespace

class UpdateRefusedTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        qunsetenv("QUORVEL_COM_PORTS");
        QFile::remove(packagePath());
    }

    // The program starts as usual, but the camera that accepts "START" is
    // never told a size: the load fails as for a truncated package.
    void packageWithoutHeaderIsNeverSent_data()
    {
        QTest::addColumn<QByteArray>("header");  // empty: a package the operator may not read
        QTest::newRow("package that cannot be opened") << QByteArray();
        QTest::newRow("empty file") << QByteArray("-");
        QTest::newRow("three numbers") << QByteArray("1.5 262144 2.05\n");
        QTest::newRow("decimal commas") << QByteArray("1,5 262144 2,05 196608\n");
        QTest::newRow("not numbers") << QByteArray("version one\n");
        QTest::newRow("size straddling byte 4096")
            << "1.5 262144 2.05 " + QByteArray(4093 - 16, ' ') + "196608\n";
        QTest::newRow("letter glued to a size") << QByteArray("1.5 262144 2.05 196608x\n");
    }
    void packageWithoutHeaderIsNeverSent()
    {
        QFETCH(QByteArray, header);
        std::unique_ptr<PackageReadRefused> refused;
        if (header.isEmpty()) {
            QFile::remove(packagePath());
            QVERIFY(writeDemoPackage(packagePath(), "1.5 262144 2.05 196608\n", randomImage(262144 + 196608, 71)));
            refused = std::make_unique<PackageReadRefused>(packagePath());
            QVERIFY(refused->holds());
        } else if (header == "-")
            QVERIFY(writePackage(packagePath(), {}, {}));
        else
            QVERIFY(writePackage(packagePath(), header, randomImage(262144 + 196608, 71)));
        SimCameraOptions o;
        o.product = "RZ4417";
        SimCamera cam(o);
        QVERIFY(cam.start());
        qputenv("QUORVEL_COM_PORTS", ("4=" + cam.devicePath()).c_str());

        bool shown = false;
        const int result = runProgram([&] {
            shown = true;
            pressStart();
            const QString refused = QString::fromUtf8(Msg(MSG_BAD_IMAGE, 0)).trimmed();
            QTRY_VERIFY_WITH_TIMEOUT(log().contains(refused), kUpdateTimeoutMs);
            QTRY_VERIFY_WITH_TIMEOUT(loader.connectedPort == 0, 5000);
            QTest::qWait(300);  // anything sent after START would have reached the camera by now
            const SimCameraReport r = cam.report();
            qInfo("camera's view: before the header \"%s\", header received %s, %llu image bytes, verdict \"%s\"",
                  r.received_before_header.c_str(), r.headerReceived ? "yes" : "no",
                  static_cast<unsigned long long>(r.bytesReceived), r.verdict.c_str());
            QCOMPARE(QByteArray::fromStdString(r.received_before_header), QByteArray("START"));
            QVERIFY(!r.headerReceived);
            QCOMPARE(r.bytesReceived, uint64_t(0));
            QVERIFY(!log().contains("Transferring file..."));
            QVERIFY(!log().contains("Operation successful!"));
            QCOMPARE(loader.transferActive.load(), 0);
            QVERIFY(idle());
            QVERIFY(GetInQLen(4) < 0);  // the camera's port is closed
        });
        QVERIFY(shown);  // start-up itself refused nothing
        QCOMPARE(result, 0);
    }

    // A new vers.kq is put beside the running program (a new firmware
    // release, copied in and renamed over the old one). The header read at
    // start-up no longer describes the file, so the camera is sent nothing;
    // with the original package back, the next update sends it whole.
    void packageReplacedAfterStartUpIsNeverSent()
    {
        const QByteArray images = randomImage(3000 + 10, 73);
        QVERIFY(writePackage(packagePath(), "1.5 3000 2.05 10\n", images));
        ScriptedCamera camera;
        qputenv("QUORVEL_COM_PORTS", ("4=" + camera.line.path).toLocal8Bit());

        runProgram([&] {
            const QString replacement = packagePath() + ".new";
            QVERIFY(writePackage(replacement, "1.6 2600 2.10 400\n", randomImage(3000, 74)));
            QFile::remove(packagePath());
            QVERIFY(QFile::rename(replacement, packagePath()));

            pressStart();
            camera.announcing = true;
            QTRY_VERIFY_WITH_TIMEOUT(camera.heardNow() == "START", 10000);
            QVERIFY(camera.line.send("START OK\r\n"));
            const QString changed = QString::fromUtf8(Msg(MSG_PACKAGE_CHANGED, 0)).trimmed();
            QTRY_VERIFY_WITH_TIMEOUT(log().contains(changed), kUpdateTimeoutMs);
            QTRY_VERIFY_WITH_TIMEOUT(loader.connectedPort == 0, 5000);
            QVERIFY(idle());
            QTest::qWait(300);
            QCOMPARE(camera.heardNow(), QByteArray("START"));
            QVERIFY(!log().contains("Operation successful!"));

            QVERIFY(writePackage(packagePath(), "1.5 3000 2.05 10\n", images));
            camera.heard.clear();
            pressStart();
            QTRY_VERIFY_WITH_TIMEOUT(camera.heardNow() == "START", 10000);
            QVERIFY(camera.line.send("START OK\r\n"));
            const QByteArray image = images.left(3000);
            const QByteArray expected = "START" + headerFor(image) + image;
            QTRY_VERIFY_WITH_TIMEOUT(camera.heardNow().size() >= expected.size(), 10000);
            QCOMPARE(camera.heard, expected);
            click("STOP");
        });
    }

    // The worker's thread cannot be created, or the worker not scheduled:
    // the update ends (no image will follow), and the next update, with
    // the pool back, sends the camera its whole image.
    void workerThatCannotStartEndsTheUpdate_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("headerSent");
        // The thread exists before the header goes out; scheduling comes after it.
        QTest::newRow("no thread") << int(kPoolFailCreate) << false;
        QTest::newRow("not scheduled") << int(kPoolFailSchedule) << true;
    }
    void workerThatCannotStartEndsTheUpdate()
    {
        QFETCH(int, fault);
        QFETCH(bool, headerSent);
        const QByteArray image = randomImage(3000, 72);
        QVERIFY(writePackage(packagePath(), "1.5 3000 2.05 10\n", image + QByteArray(10, 'x')));
        ScriptedCamera camera;
        qputenv("QUORVEL_COM_PORTS", ("4=" + camera.line.path).toLocal8Bit());

        runProgram([&] {
            pressStart();
            camera.announcing = true;
            QTRY_VERIFY_WITH_TIMEOUT(camera.heardNow() == "START", 10000);
            PoolInjectFault(PoolFault(fault));
            QVERIFY(camera.line.send("START OK\r\n"));
            QTRY_VERIFY_WITH_TIMEOUT(log().contains("Transfer aborted!"), 10000);
            QTRY_VERIFY_WITH_TIMEOUT(loader.connectedPort == 0, 5000);
            QVERIFY(!loader.workerRunning);
            QCOMPARE(loader.transferActive.load(), 0);
            QVERIFY(idle());
            QTest::qWait(200);
            QCOMPARE(camera.heardNow(), "START" + (headerSent ? headerFor(image) : QByteArray()));

            // The camera, restarted, is updated in the same run.
            camera.heard.clear();
            pressStart();
            QTRY_VERIFY_WITH_TIMEOUT(camera.heardNow() == "START", 10000);
            QVERIFY(camera.line.send("START OK\r\n"));
            const QByteArray expected = "START" + headerFor(image) + image;
            QTRY_VERIFY_WITH_TIMEOUT(camera.heardNow().size() >= expected.size(), 10000);
            QCOMPARE(camera.heard, expected);
            click("STOP");
        });
    }
};

QTEST_MAIN(UpdateRefusedTest)
#include "test_update_refused.moc"
