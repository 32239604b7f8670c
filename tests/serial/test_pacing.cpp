// The pauses that pace the line: the worker's thread sleeps with no timer
// slack, and a run of pauses to an absolute schedule adds no overshoot.
#include "files_time.h"
#include "threadpool.h"

#include <QTest>

#include <atomic>
#include <chrono>
#include <sys/prctl.h>
#include <thread>

namespace {

struct SlackSeen {
    std::atomic<long> slackNs{-1};
};

int readTimerSlack(void *data)
{
    static_cast<SlackSeen *>(data)->slackNs = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    return 0;
}

double processCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

} // namespace

class PacingTest : public QObject {
    Q_OBJECT

private slots:
    void workerThreadSleepsWithoutSlack()
    {
        int pool = 0;
        QCOMPARE(CmtNewThreadPool(1, &pool), 0);
        SlackSeen seen;
        QCOMPARE(CmtScheduleThreadPoolFunction(pool, readTimerSlack, &seen, nullptr), 0);
        QCOMPARE(CmtDiscardThreadPool(pool), 0);  // returns after the function has
        QCOMPARE(seen.slackNs.load(), 1L);
        // The calling thread keeps its own slack.
        QVERIFY(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0) > 1);
    }

    // 500 pauses of 1 ms to the schedule take 0.5 s, not 0.5 s plus 500
    // overshoots, and sleep rather than spin.
    void scheduleKeepsTheSumExact()
    {
        const int pauses = 500;
        const double start = Timer();
        const double cpuStart = processCpuSeconds();
        for (int k = 1; k <= pauses; ++k)
            DelayUntil(start + k * 0.001);
        const double elapsed = Timer() - start;
        const double cpu = processCpuSeconds() - cpuStart;
        qInfo("500 x 1 ms to the schedule: %.4f s, CPU %.0f%%", elapsed, 100.0 * cpu / elapsed);
        QVERIFY2(elapsed >= 0.5, qPrintable(QString::number(elapsed)));
        // One last overshoot only; generous for a loaded machine.
        QVERIFY2(elapsed < 0.53, qPrintable(QString::number(elapsed)));
        QVERIFY2(cpu < 0.5 * elapsed, qPrintable(QString::number(cpu)));
    }

    void pastDeadlineReturnsAtOnce()
    {
        const double start = Timer();
        DelayUntil(start - 10.0);
        DelayUntil(start);
        QVERIFY(Timer() - start < 0.05);
    }
};

QTEST_APPLESS_MAIN(PacingTest)
#include "test_pacing.moc"
