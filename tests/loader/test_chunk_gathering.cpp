// What one port says is gathered into chunks at 1 ms a byte, as before, but
// on the event loop's clock: a chatty port never holds the window, and a
// chunk whose port closes is dropped unhandled.
#include "collecte.h"
#include "control.h"
#include "loader_state.h"
#include "package.h"
#include "platform.h"
#include "ports.h"
#include "serial_memory.h"
#include "ui_constants.h"
#include "package_file.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Handled {
    int port;
    std::string chunk;
    double at;  // Timer() when the chunk was handed over
};
std::vector<Handled> handled;

void keep(int port, const char *chunk, int length)
{
    handled.push_back({port, std::string(chunk, static_cast<size_t>(length)), Timer()});
}

std::string logText()
{
    std::string text;
    GetCtrlVal(loader.panel, TEXTBOX, &text);
    return text;
}

void openPort(int port)
{
    MemoryPortPlug(port);
    QCOMPARE(OpenComConfig(port, "", 115200, 0, 8, 1, 512, -1), 0);
}

// Runs the event loop for `ms`, returning the longest gap between two runs
// of a 2 ms timer: how long the window could not repaint.
double longestGapMs(int ms)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 t = clock.elapsed();
        longest = std::max(longest, t - last);
        last = t;
    });
    tick.start(2);
    QTest::qWait(ms);
    return static_cast<double>(longest);
}

} // namespace

class ChunkGatheringTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        UseMemorySerial(true);
        const QString path = dir.filePath("vers.kq");
        QVERIFY(writeDemoPackage(path, "1.5 1000 2.05 1536\n", randomImage(2536, 4)));
        loader.packagePath = path.toLocal8Bit().toStdString();
        loader.panel = LoadPanel(0, "Quorvel.uir", PANEL);
        QVERIFY(loader.panel > 0);
        LectureEntete();
    }
    void init() { handled.clear(); }
    void cleanup()
    {
        for (int port = 1; port <= 6; ++port) {
            AbandonCollecte(port);
            CloseCom(port);
        }
        Transfert(loader.panel, STOP, EVENT_COMMIT, nullptr, 0, 0);
        MemorySerialReset();
    }
    void cleanupTestCase() { UseMemorySerial(false); }

    // Each byte takes its millisecond, a dropped NUL too, and the chunk
    // ends only when the queue is found empty after the last byte's.
    void everyByteTakesItsMillisecond()
    {
        openPort(3);
        MemoryPortFeed(3, std::string("ab\0c\0d\0efghijklmnopqrstuvw", 26));
        const double start = Timer();
        DebutCollecte(3, keep);
        QVERIFY(CollecteEnCours(3));
        QVERIFY(handled.empty());  // nothing handed over before the event loop runs
        QTRY_COMPARE(handled.size(), size_t(1));
        QCOMPARE(handled[0].chunk, std::string("abcdefghijklmnopqrstuvw"));
        QVERIFY2(handled[0].at - start >= 0.026, qPrintable(QString::number(handled[0].at - start)));
        QVERIFY(!CollecteEnCours(3));
    }

    // A reply that arrives in pieces within the gathering joins one chunk;
    // what comes after the chunk ended waits for the next one.
    void replyInPiecesJoinsOneChunk()
    {
        openPort(3);
        const std::string first(300, 'x');
        MemoryPortFeed(3, first);
        DebutCollecte(3, keep);
        QTest::qWait(60);  // well inside the 300 ms the first piece takes
        QVERIFY(handled.empty());
        MemoryPortFeed(3, "START OK\r\n");
        QTRY_COMPARE(handled.size(), size_t(1));
        QCOMPARE(handled[0].chunk, first + "START OK\r\n");

        DebutCollecte(3, keep);  // nothing waits: an empty chunk, at once
        QTRY_COMPARE(handled.size(), size_t(2));
        QCOMPARE(handled[1].chunk, std::string());
    }

    // A port that never stops talking: chunks of 4999 bytes, about 5 s
    // each, and all that time the event loop runs.
    void chattyPortNeverHoldsTheLoop()
    {
        openPort(2);
        MemoryPortFeed(2, std::string(6000, 'n'));
        const double start = Timer();
        DebutCollecte(2, keep);
        const double gap = longestGapMs(4500);
        QVERIFY2(gap < 250, qPrintable(QString("the event loop stalled %1 ms").arg(gap)));
        QVERIFY(handled.empty());
        QTRY_COMPARE_WITH_TIMEOUT(handled.size(), size_t(1), 3000);
        QCOMPARE(handled[0].chunk.size(), size_t(kLongestChunk));
        QVERIFY(handled[0].at - start >= 4.998);
        // The rest is the loader's already: the port's queue is empty.
        QCOMPARE(MemoryPortWaiting(2), 0);
        QTRY_COMPARE_WITH_TIMEOUT(handled.size(), size_t(2), 3000);
        QCOMPARE(handled[1].chunk.size(), size_t(6000 - kLongestChunk));
    }

    // The port closes (Stop, the window's close, another port's banner)
    // while a chunk is gathered there: the chunk is never handled, and no
    // later read touches the closed port.
    void closedPortDropsItsChunk()
    {
        openPort(4);
        MemoryPortFeed(4, std::string(200, 'z'));
        DebutCollecte(4, keep);
        QTest::qWait(30);
        AbandonCollecte(4);
        QCOMPARE(CloseCom(4), 0);
        QVERIFY(!CollecteEnCours(4));
        QTest::qWait(300);
        QVERIFY(handled.empty());
    }

    // Through the loader: Stop while a banner is being gathered on a
    // listening port closes it at once; the camera hears nothing, the log
    // shows nothing of it, and the next Start listens afresh.
    void stopWhileABannerIsGathered()
    {
        ResetLoaderState(LoaderReset::Scan);
        MemoryPortPlug(2);
        EtatMarche(loader.panel);
        ResetTextBox(loader.panel, TEXTBOX, "");
        OuvertureCom();
        QCOMPARE(loader.portStatus[2], 0);
        MemoryPortFeed(2, std::string(100, ' ') + "Bootloader v2.10 - RZ4417\r\n");
        QTRY_VERIFY(CollecteEnCours(2));
        QElapsedTimer stop;
        stop.start();
        Transfert(loader.panel, STOP, EVENT_COMMIT, nullptr, 0, 0);
        QVERIFY(stop.elapsed() < 100);
        QVERIFY(!CollecteEnCours(2));
        QVERIFY(GetInQLen(2) < 0);
        QTest::qWait(300);
        QCOMPARE(MemoryPortWritten(2), std::string());
        QVERIFY(logText().find("Bootloader") == std::string::npos);
        QCOMPARE(loader.bootloaderFound, 0);
    }

    // Two ports gather at once; the banner on one closes the other in the
    // middle of its chunk, which is then never logged.
    void bannerElsewhereDropsTheOtherChunk()
    {
        ResetLoaderState(LoaderReset::Scan);
        MemoryPortPlug(2);
        MemoryPortPlug(5);
        EtatMarche(loader.panel);
        ResetTextBox(loader.panel, TEXTBOX, "");
        OuvertureCom();
        MemoryPortFeed(2, std::string(2000, 'q'));  // 2 s of gathering
        QTRY_VERIFY(CollecteEnCours(2));
        MemoryPortFeed(5, "Bootloader v2.10 - KWT6083\r\n");
        QTRY_COMPARE(MemoryPortWritten(5), std::string("START"));
        QVERIFY(!CollecteEnCours(2));
        QCOMPARE(loader.portStatus[2], -1);
        QTest::qWait(300);
        QVERIFY(logText().find("qqq") == std::string::npos);
        QCOMPARE(MemoryPortWritten(2), std::string());
    }
};

QTEST_MAIN(ChunkGatheringTest)
#include "test_chunk_gathering.moc"
