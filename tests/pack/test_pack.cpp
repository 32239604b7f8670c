// quorvel-pack, run as the firmware maker runs it: what create writes is
// what the loader reads and sends, refusals leave nothing behind, and
// inspect tells a package the loader can use from one it cannot.
#include "loader_state.h"
#include "package.h"
#include "package_file.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

struct Run {
    int exitCode = -1;
    QString out, err;
};

Run pack(const QStringList &arguments)
{
    QProcess process;
    process.start(PACK_COMMAND, arguments);
    Run run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    return writePackage(path, bytes, {});
}

QString cameraHeader(const QByteArray &image)
{
    return QString::asprintf("%08X%08X", static_cast<unsigned>(image.size()), referenceChecksum(image));
}

} // namespace

class PackTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.filePath(name); }

    // The loader's own start-up read and image load, on `package`.
    void loadAsQuorvel(const QString &package, const QByteArray images[2])
    {
        loader.packagePath = package.toLocal8Bit().toStdString();
        loader.packageSizes[0] = loader.packageSizes[1] = 0;
        LectureEntete();
        QCOMPARE(loader.packageHeaderRead, 1);
        for (int k = 0; k < 2; ++k) {
            QCOMPARE(loader.packageSizes[k], images[k].size());
            loader.imageSize = loader.packageSizes[k];
            QCOMPARE(ChecksumFichier(k), 0);
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(loader.imageBuffer.load()), loader.imageSize),
                     images[k]);
            QCOMPARE(static_cast<quint32>(loader.imageChecksum), referenceChecksum(images[k]));
        }
    }

private slots:
    void init()
    {
        // Only the two images survive between cases.
        for (const QString &name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
            QFile::remove(path(name));
    }

    void createdPackageIsWhatQuorvelReads_data()
    {
        QTest::addColumn<int>("size0");
        QTest::addColumn<int>("size1");
        QTest::addColumn<QString>("version0");
        QTest::addColumn<QString>("version1");
        QTest::addColumn<bool>("demo");
        QTest::newRow("demo sizes") << 262144 << 196608 << "1.5" << "2.05" << true;
        QTest::newRow("versions kept as written") << 513 << 511 << "01.50" << "10" << true;
        QTest::newRow("empty image 0") << 0 << 1000 << "0.1" << "3.25" << true;
        QTest::newRow("odd sizes, over 1 MiB") << 1 << 1048577 << "1" << "2" << true;
        QTest::newRow("a release, not a demo") << 3000 << 2000 << "1.5" << "2.05" << false;
    }
    void createdPackageIsWhatQuorvelReads()
    {
        QFETCH(int, size0);
        QFETCH(int, size1);
        QFETCH(QString, version0);
        QFETCH(QString, version1);
        QFETCH(bool, demo);
        const QByteArray images[2] = {randomImage(size0, 11),
                                      randomImage(size1, 12)};
        QVERIFY(writeFile(path("a.bin"), images[0]));
        QVERIFY(writeFile(path("b.bin"), images[1]));
        const mode_t oldMask = ::umask(077);  // a maker's strict umask still gives a readable package
        QStringList arguments{"create", path("vers.kq"), path("a.bin"), version0, path("b.bin"), version1};
        if (demo)
            arguments.insert(1, "--demo");
        const Run run = pack(arguments);
        ::umask(oldMask);
        QCOMPARE(run.exitCode, 0);

        const QByteArray header = QString("%1 %2 %3 %4\n").arg(version0).arg(size0).arg(version1).arg(size1).toLatin1();
        const QByteArray written = contents(path("vers.kq"));
        const QByteArray body = header + images[0] + images[1];
        QCOMPARE(written.left(body.size()), body);
        const QByteArray trailer = written.mid(body.size());
        QCOMPARE(trailer.isEmpty(), !demo);  // the demo signature trailer, and nothing without --demo
        QCOMPARE(QFile(path("vers.kq")).permissions(),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup
                     | QFile::ReadOther);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);  // no temporary left
        loadAsQuorvel(path("vers.kq"), images);
        QCOMPARE(PackageIsDemo(), demo);

        const Run inspect = pack({"inspect", path("vers.kq")});
        QCOMPARE(inspect.exitCode, 0);
        QVERIFY2(inspect.out.contains("sent to the camera: " + cameraHeader(images[0])), qPrintable(inspect.out));
        QVERIFY(inspect.out.contains("sent to the camera: " + cameraHeader(images[1])));
        QVERIFY(inspect.out.contains(QString("%1 bytes trail").arg(trailer.size())));
        QCOMPARE(inspect.out.contains("demo package: random images, never for a real camera"), demo);
    }

    // Each refusal: a message naming the fault, exit code 1, and the package
    // that was there before untouched, with no temporary file beside it.
    void refusals_data()
    {
        QTest::addColumn<QString>("image0");
        QTest::addColumn<QString>("version0");
        QTest::addColumn<QString>("version1");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing image") << "missing.bin" << "1.5" << "2" << "No such file";
        QTest::newRow("a folder as image") << "folder" << "1.5" << "2" << "not a regular file";
        QTest::newRow("a FIFO as image") << "fifo.bin" << "1.5" << "2" << "not a regular file";
        QTest::newRow("/dev/zero as image") << "zero.bin" << "1.5" << "2" << "not a regular file";
        QTest::newRow("image over 2^31-1 bytes") << "huge.bin" << "1.5" << "2" << "at most 2147483647 bytes";
        for (const char *version : {"1,5", "1e3", "+1.5", "-1", "", ".5", "1.", "0x10", " 1.5", "1.5 ", "nan",
                                    "inf", "1.2.3"})
            QTest::newRow(qPrintable(QString("version '%1'").arg(version))) << "a.bin" << "1.5" << version
                                                                            << "not a plain decimal number";
        QTest::newRow("version too long") << "a.bin" << QString(33, '1') << "2" << "longer than 32";
    }
    void refusals()
    {
        QFETCH(QString, image0);
        QFETCH(QString, version0);
        QFETCH(QString, version1);
        QFETCH(QString, message);
        QVERIFY(writeFile(path("a.bin"), randomImage(100, 1)));
        QVERIFY(QDir(dir.path()).mkpath("folder"));
        QCOMPARE(::mkfifo(path("fifo.bin").toLocal8Bit().constData(), 0644), 0);  // no writer: opening it waits
        QVERIFY(QFile::link("/dev/zero", path("zero.bin")));
        {
            QFile huge(path("huge.bin"));  // sparse: no 2 GiB written to the disk
            QVERIFY(huge.open(QIODevice::WriteOnly));
            QVERIFY(huge.resize(2147483648LL));
        }
        const QByteArray before("1.0 1 1.0 1\nxy");
        QVERIFY(writeFile(path("vers.kq"), before));
        const QStringList names = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

        const Run run = pack({"create", path("vers.kq"), path(image0), version0, path("a.bin"), version1});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(contents(path("vers.kq")), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), names);
        QDir(path("folder")).removeRecursively();
        QFile::remove(path("fifo.bin"));
        QFile::remove(path("zero.bin"));
    }

    void outputFolderMissingOrAFolder()
    {
        QVERIFY(writeFile(path("a.bin"), randomImage(10, 1)));
        const Run missing = pack({"create", path("no/such/vers.kq"), path("a.bin"), "1", path("a.bin"), "2"});
        QCOMPARE(missing.exitCode, 1);
        QVERIFY(missing.err.contains("cannot create a file in"));
        QVERIFY(QDir(dir.path()).mkpath("out"));
        const Run folder = pack({"create", path("out"), path("a.bin"), "1", path("a.bin"), "2"});
        QCOMPARE(folder.exitCode, 1);
        QVERIFY(folder.err.contains("cannot rename"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.bin"});
        QVERIFY(QDir(path("out")).isEmpty());
        QDir(path("out")).removeRecursively();
    }

    // Packages written by hand or cut short in transfer.
    void inspect_data()
    {
        const QByteArray image0 = randomImage(700, 5), image1 = randomImage(300, 6);
        QTest::addColumn<QByteArray>("package");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("CR LF header, trailing bytes")
            << QByteArray("1.5 700 2.05 300\r\n") + image0 + image1 + "12345" << 0
            << QStringList{"(18 bytes)", "sent to the camera: " + cameraHeader(image0),
                           "sent to the camera: " + cameraHeader(image1), "from byte 718", "5 bytes trail",
                           "Updating with KWT6083 v02.05 : 0.000 Mb ...", "can update both"};
        QTest::newRow("image 1 one byte short")
            << QByteArray("1.5 700 2.05 300\n") + image0 + image1.left(299) << 1
            << QStringList{"sent to the camera: " + cameraHeader(image0), "SHORT, the file holds 299 of its 300",
                           "would NOT update"};
        QTest::newRow("image 0 cut in the middle")
            << QByteArray("1.5 700 2.05 300\n") + image0.left(100) << 1
            << QStringList{"SHORT, the file holds 100 of its 700", "SHORT, the file holds 0 of its 300"};
        QTest::newRow("header not readable") << QByteArray("1.5 abc\n") + image0 << 1
                                             << QStringList{"header NOT READABLE", "would NOT update"};
        QTest::newRow("no line feed") << QByteArray("1.5 1 2.05 1 ab") << 1
                                      << QStringList{"with no line feed", "never ends"};
        QTest::newRow("negative size") << QByteArray("1.5 -3 2.05 1\nab") << 1
                                       << QStringList{"a negative size", "negative size"};
        QTest::newRow("empty images") << QByteArray("1 0 2 0\n") << 0
                                      << QStringList{"sent to the camera: 00000000FFFFFFFF", "0 bytes trail"};
        QTest::newRow("version of 70 characters")
            << "1.5" + QByteArray(67, '0') + " 700 2.05 300\n" + image0 + image1 << 0
            << QStringList{"version 1.50, 700 bytes", "sent to the camera: " + cameraHeader(image0),
                           "sent to the camera: " + cameraHeader(image1)};
        QTest::newRow("size straddling byte 4096")
            << "1.5 700 2.05 " + QByteArray(4093 - 13, ' ') + "300000\n" + image0 + image1 << 1
            << QStringList{"with no line feed in the first 4096 bytes", "header NOT READABLE", "never ends"};
        QTest::newRow("letter glued to a size") << QByteArray("1.5 700 2.05 300x\n") + image0 + image1 << 1
                                                << QStringList{"header NOT READABLE", "was not read"};
        QTest::newRow("a demo line is no signature")
            << QByteArray("1.5 700 2.05 300\n") + image0 + image1 + kDemoMarkerLine << 0
            << QStringList{"signature: none read", QString("%1 bytes trail").arg(kDemoMarkerLine.size())};
    }
    void inspect()
    {
        QFETCH(QByteArray, package);
        QFETCH(int, exitCode);
        QFETCH(QStringList, expected);
        QVERIFY(writeFile(path("vers.kq"), package));
        const Run run = pack({"inspect", path("vers.kq")});
        QCOMPARE(run.exitCode, exitCode);
        for (const QString &text : expected)
            QVERIFY2(run.out.contains(text), qPrintable(text + " not in:\n" + run.out));
        // Size 0 is announced only for an image that is empty indeed.
        if (!expected.join('|').contains("00000000"))
            QVERIFY2(!run.out.contains("sent to the camera: 00000000"), qPrintable(run.out));
        QCOMPARE(run.out.contains("demo package"), expected.join('|').contains("demo package"));
    }

    // Nothing but a regular file is read: a FIFO, a device or a folder is
    // refused at once instead of hanging the maker's command.
    void inspectRefusesWhatIsNoFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("/dev/zero") << "zero";
        QTest::newRow("folder") << "folder";
    }
    void inspectRefusesWhatIsNoFile()
    {
        QFETCH(QString, kind);
        QString target = "/dev/zero";
        if (kind == "fifo") {
            target = path("fifo.kq");
            QCOMPARE(::mkfifo(target.toLocal8Bit().constData(), 0644), 0);
        } else if (kind == "folder") {
            target = dir.path();
        }
        const Run run = pack({"inspect", target});
        if (kind == "fifo")
            QFile::remove(target);
        QCOMPARE(run.exitCode, 2);  // -1 when it had to be killed after a minute
        QVERIFY2(run.err.contains("not a regular file"), qPrintable(run.err));
    }

    void inspectMissingPackage()
    {
        const Run run = pack({"inspect", path("none.kq")});
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.err.contains("no such file"));
    }

    // The maker's keys and signatures: sign replaces a trailer and keeps
    // header and images byte for byte, verify says which key and kind, and
    // what cannot be signed is left untouched.
    void signAndVerify_data()
    {
        QTest::addColumn<QString>("start");     // how the package to sign is made
        QTest::addColumn<QStringList>("sign");  // sign's options
        QTest::addColumn<int>("signCode");
        QTest::addColumn<QString>("kind");       // what verify --key maker.pub then reads; "" refused
        QTest::newRow("unsigned, signed as a release") << "plain" << QStringList{} << 0 << "release";
        QTest::newRow("demo, re-signed as a release") << "demo" << QStringList{} << 0 << "release";
        QTest::newRow("unsigned, signed as a demo") << "plain" << QStringList{"--demo"} << 0 << "demo";
        QTest::newRow("bytes after image 1 that are no trailer") << "junk" << QStringList{} << 1 << "";
    }
    void signAndVerify()
    {
        QFETCH(QString, start);
        QFETCH(QStringList, sign);
        QFETCH(int, signCode);
        QFETCH(QString, kind);
        const QByteArray images[2] = {randomImage(5000, 21), randomImage(3000, 22)};
        QVERIFY(writeFile(path("a.bin"), images[0]));
        QVERIFY(writeFile(path("b.bin"), images[1]));
        QCOMPARE(pack({"keygen", path("maker")}).exitCode, 0);
        QCOMPARE(QFileInfo(path("maker.key")).permissions() & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
                 QFileDevice::Permissions());  // the private half is its owner's alone
        QCOMPARE(pack({"keygen", path("maker")}).exitCode, 1);  // never over an existing key
        QStringList create{"create", path("vers.kq"), path("a.bin"), "1.5", path("b.bin"), "2.05"};
        if (start == "demo")
            create.insert(1, "--demo");
        QCOMPARE(pack(create).exitCode, 0);
        if (start == "junk") {
            QFile f(path("vers.kq"));
            QVERIFY(f.open(QIODevice::Append) && f.write("extra") == 5);
        }
        const QByteArray before = contents(path("vers.kq"));
        const QByteArray body = "1.5 5000 2.05 3000\n" + images[0] + images[1];

        const Run signing = pack(QStringList{"sign", "--key", path("maker.key")} + sign + QStringList{path("vers.kq")});
        QCOMPARE(signing.exitCode, signCode);
        const Run verify = pack({"verify", "--key", path("maker.pub"), path("vers.kq")});
        const Run release = pack({"verify", "--key", path("maker.pub"), "--release", path("vers.kq")});
        if (kind.isEmpty()) {
            QCOMPARE(contents(path("vers.kq")), before);  // refused: untouched
            QVERIFY2(signing.err.contains("bytes after image 1 that are no signature trailer"), qPrintable(signing.err));
            QCOMPARE(verify.exitCode, 1);
            return;
        }
        const QByteArray after = contents(path("vers.kq"));
        QCOMPARE(after.left(body.size()), body);
        QCOMPARE(verify.exitCode, 0);
        QVERIFY2(verify.out.contains("verified") && verify.out.contains("kind " + kind), qPrintable(verify.out));
        QCOMPARE(release.exitCode, kind == "release" ? 0 : 1);
        // The demo key's own check of it fails now: only the maker's key signed it.
        const Run inspect = pack({"inspect", path("vers.kq")});
        QVERIFY2(inspect.out.contains("signature: by key "), qPrintable(inspect.out));
        QVERIFY(!inspect.out.contains("signature: by key a29f6733aad712b6"));
    }
};

QTEST_GUILESS_MAIN(PackTest)
#include "test_pack.moc"
