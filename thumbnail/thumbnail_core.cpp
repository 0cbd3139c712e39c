// Thumbnails of textures: the import driver on the in-memory host, with the
// palette handed over as bytes, then a box filter.
#include "thumbnail_core.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "import_core.h"
#include "memory_host.h"

namespace {

// Blocks the import asks for beyond this (a .pvz's expansion) are refused:
// the largest picture taken holds no more texels than this in 16 bits, twice.
const size_t kThumbnailMaxBlock = (size_t)4 * kThumbnailMaxPixels + 4096;

// The palette is the only file the driver reads through the platform.
struct PaletteBytes {
    const uint8_t* bytes;   // null: there is none
    size_t length;
};

int ReadPalette(void* context, const char*, size_t limit, uint8_t** block, size_t* size) {
    *block = nullptr;
    *size = 0;
    const PaletteBytes* palette = static_cast<const PaletteBytes*>(context);
    if (!palette->bytes) return -1;
    const size_t length = palette->length < limit ? palette->length : limit;
    *block = (uint8_t*)calloc(length + 1, 1);
    if (!*block) return -2;
    memcpy(*block, palette->bytes, length);
    *size = length;
    return 0;
}

void* AllocBlock(void*, size_t size) { return size <= kThumbnailMaxBlock ? calloc(size ? size : 1, 1) : nullptr; }
void FreeBlock(void*, void* block) { free(block); }
// The palette is the one beside the texture, or none: no dialog.
int KeepPalettePath(void*, char*, size_t) { return 0; }
void NoLayerNull(void*) {}

// The name the driver is given: the container's extension is all it uses.
void DriverPath(const char* name, char* path, size_t room) {
    const size_t length = name ? strlen(name) : 0;
    const char* extension = length >= 4 ? name + length - 4 : ".pvr";
    snprintf(path, room, "thumbnail%.4s", extension);
}

// Source pixel x covers [x * outSize, (x + 1) * outSize) and output pixel o
// covers [o * size, (o + 1) * size): the first source pixel of o and the
// length its overlap has with pixel x.
uint32_t FirstCovered(uint32_t o, uint32_t size, uint32_t outSize) {
    return (uint32_t)((uint64_t)o * size / outSize);
}
uint64_t Overlap(uint32_t x, uint32_t o, uint32_t size, uint32_t outSize) {
    const uint64_t begin = (uint64_t)x * outSize > (uint64_t)o * size ? (uint64_t)x * outSize : (uint64_t)o * size;
    const uint64_t end = (uint64_t)(x + 1) * outSize < (uint64_t)(o + 1) * size ? (uint64_t)(x + 1) * outSize
                                                                                 : (uint64_t)(o + 1) * size;
    return end > begin ? end - begin : 0;
}

}  // namespace

void ThumbnailSize(uint32_t width, uint32_t height, uint32_t side, uint32_t* outWidth, uint32_t* outHeight) {
    *outWidth = width;
    *outHeight = height;
    const uint32_t longer = width > height ? width : height;
    if (side == 0 || longer <= side) return;
    *outWidth = (uint32_t)(((uint64_t)width * side + longer / 2) / longer);
    *outHeight = (uint32_t)(((uint64_t)height * side + longer / 2) / longer);
    if (*outWidth == 0) *outWidth = 1;
    if (*outHeight == 0) *outHeight = 1;
}

void ShrinkPicture(const uint32_t* source, uint32_t width, uint32_t height, uint32_t* out, uint32_t outWidth,
                   uint32_t outHeight) {
    const uint64_t area = (uint64_t)width * height;   // of every output pixel, in these units
    for (uint32_t oy = 0; oy < outHeight; oy++)
        for (uint32_t ox = 0; ox < outWidth; ox++) {
            uint64_t sum[4] = {0, 0, 0, 0};   // red, green and blue times alpha; alpha
            for (uint32_t y = FirstCovered(oy, height, outHeight); y < height; y++) {
                const uint64_t wy = Overlap(y, oy, height, outHeight);
                if (wy == 0) break;
                for (uint32_t x = FirstCovered(ox, width, outWidth); x < width; x++) {
                    const uint64_t wx = Overlap(x, ox, width, outWidth);
                    if (wx == 0) break;
                    const uint32_t c = source[(size_t)y * width + x];
                    const uint64_t weight = wx * wy * (c >> 24);
                    sum[0] += weight * (c >> 16 & 0xFF);
                    sum[1] += weight * (c >> 8 & 0xFF);
                    sum[2] += weight * (c & 0xFF);
                    sum[3] += weight;
                }
            }
            uint32_t value = (uint32_t)((sum[3] + area / 2) / area) << 24;
            for (int k = 0; k < 3; k++)
                if (sum[3]) value |= (uint32_t)((sum[k] + sum[3] / 2) / sum[3]) << (16 - 8 * k);
            out[(size_t)oy * outWidth + ox] = value;
        }
}

bool ThumbnailNeedsPalette(const uint8_t* texture, size_t length, const char* name) {
    char path[16];
    DriverPath(name, path, sizeof path);
    TextureCheck check;
    return texture && CheckTextureFile(texture, length, path, &check) == kTextureOk &&
           check.decision.paletteCount != 0;
}

int MakeTextureThumbnail(const ThumbnailInput& input, ThumbnailPicture* picture) {
    memset(picture, 0, sizeof *picture);
    if (!input.texture || input.side == 0) return kThumbnailRefused;
    char path[16];
    DriverPath(input.name, path, sizeof path);
    TextureCheck check;
    if (CheckTextureFile(input.texture, input.length, path, &check) != kTextureOk) return kThumbnailRefused;
    const uint64_t maxPixels = input.maxPixels ? input.maxPixels : kThumbnailMaxPixels;
    if ((uint64_t)check.info.width * check.info.height > maxPixels) return kThumbnailTooLarge;

    MemoryHost* host = (MemoryHost*)malloc(sizeof(MemoryHost));
    if (!host) return kThumbnailNoMemory;
    InitMemoryHost(host);
    host->maxPixels = maxPixels;
    PaletteBytes palette = {input.palette, input.paletteLength};
    const ImportPlatform platform = {&palette, ReadPalette, AllocBlock, FreeBlock, KeepPalettePath, NoLayerNull};
    ImportOutcome* outcome = (ImportOutcome*)malloc(sizeof(ImportOutcome));
    int result = kThumbnailNoMemory;
    if (outcome) {
        const int status =
            ImportTexture(path, input.texture, input.length, &host->image, &host->services, &platform, outcome);
        if (host->outOfMemory) result = kThumbnailNoMemory;
        else if (status != kStatusDone || outcome->decoded != kDecodeDone || host->width <= 0 || host->height <= 0)
            result = outcome->checked == kTextureNoMemory ? kThumbnailNoMemory : kThumbnailRefused;
        else result = kThumbnailOk;
    }
    uint32_t* colors = nullptr;
    const size_t count = result == kThumbnailOk ? (size_t)host->width * (size_t)host->height : 0;
    if (result == kThumbnailOk) {
        colors = (uint32_t*)malloc(count * sizeof(uint32_t));
        if (!colors) result = kThumbnailNoMemory;
    }
    if (result == kThumbnailOk) {
        uint32_t colorOf[256];
        const bool indexed = host->image.nColorMode == kColorModeIndexed;
        if (indexed) {
            const int32_t entries = host->image.nPaletteCount > 1 && host->image.nPaletteCount <= 256
                                        ? host->image.nPaletteCount : 256;
            for (int32_t i = 0; i < 256; i++) {
                // Without its .pvp, a ramp from black to white over the entries.
                const uint32_t grey = i < entries ? (uint32_t)(i * 255 / (entries - 1)) : 255;
                colorOf[i] = outcome->palette == kPaletteUnread ? 0xFF000000u | grey * 0x010101u
                                                                : host->image.aPalette[i];
            }
        }
        for (size_t i = 0; i < count; i++) colors[i] = indexed ? colorOf[host->pixels[i] & 0xFF] : host->pixels[i];
        ThumbnailSize((uint32_t)host->width, (uint32_t)host->height, input.side, &picture->width, &picture->height);
        picture->pixels = (uint32_t*)malloc((size_t)picture->width * picture->height * sizeof(uint32_t));
        if (!picture->pixels) {
            result = kThumbnailNoMemory;
            picture->width = picture->height = 0;
        } else if (picture->width == (uint32_t)host->width && picture->height == (uint32_t)host->height) {
            memcpy(picture->pixels, colors, count * sizeof(uint32_t));   // as decoded, transparent colours too
        } else {
            ShrinkPicture(colors, (uint32_t)host->width, (uint32_t)host->height, picture->pixels, picture->width,
                          picture->height);
        }
    }
    free(colors);
    free(outcome);
    FreeMemoryHost(host);
    free(host);
    return result;
}

void FreeThumbnail(ThumbnailPicture* picture) {
    free(picture->pixels);
    memset(picture, 0, sizeof *picture);
}
