// The thread pool: one std::thread per pool running queued functions in
// order. The image streaming worker runs here.
#include "threadpool.h"
#include "event_loop.h"
#include "event_loop_system.h"
#include "runtime.h"
#include "ui_queue.h"

#include <atomic>
#include <climits>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>


namespace {

struct Pool {
    std::mutex mutex;                     // guards the fields below it
    std::condition_variable wake;         // a function was queued or the pool is closing
    std::deque<std::pair<ThreadFunctionPtr, void *>> queue;  // not yet started, in order
    bool closing = false;                 // set by discard: finish the queue, then end
    int nextFunctionId = 1;
    std::thread thread;                   // started at creation, joined by discard
};

void runPool(Pool *pool)
{
    // The worker pauses 0.1 ms after every 512-byte block: they must not
    // stretch to the system's default slack.
    platform::loop_system::preciseTimersForThisThread();
    for (;;) {
        std::pair<ThreadFunctionPtr, void *> next;
        {
            std::unique_lock<std::mutex> lock(pool->mutex);
            pool->wake.wait(lock, [pool] { return pool->closing || !pool->queue.empty(); });
            if (pool->queue.empty())
                return;  // closing and nothing left
            next = pool->queue.front();
            pool->queue.pop_front();
        }
        platform::eventLoop().workerStarts();
        next.first(next.second);
        platform::eventLoop().workerEnds();
    }
}

// Injected failures still to serve (test hook), one per call.
std::atomic<int> failCreates{0};
std::atomic<int> failSchedules{0};

bool takeFault(std::atomic<int> &pending)
{
    int n = pending.load();
    while (n > 0)
        if (pending.compare_exchange_weak(n, n - 1))
            return true;
    return false;
}

// Live pools by handle. A pool leaves the table before it is joined, so a
// handle being discarded is already unknown to every other call.
struct PoolTable {
    std::mutex mutex;
    std::map<int, std::shared_ptr<Pool>> pools;  // guarded by mutex

    // A pool still alive at exit is finished rather than left running while
    // the process tears down what its function may be using.
    ~PoolTable()
    {
        for (auto &entry : pools) {
            {
                std::lock_guard<std::mutex> lock(entry.second->mutex);
                entry.second->closing = true;
            }
            entry.second->wake.notify_one();
            if (entry.second->thread.joinable())
                entry.second->thread.join();
        }
    }
};

PoolTable &poolTable()
{
    static PoolTable table;
    return table;
}

std::shared_ptr<Pool> findPool(int handle)
{
    PoolTable &table = poolTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto it = table.pools.find(handle);
    return it == table.pools.end() ? nullptr : it->second;
}

} // namespace

int CmtNewThreadPool(int /*maxThreads*/, int *poolHandle)
{
    if (!poolHandle)
        return kPoolArgumentError;
    if (takeFault(failCreates))
        return kPoolSystemError;
    auto pool = std::make_shared<Pool>();
    PoolTable &table = poolTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    int handle = 1;
    while (table.pools.count(handle))
        ++handle;
    try {
        pool->thread = std::thread(runPool, pool.get());
    } catch (const std::system_error &) {
        return kPoolSystemError;
    }
    table.pools.emplace(handle, std::move(pool));
    *poolHandle = handle;
    return 0;
}

int CmtScheduleThreadPoolFunction(int poolHandle, ThreadFunctionPtr fn, void *functionData,
                                  int *functionId)
{
    if (!fn)
        return kPoolArgumentError;
    const std::shared_ptr<Pool> pool = findPool(poolHandle);
    if (!pool)
        return kPoolArgumentError;
    if (takeFault(failSchedules))
        return kPoolSystemError;
    {
        std::lock_guard<std::mutex> lock(pool->mutex);
        pool->queue.emplace_back(fn, functionData);
        if (functionId)
            *functionId = pool->nextFunctionId;
        pool->nextFunctionId = pool->nextFunctionId == INT_MAX ? 1 : pool->nextFunctionId + 1;
    }
    pool->wake.notify_one();
    return 0;
}

int CmtSetThreadPoolAttribute(int poolHandle, int /*attribute*/, int /*value*/)
{
    return findPool(poolHandle) ? 0 : kPoolArgumentError;
}

int CmtDiscardThreadPool(int poolHandle)
{
    std::shared_ptr<Pool> pool;
    {
        PoolTable &table = poolTable();
        std::lock_guard<std::mutex> lock(table.mutex);
        const auto it = table.pools.find(poolHandle);
        if (it == table.pools.end())
            return kPoolArgumentError;
        if (it->second->thread.get_id() == std::this_thread::get_id())
            return kPoolSelfDiscard;  // joining itself would never return
        pool = std::move(it->second);
        table.pools.erase(it);
    }
    {
        std::lock_guard<std::mutex> lock(pool->mutex);
        pool->closing = true;
    }
    pool->wake.notify_one();
    platform::eventLoop().uiWaitsForWorker(true);
    pool->thread.join();
    platform::eventLoop().uiWaitsForWorker(false);
    // What the functions posted to the panel lands now, before the caller
    // resets the panel for the next update.
    if (OnUiThread())
        DeliverQueuedUiCalls();
    return 0;
}

void PoolInjectFault(PoolFault fault)
{
    ++(fault == kPoolFailCreate ? failCreates : failSchedules);
}
