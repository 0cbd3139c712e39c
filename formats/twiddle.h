// The twiddled walk shared by every decoder and encoder of twiddled data:
// texels of the twiddled layouts and the index maps of the VQ layouts.
#pragma once

#include <stdint.h>

#include "texture.h"

// Walks a twiddled grid of w x h elements (sides powers of two, the smaller
// side m at most 1024) in row order. Element (x, y) has the twiddled index
//   T = 2 * table[x & (m - 1)] + table[y & (m - 1)] + (x / m + y / m) * m * m,
// a strip of m x m squares one after another. kPerUnit elements share one
// storage unit, whose number is T / kPerUnit:
//   1: every element its own unit; visits every (x, y), rows one by one;
//   2: a unit holds (x, y) and (x, y + 1), y even; visits every x of each pair
//      of rows (h at least 2);
//   4: a unit holds the 2x2 block at even (x, y); visits every second x of each
//      pair of rows (both sides at least 2).
// visit(unit, x0 + x, y0 + y) names the unit and its first element, for a
// grid placed at (x0, y0) of a larger one (32-bit sums that wrap); rowDone(y)
// follows each row, or pair of rows, with its first row. Every unit number is
// below w * h / kPerUnit.
template <unsigned kPerUnit, class Visit, class RowDone>
inline void WalkTwiddledAt(const uint32_t table[kTwiddleTableSize], uint32_t w, uint32_t h, uint32_t x0, uint32_t y0,
                           Visit visit, RowDone rowDone) {
    static_assert(kPerUnit == 1 || kPerUnit == 2 || kPerUnit == 4, "1, 2 or 4 elements per unit");
    const uint32_t m = w < h ? w : h;
    const uint32_t k = m - 1;
    const uint32_t yStep = kPerUnit == 1 ? 1 : 2;
    const uint32_t xStep = kPerUnit == 4 ? 2 : 1;
    const uint32_t square = m * m;
    for (uint32_t y = 0; y < h; y += yStep) {
        // The row crosses the strip's squares one after the other.
        uint32_t base = (y / m) * square + table[y & k];
        for (uint32_t left = 0; left < w; left += m, base += square) {
            const uint32_t* column = table;
            for (uint32_t x = x0 + left, end = x + m; x != end; x += xStep, column += xStep)
                visit((base + 2 * *column) / kPerUnit, x, y0 + y);
        }
        rowDone(y);
    }
}

// The walk of a grid at (0, 0).
template <unsigned kPerUnit, class Visit, class RowDone>
inline void WalkTwiddled(const uint32_t table[kTwiddleTableSize], uint32_t w, uint32_t h, Visit visit,
                         RowDone rowDone) {
    WalkTwiddledAt<kPerUnit>(table, w, h, 0, 0, visit, rowDone);
}
