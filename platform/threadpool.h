// A pool of one worker thread that runs scheduled functions one at a time,
// in the order they were scheduled. Every function here may be called from
// any thread except that a pool cannot discard itself.
#pragma once

enum PoolError {
    kPoolArgumentError = -1,  // unknown handle, null function or output: the caller's bug
    kPoolSystemError   = -2,  // the thread could not be started, or the function not queued
    kPoolSelfDiscard   = -3,  // CmtDiscardThreadPool called on the pool's own thread
};

using ThreadFunctionPtr = int (*)(void *functionData);

// Creates a pool and starts its thread; *poolHandle receives its handle, the
// smallest positive number not in use. maxThreads is accepted and ignored
// (always one thread). Returns 0 or a PoolError. The caller owns the pool
// and ends it with CmtDiscardThreadPool.
int CmtNewThreadPool(int maxThreads, int *poolHandle);
// Queues fn(functionData) on the pool's thread; fn's result is ignored.
// *functionId (when not null) receives a number > 0 unique within the pool.
// Returns 0 or a PoolError.
int CmtScheduleThreadPoolFunction(int poolHandle, ThreadFunctionPtr fn,
                                  void *functionData, int *functionId);
// Accepted for any attribute and value; has no effect. Returns 0, or
// kPoolArgumentError for an unknown handle.
int CmtSetThreadPoolAttribute(int poolHandle, int attribute, int value);
// Waits until every scheduled function (running or still queued) has
// returned, ends the thread and frees the pool, then, when called on the UI
// thread, delivers the panel calls the functions queued, so that nothing of
// theirs reaches the panel afterwards. Returns 0, or a PoolError without
// effect (unknown handle; called by the pool's own function).
int CmtDiscardThreadPool(int poolHandle);

// Test hook: the next CmtNewThreadPool (kPoolFailCreate) or the next
// CmtScheduleThreadPoolFunction (kPoolFailSchedule) fails with
// kPoolSystemError and changes nothing, as when the system has no thread or
// memory left. Each injection serves one call.
enum PoolFault { kPoolFailCreate, kPoolFailSchedule };
void PoolInjectFault(PoolFault fault);
