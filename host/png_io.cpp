// PNG files. A palette PNG is read by the host itself: its PLTE and tRNS
// chunks give the palette, its IDAT stream (inflated by stb_image's zlib)
// gives each pixel's index as stored, so entries of the same colour stay
// apart. Every other PNG is read as colours through stb_image; PNGs are
// written through stb_image_write.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>
#include <stb_image_write.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "png_io.h"

// What IHDR says, and the concatenated IDAT data.
struct PngHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    int bitDepth = 0;
    int colorType = -1;
    int interlace = 0;
    std::vector<uint8_t> idat;
};

// The Adam7 passes: first column and row, column and row step. A picture
// that is not interlaced is the single pass {0, 0, 1, 1}.
struct Pass {
    uint32_t x0, y0, dx, dy;
};
static const Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                               {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
static const Pass kWhole = {0, 0, 1, 1};

static uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

static bool ReadFileBytes(const char* path, std::vector<uint8_t>* bytes) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes->insert(bytes->end(), buffer, buffer + n);
    fclose(f);
    return true;
}

// Walks the chunks: IHDR into `header`, PLTE and tRNS into the palette, IDAT
// appended to header->idat.
static void ReadChunks(const std::vector<uint8_t>& bytes, PngImage* image, PngHeader* header) {
    for (size_t at = 8; at + 12 <= bytes.size();) {
        uint32_t length = BigEndian32(&bytes[at]);
        if (length > bytes.size() - at - 12) break;
        const uint8_t* type = &bytes[at + 4];
        const uint8_t* data = &bytes[at + 8];
        if (memcmp(type, "IHDR", 4) == 0 && length >= 13) {
            header->width = BigEndian32(data);
            header->height = BigEndian32(data + 4);
            header->bitDepth = data[8];
            header->colorType = data[9];
            header->interlace = data[12];
        }
        if (memcmp(type, "PLTE", 4) == 0) {
            image->palette.clear();
            for (uint32_t i = 0; i + 3 <= length && image->palette.size() < 256; i += 3)
                image->palette.push_back(0xFF000000u | (uint32_t)data[i] << 16 | (uint32_t)data[i + 1] << 8 | data[i + 2]);
        }
        if (memcmp(type, "tRNS", 4) == 0 && header->colorType == 3)
            for (uint32_t i = 0; i < length && i < image->palette.size(); i++)
                image->palette[i] = (image->palette[i] & 0x00FFFFFFu) | (uint32_t)data[i] << 24;
        if (memcmp(type, "IDAT", 4) == 0) header->idat.insert(header->idat.end(), data, data + length);
        at += 12 + (size_t)length;
    }
}

static uint8_t Paeth(uint8_t a, uint8_t b, uint8_t c) {
    int p = a + b - c, pa = abs(p - a), pb = abs(p - b), pc = abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Undoes the filter of one row of `rowBytes` bytes (one byte a pixel or
// less) in place; `previous` is the row above, unfiltered, or null.
static bool Unfilter(uint8_t filter, uint8_t* row, const uint8_t* previous, size_t rowBytes) {
    for (size_t i = 0; i < rowBytes; i++) {
        uint8_t left = i > 0 ? row[i - 1] : 0, up = previous ? previous[i] : 0;
        uint8_t corner = previous && i > 0 ? previous[i - 1] : 0;
        switch (filter) {
            case 0: break;
            case 1: row[i] = (uint8_t)(row[i] + left); break;
            case 2: row[i] = (uint8_t)(row[i] + up); break;
            case 3: row[i] = (uint8_t)(row[i] + ((left + up) >> 1)); break;
            case 4: row[i] = (uint8_t)(row[i] + Paeth(left, up, corner)); break;
            default: return false;
        }
    }
    return true;
}

// Reads one pass from data[*at..size) into image->index; false for a stream
// too short, an unknown filter or an index beyond the palette.
static bool ReadPass(const PngHeader& h, const Pass& p, uint8_t* data, size_t size, size_t* at, PngImage* image) {
    if (h.width <= p.x0 || h.height <= p.y0) return true;   // an empty pass
    const size_t columns = (h.width - p.x0 + p.dx - 1) / p.dx, rows = (h.height - p.y0 + p.dy - 1) / p.dy;
    const size_t rowBytes = (columns * (size_t)h.bitDepth + 7) / 8;
    const unsigned mask = (1u << h.bitDepth) - 1;
    const uint8_t* previous = nullptr;
    for (size_t r = 0; r < rows; r++) {
        if (size - *at < 1 + rowBytes) return false;
        uint8_t* row = data + *at + 1;
        if (!Unfilter(data[*at], row, previous, rowBytes)) return false;
        for (size_t c = 0; c < columns; c++) {
            const size_t bit = c * (size_t)h.bitDepth;
            const unsigned index = (row[bit / 8] >> (8 - h.bitDepth - bit % 8)) & mask;
            if (index >= image->palette.size()) return false;
            image->index[(p.y0 + r * p.dy) * h.width + p.x0 + c * p.dx] = (uint8_t)index;
        }
        previous = row;
        *at += 1 + rowBytes;
    }
    return true;
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

// A palette PNG: every pixel's index from the inflated IDAT stream, and its
// colour from the palette.
static bool LoadIndexed(PngHeader* h, PngImage* image) {
    const int depth = h->bitDepth;
    if ((depth != 1 && depth != 2 && depth != 4 && depth != 8) || h->interlace > 1 || image->palette.empty() ||
        h->width == 0 || h->height == 0 || h->width > (1u << 16) || h->height > (1u << 16) || h->idat.size() > 0x7FFFFFFF)
        return false;
    int length = 0;
    uint8_t* data = (uint8_t*)stbi_zlib_decode_malloc((const char*)h->idat.data(), (int)h->idat.size(), &length);
    bool ok = data != nullptr;
    image->index.assign((size_t)h->width * h->height, 0);
    size_t at = 0;
    const Pass* passes = h->interlace ? kAdam7 : &kWhole;
    for (int i = 0; ok && i < (h->interlace ? 7 : 1); i++) ok = ReadPass(*h, passes[i], data, (size_t)length, &at, image);
    STBI_FREE(data);
    if (!ok) return false;
    image->width = (int)h->width;
    image->height = (int)h->height;
    image->indexed = true;
    image->transparentEntry = TransparentEntry(image->palette);
    image->argb.resize(image->index.size());
    for (size_t i = 0; i < image->index.size(); i++) image->argb[i] = image->palette[image->index[i]];
    return true;
}

bool LoadPng(const char* path, PngImage* image) {
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(path, &bytes) || bytes.size() < 8 || memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8) != 0)
        return false;
    PngHeader header;
    ReadChunks(bytes, image, &header);
    if (header.colorType == 3) return LoadIndexed(&header, image);
    int w = 0, h = 0, channels = 0;
    uint8_t* rgba = stbi_load_from_memory(bytes.data(), (int)bytes.size(), &w, &h, &channels, 4);
    if (!rgba) return false;
    image->width = w;
    image->height = h;
    image->argb.resize((size_t)w * h);
    for (size_t i = 0; i < image->argb.size(); i++) {
        const uint8_t* p = rgba + 4 * i;
        image->argb[i] = (uint32_t)p[3] << 24 | (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
    }
    stbi_image_free(rgba);
    return true;
}

bool SavePng(const char* path, int width, int height, const std::vector<uint32_t>& argb) {
    std::vector<uint8_t> rgba((size_t)width * height * 4);
    for (size_t i = 0; i < argb.size() && i < (size_t)width * height; i++) {
        rgba[4 * i + 0] = (uint8_t)(argb[i] >> 16);
        rgba[4 * i + 1] = (uint8_t)(argb[i] >> 8);
        rgba[4 * i + 2] = (uint8_t)argb[i];
        rgba[4 * i + 3] = (uint8_t)(argb[i] >> 24);
    }
    return width > 0 && height > 0 && stbi_write_png(path, width, height, 4, rgba.data(), width * 4) != 0;
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
    layer->nLeft = left;
    layer->nTop = top;
    layer->nRight = left + png.width;
    layer->nBottom = top + png.height;
}
