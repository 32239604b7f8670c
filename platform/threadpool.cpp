// The thread pool: each pool is served by one thread running its queued
// functions in order. The image streaming worker runs here.
//
// Threads outlive their pools: once a discarded pool's last function has
// returned, its thread waits for the next pool instead of ending, so an
// update does not pay for a thread's start and end (about 60 us, 350 us
// under AddressSanitizer). There are as many threads as pools were ever
// alive at once (one for the loader); the process's exit ends them.
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
#include <vector>


namespace {

struct Pool {
    std::mutex mutex;                     // guards the fields below it
    std::condition_variable wake;         // a function was queued or the pool is closing
    std::deque<std::pair<ThreadFunctionPtr, void *>> queue;  // not yet started, in order
    bool closing = false;                 // set by discard: finish the queue, then end
    int nextFunctionId = 1;
    // Set at creation, read-only after.
    std::thread::id thread;               // the thread that serves it
};

// Runs the pool's functions until it is closing and nothing is left.
void servePool(Pool &pool)
{
    for (;;) {
        std::pair<ThreadFunctionPtr, void *> next;
        {
            std::unique_lock<std::mutex> lock(pool.mutex);
            pool.wake.wait(lock, [&pool] { return pool.closing || !pool.queue.empty(); });
            if (pool.queue.empty())
                return;  // closing and nothing left
            next = pool.queue.front();
            pool.queue.pop_front();
        }
        platform::eventLoop().workerStarts();
        next.first(next.second);
        platform::eventLoop().workerEnds();
    }
}

// A thread that serves one pool at a time and waits for the next between.
struct Runner {
    std::thread thread;
    std::condition_variable wake;   // a pool was given, or the process ends
    std::shared_ptr<Pool> pool;     // the pool it serves, null while idle
    bool poolDone = false;          // the pool's last function has returned
};

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

// Live pools by handle, and the threads. A pool leaves the table before it
// is waited for, so a handle being discarded is already unknown to every
// other call.
struct PoolTable {
    std::mutex mutex;  // guards everything below, and the runners' pool and poolDone
    std::condition_variable poolDone;  // a runner finished its pool
    std::map<int, std::shared_ptr<Pool>> pools;
    std::vector<std::unique_ptr<Runner>> runners;  // idle or serving
    bool exiting = false;

    // Pools still alive at exit are finished, and every thread ended,
    // rather than left running while the process tears down what their
    // functions may be using.
    ~PoolTable()
    {
        std::vector<std::shared_ptr<Pool>> live;
        {
            std::lock_guard<std::mutex> lock(mutex);
            exiting = true;
            for (auto &entry : pools)
                live.push_back(entry.second);
            for (auto &runner : runners)
                runner->wake.notify_one();
        }
        for (auto &pool : live) {
            {
                std::lock_guard<std::mutex> lock(pool->mutex);
                pool->closing = true;
            }
            pool->wake.notify_one();
        }
        for (auto &runner : runners) {
            if (runner->thread.get_id() == std::this_thread::get_id())
                runner->thread.detach();  // exit called by a pool's own function
            else if (runner->thread.joinable())
                runner->thread.join();
        }
    }
};

PoolTable &poolTable()
{
    static PoolTable table;
    return table;
}

void runnerLoop(Runner *runner)
{
    // The worker pauses 0.1 ms after every 512-byte block: they must not
    // stretch to the system's default slack.
    platform::loop_system::preciseTimersForThisThread();
    PoolTable &table = poolTable();
    std::unique_lock<std::mutex> lock(table.mutex);
    for (;;) {
        runner->wake.wait(lock, [&] { return (runner->pool && !runner->poolDone) || table.exiting; });
        if (!runner->pool || runner->poolDone)
            return;  // the process ends
        const std::shared_ptr<Pool> pool = runner->pool;
        lock.unlock();
        servePool(*pool);
        lock.lock();
        // Free again at once: the next pool, made as soon as this one's
        // discard returns, finds this thread.
        runner->poolDone = true;
        table.poolDone.notify_all();
        if (table.exiting)
            return;
    }
}

std::shared_ptr<Pool> findPool(int handle)
{
    PoolTable &table = poolTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto it = table.pools.find(handle);
    return it == table.pools.end() ? nullptr : it->second;
}

// The runner serving `pool`. Caller holds the table's lock.
Runner *runnerOf(PoolTable &table, const Pool *pool)
{
    for (auto &runner : table.runners)
        if (runner->pool.get() == pool)
            return runner.get();
    return nullptr;
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
    Runner *runner = nullptr;
    for (auto &idle : table.runners)
        if (!idle->pool) {
            runner = idle.get();
            break;
        }
    if (!runner) {
        auto made = std::make_unique<Runner>();
        try {
            made->thread = std::thread(runnerLoop, made.get());
        } catch (const std::system_error &) {
            return kPoolSystemError;
        }
        runner = made.get();
        table.runners.push_back(std::move(made));
    }
    int handle = 1;
    while (table.pools.count(handle))
        ++handle;
    pool->thread = runner->thread.get_id();
    runner->pool = pool;
    runner->poolDone = false;
    runner->wake.notify_one();
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
    PoolTable &table = poolTable();
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        const auto it = table.pools.find(poolHandle);
        if (it == table.pools.end())
            return kPoolArgumentError;
        if (it->second->thread == std::this_thread::get_id())
            return kPoolSelfDiscard;  // waiting for itself would never return
        pool = std::move(it->second);
        table.pools.erase(it);
    }
    {
        std::lock_guard<std::mutex> lock(pool->mutex);
        pool->closing = true;
    }
    pool->wake.notify_one();
    platform::eventLoop().uiWaitsForWorker(true);
    {
        std::unique_lock<std::mutex> lock(table.mutex);
        Runner *runner = runnerOf(table, pool.get());
        table.poolDone.wait(lock, [runner] { return !runner || runner->poolDone; });
        if (runner)
            runner->pool.reset();  // idle: the next pool may take it
    }
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
