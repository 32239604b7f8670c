// Hand-over queue from worker threads to the UI thread.
#include "ui_queue.h"
#include "panel.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <deque>
#include <mutex>

namespace {

std::mutex queueMutex;
std::deque<std::function<void()>> queuedCalls;  // guarded by queueMutex

// Takes the calls one by one so that a call which itself queues more (or
// re-enters the event loop) never finds the queue locked.
bool runOneQueuedCall()
{
    std::function<void()> call;
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        if (queuedCalls.empty())
            return false;
        call = std::move(queuedCalls.front());
        queuedCalls.pop_front();
    }
    call();
    return true;
}

} // namespace

bool OnUiThread()
{
    QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void DeliverQueuedUiCalls()
{
    while (runOneQueuedCall()) {
    }
}

namespace platform {

void postToUiThread(std::function<void()> call)
{
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        queuedCalls.push_back(std::move(call));
    }
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [] { DeliverQueuedUiCalls(); }, Qt::QueuedConnection);
}

bool runOrPostToUiThread(const std::function<void()> &call)
{
    if (OnUiThread()) {
        DeliverQueuedUiCalls();  // keep the order of calls queued earlier
        call();
        return true;
    }
    postToUiThread(call);
    return false;
}

} // namespace platform
