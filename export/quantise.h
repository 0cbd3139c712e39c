// Colour pictures turned into palette pictures for DataType 5 (16 colours)
// and 7 (256), with the alpha the palette's ColorFormat holds: 1 bit in
// ARGB1555, 4 bits in ARGB4444, none in RGB565.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "alloc.h"

// Chooses at most `colours` (1 to 256) palette entries for `count` host
// colour values (0xAARRGGBB) with TrainCodebook, on the grid of ColorFormat
// 0, 1 or 2, and gives each pixel the nearest entry in `indices` (`count`
// bytes). A picture of no more distinct colours, as PackColor packs them
// (the colour layouts' texels), than `colours` gets exactly those, in order
// of first appearance. The entries are host colour values that PackColor
// packs without loss. Its work memory comes from `allocator`. Gives the
// number of entries made (entries past it are zero), or -1 (codes, no memory).
[[nodiscard]]
int QuantisePicture(const uint32_t* pixels, size_t count, unsigned colorFormat, unsigned colours, uint8_t* indices,
                    uint32_t palette[256], const Allocator& allocator);
