// VQ texel data made by the converter: DataType 3 and 4 (256-entry codebook,
// one index byte per 2 x 2 block) and 16 and 17 (16 entries, 4-bit indices),
// 4 and 17 with the index maps of every smaller level behind the codebook.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "alloc.h"

// How the codebook is chosen.
enum {
    kVqTrained = 0,      // k-means (see TrainCodebook)
    kVqFirstBlocks = 1,  // the first distinct blocks in raster order: the baseline to beat
};

// The texel data of a square picture of host colour values (row by row,
// `count` = side x side; alpha is not kept) as DataType 3, 4, 16 or 17 in
// ColorFormat 0, 1 or 2, into `texels` (`capacity` bytes, at least what
// PlanTexels says the layout needs). Texture row r holds picture row
// side - 1 - r, as the import reads VQ rows bottom to top. Each block gets
// the nearest entry; the level of side s of a mip chain (made with
// HalvePicture) has its map at index MipChainOffset(s / 2) of the chain, the
// 1 x 1 level at index 0. 0, or -1 (sizes, codes, no memory).
[[nodiscard]]
int EncodeVqTexels(const uint32_t* picture, size_t count, uint32_t side, unsigned dataType, unsigned colorFormat,
                   int codebookKind, uint8_t* texels, size_t capacity, const Allocator& allocator);

// The same layout on the codebook of the texture being replaced, `old`
// (`oldLength` bytes of its texel data, laid out as this one): its
// codebook, codes and smaller levels' maps stay, but every block with a
// pixel flagged in `changed` (side x side, picture rows) gets its nearest
// entry, and the smaller levels' maps are made again when any did.
// `cost` tells what that cost: the blocks of either kind and their summed
// squared differences of red, green and blue from their entries. 0, or -1.
struct VqKeptCost {
    uint64_t changedBlocks, changedError;
    uint64_t keptBlocks, keptError;
};
[[nodiscard]]
int EncodeVqOnCodebook(const uint32_t* picture, size_t count, uint32_t side, unsigned dataType, unsigned colorFormat,
                       const uint8_t* old, size_t oldLength, const uint8_t* changed, uint8_t* texels, size_t capacity,
                       VqKeptCost* cost, const Allocator& allocator);
// The summed squared difference of red, green and blue between the
// picture and the full level of VQ texel data (`length` bytes) as the
// import shows it. 0, or -1.
int VqPictureError(const uint32_t* picture, size_t count, uint32_t side, unsigned dataType, unsigned colorFormat,
                   const uint8_t* texels, size_t length, uint64_t* error);
