#include "decode.h"

#include "palette.h"
#include "texture.h"

const char* TextureCheckText(int code) {
    switch (code) {
    case kTextureOk: return "ok";
    case kTextureShortFile: return "file shorter than its header";
    case kTextureBadMagic: return "GBIX or PVRT magic missing";
    case kTextureBadSize: return "width or height zero or not a power of two";
    case kTextureTwiddledTooLarge: return "twiddled texture with a smaller side above 1024";
    case kTextureVqShape: return "VQ texture not square or with a side above 2048";
    case kTextureTooSmall: return "texture too small for its layout";
    case kTextureShortData: return "fewer texel bytes than the layout addresses";
    case kTexturePvzSizeShort: return "PVZ size field smaller than the layout needs";
    case kTexturePvzOverflow: return "PVZ stream expands beyond its size field";
    case kTexturePvzTooLarge: return "PVZ size field too large to allocate";
    case kTextureNoMemory: return "no memory for the expanded texture";
    default: return "unknown";
    }
}

static uint32_t Log2(uint32_t powerOfTwo) {
    uint32_t n = 0;
    while ((powerOfTwo >> n) > 1) n++;
    return n;
}

int TwiddledExtent(uint32_t width, uint32_t height, unsigned mode, uint64_t* bytes) {
    *bytes = 0;
    if (!IsPowerOfTwo(width) || !IsPowerOfTwo(height)) return kTextureBadSize;
    const uint32_t m = width < height ? width : height;
    if (m > kMaxTwiddledSide) return kTextureTwiddledTooLarge;
    const uint64_t texels = (uint64_t)width * height;
    if (mode == kModePal4 || mode == kModePal8) {
        // Both index paths paint a pair of rows (and the 4-bit one a pair of
        // columns) per unit.
        if (m < 2) return kTextureTooSmall;
        *bytes = mode == kModePal4 ? texels / 2 : texels;
    } else {
        *bytes = 2 * texels;
    }
    return kTextureOk;
}

int RectangleExtent(uint32_t width, uint32_t height, uint64_t* bytes) {
    *bytes = 0;
    if (!IsPowerOfTwo(width) || !IsPowerOfTwo(height)) return kTextureBadSize;
    *bytes = 2 * (uint64_t)width * height;
    return kTextureOk;
}

int VqExtent(uint32_t width, uint32_t height, bool small, uint64_t* indexBytes) {
    *indexBytes = 0;
    if (!IsPowerOfTwo(width) || !IsPowerOfTwo(height)) return kTextureBadSize;
    if (width != height || width > kMaxVqSide) return kTextureVqShape;
    if (width < (small ? 4u : 2u)) return kTextureTooSmall;
    // The index map is twiddled over the (width / 2)^2 blocks; the small map
    // keeps two blocks per byte.
    const uint64_t blocks = (uint64_t)(width / 2) * (width / 2);
    *indexBytes = small ? blocks / 2 : blocks;
    return kTextureOk;
}

int PlanTexels(unsigned dataType, unsigned colorFormat, uint32_t width, uint32_t height,
               TexelLayout* layout) {
    layout->decoder = kDecoderNone;
    layout->mode = colorFormat;
    layout->offset = 0;
    layout->needed = 0;
    if (!IsPowerOfTwo(width) || !IsPowerOfTwo(height)) return kTextureBadSize;

    uint64_t bytes = 0;
    int result = kTextureOk;
    switch (dataType) {
    case kTypeTwiddled:
    case kTypeTwiddledD:
    case kTypeTwiddledMips:
    case kTypeTwiddledMipsHalf:
    case kTypeTwiddledMipsByte:
    case kTypePal4:
    case kTypePal8:
        layout->decoder = kDecoderTwiddled;
        if (dataType == kTypePal4) layout->mode = kModePal4;
        if (dataType == kTypePal8) layout->mode = kModePal8;
        if (dataType == kTypeTwiddledMips) layout->offset = 2 * MipChainOffset(width);
        if (dataType == kTypeTwiddledMipsHalf) layout->offset = MipChainOffset(width) / 2;
        if (dataType == kTypeTwiddledMipsByte) layout->offset = MipChainOffset(width);
        result = TwiddledExtent(width, height, layout->mode, &bytes);
        break;
    case kTypeRectangle:
        layout->decoder = kDecoderRectangle;
        result = RectangleExtent(width, height, &bytes);
        break;
    case kTypeVq:
    case kTypeVqMips:
        layout->decoder = kDecoderVq;
        layout->offset = kVqCodebookBytes;
        if (dataType == kTypeVqMips) layout->offset += MipChainOffset(width >> 1);
        result = VqExtent(width, height, false, &bytes);
        break;
    case kTypeSmallVq:
    case kTypeSmallVqMips:
        layout->decoder = kDecoderSmallVq;
        layout->offset = kSmallVqCodebookBytes;
        if (dataType == kTypeSmallVqMips) layout->offset += MipChainOffset(width >> 1) / 2;
        result = VqExtent(width, height, true, &bytes);
        break;
    default:
        return kTextureOk;
    }
    if (result != kTextureOk) return result;
    layout->needed = layout->offset + bytes;
    return kTextureOk;
}

int DecodeTexels(const uint8_t* chunk, size_t chunkLength, const HostServices* services,
                 HostImage* image) {
    if (chunkLength < kPvrtChunkHeadSize) return kTextureShortFile;
    const unsigned colorFormat = chunk[kChunkColorFormat];
    const unsigned dataType = chunk[kChunkDataType];
    const uint32_t width = ReadU16(chunk + kChunkWidth);
    const uint32_t height = ReadU16(chunk + kChunkHeight);

    TexelLayout layout;
    int result = PlanTexels(dataType, colorFormat, width, height, &layout);
    if (result != kTextureOk) return result;
    const uint8_t* data = chunk + kPvrtChunkHeadSize;
    const size_t length = chunkLength - kPvrtChunkHeadSize;
    if (layout.needed > length) return kTextureShortData;
    // From here on offset <= needed <= length.
    const size_t offset = (size_t)layout.offset;

    switch (layout.decoder) {
    case kDecoderTwiddled:
        return DecodeTwiddled(data + offset, length - offset, width, height, layout.mode, services, image);
    case kDecoderRectangle:
        return DecodeRectangle(data, length, width, height, colorFormat, services, image);
    case kDecoderVq:
        return DecodeVq(data + offset, length - offset, data, length, width, height, colorFormat,
                        services, image);
    case kDecoderSmallVq:
        return DecodeSmallVq(data + offset, length - offset, data, length, width, height, colorFormat,
                             services, image);
    default:
        return kDecodeNothing;
    }
}

// UnpackColor byte by byte: every bit of a host colour is a copy of one texel
// bit or a constant, so a texel's colour is the OR of the colours of its low
// and its high byte. Two 256-entry tables built once per call take the place
// of a conversion per texel.
struct ColourTables {
    uint32_t low[256];
    uint32_t high[256];
};

static void BuildColourTables(unsigned colorFormat, ColourTables* tables) {
    for (uint32_t i = 0; i < 256; i++) {
        tables->low[i] = UnpackColor(colorFormat, (uint16_t)i);
        tables->high[i] = UnpackColor(colorFormat, (uint16_t)(i << 8));
    }
}

static inline uint32_t TexelColour(const ColourTables& tables, const uint8_t* texel) {
    return tables.low[texel[0]] | tables.high[texel[1]];
}

int DecodeTwiddled(const uint8_t* data, size_t length, uint32_t width, uint32_t height, unsigned mode,
                   const HostServices* services, HostImage* image) {
    uint64_t bytes;
    int result = TwiddledExtent(width, height, mode, &bytes);
    if (result != kTextureOk) return result;
    if (bytes > length) return kTextureShortData;
    if (mode != kModePal4 && mode != kModePal8 && !HasChannelRow(mode)) return kDecodeNothing;

    uint32_t table[kTwiddleTableSize];
    BuildTwiddleTable(table);
    const uint32_t m = width < height ? width : height;   // 1 to 1024
    const uint32_t k = m - 1;
    const uint32_t squareShift = Log2(m);
    const HostSetImagePixelFn set = services->SetImagePixel;
    const HostStepProgressFn step = services->StepProgress;

    // Every unit index below stays under bytes / 2: within its m x m square
    // the table part is below the square's unit count, and the squares of the
    // strip number max(width, height) / m.
    if (mode == kModePal4) {
        const uint32_t squareUnits = m * m / 4;
        for (uint32_t y = 0; y < height; y += 2) {
            const uint32_t rowPart = table[(y & k) / 2];
            for (uint32_t x = 0; x < width; x += 2) {
                const uint32_t square = (x >> squareShift) + (y >> squareShift);
                const uint32_t unit = 2 * table[(x & k) / 2] + rowPart + square * squareUnits;
                const uint32_t u = ReadU16(data + 2 * (size_t)unit);
                set(image, 0, (int32_t)x, (int32_t)y, u & 15);
                set(image, 0, (int32_t)x, (int32_t)y + 1, (u >> 4) & 15);
                set(image, 0, (int32_t)x + 1, (int32_t)y, (u >> 8) & 15);
                set(image, 0, (int32_t)x + 1, (int32_t)y + 1, u >> 12);
            }
            step((int32_t)y);
        }
    } else if (mode == kModePal8) {
        const uint32_t squareUnits = m * m / 2;
        for (uint32_t y = 0; y < height; y += 2) {
            const uint32_t rowPart = 2 * table[(y & k) / 2];
            for (uint32_t x = 0; x < width; x++) {
                const uint32_t square = (x >> squareShift) + (y >> squareShift);
                const uint32_t unit = table[x & k] + rowPart + square * squareUnits;
                const uint32_t u = ReadU16(data + 2 * (size_t)unit);
                set(image, 0, (int32_t)x, (int32_t)y, u & 255);
                set(image, 0, (int32_t)x, (int32_t)y + 1, u >> 8);
            }
            step((int32_t)y);
        }
    } else {
        ColourTables colours;
        BuildColourTables(mode, &colours);
        const uint32_t squareUnits = m * m;
        for (uint32_t y = 0; y < height; y++) {
            const uint32_t rowPart = table[y & k];
            // The row crosses the strip's squares one after the other.
            for (uint32_t left = 0; left < width; left += m) {
                const uint32_t square = (left >> squareShift) + (y >> squareShift);
                const uint8_t* units = data + 2 * ((size_t)square * squareUnits + rowPart);
                for (uint32_t i = 0; i < m; i++) {
                    const uint32_t colour = TexelColour(colours, units + 4 * (size_t)table[i]);
                    set(image, 0, (int32_t)(left + i), (int32_t)y, colour);
                }
            }
            step((int32_t)y);
        }
    }
    return kDecodeDone;
}

int DecodeRectangle(const uint8_t* data, size_t length, uint32_t width, uint32_t height,
                    unsigned colorFormat, const HostServices* services, HostImage* image) {
    uint64_t bytes;
    int result = RectangleExtent(width, height, &bytes);
    if (result != kTextureOk) return result;
    if (bytes > length) return kTextureShortData;
    if (!HasChannelRow(colorFormat)) return kDecodeNothing;

    ColourTables colours;
    BuildColourTables(colorFormat, &colours);
    const HostSetImagePixelFn set = services->SetImagePixel;
    const uint8_t* texel = data;
    for (uint32_t y = 0; y < height; y++) {
        for (uint32_t x = 0; x < width; x++, texel += 2)
            set(image, 0, (int32_t)x, (int32_t)y, TexelColour(colours, texel));
        services->StepProgress((int32_t)y);
    }
    return kDecodeDone;
}

void ApplyPalette(HostImage* image, const uint8_t* file, size_t length, unsigned colorFormat) {
    if (!HasChannelRow(colorFormat)) return;
    uint32_t count = PaletteFileEntryCount(length);
    if (count > kPaletteMaxEntries) count = kPaletteMaxEntries;
    for (uint32_t i = 0; i < count; i++)
        image->aPalette[i] = UnpackColor(colorFormat, ReadU16(file + kPaletteHeaderSize + 2 * (size_t)i));
    image->nPaletteCount = (int32_t)count;
}
