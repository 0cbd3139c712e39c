// The in-memory host: the image record, one layer and the service table the
// plug-in cores call, with the picture kept as one block of 32-bit pixel
// values (the host's own values: 0xAARRGGBB, or an index). The converter, the
// unit tests, the benchmarks and the fuzz targets all run the cores on it; it
// also tells what the plug-in did (calls, their order, progress) so that a
// test can judge it afterwards.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "host_api.h"

// The largest picture the host holds by default: 2^28 pixels, 1 GiB of
// values (a rectangle texture of 16384 x 16384, whose file alone is 512 MiB).
static const uint64_t kMaxHostPixels = (uint64_t)1 << 28;

// Positions and rows kept of the first calls.
enum { kHostCallsKept = 64 };

struct MemoryHost {
    HostImage image;   // first member: the services find the host from it
    HostLayer layer;
    HostServices services;
    uint32_t* pixels;  // width x height values, row by row; null until created
    int32_t width;
    int32_t height;
    size_t capacity;     // values the block holds (ReserveHostPixels)
    uint64_t maxPixels;  // a Create... service for more runs out of memory
    bool created;        // a Create... service ran
    bool outOfMemory;    // a Create... service found no memory (or a size it cannot hold)
    bool trackRepaints;  // set before the import: count pixels set twice (a flag a pixel)
    int createCalls;
    uint64_t setPixelCalls;
    uint64_t getPixelCalls;
    uint64_t pixelsOutside;        // Set/GetImagePixel outside the picture (ignored, answered with 0)
    uint64_t pixelsBeforeCreate;   // SetImagePixel before any picture was created
    uint64_t setsRefused;          // SetImagePixel outside the picture or before it
    uint64_t pixelsRepainted;      // with trackRepaints: SetImagePixel on a pixel already set
    // Calls a plug-in should not make: a picture created during progress,
    // a pixel set outside BeginProgress ... EndProgress, progress begun twice
    // or ended unbegun, an argument other than the fixed ones (0, and 1 for
    // CreateColorImage's first).
    uint64_t oddCalls;
    int32_t setOrder[kHostCallsKept][2];   // (x, y) of the first SetImagePixel calls
    int32_t getOrder[kHostCallsKept][2];   // (x, y) of the first GetImagePixel calls
    // Progress.
    int progressBegins;
    int progressEnds;
    int32_t progressRows;     // as the last BeginProgress gave it
    bool inProgress;
    uint64_t progressSteps;
    int32_t lastStep;         // -1 before the first
    uint64_t stepsOutOfOrder; // outside progress, outside [0, rows), or not after the last
    int32_t steps[kHostCallsKept];   // the first rows stepped
    uint8_t* painted;         // with trackRepaints: one flag a pixel
};

// One layer named "Layer 1" and no picture. The host must not move once
// initialised (the services find it from its image record), and progress
// calls, which carry no image, go to the host initialised last on the
// calling thread.
void InitMemoryHost(MemoryHost* host);
void FreeMemoryHost(MemoryHost* host);

// A block for pictures of up to `count` pixels, taken now, so that creating
// one later allocates nothing: 0, or -1.
[[nodiscard]] int ReserveHostPixels(MemoryHost* host, size_t count);

// Gives the host a zero-filled picture of this size and colour mode, the
// layer covering it (as the paint program holds a picture to export):
// 0, or -1 when no memory can be had.
[[nodiscard]] int SetHostPicture(MemoryHost* host, int32_t width, int32_t height, int32_t colorMode);

// The layer's name, cut to fit szName.
void SetHostLayerName(MemoryHost* host, const char* name);

// SetImagePixel calls that stored a value (inside the picture).
inline uint64_t HostPixelsSet(const MemoryHost* host) { return host->setPixelCalls - host->setsRefused; }

inline uint32_t& HostPixel(MemoryHost* host, int32_t x, int32_t y) {
    return host->pixels[(size_t)y * (size_t)host->width + (size_t)x];
}
inline uint32_t HostPixel(const MemoryHost* host, int32_t x, int32_t y) {
    return host->pixels[(size_t)y * (size_t)host->width + (size_t)x];
}
