// Every heap allocation the bench process makes (malloc, calloc, realloc, the
// aligned forms and operator new, which calls malloc) is counted, so that a
// measured call can be shown to allocate nothing beyond its platform blocks.
#pragma once

#include <stdint.h>

struct AllocationTally {
    uint64_t calls;
    uint64_t bytes;
};
AllocationTally CurrentAllocations();
