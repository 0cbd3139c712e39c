// PNG files of the reference host, through libspng. A palette PNG keeps what
// it stores: its PLTE and tRNS give the palette, and each pixel keeps its own
// index, so entries of the same colour stay apart. Every other PNG is read as
// colours. Indexed pictures are written as palette PNGs, others as RGBA.
#include <spng.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "png_io.h"

// Far beyond any picture the host is given; keeps a lying IHDR from asking
// for gigabytes.
enum : uint32_t { kMaxSide = 1u << 16, kMaxPixels = 1u << 26 };

static bool ReadFileBytes(const char* path, std::vector<uint8_t>* bytes) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes->insert(bytes->end(), buffer, buffer + n);
    fclose(f);
    return true;
}

static bool WriteFileBytes(const char* path, const void* data, size_t length) {
    FILE* f = fopen(path, "wb");
    if (!f) return false;
    const bool ok = fwrite(data, 1, length, f) == length;
    return fclose(f) == 0 && ok;
}

// The one entry of alpha 0 when every other entry is opaque; -1 otherwise.
static int TransparentEntry(const std::vector<uint32_t>& palette) {
    int found = -1;
    for (size_t e = 0; e < palette.size(); e++) {
        const uint32_t alpha = palette[e] >> 24;
        if (alpha == 0 && found < 0) found = (int)e;
        else if (alpha != 0xFF) return -1;
    }
    return found;
}

// A palette PNG: the palette from PLTE and tRNS, every pixel's index as
// stored (an index beyond the palette is refused) and its colour.
static bool LoadIndexed(spng_ctx* ctx, const spng_ihdr& ihdr, PngImage* image) {
    spng_plte plte;
    if (spng_get_plte(ctx, &plte) != 0 || plte.n_entries == 0 || plte.n_entries > 256) return false;
    image->palette.resize(plte.n_entries);
    for (uint32_t i = 0; i < plte.n_entries; i++)
        image->palette[i] = 0xFF000000u | (uint32_t)plte.entries[i].red << 16 |
                            (uint32_t)plte.entries[i].green << 8 | plte.entries[i].blue;
    spng_trns trns;
    if (spng_get_trns(ctx, &trns) == 0) {
        image->hasTrns = true;
        for (uint32_t i = 0; i < trns.n_type3_entries && i < plte.n_entries; i++)
            image->palette[i] = (image->palette[i] & 0x00FFFFFFu) | (uint32_t)trns.type3_alpha[i] << 24;
    }
    size_t size = 0;
    if (spng_decoded_image_size(ctx, SPNG_FMT_PNG, &size) != 0) return false;
    const size_t stride = size / ihdr.height;
    const unsigned depth = ihdr.bit_depth;
    if (stride < ((size_t)ihdr.width * depth + 7) / 8) return false;
    // Zeroed: interlaced rows of less than a byte a pixel are merged into it.
    std::vector<uint8_t> packed(size, 0);
    if (spng_decode_image(ctx, packed.data(), packed.size(), SPNG_FMT_PNG, 0) != 0) return false;
    image->index.resize((size_t)ihdr.width * ihdr.height);
    const unsigned mask = (1u << depth) - 1;
    for (uint32_t y = 0; y < ihdr.height; y++)
        for (uint32_t x = 0; x < ihdr.width; x++) {
            const size_t bit = (size_t)x * depth;
            const unsigned index = (packed[y * stride + bit / 8] >> (8 - depth - bit % 8)) & mask;
            if (index >= image->palette.size()) return false;
            image->index[(size_t)y * ihdr.width + x] = (uint8_t)index;
        }
    image->indexed = true;
    image->transparentEntry = TransparentEntry(image->palette);
    image->argb.resize(image->index.size());
    for (size_t i = 0; i < image->index.size(); i++) image->argb[i] = image->palette[image->index[i]];
    return true;
}

static bool LoadColour(spng_ctx* ctx, const spng_ihdr& ihdr, PngImage* image) {
    size_t size = 0;
    const size_t count = (size_t)ihdr.width * ihdr.height;
    if (spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) != 0 || size != 4 * count) return false;
    std::vector<uint8_t> rgba(size);
    if (spng_decode_image(ctx, rgba.data(), rgba.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0) return false;
    image->argb.resize(count);
    for (size_t i = 0; i < count; i++) {
        const uint8_t* p = &rgba[4 * i];
        image->argb[i] = (uint32_t)p[3] << 24 | (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
    }
    return true;
}

bool LoadPng(const char* path, PngImage* image) {
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(path, &bytes)) return false;
    spng_ctx* ctx = spng_ctx_new(0);
    if (!ctx) return false;
    spng_ihdr ihdr;
    bool ok = spng_set_png_buffer(ctx, bytes.data(), bytes.size()) == 0 && spng_get_ihdr(ctx, &ihdr) == 0 &&
              ihdr.width <= kMaxSide && ihdr.height <= kMaxSide &&
              (uint64_t)ihdr.width * ihdr.height <= kMaxPixels;
    if (ok) {
        ok = ihdr.color_type == SPNG_COLOR_TYPE_INDEXED ? LoadIndexed(ctx, ihdr, image) : LoadColour(ctx, ihdr, image);
        image->width = (int)ihdr.width;
        image->height = (int)ihdr.height;
    }
    spng_ctx_free(ctx);
    return ok;
}

// Encodes 8-bit pixels of the IHDR's colour type (and the palette set on
// `ctx`, if any) and writes the file.
static bool Encode(spng_ctx* ctx, const char* path, const uint8_t* pixels, size_t length) {
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_set_option(ctx, SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_UP);
    bool ok = spng_encode_image(ctx, pixels, length, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) == 0;
    size_t size = 0;
    int error = 0;
    void* png = ok ? spng_get_png_buffer(ctx, &size, &error) : nullptr;
    ok = png && error == 0 && WriteFileBytes(path, png, size);
    free(png);
    return ok;
}

static spng_ihdr Header(int width, int height, uint8_t colorType) {
    spng_ihdr ihdr;
    memset(&ihdr, 0, sizeof ihdr);
    ihdr.width = (uint32_t)width;
    ihdr.height = (uint32_t)height;
    ihdr.bit_depth = 8;
    ihdr.color_type = colorType;
    return ihdr;
}

bool SavePng(const char* path, int width, int height, const std::vector<uint32_t>& argb) {
    if (width <= 0 || height <= 0 || argb.size() < (size_t)width * height) return false;
    std::vector<uint8_t> rgba((size_t)width * height * 4);
    for (size_t i = 0; i < (size_t)width * height; i++) {
        rgba[4 * i + 0] = (uint8_t)(argb[i] >> 16);
        rgba[4 * i + 1] = (uint8_t)(argb[i] >> 8);
        rgba[4 * i + 2] = (uint8_t)argb[i];
        rgba[4 * i + 3] = (uint8_t)(argb[i] >> 24);
    }
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    if (!ctx) return false;
    spng_ihdr ihdr = Header(width, height, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA);
    const bool ok = spng_set_ihdr(ctx, &ihdr) == 0 && Encode(ctx, path, rgba.data(), rgba.size());
    spng_ctx_free(ctx);
    return ok;
}

bool SaveIndexedPng(const char* path, int width, int height, const std::vector<uint32_t>& palette,
                    const std::vector<uint8_t>& index) {
    if (width <= 0 || height <= 0 || index.size() < (size_t)width * height || palette.empty() ||
        palette.size() > 256)
        return false;
    for (size_t i = 0; i < (size_t)width * height; i++)
        if (index[i] >= palette.size()) return false;
    spng_plte plte;
    memset(&plte, 0, sizeof plte);
    spng_trns trns;
    memset(&trns, 0, sizeof trns);
    plte.n_entries = (uint32_t)palette.size();
    for (size_t i = 0; i < palette.size(); i++) {
        plte.entries[i].red = (uint8_t)(palette[i] >> 16);
        plte.entries[i].green = (uint8_t)(palette[i] >> 8);
        plte.entries[i].blue = (uint8_t)palette[i];
        trns.type3_alpha[i] = (uint8_t)(palette[i] >> 24);
        if (trns.type3_alpha[i] != 0xFF) trns.n_type3_entries = (uint32_t)i + 1;
    }
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    if (!ctx) return false;
    spng_ihdr ihdr = Header(width, height, SPNG_COLOR_TYPE_INDEXED);
    bool ok = spng_set_ihdr(ctx, &ihdr) == 0 && spng_set_plte(ctx, &plte) == 0 &&
              (trns.n_type3_entries == 0 || spng_set_trns(ctx, &trns) == 0);
    // Palette indices gain nothing from row filters.
    if (ok) spng_set_option(ctx, SPNG_FILTER_CHOICE, SPNG_DISABLE_FILTERING);
    ok = ok && Encode(ctx, path, index.data(), (size_t)width * height);
    spng_ctx_free(ctx);
    return ok;
}

void MakeHostImage(const PngImage& png, const std::string& mode, int left, int top, HostImage* image,
                   HostLayer* layer, std::vector<uint32_t>* source, int* sourceWidth, int* sourceHeight) {
    const std::string m = mode.empty() ? (png.indexed ? "indexed" : "direct") : mode;
    image->nColorMode = m == "two" ? 1 : m == "grey" ? 2 : m == "indexed" ? 3 : 4;
    *sourceWidth = left + png.width;
    *sourceHeight = top + png.height;
    source->assign((size_t)*sourceWidth * *sourceHeight, 0);
    for (int y = 0; y < png.height; y++)
        for (int x = 0; x < png.width; x++) {
            const size_t i = (size_t)y * png.width + x;
            const uint32_t argb = png.argb[i];
            uint32_t value = argb;
            if (m == "indexed") value = png.indexed ? png.index[i] : (argb & 0xFF);
            if (m == "grey") value = png.indexed ? png.index[i] : ((argb >> 16) & 0xFF);
            if (m == "two") value = png.indexed ? (png.index[i] & 1) : (((argb >> 16) & 0xFF) >= 128);
            (*source)[(size_t)(top + y) * *sourceWidth + left + x] = value;
        }
    for (size_t e = 0; e < png.palette.size() && e < 256; e++) image->aPalette[e] = png.palette[e];
    image->nPaletteCount = (int32_t)png.palette.size();
    if (png.transparentEntry >= 0) image->nTransparentIndex = png.transparentEntry;
    if (png.indexed && png.hasTrns) image->bAlpha = 1;
    layer->nLeft = left;
    layer->nTop = top;
    layer->nRight = left + png.width;
    layer->nBottom = top + png.height;
}
