#include "quantise.h"

#include <string.h>

#include "kmeans.h"
#include "texture.h"

int QuantisePicture(const uint32_t* pixels, size_t count, unsigned colorFormat, unsigned colours, uint8_t* indices,
                    uint32_t palette[256]) {
    memset(palette, 0, 256 * sizeof *palette);
    if (!HasChannelRow(colorFormat) || colours < 1 || colours > 256) return -1;
    const int made = TrainCodebook(pixels, count, 1, colorFormat, colours, palette);
    if (made < 0) return -1;
    for (int e = made; e < 256; e++) palette[e] = 0;
    CodebookSearch search;
    PrepareSearch(palette, made > 0 ? (unsigned)made : 1, 1, &search);
    uint32_t last = 0;
    unsigned lastIndex = 0;
    for (size_t i = 0; i < count; i++) {
        // Alpha as the format holds it (RGB565: none), colour as it is.
        const uint32_t colour = (NearestOnGrid(colorFormat, pixels[i]) & 0xFF000000u) | (pixels[i] & 0x00FFFFFFu);
        if (i == 0 || colour != last) {
            uint32_t d;
            lastIndex = NearestEntry(search, &colour, &d);
            last = colour;
        }
        indices[i] = (uint8_t)lastIndex;
    }
    return made;
}
