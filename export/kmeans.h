// Codebooks for the converter's lossy layouts: vectors of host colour values
// (0xAARRGGBB; one value for a palette colour, four for a 2 x 2 VQ block)
// clustered by k-means with a deterministic start, on the colours a 16-bit
// ColorFormat can hold. Integer arithmetic in a fixed order throughout, so the
// same input always gives the same codebook.
#pragma once

#include "alloc.h"

#include <stddef.h>
#include <stdint.h>

enum { kMaxVectorTexels = 4, kMaxCodebookEntries = 256 };

// The colour nearest to `colour` that ColorFormat 0, 1 or 2 holds, as the
// import unpacks it (red, green and blue with their low bits clear; alpha 0 or
// 255 in ARGB1555, a multiple of 17 in ARGB4444, 255 in RGB565). PackColor
// of the result loses nothing.
uint32_t NearestOnGrid(unsigned colorFormat, uint32_t colour);

// Search of a codebook of `entries` vectors of `texels` values each, in order
// of their byte sums: a vector's distance to an entry is at least the square of
// the difference of the sums over the number of bytes, so most entries are
// never compared.
struct CodebookSearch {
    const uint32_t* book;
    unsigned entries;
    unsigned texels;
    uint16_t order[kMaxCodebookEntries];   // entries by byte sum, then by number
    uint32_t sums[kMaxCodebookEntries];    // byte sum of order[i]
};
void PrepareSearch(const uint32_t* book, unsigned entries, unsigned texels, CodebookSearch* search);
// The entry with the least sum of squared byte differences (the lowest
// number among equals), and that distance.
unsigned NearestEntry(const CodebookSearch& search, const uint32_t* vector, uint32_t* distance);

// Trains `entries` code vectors (1 to 256) for `count` vectors of `texels`
// values (1 to 4) in `vectors`, all on the grid of `colorFormat` (the vectors
// are moved onto it first). When they hold no more distinct vectors than
// entries, those are the codebook, in order of their values. Otherwise two
// starts, and the one of less squared error is kept: (A) from the weighted
// mean, cells split towards their worst vector until there are `entries`, with
// Lloyd iterations after each split (on a sample of at most 8192 distinct
// vectors, then on all); (B) the most frequent vectors, when they stand for at
// least a quarter of the input, then Lloyd iterations. An empty cell takes the
// worst vector of the cell of most error. Last, Lloyd iterations on the grid.
// Entries left over repeat entry 0. Gives the number of entries made, or -1
// when no memory can be had.
[[nodiscard]]
int TrainCodebook(const uint32_t* vectors, size_t count, unsigned texels, unsigned colorFormat, unsigned entries,
                  uint32_t* codebook, const Allocator& allocator);
