#include "texture_maker.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <map>

// Everything here is told again from the format's description, with its
// own literals, and never asked of formats/: a wrong fact there then shows
// as a texture read from the wrong place.

TexelKind TexelKindOf(uint8_t dataType, uint8_t colorFormat) {
    switch (dataType) {
    case 1: case 2: case 6: case 8: case 13:   // the ColorFormat decides the texel
        return colorFormat == 5 ? kTexel4 : colorFormat == 6 ? kTexel8 : kTexel16;
    case 5: return kTexel4;
    case 7: return kTexel8;
    case 9: return kTexelRect;
    case 3: case 4: return kTexelVq;
    case 16: case 17: return kTexelSmallVq;
    default: return kTexelNone;
    }
}

// first bit and width of alpha, red, green, blue; alpha width 0: opaque
static const uint8_t kFields[3][4][2] = {
    {{15, 1}, {10, 5}, {5, 5}, {0, 5}},
    {{0, 0}, {11, 5}, {5, 6}, {0, 5}},
    {{12, 4}, {8, 4}, {4, 4}, {0, 4}},
};

uint16_t MakerPack(uint8_t colorFormat, uint32_t argb) {
    const uint8_t (*f)[2] = kFields[colorFormat < 3 ? colorFormat : 0];
    uint32_t v = 0;
    for (int c = 0; c < 4; c++)
        if (f[c][1]) v |= (argb >> (8 * (3 - c)) & 255) >> (8 - f[c][1]) << f[c][0];
    return (uint16_t)v;
}

uint32_t MakerColor(uint8_t colorFormat, uint16_t v) {
    const uint8_t (*f)[2] = kFields[colorFormat < 3 ? colorFormat : 0];
    uint32_t argb = 0;
    for (int c = 1; c < 4; c++) argb |= (((uint32_t)v >> f[c][0] & ((1u << f[c][1]) - 1)) << (8 - f[c][1])) << (8 * (3 - c));
    const unsigned alphaMax = (1u << f[0][1]) - 1;
    const uint32_t alpha = f[0][1] == 0 ? 255 : ((uint32_t)v >> f[0][0] & alphaMax) * 255 / alphaMax;
    return argb | alpha << 24;
}

// Room for every smaller level down to 1 x 1, plus one element.
static uint64_t MipChainElements(uint32_t side) {
    uint64_t n = 1;
    while (side) {
        side >>= 1;
        n += (uint64_t)side * side;
    }
    return n;
}

uint64_t MakerLevelOffset(uint8_t dataType, uint32_t width) {
    switch (dataType) {
    case 2: return 2 * MipChainElements(width);            // 16-bit texels
    case 3: return 2048;                                   // 256 entries of four 16-bit texels
    case 4: return 2048 + MipChainElements(width >> 1);    // 8-bit indices
    case 6: return MipChainElements(width) / 2;            // 4-bit texels
    case 8: return MipChainElements(width);                // 8-bit texels
    case 16: return 128;                                   // 16 entries
    case 17: return 128 + MipChainElements(width >> 1) / 2;   // 4-bit indices
    default: return 0;
    }
}

// The twiddled index: bits of x and y interleaved, y's lowest, within the
// squares of the smaller side m, squares one after the other.
static uint32_t Spread(uint32_t v) {
    uint32_t out = 0;
    for (unsigned k = 0; k < 10; k++) out |= ((v >> k) & 1u) << (2 * k);
    return out;
}
uint32_t MakerTwiddle(uint32_t x, uint32_t y, uint32_t m) {
    return 2 * Spread(x & (m - 1)) + Spread(y & (m - 1)) + (x / m + y / m) * m * m;
}

unsigned MakerPvzUnit(uint8_t dataType) { return dataType >= 5 && dataType <= 8 ? 1 : 2; }

static bool PowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

static void Put16(uint8_t* at, uint32_t v) {
    at[0] = (uint8_t)v;
    at[1] = (uint8_t)(v >> 8);
}
static void Put32(uint8_t* at, uint32_t v) {
    Put16(at, v & 0xFFFF);
    Put16(at + 2, v >> 16);
}

static void Fill(std::vector<uint8_t>* data, size_t from, size_t to) {
    for (size_t i = from; i < to; i++) (*data)[i] = (uint8_t)(0xA5 ^ (i * 37));
}

static bool MakeVq(const TextureShape& shape, const TexelFunction& texel, bool small,
                   std::vector<uint8_t>* data) {
    const uint32_t w = shape.width, h = shape.height;
    const uint32_t entries = small ? 16 : 256;
    const uint64_t offset = MakerLevelOffset(shape.dataType, w);
    const uint32_t blocks = (w / 2) * (w / 2);
    data->assign(offset + (small ? blocks / 2 : blocks), 0);
    Fill(data, 0, offset);

    std::map<std::vector<uint16_t>, uint32_t> book;
    for (uint32_t by = 0; by < h / 2; by++) {
        for (uint32_t bx = 0; bx < w / 2; bx++) {
            std::vector<uint16_t> entry = {
                (uint16_t)texel(2 * bx, 2 * by), (uint16_t)texel(2 * bx, 2 * by + 1),
                (uint16_t)texel(2 * bx + 1, 2 * by), (uint16_t)texel(2 * bx + 1, 2 * by + 1)};
            auto found = book.find(entry);
            uint32_t e;
            if (found != book.end()) {
                e = found->second;
            } else {
                e = (uint32_t)book.size();
                if (e >= entries) return false;
                book.emplace(entry, e);
                for (int k = 0; k < 4; k++) Put16(data->data() + 8 * e + 2 * k, entry[k]);
            }
            const uint32_t t = 2 * Spread(bx) + Spread(by);
            if (small) {
                uint8_t& b = (*data)[offset + t / 2];
                b = (uint8_t)(t % 2 ? (b & 0x0F) | (e << 4) : (b & 0xF0) | e);
            } else {
                (*data)[offset + t] = (uint8_t)e;
            }
        }
    }
    return true;
}

bool MakeTexelData(const TextureShape& shape, const TexelFunction& texel, std::vector<uint8_t>* data) {
    data->clear();
    const uint32_t w = shape.width, h = shape.height;
    const TexelKind kind = TexelKindOf(shape.dataType, shape.colorFormat);
    if (w == 0 || h == 0) return false;
    const bool vq = kind == kTexelVq || kind == kTexelSmallVq;
    if (kind != kTexelNone && kind != kTexelRect &&
        (!PowerOfTwo(w) || !PowerOfTwo(h) || (w < h ? w : h) > 1024 || (vq && (w != h || w < 2))))
        return false;
    if (kind == kTexelVq || kind == kTexelSmallVq) return MakeVq(shape, texel, kind == kTexelSmallVq, data);
    const uint64_t texels = (uint64_t)w * h;
    const uint32_t m = w < h ? w : h;

    if (kind == kTexelNone || kind == kTexelRect) {
        data->assign(2 * texels, 0);
        for (uint32_t y = 0; y < h; y++)
            for (uint32_t x = 0; x < w; x++) Put16(data->data() + 2 * ((uint64_t)y * w + x), texel(x, y));
        return true;
    }
    const uint64_t offset = MakerLevelOffset(shape.dataType, w);
    const uint64_t level = kind == kTexel16 ? 2 * texels : kind == kTexel8 ? texels : texels / 2;
    data->assign(offset + level, 0);
    Fill(data, 0, offset);
    uint8_t* base = data->data() + offset;
    for (uint32_t y = 0; y < h; y++) {
        for (uint32_t x = 0; x < w; x++) {
            const uint32_t t = MakerTwiddle(x, y, m);
            const uint32_t v = texel(x, y);
            if (kind == kTexel16)
                Put16(base + 2 * (uint64_t)t, v);
            else if (kind == kTexel8)
                base[t] = (uint8_t)v;
            else
                base[t / 2] = (uint8_t)(t % 2 ? (base[t / 2] & 0x0F) | ((v & 15) << 4)
                                              : (base[t / 2] & 0xF0) | (v & 15));
        }
    }
    return true;
}

std::vector<uint8_t> MakeHeader(const TextureShape& shape, uint32_t texelLength) {
    std::vector<uint8_t> header(32, 0);
    memcpy(header.data(), "GBIX", 4);
    Put32(&header[4], 8);
    Put32(&header[8], shape.globalIndex);
    memcpy(&header[16], "PVRT", 4);
    Put32(&header[20], 8 + texelLength);
    header[24] = shape.colorFormat;
    header[25] = shape.dataType;
    Put16(&header[28], shape.width);
    Put16(&header[30], shape.height);
    return header;
}

std::vector<uint8_t> MakeBlankTexture(const TextureShape& shape, uint32_t texelLength, size_t bytes, uint8_t fill) {
    std::vector<uint8_t> file = MakeHeader(shape, texelLength);
    file.resize(file.size() + bytes, fill);
    return file;
}

std::vector<uint8_t> MakePvr(const TextureShape& shape, const TexelFunction& texel) {
    std::vector<uint8_t> data;
    if (!MakeTexelData(shape, texel, &data)) return {};
    std::vector<uint8_t> file = MakeHeader(shape, (uint32_t)data.size());
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

// Runs of equal units, at most 255 a record (count 0 to 254), as an
// exporter writes them; 1-byte units for DataType 5 to 8, 2-byte for others.
// A trailing odd byte of 2-byte data is a unit of its own, padded with 0.
std::vector<uint8_t> PvrToPvz(std::vector<uint8_t> pvr) {
    if (pvr.size() < 32) return {};
    const size_t unit = MakerPvzUnit(pvr[25]);
    const uint32_t size = (uint32_t)pvr.size();
    if ((pvr.size() - 32) % unit != 0) pvr.push_back(0);
    std::vector<uint8_t> file(36);
    Put32(file.data(), size);
    memcpy(&file[4], pvr.data(), 32);
    for (size_t at = 32; at < pvr.size();) {
        size_t count = 1;
        while (count < 255 && at + (count + 1) * unit <= pvr.size() &&
               memcmp(&pvr[at], &pvr[at + count * unit], unit) == 0)
            count++;
        file.insert(file.end(), pvr.begin() + at, pvr.begin() + at + unit);
        file.push_back((uint8_t)(count - 1));
        at += count * unit;
    }
    return file;
}

std::vector<uint8_t> MakePvz(const TextureShape& shape, const TexelFunction& texel) {
    std::vector<uint8_t> pvr = MakePvr(shape, texel);
    return pvr.empty() ? pvr : PvrToPvz(pvr);
}

std::vector<uint8_t> MakePaletteFile(uint32_t count, const std::function<uint16_t(uint32_t)>& entry) {
    std::vector<uint8_t> file(16 + 2 * (size_t)count, 0);
    memcpy(file.data(), "PVPL", 4);
    Put32(&file[4], 2 * count + 8);
    Put16(&file[14], count & 0xFFFF);
    for (uint32_t i = 0; i < count; i++) Put16(&file[16 + 2 * i], entry(i));
    return file;
}

uint32_t MixBits(uint32_t x, uint32_t y, uint32_t salt) {
    uint32_t v = x * 0x9E3779B1u ^ (y + salt) * 0x85EBCA77u;
    v ^= v >> 15;
    v *= 0x2C1B3C6Du;
    return v ^ (v >> 13);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(f);
    return bytes;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    bool ok = f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f) ok = fclose(f) == 0 && ok;
    return ok;
}

TestFolder::TestFolder() {
    char name[] = "/tmp/ombr_testXXXXXX";
    if (mkdtemp(name)) path = name;
}

TestFolder::~TestFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}
