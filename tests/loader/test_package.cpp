// The firmware package: header, image selection, load and checksum.
#include "loader_state.h"
#include "package.h"
#include "platform.h"
#include "ui_constants.h"
#include "package_file.h"

#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

class PackageTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    int panel = 0;

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
        std::snprintf(loader.packagePath, sizeof loader.packagePath, "%s",
                      packagePath().toLocal8Bit().constData());
        std::snprintf(loader.productName, sizeof loader.productName, "RZ4417");
    }
    void init() { resetPackageFields(); }

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
