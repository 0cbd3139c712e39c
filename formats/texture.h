// PVR texture layout: the 32-byte header, the colour and layout codes, the
// twiddled order, mip chains and the 16-bit colour conversions.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum {
    kTextureHeaderSize = 32,   // GBIX chunk (16) + head of the PVRT chunk (16)
    kPvrtChunkHeadSize = 16,
    kHeaderGbix = 0,           // offsets inside the TextureHeader
    kHeaderGbixLength = 4,
    kHeaderGlobalIndex = 8,
    kHeaderPvrt = 16,
    kHeaderPvrtLength = 20,
    kHeaderColorFormat = 24,
    kHeaderDataType = 25,
    kHeaderWidth = 28,
    kHeaderHeight = 30,
    kChunkColorFormat = 8,     // the same fields counted from the PVRT chunk
    kChunkDataType = 9,
    kChunkWidth = 12,
    kChunkHeight = 14,
};

// ColorFormat, header byte 24.
enum {
    kColorArgb1555 = 0,
    kColorRgb565 = 1,
    kColorArgb4444 = 2,
    kColorYuv422 = 3,
    kColorBump = 4,
    kColorPal4 = 5,
    kColorPal8 = 6,
};

// DataType, header byte 25.
enum {
    kTypeTwiddled = 1,
    kTypeTwiddledMips = 2,
    kTypeVq = 3,
    kTypeVqMips = 4,
    kTypePal4 = 5,
    kTypeTwiddledMipsHalf = 6,
    kTypePal8 = 7,
    kTypeTwiddledMipsByte = 8,
    kTypeRectangle = 9,
    kTypeTwiddledD = 13,
    kTypeSmallVq = 16,
    kTypeSmallVqMips = 17,
};

enum {
    kTwiddleTableSize = 1024,
    kMaxTwiddledSide = 1024,   // the smaller side of a twiddled texture
    kMaxVqSide = 2048,
    kVqCodebookBytes = 2048,
    kSmallVqCodebookBytes = 128,
};

extern const char kMagicGbix[4];
extern const char kMagicPvrt[4];

// Little-endian field access.
inline uint16_t ReadU16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
inline uint32_t ReadU32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
inline void WriteU16(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}
inline void WriteU32(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

// The header fields readers use. `header` points at the 32-byte TextureHeader.
struct TextureInfo {
    uint32_t globalIndex;
    uint8_t colorFormat;
    uint8_t dataType;
    uint16_t width;
    uint16_t height;
};

// True when "GBIX" stands at byte 0 and "PVRT" at byte 16 of the header.
bool HasTextureMagics(const uint8_t* header);
TextureInfo ReadTextureInfo(const uint8_t* header);
// Clears the 32 header bytes and fills them as the exporter writes them.
void WriteTextureHeader(uint8_t* header, uint32_t globalIndex, uint8_t colorFormat,
                        uint8_t dataType, uint16_t width, uint16_t height, uint32_t texelLength);

// Entry i is i with bit k moved to bit 2k (k = 0 to 9).
void BuildTwiddleTable(uint32_t table[kTwiddleTableSize]);
// Twiddled index of texel (x, y) in a texture whose smaller side is m, a power
// of two of at most 1024; x and y may run over the strip of m x m squares.
uint32_t TwiddleIndex(const uint32_t table[kTwiddleTableSize], uint32_t x, uint32_t y, uint32_t m);
uint32_t TwiddleIndex(uint32_t x, uint32_t y, uint32_t m);
// 1 + the sum of the squares of s halved again and again.
uint64_t MipChainOffset(uint32_t s);

bool IsPowerOfTwo(uint32_t v);

// One row of the ChannelTable.
struct ChannelDecode {
    uint8_t redShift, redMask;
    uint8_t greenShift, greenMask;
    uint8_t blueShift, blueMask;   // left shift of the low byte
    uint8_t alphaShift, alphaMask;
    float alphaScale;
};
struct ChannelEncode {
    uint16_t divisor[4];   // blue, green, red, alpha
    uint8_t mask[4];
    uint8_t shift[4];
};
struct ChannelRow {
    ChannelDecode decode;
    ChannelEncode encode;
};
enum { kChannelRowCount = 3 };
extern const ChannelRow kChannelTable[kChannelRowCount];

// The row for ColorFormat 0, 1 or 2; null for every other code.
const ChannelRow* GetChannelRow(unsigned colorFormat);
// 16-bit texel or palette entry to host colour value (0xAARRGGBB). The format
// must have a row (0, 1 or 2); see HasChannelRow.
inline bool HasChannelRow(unsigned colorFormat) { return colorFormat < kChannelRowCount; }
uint32_t UnpackColor(unsigned colorFormat, uint16_t value);
// Host colour value to 16-bit texel with one row's encode half.
uint16_t PackColor(const ChannelEncode& row, uint8_t blue, uint8_t green, uint8_t red, uint8_t alpha);
uint16_t PackColor(const ChannelEncode& row, uint32_t hostColor);
