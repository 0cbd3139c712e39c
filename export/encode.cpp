#include "encode.h"

#include <string.h>

#include "alloc.h"
#include "palette.h"
#include "texture.h"
#include "twiddle.h"

// The layer rectangle an encoder walks, checked against what it needs.
struct EncodeArea {
    int32_t left, top;
    uint32_t width, height;
};

static bool GetArea(const HostServices* services, const HostImage* image, EncodeArea* area) {
    if (!services || !services->GetImagePixel || !image || !image->pLayer) return false;
    const HostLayer* layer = image->pLayer;
    const int64_t width = (int64_t)layer->nRight - layer->nLeft;
    const int64_t height = (int64_t)layer->nBottom - layer->nTop;
    if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) return false;
    area->left = layer->nLeft;
    area->top = layer->nTop;
    area->width = (uint32_t)width;
    area->height = (uint32_t)height;
    return true;
}

static uint32_t ReadPixel(HostGetImagePixelFn get, HostImage* image, const EncodeArea& area, uint32_t x, uint32_t y) {
    // The 32-bit sums wrap as the host's own coordinates do.
    return get(image, 0, (int32_t)((uint32_t)area.left + x), (int32_t)((uint32_t)area.top + y));
}

static void Step(const HostServices* services, uint32_t y) {
    if (services->StepProgress) services->StepProgress((int32_t)y);
}

static void StoreUnit(uint8_t* texels, uint32_t unit, uint32_t value) { WriteU16(texels + 2 * (size_t)unit, value); }

// PackColor channel by channel: each channel lands in bits of its own and a
// zero channel adds nothing, so a texel is the OR of four per-channel terms.
// Four 256-entry tables built once per call take the place of four divisions
// per pixel.
struct PackTables {
    uint16_t channel[4][256];   // blue, green, red, alpha
};

static void BuildPackTables(const ChannelEncode& row, PackTables* tables) {
    for (uint32_t v = 0; v < 256; v++) {
        const uint8_t c = (uint8_t)v;
        tables->channel[0][v] = PackColor(row, c, 0, 0, 0);
        tables->channel[1][v] = PackColor(row, 0, c, 0, 0);
        tables->channel[2][v] = PackColor(row, 0, 0, c, 0);
        tables->channel[3][v] = PackColor(row, 0, 0, 0, c);
    }
}

static inline uint32_t PackPixel(const PackTables& tables, uint32_t hostColor) {
    return tables.channel[0][hostColor & 0xFF] | tables.channel[1][(hostColor >> 8) & 0xFF] |
           tables.channel[2][(hostColor >> 16) & 0xFF] | tables.channel[3][hostColor >> 24];
}

// The 4-bit and 8-bit index walks (`bits`), with the indices from `get`(x, y)
// in host coordinates.
template <class Get, class RowDone>
static void WalkIndices(unsigned bits, const uint32_t* table, uint32_t w, uint32_t h, uint32_t x0, uint32_t y0,
                        uint8_t* texels, Get get, RowDone rowDone) {
    if (bits == 4)
        WalkTwiddledAt<4>(table, w, h, x0, y0, [texels, &get](uint32_t unit, uint32_t x, uint32_t y) {
            const uint32_t p0 = get(x, y) & 0xF, p1 = get(x, y + 1) & 0xF;
            const uint32_t p2 = get(x + 1, y) & 0xF, p3 = get(x + 1, y + 1) & 0xF;
            StoreUnit(texels, unit, p0 | p1 << 4 | p2 << 8 | p3 << 12);
        }, rowDone);
    else
        WalkTwiddledAt<2>(table, w, h, x0, y0, [texels, &get](uint32_t unit, uint32_t x, uint32_t y) {
            StoreUnit(texels, unit, (get(x, y) & 0xFF) | (get(x, y + 1) & 0xFF) << 8);
        }, rowDone);
}

int EncodeTwiddled(uint8_t* texels, size_t capacity, unsigned mode, const HostServices* services,
                   HostImage* image, const uint8_t* indices) {
    EncodeArea area;
    if (!texels || !GetArea(services, image, &area)) return kEncodeRefused;
    const uint32_t w = area.width, h = area.height;
    const ChannelRow* row = nullptr;
    const unsigned bits = ModeBits(mode);
    if (bits == 16 && !(row = GetChannelRow(mode))) return kEncodeRefused;
    uint64_t bytes;
    if (TwiddledExtent(w, h, bits, &bytes) != kTextureOk || bytes > capacity) return kEncodeRefused;

    uint32_t table[kTwiddleTableSize];
    BuildTwiddleTable(table);
    const HostGetImagePixelFn get = services->GetImagePixel;
    // The walk runs over the layer's own place in the host image: x and y
    // below are host coordinates.
    const uint32_t x0 = (uint32_t)area.left, y0 = (uint32_t)area.top;
    auto rowDone = [services](uint32_t y) { Step(services, y); };
    // Every unit the walk names lies below the texel data's length / 2.
    if (row == nullptr && indices) {
        WalkIndices(bits, table, w, h, x0, y0, texels, [indices, x0, y0, w](uint32_t x, uint32_t y) -> uint32_t {
            return indices[(size_t)(y - y0) * w + (x - x0)];
        }, rowDone);
    } else if (row == nullptr) {
        WalkIndices(bits, table, w, h, x0, y0, texels, [get, image](uint32_t x, uint32_t y) {
            return get(image, 0, (int32_t)x, (int32_t)y);
        }, rowDone);
    } else {
        PackTables pack;
        BuildPackTables(row->encode, &pack);
        PixelColours colours;
        BuildPixelColours(image, &colours);
        // A direct-colour picture, the common case, packs its values as they are.
        if (PixelColoursPassThrough(colours))
            WalkTwiddledAt<1>(table, w, h, x0, y0, [texels, get, image, &pack](uint32_t unit, uint32_t x, uint32_t y) {
                StoreUnit(texels, unit, PackPixel(pack, get(image, 0, (int32_t)x, (int32_t)y)));
            }, rowDone);
        else
            WalkTwiddledAt<1>(table, w, h, x0, y0, [texels, get, image, &pack, &colours](uint32_t unit, uint32_t x,
                                                                                       uint32_t y) {
                StoreUnit(texels, unit, PackPixel(pack, PixelColour(colours, get(image, 0, (int32_t)x, (int32_t)y))));
            }, rowDone);
    }
    return kEncodeOk;
}

int EncodeRectangle(uint8_t* texels, size_t capacity, unsigned colorFormat, const HostServices* services,
                    HostImage* image) {
    EncodeArea area;
    const ChannelRow* row = GetChannelRow(colorFormat);
    if (!texels || !row || !GetArea(services, image, &area)) return kEncodeRefused;
    uint64_t bytes;
    if (RectangleExtent(area.width, area.height, &bytes) != kTextureOk || bytes > capacity) return kEncodeRefused;
    PackTables pack;
    BuildPackTables(row->encode, &pack);
    PixelColours colours;
    BuildPixelColours(image, &colours);
    const HostGetImagePixelFn get = services->GetImagePixel;
    for (uint32_t y = 0; y < area.height; y++) {
        for (uint32_t x = 0; x < area.width; x++) {
            const uint32_t colour = PixelColour(colours, ReadPixel(get, image, area, x, y));
            StoreUnit(texels, y * area.width + x, PackPixel(pack, colour));
        }
        Step(services, y);
    }
    return kEncodeOk;
}

// The plug-in's layouts through the one entry.
int EncodeTwiddledLayout(const EncodeSource& source, const TexelLayout& layout, uint8_t* texels,
                                size_t capacity) {
    return EncodeTwiddled(texels, capacity, layout.mode, source.services, source.image, source.indices);
}

int EncodeRectangleLayout(const EncodeSource& source, const TexelLayout& layout, uint8_t* texels,
                                 size_t capacity) {
    return EncodeRectangle(texels, capacity, layout.colorFormat, source.services, source.image);
}

const LayoutEncoders kPluginEncoders = {kWrittenByPlugin, EncodeTwiddledLayout, nullptr, EncodeRectangleLayout,
                                        nullptr};

int EncodeLayout(const LayoutEncoders& encoders, const EncodeSource& source, const TexelLayout& layout,
                 uint8_t* texels, size_t capacity) {
    if (!IsWritablePair(layout.dataType, layout.colorFormat, encoders.writer) || layout.needed > capacity)
        return kEncodeRefused;
    LayoutEncoder encoder = nullptr;
    switch (layout.decoder) {
    case kDecoderTwiddled:
        encoder = DataTypeLayout(layout.dataType).mipBits != 0 ? encoders.mipChain : encoders.twiddled;
        break;
    case kDecoderRectangle: encoder = encoders.rectangle; break;
    case kDecoderVq:
    case kDecoderSmallVq: encoder = encoders.vq; break;
    default: break;
    }
    return encoder ? encoder(source, layout, texels, capacity) : kEncodeRefused;
}

int EncodeTexels(uint8_t* texels, size_t capacity, const uint8_t* pvrtChunk, const HostServices* services,
                 HostImage* image) {
    const unsigned colorFormat = pvrtChunk[kChunkColorFormat];
    const unsigned dataType = pvrtChunk[kChunkDataType];
    EncodeArea area;
    TexelLayout layout;
    if (!GetArea(services, image, &area) ||
        PlanTexels(dataType, colorFormat, area.width, area.height, &layout) != kTextureOk)
        return kEncodeRefused;
    const EncodeSource source = {services, image, nullptr, nullptr, &kHeapAllocator};
    return EncodeLayout(kPluginEncoders, source, layout, texels, capacity);
}

void HostPaletteColours(const HostImage* image, uint32_t colours[256], int32_t* count) {
    memset(colours, 0, 256 * sizeof *colours);
    *count = 0;
    switch (image->nColorMode) {
    case kColorModeTwoColour:
        colours[0] = 0xFF000000u;
        colours[1] = 0xFFFFFFFFu;
        *count = 2;
        break;
    case kColorModeGrey:
        for (uint32_t i = 0; i < 256; i++) colours[i] = 0xFF000000u | i * 0x010101u;
        *count = 256;
        break;
    case kColorModeIndexed: {
        const int32_t n = image->nPaletteCount < 0 ? 0 : image->nPaletteCount > 256 ? 256 : image->nPaletteCount;
        // Alpha the host kept from the import: colours carry alpha (bAlpha),
        // and not every entry's is 0 (what a host that drops alpha leaves).
        // A palette of one partial alpha (glass, water) keeps it.
        bool entryAlpha = false;
        for (int32_t i = 0; i < n && image->bAlpha; i++)
            if (image->aPalette[i] >> 24) entryAlpha = true;
        for (uint32_t i = 0; i < 256; i++) {
            const uint32_t colour = image->aPalette[i];
            if (entryAlpha) colours[i] = colour;
            else colours[i] = (colour & 0xFFFFFFu) | ((int32_t)i == image->nTransparentIndex ? 0u : 0xFF000000u);
        }
        *count = n;
        break;
    }
    default:
        break;
    }
}

void BuildPixelColours(const HostImage* image, PixelColours* colours) {
    colours->mode = image->nColorMode;
    int32_t count;
    HostPaletteColours(image, colours->entries, &count);
}

uint32_t* ReadLayerColours(const HostServices* services, HostImage* image, const Allocator& allocator) {
    EncodeArea area;
    if (!GetArea(services, image, &area)) return nullptr;
    const size_t count = (size_t)area.width * area.height;
    uint32_t* pixels = (uint32_t*)allocator.Alloc(allocator.context, count * sizeof *pixels);
    if (!pixels) return nullptr;
    PixelColours colours;
    BuildPixelColours(image, &colours);
    const HostGetImagePixelFn get = services->GetImagePixel;
    for (uint32_t y = 0; y < area.height; y++)
        for (uint32_t x = 0; x < area.width; x++)
            pixels[(size_t)y * area.width + x] = PixelColour(colours, ReadPixel(get, image, area, x, y));
    return pixels;
}

size_t BuildPaletteBytes(unsigned colorFormat, unsigned indexEntries, const uint32_t palette[256], int32_t* count,
                         uint8_t* out, size_t capacity) {
    const ChannelRow* row = GetChannelRow(colorFormat);
    if (!row || (indexEntries != 16 && indexEntries != 256)) return 0;
    const uint32_t n = PaletteFileEntries(indexEntries, *count < 0 ? 0 : (uint32_t)*count);
    if (capacity < kPaletteHeaderSize + 2 * (size_t)n) return 0;
    uint16_t entries[kPaletteMaxEntries] = {0};
    const uint32_t filled = *count < 0 ? 0 : (uint32_t)*count < n ? (uint32_t)*count : n;
    for (uint32_t i = 0; i < filled; i++) entries[i] = PackColor(row->encode, palette[i]);
    const size_t length = BuildPaletteFile(out, entries, n);
    *count = (int32_t)n;
    return length;
}
