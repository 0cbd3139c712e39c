#include "import_core.h"

#include <stdio.h>
#include <string.h>

#include "palette.h"
#include "pvz.h"
#include "texts.h"

int ContainerOfPath(const char* path) {
    const size_t length = strlen(path);
    if (length < 3) return kContainerPvz;
    const char* end = path + length - 3;
    static const char kPvr[3] = {'p', 'v', 'r'};
    for (int i = 0; i < 3; i++) {
        char c = end[i];
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != kPvr[i]) return kContainerPvz;
    }
    return kContainerPvr;
}

ImportDecision DecideImport(unsigned dataType, unsigned colorFormat) {
    // A DataType that fixes 4-bit or 8-bit indices decides; otherwise the
    // ColorFormat does.
    const unsigned bits = DataTypeLayout(dataType).texelBits;
    if (bits == 8) return {true, 256, kColorPal8};
    if (bits == 4) return {true, 16, kColorPal4};
    const uint16_t entries = ColorFormatLayout(colorFormat).indexedEntries;
    return {entries != 0, entries, (int)colorFormat};
}

uint64_t PvzBlockSize(uint32_t size) { return ((uint64_t)size + kPvzHeader + 2047) & ~(uint64_t)2047; }

// Texel bytes a run stream expands to, counting only whole records, and
// stopping as soon as the count passes `limit`.
static uint64_t PvzStreamLength(const uint8_t* container, size_t length, unsigned unit, uint64_t limit) {
    const unsigned recordLength = unit + 1;
    const size_t records = (length - kPvzStream) / recordLength;
    const uint8_t* count = container + kPvzStream + unit;
    uint64_t total = 0;
    for (size_t i = 0; i < records && total <= limit; i++, count += recordLength)
        total += ((uint64_t)*count + 1) * unit;
    return total;
}

// Texel bytes a .pvz may expand to: its size field less the header, raised
// to a whole number of run units, so that the padded last unit of an odd
// texel length (every small VQ mip texture, DataType 17) is taken. The raised
// room stays inside the block: an odd size plus 4 is never a multiple of 2048.
static uint64_t PvzTexelRoom(uint32_t size, unsigned unit) {
    const uint64_t room = size - kTextureHeaderSize;
    return (room + unit - 1) / unit * unit;
}

int CheckTexture(const uint8_t* file, size_t length, int container, TextureCheck* check) {
    memset(check, 0, sizeof *check);
    check->container = container;
    check->headerBase = container == kContainerPvr ? 0 : kPvzHeader;
    if (length < check->headerBase + kTextureHeaderSize) return kTextureShortFile;
    const uint8_t* header = file + check->headerBase;
    if (!HasTextureMagics(header)) return kTextureBadMagic;

    const TextureInfo info = ReadTextureInfo(header);
    check->info = info;
    check->colorFormat = info.colorFormat;
    // Plain textures of DataType 7 that say RGB565 carry ARGB1555 palettes.
    if (container == kContainerPvr && info.dataType == kTypePal8 && info.colorFormat == kColorRgb565)
        check->colorFormat = kColorArgb1555;
    check->decision = DecideImport(info.dataType, check->colorFormat);

    const int planned = PlanTexels(info.dataType, check->colorFormat, info.width, info.height, &check->layout);
    const uint64_t needed = check->layout.needed;

    // The texel bytes present are counted even for a texture refused below,
    // so that a converter can show them.
    if (container == kContainerPvr) {
        check->texelBytes = length - kTextureHeaderSize;
        if (planned != kTextureOk) return planned;
        return needed > check->texelBytes ? kTextureShortData : kTextureOk;
    }

    const uint32_t size = ReadU32(file + kPvzSizeField);
    const unsigned unit = PvzUnitSize(info.dataType);
    check->pvzSize = size;
    check->pvzBlockSize = PvzBlockSize(size);
    const uint64_t room = size < kTextureHeaderSize ? 0 : PvzTexelRoom(size, unit);
    check->texelBytes = PvzStreamLength(file, length, unit, room);
    if (planned != kTextureOk) return planned;
    if (size < kTextureHeaderSize || size - kTextureHeaderSize < needed) return kTexturePvzSizeShort;
    if (check->pvzBlockSize > (uint64_t)(size_t)-1) return kTexturePvzTooLarge;
    if (check->texelBytes > room) return kTexturePvzOverflow;
    return needed > check->texelBytes ? kTextureShortData : kTextureOk;
}

size_t FormatLayerTag(char* out, size_t room, unsigned dataType, int tagColor, uint32_t globalIndex,
                      unsigned colorFormat) {
    if (room == 0) return 0;
    int length = snprintf(out, room, kLayerTagFormat, (int)dataType, tagColor, (int)(int32_t)globalIndex);
    if (length < 0) length = 0;
    size_t used = (size_t)length < room ? (size_t)length : room - 1;
    if (dataType == kTypePal4 || dataType == kTypePal8) {
        length = snprintf(out + used, room - used, kLayerTagPaletteFormat, (int)colorFormat);
        if (length > 0) used += (size_t)length < room - used ? (size_t)length : room - used - 1;
    }
    return used;
}

int AppendLayerTag(HostImage* image, unsigned dataType, int tagColor, uint32_t globalIndex, unsigned colorFormat) {
    HostLayer* layer = image->pLayer;
    if (!layer) return -1;
    char tag[kLayerTagRoom];
    size_t add = FormatLayerTag(tag, sizeof tag, dataType, tagColor, globalIndex, colorFormat);
    char* name = layer->szName;
    const size_t used = strnlen(name, kLayerNameRoom);
    if (used >= kLayerNameRoom) return 0;   // unterminated: no room to append into
    if (add > kLayerNameRoom - 1 - used) add = kLayerNameRoom - 1 - used;
    memcpy(name + used, tag, add);
    name[used + add] = '\0';
    return 0;
}

void SetTransparentIndex(HostImage* image) {
    const int32_t count = image->nPaletteCount < 256 ? image->nPaletteCount : 256;
    int32_t transparent = -1;
    for (int32_t i = 0; i < count; i++) {
        const uint32_t alpha = image->aPalette[i] >> 24;
        if (alpha == 255) continue;
        if (alpha != 0 || transparent >= 0) return;
        transparent = i;
    }
    image->nTransparentIndex = transparent;   // -1: none
}

int ImportTexture(const char* path, HostImage* image, const HostServices* services,
                  const ImportPlatform* platform) {
    // The palette path has the texture path's length and must fit 260
    // characters; its last four characters are replaced.
    if (!path) return kStatusReadFailed;
    const size_t pathLength = strnlen(path, kImportPathCapacity);
    if (pathLength >= kImportPathCapacity || pathLength < 4) return kStatusReadFailed;
    if (!image || !services || !platform) return kStatusUnsupported;
    void* const context = platform->context;

    uint8_t* file = nullptr;
    size_t fileSize = 0;
    if (platform->ReadWholeFile(context, path, &file, &fileSize) != 0) return kStatusReadFailed;

    TextureCheck check;
    if (CheckTexture(file, fileSize, ContainerOfPath(path), &check) != kTextureOk) {
        platform->FreeBlock(context, file);
        return kStatusUnsupported;
    }

    uint8_t* block = file;
    const uint8_t* texels;
    size_t texelLength;
    if (check.container == kContainerPvz) {
        block = (uint8_t*)platform->AllocBlock(context, (size_t)check.pvzBlockSize);
        if (!block) {
            platform->FreeBlock(context, file);
            return kStatusUnsupported;
        }
        size_t texelBytes = 0;
        const uint64_t room = PvzTexelRoom(check.pvzSize, PvzUnitSize(check.info.dataType));
        const int expanded =
            PvzExpand(file, fileSize, block, kPvzStream + (size_t)room, &texelBytes);
        platform->FreeBlock(context, file);
        if (expanded != kPvzOk || texelBytes < check.layout.needed) {
            platform->FreeBlock(context, block);
            return kStatusUnsupported;
        }
        texels = block + kPvzStream;
        texelLength = texelBytes;
    } else {
        texels = block + kTextureHeaderSize;
        texelLength = fileSize - kTextureHeaderSize;
    }

    const TextureInfo& info = check.info;
    const ImportDecision& decision = check.decision;
    if (decision.indexed)
        services->CreateIndexedImage(image, info.width, info.height);
    else
        services->CreateColorImage(image, info.width, info.height, 1, 0);
    if (check.colorFormat != kColorRgb565) image->bAlpha = 1;
    if (AppendLayerTag(image, info.dataType, decision.tagColor, info.globalIndex, info.colorFormat) != 0)
        platform->ShowLayerNull(context);
    image->nPaletteCount = decision.paletteCount;

    if (decision.paletteCount != 0) {
        char palettePath[kImportPathCapacity];
        MakePalettePath(path, palettePath, sizeof palettePath);   // fits: checked above
        if (platform->ChoosePaletteFile(context, palettePath, sizeof palettePath) != 0) {
            platform->FreeBlock(context, block);
            return kStatusCancelled;
        }
        palettePath[sizeof palettePath - 1] = '\0';
        uint8_t* palette = nullptr;
        size_t paletteSize = 0;
        if (platform->ReadWholeFile(context, palettePath, &palette, &paletteSize) == 0) {
            ApplyPalette(image, palette, paletteSize, check.colorFormat);
            SetTransparentIndex(image);
            platform->FreeBlock(context, palette);
        }
    }

    services->BeginProgress(0, info.height);
    DecodeLayout(check.layout, texels, texelLength, services, image);
    services->EndProgress();
    platform->FreeBlock(context, block);
    return kStatusDone;
}

void CopyImportInfo(char* buffer, int size) { CopyHostText(buffer, size, kImportInfoText); }

char* CopySupportedType(int index, char* buffer, int size) {
    CopyHostText(buffer, size, index == 0 ? kTypeDescriptor : "");
    return buffer;
}
