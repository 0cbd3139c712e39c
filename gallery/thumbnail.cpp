// The gallery's thumbnails: the host picture shrunk with the box filter of
// the Explorer thumbnails.
#include <stdlib.h>

#include <vector>

#include "gallery.h"
#include "png.h"
#include "thumbnail_core.h"

// The host value of a pixel as a colour: indices through the host palette.
static uint32_t PixelColor(const MemoryHost* host, size_t i) {
    const uint32_t v = host->pixels[i];
    if (host->image.nColorMode != kColorModeIndexed) return v;
    return host->image.aPalette[v & 0xFF];
}

int MakeThumbnail(const MemoryHost* host, PngImage* thumbnail) {
    InitPng(thumbnail);
    const uint32_t width = (uint32_t)host->width, height = (uint32_t)host->height;
    uint32_t outWidth, outHeight;
    ThumbnailSize(width, height, kThumbnailSide, &outWidth, &outHeight);
    std::vector<uint32_t> colours((size_t)width * height), shrunk((size_t)outWidth * outHeight);
    for (size_t i = 0; i < colours.size(); i++) colours[i] = PixelColor(host, i);
    ShrinkPicture(colours.data(), width, height, shrunk.data(), outWidth, outHeight);
    thumbnail->width = outWidth;
    thumbnail->height = outHeight;
    thumbnail->kind = kPngColor;
    thumbnail->pixels = (uint8_t*)malloc(shrunk.size() * 4 + 1);
    if (!thumbnail->pixels) return -1;
    bool translucent = false;
    for (size_t i = 0; i < shrunk.size(); i++) {
        const uint32_t c = shrunk[i];
        uint8_t* p = thumbnail->pixels + 4 * i;
        p[0] = (uint8_t)(c >> 16), p[1] = (uint8_t)(c >> 8), p[2] = (uint8_t)c, p[3] = (uint8_t)(c >> 24);
        if (p[3] != 255) translucent = true;
    }
    thumbnail->alpha = translucent;
    return 0;
}
