// quorvel-flash end to end: the built program against simulated cameras on
// pseudo-terminals, each outcome's exit code, what the camera heard, and
// what the program printed.
#include "package_file.h"
#include "simcam.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <csignal>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr int kImage0 = 300000;  // RZ4417
constexpr int kImage1 = 120000;  // KWT6083

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
    double seconds = 0;
};

} // namespace

class FlashE2eTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString package;
    QByteArray image0 = randomImage(kImage0, 7);
    QByteArray image1 = randomImage(kImage1, 8);

    void startFlash(QProcess &flash, const QStringList &arguments)
    {
        flash.setProgram(FLASH_COMMAND);
        flash.setArguments(arguments);
        flash.start();
        QVERIFY(flash.waitForStarted(5000));
    }

    Run finish(QProcess &flash, int timeoutMs = 60000)
    {
        Run run;
        if (!flash.waitForFinished(timeoutMs)) {
            flash.kill();
            flash.waitForFinished(2000);
        }
        run.code = flash.exitStatus() == QProcess::NormalExit ? flash.exitCode() : -1;
        run.out = flash.readAllStandardOutput();
        run.err = flash.readAllStandardError();
        return run;
    }

    Run flashOnce(const QStringList &arguments)
    {
        QProcess flash;
        QElapsedTimer clock;
        clock.start();
        startFlash(flash, arguments);
        Run run = finish(flash);
        run.seconds = clock.elapsed() / 1000.0;
        return run;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        package = dir.filePath("vers.kq");
        const QByteArray header = "1.5 " + QByteArray::number(kImage0) + " 2.05 " + QByteArray::number(kImage1) + "\n";
        QVERIFY(writeDemoPackage(package, header, image0 + image1));
    }

    void successWritesTheImage_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<double>("rebootDelay");  // seconds after WRITE OK the line closes; -1 never
        QTest::newRow("RZ4417") << "RZ4417" << -1.0;
        QTest::newRow("KWT6083") << "KWT6083" << -1.0;
        QTest::newRow("reboot 50 ms after WRITE OK") << "RZ4417" << 0.05;
        // The line hangs up 2 ms after the reply, well before the 10 ms it
        // takes to gather: the reply is the loader's as it arrives, and the
        // hang-up is judged after it.
        QTest::newRow("reboot 2 ms after WRITE OK") << "KWT6083" << 0.002;
    }
    void successWritesTheImage()
    {
        QFETCH(QString, product);
        QFETCH(double, rebootDelay);
        SimCameraOptions options = quickCamera();
        options.product = product.toStdString();
        options.rebootAfterWrite = rebootDelay >= 0.0;
        options.rebootDelay = rebootDelay;
        SimCamera camera(options);
        QVERIFY(camera.start());

        const Run run = flashOnce({"--package", package, "--port", QString::fromStdString(camera.devicePath())});
        QCOMPARE(run.code, 0);
        // A rebooting camera records its verdict as it closes the line, which
        // may be a moment after quorvel-flash has seen the hang-up and left.
        QVERIFY(camera.waitForFinished(std::chrono::seconds(10)));
        const SimCameraReport report = camera.report();
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(report.image.data()), int(report.image.size())),
                 product == "RZ4417" ? image0 : image1);
        QVERIFY(report.verdict.rfind("OK", 0) == 0);
        QVERIFY(run.out.contains("\nOperation successful!\n"));
        QVERIFY(run.out.contains("quorvel-flash: success COM1"));
        // Not a terminal: a progress line at each tenth, the last at 100 %.
        QCOMPARE(run.err.count(" %  "), 10);
        QVERIFY(run.err.contains("100 %"));
    }

    // The camera's own text reaches the terminal with its controls visible.
    void cameraTextIsMadeVisible()
    {
        SimCameraOptions options = quickCamera();
        options.banner = "\r\nBootloader v2.10 - RZ4417 \x1b]0;owned\x07\x1b[2J\r\n";
        SimCamera camera(options);
        QVERIFY(camera.start());
        const Run run = flashOnce({"--package", package, "--port", QString::fromStdString(camera.devicePath())});
        QCOMPARE(run.code, 0);
        QVERIFY(!run.out.contains('\x1b'));
        QVERIFY(!run.out.contains('\x07'));
        QVERIFY(run.out.contains("RZ4417 \\x1b]0;owned\\x07\\x1b[2J"));
    }

    void failures_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("code");
        QTest::newRow("ERROR mid-stream") << "error" << 1;
        QTest::newRow("hang-up mid-stream") << "hang-up" << 4;
        QTest::newRow("hang-up right after START") << "hang-up at START" << 4;
    }
    void failures()
    {
        QFETCH(QString, fault);
        QFETCH(int, code);
        SimCameraOptions options = quickCamera();
        if (fault == "hang-up at START")
            options.hangUpAtStart = true;
        else
            (fault == "error" ? options.errorAfterBytes : options.hangUpAfterBytes) = 100000;
        SimCamera camera(options);
        QVERIFY(camera.start());
        const Run run = flashOnce({"--package", package, "--port", QString::fromStdString(camera.devicePath()),
                                   "--json"});
        // The run's last lines say why, should the code ever differ.
        QVERIFY2(run.code == code, (QByteArray::number(run.code) + "\n" + run.out.right(800) + run.err.right(400)).constData());
        const SimCameraReport report = camera.report(false);
        QVERIFY(report.bytesReceived < uint64_t(kImage0));
        QVERIFY(!run.out.contains("Operation successful"));
        const QJsonObject result = QJsonDocument::fromJson(run.out.trimmed().split('\n').last()).object();
        QCOMPARE(result.value("event").toString(), QString("result"));
        QCOMPARE(result.value("code").toInt(), code);
        QCOMPARE(result.value("result").toString(), QString(fault == "error" ? "failed" : "disconnected"));
    }

    // An unknown camera is refused and the scan goes on: another camera may
    // come; with --wait the program gives up, never having sent START. A
    // device that prints the loader's own success text and the camera's
    // replies is no camera either: text is never a verdict.
    void unknownProductKeepsWaiting_data()
    {
        QTest::addColumn<QString>("banner");
        QTest::addColumn<int>("refusals");
        QTest::newRow("unknown product") << "\r\nBootloader v2.10 - XYZ999\r\n" << 1;
        QTest::newRow("device printing the success text")
            << "\r\nOperation successful!\r\nWRITE OK\r\n" << 0;
    }
    void unknownProductKeepsWaiting()
    {
        QFETCH(QString, banner);
        QFETCH(int, refusals);
        SimCameraOptions options = quickCamera();
        options.banner = banner.toStdString();
        SimCamera camera(options);
        QVERIFY(camera.start());
        const Run run = flashOnce({"--package", package, "--port", QString::fromStdString(camera.devicePath()),
                                   "--wait", "2"});
        QCOMPARE(run.code, 3);
        QVERIFY(run.seconds >= 1.9);
        const SimCameraReport report = camera.report(false);
        QVERIFY(!report.heardStart);
        QCOMPARE(run.out.count("This product is unknown"), refusals);
        const QByteArray firstLine = banner.trimmed().split("\r\n").first().toUtf8();
        QVERIFY(run.out.count(firstLine) >= 2);  // heard again after a refusal
        QVERIFY(run.out.contains("no-camera"));
    }

    void noCameraWithinWait()
    {
        const Run run = flashOnce({"--package", package, "--port", dir.filePath("no-such-tty"), "--wait", "0.5"});
        QCOMPARE(run.code, 3);
    }

    void refusedPackageSendsNothing_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("imageBytes");
        QTest::addColumn<QString>("words");
        QTest::newRow("image short") << QByteArray("1.5 300000 2.05 120000\n") << 400000 << "could not be read whole";
        QTest::newRow("header cut") << QByteArray("1.5 300000 2.05\n") << 420000 << "could not be read whole";
        QTest::newRow("missing") << QByteArray() << -1 << "Can't find 'vers.kq' file!";
    }
    void refusedPackageSendsNothing()
    {
        QFETCH(QByteArray, header);
        QFETCH(int, imageBytes);
        QFETCH(QString, words);
        const QString bad = dir.filePath("bad.kq");
        QFile::remove(bad);
        if (imageBytes >= 0)
            QVERIFY(writePackage(bad, header, randomImage(imageBytes, 3)));
        SimCamera camera(quickCamera());
        QVERIFY(camera.start());
        const Run run = flashOnce({"--package", bad, "--port", QString::fromStdString(camera.devicePath())});
        QCOMPARE(run.code, 2);
        QVERIFY(run.out.contains(words.toUtf8()));
        std::this_thread::sleep_for(300ms);
        const SimCameraReport report = camera.report(false);
        QVERIFY(!report.headerReceived);
        QCOMPARE(report.bytesReceived, uint64_t(0));
        QVERIFY(report.received_before_header.empty() || report.received_before_header == "START");
    }

    void usageErrors()
    {
        for (const QStringList &arguments :
             {QStringList{"--bogus"}, QStringList{"--wait", "soon"}, QStringList{"--port"},
              QStringList{"--json", "--quiet"}, QStringList{"--port", "/dev/a,/dev/b"}}) {
            const Run run = flashOnce(arguments);
            QCOMPARE(run.code, 2);
            QVERIFY(run.err.contains("Try 'quorvel-flash --help'"));
        }
        const Run help = flashOnce({"--help"});
        QCOMPARE(help.code, 0);
        QVERIFY(help.out.contains("130  interrupted"));
    }

    // Ctrl-C (or SIGTERM) acts as Stop: the worker leaves after its block,
    // the port is closed, then the program exits 130.
    void interruptStopsAfterOneBlock_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
    }
    void interruptStopsAfterOneBlock()
    {
        QFETCH(int, signal);
        SimCameraOptions options = quickCamera();
        options.lineRate = 60000;  // five seconds of image
        SimCamera camera(options);
        QVERIFY(camera.start());
        QProcess flash;
        startFlash(flash, {"--package", package, "--port", QString::fromStdString(camera.devicePath()), "--json"});
        QVERIFY(camera.waitFor([](const SimCameraReport &r) { return r.bytesReceived > 60000; }, 20s));
        ::kill(flash.processId(), signal);
        const Run run = finish(flash);
        QCOMPARE(run.code, 130);

        qint64 before = -1, after = -1, sent = -1;
        bool portOpen = true;
        for (const QByteArray &line : run.out.trimmed().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.value("event") == "stop") {
                before = o.value("bytes_sent_before").toInteger();
                after = o.value("bytes_sent_after").toInteger();
                portOpen = o.value("port_open").toBool(true);
            } else if (o.value("event") == "result") {
                sent = o.value("bytes_sent").toInteger();
            }
        }
        QVERIFY(before > 0);
        QVERIFY2(after - before <= 512, qPrintable(QString("%1 bytes after Stop").arg(after - before)));
        QVERIFY(sent < kImage0);
        // Stop closed the port before the program left; the camera, once it
        // has read what the line still held, has nothing the program did not
        // count as sent.
        QVERIFY(!portOpen);
        uint64_t received = 0;
        for (uint64_t previous = ~uint64_t(0); received != previous;) {
            previous = received;
            std::this_thread::sleep_for(300ms);
            received = camera.report(false).bytesReceived;
        }
        QVERIFY2(received <= uint64_t(sent), qPrintable(QString("%1 received, %2 sent").arg(received).arg(sent)));
    }

    void everyJsonLineParses()
    {
        SimCamera camera(quickCamera());
        QVERIFY(camera.start());
        const Run run = flashOnce({"--package", package, "--port", QString::fromStdString(camera.devicePath()),
                                   "--json"});
        QCOMPARE(run.code, 0);
        QVERIFY(run.err.isEmpty());
        QStringList events;
        QStringList steps;
        for (const QByteArray &line : run.out.trimmed().split('\n')) {
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(line, &error);
            QVERIFY2(error.error == QJsonParseError::NoError && document.isObject(), line.constData());
            const QJsonObject o = document.object();
            const QString event = o.value("event").toString();
            if (events.isEmpty() || events.last() != event)
                events << event;
            if (event == "step")
                steps << o.value("step").toString();
            if (event == "banner") {
                QCOMPARE(o.value("product").toString(), QString("RZ4417"));
                QCOMPARE(o.value("device").toString(), QString::fromStdString(camera.devicePath()));
            } else if (event == "header") {
                QCOMPARE(o.value("size").toInt(), kImage0);
                QCOMPARE(o.value("checksum").toString(),
                         QString("%1").arg(referenceChecksum(image0), 8, 16, QChar('0')).toUpper());
                QCOMPARE(o.value("text").toString().toStdString(), camera.report(false).headerText);
            } else if (event == "result") {
                QCOMPARE(o.value("code").toInt(), 0);
                QCOMPARE(o.value("bytes_sent").toInt(), kImage0);
            }
        }
        QCOMPARE(steps, QStringList({"erasing", "programming", "written"}));
        QCOMPARE(events.first(), QString("package"));
        QVERIFY(events.contains("banner") && events.contains("header") && events.contains("progress"));
        QCOMPARE(events.last(), QString("result"));
        QVERIFY(events.indexOf("banner") < events.indexOf("header"));
        QVERIFY(events.indexOf("header") < events.indexOf("progress"));
    }

    void quietPrintsTheResultOnly()
    {
        SimCamera camera(quickCamera());
        QVERIFY(camera.start());
        const Run run = flashOnce({"--package", package, "--port", QString::fromStdString(camera.devicePath()),
                                   "--quiet", "--french"});
        QCOMPARE(run.code, 0);
        QCOMPARE(run.out.count('\n'), 1);
        QVERIFY(run.out.startsWith("quorvel-flash: success"));
        QVERIFY(run.out.contains("Mise à jour réussie!"));
        QVERIFY(run.err.isEmpty());
    }

    // One process per port, side by side, each camera its own image.
    void threeCamerasAtOnce()
    {
        std::vector<std::unique_ptr<SimCamera>> cameras;
        std::vector<std::unique_ptr<QProcess>> processes;
        for (const char *product : {"RZ4417", "KWT6083", "RZ4417"}) {
            SimCameraOptions options = quickCamera();
            options.product = product;
            options.lineRate = 200000;
            cameras.push_back(std::make_unique<SimCamera>(options));
            QVERIFY(cameras.back()->start());
        }
        for (const auto &camera : cameras) {
            processes.push_back(std::make_unique<QProcess>());
            startFlash(*processes.back(), {"--package", package, "--port",
                                           QString::fromStdString(camera->devicePath()), "--quiet"});
        }
        for (std::size_t i = 0; i < cameras.size(); ++i) {
            const Run run = finish(*processes[i]);
            QCOMPARE(run.code, 0);
            const SimCameraReport report = cameras[i]->report();
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(report.image.data()), int(report.image.size())),
                     i == 1 ? image1 : image0);
        }
    }
};

QTEST_GUILESS_MAIN(FlashE2eTest)
#include "test_flash_e2e.moc"
