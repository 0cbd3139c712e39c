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

static bool CanReplace(const ExportPlatform* platform, const char* target) {
    return !platform->CanReplace || platform->CanReplace(platform->context, target) != 0;
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

int ExportTexture(const char* path, HostImage* image, const HostServices* services,
                  const ExportPlatform* platform) {
    if (!image || !image->pLayer || !services) return kStatusUnsupported;
    const HostLayer* layer = image->pLayer;
    // Signed 32-bit differences, wrapping as the host's own arithmetic does.
    const int32_t width = (int32_t)((uint32_t)layer->nRight - (uint32_t)layer->nLeft);
    const int32_t height = (int32_t)((uint32_t)layer->nBottom - (uint32_t)layer->nTop);
    const bool plain = IsPlainPvrPath(path);

    if (!IsExportSide(height)) {
        ShowSizeMessage(platform, kHeightMessage, width, height, layer);
        return kStatusUnsupported;
    }
    if (!IsExportSide(width)) {
        ShowSizeMessage(platform, kWidthMessage, width, height, layer);
        return kStatusUnsupported;
    }
    if (image->nLayerCount > 1) {
        platform->ShowMessage(platform->context, kLayerCountMessage, kExportCaption, kMessageIconError);
        return kStatusCancelled;
    }
    // Neither the palette path nor a temporary name can be formed from these.
    const size_t pathLength = path ? strnlen(path, kExportPathRoom) : 0;
    if (pathLength < 4 || pathLength >= kExportPathRoom) return kStatusWriteFailed;

    TextureSettings settings;
    if (platform->ChooseSettings(platform->context, layer, path, &settings) != 0) return kStatusCancelled;
    if (!IsExportablePair(settings.dataType, settings.colorFormat)) return kStatusUnsupported;

    uint8_t palette[kExportPaletteBytes];
    int32_t paletteCount;
    BuildExportPalette(image, palette, &paletteCount);

    StagedFile paletteFile = {};
    StagedFile textureFile = {};
    char palettePath[kExportPathRoom];
    if (settings.dataType == kTypePal4 || settings.dataType == kTypePal8) {
        if (!MakePalettePath(path, palettePath, sizeof palettePath)) return kStatusWriteFailed;
        // A texture written as "x.pvp" would replace its own palette at once:
        // only the texture is kept then.
        if (strcmp(palettePath, path) != 0) {
            const unsigned kind = settings.dataType == kTypePal4 ? kPaletteKind4 : kPaletteKind8;
            if (WritePalette(platform, palettePath, settings.colorFormat, kind, palette, &paletteCount,
                             &paletteFile) != 0)
                return kStatusPaletteFailed;
        }
    }

    const uint32_t texelLength =
        (uint32_t)TexelLength(settings.dataType, settings.colorFormat, (uint32_t)width, (uint32_t)height);
    const uint32_t total = kTextureHeaderSize + texelLength;
    const Allocator& heap = platform->allocator;
    uint8_t* texture = (uint8_t*)heap.Alloc(heap.context, total);
    if (!texture) {
        DiscardFile(platform, &paletteFile);
        return kStatusNoMemory;
    }

    WriteTextureHeader(texture, settings.globalIndex, settings.colorFormat, settings.dataType, (uint16_t)width,
                       (uint16_t)height, texelLength);
    if (services->BeginProgress) services->BeginProgress(0, height);
    const int encoded = EncodeTexels(texture + kTextureHeaderSize, texelLength, texture + kHeaderPvrt, services,
                                     image);
    if (services->EndProgress) services->EndProgress();
    if (encoded != kEncodeOk) {   // only a host without GetImagePixel gets here
        heap.Free(heap.context, texture);
        DiscardFile(platform, &paletteFile);
        return kStatusUnsupported;
    }

    const uint8_t* data = texture;
    size_t length = total;
    uint8_t* container = nullptr;
    if (!plain) {
        uint32_t containerLength = 0;
        if (PvzCompress(texture, total, &heap, &container, &containerLength) != 0) {
            heap.Free(heap.context, texture);
            DiscardFile(platform, &paletteFile);
            return kStatusNoMemory;
        }
        data = container;
        length = containerLength;
    }
    const int staged = StageFile(platform, path, data, length, &textureFile);
    if (container) heap.Free(heap.context, container);
    heap.Free(heap.context, texture);
    if (staged != 0) {
        DiscardFile(platform, &paletteFile);
        return kStatusWriteFailed;
    }

    // Both files are in place or neither: a target that would be refused is
    // found before the other one is replaced.
    int refused = kStatusDone;
    if (paletteFile.staged && !CanReplace(platform, paletteFile.target)) refused = kStatusPaletteFailed;
    else if (!CanReplace(platform, textureFile.target)) refused = kStatusWriteFailed;
    if (refused != kStatusDone) {
        DiscardFile(platform, &paletteFile);
        DiscardFile(platform, &textureFile);
        return refused;
    }
    if (paletteFile.staged && CommitFile(platform, &paletteFile) != 0) {
        DiscardFile(platform, &textureFile);
        return kStatusPaletteFailed;
    }
    if (CommitFile(platform, &textureFile) != 0) return kStatusWriteFailed;
    return kStatusDone;
}
