#include "quantise.h"

#include <stdlib.h>
#include <string.h>

#include "kmeans.h"
#include "texture.h"

// The picture's own colours as the format packs them, when it has no more
// than `colours`: each entry a packed colour as the import shows it, in order
// of first appearance, each pixel its own. The number made; 0 when there are
// more; -1 when no memory can be had.
static int ExactPalette(const uint32_t* pixels, size_t count, unsigned colorFormat, unsigned colours,
                        uint8_t* indices, uint32_t palette[256], const Allocator& allocator) {
    const ChannelEncode& row = GetChannelRow(colorFormat)->encode;
    enum { kKeys = 1 << 16, kNone = 0xFFFF };
    uint16_t* entryOf = (uint16_t*)Acquire(allocator, kKeys * sizeof(uint16_t));
    if (!entryOf) return -1;
    memset(entryOf, 0xFF, kKeys * sizeof(uint16_t));
    unsigned made = 0;
    for (size_t i = 0; i < count; i++) {
        const uint16_t key = PackColor(row, pixels[i]);
        if (entryOf[key] == kNone) {
            if (made == colours) {
                made = 0;
                break;
            }
            palette[made] = UnpackColor(colorFormat, key);
            entryOf[key] = (uint16_t)made++;
        }
        indices[i] = (uint8_t)entryOf[key];
    }
    Release(allocator, entryOf);
    return (int)made;
}

int QuantisePicture(const uint32_t* pixels, size_t count, unsigned colorFormat, unsigned colours, uint8_t* indices,
                    uint32_t palette[256], const Allocator& allocator) {
    memset(palette, 0, 256 * sizeof *palette);
    if (!HasChannelRow(colorFormat) || colours < 1 || colours > 256) return -1;
    const int exact = ExactPalette(pixels, count, colorFormat, colours, indices, palette, allocator);
    if (exact != 0) return exact;
    memset(palette, 0, 256 * sizeof *palette);
    const int made = TrainCodebook(pixels, count, 1, colorFormat, colours, palette, allocator);
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
