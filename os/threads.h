// The worker threads of a batch, and what the machine offers them
// (files_posix.cpp, files_win32.cpp).
#pragma once

#include <stdint.h>

// The processors this process may run on (at least 1).
unsigned ProcessorCount();

// Threads for batches. A lock held by one thread at a time (null when no
// memory can be had for it):
struct ThreadLock;
ThreadLock* NewThreadLock();
void FreeThreadLock(ThreadLock* lock);
void LockThreads(ThreadLock* lock);
void UnlockThreads(ThreadLock* lock);
// Runs entry(argument) on up to `more` new threads (fewer when the system
// gives no more) and on the calling thread; returns when all have returned.
void RunOnThreads(unsigned more, void (*entry)(void*), void* argument);

// A condition threads wait on under a ThreadLock until another wakes them
// all (null when no memory can be had for it).
struct ThreadSignal;
ThreadSignal* NewThreadSignal();
void FreeThreadSignal(ThreadSignal* signal);
void WaitThreadSignal(ThreadSignal* signal, ThreadLock* lock);
void WakeThreadSignal(ThreadSignal* signal);

// The machine's memory in bytes, 0 when unknown.
uint64_t PhysicalMemory();
