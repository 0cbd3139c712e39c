#include "decode.h"

#include "palette.h"
#include "texture.h"
#include "twiddle.h"

int DecodeTexels(const uint8_t* chunk, size_t chunkLength, const HostServices* services,
                 HostImage* image) {
    if (chunkLength < kPvrtChunkHeadSize) return kTextureShortFile;
    TexelLayout layout;
    const int result = PlanTexels(chunk[kChunkDataType], chunk[kChunkColorFormat], ReadU16(chunk + kChunkWidth),
                                  ReadU16(chunk + kChunkHeight), &layout);
    if (result != kTextureOk) return result;
    return DecodeLayout(layout, chunk + kPvrtChunkHeadSize, chunkLength - kPvrtChunkHeadSize, services, image);
}

int DecodeLayout(const TexelLayout& layout, const uint8_t* data, size_t length, const HostServices* services,
                 HostImage* image) {
    if (layout.needed > length) return kTextureShortData;
    // From here on offset <= needed <= length.
    const size_t offset = (size_t)layout.offset;
    const uint32_t width = layout.width, height = layout.height;
    const unsigned colorFormat = layout.colorFormat;
    switch (layout.decoder) {
    case kDecoderTwiddled:
        return DecodeTwiddled(data + offset, length - offset, width, height, layout.mode, services, image);
    case kDecoderRectangle:
        return DecodeRectangle(data, length, width, height, colorFormat, services, image);
    case kDecoderVq:
        return DecodeVq(data + offset, length - offset, data, length, width, height, colorFormat, services, image);
    case kDecoderSmallVq:
        return DecodeSmallVq(data + offset, length - offset, data, length, width, height, colorFormat, services,
                             image);
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
    const unsigned bits = ModeBits(mode);
    uint64_t bytes;
    int result = TwiddledExtent(width, height, bits, &bytes);
    if (result != kTextureOk) return result;
    if (bytes > length) return kTextureShortData;
    if (bits == 16 && !HasChannelRow(mode)) return kDecodeNothing;

    uint32_t table[kTwiddleTableSize];
    BuildTwiddleTable(table);
    const HostSetImagePixelFn set = services->SetImagePixel;
    const HostStepProgressFn step = services->StepProgress;
    HostImage* const im = image;
    auto rowDone = [step](uint32_t y) { step((int32_t)y); };
    // Every unit the walk names lies below bytes / 2.
    if (bits == 4) {
        WalkTwiddled<4>(table, width, height, [data, set, im](uint32_t unit, uint32_t x, uint32_t y) {
            const uint32_t u = ReadU16(data + 2 * (size_t)unit);
            set(im, 0, (int32_t)x, (int32_t)y, u & 15);
            set(im, 0, (int32_t)x, (int32_t)y + 1, (u >> 4) & 15);
            set(im, 0, (int32_t)x + 1, (int32_t)y, (u >> 8) & 15);
            set(im, 0, (int32_t)x + 1, (int32_t)y + 1, u >> 12);
        }, rowDone);
    } else if (bits == 8) {
        WalkTwiddled<2>(table, width, height, [data, set, im](uint32_t unit, uint32_t x, uint32_t y) {
            const uint32_t u = ReadU16(data + 2 * (size_t)unit);
            set(im, 0, (int32_t)x, (int32_t)y, u & 255);
            set(im, 0, (int32_t)x, (int32_t)y + 1, u >> 8);
        }, rowDone);
    } else {
        ColourTables colours;
        BuildColourTables(mode, &colours);
        WalkTwiddled<1>(table, width, height, [data, set, im, &colours](uint32_t unit, uint32_t x, uint32_t y) {
            set(im, 0, (int32_t)x, (int32_t)y, TexelColour(colours, data + 2 * (size_t)unit));
        }, rowDone);
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
