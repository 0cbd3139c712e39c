#include "alloc.h"

#include <stdlib.h>

static void* HeapAlloc(void*, size_t size) { return malloc(size); }
static void HeapFree(void*, void* block) { free(block); }

const Allocator kHeapAllocator = {HeapAlloc, HeapFree, nullptr};
