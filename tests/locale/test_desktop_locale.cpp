// The whole program on a French (or Turkish) desktop: the session's
// environment is in place before the toolkit starts, as when the operator
// starts Quorvel from such a desktop, and the command line carries a Qt
// option. Numbers on the wire and on the panel, and the camera's words,
// must come out as on any other desktop.
//
//   test_desktop_locale                          a French desktop
//   test_desktop_locale --desktop tr_TR.UTF-8    a Turkish one
#include "desktop_locale.h"
#include "fake_device.h"
#include "loader_state.h"
#include "package_file.h"
#include "program_fixture.h"
#include "simcam.h"
#include "ui_constants.h"

#include <QGuiApplication>
#include <QtTest>
#include <clocale>
#include <cstdlib>
#include <langinfo.h>
#include <memory>
#include <string>
#include <vector>

using namespace fixture;

namespace {

constexpr int kUpdateTimeoutMs = 30000;

QString infoLine()
{
    std::string info;
    GetCtrlVal(loader.panel, INFO, &info);
    return QString::fromStdString(info);
}

} // namespace

class DesktopLocaleTest : public QObject {
    Q_OBJECT
    const QString desktop_;

public:
    explicit DesktopLocaleTest(const std::string &desktop) : desktop_(QString::fromStdString(desktop)) {}

private slots:
    void cleanup() { qunsetenv("QUORVEL_COM_PORTS"); }

    // The toolkit did adopt the desktop's locale: without it the checks
    // below would prove nothing.
    void theToolkitTookTheDesktopLocale()
    {
        QCOMPARE(QString(std::setlocale(LC_MESSAGES, nullptr)), desktop_);
        QCOMPARE(QLocale::system().name(), desktop_.left(5));
    }

    void numbersAndLettersKeepTheirMeaning()
    {
        QCOMPARE(QString(std::localeconv()->decimal_point), QString("."));
        QCOMPARE(std::strtod("1.5", nullptr), 1.5);
        char text[16];
        std::snprintf(text, sizeof text, "%.3f", 1.5);
        QCOMPARE(QString(text), QString("1.500"));
        QCOMPARE(std::tolower('I'), int('i'));
        QCOMPARE(std::toupper('i'), int('I'));
        QCOMPARE(QString(nl_langinfo(CODESET)), QString("UTF-8"));  // what Qt relies on
    }

    void qtOptionsOnTheCommandLineHaveNoEffect()
    {
        QCOMPARE(QCoreApplication::arguments(), QStringList{"Quorvel"});
        QCOMPARE(QGuiApplication::layoutDirection(), Qt::LeftToRight);  // "-reverse" not taken
    }

    // On the French desktop, against the simulated camera: the camera gets
    // the header of the real image and every byte of it.
    void wholeUpdateAgainstTheSimulatedCamera()
    {
        if (!desktop_.startsWith("fr_"))
            QSKIP("run on the French desktop");
        const QByteArray image0 = randomImage(262144, 41), image1 = randomImage(196608, 42);
        QVERIFY(writeDemoPackage(packagePath(), "1.5 262144 2.05 196608\n", image0 + image1));
        SimCameraOptions o;
        o.product = "RZ4417";
        o.eraseSeconds = 1.5;
        o.programSeconds = 1.5;
        SimCamera cam(o);
        QVERIFY(cam.start());
        qputenv("QUORVEL_COM_PORTS", ("4=" + cam.devicePath()).c_str());

        runProgram([&] {
            pressStart();
            QTRY_VERIFY_WITH_TIMEOUT(cam.report(false).updatesFinished == 1, kUpdateTimeoutMs);
            QTRY_VERIFY_WITH_TIMEOUT(log().contains("Operation successful!"), 5000);
            const SimCameraReport r = cam.report();
            qInfo("camera's view: before the header \"%s\", header \"%s\" (size %u, checksum %08X), "
                  "%llu image bytes, verdict %s",
                  r.received_before_header.c_str(), r.headerText.c_str(), r.announcedSize,
                  r.announcedChecksum, static_cast<unsigned long long>(r.bytesReceived), r.verdict.c_str());
            QCOMPARE(QByteArray::fromStdString(r.received_before_header), QByteArray("START"));
            QCOMPARE(r.announcedSize, 262144u);
            QCOMPARE(r.announcedChecksum, referenceChecksum(image0));
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(r.image.data()), int(r.image.size())), image0);
            QCOMPARE(QString::fromStdString(r.verdict), QString("OK"));
            QVERIFY(!r.extraBytesAfterImage);

            QCOMPARE(infoLine(), QString("Updating with RZ4417 v01.50 : 0.250 Mb ..."));
            QCOMPARE(labelOf(OCTET), QString("/ 0.250 Mb"));
            std::string time;
            GetCtrlVal(loader.panel, TEMPS, &time);
            QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d$").match(QString::fromStdString(time)).hasMatch(),
                     time.c_str());
        });
    }

    // On the Turkish desktop, a camera that answers in lower case: "file
    // ok" and "write ok" (with their letter I) are heard and the update ends.
    void lowerCaseRepliesAreHeard()
    {
        if (!desktop_.startsWith("tr_"))
            QSKIP("run on the Turkish desktop");
        const QByteArray image0 = randomImage(20000, 43);
        QVERIFY(writePackage(packagePath(), "1.5 20000 2.05 10\n", image0 + QByteArray(10, 'x')));
        FakeDevice camera;
        QVERIFY(camera.valid());
        qputenv("QUORVEL_COM_PORTS", ("4=" + camera.path).toLocal8Bit());

        runProgram([&] {
            pressStart();
            QTRY_VERIFY(loader.portStatus[4] == 0);
            QVERIFY(camera.send("\r\nbootloader v2.10 - rz4417\r\n"));
            QByteArray heard;
            QTRY_COMPARE_WITH_TIMEOUT(heard += camera.drain(), QByteArray("START"), 5000);
            QVERIFY(camera.send("start ok\r\n"));
            heard.clear();
            const QByteArray expected = QByteArray("00004E20")
                                        + QByteArray::number(referenceChecksum(image0), 16).toUpper().rightJustified(8, '0')
                                        + image0;
            QTRY_VERIFY_WITH_TIMEOUT((heard += camera.drain()).size() >= expected.size(), 10000);
            QCOMPARE(heard, expected);
            for (const char *reply : {"file ok", "erase ok", "write ok"}) {
                QVERIFY(camera.send(QByteArray(reply) + "\r\n"));
                QTRY_VERIFY_WITH_TIMEOUT(log().contains(reply), 5000);
                QTRY_VERIFY_WITH_TIMEOUT(loader.displayedStep == loader.reportedStep, 5000);
            }
            QTRY_VERIFY_WITH_TIMEOUT(log().contains("Operation successful!"), 5000);
            QVERIFY(log().contains("Erasing FLASH..."));
        });
    }
};

int main(int argc, char **argv)
{
    std::string locale = "fr_FR.UTF-8";
    std::vector<char *> testArgs{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--desktop" && i + 1 < argc)
            locale = argv[++i];
        else
            testArgs.push_back(argv[i]);
    }
    if (!desktop::compileLocale(locale))
        return 2;
    desktop::setDesktopEnvironment(locale);
    // Started from the desktop with a Qt option on the command line.
    static char program[] = "Quorvel";
    static char reverse[] = "-reverse";
    static char *args[] = {program, reverse, nullptr};
    if (!InitRunTime(2, args))
        return 2;
    DesktopLocaleTest test(locale);
    return QTest::qExec(&test, static_cast<int>(testArgs.size()), testArgs.data());
}

#include "test_desktop_locale.moc"
