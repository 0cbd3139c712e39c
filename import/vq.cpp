// The VQ decoders: each 2x2 block of the picture is painted from a codebook
// entry; entry e holds texels (2bx, 2by), (2bx, 2by + 1), (2bx + 1, 2by),
// (2bx + 1, 2by + 1) as its units 4e to 4e + 3. Texture row r lands on image
// row height - 1 - r.
#include "decode.h"
#include "texture.h"
#include "twiddle.h"

enum { kVqEntries = 256, kSmallVqEntries = 16, kTexelsPerEntry = 4 };

// Converts `texels` codebook units once per call: red, green and blue as
// UnpackColor gives them, alpha always 255.
static void ExpandCodebook(const uint8_t* codebook, unsigned colorFormat, uint32_t* colours,
                           unsigned texels) {
    for (unsigned i = 0; i < texels; i++)
        colours[i] = (UnpackColor(colorFormat, ReadU16(codebook + 2 * i)) & 0x00FFFFFFu) | 0xFF000000u;
}

// Paints one entry as block rows `top` and `top` - 1 of the image.
static inline void PaintBlock(const HostServices* services, HostImage* image, const uint32_t* entry,
                              int32_t x, int32_t top) {
    const HostSetImagePixelFn set = services->SetImagePixel;
    set(image, 0, x, top, entry[0]);
    set(image, 0, x + 1, top, entry[2]);
    set(image, 0, x, top - 1, entry[1]);
    set(image, 0, x + 1, top - 1, entry[3]);
}

// Checks a VQ texture against its layout and makes the call's expanded
// codebook and twiddle table: kTextureOk, kDecodeNothing for a ColorFormat
// without conversion, or a negative code.
static int PrepareVq(bool small, size_t indexLength, const uint8_t* codebook, size_t codebookLength,
                     uint32_t width, uint32_t height, unsigned colorFormat, uint32_t* colours,
                     uint32_t table[kTwiddleTableSize]) {
    uint64_t indexBytes;
    const int result = VqExtent(width, height, small, &indexBytes);
    if (result != kTextureOk) return result;
    const size_t bookBytes = small ? kSmallVqCodebookBytes : kVqCodebookBytes;
    if (codebookLength < bookBytes || indexBytes > indexLength) return kTextureShortData;
    if (!HasChannelRow(colorFormat)) return kDecodeNothing;
    ExpandCodebook(codebook, colorFormat, colours, (unsigned)(bookBytes / 2));
    BuildTwiddleTable(table);
    return kTextureOk;
}

int DecodeVq(const uint8_t* indexMap, size_t indexLength, const uint8_t* codebook,
             size_t codebookLength, uint32_t width, uint32_t height, unsigned colorFormat,
             const HostServices* services, HostImage* image) {
    uint32_t colours[kVqEntries * kTexelsPerEntry];
    uint32_t table[kTwiddleTableSize];
    const int prepared =
        PrepareVq(false, indexLength, codebook, codebookLength, width, height, colorFormat, colours, table);
    if (prepared != kTextureOk) return prepared;

    // The index map is twiddled over the block grid, one byte per block;
    // block (bx, by) paints image rows height - 1 - 2by and the one above.
    const uint32_t blocks = width / 2;
    WalkTwiddled<1>(table, blocks, blocks, [=, &colours](uint32_t unit, uint32_t bx, uint32_t by) {
        PaintBlock(services, image, colours + kTexelsPerEntry * indexMap[unit], (int32_t)(2 * bx),
                   (int32_t)(height - 1 - 2 * by));
    }, [services](uint32_t by) { services->StepProgress((int32_t)(2 * by)); });
    return kDecodeDone;
}

int DecodeSmallVq(const uint8_t* indexMap, size_t indexLength, const uint8_t* codebook,
                  size_t codebookLength, uint32_t width, uint32_t height, unsigned colorFormat,
                  const HostServices* services, HostImage* image) {
    uint32_t colours[kSmallVqEntries * kTexelsPerEntry];
    uint32_t table[kTwiddleTableSize];
    const int prepared =
        PrepareVq(true, indexLength, codebook, codebookLength, width, height, colorFormat, colours, table);
    if (prepared != kTextureOk) return prepared;

    // One byte holds blocks (bx, by) and (bx, by + 1), by even: texture rows
    // 2by to 2by + 3 (height >= 4).
    const uint32_t blocks = width / 2;
    WalkTwiddled<2>(table, blocks, blocks, [=, &colours](uint32_t unit, uint32_t bx, uint32_t by) {
        const uint32_t b = indexMap[unit];
        const int32_t top = (int32_t)(height - 1 - 2 * by);
        PaintBlock(services, image, colours + kTexelsPerEntry * (b & 15), (int32_t)(2 * bx), top);
        PaintBlock(services, image, colours + kTexelsPerEntry * (b >> 4), (int32_t)(2 * bx), top - 2);
    }, [](uint32_t) {});
    return kDecodeDone;
}
