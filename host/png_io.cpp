// PNG files of the reference host, through the converter's PNG codec. A
// palette PNG keeps what it stores: its PLTE and tRNS give the palette, and
// each pixel keeps its own index, so entries of the same colour stay apart.
// Every other PNG is read as colours. Indexed pictures are written as palette
// PNGs, others as RGBA.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "png.h"
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

static uint32_t Argb(const uint8_t* rgba) {
    return (uint32_t)rgba[3] << 24 | (uint32_t)rgba[0] << 16 | (uint32_t)rgba[1] << 8 | rgba[2];
}

bool LoadPng(const char* path, HostPng* image) {
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(path, &bytes)) return false;
    PngImage png;
    InitPng(&png);
    char error[kPngErrorRoom];
    if (DecodePng(bytes.data(), bytes.size(), kMaxSide, kMaxPixels, &png, error, sizeof error) != 0) return false;
    const size_t count = (size_t)png.width * png.height;
    image->width = (int)png.width;
    image->height = (int)png.height;
    image->indexed = png.kind == kPngIndexed;
    image->argb.resize(count);
    if (image->indexed) {
        image->hasTrns = png.paletteAlpha;
        image->palette.resize(png.paletteCount);
        for (uint32_t e = 0; e < png.paletteCount; e++) image->palette[e] = Argb(png.palette[e]);
        image->index.assign(png.pixels, png.pixels + count);
        image->transparentEntry = TransparentEntry(image->palette);
        for (size_t i = 0; i < count; i++) image->argb[i] = image->palette[image->index[i]];
    } else {
        for (size_t i = 0; i < count; i++) image->argb[i] = Argb(png.pixels + 4 * i);
    }
    FreePng(&png);
    return true;
}

// Encodes the record and writes the file; frees its pixels.
static bool Save(const char* path, PngImage* png) {
    uint8_t* data = nullptr;
    size_t length = 0;
    bool ok = EncodePng(png, &data, &length) == 0 && WriteFileBytes(path, data, length);
    free(data);
    FreePng(png);
    return ok;
}

bool SavePng(const char* path, int width, int height, const std::vector<uint32_t>& argb) {
    if (width <= 0 || height <= 0 || argb.size() < (size_t)width * height) return false;
    PngImage png;
    InitPng(&png);
    png.width = (uint32_t)width;
    png.height = (uint32_t)height;
    png.kind = kPngColor;
    png.alpha = true;
    png.pixels = (uint8_t*)malloc((size_t)width * height * 4);
    if (!png.pixels) return false;
    for (size_t i = 0; i < (size_t)width * height; i++) {
        uint8_t* p = png.pixels + 4 * i;
        p[0] = (uint8_t)(argb[i] >> 16), p[1] = (uint8_t)(argb[i] >> 8), p[2] = (uint8_t)argb[i];
        p[3] = (uint8_t)(argb[i] >> 24);
    }
    return Save(path, &png);
}

bool SaveIndexedPng(const char* path, int width, int height, const std::vector<uint32_t>& palette,
                    const std::vector<uint8_t>& index) {
    if (width <= 0 || height <= 0 || index.size() < (size_t)width * height || palette.empty() ||
        palette.size() > 256)
        return false;
    for (size_t i = 0; i < (size_t)width * height; i++)
        if (index[i] >= palette.size()) return false;
    PngImage png;
    InitPng(&png);
    png.width = (uint32_t)width;
    png.height = (uint32_t)height;
    png.kind = kPngIndexed;
    png.paletteCount = (uint32_t)palette.size();
    for (size_t e = 0; e < palette.size(); e++) {
        png.palette[e][0] = (uint8_t)(palette[e] >> 16), png.palette[e][1] = (uint8_t)(palette[e] >> 8);
        png.palette[e][2] = (uint8_t)palette[e], png.palette[e][3] = (uint8_t)(palette[e] >> 24);
    }
    png.pixels = (uint8_t*)malloc((size_t)width * height);
    if (!png.pixels) return false;
    memcpy(png.pixels, index.data(), (size_t)width * height);
    return Save(path, &png);
}

void MakeHostImage(const HostPng& png, const std::string& mode, int left, int top, HostImage* image,
                   HostLayer* layer, std::vector<uint32_t>* source, int* sourceWidth, int* sourceHeight) {
    const std::string m = mode.empty() ? (png.indexed ? "indexed" : "direct") : mode;
    image->nColorMode = m == "two"       ? kColorModeTwoColour
                        : m == "grey"    ? kColorModeGrey
                        : m == "indexed" ? kColorModeIndexed
                                         : kColorModeDirect;
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
