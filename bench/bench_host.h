// The benchmarks' host is the shared in-memory host (memory/memory_host.h),
// its storage allocated once, before anything is timed or counted; the codecs
// and the host floor loops run on the same host, so its cost is the same for
// both. Whole imports and exports run on the memory platform
// (memory/memory_platform.h), which counts the heap they use.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "host_api.h"
#include "host_stub.h"

struct BenchHost : StubHost {
    // Room for a picture of up to `capacity` pixels.
    explicit BenchHost(size_t capacity) {
        if (ReserveHostPixels(this, capacity) != 0) abort();
    }
    // A created direct-colour picture of width x height with a layer covering
    // it, pixels cleared, progress begun (as after CreateColorImage and
    // BeginProgress, where the decoders run).
    void Picture(int32_t w, int32_t h) {
        if (SetHostPicture(this, w, h, kColorModeDirect) != 0) abort();
        created = true;
        inProgress = true;
    }
};
