// The small PNG interface of the converter: a decoded picture as a flat
// record, read from and written to memory, through libspng (png_spng.cpp) in
// every build: the Windows ombr.exe and the native ombr write the same bytes.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum {
    kPngIndexed = 1,   // one byte per pixel: a palette index
    kPngGrey = 2,      // four bytes per pixel, red = green = blue
    kPngColor = 3,     // four bytes per pixel: red, green, blue, alpha
};

enum { kPngErrorRoom = 160, kPngTextRoom = 80, kPngSourceRoom = 260 };

// The most the decoder keeps of a PNG's chunks besides the picture (texts,
// decompressed, and the like): a PNG that holds more is refused
// (kPngBadData), so that a small file cannot cost gigabytes.
enum : uint32_t { kPngTextLimit = 16u << 20 };

// What every call of the codec gives: 0, or one failure (negative).
enum PngResult {
    kPngOk = 0,
    kPngNotPng = -1,         // no PNG signature or IHDR
    kPngTooLarge = -2,       // more pixels or a longer side than the caller allows
    kPngBadData = -3,        // a PNG that cannot be read: its data, palette or an index beyond it
    kPngNoMemory = -4,
    kPngBadRecord = -5,      // a record or level the encoder cannot write
};
const char* PngResultText(int result);

// Keyword of the text chunk that carries a texture's settings (its layer tag).
extern const char kPngTagKeyword[];
// Keyword of the text chunk that carries the texture's own file name.
extern const char kPngSourceKeyword[];

struct PngImage {
    uint32_t width;
    uint32_t height;
    int kind;                      // kPng...
    bool alpha;                    // grey and colour: the file carries alpha (a channel or tRNS)
    bool paletteAlpha;             // indexed: the file has a tRNS chunk
    uint8_t* pixels;               // row by row, malloc block; 1 byte (indexed) or 4 bytes a pixel
    uint32_t paletteCount;         // indexed: PLTE entries, 1 to 256
    uint8_t palette[256][4];       // indexed: red, green, blue, alpha (255 where tRNS gives none)
    char tag[kPngTextRoom];        // the kPngTagKeyword text, zero-terminated; empty when none
    char source[kPngSourceRoom];   // the kPngSourceKeyword text (UTF-8), zero-terminated; empty when none
};

// An empty record (no pixels).
void InitPng(PngImage* image);
void FreePng(PngImage* image);
// Bytes per pixel of the record's kind.
inline uint32_t PngPixelBytes(const PngImage& image) { return image.kind == kPngIndexed ? 1 : 4; }

// Reads only the signature and IHDR (the first 33 bytes of the file): the
// picture's size and kind, so that a caller can bound memory before reading
// a whole file. 0, or kPngNotPng when the bytes do not start a PNG.
[[nodiscard]] int PeekPng(const uint8_t* data, size_t length, uint32_t* width, uint32_t* height, int* kind);

// Decodes a whole PNG file. Pictures wider or higher than `maxSide`, or of
// more than `maxPixels` pixels, are refused from IHDR before any pixel memory
// is taken; so is an index beyond its palette. The first text chunk (tEXt,
// zTXt or iTXt, before or after the image data) of each keyword fills `tag`
// and `source` (cut to fit). 0, or a failure with a message in `error`.
[[nodiscard]] int DecodePng(const uint8_t* data, size_t length, uint32_t maxSide, uint64_t maxPixels, PngImage* image,
              char* error, size_t errorRoom);

// Encodes the record as a PNG file in a new malloc block: indexed pictures
// as colour type 3 with PLTE (paletteCount entries) and tRNS (up to the last
// entry that is not opaque); colour and grey pictures as RGBA, or RGB / grey
// when `alpha` is false; before the image data a non-empty `tag` as a tEXt
// chunk and a non-empty `source` as a tEXt chunk (ASCII) or an uncompressed
// iTXt chunk (any other name). `level` is zlib's compression level, 0
// stored (no compression, no row filters) to 9 smallest, or kPngChosenLevel:
// level kPngDefaultLevel, or for a picture whose pixels seldom repeat (noise,
// photographs) run-length coding, as small there and several times faster.
// The same record and level give the same bytes in every build. 0, or a
// failure.
enum { kPngChosenLevel = -1, kPngFastestLevel = 0, kPngDefaultLevel = 5, kPngSmallestLevel = 9 };
[[nodiscard]] int EncodePngAtLevel(const PngImage* image, int level, uint8_t** data, size_t* length);
[[nodiscard]] inline int EncodePng(const PngImage* image, uint8_t** data, size_t* length) {
    return EncodePngAtLevel(image, kPngChosenLevel, data, length);
}
