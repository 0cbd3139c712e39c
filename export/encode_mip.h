// Mip levels made by the converter: a picture halved again and again with a
// box filter in linear light, and the 16-bit twiddled mip chain (DataType 2)
// with every level down to 1 x 1.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "alloc.h"

// Halves a square picture of host colour values (0xAARRGGBB, row by row,
// `count` = side x side values, side even): each value of `half` ((side / 2)^2
// of `halfCount`) is the average of a 2 x 2 square, red, green and blue
// averaged in linear light and back to sRGB, alpha averaged as it is.
// Integer arithmetic only. 0, or -1 when the sizes do not fit.
[[nodiscard]] int HalvePicture(const uint32_t* picture, size_t count, uint32_t side, uint32_t* half, size_t halfCount);

// The texel data of a mip chain of 16-bit texels (DataType 2) of a square picture (side a power
// of two, 1 to 1024) in ColorFormat 0, 1 or 2, packed as the export packs
// texels: the level of side s twiddled where a texture of side s has its
// full level (FullLevelOffset), so the smallest first and the picture itself
// last where the import reads it; unit 0 zero.
// `texels` holds `capacity` bytes, at least what PlanTexels says the layout
// needs. 0, or -1 (sizes, format or no memory for the smaller levels).
[[nodiscard]]
int EncodeMipChain(const uint32_t* picture, size_t count, uint32_t side, unsigned dataType, unsigned colorFormat,
                   uint8_t* texels, size_t capacity, const Allocator& allocator);
