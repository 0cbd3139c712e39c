// The texture an encode replaces, held against the new picture: what the
// picture did not change keeps the texels it had.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "convert.h"
#include "files.h"
#include "layout.h"
#include "pvz.h"
#include "texture.h"

namespace {

// The texel data of the texture at `path` as its layout reads it (a .pvz
// expanded), in a new block: true with the block, where the data starts and
// its length.
bool ReadTexels(const char* path, uint8_t** block, const uint8_t** texels, size_t* length) {
    *block = nullptr;
    uint8_t* file = nullptr;
    size_t fileLength = 0;
    uint64_t total = 0;
    int checked = kTextureOk;
    if (ReadTexture(path, &file, &fileLength, &total, &checked) != kFileOk || checked != kTextureOk) {
        free(file);
        return false;
    }
    TextureCheck check;
    if (CheckTextureFile(file, fileLength, path, &check) != kTextureOk) {
        free(file);
        return false;
    }
    if (check.container == kContainerPvr) {
        *block = file;
        *texels = file + kTextureHeaderSize;
        *length = fileLength - kTextureHeaderSize;
        return true;
    }
    uint8_t* expanded = (uint8_t*)calloc((size_t)check.pvzBlockSize + 1, 1);
    size_t bytes = 0;
    const bool done = expanded && ExpandCheckedPvz(file, fileLength, check, expanded, &bytes) == 0;
    free(file);
    if (!done) {
        free(expanded);
        return false;
    }
    *block = expanded;
    *texels = expanded + kPvzStream;
    *length = bytes;
    return true;
}

}  // namespace

void FreeReplacedComparison(ReplacedComparison* c) {
    free(c->changed);
    free(c->indices);
    free(c->texelBlock);
    c->changed = c->indices = c->texelBlock = nullptr;
    c->texels.texels = nullptr;
    c->texels.changed = c->texels.indices = nullptr;
}

int CompareWithReplaced(const char* output, const ReplacedTexture& replaced, const TextureSettings& settings,
                        const char* palette, MemoryHost* picture, ReplacedComparison* c) {
    memset(c, 0, sizeof *c);
    if (!replaced.exists) return c->state = kReplacedNone;
    c->state = kReplacedRewritten;
    const TextureInfo& old = replaced.info;
    const uint32_t w = (uint32_t)picture->width, h = (uint32_t)picture->height;
    // Another layout, size or container, or another palette to keep: the
    // texture is written anew.
    if (palette || old.dataType != settings.dataType || old.colorFormat != settings.colorFormat ||
        old.globalIndex != settings.globalIndex || old.width != w || old.height != h ||
        replaced.container != ContainerOfPath(output))
        return c->state;
    TexelLayout layout;
    if (PlanTexels(settings.dataType, settings.colorFormat, w, h, &layout) != kTextureOk) return c->state;

    MemoryHost before;
    ImportOutcome imported;
    ConvertReport report;
    if (ImportToHost(output, nullptr, &before, &imported, &report) != 0 || before.width != picture->width ||
        before.height != picture->height ||
        (HasPaletteFile(settings.dataType) && imported.palette != kPaletteRead)) {
        FreeMemoryHost(&before);
        return c->state;
    }
    uint32_t* colours = ReadLayerColours(&picture->services, &picture->image, kHeapAllocator);
    const size_t count = (size_t)w * h;
    c->changed = (uint8_t*)calloc(count + 1, 1);
    const bool palettised = HasPaletteFile(settings.dataType);
    if (palettised) c->indices = (uint8_t*)malloc(count + 1);
    const bool vq = IsVqLayout(settings.dataType);
    if (!colours || !c->changed || (palettised && !c->indices) ||
        (vq && !ReadTexels(output, &c->texelBlock, &c->texels.texels, &c->texels.texelLength))) {
        free(colours);
        FreeMemoryHost(&before);
        FreeReplacedComparison(c);
        return c->state;
    }

    // Indices without a palette file are compared as the texels hold them.
    const uint32_t entries = IndexEntries(settings.dataType, settings.colorFormat);
    const bool indices = !palettised && entries != 0;
    const unsigned format = palettised ? PaletteFormat(replaced.container, settings.dataType, settings.colorFormat)
                                       : settings.colorFormat;
    const ChannelRow* row = GetChannelRow(format);
    const bool alpha = AlphaBits(format) != 0 && !vq;
    std::vector<uint32_t> changedColours;
    for (size_t i = 0; i < count; i++) {
        const uint32_t was = before.pixels[i];
        bool same;
        if (indices) {
            same = (picture->pixels[i] & (entries - 1)) == (was & (entries - 1));
        } else if (!row) {
            same = false;
        } else {
            // The colour the old texel shows, and the new one, as the layout holds them.
            const uint32_t shown = palettised ? before.image.aPalette[was & 0xFF] : was;
            const uint32_t opaque = vq ? 0xFF000000u : 0;
            const uint16_t a = PackColor(row->encode, colours[i] | opaque), b = PackColor(row->encode, shown | opaque);
            same = a == b || (alpha && UnpackColor(format, a) >> 24 == 0 && UnpackColor(format, b) >> 24 == 0);
            // A colour texel stays as it was under alpha 0 too.
            if (same && !palettised && !vq && a != b) picture->pixels[i] = shown;
        }
        if (palettised) c->indices[i] = (uint8_t)was;
        if (!same) {
            c->changed[i] = 1;
            c->changedPixels++;
            changedColours.push_back(indices ? picture->pixels[i] : colours[i]);
        }
    }
    free(colours);
    FreeMemoryHost(&before);
    std::sort(changedColours.begin(), changedColours.end());
    c->changedColours = (uint32_t)(std::unique(changedColours.begin(), changedColours.end()) - changedColours.begin());
    c->pixels = count;
    c->state = c->changedPixels == 0 ? kReplacedUnchanged : kReplacedChanged;
    c->levelsRemade = c->state == kReplacedChanged && DataTypeLayout(settings.dataType).mipBits != 0;
    c->texels.changed = c->changed;
    c->texels.indices = c->indices;
    return c->state;
}
