// An in-memory host for the converter: the image record, one layer and the
// service table the plug-in cores call, with the picture kept as one block of
// 32-bit pixel values (the host's own values: 0xAARRGGBB, or an index).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "host_api.h"

// nColorMode of a direct-colour picture (every mode but 1, 2 and 3 is one).
enum { kColorModeDirect = 4 };

// The largest picture the host holds: 2^28 pixels, 1 GiB of values (a
// rectangle texture of 16384 x 16384, whose file alone is 512 MiB).
static const uint64_t kMaxHostPixels = (uint64_t)1 << 28;

struct MemoryHost {
    HostImage image;   // first member: the services find the host from it
    HostLayer layer;
    HostServices services;
    uint32_t* pixels;  // width x height values, row by row; null until created
    int32_t width;
    int32_t height;
    bool created;      // a Create... service ran
    bool outOfMemory;  // a Create... service found no memory (or a size it cannot hold)
    uint64_t pixelsSet;
    uint64_t pixelsOutside;   // Set/GetImagePixel outside the picture (ignored, answered with 0)
};

// One layer named "Layer 1" and no picture. The host must not move once
// initialised (the services find it from its image record).
void InitMemoryHost(MemoryHost* host);
void FreeMemoryHost(MemoryHost* host);

// Gives the host a zero-filled picture of this size and colour mode, the
// layer covering it (as the paint program holds a picture to export):
// 0, or -1 when no memory can be had.
int SetHostPicture(MemoryHost* host, int32_t width, int32_t height, int32_t colorMode);

inline uint32_t& HostPixel(MemoryHost* host, int32_t x, int32_t y) {
    return host->pixels[(size_t)y * (size_t)host->width + (size_t)x];
}
