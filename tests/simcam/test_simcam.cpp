// The simulated camera, driven from the loader's side of its pty with plain
// POSIX calls, as the loader would drive a camera on a USB serial port.
#include "simcam.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kBanner = "\r\nBootloader v2.10 - RZ4417\r\n";

// The loader's end of the line: the slave device opened raw.
class LoaderEnd {
public:
    explicit LoaderEnd(const std::string &device)
    {
        fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios raw{};
        if (fd_ >= 0 && tcgetattr(fd_, &raw) == 0) {
            cfmakeraw(&raw);
            tcsetattr(fd_, TCSANOW, &raw);
        }
    }
    ~LoaderEnd() { close(); }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    bool isOpen() const { return fd_ >= 0; }

    // Reads until `text` is in what arrived after `from`, or the deadline.
    // Returns where it ends (npos on time-out).
    size_t readUntil(const std::string &text, std::chrono::milliseconds timeout, size_t from = 0)
    {
        auto deadline = Clock::now() + timeout;
        for (;;) {
            size_t at = received.find(text, from);
            if (at != std::string::npos)
                return at + text.size();
            if (!readSome(deadline))
                return std::string::npos;
        }
    }
    // Takes whatever is waiting, without waiting for more.
    void readAvailable() { while (readSome(Clock::now())) {} }

    bool write(const std::string &bytes, std::chrono::milliseconds timeout = 5000ms)
    {
        auto deadline = Clock::now() + timeout;
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN)
                return false;
            if (Clock::now() >= deadline)
                return false;
            pollfd p = {fd_, POLLOUT, 0};
            poll(&p, 1, 50);
        }
        return true;
    }

    // Waits for the line to go dead: POLLHUP, end of file or EIO.
    bool waitHangUp(std::chrono::milliseconds timeout)
    {
        auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            pollfd p = {fd_, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {
                if (p.revents & POLLHUP)
                    return true;
                char buffer[4096];
                ssize_t n = ::read(fd_, buffer, sizeof buffer);
                if (n == 0 || (n < 0 && errno == EIO))
                    return true;
            }
        }
        return false;
    }

    std::string received;  // everything read so far

private:
    bool readSome(Clock::time_point deadline)
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p = {fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::max<long long>(0, left))) <= 0)
            return false;
        char buffer[4096];
        ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        received.append(buffer, static_cast<size_t>(n));
        return true;
    }
    int fd_ = -1;
};

std::vector<uint8_t> makeImage(size_t size, unsigned seed = 1)
{
    std::vector<uint8_t> image(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto &b : image) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return image;
}

uint32_t checksumOf(const std::vector<uint8_t> &image)
{
    uint32_t sum = 0;
    for (uint8_t b : image)
        sum += b;
    return ~sum;
}

std::string header(uint32_t size, uint32_t sum, bool upper = true)
{
    char text[17];
    snprintf(text, sizeof text, upper ? "%08X%08X" : "%08x%08x", size, sum);
    return text;
}

std::string bytes(const std::vector<uint8_t> &image) { return std::string(image.begin(), image.end()); }

size_t occurrences(const std::string &text, const std::string &word)
{
    size_t count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++count;
    return count;
}

SimCameraOptions quick()
{
    SimCameraOptions o;
    o.bannerPeriod = 0.05;
    o.fileOkSeconds = 0;
    o.eraseSeconds = 0.05;
    o.programSeconds = 0.05;
    return o;
}

// Announced, heard START, answered: the line is ready for the header.
bool startDialogue(SimCamera &camera, LoaderEnd &loader)
{
    size_t from = loader.received.size();
    if (!loader.isOpen() || loader.readUntil("Bootloader v", 2000ms, from) == std::string::npos)
        return false;
    from = loader.received.size();
    return loader.write("START") && loader.readUntil("START OK\r\n", 2000ms, from) != std::string::npos &&
           camera.waitForSent("START OK", 1000ms);
}

} // namespace

class SimCameraTest : public QObject {
    Q_OBJECT
private slots:
    void checksum_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<quint32>("expected");
        QTest::newRow("abc") << QByteArray("abc") << quint32(0xFFFFFED9);
        QTest::newRow("nothing") << QByteArray() << quint32(0xFFFFFFFF);
        QTest::newRow("255 counts as 255") << QByteArray("\xFF\x01", 2) << quint32(0xFFFFFEFF);
        QTest::newRow("sum wraps") << QByteArray(16843010, '\xFF') << quint32(~(16843010u * 255u));
    }
    void checksum()
    {
        QFETCH(QByteArray, data);
        QFETCH(quint32, expected);
        auto p = reinterpret_cast<const uint8_t *>(data.constData());
        size_t n = static_cast<size_t>(data.size());
        QCOMPARE(SimCamera::checksum(p, n), expected);
        // Taken in two reads, as the camera takes the image.
        QCOMPARE(SimCamera::checksum(p + n / 3, n - n / 3, SimCamera::checksum(p, n / 3)), expected);
    }

    void banner_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<QByteArray>("override");
        QTest::addColumn<bool>("lower");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("default") << "RZ4417" << QByteArray() << false << QByteArray(kBanner.c_str());
        QTest::newRow("unknown product") << "XYZ999" << QByteArray() << false
                                         << QByteArray("\r\nBootloader v2.10 - XYZ999\r\n");
        QTest::newRow("lower case") << "KWT6083" << QByteArray() << true
                                    << QByteArray("\r\nbootloader v2.10 - kwt6083\r\n");
        QTest::newRow("whole banner given") << "RZ4417" << QByteArray("BOOT Bootloader v3 RZ4417 KWT6083\n")
                                            << false << QByteArray("BOOT Bootloader v3 RZ4417 KWT6083\n");
    }
    void banner()
    {
        QFETCH(QString, product);
        QFETCH(QByteArray, override);
        QFETCH(bool, lower);
        QFETCH(QByteArray, expected);
        SimCameraOptions o = quick();
        o.product = product.toStdString();
        o.banner = override.toStdString();
        o.lowerCaseBanner = lower;
        SimCamera camera(o);
        QVERIFY(camera.start());
        LoaderEnd loader(camera.devicePath());
        QVERIFY(loader.isOpen());
        // Repeated, and nothing else on the line.
        const std::string text = expected.toStdString();
        size_t end = loader.readUntil(text + text + text, 3000ms);
        QVERIFY(end != std::string::npos);
        std::string seen = loader.received.substr(0, end);
        size_t first = seen.find(text);
        seen = seen.substr(first);
        QCOMPARE(occurrences(seen, text) * text.size(), seen.size());
    }

    // Announces until START, then never again; the loader may close and
    // reopen the device meanwhile without the camera noticing.
    void bannerUntilStart()
    {
        SimCamera camera(quick());
        QVERIFY(camera.start());
        auto loader = std::make_unique<LoaderEnd>(camera.devicePath());
        QVERIFY(loader->readUntil(kBanner, 2000ms) != std::string::npos);
        loader = std::make_unique<LoaderEnd>(camera.devicePath());
        QVERIFY(loader->readUntil(kBanner, 2000ms) != std::string::npos);
        QVERIFY(loader->write("START"));
        QVERIFY(loader->readUntil("START OK\r\n", 2000ms) != std::string::npos);
        SimCameraReport report = camera.report();
        QVERIFY(report.heardStart);
        QCOMPARE(report.received_before_header, std::string("START"));
        const unsigned banners = report.bannersSent;
        QVERIFY(!camera.waitFor([&](const SimCameraReport &r) { return r.bannersSent != banners; }, 300ms));
        loader->readAvailable();
        QVERIFY(loader->received.rfind("Bootloader") < loader->received.find("START OK"));
    }

    // Banners sent while no port listens are lost, as on a real line: a
    // loader opening the device late finds the latest, not a pile of old ones.
    void bannersToNobodyAreLost()
    {
        SimCameraOptions o = quick();
        o.bannerPeriod = 0.02;
        SimCamera camera(o);
        QVERIFY(camera.start());
        QVERIFY(camera.waitFor([](const SimCameraReport &r) { return r.bannersSent >= 15; }, 3000ms));
        LoaderEnd loader(camera.devicePath());
        loader.readAvailable();
        QVERIFY2(occurrences(loader.received, kBanner) <= 2, loader.received.c_str());
    }

    void noiseHasNoProtocolWords()
    {
        SimCameraOptions o = quick();
        o.noise = true;
        SimCamera camera(o);
        QVERIFY(camera.start());
        LoaderEnd loader(camera.devicePath());
        size_t end = loader.readUntil(kBanner, 2000ms, loader.readUntil(kBanner, 2000ms));
        QVERIFY(end != std::string::npos);
        std::string text = loader.received.substr(0, end);
        size_t lines = 0;
        for (size_t at = 0; at < text.size();) {
            size_t eol = std::min(text.find("\r\n", at), text.size());
            std::string line = QString::fromStdString(text.substr(at, eol - at)).toLower().toStdString();
            at = eol + 2;
            if (line.empty() || line == "bootloader v2.10 - rz4417")
                continue;
            ++lines;
            for (const char *word : {"bootloader", "start", "ok", "error", "rz4417", "kwt6083"})
                QVERIFY2(line.find(word) == std::string::npos, line.c_str());
        }
        QVERIFY(lines >= 2);
    }

    void update_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("upperHex");
        QTest::addColumn<QByteArray>("trailing");
        QTest::newRow("1000 bytes") << 1000 << true << QByteArray();
        QTest::newRow("lower-case header") << 700 << false << QByteArray();
        QTest::newRow("empty image") << 0 << true << QByteArray();
        QTest::newRow("more than the pty holds") << 200000 << true << QByteArray();
        QTest::newRow("bytes after the image") << 512 << true << QByteArray("xyz");
    }
    void update()
    {
        QFETCH(int, size);
        QFETCH(bool, upperHex);
        QFETCH(QByteArray, trailing);
        SimCamera camera(quick());
        QVERIFY(camera.start());
        LoaderEnd loader(camera.devicePath());
        QVERIFY(startDialogue(camera, loader));
        const auto image = makeImage(static_cast<size_t>(size));
        const size_t from = loader.received.size();
        const std::string stream = header(static_cast<uint32_t>(size), checksumOf(image), upperHex) +
                                   bytes(image) + trailing.toStdString();
        Clock::time_point lastWrite;
        for (size_t at = 0; at < stream.size(); at += 512) {
            lastWrite = Clock::now();
            QVERIFY(loader.write(stream.substr(at, 512)));
        }
        QVERIFY(loader.readUntil("WRITE OK\r\n", 5000ms, from) != std::string::npos);
        QVERIFY(Clock::now() - lastWrite >= 100ms);  // erasing and programming take their time
        QCOMPARE(loader.received.substr(from), std::string("FILE OK\r\nERASE OK\r\nWRITE OK\r\n"));

        QVERIFY(camera.waitFor([&](const SimCameraReport &r) {
            return r.finished && r.extraBytes == static_cast<uint64_t>(trailing.size());
        }, 2000ms));
        SimCameraReport report = camera.report();
        QCOMPARE(report.verdict, std::string("OK"));
        QVERIFY(report.headerReceived);
        QCOMPARE(report.announcedSize, uint32_t(size));
        QCOMPARE(report.announcedChecksum, checksumOf(image));
        QCOMPARE(report.bytesReceived, uint64_t(size));
        QCOMPARE(report.computedChecksum, checksumOf(image));
        QVERIFY(report.image == image);
        QCOMPARE(report.extraBytesAfterImage, !trailing.isEmpty());
        QCOMPARE(report.sent, (std::vector<std::string>{"START OK", "FILE OK", "ERASE OK", "WRITE OK"}));
    }

    void refused_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("imageBytes");
        QTest::addColumn<QString>("verdict");
        const auto image = makeImage(1000);
        QTest::newRow("checksum off by one") << QByteArray(header(1000, checksumOf(image) + 1).c_str()) << 1000
                                             << "ERROR checksum";
        QTest::newRow("empty image, checksum 0") << QByteArray("0000000000000000") << 0 << "ERROR checksum";
        QTest::newRow("not hexadecimal") << QByteArray("000003E8FFFFFG00") << 0 << "ERROR header";
        QTest::newRow("START followed by a line end") << QByteArray("\r\n000003E8FFFFFF") << 0 << "ERROR header";
        QTest::newRow("larger than the flash") << QByteArray(header(4097, 0).c_str()) << 0 << "ERROR size";
        QTest::newRow("image stops short") << QByteArray(header(1000, checksumOf(image)).c_str()) << 10
                                           << "ERROR timeout";
    }
    void refused()
    {
        QFETCH(QByteArray, head);
        QFETCH(int, imageBytes);
        QFETCH(QString, verdict);
        SimCameraOptions o = quick();
        o.flashSize = 4096;
        o.silenceTimeout = 0.3;
        SimCamera camera(o);
        QVERIFY(camera.start());
        LoaderEnd loader(camera.devicePath());
        QVERIFY(startDialogue(camera, loader));
        const size_t from = loader.received.size();
        QVERIFY(loader.write(head.toStdString() + bytes(makeImage(1000)).substr(0, size_t(imageBytes))));
        QVERIFY(loader.readUntil("ERROR\r\n", 3000ms, from) != std::string::npos);
        QCOMPARE(loader.received.substr(from), std::string("ERROR\r\n"));
        QVERIFY(camera.waitForFinished(1000ms));
        SimCameraReport report = camera.report();
        QCOMPARE(QString::fromStdString(report.verdict), verdict);
        QCOMPARE(report.bytesReceived, uint64_t(imageBytes));
        QCOMPARE(report.sent, (std::vector<std::string>{"START OK", "ERROR"}));
    }

    // The camera refuses mid-image and takes no more of it, but the line
    // still carries what the loader sends after.
    void errorAfterBytes()
    {
        SimCameraOptions o = quick();
        o.errorAfterBytes = 700;
        SimCamera camera(o);
        QVERIFY(camera.start());
        LoaderEnd loader(camera.devicePath());
        QVERIFY(startDialogue(camera, loader));
        const auto image = makeImage(2048);
        const size_t from = loader.received.size();
        QVERIFY(loader.write(header(2048, checksumOf(image)) + bytes(image)));
        QVERIFY(loader.readUntil("ERROR\r\n", 3000ms, from) != std::string::npos);
        QVERIFY(camera.waitFor([](const SimCameraReport &r) { return r.extraBytes == 2048 - 700; }, 2000ms));
        SimCameraReport report = camera.report();
        QCOMPARE(report.verdict, std::string("ERROR injected"));
        QCOMPARE(report.bytesReceived, uint64_t(700));
        QVERIFY(report.image == std::vector<uint8_t>(image.begin(), image.begin() + 700));
        QCOMPARE(report.sent.back(), std::string("ERROR"));
    }

    void hangUpAfterBytes()
    {
        SimCameraOptions o = quick();
        o.hangUpAfterBytes = 1000;
        SimCamera camera(o);
        QVERIFY(camera.start());
        LoaderEnd loader(camera.devicePath());
        QVERIFY(startDialogue(camera, loader));
        const auto image = makeImage(4096);
        QVERIFY(loader.write(header(4096, checksumOf(image)) + bytes(image).substr(0, 1000)));
        loader.write(bytes(image).substr(1000), 200ms);  // may fail: the cable is out
        QVERIFY(loader.waitHangUp(2000ms));
        QVERIFY(camera.waitForFinished(1000ms));
        SimCameraReport report = camera.report();
        QCOMPARE(report.verdict, std::string("hung up"));
        QCOMPARE(report.bytesReceived, uint64_t(1000));
        QCOMPARE(report.sent, std::vector<std::string>{"START OK"});
    }

    void nulInsideReplies()
    {
        SimCameraOptions o = quick();
        o.nulInReply = true;
        SimCamera camera(o);
        QVERIFY(camera.start());
        LoaderEnd loader(camera.devicePath());
        QVERIFY(loader.readUntil(kBanner, 2000ms) != std::string::npos);
        const size_t from = loader.received.size();
        QVERIFY(loader.write("START"));
        const std::string startOk("START\0 OK\r\n", 11);
        QVERIFY(loader.readUntil(startOk, 2000ms, from) != std::string::npos);
        const auto image = makeImage(100);
        QVERIFY(loader.write(header(100, checksumOf(image)) + bytes(image)));
        const std::string replies("FILE\0 OK\r\nERASE\0 OK\r\nWRITE\0 OK\r\n", 32);
        QVERIFY(loader.readUntil(replies, 3000ms, from) != std::string::npos);
        QCOMPARE(loader.received.substr(from), startOk + replies);
        QVERIFY(camera.waitForFinished(1000ms));
        QCOMPARE(camera.report().sent.back(), std::string("WRITE OK"));  // recorded without the NUL
    }

    void secondStartOk()
    {
        SimCameraOptions o = quick();
        o.secondStartOk = true;
        SimCamera camera(o);
        QVERIFY(camera.start());
        LoaderEnd loader(camera.devicePath());
        QVERIFY(loader.readUntil(kBanner, 2000ms) != std::string::npos);
        const size_t from = loader.received.size();
        QVERIFY(loader.write("START"));
        size_t first = loader.readUntil("START OK\r\n", 2000ms, from);
        QVERIFY(first != std::string::npos);
        auto t1 = Clock::now();
        QVERIFY(loader.readUntil("START OK\r\n", 2000ms, first) != std::string::npos);
        QVERIFY(Clock::now() - t1 >= 50ms);  // apart, so the loader reads two replies
        const auto image = makeImage(600);
        QVERIFY(loader.write(header(600, checksumOf(image)) + bytes(image)));
        QVERIFY(camera.waitForFinished(3000ms));
        QCOMPARE(camera.report().verdict, std::string("OK"));
        QCOMPARE(camera.report().sent,
                 (std::vector<std::string>{"START OK", "START OK", "FILE OK", "ERASE OK", "WRITE OK"}));
    }

    // 11520 bytes a second, like 115200 baud: 23040 bytes take about 2 s.
    void lineRate()
    {
        SimCameraOptions o = quick();
        o.lineRate = 11520;
        SimCamera camera(o);
        QVERIFY(camera.start());
        LoaderEnd loader(camera.devicePath());
        QVERIFY(startDialogue(camera, loader));
        const auto image = makeImage(23040);
        auto t0 = Clock::now();
        QVERIFY(loader.write(header(23040, checksumOf(image)) + bytes(image), 6000ms));
        QVERIFY(camera.waitFor([](const SimCameraReport &r) { return r.bytesReceived == 23040; }, 6000ms));
        double took = std::chrono::duration<double>(Clock::now() - t0).count();
        QVERIFY2(took > 1.4 && took < 2.6, qPrintable(QString::number(took)));
        QVERIFY(camera.waitForFinished(2000ms));
        QCOMPARE(camera.report().verdict, std::string("OK"));
    }

    void twoUpdatesInOneRun()
    {
        SimCameraOptions o = quick();
        o.repeat = true;
        SimCamera camera(o);
        QVERIFY(camera.start());
        LoaderEnd loader(camera.devicePath());
        for (unsigned update = 1; update <= 2; ++update) {
            QVERIFY(startDialogue(camera, loader));
            const auto image = makeImage(300 * update, update);
            const size_t from = loader.received.size();
            QVERIFY(loader.write(header(uint32_t(image.size()), checksumOf(image)) + bytes(image)));
            QVERIFY(loader.readUntil("WRITE OK\r\n", 3000ms, from) != std::string::npos);
            QVERIFY(camera.waitFor([&](const SimCameraReport &r) { return r.updatesFinished == update; }, 1000ms));
            QVERIFY(camera.report().image == image);
        }
        SimCameraReport report = camera.report();
        QCOMPARE(report.verdicts, (std::vector<std::string>{"OK", "OK"}));
        QCOMPARE(report.sent.size(), size_t(8));
    }

    // Asked to wait for the loader, the rebooted camera says nothing while
    // the loader still holds the line after "WRITE OK" (a window showing
    // its success), and announces itself once the line was closed.
    void repeatWaitsForTheLoaderToClose()
    {
        SimCameraOptions o = quick();
        o.repeat = o.repeatWhenClosed = true;
        auto restarted = std::make_shared<std::atomic<bool>>(false);
        o.onEvent = [restarted](const std::string &e) {
            if (e.find("restarts its bootloader") != std::string::npos)
                *restarted = true;
        };
        SimCamera camera(o);
        QVERIFY(camera.start());
        auto loader = std::make_unique<LoaderEnd>(camera.devicePath());
        QVERIFY(startDialogue(camera, *loader));
        const auto image = makeImage(300, 1);
        QVERIFY(loader->write(header(uint32_t(image.size()), checksumOf(image)) + bytes(image)));
        const size_t end = loader->readUntil("WRITE OK\r\n", 3000ms);
        QVERIFY(end != std::string::npos);
        QCOMPARE(loader->readUntil("Bootloader v", 1500ms, end), std::string::npos);
        QVERIFY(!*restarted);
        loader->close();
        QTRY_VERIFY(*restarted);
        loader = std::make_unique<LoaderEnd>(camera.devicePath());
        QVERIFY(startDialogue(camera, *loader));
    }

    void stopDuringLongErase()
    {
        SimCameraOptions o = quick();
        o.eraseSeconds = 30;
        SimCamera camera(o);
        QVERIFY(camera.start());
        LoaderEnd loader(camera.devicePath());
        QVERIFY(startDialogue(camera, loader));
        const auto image = makeImage(10);
        QVERIFY(loader.write(header(10, checksumOf(image)) + bytes(image)));
        QVERIFY(camera.waitForSent("FILE OK", 2000ms));
        auto t0 = Clock::now();
        camera.stop();
        QVERIFY(Clock::now() - t0 < 500ms);
        QCOMPARE(camera.report().verdict, std::string());
        QVERIFY(loader.waitHangUp(1000ms));
    }

    void symlinkToDevice()
    {
        QTemporaryDir dir;
        const std::string link = dir.filePath("camera").toStdString();
        SimCameraOptions o = quick();
        o.symlinkPath = link;
        {
            SimCamera camera(o);
            QVERIFY(camera.start());
            QCOMPARE(QFileInfo(QString::fromStdString(link)).symLinkTarget().toStdString(), camera.devicePath());
            LoaderEnd loader(link);
            QVERIFY(loader.readUntil(kBanner, 2000ms) != std::string::npos);
        }
        QVERIFY(!QFileInfo::exists(QString::fromStdString(link)));
        QVERIFY(!QFileInfo(QString::fromStdString(link)).isSymLink());

        // A real file in the way is left alone.
        QFile file(QString::fromStdString(link));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep");
        file.close();
        SimCamera camera(o);
        std::string error;
        QVERIFY(!camera.start(&error));
        QVERIFY(!error.empty());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep"));
    }

    void linkAlreadyThere_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("link to a pty that is gone") << "gone pty" << true;
        QTest::newRow("link to a live pty") << "live pty" << false;
        QTest::newRow("link to something else that is gone") << "gone file" << false;
        QTest::newRow("link to a file") << "file" << false;
    }
    // What is already at --link's path: only a link left by a camera whose
    // pty is gone is replaced; anything else may be someone's and is kept.
    void linkAlreadyThere()
    {
        QFETCH(QString, kind);
        QFETCH(bool, replaced);
        QTemporaryDir dir;
        const QString link = dir.filePath("camera");
        int otherMaster = -1, otherSlave = -1;
        char otherPty[128] = {};
        QString target;
        if (kind == "gone pty") {
            target = "/dev/pts/98765";
        } else if (kind == "live pty") {
            QCOMPARE(::openpty(&otherMaster, &otherSlave, otherPty, nullptr, nullptr), 0);
            target = otherPty;
        } else if (kind == "gone file") {
            target = dir.filePath("absent");
        } else {
            target = dir.filePath("notes");
            QFile notes(target);
            QVERIFY(notes.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::link(target, link));
        SimCameraOptions o = quick();
        o.symlinkPath = link.toStdString();
        {
            SimCamera camera(o);
            std::string error;
            QCOMPARE(camera.start(&error), replaced);
            if (replaced) {
                QCOMPARE(QFileInfo(link).symLinkTarget().toStdString(), camera.devicePath());
            } else {
                QVERIFY2(error.find("left alone") != std::string::npos, error.c_str());
                QCOMPARE(QFile::symLinkTarget(link), target);
            }
        }
        QCOMPARE(QFileInfo(link).isSymLink(), !replaced);  // ours went with the camera
        if (otherMaster >= 0) {
            ::close(otherMaster);
            ::close(otherSlave);
        }
    }

    // The link is re-pointed while the camera runs: its exit leaves it.
    void exitRemovesOnlyItsOwnLink()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("camera");
        SimCameraOptions o = quick();
        o.symlinkPath = link.toStdString();
        SimCamera camera(o);
        QVERIFY(camera.start());
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(dir.filePath("elsewhere"), link));
        camera.stop();
        QCOMPARE(QFile::symLinkTarget(link), dir.filePath("elsewhere"));
    }

    void command()
    {
        QProcess help;
        help.start(SIMCAM_COMMAND, {"--help"});
        QVERIFY(help.waitForFinished(5000));
        QCOMPARE(help.exitCode(), 0);
        const QByteArray usage = help.readAllStandardOutput();
        for (const char *option : {"--product", "--banner", "--lower-case", "--rate", "--erase", "--program",
                                   "--nul", "--error-after", "--hang-up-after", "--reboot-after-write", "--second-start-ok", "--noise",
                                   "--link", "--repeat", "--repeat-when-closed", "--quiet"})
            QVERIFY2(usage.contains(option), option);

        QProcess bad;
        bad.start(SIMCAM_COMMAND, {"--rate", "fast"});
        QVERIFY(bad.waitForFinished(5000));
        QCOMPARE(bad.exitCode(), 2);

        QTemporaryDir dir;
        QVERIFY(QFile::link("/dev/null", dir.filePath("taken")));
        QProcess refused;
        refused.start(SIMCAM_COMMAND, {"--link", dir.filePath("taken")});
        QVERIFY(refused.waitForFinished(5000));
        QCOMPARE(refused.exitCode(), 1);
        const QByteArray why = refused.readAllStandardError();
        QVERIFY2(why.contains("taken is a link to '/dev/null', not to a pseudo-terminal; left alone"), why.constData());
        QCOMPARE(QFile::symLinkTarget(dir.filePath("taken")), QString("/dev/null"));

        const QString link = dir.filePath("cam");
        QProcess simcam;
        simcam.start(SIMCAM_COMMAND, {"--link", link, "--erase", "0", "--program", "0"});
        QVERIFY(simcam.waitForReadyRead(5000));
        const std::string device = simcam.readLine().trimmed().toStdString();
        QVERIFY2(device.rfind("/dev/", 0) == 0, device.c_str());
        QCOMPARE(QFileInfo(link).symLinkTarget().toStdString(), device);
        {
            LoaderEnd loader(device);
            QVERIFY(loader.readUntil("Bootloader v2.10 - RZ4417", 2000ms) != std::string::npos);
            QVERIFY(loader.write("START"));
            QVERIFY(loader.readUntil("START OK\r\n", 2000ms) != std::string::npos);
            QVERIFY(loader.write(header(3, 0xFFFFFED9) + "abc"));
            QVERIFY(loader.readUntil("WRITE OK\r\n", 3000ms) != std::string::npos);
        }
        QByteArray log;
        for (auto deadline = Clock::now() + 3000ms; !log.contains("verdict: OK") && Clock::now() < deadline;) {
            simcam.waitForReadyRead(100);
            log += simcam.readAllStandardOutput();
        }
        QVERIFY2(log.contains("heard START") && log.contains("size 3 bytes") && log.contains("verdict: OK"),
                 log.constData());
        simcam.terminate();  // SIGTERM
        QVERIFY(simcam.waitForFinished(5000));
        QCOMPARE(simcam.exitStatus(), QProcess::NormalExit);
        QCOMPARE(simcam.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }
};

QTEST_APPLESS_MAIN(SimCameraTest)
#include "test_simcam.moc"
