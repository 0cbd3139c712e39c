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
