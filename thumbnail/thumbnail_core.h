// The picture Explorer shows for a texture: the import's own decoding on the
// in-memory host, shrunk with a box filter. Portable; the shell handler
// (ombrthumb_win32.cpp) only reads the files and hands the pixels over.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum {
    kThumbnailOk = 0,
    kThumbnailRefused = -1,    // not a texture the import reads, or nothing it decodes
    kThumbnailTooLarge = -2,   // a picture above maxPixels
    kThumbnailNoMemory = -3,
};

// Pictures above this many pixels get no thumbnail (64 MiB of host values).
static const uint64_t kThumbnailMaxPixels = (uint64_t)1 << 24;

struct ThumbnailInput {
    const uint8_t* texture;   // the texture file's bytes (as PlanTextureRead says to read them)
    size_t length;
    const char* name;         // its name: the last three characters tell .pvr from .pvz
    const uint8_t* palette;   // the .pvp beside it, or null when there is none
    size_t paletteLength;
    uint32_t side;            // the longer side of the thumbnail, at most
    uint64_t maxPixels;       // 0: kThumbnailMaxPixels
};

// Colours 0xAARRGGBB (straight alpha), row by row from the top.
struct ThumbnailPicture {
    uint32_t width, height;
    uint32_t* pixels;
};

// Whether the texture is palettised (its colours come from a .pvp): the
// caller reads the palette only then.
bool ThumbnailNeedsPalette(const uint8_t* texture, size_t length, const char* name);

// Decodes the texture as the import does and shrinks it so that its longer
// side is `side` (a smaller texture keeps its size). A palettised texture
// without its palette shows its indices as a grey ramp, opaque. Gives
// kThumbnailOk and a picture to free with FreeThumbnail, or a failure and
// an empty picture.
[[nodiscard]] int MakeTextureThumbnail(const ThumbnailInput& input, ThumbnailPicture* picture);
void FreeThumbnail(ThumbnailPicture* picture);

// Box filter: each output pixel is the mean of the source area it covers
// (pixels partly covered count for the part), colours weighted by alpha so
// that transparent pixels do not bleed in. `source` is width x height colours
// 0xAARRGGBB; `out` holds outWidth x outHeight.
void ShrinkPicture(const uint32_t* source, uint32_t width, uint32_t height, uint32_t* out, uint32_t outWidth,
                   uint32_t outHeight);
// The size a picture shrinks to for `side`: the longer side becomes `side`,
// the other in proportion (rounded, at least 1); never larger than it is.
void ThumbnailSize(uint32_t width, uint32_t height, uint32_t side, uint32_t* outWidth, uint32_t* outHeight);
