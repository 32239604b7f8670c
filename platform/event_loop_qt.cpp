// The event loop on Qt: QEventLoop for RunUserInterface, QTimer for timers,
// QSocketNotifier for handle watches, a queued call to wake the UI thread,
// and the machine's monotonic clock.
#include "event_loop.h"
#include "event_loop_system.h"
#include "ui_queue.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <map>
#include <vector>

namespace platform {

namespace {

std::vector<QEventLoop *> runningLoops;  // RunUserInterface calls, innermost last (UI thread)
bool quitPending = false;                // quit came with no loop running
int pendingQuitCode = 0;

bool qtOnUiThread()
{
    QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

int qtRun()
{
    if (!qtOnUiThread())
        return -1;
    if (quitPending) {
        quitPending = false;
        return pendingQuitCode;
    }
    QEventLoop loop;
    runningLoops.push_back(&loop);
    const int code = loop.exec();
    runningLoops.pop_back();
    return code;
}

void quitNow(int returnCode)
{
    if (runningLoops.empty()) {
        quitPending = true;  // the next run returns at once
        pendingQuitCode = returnCode;
    } else {
        runningLoops.back()->exit(returnCode);
    }
}

void qtQuit(int returnCode)
{
    if (qtOnUiThread())
        quitNow(returnCode);
    else
        postToUiThread([returnCode] { quitNow(returnCode); });
}

void qtWake()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [] { DeliverQueuedUiCalls(); }, Qt::QueuedConnection);
}

double qtNow()
{
    using Clock = std::chrono::steady_clock;
    static const Clock::time_point start = Clock::now();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void qtSleep(double seconds)
{
    loop_system::sleep(seconds);
}

std::map<int, QTimer *> timers;  // live timers by id (UI thread)
int nextTimerId = 1;

int qtStartTimer(double seconds, bool repeat, TimerFunction fn, void *data)
{
    if (!fn || !qtOnUiThread())
        return 0;
    const int id = nextTimerId;
    nextTimerId = nextTimerId == 0x7fffffff ? 1 : nextTimerId + 1;
    auto *timer = new QTimer;
    timer->setTimerType(Qt::PreciseTimer);  // a 1 ms pause must stay near 1 ms
    timer->setSingleShot(!repeat);
    const double ms = seconds * 1000.0;
    timer->setInterval(ms <= 0.0 ? 0 : ms >= 2.0e9 ? 2000000000 : static_cast<int>(ms + 0.5));
    QObject::connect(timer, &QTimer::timeout, timer, [id, repeat, fn, data] {
        if (!repeat) {  // over: forget it before the call, which may start another
            const auto it = timers.find(id);
            if (it == timers.end())
                return;
            it->second->deleteLater();
            timers.erase(it);
        }
        fn(data);
    });
    timers[id] = timer;
    timer->start();
    return id;
}

void qtStopTimer(int id)
{
    const auto it = timers.find(id);
    if (it == timers.end())
        return;
    it->second->stop();
    it->second->deleteLater();  // it may be the very timer whose call is running
    timers.erase(it);
}

std::map<int, QSocketNotifier *> watches;  // live watches by id (UI thread)
int nextWatchId = 1;

int qtWatchReadable(int handle, WatchFunction fn, void *data)
{
    if (!fn || handle < 0 || !qtOnUiThread())
        return 0;
    const int id = nextWatchId;
    nextWatchId = nextWatchId == 0x7fffffff ? 1 : nextWatchId + 1;
    auto *notifier = new QSocketNotifier(handle, QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [id, fn, data] { fn(id, data); });
    watches[id] = notifier;
    return id;
}

void qtEnableWatch(int id, bool on)
{
    const auto it = watches.find(id);
    if (it != watches.end())
        it->second->setEnabled(on);
}

void forgetWatch(int id)
{
    const auto it = watches.find(id);
    if (it == watches.end())
        return;
    it->second->setEnabled(false);
    it->second->deleteLater();  // it may be the very notifier whose call is running
    watches.erase(it);
}

void qtStopWatch(int id)
{
    if (qtOnUiThread())
        forgetWatch(id);
    else
        postToUiThread([id] { forgetWatch(id); });
}

void nothing() {}
void nothingWaiting(bool) {}

} // namespace

const EventLoopBackend kQtEventLoop = {
    qtOnUiThread,    qtRun,         qtQuit,      qtWake,  qtNow,         qtSleep,
    qtStartTimer,    qtStopTimer,   nothing,     nothing, nothingWaiting,
    qtWatchReadable, qtEnableWatch, qtStopWatch,
};

} // namespace platform
