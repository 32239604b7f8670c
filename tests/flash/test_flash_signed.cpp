// quorvel-flash built as a release is built, trusting the project's release
// key, against simulated cameras: a package refused at start-up sends the
// camera nothing, and a package swapped after start-up is never what goes
// out. Packages are made by quorvel-pack, as a maker makes them.
#include "package_file.h"
#include "simcam.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kImage0 = 30000;  // RZ4417
constexpr int kImage1 = 20000;  // KWT6083

SimCameraOptions quickCamera()
{
    SimCameraOptions options;
    options.fileOkSeconds = 0.05;
    options.eraseSeconds = 0.1;
    options.programSeconds = 0.1;
    return options;
}

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const char *program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(2000);
        return result;
    }
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class FlashSignedTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.filePath(name); }
    QByteArray image0 = randomImage(kImage0, 17);
    QByteArray image1 = randomImage(kImage1, 18);
    QByteArray other0 = randomImage(kImage0, 19);

    // quorvel-pack create [--key KEY | --demo] into `name`.
    QByteArray create(const QString &name, const QStringList &signing, const QString &image0File = "a.bin")
    {
        const Run made = run(PACK_COMMAND, QStringList{"create"} + signing
                                               + QStringList{path(name), path(image0File), "1.5", path("b.bin"), "2.05"});
        if (made.code != 0)
            qWarning("quorvel-pack create: %s", made.err.constData());
        return contents(path(name));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(writePackage(path("a.bin"), image0, {}));
        QVERIFY(writePackage(path("b.bin"), image1, {}));
        QVERIFY(writePackage(path("c.bin"), other0, {}));
        QCOMPARE(run(PACK_COMMAND, {"keygen", path("stranger")}).code, 0);
    }

    void startUp_data()
    {
        QTest::addColumn<QByteArray>("package");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        const QByteArray release = create("release.kq", {"--key", QUORVEL_TEST_RELEASE_KEY});
        QByteArray altered = release;
        altered[100] = static_cast<char>(altered[100] ^ 0x20);  // a byte of image 0
        const QByteArray stranger = create("stranger.kq", {"--key", path("stranger.key")});
        const QByteArray strangerId = run(PACK_COMMAND, {"inspect", path("stranger.kq")}).out;
        const QByteArray demo = create("demo.kq", {"--demo"});
        const int body = int(QByteArray("1.5 30000 2.05 20000\n").size()) + kImage0 + kImage1;
        QTest::newRow("a release signed by the release key") << release << 0 << "success";
        QTest::newRow("one byte altered") << altered << 2 << "does not match its signature";
        QTest::newRow("trailer stripped") << release.left(body) << 2 << "is not signed";
        QTest::newRow("an untrusted key") << stranger << 2 << "which this Quorvel does not trust";
        QTest::newRow("a demo package") << demo << 2 << "is a demo package";
        QTest::newRow("a demo package, trailer stripped") << demo.left(body) << 2 << "is not signed";
    }
    void startUp()
    {
        QFETCH(QByteArray, package);
        QFETCH(int, code);
        QFETCH(QString, says);
        QVERIFY(writePackage(path("vers.kq"), package, {}));
        SimCamera camera(quickCamera());
        QVERIFY(camera.start());
        const Run flashed = run(FLASH_COMMAND, {"--package", path("vers.kq"), "--port",
                                                QString::fromStdString(camera.devicePath())});
        QCOMPARE(flashed.code, code);
        QVERIFY2(QString::fromUtf8(flashed.out + flashed.err).contains(says), (flashed.out + flashed.err).constData());
        if (code == 0) {
            QVERIFY(camera.waitForFinished(std::chrono::seconds(10)));
            const SimCameraReport report = camera.report();
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(report.image.data()), int(report.image.size())), image0);
        } else {
            camera.stop();
            QVERIFY(!camera.report().heardStart);  // refused before any port was opened
        }
    }

    // vers.kq replaced when the camera has heard START and before it
    // answers START OK: the image loaded then is not the verified one, so
    // neither its header nor a byte of it goes out.
    void swapBeforeStartOk_data()
    {
        QTest::addColumn<QByteArray>("swapped");
        QTest::addColumn<bool>("sent");
        QTest::newRow("same header, other image 0, signed by the release key")
            << create("other.kq", {"--key", QUORVEL_TEST_RELEASE_KEY}, "c.bin") << false;
        QTest::newRow("same header, other image 0, unsigned") << create("unsigned.kq", {}, "c.bin") << false;
        QTest::newRow("the same package written again")
            << create("same.kq", {"--key", QUORVEL_TEST_RELEASE_KEY}) << true;
    }
    void swapBeforeStartOk()
    {
        QFETCH(QByteArray, swapped);
        QFETCH(bool, sent);
        QVERIFY(writePackage(path("vers.kq"), create("release.kq", {"--key", QUORVEL_TEST_RELEASE_KEY}), {}));
        SimCameraOptions options = quickCamera();
        const QString target = path("vers.kq");
        options.onEvent = [target, swapped](const std::string &event) {
            if (event == "heard START")
                writePackage(target, swapped, {});  // before the camera replies START OK
        };
        SimCamera camera(options);
        QVERIFY(camera.start());
        const Run flashed = run(FLASH_COMMAND, {"--package", path("vers.kq"), "--port",
                                                QString::fromStdString(camera.devicePath())});
        camera.stop();
        const SimCameraReport report = camera.report();
        QVERIFY(report.heardStart);
        if (sent) {
            QCOMPARE(flashed.code, 0);
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(report.image.data()), int(report.image.size())), image0);
        } else {
            QCOMPARE(flashed.code, 2);
            QVERIFY2(!report.headerReceived, report.headerText.c_str());
            QVERIFY(report.image.empty());
            QVERIFY2(flashed.out.contains("has changed since Quorvel started"), flashed.out.constData());
        }
    }
};

QTEST_GUILESS_MAIN(FlashSignedTest)
#include "test_flash_signed.moc"
