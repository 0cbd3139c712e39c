#include "layout.h"

#include <string.h>

enum { kByFormat = kBitsByColorFormat };

enum { kNone = kWrittenByNone, kPlugin = kWrittenByPlugin, kConverter = kWrittenByConverter };

// decoder, texelBits, mipBits, pvzUnit, writer, name
static const DataTypeRow kDataTypes[] = {
    /* 0 */ {kDecoderNone, 0, 0, 2, kNone, nullptr},
    /* 1 */ {kDecoderTwiddled, kByFormat, 0, 2, kPlugin, "twiddled"},
    /* 2 */ {kDecoderTwiddled, kByFormat, 16, 2, kConverter, "twiddled, mip chain"},
    /* 3 */ {kDecoderVq, 16, 0, 2, kConverter, "VQ"},
    /* 4 */ {kDecoderVq, 16, 8, 2, kConverter, "VQ, mip chain"},
    /* 5 */ {kDecoderTwiddled, 4, 0, 1, kPlugin, "twiddled, 4-bit palette"},
    /* 6 */ {kDecoderTwiddled, kByFormat, 4, 1, kNone, "twiddled, mip chain (half-byte offset)"},
    /* 7 */ {kDecoderTwiddled, 8, 0, 1, kPlugin, "twiddled, 8-bit palette"},
    /* 8 */ {kDecoderTwiddled, kByFormat, 8, 1, kNone, "twiddled, mip chain (byte offset)"},
    /* 9 */ {kDecoderRectangle, 16, 0, 2, kPlugin, "rectangle"},
    /* 10 */ {kDecoderNone, 0, 0, 2, kNone, nullptr},
    /* 11 */ {kDecoderNone, 0, 0, 2, kNone, nullptr},
    /* 12 */ {kDecoderNone, 0, 0, 2, kNone, nullptr},
    /* 13 */ {kDecoderTwiddled, kByFormat, 0, 2, kPlugin, "twiddled (d)"},
    /* 14 */ {kDecoderNone, 0, 0, 2, kNone, nullptr},
    /* 15 */ {kDecoderNone, 0, 0, 2, kNone, nullptr},
    /* 16 */ {kDecoderSmallVq, 16, 0, 2, kConverter, "small VQ"},
    /* 17 */ {kDecoderSmallVq, 16, 4, 2, kConverter, "small VQ, mip chain"},
};
enum { kDataTypeRows = sizeof kDataTypes / sizeof kDataTypes[0] };

const DataTypeRow& DataTypeLayout(unsigned dataType) {
    return dataType < kDataTypeRows ? kDataTypes[dataType] : kDataTypes[0];
}

// name, texelBits, indexedEntries, alphaBits
static const ColorFormatRow kColorFormats[] = {
    {"ARGB1555", 16, 0, 1}, {"RGB565", 16, 0, 0}, {"ARGB4444", 16, 0, 4}, {"YUV422", 16, 0, 0},
    {"BUMP", 16, 16, 0},    {"PAL4", 4, 16, 0},   {"PAL8", 8, 256, 0},
};
static const ColorFormatRow kUnknownColorFormat = {nullptr, 16, 0, 0};
enum { kColorFormatRows = sizeof kColorFormats / sizeof kColorFormats[0] };

const ColorFormatRow& ColorFormatLayout(unsigned colorFormat) {
    return colorFormat < kColorFormatRows ? kColorFormats[colorFormat] : kUnknownColorFormat;
}

// Whether `name` ends in `ending` (lower case, ASCII) in any letter case.
static bool EndsInAnyCase(const char* name, const char* ending) {
    const size_t length = name ? strlen(name) : 0, n = strlen(ending);
    if (length < n) return false;
    for (size_t i = 0; i < n; i++) {
        char c = name[length - n + i];
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != ending[i]) return false;
    }
    return true;
}

int ContainerOfPath(const char* path) { return EndsInAnyCase(path, "pvr") ? kContainerPvr : kContainerPvz; }

bool HasTextureEnding(const char* name) { return EndsInAnyCase(name, ".pvr") || EndsInAnyCase(name, ".pvz"); }

const char* ContainerEnding(int container) { return container == kContainerPvr ? ".pvr" : ".pvz"; }

bool IsVqLayout(unsigned dataType) {
    const unsigned decoder = DataTypeLayout(dataType).decoder;
    return decoder == kDecoderVq || decoder == kDecoderSmallVq;
}

unsigned VqCodebookEntries(unsigned dataType) {
    const unsigned decoder = DataTypeLayout(dataType).decoder;
    return decoder == kDecoderVq ? 256 : decoder == kDecoderSmallVq ? 16 : 0;
}

unsigned KeptAlphaBits(unsigned dataType, unsigned colours) {
    return IsVqLayout(dataType) ? 0 : AlphaBits(colours);
}

bool HasPaletteFile(unsigned dataType) { return PaletteIndexLimit(dataType) != 0; }

unsigned IndexEntries(unsigned dataType, unsigned colorFormat) {
    const unsigned byType = PaletteIndexLimit(dataType);
    if (byType != 0 || DataTypeLayout(dataType).texelBits != kByFormat) return byType;
    return ColorFormatLayout(colorFormat).indexedEntries;
}

unsigned ImportPaletteEntries(unsigned dataType, unsigned colorFormat) {
    const unsigned byType = PaletteIndexLimit(dataType);
    return byType != 0 ? byType : ColorFormatLayout(colorFormat).indexedEntries;
}

int UndecodedReason(const TexelLayout& layout) {
    return layout.decoder == kDecoderNone ? kUndecodedNoLayout : kUndecodedNoConversion;
}

const char* UndecodedText(int reason) {
    return reason == kUndecodedNoLayout ? "no texel layout" : "no colour conversion";
}

unsigned PaletteIndexLimit(unsigned dataType) {
    const unsigned bits = DataTypeLayout(dataType).texelBits;
    return bits == 4 ? 16 : bits == 8 ? 256 : 0;
}

unsigned PaletteFormat(int container, unsigned dataType, unsigned colorFormat) {
    // Plain textures of DataType 7 that say RGB565 carry ARGB1555 palettes.
    if (container == kContainerPvr && dataType == kTypePal8 && colorFormat == kColorRgb565) return kColorArgb1555;
    return colorFormat;
}

const char* ColorFormatName(unsigned colorFormat) { return ColorFormatLayout(colorFormat).name; }
const char* DataTypeName(unsigned dataType) { return DataTypeLayout(dataType).name; }

unsigned TexelBits(unsigned dataType, unsigned colorFormat) {
    const DataTypeRow& row = DataTypeLayout(dataType);
    if (row.decoder == kDecoderNone) return 0;
    return row.texelBits != kBitsByColorFormat ? row.texelBits : ColorFormatLayout(colorFormat).texelBits;
}

unsigned TexelMode(unsigned dataType, unsigned colorFormat) {
    const unsigned bits = TexelBits(dataType, colorFormat);
    return bits == 4 ? (unsigned)kModePal4 : bits == 8 ? (unsigned)kModePal8 : colorFormat;
}

unsigned PvzUnitSize(unsigned dataType) { return DataTypeLayout(dataType).pvzUnit; }

const char* TextureResultText(int code) {
    switch (code) {
    case kTextureOk: return "ok";
    case kTextureShortFile: return "file shorter than its header";
    case kTextureBadSize: return "a side of 0, a twiddled side not a power of two, or above 8192 x 8192 pixels";
    case kTextureBadMagic: return "GBIX or PVRT magic missing";
    case kTextureTwiddledTooLarge: return "twiddled texture with a smaller side above 1024";
    case kTextureVqShape: return "VQ texture not square, not a power of two or with a side above 2048";
    case kTextureTooSmall: return "texture too small for its layout";
    case kTextureShortData: return "fewer texel bytes than the layout addresses";
    case kTexturePvzSizeShort: return "PVZ size field smaller than the layout needs";
    case kTexturePvzOverflow: return "PVZ stream expands beyond its size field";
    case kTexturePvzTooLarge: return "PVZ size field too large to allocate";
    case kTextureNoMemory: return "no memory for the expanded texture";
    case kTextureNotWritten: return "these settings are not written";
    case kTextureNotSquare: return "a mip chain of texels is written for square pictures only";
    case kTextureOver4GiB: return "the texture would be larger than 4 GiB";
    default: return "unknown";
    }
}

int TwiddledExtent(uint32_t width, uint32_t height, unsigned bits, uint64_t* bytes) {
    *bytes = 0;
    if (!IsPowerOfTwo(width) || !IsPowerOfTwo(height)) return kTextureBadSize;
    const uint32_t m = width < height ? width : height;
    if (m > kMaxTwiddledSide) return kTextureTwiddledTooLarge;
    // The index paths paint a pair of rows per unit, the 4-bit one also a
    // pair of columns.
    if (bits == 4 && m < 2) return kTextureTooSmall;
    if (bits == 8 && height < 2) return kTextureTooSmall;
    *bytes = (uint64_t)width * height * bits / 8;
    return kTextureOk;
}

int RectangleExtent(uint32_t width, uint32_t height, uint64_t* bytes) {
    *bytes = 0;
    if (width == 0 || height == 0) return kTextureBadSize;
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

uint64_t FullLevelOffset(unsigned dataType, uint32_t width) {
    const DataTypeRow& row = DataTypeLayout(dataType);
    uint64_t offset = 0;
    uint32_t side = width;
    if (row.decoder == kDecoderVq || row.decoder == kDecoderSmallVq) {
        offset = row.decoder == kDecoderVq ? kVqCodebookBytes : kSmallVqCodebookBytes;
        side = width >> 1;
    }
    if (row.mipBits != 0) offset += MipChainOffset(side) * row.mipBits / 8;
    return offset;
}

int PlanTexels(unsigned dataType, unsigned colorFormat, uint32_t width, uint32_t height,
               TexelLayout* layout) {
    const DataTypeRow& row = DataTypeLayout(dataType);
    const unsigned bits = TexelBits(dataType, colorFormat);
    layout->dataType = dataType;
    layout->decoder = row.decoder;
    layout->mode = TexelMode(dataType, colorFormat);
    layout->colorFormat = colorFormat;
    layout->width = width;
    layout->height = height;
    layout->offset = 0;
    layout->needed = 0;
    if (width == 0 || height == 0 || (uint64_t)width * height > kMaxPicturePixels) return kTextureBadSize;

    uint64_t bytes = 0;
    int result = kTextureOk;
    switch (row.decoder) {
    case kDecoderTwiddled: result = TwiddledExtent(width, height, bits, &bytes); break;
    case kDecoderRectangle: result = RectangleExtent(width, height, &bytes); break;
    case kDecoderVq: result = VqExtent(width, height, false, &bytes); break;
    case kDecoderSmallVq: result = VqExtent(width, height, true, &bytes); break;
    default: return kTextureOk;
    }
    if (result != kTextureOk) return result;
    layout->offset = FullLevelOffset(dataType, width);
    layout->needed = layout->offset + bytes;
    return kTextureOk;
}

bool IsWritablePair(unsigned dataType, unsigned colorFormat, unsigned writer) {
    const DataTypeRow& row = DataTypeLayout(dataType);
    if (row.writer == kWrittenByNone || row.writer > writer) return false;
    if (HasChannelRow(colorFormat)) return true;
    // Palette indices stored under a twiddled layout: nothing to pack.
    return row.texelBits == kBitsByColorFormat && row.mipBits == 0 && ColorFormatLayout(colorFormat).texelBits != 16;
}

int CheckWritable(unsigned dataType, unsigned colorFormat, uint32_t width, uint32_t height, unsigned writer,
                  uint64_t* needed) {
    *needed = 0;
    if (!IsWritablePair(dataType, colorFormat, writer)) return kTextureNotWritten;
    TexelLayout layout;
    const int planned = PlanTexels(dataType, colorFormat, width, height, &layout);
    if (planned != kTextureOk) return planned;
    // A texel mip chain is counted from the width alone.
    if (DataTypeLayout(dataType).decoder == kDecoderTwiddled && DataTypeLayout(dataType).mipBits != 0 && width != height)
        return kTextureNotSquare;
    if (layout.needed > UINT32_MAX - kTextureHeaderSize) return kTextureOver4GiB;
    *needed = layout.needed;
    return kTextureOk;
}

const char* NotWrittenReason(unsigned dataType) {
    const DataTypeRow& row = DataTypeLayout(dataType);
    // Mip chains of twiddled texels whose size the ColorFormat tells: the
    // ColorFormat then names the indices, so nothing tells their palette's.
    if (row.writer == kWrittenByNone && row.decoder == kDecoderTwiddled && row.mipBits != 0)
        return "the format of its palette is recorded nowhere, so the import cannot show its colours";
    return nullptr;
}

bool IsWrittenDataType(unsigned dataType) { return DataTypeLayout(dataType).writer != kWrittenByNone; }

bool IsWrittenColorFormat(unsigned colorFormat) {
    return HasChannelRow(colorFormat) || ColorFormatLayout(colorFormat).texelBits != 16;
}

uint64_t TexelLength(unsigned dataType, unsigned colorFormat, uint32_t width, uint32_t height) {
    if (!IsExportablePair(dataType, colorFormat)) return 0;
    return (uint64_t)width * height * TexelBits(dataType, colorFormat) / 8;
}
