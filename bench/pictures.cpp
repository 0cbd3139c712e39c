#include "pictures.h"

#include <map>
#include <utility>

#include "pvz.h"
#include "texture.h"
#include "texture_maker.h"

static uint32_t Hash(uint32_t x, uint32_t y) {
    uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    return h ^ (h >> 12);
}

uint32_t PictureRegion(uint32_t x, uint32_t y, uint32_t side) {
    // Coordinates on a 1024 grid, so every size shows the same picture.
    const uint32_t u = x * 1024 / side, v = y * 1024 / side;
    if (v >= 800 && v < 1000 && u >= 50 && u < 300) return Hash(x, y) & 0xFF;   // noise
    if (v >= 650 && v < 750) return 64 + u / 8;                                  // gradient
    const int32_t du = (int32_t)u - 700, dv = (int32_t)v - 300;
    if (du * du + dv * dv < 150 * 150) return 7;                                 // disk
    for (uint32_t i = 0; i < 6; i++) {                                           // panels
        const uint32_t left = 60 + 150 * i, top = 120 + 60 * i;
        if (u >= left && u < left + 110 && v >= top && v < top + 80) return 10 + i;
    }
    return v < 600 ? 1 : 2;   // sky, ground
}

uint32_t Picture1555(uint32_t x, uint32_t y, uint32_t side) {
    const uint32_t r = PictureRegion(x, y, side);
    return 0x8000u | ((r * 7) & 31) << 10 | ((r * 13) & 31) << 5 | (r & 31);
}

uint32_t PictureColour(uint32_t x, uint32_t y, uint32_t side) {
    const uint32_t r = PictureRegion(x, y, side);
    return 0xFF000000u | ((r * 37) & 0xFF) << 16 | ((r * 91) & 0xFF) << 8 | r;
}

const LayoutInfo kLayouts[6] = {
    {"Twiddled16", kTypeTwiddled, kColorArgb1555}, {"Twiddled8", kTypePal8, kColorArgb1555},
    {"Twiddled4", kTypePal4, kColorArgb1555},      {"Rectangle", kTypeRectangle, kColorRgb565},
    {"Vq", kTypeVq, kColorArgb4444},               {"SmallVq", kTypeSmallVq, kColorRgb565},
};

static std::vector<uint8_t> Compress(const std::vector<uint8_t>& texture) {
    uint8_t* container = nullptr;
    uint32_t length = 0;
    if (PvzCompress(texture.data(), (uint32_t)texture.size(), &kHeapAllocator, &container, &length) != 0)
        return {};
    std::vector<uint8_t> bytes(container, container + length);
    kHeapAllocator.Free(kHeapAllocator.context, container);
    return bytes;
}

uint32_t LayoutTexel(int kind, uint32_t x, uint32_t y, uint32_t side) {
    switch (kind) {
    case kLayoutTwiddled8: return PictureRegion(x, y, side);
    case kLayoutTwiddled4: return PictureRegion(x, y, side) & 15;
    case kLayoutVq:
    case kLayoutSmallVq: {
        // At most 256 (16) distinct 2x2 blocks: the block's region picks the entry.
        const uint32_t e = PictureRegion(x & ~1u, y & ~1u, side) % (kind == kLayoutVq ? 256 : 16);
        return (e * 0x0101u + (x & 1) * 0x0842u + (y & 1) * 0x1111u) & 0xFFFF;
    }
    default: return Picture1555(x, y, side);
    }
}

const std::vector<uint8_t>& LayoutTexture(int kind, uint32_t side) {
    static std::map<std::pair<int, uint32_t>, std::vector<uint8_t>> cache;
    std::vector<uint8_t>& file = cache[{kind, side}];
    if (file.empty()) {
        const TextureShape shape = {kLayouts[kind].dataType, kLayouts[kind].colorFormat, (uint16_t)side,
                                  (uint16_t)side, 4242};
        file = MakePvr(shape, [kind, side](uint32_t x, uint32_t y) { return LayoutTexel(kind, x, y, side); });
    }
    return file;
}

const std::vector<uint8_t>& LayoutContainer(int kind, uint32_t side) {
    static std::map<std::pair<int, uint32_t>, std::vector<uint8_t>> cache;
    std::vector<uint8_t>& file = cache[{kind, side}];
    if (file.empty()) file = Compress(LayoutTexture(kind, side));
    return file;
}

const std::vector<uint8_t>& StreamTexture(int kind, unsigned unit) {
    static std::map<std::pair<int, unsigned>, std::vector<uint8_t>> cache;
    std::vector<uint8_t>& texture = cache[{kind, unit}];
    if (!texture.empty()) return texture;
    if (kind == kStreamMixed) {
        texture = LayoutTexture(unit == 1 ? kLayoutTwiddled8 : kLayoutTwiddled16, 1024);
        return texture;
    }
    const uint8_t dataType = unit == 1 ? kTypePal8 : kTypeTwiddled;
    const uint32_t units = 1024 * 1024;
    const uint32_t texelLength = units * unit;
    texture.assign(kTextureHeaderSize + (size_t)texelLength, 0);
    WriteTextureHeader(texture.data(), 1, kColorArgb1555, dataType, 1024, 1024, texelLength);
    uint8_t* texels = texture.data() + kTextureHeaderSize;
    for (uint32_t i = 0; i < units; i++) {
        // Neighbouring values differ by 7 (mod 256 or 65536): never alike.
        const uint32_t value = kind == kStreamLong ? 0xA55A : i * 7 + 1;
        if (unit == 1)
            texels[i] = (uint8_t)value;
        else
            WriteU16(texels + 2 * (size_t)i, value);
    }
    return texture;
}

const std::vector<uint8_t>& StreamContainer(int kind, unsigned unit) {
    static std::map<std::pair<int, unsigned>, std::vector<uint8_t>> cache;
    std::vector<uint8_t>& file = cache[{kind, unit}];
    if (file.empty()) file = Compress(StreamTexture(kind, unit));
    return file;
}

const std::vector<uint8_t>& PaletteFile() {
    static std::vector<uint8_t> file;
    if (file.empty()) file = MakePaletteFile(256, [](uint32_t i) { return (uint16_t)(0x8000u | i * 0x0421u); });
    return file;
}
