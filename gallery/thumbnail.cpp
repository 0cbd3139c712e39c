// The gallery's thumbnails: the host picture shrunk with a box filter.
#include <stdlib.h>

#include "gallery.h"

// The host value of a pixel as a colour: indices through the host palette.
static uint32_t PixelColor(const MemoryHost* host, size_t i) {
    const uint32_t v = host->pixels[i];
    if (host->image.nColorMode != kColorModeIndexed) return v;
    return host->image.aPalette[v & 0xFF];
}

int MakeThumbnail(const MemoryHost* host, PngImage* thumbnail) {
    InitPng(thumbnail);
    const uint32_t width = (uint32_t)host->width, height = (uint32_t)host->height;
    const uint32_t longer = width > height ? width : height;
    // Each thumbnail pixel is the mean of a factor x factor block (fewer at
    // the right and bottom edges), weighted by alpha so that the colour of
    // transparent pixels does not bleed in.
    const uint32_t factor = (longer + kThumbnailSide - 1) / kThumbnailSide;
    const uint32_t outWidth = (width + factor - 1) / factor, outHeight = (height + factor - 1) / factor;
    thumbnail->width = outWidth;
    thumbnail->height = outHeight;
    thumbnail->kind = kPngColor;
    thumbnail->pixels = (uint8_t*)malloc((size_t)outWidth * outHeight * 4 + 1);
    if (!thumbnail->pixels) return -1;
    bool translucent = false;
    for (uint32_t oy = 0; oy < outHeight; oy++)
        for (uint32_t ox = 0; ox < outWidth; ox++) {
            uint64_t sum[4] = {0, 0, 0, 0};   // red, green and blue times alpha; alpha
            uint32_t count = 0;
            for (uint32_t y = oy * factor; y < height && y < (oy + 1) * factor; y++)
                for (uint32_t x = ox * factor; x < width && x < (ox + 1) * factor; x++) {
                    const uint32_t c = PixelColor(host, (size_t)y * width + x);
                    const uint32_t alpha = c >> 24;
                    sum[0] += (uint64_t)(c >> 16 & 0xFF) * alpha;
                    sum[1] += (uint64_t)(c >> 8 & 0xFF) * alpha;
                    sum[2] += (uint64_t)(c & 0xFF) * alpha;
                    sum[3] += alpha;
                    count++;
                }
            uint8_t* p = thumbnail->pixels + 4 * ((size_t)oy * outWidth + ox);
            for (int k = 0; k < 3; k++) p[k] = (uint8_t)(sum[3] ? (sum[k] + sum[3] / 2) / sum[3] : 0);
            p[3] = (uint8_t)((sum[3] + count / 2) / count);
            if (p[3] != 255) translucent = true;
        }
    thumbnail->alpha = translucent;
    return 0;
}
