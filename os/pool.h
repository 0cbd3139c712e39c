// The job pool of a batch: every job handed to a worker once, in input
// order, on up to `threads` threads (the calling one among them), and after
// each, a finishing step under the pool's lock, so finishing steps never
// overlap. One thread (or no lock to be had): all in the calling thread, in
// order.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef void (*BatchStep)(void* context, size_t index);

// What holds a batch back. `stopped` (may be null): once true, no job more
// is started (those running finish); the jobs not started get neither step.
// `budget`: bytes the jobs running at once may take together, each job's
// share told by `need` before it starts (read from its file's header); a
// job waits, in the order they came, until the budget has room for it, and
// one that needs more than the whole budget runs alone. 0: no budget.
struct PoolGuard {
    bool (*stopped)();
    uint64_t budget;
    uint64_t (*need)(void* context, size_t index);
};

void RunPool(size_t count, unsigned threads, BatchStep work, BatchStep finish, void* context,
             const PoolGuard* guard = nullptr);

// The batch's memory budget: 1 GiB, but no more than a quarter of the
// machine's memory (and 512 MiB in a 32-bit process), and no less than 64 MiB.
uint64_t BatchMemoryBudget();
