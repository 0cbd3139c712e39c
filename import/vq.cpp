// The VQ decoders: each 2x2 block of the picture is painted from a codebook
// entry; entry e holds texels (2bx, 2by), (2bx, 2by + 1), (2bx + 1, 2by),
// (2bx + 1, 2by + 1) as its units 4e to 4e + 3. Texture row r lands on image
// row height - 1 - r.
#include "decode.h"
#include "texture.h"

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

int DecodeVq(const uint8_t* indexMap, size_t indexLength, const uint8_t* codebook,
             size_t codebookLength, uint32_t width, uint32_t height, unsigned colorFormat,
             const HostServices* services, HostImage* image) {
    uint64_t indexBytes;
    int result = VqExtent(width, height, false, &indexBytes);
    if (result != kTextureOk) return result;
    if (codebookLength < kVqCodebookBytes || indexBytes > indexLength) return kTextureShortData;
    if (!HasChannelRow(colorFormat)) return kDecodeNothing;

    uint32_t colours[kVqEntries * kTexelsPerEntry];
    ExpandCodebook(codebook, colorFormat, colours, kVqEntries * kTexelsPerEntry);
    uint32_t table[kTwiddleTableSize];
    BuildTwiddleTable(table);

    // width = height = 2 to 2048, so x / 2 and y / 2 stay below 1024, and the
    // largest index 3 * table[width / 2 - 1] is (width / 2)^2 - 1.
    for (uint32_t y = 0; y < height; y += 2) {
        const uint32_t rowPart = table[y / 2];
        const int32_t top = (int32_t)(height - 1 - y);
        for (uint32_t x = 0; x < width; x += 2) {
            const uint32_t e = indexMap[2 * table[x / 2] + rowPart];
            PaintBlock(services, image, colours + kTexelsPerEntry * e, (int32_t)x, top);
        }
        services->StepProgress((int32_t)y);
    }
    return kDecodeDone;
}

int DecodeSmallVq(const uint8_t* indexMap, size_t indexLength, const uint8_t* codebook,
                  size_t codebookLength, uint32_t width, uint32_t height, unsigned colorFormat,
                  const HostServices* services, HostImage* image) {
    uint64_t indexBytes;
    int result = VqExtent(width, height, true, &indexBytes);
    if (result != kTextureOk) return result;
    if (codebookLength < kSmallVqCodebookBytes || indexBytes > indexLength) return kTextureShortData;
    if (!HasChannelRow(colorFormat)) return kDecodeNothing;

    uint32_t colours[kSmallVqEntries * kTexelsPerEntry];
    ExpandCodebook(codebook, colorFormat, colours, kSmallVqEntries * kTexelsPerEntry);
    uint32_t table[kTwiddleTableSize];
    BuildTwiddleTable(table);

    // Each pass paints two block rows, texture rows y to y + 3 (height >= 4).
    // y / 2 is even, so table[y / 2] >> 1 loses no bit and the byte is half
    // the block's twiddled index; the largest is (width / 2)^2 / 2 - 1.
    for (uint32_t y = 0; y < height; y += 4) {
        const uint32_t rowPart = table[y / 2] >> 1;
        const int32_t top = (int32_t)(height - 1 - y);
        for (uint32_t x = 0; x < width; x += 2) {
            const uint32_t b = indexMap[table[x / 2] | rowPart];
            PaintBlock(services, image, colours + kTexelsPerEntry * (b & 15), (int32_t)x, top);
            PaintBlock(services, image, colours + kTexelsPerEntry * (b >> 4), (int32_t)x, top - 2);
        }
    }
    return kDecodeDone;
}
