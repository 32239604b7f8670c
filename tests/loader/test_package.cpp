// The firmware package: header, image selection, load and checksum.
#include "loader_state.h"
#include "package.h"
#include "platform.h"
#include "ui_constants.h"
#include "package_file.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

// Ends the test with a message when the code under test blocks (an open of
// a FIFO, a read from a terminal) instead of letting it hang until the
// suite's time-out.
class Watchdog {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::thread thread;

public:
    Watchdog(int seconds, const char *what)
        : thread([this, seconds, what] {
              std::unique_lock<std::mutex> lock(mutex);
              if (!done.wait_for(lock, std::chrono::seconds(seconds), [this] { return finished; })) {
                  std::fprintf(stderr, "FAIL: still blocked after %d s: %s\n", seconds, what);
                  std::_Exit(1);
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            finished = true;
        }
        done.notify_one();
        thread.join();
    }
};

// Removes whatever lies at `path`: file, link, FIFO, socket or empty folder.
void clearPath(const QString &path)
{
    const QByteArray name = path.toLocal8Bit();
    if (::unlink(name.constData()) != 0)
        ::rmdir(name.constData());
}

} // namespace

class PackageTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    int panel = 0;
    int terminal = -1;  // a pseudo-terminal's master, while its slave lies at vers.kq

    void usePackage(const QByteArray &header, const QByteArray &images)
    {
        QVERIFY(writePackage(packagePath(), header, images));
    }
    QString packagePath() const { return dir.filePath("vers.kq"); }
    void resetPackageFields()
    {
        loader.packageSizes[0] = loader.packageSizes[1] = 0;
        loader.packageVersions[0] = loader.packageVersions[1] = 0.0;
        loader.imageChecksum = 0;
    }
    QByteArray loadedImage() const
    {
        return QByteArray(reinterpret_cast<const char *>(loader.imageBuffer.load()), loader.imageSize);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(InitRunTime(0, nullptr));
        panel = LoadPanel(0, "Quorvel.uir", PANEL);
        QVERIFY(panel > 0);
        loader.panel = panel;
        loader.packagePath = packagePath().toLocal8Bit().toStdString();
        std::snprintf(loader.productName, sizeof loader.productName, "RZ4417");
    }
    void init() { resetPackageFields(); }
    void cleanup()
    {
        clearPath(packagePath());
        if (terminal >= 0)
            ::close(terminal);
        terminal = -1;
    }

    void checksum_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<quint32>("expected");
        QTest::newRow("abc") << QByteArray("abc") << 0xFFFFFED9u;
        QTest::newRow("empty") << QByteArray() << 0xFFFFFFFFu;
        QTest::newRow("255 and 1 are unsigned") << QByteArray("\xFF\x01", 2) << 0xFFFFFEFFu;
        QTest::newRow("sum wraps") << QByteArray(16843010, '\xFF') << ~static_cast<quint32>(16843010ull * 255u);
        QTest::newRow("odd length, random") << randomImage(1000003, 7) << referenceChecksum(randomImage(1000003, 7));
    }
    void checksum()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(quint32, expected);
        QCOMPARE(static_cast<quint32>(Checksum(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                               static_cast<uint32_t>(bytes.size()))),
                 expected);
    }

    void headerLayouts_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::newRow("LF") << QByteArray("1.5 300 2.05 200\n");
        QTest::newRow("CR LF") << QByteArray("1.5 300 2.05 200\r\n");
        QTest::newRow("tabs and runs of spaces") << QByteArray("1.5\t300  \t2.05   200\n");
    }
    // Both images are found behind any of these header lines, image 1 right
    // after image 0, and bytes after the last image change nothing.
    void headerLayouts()
    {
        QFETCH(QByteArray, header);
        const QByteArray image0 = randomImage(300, 1), image1 = randomImage(200, 2);
        usePackage(header, image0 + image1 + QByteArray("trailing bytes\n never read"));
        LectureEntete();
        QCOMPARE(loader.packageSizes[0], 300);
        QCOMPARE(loader.packageSizes[1], 200);
        QCOMPARE(loader.packageVersions[0], 1.5);
        QCOMPARE(loader.packageVersions[1], 2.05);

        for (int index : {1, 0}) {
            VerifFichier(index);
            QCOMPARE(ChecksumFichier(index), 0);
            const QByteArray &expected = index == 0 ? image0 : image1;
            QCOMPARE(loadedImage(), expected);
            QCOMPARE(static_cast<quint32>(loader.imageChecksum), referenceChecksum(expected));
        }
    }

    void shortImageOneFailsImageZeroLoads()
    {
        const QByteArray image0 = randomImage(600, 3), image1 = randomImage(99, 4);
        usePackage("1.0 600 1.0 100\n", image0 + image1);
        LectureEntete();
        VerifFichier(0);
        QCOMPARE(ChecksumFichier(0), 0);
        const int32_t before = loader.imageChecksum;
        VerifFichier(1);
        QCOMPARE(ChecksumFichier(1), -1);
        QCOMPARE(loader.imageChecksum, before);
    }

    // Headers that announce what the file cannot hold: every load fails,
    // nothing past the file or the buffer is touched, and (under the
    // sanitizers) nothing leaks.
    void badPackages_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("index");
        QTest::newRow("negative size") << QByteArray("1.0 -5 1.0 10\n0123456789abcdef") << 0;
        QTest::newRow("negative size before image 1") << QByteArray("1.0 -5 1.0 10\n0123456789abcdef") << 1;
        QTest::newRow("larger than the file") << QByteArray("1.0 10 1.0 100\n0123456789abc") << 1;
        QTest::newRow("near 2^31") << QByteArray("1.0 2147483647 1.0 1\nxy") << 0;
        QTest::newRow("offset near 2^31") << QByteArray("1.0 2147483000 1.0 2147483000\nxy") << 1;
        QTest::newRow("no line feed at all") << QByteArray("1.0 4 1.0 4 abcdefgh") << 0;
    }
    void badPackages()
    {
        QFETCH(QByteArray, contents);
        QFETCH(int, index);
        usePackage(contents, {});
        LectureEntete();
        loader.imageChecksum = 0x1234;
        VerifFichier(index);
        QCOMPARE(ChecksumFichier(index), -1);
        QCOMPARE(loader.imageChecksum, 0x1234);
    }

    // Header lines as makers and their tools have written them. A number is
    // taken whole, however long, or the header is not read at all (the
    // camera is then sent nothing): a size is never taken from the first
    // characters of a longer word, nor from a line cut at the end of the
    // bytes read. The numbers read before a refused one are kept, as the
    // INFO line shows them.
    void headerNumbers_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<bool>("read");
        QTest::addColumn<double>("version0");
        QTest::addColumn<int>("size0");
        QTest::addColumn<double>("version1");
        QTest::addColumn<int>("size1");
        const QByteArray version70 = "1.5" + QByteArray(67, '0');
        const QByteArray size70 = QByteArray(67, '0') + "300";
        const auto padded = [](const QByteArray &start, int length, const QByteArray &end) {
            return start + QByteArray(length - start.size() - end.size(), ' ') + end;
        };
        QTest::newRow("version of 70 characters")
            << version70 + " 300 2.05 200\n" << true << 1.5 << 300 << 2.05 << 200;
        QTest::newRow("size of 70 characters, leading zeros")
            << "1.5 " + size70 + " 2.05 200\n" << true << 1.5 << 300 << 2.05 << 200;
        QTest::newRow("version of 4000 characters")
            << "1.5" + QByteArray(3997, '0') + " 300 2.05 200\n" << true << 1.5 << 300 << 2.05 << 200;
        QTest::newRow("words after the four numbers")
            << QByteArray("1.5 300 2.05 200 release 7\r\n") << true << 1.5 << 300 << 2.05 << 200;
        QTest::newRow("line of exactly 4096 bytes")
            << padded("1.5 300 2.05 200", 4096, "\n") << true << 1.5 << 300 << 2.05 << 200;
        QTest::newRow("line of 4097 bytes")
            << padded("1.5 300 2.05 200", 4097, "\n") << false << 0.0 << 0 << 0.0 << 0;
        // Bytes 4093 to 4098: a reader stopping at 4096 bytes would see 200.
        QTest::newRow("size straddling byte 4096")
            << padded("1.5 300 2.05 ", 4100, "200000\n") << false << 0.0 << 0 << 0.0 << 0;
        QTest::newRow("size beyond 32 bits")
            << QByteArray("1.5 2147483648 2.05 200\n") << false << 1.5 << 0 << 0.0 << 0;
        QTest::newRow("size of 70 characters beyond 32 bits")
            << "1.5 300 2.05 " + QByteArray(60, '0') + "9999999999\n" << false << 1.5 << 300 << 2.05 << 0;
        QTest::newRow("version beyond a double")
            << QByteArray("1e400 300 2.05 200\n") << false << 0.0 << 0 << 0.0 << 0;
        QTest::newRow("version that would read as 0")
            << QByteArray("1.5 300 1e-400 200\n") << false << 1.5 << 300 << 0.0 << 0;
        QTest::newRow("letter glued to a size")
            << QByteArray("1.5 300 2.05 200x\n") << false << 1.5 << 300 << 2.05 << 0;
        QTest::newRow("size written as a real")
            << QByteArray("1.5 300.0 2.05 200\n") << false << 1.5 << 0 << 0.0 << 0;
        QTest::newRow("sign glued to a version")
            << QByteArray("1.5 300 2.05-7 200\n") << false << 1.5 << 300 << 0.0 << 0;
        QTest::newRow("NUL glued to a size")
            << QByteArray("1.5 300 2.05 200\0\n", 18) << false << 1.5 << 300 << 2.05 << 0;
        QTest::newRow("decimal comma")
            << QByteArray("1,5 300 2,05 200\n") << false << 0.0 << 0 << 0.0 << 0;
    }
    void headerNumbers()
    {
        QFETCH(QByteArray, header);
        QFETCH(bool, read);
        QFETCH(double, version0);
        QFETCH(int, size0);
        QFETCH(double, version1);
        QFETCH(int, size1);
        const QByteArray images[2] = {randomImage(300, 21), randomImage(200, 22)};
        usePackage(header, images[0] + images[1]);
        LectureEntete();
        QCOMPARE(loader.packageHeaderRead, read ? 1 : 0);
        QCOMPARE(loader.packageVersions[0], version0);
        QCOMPARE(loader.packageSizes[0], size0);
        QCOMPARE(loader.packageVersions[1], version1);
        QCOMPARE(loader.packageSizes[1], size1);

        for (int index : {0, 1}) {
            loader.imageChecksum = 0x1234;
            VerifFichier(index);
            QCOMPARE(ChecksumFichier(index), read ? 0 : -1);
            if (read) {
                QCOMPARE(loadedImage(), images[index]);
                QCOMPARE(static_cast<quint32>(loader.imageChecksum), referenceChecksum(images[index]));
            } else {
                QCOMPARE(loader.imageChecksum, 0x1234);
            }
        }
    }

    // Whatever lies at vers.kq other than a regular file is no package and
    // is never read: a FIFO would wait for a writer, a terminal for a key,
    // and /dev/zero never ends. At start-up it is a missing package; put in
    // the package's place after start-up, the camera's load is refused.
    void onlyARegularFileIsAPackage_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("isPackage");
        QTest::newRow("FIFO") << "fifo" << false;
        QTest::newRow("link to /dev/zero") << "zero" << false;
        QTest::newRow("link to a terminal") << "terminal" << false;
        QTest::newRow("folder") << "folder" << false;
        QTest::newRow("socket") << "socket" << false;
        QTest::newRow("link to a regular package") << "link" << true;
    }
    void onlyARegularFileIsAPackage()
    {
        QFETCH(QString, kind);
        QFETCH(bool, isPackage);
        const QByteArray images = randomImage(500, 9);
        const QString real = dir.filePath("real.kq");
        QVERIFY(writePackage(real, "1.5 300 2.05 200\n", images));
        usePackage("1.5 300 2.05 200\n", images);
        LectureEntete();
        QCOMPARE(loader.packageHeaderRead, 1);

        const QString path = packagePath();
        clearPath(path);
        const QByteArray name = path.toLocal8Bit();
        if (kind == "fifo") {
            QCOMPARE(::mkfifo(name.constData(), 0644), 0);
        } else if (kind == "zero") {
            QVERIFY(QFile::link("/dev/zero", path));
        } else if (kind == "terminal") {
            terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
            QVERIFY(terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
            QVERIFY(QFile::link(QString::fromLocal8Bit(::ptsname(terminal)), path));
        } else if (kind == "folder") {
            QVERIFY(QDir().mkdir(path));
        } else if (kind == "socket") {
            QVERIFY(putSocketAt(path));
        } else {
            QVERIFY(QFile::link(real, path));
        }

        Watchdog watchdog(20, qPrintable("reading vers.kq as a " + kind));
        QCOMPARE(PackagePresent(), isPackage);
        loader.imageChecksum = 0x1234;
        VerifFichier(1);
        QCOMPARE(ChecksumFichier(1), isPackage ? 0 : -1);
        if (isPackage)
            QCOMPARE(loadedImage(), images.mid(300, 200));
        else
            QCOMPARE(loader.imageChecksum, 0x1234);
        LectureEntete();
        QCOMPARE(loader.packageHeaderRead, isPackage ? 1 : 0);
    }

    // A 4 GiB file without a line feed (a disk image copied by mistake) is
    // refused after its first 4096 bytes, at start-up and at each load,
    // however large it is: the window never freezes on it.
    void hugeFileWithoutLineFeedIsRefusedAtOnce()
    {
        usePackage("1.5 300 2.05 200\n", randomImage(500, 3));
        LectureEntete();
        QCOMPARE(loader.packageHeaderRead, 1);
        {
            QFile huge(packagePath());  // sparse: nothing written past its start
            QVERIFY(huge.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(huge.write("1.5 300 2.05 200 "), 17);
            QVERIFY(huge.resize(4LL << 30));
        }
        Watchdog watchdog(60, "searching a 4 GiB file for its header");
        QElapsedTimer clock;
        clock.start();
        VerifFichier(0);
        QCOMPARE(ChecksumFichier(0), int(kPackageChanged));
        const qint64 loadNs = clock.nsecsElapsed();
        clock.restart();
        LectureEntete();
        const qint64 startUpNs = clock.nsecsElapsed();
        QCOMPARE(loader.packageHeaderRead, 0);
        QVERIFY(PackagePresent());  // a regular file: there, but no header in it
        qInfo("4 GiB without a line feed: load refused in %.3f ms, start-up read in %.3f ms",
              loadNs / 1e6, startUpNs / 1e6);
        QVERIFY2(loadNs < 2'000'000'000LL && startUpNs < 2'000'000'000LL, "the file was searched beyond its start");
    }

    void sizeOutsideThirtyTwoBitsIsNotWrapped()
    {
        usePackage("1.0 4294967296 2.0 5\n", "abcde");
        LectureEntete();
        QCOMPARE(loader.packageVersions[0], 1.0);
        QCOMPARE(loader.packageSizes[0], 0);  // refused, and the fields after it are not read
        QCOMPARE(loader.packageSizes[1], 0);
    }

    void noProductLoadsNothing()
    {
        usePackage("1.0 3 1.0 3\n", "abcdef");
        LectureEntete();
        VerifFichier(0);
        QCOMPARE(ChecksumFichier(0), 0);
        uint8_t *buffer = loader.imageBuffer;
        const int32_t checksum = loader.imageChecksum;
        QCOMPARE(ChecksumFichier(-1), -1);
        QCOMPARE(loader.imageBuffer.load(), buffer);
        QCOMPARE(loader.imageChecksum, checksum);
    }

    void emptyImageWithPackageGone()
    {
        usePackage("1.0 0 1.0 0\n", {});
        LectureEntete();
        QVERIFY(QFile::remove(packagePath()));
        VerifFichier(1);
        QCOMPARE(ChecksumFichier(1), 0);
        QCOMPARE(static_cast<quint32>(loader.imageChecksum), 0xFFFFFFFFu);
    }

    // The package is replaced after start-up read its header. A header that
    // no longer gives the same four numbers means other images at other
    // offsets: nothing loads. The same numbers mean the same layout, and the
    // image is the one the file now holds.
    void packageReplacedSinceStartUp_data()
    {
        QTest::addColumn<QByteArray>("newHeader");
        QTest::addColumn<int>("expected");
        QTest::newRow("sizes changed") << QByteArray("1.5 320 2.05 180\n") << int(kPackageChanged);
        QTest::newRow("image 1 grown, image 0 alike") << QByteArray("1.5 300 2.05 201\n") << int(kPackageChanged);
        QTest::newRow("version changed") << QByteArray("1.6 300 2.05 200\n") << int(kPackageChanged);
        QTest::newRow("header now unreadable") << QByteArray("1.5 300\n") << int(kPackageChanged);
        QTest::newRow("same numbers, written otherwise") << QByteArray("1.50\t300 2.050 200\r\n") << 0;
    }
    void packageReplacedSinceStartUp()
    {
        QFETCH(QByteArray, newHeader);
        QFETCH(int, expected);
        usePackage("1.5 300 2.05 200\n", randomImage(500, 5));
        LectureEntete();
        const QByteArray images = randomImage(500, 6);
        usePackage(newHeader, images);
        loader.imageChecksum = 0x1234;
        VerifFichier(0);
        QCOMPARE(ChecksumFichier(0), expected);
        if (expected == 0) {
            QCOMPARE(loadedImage(), images.left(300));
            QCOMPARE(static_cast<quint32>(loader.imageChecksum), referenceChecksum(images.left(300)));
        } else {
            QCOMPARE(loader.imageChecksum, 0x1234);
        }
    }

    void unreadableHeaderKeepsZeros()
    {
        QFile::remove(packagePath());
        LectureEntete();
        QCOMPARE(loader.packageSizes[0], 0);
        usePackage("garbage\n", "abc");
        LectureEntete();
        QCOMPARE(loader.packageSizes[1], 0);
        QCOMPARE(loader.packageVersions[0], 0.0);
    }

    void updateLine_data()
    {
        QTest::addColumn<QByteArray>("product");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("expected");
        QTest::newRow("1 MiB") << QByteArray("RZ4417") << QByteArray("1.5 1048576 2.05 0\n") << 0 << 0
                               << "Updating with RZ4417 v01.50 : 1.000 Mb ...";
        QTest::newRow("empty image") << QByteArray("KWT6083") << QByteArray("1.5 1048576 2.05 0\n") << 1 << 0
                                     << "Updating with KWT6083 v02.05 : 0.000 Mb ...";
        QTest::newRow("1.5 MiB, French") << QByteArray("KWT6083") << QByteArray("1 0 10.25 1572864\n") << 1 << 1
                                         << QString::fromUtf8("Mise à jour avec KWT6083 v010.25 : 1.500 Mo ...");
        QTest::newRow("size as unsigned") << QByteArray("RZ4417") << QByteArray("1 -1 1 0\n") << 0 << 0
                                          << "Updating with RZ4417 v01.00 : 4096.000 Mb ...";
    }
    void updateLine()
    {
        QFETCH(QByteArray, product);
        QFETCH(QByteArray, header);
        QFETCH(int, index);
        QFETCH(int, language);
        QFETCH(QString, expected);
        usePackage(header, {});
        LectureEntete();
        std::snprintf(loader.productName, sizeof loader.productName, "%s", product.constData());
        loader.language = language;
        VerifFichier(index);
        loader.language = 0;
        std::string shown;
        GetCtrlVal(panel, INFO, &shown);
        QCOMPARE(QString::fromStdString(shown), expected);
    }
};

QTEST_MAIN(PackageTest)
#include "test_package.moc"
