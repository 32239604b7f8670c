// The event loop on Qt: QEventLoop for RunUserInterface, QTimer for timers,
// a queued call to wake the UI thread, and the machine's monotonic clock.
#include "event_loop.h"
#include "ui_queue.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <map>
#include <time.h>
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

// Sleeps to an absolute deadline, so an interrupted sleep resumes without
// drift; the kernel's high-resolution timers keep even 0.1 ms pauses within
// a few tens of microseconds, without spinning.
void qtSleep(double seconds)
{
    if (!(seconds > 0.0))
        return;
    if (seconds > 1.0e9)
        seconds = 1.0e9;
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    const double whole = static_cast<double>(static_cast<long long>(seconds));
    deadline.tv_sec += static_cast<time_t>(whole);
    deadline.tv_nsec += static_cast<long>((seconds - whole) * 1e9);
    if (deadline.tv_nsec >= 1'000'000'000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1'000'000'000L;
    }
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
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

void nothing() {}
void nothingWaiting(bool) {}

} // namespace

const EventLoopBackend kQtEventLoop = {
    qtOnUiThread, qtRun,        qtQuit,      qtWake,  qtNow,         qtSleep,
    qtStartTimer, qtStopTimer,  nothing,     nothing, nothingWaiting,
};

} // namespace platform
