// Texel encoders, the palette file bytes and the texel length of a setting.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "alloc.h"
#include "host_api.h"
#include "layout.h"

enum {
    kEncodeOk = 0,
    kEncodeRefused = -1,   // nothing written: bad layer, sizes, code or capacity
};

// Encodes the layer of `image` into `texels` (capacity bytes) by the DataType
// and ColorFormat of the PVRT chunk head (16 bytes: ColorFormat at 8,
// DataType at 9). Every pixel is read once through GetImagePixel at the layer's
// position; StepProgress follows every row (16-bit texels) or pair of rows
// (indices). Nothing is written, read or reported when the layer is missing,
// its sides are not powers of two with the smaller one at most 1024, the
// codes have nothing to pack with, or the texel data would not fit.
[[nodiscard]] int EncodeTexels(uint8_t* texels, size_t capacity, const uint8_t* pvrtChunk, const HostServices* services,
                               HostImage* image);
// Twiddled layouts: `mode` (TexelMode) 0, 1 or 2 (16-bit colour), kModePal4 or kModePal8 (indices);
// with `indices` (width x height, row by row) the indices come from there
// rather than from the host.
[[nodiscard]] int EncodeTwiddled(uint8_t* texels, size_t capacity, unsigned mode, const HostServices* services,
                                 HostImage* image, const uint8_t* indices = nullptr);
// Row-by-row layout of 16-bit colour.
[[nodiscard]] int EncodeRectangle(uint8_t* texels, size_t capacity, unsigned colorFormat, const HostServices* services,
                                  HostImage* image);

// The colours of a picture's palette, as pixels of the picture stand for
// them: an indexed picture's entries with each entry's own alpha when the
// host kept the alpha the import gave them (bAlpha set, and not every entry's
// alpha 0), otherwise opaque but nTransparentIndex (alpha 0); a grey
// picture's 256 levels and a two-colour picture's black and white, opaque.
// `count` receives the entries that count: nPaletteCount (at most 256), 256
// or 2; 0, and every entry 0, for a direct-colour picture.
void HostPaletteColours(const HostImage* image, uint32_t colours[256], int32_t* count);

// The colour a pixel value stands for when it is packed as 16-bit colour:
// a direct-colour picture's value itself, an indexed or grey picture's
// palette colour (HostPaletteColours) by its low byte; a two-colour
// picture's black for 0, white otherwise.
struct PixelColours {
    int32_t mode;                // nColorMode
    uint32_t entries[256];
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

// The layer's colours (PixelColour of every pixel), row by row, in a new
// block of `allocator` (width x height values): null when no memory can be had.
struct Allocator;
uint32_t* ReadLayerColours(const HostServices* services, HostImage* image, const Allocator& allocator);

// The texture being replaced, for an encode that keeps what the picture did
// not change. The palette layouts keep the old index of every unchanged
// pixel (ChoosePalette); the VQ encoder keeps the codebook and the codes of
// unchanged blocks and gives each changed block its nearest code. The other
// layouts need nothing here: the caller gives their unchanged pixels the
// old texel's colour, which packs back to it.
struct TexelReference {
    const uint8_t* changed;   // width x height, row by row: nonzero where the picture differs
    const uint8_t* indices;   // palette layouts: each pixel's index in the old texture; else null
    const uint8_t* texels;    // the old texel data, in the layout being written; null: none
    size_t texelLength;
    // Told back by the VQ encoder.
    bool codebookKept;        // false: trained anew, the kept one serving the changed blocks clearly worse
    uint64_t changedBlocks;   // blocks of the full level with a changed pixel
    uint64_t blockError;      // their summed squared difference (red, green, blue) from the kept code nearest
    uint64_t keptBlocks;      // the other blocks, and theirs from the code they kept
    uint64_t keptError;
    uint64_t trainedError;    // the whole picture's on a codebook trained anew
};

// What the layout encoders read: the layer of the host image, and for the
// palette layouts, where the palette was chosen anew, each pixel's index.
struct EncodeSource {
    const HostServices* services;
    HostImage* image;
    const uint8_t* indices;   // width x height, row by row; null: the host's own values
    TexelReference* reference;   // the texture being replaced, or null
    const Allocator* allocator;  // the encoders' work memory (mip chains, VQ codebooks)
};
// Encodes the texels of a planned layout (PlanTexels: the sides fit it) into
// `texels` (`capacity` bytes, at least layout.needed): kEncodeOk, or
// kEncodeRefused / kEncodeNoMemory with nothing promised about the bytes.
enum { kEncodeNoMemory = -2 };
typedef int (*LayoutEncoder)(const EncodeSource& source, const TexelLayout& layout, uint8_t* texels,
                             size_t capacity);
// The encoders a program writes with, one per texel order (null: none).
struct LayoutEncoders {
    unsigned writer;              // kWrittenByPlugin or kWrittenByConverter (IsWritablePair)
    LayoutEncoder twiddled;       // twiddled texels without a mip chain
    LayoutEncoder mipChain;       // twiddled 16-bit texels with every smaller level
    LayoutEncoder rectangle;
    LayoutEncoder vq;             // VQ and small VQ, with or without the smaller levels' maps
};
// The export plug-in's: twiddled and rectangle layouts.
extern const LayoutEncoders kPluginEncoders;
[[nodiscard]]
int EncodeTwiddledLayout(const EncodeSource& source, const TexelLayout& layout, uint8_t* texels, size_t capacity);
[[nodiscard]]
int EncodeRectangleLayout(const EncodeSource& source, const TexelLayout& layout, uint8_t* texels, size_t capacity);
// The converter's: every layout anyone writes (encode_layouts.cpp, which
// brings the mip chain, VQ and codebook training in).
extern const LayoutEncoders kConverterEncoders;

// The one entry: the encoder of the layout's texel order.
[[nodiscard]] int EncodeLayout(const LayoutEncoders& encoders, const EncodeSource& source, const TexelLayout& layout,
                               uint8_t* texels, size_t capacity);

// The .pvp file for a palette of host colours for indices that reach
// `indexEntries` (PaletteIndexLimit): 16 entries for 16; for 256, 128 when
// `*count` is at most 128, else 256; each packed with the
// ColorFormat's row, entries past `*count` zero. Writes the file bytes into
// `out` and returns their length (48, 272 or 528), setting `*count` to the
// entries written; returns 0, changing nothing, when the ColorFormat has no
// row or `capacity` is short.
size_t BuildPaletteBytes(unsigned colorFormat, unsigned indexEntries, const uint32_t palette[256], int32_t* count,
                         uint8_t* out, size_t capacity);
