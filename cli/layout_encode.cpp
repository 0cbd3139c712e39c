#include "layout_encode.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "export_core.h"
#include "files.h"
#include "layout.h"
#include "memory_host.h"
#include "mip_encode.h"
#include "palette.h"
#include "pvz.h"
#include "quantise.h"
#include "texture.h"
#include "vq_encode.h"

bool IsConverterLayout(const TextureSettings& s, int pngKind) {
    const DataTypeRow& row = DataTypeLayout(s.dataType);
    if (row.order == kDecoderNone) return false;
    if (!row.exported) return true;
    return (s.dataType == kTypePal4 || s.dataType == kTypePal8) && pngKind == kPngColor;
}

namespace {

// A texture being made: the whole .pvr image and, for a palette layout, the
// .pvp bytes.
struct Made {
    uint8_t* texture;
    uint32_t total;
    uint8_t palette[kPaletteMaxFileSize];
    size_t paletteLength;
};

int CheckSettings(const TextureSettings& s, uint32_t width, uint32_t height, uint64_t* needed, char* message) {
    const unsigned type = s.dataType, colour = s.colorFormat;
    TexelLayout layout;
    const int planned = PlanTexels(type, colour, width, height, &layout);
    if (type == kTypeTwiddledMipsHalf || type == kTypeTwiddledMipsByte)
        snprintf(message, kReportRoom, "DataType %u is not written: the format of its palette is recorded nowhere, "
                 "so the import cannot show its colours", type);
    else if (!HasChannelRow(colour))
        snprintf(message, kReportRoom, "DataType %u is written with ColorFormat 0, 1 or 2, not %u", type, colour);
    else if (planned != kTextureOk)
        snprintf(message, kReportRoom, "a %u x %u picture cannot be DataType %u: %s", width, height, type,
                 TextureCheckText(planned));
    else if (type == kTypeTwiddledMips && width != height)
        snprintf(message, kReportRoom, "DataType 2 is written for square pictures only, not %u x %u", width, height);
    else if (layout.needed > UINT32_MAX - kTextureHeaderSize)
        snprintf(message, kReportRoom, "a %u x %u picture is too large for DataType %u", width, height, type);
    else {
        *needed = layout.needed;
        return 0;
    }
    return -1;
}

// The picture's host colour values, row by row, in a new malloc block.
uint32_t* PictureOf(const PngImage& png) {
    const size_t count = (size_t)png.width * png.height;
    uint32_t* pixels = (uint32_t*)malloc(count * sizeof *pixels + 1);
    if (!pixels) return nullptr;
    for (size_t i = 0; i < count; i++) {
        const uint8_t* p = png.kind == kPngIndexed ? png.palette[png.pixels[i]] : png.pixels + 4 * i;
        pixels[i] = (uint32_t)p[3] << 24 | (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
    }
    return pixels;
}

// DataType 5 or 7: the nearest palette entry of each pixel, encoded by the
// export's own encoder from an indexed picture; the .pvp by its palette writer.
int QuantiseInto(const uint32_t* pixels, const TextureSettings& s, uint32_t width, uint32_t height, Made* made) {
    const size_t count = (size_t)width * height;
    uint32_t palette[256];
    MemoryHost host;
    InitMemoryHost(&host);
    int result = SetHostPicture(&host, (int32_t)width, (int32_t)height, kColorModeIndexed);
    uint8_t* indices = result == 0 ? (uint8_t*)malloc(count) : nullptr;
    const unsigned colours = s.dataType == kTypePal4 ? 16 : 256;
    int32_t entries = indices ? QuantisePicture(pixels, count, s.colorFormat, colours, indices, palette) : -1;
    result = entries < 0 ? -1 : 0;
    if (result == 0) {
        for (size_t i = 0; i < count; i++) host.pixels[i] = indices[i];
        uint8_t bytes[kExportPaletteBytes];
        for (int e = 0; e < 256; e++) WriteU32(bytes + 4 * e, palette[e]);   // blue, green, red, alpha
        const unsigned kind = s.dataType == kTypePal4 ? kPaletteKind4 : kPaletteKind8;
        made->paletteLength =
            BuildPaletteBytes(s.colorFormat, kind, bytes, &entries, made->palette, sizeof made->palette);
        uint8_t* texels = made->texture + kTextureHeaderSize;
        if (made->paletteLength == 0 ||
            EncodeTexels(texels, made->total - kTextureHeaderSize, made->texture + kHeaderPvrt, &host.services,
                         &host.image) != kEncodeOk)
            result = -1;
    }
    free(indices);
    FreeMemoryHost(&host);
    return result;
}

int FillTexels(const PngImage& png, const TextureSettings& s, Made* made) {
    uint32_t* pixels = PictureOf(png);
    if (!pixels) return -1;
    const size_t count = (size_t)png.width * png.height;
    uint8_t* texels = made->texture + kTextureHeaderSize;
    const size_t capacity = made->total - kTextureHeaderSize;
    int result;
    if (s.dataType == kTypePal4 || s.dataType == kTypePal8)
        result = QuantiseInto(pixels, s, png.width, png.height, made);
    else if (s.dataType == kTypeTwiddledMips)
        result = EncodeMipChain(pixels, count, png.width, s.colorFormat, texels, capacity);
    else
        result = EncodeVqTexels(pixels, count, png.width, s.dataType, s.colorFormat, kVqTrained, texels, capacity);
    free(pixels);
    return result;
}

}  // namespace

// Stages the palette (if any) and the texture, then commits both as one, as
// the export driver does.
static int WriteMade(const Made& made, const char* output, const char* palettePath, ConvertReport* report) {
    const ExportPlatform platform = ConverterFilePlatform(nullptr);
    const uint8_t* data = made.texture;
    size_t length = made.total;
    uint8_t* container = nullptr;
    uint32_t containerLength = 0;
    if (!IsPlainPvrPath(output)) {
        if (PvzCompress(made.texture, made.total, &kHeapAllocator, &container, &containerLength) != 0) {
            snprintf(report->message, kReportRoom, "no memory for the PVZ container");
            return -1;
        }
        data = container;
        length = containerLength;
    }
    StagedFile paletteFile = {}, textureFile = {};
    const char* failed = nullptr;
    errno = 0;
    if (palettePath && StageFile(&platform, palettePath, made.palette, made.paletteLength, &paletteFile) != 0)
        failed = palettePath;
    else if (StageFile(&platform, output, data, length, &textureFile) != 0)
        failed = output;
    else if (const int committed = CommitPair(&platform, &paletteFile, &textureFile))
        failed = committed == kExportPaletteNotCommitted ? palettePath : output;
    const int error = errno;
    DiscardFile(&platform, &paletteFile);
    DiscardFile(&platform, &textureFile);
    if (container) kHeapAllocator.Free(kHeapAllocator.context, container);
    if (failed)
        snprintf(report->message, kReportRoom, "cannot write %s%s%s", failed, error ? ": " : "",
                 error ? strerror(error) : "");
    return failed ? -1 : 0;
}

static bool Translucent(const PngImage& png) {
    const size_t count = (size_t)png.width * png.height;
    for (size_t i = 0; i < count; i++)
        if ((png.kind == kPngIndexed ? png.palette[png.pixels[i]][3] : png.pixels[4 * i + 3]) != 255) return true;
    return false;
}

static bool Exists(const char* path, bool force, ConvertReport* report) {
    if (!path || force || !PathExists(path)) return false;
    snprintf(report->message, kReportRoom, "%s exists (use --force to replace it)", path);
    return true;
}

int EncodeConverterLayout(const PngImage& png, const TextureSettings& settings, const char* output, bool force,
                          EncodeOutcome* outcome, ConvertReport* report) {
    uint64_t needed = 0;
    if (CheckSettings(settings, png.width, png.height, &needed, report->message) != 0) return -1;
    const char* palettePath = nullptr;
    if (settings.dataType == kTypePal4 || settings.dataType == kTypePal8) {
        if (!MakePalettePath(output, outcome->palettePath, sizeof outcome->palettePath)) {
            snprintf(report->message, kReportRoom, "no palette file name can be made from %s", output);
            return -1;
        }
        if (strcmp(outcome->palettePath, output) != 0) palettePath = outcome->palettePath;
    }
    if (Exists(output, force, report) || Exists(palettePath, force, report)) return -1;

    Made* made = (Made*)calloc(1, sizeof(Made));
    if (made) {
        made->total = (uint32_t)(kTextureHeaderSize + needed);
        made->texture = (uint8_t*)malloc(made->total);
    }
    int result = -1;
    if (made && made->texture) {
        WriteTextureHeader(made->texture, settings.globalIndex, settings.colorFormat, settings.dataType,
                           (uint16_t)png.width, (uint16_t)png.height, (uint32_t)needed);
        result = FillTexels(png, settings, made);
        if (result != 0)
            snprintf(report->message, kReportRoom, "no memory to encode a %u x %u picture", png.width, png.height);
        else
            result = WriteMade(*made, output, palettePath, report);
    } else {
        snprintf(report->message, kReportRoom, "no memory for the texture");
    }
    outcome->wrotePalette = result == 0 && palettePath;
    if (made) free(made->texture);
    free(made);
    const bool vq = settings.dataType != kTypePal4 && settings.dataType != kTypePal8 &&
                    settings.dataType != kTypeTwiddledMips;
    if (result == 0 && (vq || settings.colorFormat == kColorRgb565) && Translucent(png))
        snprintf(report->warning, kReportRoom, "%s keeps no alpha: the picture's transparency is dropped",
                 vq ? "VQ" : "ColorFormat 1 (RGB565)");
    return result;
}
