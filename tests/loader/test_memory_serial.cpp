// The in-memory serial ports, and the real dialogue, worker and update
// control running on them with no pseudo-terminal.
#include "control.h"
#include "dialogue.h"
#include "loader_state.h"
#include "package.h"
#include "platform.h"
#include "ports.h"
#include "serial_memory.h"
#include "ui_constants.h"
#include "package_file.h"

#include <QApplication>
#include <cerrno>
#include <QTemporaryDir>
#include <QtTest>
#include <string>

namespace {

int callbackCalls = 0;
std::string callbackSawWaiting;

void countingCallback(int port, int, void *)
{
    ++callbackCalls;
    // Reads one byte per call: the port must call again while bytes remain.
    callbackSawWaiting += std::to_string(GetInQLen(port)) + " ";
    ComRdByte(port);
}

// Waits, with a deadline, for the event loop to bring `done` about.
template <typename Condition>
bool waitFor(Condition done, int timeoutMs = 20000)
{
    return QTest::qWaitFor(done, timeoutMs);
}

QString logText()
{
    std::string text;
    GetCtrlVal(loader.panel, TEXTBOX, &text);
    return QString::fromStdString(text);
}

} // namespace

class MemorySerialTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QByteArray images;  // image 0 (1000 bytes) then image 1 (1536 bytes)

    // A fresh loader listening on memory ports 2 and 5, as after Start and Ok.
    void startScan()
    {
        ResetLoaderState(LoaderReset::Scan);
        MemoryPortPlug(2);
        MemoryPortPlug(5);
        EtatMarche(loader.panel);
        OuvertureCom();
        QCOMPARE(loader.portStatus[2], 0);
        QCOMPARE(loader.portStatus[5], 0);
        QVERIFY(loader.portStatus[3] != 0);  // no device there, or one refused
    }
    void stop() { Transfert(loader.panel, STOP, EVENT_COMMIT, nullptr, 0, 0); }

private slots:
    void initTestCase()
    {
        UseMemorySerial(true);
        images = randomImage(1000, 1) + randomImage(1536, 2);
        const QString path = dir.filePath("vers.kq");
        QVERIFY(writeDemoPackage(path, "1.5 1000 2.05 1536\n", images));
        loader.packagePath = path.toLocal8Bit().toStdString();
        loader.panel = LoadPanel(0, "Quorvel.uir", PANEL);
        QVERIFY(loader.panel > 0);
        LectureEntete();
        QCOMPARE(loader.packageSizes[1], 1536);
    }
    void cleanup()
    {
        stop();
        MemorySerialReset();
    }
    void cleanupTestCase() { UseMemorySerial(false); }

    void portBasics()
    {
        QCOMPARE(OpenComConfig(4, "", 115200, 0, 8, 1, 512, -1), static_cast<int>(kComNoDevice));
        MemoryPortPlug(4);
        QCOMPARE(OpenComConfig(4, "", 115200, 0, 8, 1, 512, -1), 0);
        QCOMPARE(OpenComConfig(4, "", 115200, 3, 8, 1, 512, -1), static_cast<int>(kComArgumentError));
        QCOMPARE(SetComTime(4, 0.0), 0);
        QCOMPARE(ComRdByte(4), static_cast<int>(kComTimeout));
        MemoryPortFeed(4, std::string("a\0b", 3));
        QCOMPARE(GetInQLen(4), 3);
        QCOMPARE(ComRdByte(4), int('a'));
        QCOMPARE(ComRdByte(4), 0);
        QCOMPARE(FlushInQ(4), 0);
        QCOMPARE(GetInQLen(4), 0);

        QCOMPARE(ComWrt(4, "START", 5), 5);
        ComInjectShortWrite(4, 3);
        QCOMPARE(ComWrt(4, "header", 6), 3);
        ComInjectShortWrite(4, -1);
        MemoryPortWriteBudget(4, 4);
        QCOMPARE(ComWrt(4, "abcdef", 6), 4);
        QCOMPARE(ComWrt(4, "xyz", 3), static_cast<int>(kComTimeout));
        QCOMPARE(MemoryPortWritten(4), std::string("STARThea") + "abcd");
        QCOMPARE(MemoryPortWrites(4).size(), size_t(3));

        MemoryPortUnplug(4);
        QCOMPARE(GetInQLen(4), static_cast<int>(kComHangUp));
        QCOMPARE(ComWrt(4, "x", 1), static_cast<int>(kComHangUp));
        QCOMPARE(CloseCom(4), 0);
        QCOMPARE(CloseCom(4), static_cast<int>(kComNotOpen));
        QCOMPARE(OpenComConfig(4, "", 115200, 0, 8, 1, 512, -1), static_cast<int>(kComNoDevice));
    }

    void callbackComesWhileBytesWaitAndStopsAtHangUp()
    {
        MemoryPortPlug(6);
        QCOMPARE(OpenComConfig(6, "", 115200, 0, 8, 1, 512, -1), 0);
        callbackCalls = 0;
        callbackSawWaiting.clear();
        QCOMPARE(InstallComCallback(6, 1, 0, 13, countingCallback, nullptr), 0);
        MemoryPortFeed(6, "xyz");
        QVERIFY(waitFor([] { return MemoryPortWaiting(6) == 0; }));
        QCOMPARE(callbackSawWaiting, std::string("3 2 1 "));
        QVERIFY(waitFor([] { return MemorySerialCallbacksPending() == 0; }));

        // A call queued when the callback is removed is withdrawn, not run.
        MemoryPortFeed(6, "q");
        QCOMPARE(MemorySerialCallbacksPending(), 1);
        QCOMPARE(InstallComCallback(6, 0, 0, 0, nullptr, nullptr), 0);
        QCOMPARE(MemorySerialCallbacksPending(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(callbackCalls, 3);
        QCOMPARE(InstallComCallback(6, 1, 0, 13, countingCallback, nullptr), 0);
        QVERIFY(waitFor([] { return callbackCalls == 4 && MemorySerialCallbacksPending() == 0; }));

        MemoryPortUnplug(6);
        MemoryPortFeed(6, "more");  // nobody hears a pulled cable
        QCoreApplication::processEvents();
        QCOMPARE(callbackCalls, 4);
        QCOMPARE(InstallComCallback(6, 1, 0, 13, countingCallback, nullptr),
                 static_cast<int>(kComHangUp));
        CloseCom(6);
    }

    // Camera KWT6083 on COM5: START alone, then header and the whole image.
    void wholeUpdateOnMemoryPorts()
    {
        startScan();
        MemoryPortFeed(5, "Bootloader v2.10 - KWT6083\r\n");
        QVERIFY(waitFor([] { return MemoryPortWritten(5) == "START"; }));
        QCOMPARE(loader.portStatus[2], -1);  // the other port was released
        QCOMPARE(MemoryPortWritten(2), std::string());

        MemoryPortFeed(5, "START OK\r\n");
        const QByteArray image = images.mid(1000);
        char header[17];
        FormatEnteteCamera(header, 1536, referenceChecksum(image));
        const std::string expected = "START" + std::string(header) + image.toStdString();
        QVERIFY(waitFor([&] { return MemoryPortWritten(5).size() >= expected.size(); }));
        QVERIFY(waitFor([] { return !loader.workerRunning; }));
        QCOMPARE(MemoryPortWritten(5), expected);
        const auto writes = MemoryPortWrites(5);
        QCOMPARE(writes.size(), size_t(5));  // START, header, 3 blocks of 512
        QCOMPARE(writes[2].bytes.size(), size_t(512));
        // START and the header from the UI thread, the blocks from the worker.
        QCOMPARE(writes[1].writer, writes[0].writer);
        QVERIFY(writes[2].writer != writes[0].writer);
        QCOMPARE(writes[4].writer, writes[2].writer);
    }

    // The cable stops taking bytes after 700 image bytes: one whole block,
    // one short block, and the log says the transfer was aborted.
    void shortWriteAbortsTheTransfer()
    {
        startScan();
        MemoryPortFeed(2, "Bootloader v1.0 RZ4417\r\n");
        QVERIFY(waitFor([] { return MemoryPortWritten(2) == "START"; }));
        MemoryPortWriteBudget(2, 16 + 700);
        MemoryPortFeed(2, "START OK\r\n");
        QVERIFY(waitFor([] { return logText().contains("Transfer aborted!"); }));
        QCOMPARE(loader.bytesSent.load(), 700);
        QCOMPARE(loader.transferActive.load(), 0);
        QCOMPARE(MemoryPortWritten(2).size(), size_t(5 + 16 + 700));
    }

    // The cable is pulled while the image streams: the worker stops, the
    // log says the camera is gone, the port is released and the panel idles.
    void unpluggedMidUpdateEndsTheUpdate()
    {
        startScan();
        MemoryPortFeed(5, "Bootloader v2.10 - KWT6083\r\n");
        QVERIFY(waitFor([] { return MemoryPortWritten(5) == "START"; }));
        MemoryPortWriteBudget(5, 16 + 512);  // the camera takes one block, then nothing
        MemoryPortFeed(5, "START OK\r\n");
        QVERIFY(waitFor([] { return MemoryPortWritten(5).size() == 5 + 16 + 512; }));
        MemoryPortUnplug(5);
        QVERIFY(waitFor([] { return logText().contains("The camera was disconnected"); }));
        QVERIFY(waitFor([] { return !loader.workerRunning; }));
        QCOMPARE(loader.connectedPort.load(), 0);
        QCOMPARE(loader.transferActive.load(), 0);
        QCOMPARE(MemoryPortWritten(5).size(), size_t(5 + 16 + 512));
        int shown = -1;
        GetCtrlAttribute(loader.panel, GO, ATTR_VISIBLE, &shown);
        QCOMPARE(shown, 1);
    }

    // A port the system refuses is named in the log with its reason, once.
    void refusedPortIsExplained()
    {
        ComInjectOpenError(3, EBUSY, "ModemManager", 812);
        MemoryPortPlug(3);
        startScan();
        ComOpenFailure failure{};
        QCOMPARE(GetComOpenFailure(3, &failure), 0);
        QCOMPARE(failure.error, static_cast<int>(kComBusy));
        QCOMPARE(loader.portStatus[3], static_cast<int>(kComBusy));
        QCOMPARE(QByteArray(failure.holder), QByteArray("ModemManager"));
        QCOMPARE(failure.holderPid, 812);
        QVERIFY(waitFor([] { return logText().contains("ModemManager, pid 812"); }));
        QCOMPARE(logText().count("ModemManager, pid 812"), 1);
        ComInjectOpenError(3, 0, nullptr, 0);
        stop();
    }

    // What the camera says in one breath is the loader's at once (one read
    // takes the whole queue), yet gathered as before: at most 4999 bytes per
    // chunk, the rest in the next, each byte costing 1 ms.
    void longReplyIsCutAndPaced()
    {
        startScan();
        const std::string reply(6000, 'n');
        MemoryPortFeed(5, reply);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(waitFor([] { return logText().contains(QString(6000, 'n')); }));
        const double seconds = clock.elapsed() / 1000.0;
        const auto reads = MemoryPortCallbackReads(5);
        QCOMPARE(reads.size(), size_t(1));
        QCOMPARE(reads[0].size(), size_t(6000));
        QCOMPARE(MemoryPortWaiting(5), 0);
        qInfo("6000 bytes gathered in %.3f s", seconds);
        QVERIFY2(seconds >= 6.0 && seconds < 6.5, qPrintable(QString::number(seconds)));
        QCOMPARE(MemoryPortWritten(5), std::string());
    }
};

QTEST_MAIN(MemorySerialTest)
#include "test_memory_serial.moc"
