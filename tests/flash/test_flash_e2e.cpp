// quorvel-flash end to end: the built program against simulated cameras on
// pseudo-terminals, each outcome's exit code, what the camera heard, and
// what the program printed.
#include "fake_device.h"
#include "holder_process.h"
#include "package_file.h"
#include "simcam.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <thread>
#include <unistd.h>

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
    int code = -1;  // 128 + the signal for a process that a signal ended
    QByteArray out;
    QByteArray err;
    double seconds = 0;
};

} // namespace

class FlashE2eTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString package;
    QString demoPackage;
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
        // QProcess gives the signal as the code of a process a signal ended.
        run.code = flash.exitStatus() == QProcess::NormalExit ? flash.exitCode() : 128 + flash.exitCode();
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
        QVERIFY(writePackage(package, header, image0 + image1));
        // A demo package as quorvel-pack makes one: kind "demo" in its signed manifest.
        demoPackage = dir.filePath("demo.kq");
        QVERIFY(writePackage(dir.filePath("a.bin"), image0, {}));
        QVERIFY(writePackage(dir.filePath("b.bin"), image1, {}));
        QProcess pack;
        pack.start(PACK_COMMAND, {"create", "--demo", demoPackage, dir.filePath("a.bin"), "1.5",
                                  dir.filePath("b.bin"), "2.05"});
        QVERIFY(pack.waitForFinished(30000));
        QCOMPARE(pack.exitCode(), 0);
    }

    void successWritesTheImage_data()
    {
        QTest::addColumn<QString>("product");
        // Seconds after WRITE OK the line closes; -1 never, 0 the moment
        // the loader has read the reply.
        QTest::addColumn<double>("rebootDelay");
        QTest::newRow("RZ4417") << "RZ4417" << -1.0;
        QTest::newRow("KWT6083") << "KWT6083" << -1.0;
        QTest::newRow("reboot 50 ms after WRITE OK") << "RZ4417" << 0.05;
        // The line hangs up as soon as the reply is read, well before the
        // 10 ms it takes to gather: the reply is the loader's as it arrives,
        // and the hang-up is judged after it.
        QTest::newRow("reboot the moment WRITE OK is read") << "KWT6083" << 0.0;
    }
    void successWritesTheImage()
    {
        QFETCH(QString, product);
        QFETCH(double, rebootDelay);
        SimCameraOptions options = quickCamera();
        options.product = product.toStdString();
        options.rebootAfterWrite = rebootDelay >= 0.0;
        options.rebootWhenRead = rebootDelay == 0.0;
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
        // A pseudo-terminal has no COM label of the machine's: the device names it.
        QVERIFY(run.out.contains("quorvel-flash: success " + QByteArray::fromStdString(camera.devicePath())));
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
        QCOMPARE(run.code, refusals > 0 ? 5 : 3);
        QVERIFY(run.seconds >= 1.9);
        const SimCameraReport report = camera.report(false);
        QVERIFY(!report.heardStart);
        QCOMPARE(run.out.count("This product is unknown"), refusals);
        const QByteArray firstLine = banner.trimmed().split("\r\n").first().toUtf8();
        QVERIFY(run.out.count(firstLine) >= 2);  // heard again after a refusal
        // When the wait ends, an unknown product seen on the port is the reason.
        QVERIFY(run.out.contains(refusals > 0 ? "unknown-product" : "no-camera"));
    }

    void noCameraWithinWait()
    {
        const Run run = flashOnce({"--package", package, "--port", dir.filePath("no-such-tty"), "--wait", "0.5"});
        QCOMPARE(run.code, 6);  // the port named was never there
        FakeDevice silent;
        QVERIFY(silent.valid());
        const Run quiet = flashOnce({"--package", package, "--port", silent.path, "--wait", "0.5"});
        QCOMPARE(quiet.code, 3);
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
        QVERIFY(help.out.contains("8    interrupted after the whole image was sent"));
    }

    // Ctrl-C (or SIGTERM) acts as Stop: the worker leaves after its block,
    // the port is closed, then the program exits 130.
    void interruptStopsAfterOneBlock_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
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
        // Stopped as Stop stops, then ended by the signal itself, as the
        // shell expects (a loop that runs the program stops with it).
        QCOMPARE(flash.exitStatus(), QProcess::CrashExit);
        QCOMPARE(run.code, 128 + signal);

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

    // What a line branches on: each way an update ends early, its exit code,
    // how soon, and what the camera heard (START, the image) meanwhile.
    void lineExitCodes_data()
    {
        QTest::addColumn<QString>("camera");     // the product, or "slow-erase": an erase that never ends
        QTest::addColumn<QString>("port");       // "camera", "held" (by another program), "file" (no serial port)
        QTest::addColumn<bool>("demo");          // a demo package
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("startHeard");
        QTest::addColumn<QString>("words");
        QTest::newRow("unknown product, port named") << "XYZ999" << "camera" << false << QStringList() << 5 << false
                                                     << "unknown-product";
        QTest::newRow("port held by another program") << "RZ4417" << "held" << false << QStringList() << 6 << false
                                                      << "busy, held by";
        QTest::newRow("path is no serial port") << "RZ4417" << "file" << false << QStringList() << 6 << false
                                                << "not a serial port";
        QTest::newRow("camera hangs in its erase") << "slow-erase" << "camera" << false
                                                   << QStringList{"--timeout", "1"} << 7 << true << "keep it powered";
        QTest::newRow("demo package refused") << "RZ4417" << "camera" << true << QStringList() << 2 << false
                                              << "--allow-demo";
        QTest::newRow("demo package allowed") << "RZ4417" << "camera" << true << QStringList{"--allow-demo"} << 0
                                              << true << "success";
        QTest::newRow("dry run") << "KWT6083" << "camera" << false << QStringList{"-n"} << 0 << false
                                 << "would get image 1 of the package: version 2.05, 120000 bytes";
    }
    void lineExitCodes()
    {
        QFETCH(QString, camera);
        QFETCH(QString, port);
        QFETCH(bool, demo);
        QFETCH(QStringList, extra);
        QFETCH(int, code);
        QFETCH(bool, startHeard);
        QFETCH(QString, words);
        SimCameraOptions options = quickCamera();
        options.product = camera == "slow-erase" ? "RZ4417" : camera.toStdString();
        if (camera == "slow-erase")
            options.eraseSeconds = 60;
        SimCamera sim(options);
        QVERIFY(sim.start());
        const QString device = QString::fromStdString(sim.devicePath());
        std::unique_ptr<HolderProcess> holder;
        if (port == "held") {
            holder = std::make_unique<HolderProcess>(sim.devicePath(), "serialmon");
            QVERIFY(holder->holding());
        }
        const Run run = flashOnce(QStringList{"--package", demo ? demoPackage : package, "--port",
                                              port == "file" ? package : device}
                                  + extra);
        holder.reset();
        QCOMPARE(run.code, code);
        QVERIFY2(run.out.contains(words.toUtf8()), run.out.constData());
        QVERIFY2(run.seconds < 8, qPrintable(QString::number(run.seconds)));  // at once, not after a wait
        std::this_thread::sleep_for(200ms);
        const SimCameraReport report = sim.report(false);
        QCOMPARE(report.heardStart, startHeard);
        if (!startHeard)
            QCOMPARE(report.bytesReceived, uint64_t(0));
        if (camera == "slow-erase")
            QCOMPARE(report.bytesReceived, uint64_t(kImage0));
    }

    // Ctrl-C once the whole image is in the camera: nothing is left to
    // stop; the operator is told the camera writes its flash and must stay
    // powered, and the exit code says so.
    void interruptWhileTheCameraFlashes()
    {
        SimCameraOptions options = quickCamera();
        options.eraseSeconds = 60;
        SimCamera camera(options);
        QVERIFY(camera.start());
        QProcess flash;
        startFlash(flash, {"--package", package, "--port", QString::fromStdString(camera.devicePath())});
        QVERIFY(camera.waitForSent("FILE OK", 20s));
        ::kill(flash.processId(), SIGINT);
        const Run run = finish(flash);
        QCOMPARE(flash.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.code, 8);
        QVERIFY(run.out.contains("the camera is now writing its flash. Keep it powered until it restarts."));
    }

    // A reader that goes away or a full disk never stops an update: the
    // camera gets its image, the exit code is its verdict, and the loss of
    // the output is said on standard error.
    void lostOutputKeepsTheUpdate_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("words");
        QTest::newRow("reader gone") << "closed" << "standard output: Broken pipe";
        QTest::newRow("disk full") << "/dev/full" << "standard output: No space left on device";
    }
    void lostOutputKeepsTheUpdate()
    {
        QFETCH(QString, output);
        QFETCH(QString, words);
        SimCamera camera(quickCamera());
        QVERIFY(camera.start());
        QProcess flash;
        if (output == "closed") {
            // As `| head -0` leaves it: a pipe nobody reads any more.
            flash.setChildProcessModifier([] {
                int ends[2];
                if (::pipe(ends) == 0) {
                    ::close(ends[0]);
                    ::dup2(ends[1], STDOUT_FILENO);
                }
            });
        } else {
            flash.setStandardOutputFile(output);
        }
        startFlash(flash, {"--package", package, "--port", QString::fromStdString(camera.devicePath())});
        const Run run = finish(flash);
        QCOMPARE(flash.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.code, 0);
        QVERIFY2(run.err.contains(words.toUtf8()), run.err.constData());
        QVERIFY(camera.waitForFinished(10s));
        QCOMPARE(camera.report(false).bytesReceived, uint64_t(kImage0));
    }

    // Several --port in one command: each port its own update, side by
    // side, every line saying whose it is.
    void severalPortsSideBySide()
    {
        std::vector<std::unique_ptr<SimCamera>> cameras;
        QStringList arguments{"--package", package};
        for (const char *product : {"RZ4417", "KWT6083"}) {
            SimCameraOptions options = quickCamera();
            options.product = product;
            cameras.push_back(std::make_unique<SimCamera>(options));
            QVERIFY(cameras.back()->start());
            arguments << "--port" << QString::fromStdString(cameras.back()->devicePath());
        }
        const Run run = flashOnce(arguments);
        QCOMPARE(run.code, 0);
        for (const auto &camera : cameras) {
            QVERIFY(camera->waitForFinished(10s));
            QCOMPARE(camera->report(false).verdict, std::string("OK"));
            const QByteArray prefix = "[" + QByteArray::fromStdString(camera->devicePath()) + "] quorvel-flash: success";
            QVERIFY2(run.out.contains(prefix), run.out.constData());
        }
        QVERIFY(run.out.contains("ports: 2 cameras, 2 updated, 0 failed"));
    }

    // A station: three cameras plugged in one after another, the first left
    // plugged in and announcing again after its update, then a fourth that
    // fails. Each is updated once; the summary counts them by outcome.
    void stationUpdatesEachCameraOnce()
    {
        QStringList links;
        QString list;
        for (int n = 1; n <= 4; ++n) {
            links << dir.filePath(QString("station-cam%1").arg(n));
            list += QString("%1%2=%3").arg(n == 1 ? "" : ",").arg(n).arg(links.last());
        }
        QProcess flash;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QUORVEL_COM_PORTS", list);
        flash.setProcessEnvironment(environment);
        startFlash(flash, {"--package", package, "--station", "--count", "4"});
        std::vector<std::unique_ptr<SimCamera>> cameras;
        for (int n = 0; n < 4; ++n) {
            SimCameraOptions options = quickCamera();
            options.symlinkPath = links[n].toStdString();
            options.repeat = n == 0;  // reboots into its bootloader, still plugged in
            if (n == 3)
                options.errorAfterBytes = 50000;
            cameras.push_back(std::make_unique<SimCamera>(options));
            QVERIFY(cameras.back()->start());
            QVERIFY(cameras.back()->waitFor([](const SimCameraReport &r) { return r.updatesFinished >= 1; }, 20s));
        }
        const Run run = finish(flash);
        QCOMPARE(run.code, 1);  // one camera failed
        QVERIFY2(run.out.contains("station: 4 cameras, 3 updated, 1 failed (failed: 1)"), run.out.constData());
        QCOMPARE(cameras[0]->report(false).updatesFinished, 1u);  // announced again, never updated again
        for (int n = 1; n <= 4; ++n)
            QVERIFY(run.out.contains(QString("[COM%1] quorvel-flash: %2").arg(n).arg(n == 4 ? "failed" : "success").toUtf8()));
    }
};

QTEST_GUILESS_MAIN(FlashE2eTest)
#include "test_flash_e2e.moc"
