// Whole updates on the window-less panel, the manual event loop and the
// in-memory ports, with the worker going block by block at the test's
// word: what the camera gets, and the last word of the log, when the
// camera reports its flash written while the image still goes out.
#include "control.h"
#include "loader_state.h"
#include "manual_loop.h"
#include "package.h"
#include "panel_headless.h"
#include "platform.h"
#include "serial_memory.h"
#include "startup.h"
#include "ui_constants.h"
#include "package_file.h"

#include <QTemporaryDir>
#include <QtTest>

#include <string>

namespace {

std::string logText()
{
    std::string text;
    GetCtrlVal(loader.panel, TEXTBOX, &text);
    return text;
}

// Time passes until the port's bytes are gathered and handled.
void settle()
{
    for (int i = 0; i < 10000 && (GetInQLen(1) > 0 || MemorySerialCallbacksPending() > 0); ++i)
        ManualLoopAdvanceToNextTimer();
    ManualLoopAdvance(0.05);
}

void say(const std::string &words)
{
    MemoryPortFeed(1, words);
    settle();
}

} // namespace

class UpdateOnManualLoopTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QByteArray image;  // image 1 (KWT6083): three blocks

    // Start and Ok, the banner, START OK: the header is out, the worker held
    // at its start.
    void startUpdate()
    {
        ResetLoaderState(LoaderReset::Scan);
        MemorySerialReset();
        MemoryPortPlug(1);
        platform::headless::setPopupScript([](const std::string &, const std::string &,
                                              const platform::PopupButtons &) { return 1; });
        QVERIFY(platform::headless::clickControl(loader.panel, GO));
        say("Bootloader v3.0 KWT6083\r\n");
        QCOMPARE(MemoryPortWritten(1), std::string("START"));
        say("START OK\r\n");
        QCOMPARE(MemoryPortWritten(1).size(), size_t(5 + 16));
        QVERIFY(loader.workerRunning);
    }

private slots:
    void initTestCase()
    {
        UseHeadlessPanel();
        UseManualLoop(true);
        static char name[] = "test";
        static char *argv[] = {name, nullptr};
        QVERIFY(InitRunTime(1, argv));
        RegisterCtrlCallback("Transfert", Transfert);
        RegisterPanelCallback("Sortir", Sortir);
        loader.panel = LoadPanel(0, "Quorvel.uir", PANEL);
        QVERIFY(loader.panel > 0);
        DisplayPanel(loader.panel);
        double interval = 0.0;
        GetCtrlAttribute(loader.panel, TIMER, ATTR_INTERVAL, &interval);
        loader.ticksPerSecond = TicksParSeconde(interval);
        image = randomImage(1536, 7);
        const QString path = dir.filePath("vers.kq");
        QVERIFY(writePackage(path, "1.5 700 2.05 1536\n", randomImage(700, 3) + image));
        loader.packagePath = path.toStdString();
        LectureEntete();
        UseMemorySerial(true);
    }
    void cleanup()
    {
        Transfert(loader.panel, STOP, EVENT_COMMIT, nullptr, 0, 0);
        ResetLoaderState(LoaderReset::Scan);
        MemorySerialReset();
    }
    void cleanupTestCase()
    {
        UseMemorySerial(false);
        UseManualLoop(false);
    }

    // The worker sends block after block only when let; the camera gets the
    // whole image in order, and its WRITE OK ends the update at the next tick.
    void aWholeUpdateBlockByBlock()
    {
        startUpdate();
        QVERIFY(ManualLoopStepWorker());  // to its first pause: one block out
        QCOMPARE(MemoryPortWritten(1).size(), size_t(21 + 512));
        while (loader.workerRunning)
            QVERIFY(ManualLoopStepWorker());
        ManualLoopRunDue();
        QCOMPARE(MemoryPortWritten(1).substr(21), image.toStdString());
        say("FILE OK\r\n");
        say("WRITE OK\r\n");
        ManualLoopAdvance(1.0);
        QVERIFY(logText().size() >= 22);
        QCOMPARE(logText().substr(logText().size() - 22), std::string("Operation successful!\n"));
        QVERIFY(GetInQLen(1) < 0);  // the port is closed
    }

    // A START the cable cuts short or refuses never reached the camera: the
    // update ends there, its port closed, and a "START OK" after it (a stray
    // one) brings no header.
    void aStartTheCableRefusesEndsTheUpdate()
    {
        for (const int limit : {3, 0}) {
            ResetLoaderState(LoaderReset::Scan);
            MemorySerialReset();
            MemoryPortPlug(1);
            ComInjectShortWrite(1, limit);
            QVERIFY(platform::headless::clickControl(loader.panel, GO));
            say("Bootloader v3.0 KWT6083\r\nSTART OK\r\n");
            say("START OK\r\n");
            QCOMPARE(MemoryPortWritten(1), std::string("START", static_cast<size_t>(limit)));
            QVERIFY(logText().find("Transfer aborted!") != std::string::npos);
            QVERIFY(GetInQLen(1) < 0);
            QVERIFY(!loader.workerRunning);
            QCOMPARE(loader.connectedPort.load(), 0);
        }
    }

    // The camera says WRITE OK with two blocks still to go: at the next
    // tick the worker stops (the camera gets nothing more) and what it logs
    // as it leaves comes before the verdict, which stays the last word.
    // The same when the camera restarts and its port goes away instead.
    void writeOkWhileTheImageGoesOut()
    {
        for (const bool hangUp : {false, true}) {
            startUpdate();
            QVERIFY(ManualLoopStepWorker());
            say("WRITE OK\r\n");
            if (hangUp)
                MemoryPortUnplug(1);
            ManualLoopAdvance(1.0);
            QVERIFY(!loader.workerRunning);
            QCOMPARE(MemoryPortWritten(1).size(), size_t(21 + 512));
            const std::string log = logText();
            const size_t success = log.rfind("Operation successful!\n");
            QVERIFY2(success != std::string::npos, log.c_str());
            QCOMPARE(success + 22, log.size());
            QVERIFY(log.find("Transfer aborted!") < success);
            QVERIFY(log.find("disconnected") == std::string::npos);
            QVERIFY(GetInQLen(1) < 0);
        }
    }
};

QTEST_APPLESS_MAIN(UpdateOnManualLoopTest)
#include "test_update_on_manual_loop.moc"
