#include "pool.h"

#include "files.h"
#include "threads.h"

namespace {

struct Pool {
    size_t count;
    size_t next;   // the next index to hand out, under the lock
    BatchStep work;
    BatchStep finish;
    void* context;
    ThreadLock* lock;
    PoolGuard guard;
    ThreadSignal* room;   // woken when memory is given back or a job is admitted
    uint64_t used;        // bytes of the jobs running, under the lock
    uint64_t tickets;     // jobs that asked for memory, and of those admitted
    uint64_t admitted;
};

bool Stopped(const Pool* pool) { return pool->guard.stopped && pool->guard.stopped(); }

// Waits until the job's share fits (or nothing else runs), in the order the
// jobs asked. Under the lock.
void Admit(Pool* pool, uint64_t need) {
    const uint64_t ticket = pool->tickets++;
    while (pool->admitted != ticket ||
           (pool->used > 0 && (pool->used >= pool->guard.budget || need > pool->guard.budget - pool->used)))
        WaitThreadSignal(pool->room, pool->lock);
    pool->admitted++;
    pool->used += need;
    WakeThreadSignal(pool->room);
}

void PoolWorker(void* argument) {
    Pool* pool = static_cast<Pool*>(argument);
    const bool budgeted = pool->room && pool->guard.budget > 0 && pool->guard.need;
    for (;;) {
        if (pool->lock) LockThreads(pool->lock);
        const size_t index = pool->next < pool->count && !Stopped(pool) ? pool->next++ : pool->count;
        if (pool->lock) UnlockThreads(pool->lock);
        if (index == pool->count) return;
        uint64_t need = 0;
        if (budgeted) {
            need = pool->guard.need(pool->context, index);
            LockThreads(pool->lock);
            Admit(pool, need);
            UnlockThreads(pool->lock);
        }
        const bool run = !Stopped(pool);
        if (run) pool->work(pool->context, index);
        if (pool->lock) LockThreads(pool->lock);
        if (budgeted) {
            pool->used -= need;
            WakeThreadSignal(pool->room);
        }
        if (run) pool->finish(pool->context, index);
        if (pool->lock) UnlockThreads(pool->lock);
    }
}

}  // namespace

void RunPool(size_t count, unsigned threads, BatchStep work, BatchStep finish, void* context,
             const PoolGuard* guard) {
    const unsigned more = (unsigned)(threads > 1 && count > 1 ? (threads < count ? threads : count) - 1 : 0);
    Pool pool = {count, 0, work, finish, context, more > 0 ? NewThreadLock() : nullptr, {}, nullptr, 0, 0, 0};
    if (guard) pool.guard = *guard;
    // One job at a time needs no budget: it runs alone anyway.
    if (pool.lock && pool.guard.budget > 0) pool.room = NewThreadSignal();
    if (pool.lock) RunOnThreads(more, PoolWorker, &pool);
    else PoolWorker(&pool);
    FreeThreadSignal(pool.room);
    FreeThreadLock(pool.lock);
}

uint64_t BatchMemoryBudget() {
    uint64_t budget = (uint64_t)1 << 30;
    if (sizeof(void*) == 4) budget = (uint64_t)512 << 20;
    const uint64_t quarter = PhysicalMemory() / 4;
    if (quarter > 0 && quarter < budget) budget = quarter;
    const uint64_t least = (uint64_t)64 << 20;
    return budget < least ? least : budget;
}
