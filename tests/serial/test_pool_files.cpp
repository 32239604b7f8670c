// The worker's thread pool, and the file and time helpers the loader uses
// at start-up (its own date, the package beside it) and while receiving.
#include "files_time.h"
#include "platform.h"
#include "threadpool.h"
#include "ui_queue.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <utime.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct OrderLog {
    std::mutex mutex;
    std::vector<int> order;  // guarded by mutex
};

struct Step {
    OrderLog *log;
    int number;
};

int recordStep(void *data)
{
    auto *step = static_cast<Step *>(data);
    std::lock_guard<std::mutex> lock(step->log->mutex);
    step->log->order.push_back(step->number);
    return 0;
}

// Stands in for the streaming worker: still sending when Stop discards the pool.
struct LongSend {
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
};

int longSend(void *data)
{
    auto *send = static_cast<LongSend *>(data);
    send->started.store(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // blocks going out
    send->finished.store(true);
    return 0;
}

// Stands in for the worker's panel updates: the progress slide, the log.
struct PanelUpdates {
    std::vector<int> shown;  // UI thread only
    int offUiThread = 0;     // UI thread only
};

int postUpdates(void *data)
{
    auto *panel = static_cast<PanelUpdates *>(data);
    for (int percent = 1; percent <= 200; ++percent)
        platform::postToUiThread([panel, percent] {
            if (!OnUiThread())
                ++panel->offUiThread;
            panel->shown.push_back(percent);
        });
    return 0;
}

struct SelfDiscard {
    int handle = 0;
    std::atomic<int> result{1};
};

int discardOwnPool(void *data)
{
    auto *self = static_cast<SelfDiscard *>(data);
    self->result.store(CmtDiscardThreadPool(self->handle));
    return 0;
}

} // namespace

class PoolFilesTest : public QObject {
    Q_OBJECT

private slots:
    void functionsRunInScheduledOrder();
    void discardWaitsForRunningFunction();
    void discardDeliversWorkerPanelUpdatesFirst();
    void handlesAndRefusals();

    void fileSizeAndDate();
    void executableDirectoryAndName();
    void delayIsPreciseWithoutSpinning();
};

// ---------------------------------------------------------------------------
// Thread pool

void PoolFilesTest::functionsRunInScheduledOrder()
{
    int pool = 0;
    QCOMPARE(CmtNewThreadPool(1, &pool), 0);
    QVERIFY(pool > 0);
    QCOMPARE(CmtSetThreadPoolAttribute(pool, 7, 1), 0);

    OrderLog log;
    std::vector<Step> steps;
    for (int i = 1; i <= 50; ++i)
        steps.push_back({&log, i});
    std::vector<int> ids;
    for (Step &step : steps) {
        int id = 0;
        QCOMPARE(CmtScheduleThreadPoolFunction(pool, recordStep, &step, &id), 0);
        ids.push_back(id);
    }
    QCOMPARE(CmtDiscardThreadPool(pool), 0);

    // Discard ran everything queued, one after another, in order.
    std::vector<int> expected(50);
    for (int i = 0; i < 50; ++i)
        expected[std::size_t(i)] = i + 1;
    QCOMPARE(log.order, expected);
    QVERIFY(ids.front() > 0);
    QVERIFY(std::adjacent_find(ids.begin(), ids.end()) == ids.end());
}

void PoolFilesTest::discardWaitsForRunningFunction()
{
    int pool = 0;
    QCOMPARE(CmtNewThreadPool(1, &pool), 0);
    LongSend send;
    QCOMPARE(CmtScheduleThreadPoolFunction(pool, longSend, &send, nullptr), 0);
    QTRY_VERIFY(send.started.load());

    // Stop pressed mid-transfer: the port may be closed only after this returns.
    QCOMPARE(CmtDiscardThreadPool(pool), 0);
    QVERIFY(send.finished.load());
    QCOMPARE(CmtDiscardThreadPool(pool), int(kPoolArgumentError));
}

void PoolFilesTest::discardDeliversWorkerPanelUpdatesFirst()
{
    int pool = 0;
    QCOMPARE(CmtNewThreadPool(1, &pool), 0);
    PanelUpdates panel;
    QCOMPARE(CmtScheduleThreadPoolFunction(pool, postUpdates, &panel, nullptr), 0);

    // No event loop runs in between: the discard itself delivers them.
    QCOMPARE(CmtDiscardThreadPool(pool), 0);
    QCOMPARE(panel.shown.size(), std::size_t(200));
    QCOMPARE(panel.shown.front(), 1);
    QCOMPARE(panel.shown.back(), 200);
    QVERIFY(std::is_sorted(panel.shown.begin(), panel.shown.end()));
    QCOMPARE(panel.offUiThread, 0);

    // Nothing of the old worker is left to land on the panel later.
    QCoreApplication::processEvents();
    QCOMPARE(panel.shown.size(), std::size_t(200));
}

void PoolFilesTest::handlesAndRefusals()
{
    int first = 0;
    int second = 0;
    QCOMPARE(CmtNewThreadPool(1, &first), 0);
    QCOMPARE(CmtNewThreadPool(1, &second), 0);
    QVERIFY(first > 0 && second > 0 && first != second);

    QCOMPARE(CmtNewThreadPool(1, nullptr), int(kPoolArgumentError));
    QCOMPARE(CmtScheduleThreadPoolFunction(first, nullptr, nullptr, nullptr), int(kPoolArgumentError));
    QCOMPARE(CmtScheduleThreadPoolFunction(999, recordStep, nullptr, nullptr), int(kPoolArgumentError));
    QCOMPARE(CmtSetThreadPoolAttribute(999, 1, 1), int(kPoolArgumentError));
    QCOMPARE(CmtDiscardThreadPool(999), int(kPoolArgumentError));
    QCOMPARE(CmtDiscardThreadPool(0), int(kPoolArgumentError));

    // A pool's own function cannot discard it (it would wait for itself).
    SelfDiscard self;
    self.handle = first;
    QCOMPARE(CmtScheduleThreadPoolFunction(first, discardOwnPool, &self, nullptr), 0);
    QTRY_COMPARE(self.result.load(), int(kPoolSelfDiscard));
    QCOMPARE(CmtDiscardThreadPool(first), 0);

    // The freed handle is the next one given out: handles stay small.
    int third = 0;
    QCOMPARE(CmtNewThreadPool(1, &third), 0);
    QCOMPARE(third, first);
    QCOMPARE(CmtDiscardThreadPool(third), 0);
    QCOMPARE(CmtDiscardThreadPool(second), 0);
}

// ---------------------------------------------------------------------------
// Files and time

void PoolFilesTest::fileSizeAndDate()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray path = dir.filePath("vers.kq").toLocal8Bit();
    QFile package(QString::fromLocal8Bit(path));
    QVERIFY(package.open(QIODevice::WriteOnly));
    package.write(QByteArray(1234567, 'k'));
    package.close();
    QCOMPARE(GetFileSize(path.constData()), 1234567LL);

    // Built on 7 March 2021 at noon, local time.
    std::tm built{};
    built.tm_year = 2021 - 1900;
    built.tm_mon = 2;
    built.tm_mday = 7;
    built.tm_hour = 12;
    built.tm_isdst = -1;
    const utimbuf times{std::mktime(&built), std::mktime(&built)};
    QCOMPARE(::utime(path.constData(), &times), 0);
    int month = 0, day = 0, year = 0;
    QCOMPARE(GetFileDate(path.constData(), &month, &day, &year), 0);
    QCOMPARE(month, 3);
    QCOMPARE(day, 7);
    QCOMPARE(year, 2021);

    // Missing file: negative size, date untouched.
    const QByteArray missing = dir.filePath("absent.kq").toLocal8Bit();
    QVERIFY(GetFileSize(missing.constData()) < 0);
    month = day = year = -7;
    QCOMPARE(GetFileDate(missing.constData(), &month, &day, &year), -1);
    QCOMPARE(month + day + year, -21);
    QVERIFY(GetFileSize(dir.path().toLocal8Bit().constData()) < 0);  // a folder is no package

    QFile empty(dir.filePath("empty"));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    QCOMPARE(GetFileSize(dir.filePath("empty").toLocal8Bit().constData()), 0LL);
}

void PoolFilesTest::executableDirectoryAndName()
{
    char folder[4096] = {};
    QCOMPARE(GetProjectDir(folder, sizeof folder), 0);
    QCOMPARE(QString::fromLocal8Bit(folder), QCoreApplication::applicationDirPath());
    QCOMPARE(QString::fromLocal8Bit(GetExecutableName()),
             QFileInfo(QCoreApplication::applicationFilePath()).fileName());

    // Exactly fits (with its terminating zero), then one byte short.
    const std::size_t needed = std::strlen(folder) + 1;
    char exact[4096];
    QCOMPARE(GetProjectDir(exact, needed), 0);
    QCOMPARE(QByteArray(exact), QByteArray(folder));
    QCOMPARE(GetProjectDir(exact, needed - 1), -1);
}

void PoolFilesTest::delayIsPreciseWithoutSpinning()
{
    // The receive path pauses 1 ms per byte: the pause must be close to what
    // was asked, and must not burn the CPU meanwhile.
    for (const double asked : {0.001, 0.0001}) {
        std::vector<double> overshoot;
        double cpu = 0;
        double wall = 0;
        for (int i = 0; i < 31; ++i) {
            const auto start = Clock::now();
            const std::clock_t cpuStart = std::clock();
            Delay(asked);
            cpu += double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
            const double took = std::chrono::duration<double>(Clock::now() - start).count();
            QVERIFY2(took >= asked, qPrintable(QString::number(took)));
            wall += took;
            overshoot.push_back(took - asked);
        }
        std::sort(overshoot.begin(), overshoot.end());
        const double median = overshoot[overshoot.size() / 2];
        qInfo("Delay(%g): median overshoot %.0f us, CPU %.0f%% of the time", asked,
              median * 1e6, 100.0 * cpu / wall);
        QVERIFY2(median < 0.0005, qPrintable(QString::number(median)));
        QVERIFY2(cpu < 0.5 * wall, qPrintable(QString::number(cpu / wall)));
    }

    // Timer runs with the steady clock and Delay's seconds.
    const double before = Timer();
    Delay(0.02);
    const double after = Timer();
    QVERIFY(after - before >= 0.02 && after - before < 1.0);
    Delay(0.0);
    Delay(-1.0);
    QVERIFY(Timer() >= after);
}

QTEST_GUILESS_MAIN(PoolFilesTest)
#include "test_pool_files.moc"
