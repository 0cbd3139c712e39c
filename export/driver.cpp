#include <stdio.h>
#include <string.h>

#include "export_core.h"
#include "palette.h"
#include "pvz.h"
#include "texts.h"
#include "texture.h"

const ExportOptions kPluginExportOptions = {nullptr, false, kUnmappedNewPalette, nullptr};

static void NoMessage(void*, const char*, const char*, unsigned) {}
static int NoSettings(void*, const HostLayer*, const char*, TextureSettings*) { return -1; }

void InitExportPlatform(ExportPlatform* platform, void* context, const ExportFiles& files,
                        const LayoutEncoders& encoders) {
    memset(platform, 0, sizeof *platform);
    platform->context = context;
    platform->ShowMessage = NoMessage;
    platform->ChooseSettings = NoSettings;
    platform->allocator = kHeapAllocator;
    platform->files = files;
    platform->encoders = &encoders;
}

namespace {

// One export between its steps.
struct ExportRun {
    const char* path;
    HostImage* image;
    const HostServices* services;
    const ExportPlatform* platform;
    const ExportOptions* options;
    ExportOutcome* outcome;
    int32_t width, height;
    TexelLayout layout;
    PaletteChoice palette;
};

void ShowSizeMessage(const ExportRun& run, const char* text) {
    char caption[kSizeCaptionRoom];
    const HostLayer* layer = run.image->pLayer;
    snprintf(caption, sizeof caption, kSizeCaptionFormat, (int)run.width, (int)run.height, (int)layer->nLeft,
             (int)layer->nTop);
    run.platform->ShowMessage(run.platform->context, text, caption, kMessageOk);
}

// The checks before the dialog: layer, a size some texture can have (with
// its message), layer count and path.
int CheckPicture(ExportRun* run) {
    if (!run->image || !run->image->pLayer || !run->services || !run->services->GetImagePixel) return kExportNoLayer;
    const HostLayer* layer = run->image->pLayer;
    // Signed 32-bit differences, wrapping as the host's own arithmetic does.
    run->width = (int32_t)((uint32_t)layer->nRight - (uint32_t)layer->nLeft);
    run->height = (int32_t)((uint32_t)layer->nBottom - (uint32_t)layer->nTop);
    if (run->width < 1 || run->height < 1 || run->width > 0xFFFF || run->height > 0xFFFF ||
        (uint64_t)run->width * (uint64_t)run->height > kMaxPicturePixels) {
        ShowSizeMessage(*run, kPictureSizeMessage);
        return kExportBadPictureSize;
    }
    const ExportPlatform* platform = run->platform;
    if (run->image->nLayerCount > 1) {
        platform->ShowMessage(platform->context, kLayerCountMessage, kExportCaption, kMessageIconError);
        return kExportTooManyLayers;
    }
    // Neither the palette path nor a staged name can be formed from these.
    if (!run->path || !ExportPathFits(platform->files, run->path)) return kExportBadPath;
    return kExportOk;
}

// The dialog, then whether its settings can be written at this size to this path.
int ChooseSettings(ExportRun* run) {
    const ExportPlatform* platform = run->platform;
    TextureSettings& settings = run->outcome->settings;
    if (platform->ChooseSettings(platform->context, run->image->pLayer, run->path, &settings) != 0)
        return kExportCancelled;
    uint64_t needed;
    const int writable = CheckWritable(settings.dataType, settings.colorFormat, (uint32_t)run->width,
                                       (uint32_t)run->height, platform->encoders->writer, &needed);
    if (writable == kTextureNotWritten) return kExportUnwritableSettings;
    if (writable != kTextureOk) {
        ShowSizeMessage(*run, kLayoutSizeMessage);
        return kExportBadLayoutSize;
    }
    if (PlanTexels(settings.dataType, settings.colorFormat, (uint32_t)run->width, (uint32_t)run->height,
                   &run->layout) != kTextureOk) {   // what CheckWritable took plans
        ShowSizeMessage(*run, kLayoutSizeMessage);
        return kExportBadLayoutSize;
    }
    if (HasPaletteFile(settings.dataType) && !HasPaletteExtension(run->path, strnlen(run->path, kExportPathBuffer))) {
        platform->ShowMessage(platform->context, kPalettePathMessage, kExportCaption, kMessageIconError);
        return kExportBadPalettePath;
    }
    return kExportOk;
}

// The .pvp to keep, read into `bytes`: its length, or 0 when there is none
// (or it is no palette file a texture could use).
size_t ReadKnownPalette(const ExportRun& run, const char* path, uint8_t bytes[kPaletteKeptMaxFileSize]) {
    const ExportFiles& files = run.platform->files;
    if (!files.ReadFile) return 0;
    const long length = files.ReadFile(run.platform->context, path, bytes, kPaletteKeptMaxFileSize);
    return length > 0 && length <= (long)kPaletteKeptMaxFileSize ? (size_t)length : 0;
}

// Chooses and stages the .pvp of a palettised texture; nothing for the other
// layouts, nor for a texture written as "x.pvp", which would replace its own
// palette at once (only the texture is kept then).
int StagePalette(ExportRun* run, StagedFile* file) {
    const TextureSettings& settings = run->outcome->settings;
    if (!HasPaletteFile(settings.dataType)) return kExportOk;
    const ExportPlatform* platform = run->platform;
    char* palettePath = run->outcome->palettePath;
    if (!MakePalettePath(run->path, palettePath, kExportPathBuffer)) return kExportBadPath;
    if (strcmp(palettePath, run->path) == 0) return kExportOk;
    // Where names are case-sensitive, "TEX.PVR" may have its palette as "TEX.PVP".
    char other[kExportPathBuffer];
    if (platform->files.FindOtherCase && platform->files.FindOtherCase(platform->context, palettePath, other, sizeof other))
        memcpy(palettePath, other, sizeof other);

    uint8_t known[kPaletteKeptMaxFileSize];
    const char* knownPath = run->options->knownPalette ? run->options->knownPalette : palettePath;
    PaletteRequest request;
    request.dataType = settings.dataType;
    request.format = PaletteFormat(run->outcome->container, settings.dataType, settings.colorFormat);
    request.knownLength = ReadKnownPalette(*run, knownPath, known);
    request.known = request.knownLength > 0 ? known : nullptr;
    request.mapIndexed = run->options->mapIndexed;
    request.unmapped = run->options->unmapped;
    request.reference = run->options->reference;
    const int chosen = ChoosePalette(request, run->services, run->image, platform->allocator, &run->palette);
    run->outcome->paletteSource = run->palette.source;
    run->outcome->unmappedPixels = run->palette.unmappedPixels;
    run->outcome->unmappedColours = run->palette.unmappedColours;
    run->outcome->approximatedPixels = run->palette.approximatedPixels;
    switch (chosen) {
    case kChooseOk: break;
    case kChooseNoMemory: return kExportNoMemory;
    case kChooseUnmapped: return kExportUnmappedColours;
    default: return kExportUnwritableSettings;
    }
    if (StageFile(platform->files, platform->context, palettePath, run->palette.file, run->palette.fileLength, file) != 0)
        return kExportPaletteNotStaged;
    run->outcome->wrotePalette = true;
    return kExportOk;
}

// Encodes the texture into one buffer and stages it, raw or as a PVZ container.
int StageTexture(ExportRun* run, StagedFile* file) {
    const ExportPlatform* platform = run->platform;
    const TextureSettings& settings = run->outcome->settings;
    const uint32_t texelLength = (uint32_t)run->layout.needed;   // CheckWritable: the whole fits 32 bits
    const uint32_t total = kTextureHeaderSize + texelLength;
    const Allocator& heap = platform->allocator;
    uint8_t* texture = (uint8_t*)heap.Alloc(heap.context, total);
    if (!texture) return kExportNoMemory;

    WriteTextureHeader(texture, settings.globalIndex, settings.colorFormat, settings.dataType, (uint16_t)run->width,
                       (uint16_t)run->height, texelLength);
    const HostServices* services = run->services;
    if (services->BeginProgress) services->BeginProgress(0, run->height);
    // The old texels stay only with the palette they index.
    TexelReference* reference = run->options->reference;
    if (HasPaletteFile(settings.dataType) && run->palette.source != kPaletteSourceKept) reference = nullptr;
    const EncodeSource source = {services, run->image, run->palette.indices, reference, &platform->allocator};
    const int encoded = EncodeLayout(*platform->encoders, source, run->layout, texture + kTextureHeaderSize, texelLength);
    if (services->EndProgress) services->EndProgress();

    int result = encoded == kEncodeOk ? kExportOk : encoded == kEncodeNoMemory ? kExportNoMemory : kExportNoLayer;
    const uint8_t* data = texture;
    size_t length = total;
    uint8_t* container = nullptr;
    uint32_t containerLength = 0;
    if (result == kExportOk && run->outcome->container == kContainerPvz) {
        if (PvzCompress(texture, total, &heap, &container, &containerLength) != 0) result = kExportNoMemory;
        data = container;
        length = containerLength;
    }
    if (result == kExportOk && StageFile(platform->files, platform->context, run->path, data, length, file) != 0) result = kExportTextureNotStaged;
    if (container) heap.Free(heap.context, container);
    heap.Free(heap.context, texture);
    return result;
}

}  // namespace

int ExportPicture(const char* path, HostImage* image, const HostServices* services, const ExportPlatform* platform,
                  const ExportOptions* options, ExportOutcome* outcome) {
    ExportOutcome local;
    ExportRun run;
    memset(&run, 0, sizeof run);
    run.path = path;
    run.image = image;
    run.services = services;
    run.platform = platform;
    run.options = options ? options : &kPluginExportOptions;
    run.outcome = outcome ? outcome : &local;
    memset(run.outcome, 0, sizeof *run.outcome);
    run.outcome->container = ContainerOfPath(path);

    int result = CheckPicture(&run);
    run.outcome->width = run.width;
    run.outcome->height = run.height;
    if (result == kExportOk) result = ChooseSettings(&run);
    StagedFile paletteFile = {};
    StagedFile textureFile = {};
    if (result == kExportOk) result = StagePalette(&run, &paletteFile);
    if (result == kExportOk) result = StageTexture(&run, &textureFile);
    FreePaletteChoice(platform->allocator, &run.palette);
    if (result == kExportOk) {
        const int committed = CommitPair(platform->files, platform->context, &paletteFile, &textureFile);
        if (committed == kCommitFirstNotIn) result = kExportPaletteNotCommitted;
        else if (committed != 0) result = kExportTextureNotCommitted;
    }
    DiscardFile(platform->files, platform->context, &paletteFile);
    DiscardFile(platform->files, platform->context, &textureFile);
    if (result != kExportOk) run.outcome->wrotePalette = false;
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
    default: return kStatusUnsupported;   // no layer, a bad size, unwritable settings, refused colours
    }
}

bool DescribeSaveFailure(int result, const char* path, const ExportOutcome& outcome,
                         bool (*folderExists)(const char* path), SaveFailure* failure) {
    const bool palette = result == kExportPaletteNotStaged || result == kExportPaletteNotCommitted;
    failure->file = palette ? outcome.palettePath : path;
    switch (result) {
    case kExportNoMemory: failure->text = kSaveNoMemoryMessage; break;
    case kExportBadPath: failure->text = kSavePathMessage; break;
    case kExportTextureNotStaged:
    case kExportPaletteNotStaged:
        // The new file could not be made beside its target.
        failure->text = folderExists(failure->file) ? kSaveFolderRefusedMessage : kSaveFolderMissingMessage;
        break;
    case kExportTextureNotCommitted:
    case kExportPaletteNotCommitted: failure->text = kSaveTargetRefusedMessage; break;
    default: return false;
    }
    if (!failure->file) failure->file = "";
    return true;
}

int ExportTexture(const char* path, HostImage* image, const HostServices* services,
                  const ExportPlatform* platform) {
    return ExportStatus(ExportPicture(path, image, services, platform));
}
