// A replaceable heap for the buffers the codecs allocate, so that callers can
// count allocations or make them fail.
#pragma once

#include <stddef.h>

struct Allocator {
    void* (*Alloc)(void* context, size_t size);   // null when no memory can be had
    void (*Free)(void* context, void* block);
    void* context;
};

// malloc and free.
extern const Allocator kHeapAllocator;

// A block of `size` bytes from `a` (null when none), and back; Release takes null too.
inline void* Acquire(const Allocator& a, size_t size) { return a.Alloc(a.context, size > 0 ? size : 1); }
inline void Release(const Allocator& a, void* block) {
    if (block) a.Free(a.context, block);
}
