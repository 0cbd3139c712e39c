#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "host_api.h"

// A PNG file as the reference host takes it.
struct HostPng {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> argb;      // every pixel as 0xAARRGGBB
    bool indexed = false;            // a palette PNG
    bool hasTrns = false;            // a palette PNG with a tRNS chunk
    std::vector<uint32_t> palette;   // its palette, 0xAARRGGBB (alpha from tRNS)
    std::vector<uint8_t> index;      // each pixel's palette index, as stored (palette PNGs)
    // The entry of alpha 0 when it is the only one and every other entry is
    // opaque (palette PNGs); -1 otherwise.
    int transparentEntry = -1;
};

bool LoadPng(const char* path, HostPng* image);
// Writes an RGBA PNG from 0xAARRGGBB pixels.
bool SavePng(const char* path, int width, int height, const std::vector<uint32_t>& argb);
// Writes a palette PNG: PLTE of the 1 to 256 entries of `palette`
// (0xAARRGGBB), tRNS up to the last entry that is not opaque, and each
// pixel's index as given (every index must lie inside the palette).
bool SaveIndexedPng(const char* path, int width, int height, const std::vector<uint32_t>& palette,
                    const std::vector<uint8_t>& index);

// The host image that the reference host hands the export for a PNG (the
// native reference export builds the same): the colour mode `mode` ("two",
// "grey", "indexed" or "direct"; empty: indexed for a palette PNG, direct
// otherwise), a source image of (left + width) x (top + height) pixels with
// the PNG's at (left, top) as that mode holds them (a palette PNG's own
// indices; of a colour PNG the red channel in grey mode, the low byte in
// indexed mode), the palette with each entry's alpha and its entry count, the
// PNG's transparent entry (nTransparentIndex is left as it was when the PNG
// marks none), bAlpha set for a palette PNG with tRNS (as the paint program
// keeps it for a picture whose palette has alpha) and the layer's rectangle.
void MakeHostImage(const HostPng& png, const std::string& mode, int left, int top, HostImage* image,
                   HostLayer* layer, std::vector<uint32_t>* source, int* sourceWidth, int* sourceHeight);
