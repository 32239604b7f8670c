// Quorvel started from the folder it was copied into: the package beside it
// is found however deep the folder is, and only a regular file there is a
// package. The test copies its own executable into each folder and runs the
// copy as the program (--as-quorvel), which reports what it found.
#include "loader_state.h"
#include "package.h"
#include "package_file.h"
#include "program_fixture.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// ---- the copy, run as the program ------------------------------------------

// Runs the program; once its window shows, prints its title, the package it
// found and what each camera would be sent, then closes it as an operator
// would. A popup instead of the window is answered and printed.
int runAsQuorvel()
{
    static char name[] = "Quorvel";
    static char *arguments[] = {name, nullptr};
    static int count = 1;
    QApplication application(count, arguments);
    const auto popup = answerNextPopup(Qt::Key_Return, 0, 60000);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&poll] {
        QWidget *window = fixture::window();
        if (!window)
            return;
        poll.stop();
        std::printf("window: %s\n", qPrintable(window->windowTitle()));
        std::printf("package: %s\n", loader.packagePath.c_str());
        std::printf("header read: %d\n", loader.packageHeaderRead);
        for (int index : {0, 1}) {
            VerifFichier(index);
            if (ChecksumFichier(index) == 0) {
                char header[17];
                FormatEnteteCamera(header, static_cast<uint32_t>(loader.imageSize),
                                   static_cast<uint32_t>(loader.imageChecksum));
                std::printf("image %d sent as: %s\n", index, header);
            } else {
                std::printf("image %d not loaded\n", index);
            }
        }
        window->close();
    });
    poll.start(20);
    const int result = QuorvelMain(count, arguments);
    if (popup->answered)
        std::printf("popup: %s | %s\n", qPrintable(popup->title), qPrintable(popup->text));
    std::printf("ended: %d\n", result);
    return 0;
}

// ---- the test ----------------------------------------------------------------

// A folder under `base` whose path is exactly `length` bytes long (at least
// base's), made of names of at most 200 bytes.
QString folderOfLength(const QString &base, int length)
{
    QString folder = base;
    while (folder.size() < length) {
        const int name = std::min<qsizetype>(200, length - folder.size() - 1);
        folder += '/' + QString(std::max(name, 1), QLatin1Char('q'));
    }
    return folder;
}

QString cameraHeader(const QByteArray &image)
{
    return QString::asprintf("%08X%08X", static_cast<unsigned>(image.size()), referenceChecksum(image));
}

} // namespace

class ProgramFolderTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    // Each row: a folder of that many bytes, what lies at its vers.kq, and
    // whether the program starts with the package loaded or says it is missing.
    void packageBesideTheProgram_data()
    {
        QTest::addColumn<int>("folderLength");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("found");
        QTest::newRow("folder of 450 bytes") << 450 << "file" << true;
        QTest::newRow("folder of 1500 bytes") << 1500 << "file" << true;
        QTest::newRow("folder of 3900 bytes") << 3900 << "file" << true;
        QTest::newRow("link to a package elsewhere") << 0 << "link" << true;
        QTest::newRow("FIFO") << 0 << "fifo" << false;
        QTest::newRow("link to /dev/zero") << 0 << "zero" << false;
        QTest::newRow("folder") << 0 << "folder" << false;
        QTest::newRow("socket") << 0 << "socket" << false;
        QTest::newRow("nothing") << 0 << "none" << false;
    }
    void packageBesideTheProgram()
    {
        QFETCH(int, folderLength);
        QFETCH(QString, kind);
        QFETCH(bool, found);
        const QString folder = folderOfLength(dir.filePath(QTest::currentDataTag()).replace(' ', '-'),
                                              folderLength);
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(folder.toLocal8Bit().size(), std::max<qsizetype>(folderLength, folder.size()));
        const QString program = folder + "/Quorvel";
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
        QVERIFY(QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner));

        const QByteArray images[2] = {randomImage(3000, 31), randomImage(2000, 32)};
        const QString package = folder + "/vers.kq";
        const QString elsewhere = dir.filePath("elsewhere.kq");
        QVERIFY(writeDemoPackage(kind == "file" ? package : elsewhere, "1.5 3000 2.05 2000\n",
                                 images[0] + images[1]));
        if (kind == "link")
            QVERIFY(QFile::link(elsewhere, package));
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(package.toLocal8Bit().constData(), 0644), 0);
        else if (kind == "zero")
            QVERIFY(QFile::link("/dev/zero", package));
        else if (kind == "folder")
            QVERIFY(QDir().mkdir(package));
        else if (kind == "socket")
            QVERIFY(putSocketAt(package));
        else if (kind == "none")
            QVERIFY(!QFile::exists(package));

        QProcess run;
        run.start(program, {"--as-quorvel"});
        const bool ended = run.waitForFinished(60000);
        if (!ended)
            run.kill();
        const QString out = QString::fromLocal8Bit(run.readAllStandardOutput());
        QVERIFY2(ended, qPrintable("the program never ended:\n" + out));
        QVERIFY2(out.contains("ended: "), qPrintable(out));
        if (found) {
            // The title carries the date of the executable found at its full path.
            QVERIFY2(QRegularExpression("window: Quorvel - v1.09 - \\d\\d/\\d\\d/20\\d\\d\n").match(out).hasMatch(),
                     qPrintable(out));
            QVERIFY2(out.contains("package: " + package + "\n"), qPrintable(out.left(200)));
            QVERIFY(out.contains("header read: 1\n"));
            QVERIFY2(out.contains("image 0 sent as: " + cameraHeader(images[0])), qPrintable(out));
            QVERIFY(out.contains("image 1 sent as: " + cameraHeader(images[1])));
            QVERIFY(!out.contains("popup:"));
        } else {
            QVERIFY2(out.contains("popup: Error! | Can't find 'vers.kq' file!"), qPrintable(out));
            QVERIFY(!out.contains("window:"));
        }
    }
};

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--as-quorvel") == 0)
        return runAsQuorvel();
    QCoreApplication application(argc, argv);
    ProgramFolderTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_program_folder.moc"
