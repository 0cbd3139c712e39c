#include "texture_maker.h"

#include <map>

#include "layout.h"
#include "palette.h"
#include "pvz.h"
#include "texture.h"

TexelKind TexelKindOf(uint8_t dataType, uint8_t colorFormat) {
    switch (DataTypeLayout(dataType).order) {
    case kDecoderTwiddled: {
        const unsigned bits = TexelBits(dataType, colorFormat);
        return bits == 4 ? kTexel4 : bits == 8 ? kTexel8 : kTexel16;
    }
    case kDecoderRectangle: return kTexelRect;
    case kDecoderVq: return kTexelVq;
    case kDecoderSmallVq: return kTexelSmallVq;
    default: return kTexelNone;
    }
}

uint64_t MakerLevelOffset(uint8_t dataType, uint32_t width) { return FullLevelOffset(dataType, width); }

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

    uint32_t table[kTwiddleTableSize];
    BuildTwiddleTable(table);
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
                for (int k = 0; k < 4; k++) WriteU16(data->data() + 8 * e + 2 * k, entry[k]);
            }
            const uint32_t t = 2 * table[bx] + table[by];
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
    TexelLayout layout;   // only whether the shape lies within its layout
    if (PlanTexels(shape.dataType, shape.colorFormat, w, h, &layout) != kTextureOk) return false;
    if (kind == kTexelVq || kind == kTexelSmallVq) return MakeVq(shape, texel, kind == kTexelSmallVq, data);
    const uint64_t texels = (uint64_t)w * h;
    const uint32_t m = w < h ? w : h;

    if (kind == kTexelNone || kind == kTexelRect) {
        data->assign(2 * texels, 0);
        for (uint32_t y = 0; y < h; y++)
            for (uint32_t x = 0; x < w; x++) WriteU16(data->data() + 2 * ((uint64_t)y * w + x), texel(x, y));
        return true;
    }
    const uint64_t offset = MakerLevelOffset(shape.dataType, w);
    const uint64_t level = kind == kTexel16 ? 2 * texels : kind == kTexel8 ? texels : texels / 2;
    data->assign(offset + level, 0);
    Fill(data, 0, offset);
    uint8_t* base = data->data() + offset;
    uint32_t table[kTwiddleTableSize];
    BuildTwiddleTable(table);
    for (uint32_t y = 0; y < h; y++) {
        for (uint32_t x = 0; x < w; x++) {
            const uint32_t t = TwiddleIndex(table, x, y, m);
            const uint32_t v = texel(x, y);
            if (kind == kTexel16)
                WriteU16(base + 2 * (uint64_t)t, v);
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
    std::vector<uint8_t> header(kTextureHeaderSize);
    WriteTextureHeader(header.data(), shape.globalIndex, shape.colorFormat, shape.dataType, shape.width,
                       shape.height, texelLength);
    return header;
}

std::vector<uint8_t> MakePvr(const TextureShape& shape, const TexelFunction& texel) {
    std::vector<uint8_t> data;
    if (!MakeTexelData(shape, texel, &data)) return {};
    std::vector<uint8_t> file = MakeHeader(shape, (uint32_t)data.size());
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

std::vector<uint8_t> PvrToPvz(const std::vector<uint8_t>& pvr) {
    uint8_t* container = nullptr;
    uint32_t length = 0;
    if (PvzCompress(pvr.data(), (uint32_t)pvr.size(), &kHeapAllocator, &container, &length) != 0) return {};
    std::vector<uint8_t> file(container, container + length);
    kHeapAllocator.Free(kHeapAllocator.context, container);
    return file;
}

std::vector<uint8_t> MakePvz(const TextureShape& shape, const TexelFunction& texel) {
    std::vector<uint8_t> pvr = MakePvr(shape, texel);
    return pvr.empty() ? pvr : PvrToPvz(pvr);
}

std::vector<uint8_t> MakePaletteFile(uint32_t count, const std::function<uint16_t(uint32_t)>& entry) {
    std::vector<uint16_t> entries(count);
    for (uint32_t i = 0; i < count; i++) entries[i] = entry(i);
    std::vector<uint8_t> file(kPaletteHeaderSize + 2 * (size_t)count);
    if (count <= kPaletteMaxEntries) {
        BuildPaletteFile(file.data(), entries.data(), count);
    } else {   // longer than any exporter writes: header by hand, every entry kept
        BuildPaletteFile(file.data(), entries.data(), 0);
        WriteU32(file.data() + 4, 2 * count + 8);
        WriteU16(file.data() + 14, count);
        for (uint32_t i = 0; i < count; i++) WriteU16(file.data() + kPaletteHeaderSize + 2 * i, entries[i]);
    }
    return file;
}
