// Pictures between PNG records and the in-memory host.
#include "picture.h"

#include <stdlib.h>
#include <string.h>

#include "layout.h"
#include "texture.h"

static_assert((int)kPictureTagRoom == (int)kPngTextRoom && (int)kPictureSourceRoom == (int)kPngSourceRoom,
              "a picture's summary keeps its PNG texts whole");

int HostToPng(const MemoryHost* host, PngImage* png) {
    InitPng(png);
    png->width = (uint32_t)host->width;
    png->height = (uint32_t)host->height;
    const size_t count = (size_t)host->width * (size_t)host->height;
    const bool indexed = host->image.nColorMode == kColorModeIndexed;
    png->kind = indexed ? kPngIndexed : kPngColor;
    png->alpha = !indexed;
    png->pixels = (uint8_t*)malloc(count * PngPixelBytes(*png) + 1);
    if (!png->pixels) return kConvertFailed;
    if (indexed) {
        uint32_t used = 1;
        for (size_t i = 0; i < count; i++) {
            const uint8_t index = (uint8_t)host->pixels[i];
            png->pixels[i] = index;
            if (index + 1u > used) used = index + 1u;
        }
        int32_t entries = host->image.nPaletteCount;
        if (entries < 0) entries = 0;
        if (entries > 256) entries = 256;
        png->paletteCount = (uint32_t)entries > used ? (uint32_t)entries : used;
        for (uint32_t i = 0; i < png->paletteCount; i++) {
            const uint32_t v = host->image.aPalette[i];
            png->palette[i][0] = (uint8_t)(v >> 16);
            png->palette[i][1] = (uint8_t)(v >> 8);
            png->palette[i][2] = (uint8_t)v;
            png->palette[i][3] = (uint8_t)(v >> 24);
        }
    } else {
        for (size_t i = 0; i < count; i++) {
            const uint32_t v = host->pixels[i];
            uint8_t* p = png->pixels + 4 * i;
            p[0] = (uint8_t)(v >> 16);
            p[1] = (uint8_t)(v >> 8);
            p[2] = (uint8_t)v;
            p[3] = (uint8_t)(v >> 24);
        }
    }
    return kConvertDone;
}

int HostToRaw(const MemoryHost* host, uint8_t** data, size_t* length) {
    const size_t count = (size_t)host->width * (size_t)host->height;
    *length = 0;
    *data = (uint8_t*)malloc(4 * count + 1);
    if (!*data) return kConvertFailed;
    for (size_t i = 0; i < count; i++) WriteU32(*data + 4 * i, host->pixels[i]);
    *length = 4 * count;
    return kConvertDone;
}

static uint32_t HostColor(const uint8_t rgba[4]) {
    return (uint32_t)rgba[3] << 24 | (uint32_t)rgba[0] << 16 | (uint32_t)rgba[1] << 8 | rgba[2];
}

// The highest index or grey level a picture uses.
static unsigned HighestValue(const PngImage& png) {
    const size_t count = (size_t)png.width * png.height;
    unsigned highest = 0;
    for (size_t i = 0; i < count; i++) {
        const unsigned v = png.kind == kPngIndexed ? png.pixels[i] : png.pixels[4 * i];
        if (v > highest) highest = v;
    }
    return highest;
}

// The colour mode of the host picture for these settings, or -1 (with the
// reason) for a picture the layout cannot hold.
static int32_t PictureMode(const PngImage& png, const TextureSettings& settings, ConvertReport* report) {
    const unsigned limit = IndexEntries(settings.dataType, settings.colorFormat);
    const bool indices = limit != 0;
    if (indices && HasPaletteFile(settings.dataType)) {
        // Its colours go to the palette chosen for the texture.
        if (png.kind != kPngIndexed || HighestValue(png) >= limit) return kColorModeDirect;
        return kColorModeIndexed;
    }
    if (!indices) return kColorModeDirect;
    if (png.kind == kPngColor) {
        snprintf(report->message, kReportRoom,
                 "DataType %u with ColorFormat %u stores palette indices without a palette file: give a palette or "
                 "grey PNG, not a colour one", (unsigned)settings.dataType, (unsigned)settings.colorFormat);
        return -1;
    }
    const unsigned highest = HighestValue(png);
    if (highest >= limit) {
        snprintf(report->message, kReportRoom, "DataType %u with ColorFormat %u keeps %u colours, but the picture uses %s %u",
                 (unsigned)settings.dataType, (unsigned)settings.colorFormat, limit,
                 png.kind == kPngIndexed ? "index" : "grey level", highest);
        return -1;
    }
    return png.kind == kPngIndexed ? kColorModeIndexed : kColorModeGrey;
}

// The indices of a picture of an index texture (no palette file) as decode
// shows them, as grey levels i x 255 / (entries - 1): true when every pixel
// is an opaque grey of that ladder (for a palette PNG, the entries it uses
// also distinct), with `out` filled (width x height).
static bool LadderIndices(const PngImage& png, uint32_t entries, uint8_t* out) {
    const unsigned step = (IndexGrey(1, entries) & 0xFF) - (IndexGrey(0, entries) & 0xFF);
    const size_t count = (size_t)png.width * png.height;
    uint32_t levelOf[256];
    bool seenLevel[256] = {false};
    if (png.kind == kPngIndexed) {
        bool used[256] = {false};
        for (size_t i = 0; i < count; i++) used[png.pixels[i]] = true;
        for (uint32_t e = 0; e < 256; e++) {
            if (!used[e]) continue;
            const uint8_t* c = png.palette[e];
            if (c[3] != 255 || c[0] != c[1] || c[1] != c[2] || c[0] % step != 0 || seenLevel[c[0]]) return false;
            seenLevel[c[0]] = true;
            levelOf[e] = c[0] / step;
        }
        for (size_t i = 0; i < count; i++) out[i] = (uint8_t)levelOf[png.pixels[i]];
        return true;
    }
    for (size_t i = 0; i < count; i++) {
        const uint8_t* c = png.pixels + 4 * i;
        if (c[3] != 255 || c[0] != c[1] || c[1] != c[2] || c[0] % step != 0) return false;
        out[i] = (uint8_t)(c[0] / step);
    }
    return true;
}

int PngToHost(const PngImage& png, const TextureSettings& settings, MemoryHost* host, ConvertReport* report) {
    InitMemoryHost(host);
    const uint32_t entries = IndexEntries(settings.dataType, settings.colorFormat);
    if (entries != 0 && !HasPaletteFile(settings.dataType)) {
        // An index texture: its grey ladder, whatever a tool made of the PNG.
        const size_t count = (size_t)png.width * png.height;
        uint8_t* ladder = (uint8_t*)malloc(count + 1);
        if (ladder && LadderIndices(png, entries, ladder)) {
            if (SetHostPicture(host, (int32_t)png.width, (int32_t)png.height, kColorModeIndexed) != 0) {
                free(ladder);
                snprintf(report->message, kReportRoom, "no memory for a %u x %u picture", png.width, png.height);
                return kConvertFailed;
            }
            host->image.nPaletteCount = (int32_t)entries;
            for (uint32_t i = 0; i < entries; i++) host->image.aPalette[i] = IndexGrey(i, entries);
            for (size_t i = 0; i < count; i++) host->pixels[i] = ladder[i];
            free(ladder);
            return kConvertDone;
        }
        free(ladder);
    }
    const int32_t mode = PictureMode(png, settings, report);
    if (mode < 0) return kConvertFailed;
    if (SetHostPicture(host, (int32_t)png.width, (int32_t)png.height, mode) != 0) {
        snprintf(report->message, kReportRoom, "no memory for a %u x %u picture", png.width, png.height);
        return kConvertFailed;
    }
    HostImage& image = host->image;
    const size_t count = (size_t)png.width * png.height;
    if (mode == kColorModeIndexed) {
        // The entries with their own alpha, as the import leaves them in the host.
        image.nPaletteCount = (int32_t)png.paletteCount;
        unsigned transparent = 0;
        for (uint32_t i = 0; i < png.paletteCount; i++) {
            image.aPalette[i] = HostColor(png.palette[i]);
            if (png.palette[i][3] == 0 && transparent++ == 0) image.nTransparentIndex = (int32_t)i;
            if (png.palette[i][3] != 255) image.bAlpha = 1;
        }
        if (transparent != 1) image.nTransparentIndex = -1;
        for (size_t i = 0; i < count; i++) host->pixels[i] = png.pixels[i];
        return kConvertDone;
    }
    bool translucent = false;
    for (size_t i = 0; i < count; i++) {
        const uint8_t* rgba = png.kind == kPngIndexed ? png.palette[png.pixels[i]] : png.pixels + 4 * i;
        host->pixels[i] = HostColor(rgba);
        if (rgba[3] != 255) translucent = true;
    }
    image.bAlpha = translucent || png.alpha ? 1 : 0;
    return kConvertDone;
}
