#include "texture.h"

#include <string.h>

const char kMagicGbix[4] = {'G', 'B', 'I', 'X'};
const char kMagicPvrt[4] = {'P', 'V', 'R', 'T'};

bool HasTextureMagics(const uint8_t* header) {
    return memcmp(header + kHeaderGbix, kMagicGbix, 4) == 0 &&
           memcmp(header + kHeaderPvrt, kMagicPvrt, 4) == 0;
}

TextureInfo ReadTextureInfo(const uint8_t* header) {
    TextureInfo info;
    info.globalIndex = ReadU32(header + kHeaderGlobalIndex);
    info.colorFormat = header[kHeaderColorFormat];
    info.dataType = header[kHeaderDataType];
    info.width = ReadU16(header + kHeaderWidth);
    info.height = ReadU16(header + kHeaderHeight);
    return info;
}

void WriteTextureHeader(uint8_t* header, uint32_t globalIndex, uint8_t colorFormat,
                        uint8_t dataType, uint16_t width, uint16_t height, uint32_t texelLength) {
    memset(header, 0, kTextureHeaderSize);
    memcpy(header + kHeaderGbix, kMagicGbix, 4);
    WriteU32(header + kHeaderGbixLength, 8);
    WriteU32(header + kHeaderGlobalIndex, globalIndex);
    memcpy(header + kHeaderPvrt, kMagicPvrt, 4);
    WriteU32(header + kHeaderPvrtLength, 8 + texelLength);
    header[kHeaderColorFormat] = colorFormat;
    header[kHeaderDataType] = dataType;
    WriteU16(header + kHeaderWidth, width);
    WriteU16(header + kHeaderHeight, height);
}

void BuildTwiddleTable(uint32_t table[kTwiddleTableSize]) {
    for (uint32_t i = 0; i < kTwiddleTableSize; i++) {
        uint32_t v = 0;
        for (uint32_t k = 0; k < 10; k++) v |= ((i >> k) & 1u) << (2 * k);
        table[i] = v;
    }
}

uint32_t TwiddleIndex(const uint32_t table[kTwiddleTableSize], uint32_t x, uint32_t y, uint32_t m) {
    uint32_t k = m - 1;
    return 2 * table[x & k] + table[y & k] + (x / m + y / m) * m * m;
}

uint32_t TwiddleIndex(uint32_t x, uint32_t y, uint32_t m) {
    uint32_t table[kTwiddleTableSize];
    BuildTwiddleTable(table);
    return TwiddleIndex(table, x, y, m);
}

uint64_t MipChainOffset(uint32_t s) {
    uint64_t offset = 1;
    while (s != 0) {
        s >>= 1;
        offset += (uint64_t)s * s;
    }
    return offset;
}

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Channel order in the encode half: blue, green, red, alpha.
const ChannelRow kChannelTable[kChannelRowCount] = {
    // ARGB1555
    {{7, 0xF8, 2, 0xF8, 3, 0xF8, 15, 1, 255.0f}, {{8, 8, 8, 128}, {31, 31, 31, 1}, {0, 5, 10, 15}}},
    // RGB565
    {{8, 0xF8, 3, 0xFC, 3, 0xF8, 0, 0, 0.0f}, {{8, 4, 8, 256}, {31, 63, 31, 0}, {0, 5, 11, 0}}},
    // ARGB4444
    {{4, 0xF0, 0, 0xF0, 4, 0xF0, 12, 15, 17.0f}, {{16, 16, 16, 16}, {15, 15, 15, 15}, {0, 4, 8, 12}}},
};

const ChannelRow* GetChannelRow(unsigned colorFormat) {
    return HasChannelRow(colorFormat) ? &kChannelTable[colorFormat] : nullptr;
}

uint32_t UnpackColor(unsigned colorFormat, uint16_t value) {
    const ChannelRow* row = GetChannelRow(colorFormat);
    if (!row) return 0;
    const ChannelDecode& d = row->decode;
    uint32_t v = value;
    uint32_t red = (v >> d.redShift) & d.redMask & 0xFF;
    uint32_t green = (v >> d.greenShift) & d.greenMask;
    uint32_t blue = (((v & 0xFF) << d.blueShift) & 0xFF) & d.blueMask;
    uint32_t alpha = 255;
    if (colorFormat != kColorRgb565)
        alpha = (uint32_t)((float)((v >> d.alphaShift) & d.alphaMask) * d.alphaScale);
    return blue | (green << 8) | (red << 16) | (alpha << 24);
}

uint16_t PackColor(const ChannelEncode& row, uint8_t blue, uint8_t green, uint8_t red, uint8_t alpha) {
    const uint8_t channel[4] = {blue, green, red, alpha};
    uint32_t v = 0;
    for (int c = 0; c < 4; c++) v |= ((channel[c] / row.divisor[c]) & row.mask[c]) << row.shift[c];
    return (uint16_t)v;
}

uint16_t PackColor(const ChannelEncode& row, uint32_t hostColor) {
    return PackColor(row, (uint8_t)hostColor, (uint8_t)(hostColor >> 8), (uint8_t)(hostColor >> 16),
                     (uint8_t)(hostColor >> 24));
}
