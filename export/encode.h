// Texel encoders, the palette file bytes and the texel length of a setting.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "host_api.h"
#include "layout.h"

enum {
    kEncodeOk = 0,
    kEncodeRefused = -1,   // nothing written: bad layer, sizes, code or capacity
};

// Codes of EncodeTwiddled besides the colour formats 0 to 2.
enum { kTwiddledPal4 = kModePal4, kTwiddledPal8 = kModePal8 };

// Encodes the layer of `image` into `texels` (capacity bytes) by the DataType
// and ColorFormat of the PVRT chunk head (16 bytes: ColorFormat at 8,
// DataType at 9). Every pixel is read once through GetImagePixel at the layer's
// position; StepProgress follows every row (16-bit texels) or pair of rows
// (indices). Nothing is written, read or reported when the layer is missing,
// its sides are not powers of two with the smaller one at most 1024, the
// codes have nothing to pack with, or the texel data would not fit.
int EncodeTexels(uint8_t* texels, size_t capacity, const uint8_t* pvrtChunk, const HostServices* services,
                 HostImage* image);
// Twiddled layouts: code 0, 1 or 2 (16-bit colour), 5 (4-bit indices), 6 (8-bit indices).
int EncodeTwiddled(uint8_t* texels, size_t capacity, unsigned code, const HostServices* services,
                   HostImage* image);
// Row-by-row layout of 16-bit colour.
int EncodeRectangle(uint8_t* texels, size_t capacity, unsigned colorFormat, const HostServices* services,
                    HostImage* image);

// Palette of the host image as the export writes it: 256 entries of bytes
// blue, green, red, alpha, all cleared first, and the number of colours found.
// An indexed picture's entries are opaque but for nTransparentIndex, or,
// with `entryAlpha`, keep the alpha in the top byte of each aPalette entry.
enum { kExportPaletteBytes = 1024 };
void BuildExportPalette(const HostImage* image, uint8_t palette[kExportPaletteBytes], int32_t* count);
void BuildExportPalette(const HostImage* image, bool entryAlpha, uint8_t palette[kExportPaletteBytes],
                        int32_t* count);

// The colour a pixel value stands for when it is packed as 16-bit colour:
// a direct-colour picture's value itself; an indexed picture's palette
// entry (alpha 0 for nTransparentIndex, opaque otherwise); a grey picture's
// grey level, opaque; a two-colour picture's black for 0, white otherwise.
struct PixelColours {
    int32_t mode;                // nColorMode
    uint32_t entries[256];       // indexed and grey: by the value's low byte
};
void BuildPixelColours(const HostImage* image, PixelColours* colours);
// True when PixelColour gives every value back unchanged (direct colour).
inline bool PixelColoursPassThrough(const PixelColours& colours) {
    return colours.mode != kColorModeTwoColour && colours.mode != kColorModeGrey &&
           colours.mode != kColorModeIndexed;
}
inline uint32_t PixelColour(const PixelColours& colours, uint32_t value) {
    switch (colours.mode) {
    case kColorModeTwoColour: return value == 0 ? 0xFF000000u : 0xFFFFFFFFu;
    case kColorModeGrey:
    case kColorModeIndexed: return colours.entries[value & 0xFF];
    default: return value;
    }
}

// Palette kinds: 5 for DataType 5, 6 for DataType 7.
enum { kPaletteKind4 = 5, kPaletteKind8 = 6 };

// The .pvp file for a palette: 16 entries for kind 5; for kind 6, 128 when
// `*count` is at most 128, else 256; each packed with the ColorFormat's row.
// Writes the file bytes into `out` and returns their length (48, 272 or 528),
// setting `*count` to the entries written; returns 0, changing nothing, when
// the ColorFormat has no row or `capacity` is short.
size_t BuildPaletteBytes(unsigned colorFormat, unsigned kind, const uint8_t palette[kExportPaletteBytes],
                         int32_t* count, uint8_t* out, size_t capacity);
