#include "import_core.h"

#include <stdio.h>
#include <string.h>

#include "palette.h"
#include "pvz.h"
#include "texts.h"

ImportDecision DecideImport(unsigned dataType, unsigned colorFormat) {
    // A DataType that fixes 4-bit or 8-bit indices tags them with the index
    // code of their size; otherwise the ColorFormat is the tag's.
    const unsigned entries = ImportPaletteEntries(dataType, colorFormat);
    if (HasPaletteFile(dataType)) return {true, (int32_t)entries, (int)TexelMode(dataType, colorFormat)};
    return {entries != 0, (int32_t)entries, (int)colorFormat};
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

int ExpandCheckedPvz(const uint8_t* file, size_t length, const TextureCheck& check, uint8_t* block,
                     size_t* texelLength) {
    const uint64_t room = PvzTexelRoom(check.pvzSize, PvzUnitSize(check.info.dataType));
    const uint64_t whole = kPvzStream + room;
    const size_t capacity = (size_t)(whole < check.pvzBlockSize ? whole : check.pvzBlockSize);
    const int expanded = PvzExpand(file, length, block, capacity, texelLength);
    // Cut at the block: the check has held the whole stream to its size field.
    const bool cut = expanded == kPvzOverflow && capacity < whole;
    return (expanded == kPvzOk || cut) && *texelLength >= check.layout.needed ? 0 : -1;
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
    check->colorFormat = PaletteFormat(container, info.dataType, info.colorFormat);
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
    // Only what the layout reads is expanded: a size field that claims more
    // costs no memory (the stream is still held to it, below).
    const uint64_t read = PvzBlockSize((uint32_t)(kTextureHeaderSize + (needed + unit - 1) / unit * unit));
    if (read < check->pvzBlockSize) check->pvzBlockSize = read;
    if (check->pvzBlockSize > (uint64_t)(size_t)-1) return kTexturePvzTooLarge;
    if (check->texelBytes > room) return kTexturePvzOverflow;
    return needed > check->texelBytes ? kTextureShortData : kTextureOk;
}

static bool HasMagicsAt(const uint8_t* file, size_t length, size_t base) {
    return length >= base + kTextureHeaderSize && HasTextureMagics(file + base);
}

static int ContainerOfFile(const uint8_t* file, size_t length, const char* path) {
    const int named = ContainerOfPath(path);
    const int other = named == kContainerPvr ? kContainerPvz : kContainerPvr;
    const size_t base = named == kContainerPvr ? 0 : kPvzHeader;
    if (!HasMagicsAt(file, length, base) && HasMagicsAt(file, length, kPvzHeader - base)) return other;
    return named;
}

int CheckTextureFile(const uint8_t* file, size_t length, const char* path, TextureCheck* check) {
    return CheckTexture(file, length, ContainerOfFile(file, length, path), check);
}

int PlanTextureRead(const uint8_t* head, size_t headLength, uint64_t fileLength, const char* path,
                    uint64_t* readBytes) {
    *readBytes = headLength < fileLength ? headLength : fileLength;
    const int container = ContainerOfFile(head, headLength, path);
    const size_t base = container == kContainerPvr ? 0 : kPvzHeader;
    if (headLength < base + kTextureHeaderSize || !HasTextureMagics(head + base)) return kTextureOk;
    const TextureInfo info = ReadTextureInfo(head + base);
    uint64_t limit = fileLength;
    if (container == kContainerPvr) {
        // Nothing past the texels the layout reads is ever used.
        TexelLayout layout;
        if (PlanTexels(info.dataType, PaletteFormat(container, info.dataType, info.colorFormat), info.width,
                       info.height, &layout) == kTextureOk)
            limit = kTextureHeaderSize + layout.needed;
    } else {
        // Every whole run record adds at least one unit: a stream of more
        // records than the size field has units expands beyond it.
        const uint32_t size = ReadU32(head + kPvzSizeField);
        const unsigned unit = PvzUnitSize(info.dataType);
        const uint64_t room = size < kTextureHeaderSize ? 0 : PvzTexelRoom(size, unit);
        limit = kPvzStream + room / unit * (unit + 1) + unit;
        if (fileLength > limit) return kTexturePvzOverflow;
    }
    *readBytes = limit < fileLength ? limit : fileLength;
    return kTextureOk;
}

size_t FormatLayerTag(char* out, size_t room, unsigned dataType, int tagColor, uint32_t globalIndex,
                      unsigned colorFormat) {
    if (room == 0) return 0;
    int length = snprintf(out, room, kLayerTagFormat, (int)dataType, tagColor, (int)(int32_t)globalIndex);
    if (length < 0) length = 0;
    size_t used = (size_t)length < room ? (size_t)length : room - 1;
    if (HasPaletteFile(dataType)) {
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

// The .pvz's texels expanded into a block of the platform's (the check
// has made sure they fit): 0, or -1 when no block can be had or the stream
// falls short.
static int ExpandTexels(const uint8_t* file, size_t length, const TextureCheck& check, const ImportPlatform* platform,
                        uint8_t** block, size_t* texelLength) {
    *block = (uint8_t*)platform->AllocBlock(platform->context, (size_t)check.pvzBlockSize);
    if (!*block) return -1;
    if (ExpandCheckedPvz(file, length, check, *block, texelLength) == 0) return 0;
    platform->FreeBlock(platform->context, *block);
    *block = nullptr;
    return -1;
}

// Finds and applies the palette of a palettised texture: 0, or -1 when the
// choice was cancelled.
static int LoadPalette(const char* path, const TextureCheck& check, HostImage* image, const ImportPlatform* platform,
                       ImportOutcome* outcome) {
    char* palettePath = outcome->palettePath;
    MakePalettePath(path, palettePath, kImportPathCapacity);   // fits: the path was checked
    if (platform->ChoosePaletteFile(platform->context, palettePath, kImportPathCapacity) != 0) {
        outcome->palette = kPaletteNotChosen;
        return -1;
    }
    palettePath[kImportPathCapacity - 1] = '\0';
    uint8_t* palette = nullptr;
    size_t paletteSize = 0;
    // No more than the entries the host palette holds is ever used.
    if (platform->ReadFile(platform->context, palettePath, kPaletteMaxFileSize, &palette, &paletteSize) != 0) {
        outcome->palette = kPaletteUnread;
        return 0;
    }
    outcome->palette = HasChannelRow(check.colorFormat) ? kPaletteRead : kPaletteNoConversion;
    ApplyPalette(image, palette, paletteSize, check.colorFormat);
    SetTransparentIndex(image);
    platform->FreeBlock(platform->context, palette);
    return 0;
}

int ImportTexture(const char* path, const uint8_t* file, size_t length, HostImage* image,
                  const HostServices* services, const ImportPlatform* platform, ImportOutcome* outcome) {
    ImportOutcome local;
    if (!outcome) outcome = &local;
    memset(outcome, 0, sizeof *outcome);
    outcome->decoded = kDecodeNothing;
    // The palette path has the texture path's length and must fit 260
    // characters; its last four characters are replaced.
    if (!path) return kStatusReadFailed;
    const size_t pathLength = strnlen(path, kImportPathCapacity);
    if (pathLength >= kImportPathCapacity || pathLength < 4) return kStatusReadFailed;
    if (!file || !image || !services || !platform) return kStatusUnsupported;

    TextureCheck& check = outcome->check;
    outcome->checked = CheckTextureFile(file, length, path, &check);
    if (outcome->checked != kTextureOk) return kStatusUnsupported;

    uint8_t* block = nullptr;
    const uint8_t* texels = file + kTextureHeaderSize;
    size_t texelLength = length - kTextureHeaderSize;
    if (check.container == kContainerPvz) {
        if (ExpandTexels(file, length, check, platform, &block, &texelLength) != 0) {
            outcome->checked = kTextureNoMemory;
            return kStatusUnsupported;
        }
        texels = block + kPvzStream;
    }

    const TextureInfo& info = check.info;
    const ImportDecision& decision = check.decision;
    if (decision.indexed)
        services->CreateIndexedImage(image, info.width, info.height);
    else
        services->CreateColorImage(image, info.width, info.height, 1, 0);
    // Every colour format but the one known to hold no alpha may carry it.
    if (!HasChannelRow(check.colorFormat) || AlphaBits(check.colorFormat) != 0) image->bAlpha = 1;
    if (AppendLayerTag(image, info.dataType, decision.tagColor, info.globalIndex, info.colorFormat) != 0)
        platform->ShowLayerNull(platform->context);
    image->nPaletteCount = decision.paletteCount;

    if (decision.paletteCount != 0 && LoadPalette(path, check, image, platform, outcome) != 0) {
        if (block) platform->FreeBlock(platform->context, block);
        return kStatusCancelled;
    }

    services->BeginProgress(0, info.height);
    outcome->decoded = DecodeLayout(check.layout, texels, texelLength, services, image);
    services->EndProgress();
    if (block) platform->FreeBlock(platform->context, block);
    return kStatusDone;
}

void CopyImportInfo(char* buffer, int size) { CopyHostText(buffer, size, kImportInfoText); }

char* CopySupportedType(int index, char* buffer, int size) {
    CopyHostText(buffer, size, index == 0 ? kTypeDescriptor : "");
    return buffer;
}
