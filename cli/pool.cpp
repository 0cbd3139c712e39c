#include "pool.h"

#include "files.h"

namespace {

struct Pool {
    size_t count;
    size_t next;   // the next index to hand out, under the lock
    BatchStep work;
    BatchStep finish;
    void* context;
    ThreadLock* lock;
};

void PoolWorker(void* argument) {
    Pool* pool = static_cast<Pool*>(argument);
    for (;;) {
        if (pool->lock) LockThreads(pool->lock);
        const size_t index = pool->next < pool->count ? pool->next++ : pool->count;
        if (pool->lock) UnlockThreads(pool->lock);
        if (index == pool->count) return;
        pool->work(pool->context, index);
        if (pool->lock) LockThreads(pool->lock);
        pool->finish(pool->context, index);
        if (pool->lock) UnlockThreads(pool->lock);
    }
}

}  // namespace

void RunPool(size_t count, unsigned threads, BatchStep work, BatchStep finish, void* context) {
    const unsigned more = (unsigned)(threads > 1 && count > 1 ? (threads < count ? threads : count) - 1 : 0);
    Pool pool = {count, 0, work, finish, context, more > 0 ? NewThreadLock() : nullptr};
    if (pool.lock) RunOnThreads(more, PoolWorker, &pool);
    else PoolWorker(&pool);
    FreeThreadLock(pool.lock);
}
