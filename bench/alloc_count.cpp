// Replaces the C allocation functions of the bench binary with counting
// wrappers around glibc's own allocator. Shared libraries (the C++ runtime's
// operator new, Google Benchmark) resolve to these as well.
#include "alloc_count.h"

#include <errno.h>
#include <stddef.h>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

// Single-threaded benchmarks: plain counters.
static uint64_t g_calls = 0;
static uint64_t g_bytes = 0;

static void Tally(size_t bytes) {
    g_calls++;
    g_bytes += bytes;
}

AllocationTally CurrentAllocations() { return {g_calls, g_bytes}; }

extern "C" {
void* malloc(size_t size) {
    Tally(size);
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    Tally(count * size);
    return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
    Tally(size);
    return __libc_realloc(block, size);
}
void* memalign(size_t alignment, size_t size) {
    Tally(size);
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    Tally(size);
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** block, size_t alignment, size_t size) {
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
    Tally(size);
    void* p = __libc_memalign(alignment, size);
    if (!p) return ENOMEM;
    *block = p;
    return 0;
}
}
