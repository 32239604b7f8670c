// The manual event loop: nothing runs until pumped, timers at their own
// moments in a fixed order, calls posted from other threads, delayed calls
// held behind a popup, the worker one stretch at a time, run and quit.
#include "manual_loop.h"

#include "delayed_calls.h"
#include "files_time.h"
#include "popup_hold.h"
#include "runtime.h"
#include "threadpool.h"
#include "ui_queue.h"

#include "event_loop.h"

#include <QtTest>

#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> seen;  // what ran, with the clock it read

void note(const std::string &what)
{
    char at[32];
    std::snprintf(at, sizeof at, "@%g", ManualLoopNow() * 1000.0);
    seen.push_back(what + at);
}

void noteA(void *) { note("a"); }
void noteB(void *) { note("b"); }

int repeatingId = 0;
int repeatCalls = 0;
void repeating(void *)
{
    note("r");
    if (++repeatCalls == 3)
        platform::eventLoop().stopTimer(repeatingId);
}

void chained(void *)
{
    note("c");
    platform::eventLoop().startTimer(0.002, false, noteB, nullptr);
    platform::postToUiThread([] { note("posted"); });
}

void quitWithSeven(void *) { QuitUserInterface(7); }

// The worker: three stretches separated by pauses.
std::atomic<int> stretch{0};
int threeStretches(void *)
{
    stretch = 1;
    Delay(0.001);
    stretch = 2;
    Delay(0.001);
    stretch = 3;
    return 0;
}

} // namespace

class ManualLoopTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        UseManualLoop(true);
        seen.clear();
    }
    void cleanup() { UseManualLoop(false); }

    void timersRunAtTheirMomentsInOrder()
    {
        auto &loop = platform::eventLoop();
        QVERIFY(OnUiThread());
        loop.startTimer(0.005, false, noteB, nullptr);
        loop.startTimer(0.003, false, noteA, nullptr);
        loop.startTimer(0.003, false, noteB, nullptr);  // same moment: after the first started
        QCOMPARE(ManualLoopTimers(), 3);
        QCOMPARE(ManualLoopRunDue(), 0);  // nothing has come due
        QVERIFY(seen.empty());
        QCOMPARE(ManualLoopAdvance(0.004), 2);
        QCOMPARE(seen, (std::vector<std::string>{"a@3", "b@3"}));
        QCOMPARE(ManualLoopNow(), 0.004);
        QVERIFY(ManualLoopAdvanceToNextTimer());
        QCOMPARE(seen.back(), std::string("b@5"));
        QVERIFY(!ManualLoopAdvanceToNextTimer());
        QCOMPARE(ManualLoopNow(), 0.005);

        // A stopped timer never runs; a repeating one runs at every period
        // until stopped from its own call; calls started or posted from a
        // call run within the same advance, at their moments.
        seen.clear();
        const int stopped = loop.startTimer(0.001, false, noteA, nullptr);
        loop.stopTimer(stopped);
        loop.stopTimer(12345);  // unknown: ignored
        repeatCalls = 0;
        repeatingId = loop.startTimer(0.010, true, repeating, nullptr);
        loop.startTimer(0.015, false, chained, nullptr);
        ManualLoopAdvance(1.0);
        QCOMPARE(seen, (std::vector<std::string>{"r@15", "c@20", "posted@20", "b@22", "r@25",
                                                 "r@35"}));
        QCOMPARE(ManualLoopTimers(), 0);
        QCOMPARE(ManualLoopNow(), 1.005);

        // The UI thread's pause lets time pass without running anything.
        loop.startTimer(0.001, false, noteA, nullptr);
        Delay(0.5);
        QVERIFY(seen.size() == 6);
        QCOMPARE(ManualLoopRunDue(), 1);
        QCOMPARE(seen.back(), std::string("a@1505"));
    }

    void postedCallsWaitForThePump()
    {
        bool elsewhereUi = true;
        std::thread other([&elsewhereUi] {
            elsewhereUi = OnUiThread();
            platform::postToUiThread([] { note("first"); });
            platform::postToUiThread([] { note("second"); });
        });
        other.join();
        QVERIFY(!elsewhereUi);
        QVERIFY(seen.empty());
        QCOMPARE(ManualLoopRunDue(), 1);  // the queue is delivered in one go
        QCOMPARE(seen, (std::vector<std::string>{"first@0", "second@0"}));
    }

    void delayedCallsWaitBehindAPopup()
    {
        const int handle = PostDelayedCall(0.002, noteA, nullptr);
        QVERIFY(handle > 0);
        const int cancelled = PostDelayedCall(0.001, noteB, nullptr);
        QCOMPARE(CancelDelayedCall(cancelled), 0);
        platform::enterModalPopup();
        ManualLoopAdvance(0.010);
        QVERIFY(seen.empty());  // due behind the popup: held
        platform::leaveModalPopup();
        QVERIFY(seen.empty());  // resumed on the loop, not inside the close
        ManualLoopRunDue();
        QCOMPARE(seen, (std::vector<std::string>{"a@10"}));
    }

    void theWorkerGoesOneStretchAtATime()
    {
        QVERIFY(!ManualLoopStepWorker(0.05));  // no worker: nothing arrives
        int pool = 0;
        QCOMPARE(CmtNewThreadPool(1, &pool), 0);
        stretch = 0;
        QCOMPARE(CmtScheduleThreadPoolFunction(pool, threeStretches, nullptr, nullptr), 0);
        QVERIFY(ManualLoopStepWorker());  // waits for the worker to arrive, lets it go to its pause
        QCOMPARE(stretch.load(), 1);
        QCOMPARE(ManualLoopWorkersRunning(), 1);
        QTest::qSleep(20);
        QCOMPARE(stretch.load(), 1);  // held there
        QVERIFY(ManualLoopStepWorker());
        QCOMPARE(stretch.load(), 2);
        QCOMPARE(ManualLoopNow(), 0.0);  // the worker's pauses take no time
        // Discarding the pool lets the rest run freely, and waits for it.
        QCOMPARE(CmtDiscardThreadPool(pool), 0);
        QCOMPARE(stretch.load(), 3);
        QCOMPARE(ManualLoopWorkersRunning(), 0);

        // A second function on a new pool is held from its very start.
        QCOMPARE(CmtNewThreadPool(1, &pool), 0);
        stretch = 0;
        CmtScheduleThreadPoolFunction(pool, threeStretches, nullptr, nullptr);
        QTest::qSleep(20);
        QCOMPARE(stretch.load(), 0);
        for (int i = 0; i < 3; ++i)
            QVERIFY(ManualLoopStepWorker());
        QCOMPARE(stretch.load(), 3);
        QCOMPARE(ManualLoopWorkersRunning(), 0);
        QVERIFY(!ManualLoopStepWorker(0.05));
        QCOMPARE(CmtDiscardThreadPool(pool), 0);
    }

    void runEndsAtQuitOrWhenNothingIsLeft()
    {
        platform::eventLoop().startTimer(3.0, false, quitWithSeven, nullptr);
        QCOMPARE(RunUserInterface(), 7);
        QCOMPARE(ManualLoopNow(), 3.0);
        QCOMPARE(RunUserInterface(), -1);  // no timer, nothing posted: it could never end
        QuitUserInterface(2);
        QCOMPARE(RunUserInterface(), 2);  // a quit with no loop running ends the next at once

        // Reset forgets timers and sets the clock back.
        platform::eventLoop().startTimer(1.0, false, noteA, nullptr);
        ManualLoopReset();
        QCOMPARE(ManualLoopTimers(), 0);
        QCOMPARE(ManualLoopNow(), 0.0);
        QVERIFY(!ManualLoopAdvanceToNextTimer());
    }
};

QTEST_APPLESS_MAIN(ManualLoopTest)
#include "test_manual_loop.moc"
