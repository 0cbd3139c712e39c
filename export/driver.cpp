#include <stdio.h>
#include <string.h>

#include "export_core.h"
#include "palette.h"
#include "pvz.h"
#include "texts.h"
#include "texture.h"

bool IsPlainPvrPath(const char* path) {
    if (!path) return false;
    const size_t length = strnlen(path, kExportPathRoom);
    return length >= 4 && length < kExportPathRoom && memcmp(path + length - 4, ".pvr", 5) == 0;
}

static bool IsExportSide(int32_t side) { return side == 128 || side == 256 || side == 512 || side == 1024; }

int WritePalette(const ExportPlatform* platform, const char* path, unsigned colorFormat, unsigned kind,
                 const uint8_t palette[kExportPaletteBytes], int32_t* count, StagedFile* file) {
    uint8_t bytes[kPaletteMaxFileSize];
    int32_t written = *count;
    const size_t length = BuildPaletteBytes(colorFormat, kind, palette, &written, bytes, sizeof bytes);
    if (length == 0) return -1;
    if (StageFile(platform, path, bytes, length, file) != 0) return -1;
    *count = written;
    return 0;
}

static void ShowSizeMessage(const ExportPlatform* platform, const char* text, int32_t width, int32_t height,
                            const HostLayer* layer) {
    char caption[kSizeCaptionRoom];
    snprintf(caption, sizeof caption, kSizeCaptionFormat, (int)width, (int)height, (int)layer->nLeft,
             (int)layer->nTop);
    platform->ShowMessage(platform->context, text, caption, kMessageOk);
}

// A palette goes beside its texture under the texture's name with its last
// four characters replaced: only a name that ends in a dot and three more
// characters of its own keeps the palette from another file's name.
static bool HasPaletteExtension(const char* path, size_t length) {
    if (length < 4 || path[length - 4] != '.') return false;
    for (size_t i = length - 3; i < length; i++)
        if (path[i] == '\\' || path[i] == '/') return false;
    return true;
}

static bool IsPalettised(const TextureSettings& settings) {
    return settings.dataType == kTypePal4 || settings.dataType == kTypePal8;
}

// The checks before the dialog: layer, sizes (with their messages), layer
// count and path.
static int CheckPicture(const char* path, const HostImage* image, const HostServices* services,
                        const ExportPlatform* platform, int32_t* width, int32_t* height) {
    if (!image || !image->pLayer || !services) return kExportNoLayer;
    const HostLayer* layer = image->pLayer;
    // Signed 32-bit differences, wrapping as the host's own arithmetic does.
    *width = (int32_t)((uint32_t)layer->nRight - (uint32_t)layer->nLeft);
    *height = (int32_t)((uint32_t)layer->nBottom - (uint32_t)layer->nTop);
    if (!IsExportSide(*height)) {
        ShowSizeMessage(platform, kHeightMessage, *width, *height, layer);
        return kExportBadHeight;
    }
    if (!IsExportSide(*width)) {
        ShowSizeMessage(platform, kWidthMessage, *width, *height, layer);
        return kExportBadWidth;
    }
    if (image->nLayerCount > 1) {
        platform->ShowMessage(platform->context, kLayerCountMessage, kExportCaption, kMessageIconError);
        return kExportTooManyLayers;
    }
    // Neither the palette path nor a staged name can be formed from these.
    const size_t pathLength = path ? strnlen(path, kExportPathRoom) : 0;
    if (pathLength < 4 || pathLength >= kExportPathRoom) return kExportBadPath;
    return kExportOk;
}

// The dialog, then whether its settings can be written to this path.
static int ChooseSettings(const char* path, const HostLayer* layer, const ExportPlatform* platform,
                          TextureSettings* settings) {
    if (platform->ChooseSettings(platform->context, layer, path, settings) != 0) return kExportCancelled;
    if (!IsExportablePair(settings->dataType, settings->colorFormat)) return kExportUnwritableSettings;
    if (IsPalettised(*settings) && !HasPaletteExtension(path, strnlen(path, kExportPathRoom))) {
        platform->ShowMessage(platform->context, kPalettePathMessage, kExportCaption, kMessageIconError);
        return kExportBadPalettePath;
    }
    return kExportOk;
}

// Stages the .pvp of a palettised texture; nothing for the other layouts, nor
// for a texture written as "x.pvp", which would replace its own palette at
// once (only the texture is kept then).
static int StagePalette(const char* path, const HostImage* image, const TextureSettings& settings,
                        const ExportPlatform* platform, char palettePath[kExportPathRoom], StagedFile* file) {
    if (!IsPalettised(settings)) return kExportOk;
    if (!MakePalettePath(path, palettePath, kExportPathRoom)) return kExportBadPath;
    if (strcmp(palettePath, path) == 0) return kExportOk;
    uint8_t palette[kExportPaletteBytes];
    int32_t count;
    BuildExportPalette(image, platform->paletteAlpha, palette, &count);
    const unsigned kind = settings.dataType == kTypePal4 ? kPaletteKind4 : kPaletteKind8;
    if (WritePalette(platform, palettePath, settings.colorFormat, kind, palette, &count, file) != 0)
        return kExportPaletteNotStaged;
    return kExportOk;
}

// Encodes the texture into one buffer and stages it, raw or as a PVZ container.
static int StageTexture(const char* path, HostImage* image, const HostServices* services,
                        const TextureSettings& settings, uint16_t width, uint16_t height,
                        const ExportPlatform* platform, StagedFile* file) {
    const uint32_t texelLength = (uint32_t)TexelLength(settings.dataType, settings.colorFormat, width, height);
    const uint32_t total = kTextureHeaderSize + texelLength;
    const Allocator& heap = platform->allocator;
    uint8_t* texture = (uint8_t*)heap.Alloc(heap.context, total);
    if (!texture) return kExportNoMemory;

    WriteTextureHeader(texture, settings.globalIndex, settings.colorFormat, settings.dataType, width, height,
                       texelLength);
    if (services->BeginProgress) services->BeginProgress(0, height);
    const int encoded = EncodeTexels(texture + kTextureHeaderSize, texelLength, texture + kHeaderPvrt, services,
                                     image);
    if (services->EndProgress) services->EndProgress();

    int result = encoded == kEncodeOk ? kExportOk : kExportNoLayer;   // a host without GetImagePixel
    const uint8_t* data = texture;
    size_t length = total;
    uint8_t* container = nullptr;
    uint32_t containerLength = 0;
    if (result == kExportOk && !IsPlainPvrPath(path)) {
        if (PvzCompress(texture, total, &heap, &container, &containerLength) != 0) result = kExportNoMemory;
        data = container;
        length = containerLength;
    }
    if (result == kExportOk && StageFile(platform, path, data, length, file) != 0) result = kExportTextureNotStaged;
    if (container) heap.Free(heap.context, container);
    heap.Free(heap.context, texture);
    return result;
}

int ExportPicture(const char* path, HostImage* image, const HostServices* services, const ExportPlatform* platform) {
    int32_t width = 0, height = 0;
    int result = CheckPicture(path, image, services, platform, &width, &height);
    TextureSettings settings = {};
    if (result == kExportOk) result = ChooseSettings(path, image->pLayer, platform, &settings);

    char palettePath[kExportPathRoom];
    StagedFile paletteFile = {};
    StagedFile textureFile = {};
    if (result == kExportOk) result = StagePalette(path, image, settings, platform, palettePath, &paletteFile);
    if (result == kExportOk)
        result = StageTexture(path, image, services, settings, (uint16_t)width, (uint16_t)height, platform,
                              &textureFile);
    if (result == kExportOk) return CommitPair(platform, &paletteFile, &textureFile);
    DiscardFile(platform, &paletteFile);
    DiscardFile(platform, &textureFile);
    return result;
}

int ExportStatus(int result) {
    switch (result) {
    case kExportOk: return kStatusDone;
    case kExportNoMemory: return kStatusNoMemory;
    case kExportBadPath:
    case kExportBadPalettePath:
    case kExportTextureNotStaged:
    case kExportTextureNotCommitted: return kStatusWriteFailed;
    case kExportPaletteNotStaged:
    case kExportPaletteNotCommitted: return kStatusPaletteFailed;
    case kExportTooManyLayers:
    case kExportCancelled: return kStatusCancelled;
    default: return kStatusUnsupported;   // no layer, a bad size, unwritable settings
    }
}

int ExportTexture(const char* path, HostImage* image, const HostServices* services,
                  const ExportPlatform* platform) {
    return ExportStatus(ExportPicture(path, image, services, platform));
}
