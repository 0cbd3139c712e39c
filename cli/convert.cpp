#include "convert.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "decode.h"
#include "export_core.h"
#include "files.h"
#include "json.h"
#include "layout_encode.h"
#include "palette.h"
#include "presets.h"
#include "texts.h"
#include "texture.h"

enum { kPngMaxSide = 8192 };   // far above the export's 1024; keeps pixel memory bounded

#ifdef _WIN32
#define OMBR_PRINTF_FORMAT gnu_printf   // the MinGW build uses its own C99 printf
#else
#define OMBR_PRINTF_FORMAT printf
#endif
static void Say(char* out, const char* format, ...) __attribute__((format(OMBR_PRINTF_FORMAT, 2, 3)));
static void Say(char* out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(out, kReportRoom, format, args);
    va_end(args);
}

static void ClearReport(ConvertReport* report) {
    report->message[0] = '\0';
    report->warning[0] = '\0';
}

static const char* ColorName(unsigned code) {
    const char* name = ColorFormatName(code);
    return name ? name : "unknown";
}

static const char* TypeName(unsigned code) {
    const char* name = DataTypeName(code);
    return name ? name : "unknown";
}

static void SayReadFailure(char* out, const char* path, int result, int error) {
    switch (result) {
    case kFileNotOpened: Say(out, "cannot open %s: %s", path, error ? strerror(error) : "not a file"); break;
    case kFileNoMemory: Say(out, "no memory to read %s", path); break;
    case kFileTooLarge: Say(out, "%s is too large", path); break;
    default: Say(out, "cannot read %s", path); break;
    }
}

// ---- info

void InspectTexture(const char* path, TextureSummary* summary) {
    memset(summary, 0, sizeof *summary);
    uint8_t* file = nullptr;
    summary->readResult = ReadWholeFile(path, &file, &summary->fileLength);
    if (summary->readResult != kFileOk) return;
    const int container = ContainerOfPath(path);
    summary->checkResult = CheckTexture(file, summary->fileLength, container, &summary->check);
    free(file);
    // Without a header there is nothing more to tell.
    if (summary->checkResult == kTextureShortFile || summary->checkResult == kTextureBadMagic) return;

    const TextureCheck& check = summary->check;
    summary->decodable = summary->checkResult == kTextureOk && LayoutPaints(check.layout);
    summary->paletteNeeded = check.decision.paletteCount != 0;
    if (summary->paletteNeeded && MakePalettePath(path, summary->palettePath, sizeof summary->palettePath)) {
        uint8_t* palette = nullptr;
        size_t length = 0;
        if (ReadWholeFile(summary->palettePath, &palette, &length) == kFileOk) {
            summary->paletteFound = true;
            const uint32_t entries = PaletteFileEntryCount(length);
            summary->paletteEntries = entries > (uint32_t)kPaletteMaxEntries ? (uint32_t)kPaletteMaxEntries : entries;
            free(palette);
        }
    }
}

static int ReadPicture(const char* path, PngImage* png, ConvertReport* report) {
    errno = 0;
    uint8_t* file = nullptr;
    size_t fileLength = 0;
    const int read = ReadWholeFile(path, &file, &fileLength);
    if (read != kFileOk) {
        SayReadFailure(report->message, path, read, errno);
        return -1;
    }
    char pngError[kPngErrorRoom];
    const int decoded = DecodePng(file, fileLength, kPngMaxSide, kMaxPicturePixels, png, pngError, sizeof pngError);
    free(file);
    if (decoded != 0) Say(report->message, "%s", pngError);
    return decoded;
}

static bool EndsWithPng(const char* path) {
    const size_t length = strlen(path);
    if (length < 4) return false;
    char end[5];
    for (int i = 0; i < 4; i++) {
        const char c = path[length - 4 + i];
        end[i] = c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
    }
    end[4] = '\0';
    return strcmp(end, ".png") == 0;
}

static const char* PngKindName(int kind) {
    return kind == kPngIndexed ? "palette" : kind == kPngGrey ? "grey" : "colour";
}

struct PictureSettings {
    TextureSettings settings;
    unsigned fields;   // kTag...: the settings the tag carries
};

static std::string JsonNumber(bool given, unsigned value) {
    if (!given) return "null";
    char text[16];
    snprintf(text, sizeof text, "%u", value);
    return text;
}

static void PrintPictureJson(FILE* out, const char* path, bool first, const PngImage* png,
                             const PictureSettings& tagged, const char* error) {
    fprintf(out, "%s\n  {\"file\": %s, \"ok\": %s, \"error\": %s", first ? "" : ",", JsonQuote(path).c_str(),
            png ? "true" : "false", png ? "null" : JsonQuote(error).c_str());
    if (png) {
        fprintf(out, ", \"picture\": {\"width\": %u, \"height\": %u, \"kind\": \"%s\", \"paletteEntries\": %u}",
                png->width, png->height, PngKindName(png->kind), png->kind == kPngIndexed ? png->paletteCount : 0);
        fprintf(out, ", \"tag\": %s", png->tag[0] ? JsonQuote(png->tag).c_str() : "null");
        const TextureSettings& s = tagged.settings;
        fprintf(out, ", \"settings\": {\"dataType\": %s, \"colorFormat\": %s, \"globalIndex\": %s}",
                JsonNumber(tagged.fields & kTagType, s.dataType).c_str(),
                JsonNumber(tagged.fields & kTagColor, s.colorFormat).c_str(),
                JsonNumber(tagged.fields & kTagId, s.globalIndex).c_str());
    }
    fputc('}', out);
}

static void PrintPictureText(FILE* out, const char* path, bool first, const PngImage* png,
                             const PictureSettings& tagged, const char* error) {
    fprintf(out, "%s%s\n", first ? "" : "\n", path);
    if (!png) {
        fprintf(out, "  %-12s %s\n", "error:", error);
        return;
    }
    fprintf(out, "  %-12s PNG, %u x %u, %s picture\n", "picture:", png->width, png->height, PngKindName(png->kind));
    if (tagged.fields == 0)
        fprintf(out, "  %-12s none (encode takes them from the command line, the known-texture table or the "
                     "defaults)\n", "settings:");
    const TextureSettings& s = tagged.settings;
    if (tagged.fields & kTagType) fprintf(out, "  %-12s %u (%s)\n", "DataType:", s.dataType, TypeName(s.dataType));
    if (tagged.fields & kTagColor)
        fprintf(out, "  %-12s %u (%s)\n", "ColorFormat:", s.colorFormat, ColorName(s.colorFormat));
    if (tagged.fields & kTagId) fprintf(out, "  %-12s %u\n", "GlobalIndex:", s.globalIndex);
}

int PrintPictureInfo(FILE* out, const char* path, bool json, bool first) {
    if (!EndsWithPng(path)) return -1;
    ConvertReport report;
    ClearReport(&report);
    PngImage png;
    const bool read = ReadPicture(path, &png, &report) == 0;
    PictureSettings tagged = {UnsetTextureSettings(), 0};
    if (read) ParseLayerTag(png.tag, sizeof png.tag, &tagged.settings, &tagged.fields);
    if (json) PrintPictureJson(out, path, first, read ? &png : nullptr, tagged, report.message);
    else PrintPictureText(out, path, first, read ? &png : nullptr, tagged, report.message);
    if (read) FreePng(&png);
    return read ? 0 : 1;
}

// ---- decode

// The converter's files: each output is a new file staged beside its target
// and moved over it when complete, as the export writes its own.
static int ReplaceByMove(void*, const char* temp, const char* target) { return MoveOver(temp, target); }

ExportPlatform ConverterFilePlatform(void* context) {
    ExportPlatform platform;
    memset(&platform, 0, sizeof platform);
    platform.context = context;
    platform.allocator = kHeapAllocator;
    platform.WriteWholeFile = WriteFileStdio;
    platform.ReplaceTarget = ReplaceByMove;
    platform.RemoveFile = RemoveFileStdio;
    platform.CanReplace = CanReplaceStdio;
    return platform;
}

namespace {

// What the import driver asks of its surroundings, answered from memory and
// the command line.
struct ImportContext {
    uint8_t* texture;          // the texture file, read once, handed over on the first read
    size_t textureLength;
    const char* paletteOverride;
    bool paletteOptional;      // its entries have no conversion: the picture goes on without it
    bool paletteChosen;
    bool paletteTooLong;
    int paletteRead;           // kFile... of the palette read
    char palettePath[kImportPathCapacity];
};

int ImportReadWholeFile(void* context, const char* path, uint8_t** block, size_t* size) {
    ImportContext* c = static_cast<ImportContext*>(context);
    *block = nullptr;
    *size = 0;
    if (c->texture) {
        *block = c->texture;
        *size = c->textureLength;
        c->texture = nullptr;
        return 0;
    }
    const int result = ReadWholeFile(path, block, size);
    if (c->paletteChosen) c->paletteRead = result;
    switch (result) {
    case kFileOk: return 0;
    case kFileNotOpened: return -1;
    case kFileNoMemory:
    case kFileTooLarge: return -2;
    default: return -3;
    }
}

void* ImportAllocBlock(void*, size_t size) { return calloc(size > 0 ? size : 1, 1); }

void ImportFreeBlock(void*, void* block) { free(block); }

int ImportChoosePaletteFile(void* context, char* path, size_t capacity) {
    ImportContext* c = static_cast<ImportContext*>(context);
    if (c->paletteOverride) {
        const size_t length = strlen(c->paletteOverride);
        snprintf(c->palettePath, sizeof c->palettePath, "%s", c->paletteOverride);
        if (length >= capacity || length >= sizeof c->palettePath) {
            c->paletteTooLong = true;
            return -1;
        }
        memcpy(path, c->paletteOverride, length + 1);
    } else {
        snprintf(c->palettePath, sizeof c->palettePath, "%s", path);
        // As the plug-in looks for it: the palette beside the texture.
        FILE* probe = fopen(path, "r");
        if (probe) fclose(probe);
        else if (!c->paletteOptional) return -1;
    }
    c->paletteChosen = true;
    return 0;
}

void ImportShowLayerNull(void*) {}

}  // namespace

int ImportToHost(const char* input, const char* palette, MemoryHost* host, TextureCheck* check,
                 ConvertReport* report) {
    InitMemoryHost(host);
    memset(check, 0, sizeof *check);
    ClearReport(report);
    const size_t pathLength = strlen(input);
    if (pathLength < 4 || pathLength >= kImportPathCapacity) {
        Say(report->message, "path of %zu characters: the import takes 4 to %d", pathLength,
            kImportPathCapacity - 1);
        return -1;
    }
    ImportContext context;
    memset(&context, 0, sizeof context);
    context.paletteOverride = palette;
    errno = 0;
    const int read = ReadWholeFile(input, &context.texture, &context.textureLength);
    if (read != kFileOk) {
        SayReadFailure(report->message, input, read, errno);
        return -1;
    }
    const int checked = CheckTexture(context.texture, context.textureLength, ContainerOfPath(input), check);
    if (checked != kTextureOk) {
        free(context.texture);
        Say(report->message, "not a texture the import reads: %s", TextureCheckText(checked));
        return -1;
    }

    context.paletteOptional = !HasChannelRow(check->colorFormat);
    const ImportPlatform platform = {
        &context,        ImportReadWholeFile,     ImportAllocBlock,
        ImportFreeBlock, ImportChoosePaletteFile, ImportShowLayerNull,
    };
    const int status = ImportTexture(input, &host->image, &host->services, &platform);
    free(context.texture);   // still here only if the driver never read it

    if (status == kStatusCancelled) {
        if (context.paletteTooLong)
            Say(report->message, "palette path %s is too long", context.palettePath);
        else
            Say(report->message, "palette %s not found (give one with --palette)", context.palettePath);
        return -1;
    }
    if (status != kStatusDone) {
        Say(report->message, "not imported (status %d)", status);
        return -1;
    }
    if (host->outOfMemory) {
        Say(report->message, "no memory for a %u x %u picture", (unsigned)check->info.width,
            (unsigned)check->info.height);
        return -1;
    }
    if (context.paletteChosen && context.paletteRead != kFileOk && !context.paletteOptional) {
        Say(report->message, "cannot read palette %s", context.palettePath);
        return -1;
    }
    if (HostPixelsSet(host) == 0) {
        if (check->layout.decoder == kDecoderNone)
            Say(report->message, "DataType %u has no texel layout: nothing to decode", (unsigned)check->info.dataType);
        else
            Say(report->message, "ColorFormat %u (%s) has no colour conversion: nothing to decode",
                check->colorFormat, ColorName(check->colorFormat));
        return -1;
    }
    if (check->decision.indexed && !HasChannelRow(check->colorFormat))
        Say(report->warning, "palette entries in ColorFormat %u (%s) have no colour conversion: palette left black",
            check->colorFormat, ColorName(check->colorFormat));
    return 0;
}

int HostToPng(const MemoryHost* host, PngImage* png) {
    InitPng(png);
    png->width = (uint32_t)host->width;
    png->height = (uint32_t)host->height;
    const size_t count = (size_t)host->width * (size_t)host->height;
    const bool indexed = host->image.nColorMode == kColorModeIndexed;
    png->kind = indexed ? kPngIndexed : kPngColor;
    png->alpha = !indexed;
    png->pixels = (uint8_t*)malloc(count * PngPixelBytes(*png) + 1);
    if (!png->pixels) return -1;
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
    return 0;
}

int HostToRaw(const MemoryHost* host, uint8_t** data, size_t* length) {
    const size_t count = (size_t)host->width * (size_t)host->height;
    *length = 0;
    *data = (uint8_t*)malloc(4 * count + 1);
    if (!*data) return -1;
    for (size_t i = 0; i < count; i++) WriteU32(*data + 4 * i, host->pixels[i]);
    *length = 4 * count;
    return 0;
}

static void SayWriteFailure(char* out, const char* path, int error) {
    Say(out, "cannot write %s%s%s", path, error ? ": " : "", error ? strerror(error) : "");
}

static bool RefuseExisting(const char* path, bool force, ConvertReport* report) {
    if (!path || force || !PathExists(path)) return false;
    Say(report->message, "%s exists (use --force to replace it)", path);
    return true;
}

// The settings of the imported texture, as its layer tag says them (without
// the tag's leading blank).
static void TagPicture(const TextureCheck& check, PngImage* png) {
    char tag[kLayerTagRoom];
    const TextureInfo& info = check.info;
    FormatLayerTag(tag, sizeof tag, info.dataType, check.decision.tagColor, info.globalIndex, info.colorFormat);
    snprintf(png->tag, sizeof png->tag, "%s", tag[0] == ' ' ? tag + 1 : tag);
}

// One output's bytes, staged beside it: 0, or -1 with the reason.
static int StageOutput(const ExportPlatform* platform, const char* path, const uint8_t* bytes, size_t length,
                       StagedFile* file, ConvertReport* report) {
    errno = 0;
    if (StageFile(platform, path, bytes, length, file) == 0) return 0;
    SayWriteFailure(report->message, path, errno);
    return -1;
}

static int StagePicture(const MemoryHost& host, const TextureCheck& check, const char* path, int level,
                        const ExportPlatform* platform, StagedFile* file, ConvertReport* report) {
    PngImage png;
    uint8_t* bytes = nullptr;
    size_t length = 0;
    int result = HostToPng(&host, &png);
    if (result == 0) {
        TagPicture(check, &png);
        result = EncodePngAtLevel(&png, level, &bytes, &length);
    }
    if (result != 0) Say(report->message, "no memory to encode the PNG");
    else result = StageOutput(platform, path, bytes, length, file, report);
    free(bytes);
    FreePng(&png);
    return result;
}

static int StageRaw(const MemoryHost& host, const char* path, const ExportPlatform* platform, StagedFile* file,
                    ConvertReport* report) {
    uint8_t* bytes = nullptr;
    size_t length = 0;
    int result = HostToRaw(&host, &bytes, &length);
    if (result != 0) Say(report->message, "no memory for the raw pixels");
    else result = StageOutput(platform, path, bytes, length, file, report);
    free(bytes);
    return result;
}

// Both outputs replace their targets, or neither does.
static int CommitOutputs(const ExportPlatform* platform, StagedFile* picture, StagedFile* raw,
                         ConvertReport* report) {
    StagedFile none = {};
    StagedFile* first = raw->staged ? picture : &none;
    StagedFile* last = raw->staged ? raw : picture;
    const char* firstPath = first->target;
    const char* lastPath = last->target;
    errno = 0;
    const int committed = CommitPair(platform, first, last);
    if (committed == kExportOk) return 0;
    SayWriteFailure(report->message, committed == kExportPaletteNotCommitted ? firstPath : lastPath, errno);
    return -1;
}

int DecodeTextureFile(const DecodeJob& job, ConvertReport* report) {
    ClearReport(report);
    if (RefuseExisting(job.output, job.force, report) || RefuseExisting(job.rawOutput, job.force, report))
        return -1;
    MemoryHost host;
    TextureCheck check;
    if (ImportToHost(job.input, job.palette, &host, &check, report) != 0) {
        FreeMemoryHost(&host);
        return -1;
    }
    const ExportPlatform platform = ConverterFilePlatform(nullptr);
    StagedFile picture = {}, raw = {};
    int result = 0;
    if (job.output) result = StagePicture(host, check, job.output, job.pngLevel, &platform, &picture, report);
    if (result == 0 && job.rawOutput) result = StageRaw(host, job.rawOutput, &platform, &raw, report);
    FreeMemoryHost(&host);
    if (result == 0 && (picture.staged || raw.staged)) result = CommitOutputs(&platform, &picture, &raw, report);
    DiscardFile(&platform, &picture);
    DiscardFile(&platform, &raw);
    return result;
}

// ---- encode

// One setting: the command line's, else the tag's, else the preset row's,
// else the default.
static unsigned PickSetting(int32_t given, bool tagged, unsigned tagValue, bool preset, unsigned presetValue,
                            unsigned fallback, bool* usedPreset) {
    if (given >= 0) return (unsigned)given;
    if (tagged) return tagValue;
    if (!preset) return fallback;
    *usedPreset = true;
    return presetValue;
}

TextureSettings ResolveSettings(const SettingsChoice& choice, const char* outputPath, int pngKind,
                                const char** presetName, const char* tag) {
    // The table is searched by the base name: the dialog's own search ends
    // names at backslashes (double-byte aware), this system's paths also at
    // slashes, which are never the second byte of a double-byte character.
    const char* name = outputPath ? strrchr(outputPath, '/') : nullptr;
    name = name ? name + 1 : outputPath;
    SettingsDialogRecord record;
    PrepareSettingsRecord(&record, nullptr, choice.presets ? name : nullptr);
    const TextureSettings& preset = record.filePreset;
    TextureSettings tagged = UnsetTextureSettings();
    unsigned fields = 0;
    if (tag) ParseLayerTag(tag, kPngTextRoom, &tagged, &fields);

    bool usedPreset = false;
    TextureSettings s;
    s.dataType = (uint8_t)PickSetting(choice.dataType, fields & kTagType, tagged.dataType,
                                      preset.dataType != kUnsetCode, preset.dataType,
                                      pngKind == kPngIndexed ? kTypePal8 : kTypeTwiddled, &usedPreset);
    s.colorFormat = (uint8_t)PickSetting(choice.colorFormat, fields & kTagColor, tagged.colorFormat,
                                         preset.colorFormat != kUnsetCode, preset.colorFormat, kColorArgb1555,
                                         &usedPreset);
    s.globalIndex = (uint16_t)PickSetting(choice.globalIndex, fields & kTagId, tagged.globalIndex,
                                          preset.globalIndex != kUnsetGlobalIndex, preset.globalIndex, 0,
                                          &usedPreset);
    *presetName = usedPreset ? record.presetName : nullptr;
    return s;
}

bool IsIndexLayout(unsigned dataType, unsigned colorFormat) {
    const unsigned bits = TexelBits(dataType, colorFormat);
    return bits == 4 || bits == 8;
}

unsigned IndexLimit(unsigned dataType, unsigned colorFormat) {
    return TexelBits(dataType, colorFormat) == 4 ? 16 : 256;
}

static uint32_t HostColor(const uint8_t rgba[4]) {
    return (uint32_t)rgba[3] << 24 | (uint32_t)rgba[0] << 16 | (uint32_t)rgba[1] << 8 | rgba[2];
}

int PngToHost(const PngImage& png, const TextureSettings& settings, MemoryHost* host, ConvertReport* report) {
    InitMemoryHost(host);
    const bool indexLayout = IsIndexLayout(settings.dataType, settings.colorFormat);
    const unsigned limit = IndexLimit(settings.dataType, settings.colorFormat);
    const bool palettised = settings.dataType == kTypePal4 || settings.dataType == kTypePal8;
    const size_t count = (size_t)png.width * png.height;

    if (png.kind == kPngColor && indexLayout) {
        Say(report->message,
            "DataType %u with ColorFormat %u stores palette indices: give a palette or grey PNG, not a colour one",
            (unsigned)settings.dataType, (unsigned)settings.colorFormat);
        return -1;
    }
    if (indexLayout) {
        unsigned highest = 0;
        for (size_t i = 0; i < count; i++) {
            const unsigned v = png.kind == kPngIndexed ? png.pixels[i] : png.pixels[4 * i];
            if (v > highest) highest = v;
        }
        if (highest >= limit) {
            Say(report->message, "DataType %u with ColorFormat %u keeps %u colours, but the picture uses %s %u",
                (unsigned)settings.dataType, (unsigned)settings.colorFormat, limit,
                png.kind == kPngIndexed ? "index" : "grey level", highest);
            return -1;
        }
    }

    // Grey pictures are grey levels only where indices are stored: packed as
    // colour, their pixels keep their own alpha as direct colour.
    int32_t mode = kColorModeDirect;
    if (png.kind == kPngIndexed && indexLayout) mode = kColorModeIndexed;
    if (png.kind == kPngGrey && indexLayout) mode = kColorModeGrey;
    if (SetHostPicture(host, (int32_t)png.width, (int32_t)png.height, mode) != 0) {
        Say(report->message, "no memory for a %u x %u picture", png.width, png.height);
        return -1;
    }
    HostImage& image = host->image;
    bool translucent = false;
    if (mode == kColorModeIndexed) {
        image.nPaletteCount = (int32_t)png.paletteCount;
        // The export writes each entry's own alpha (ExportPlatform::paletteAlpha).
        unsigned transparent = 0, translucentEntries = 0;
        for (uint32_t i = 0; i < png.paletteCount; i++) {
            image.aPalette[i] = HostColor(png.palette[i]);
            if (png.palette[i][3] == 0 && transparent++ == 0) image.nTransparentIndex = (int32_t)i;
            if (png.palette[i][3] != 255) translucentEntries++;
        }
        if (transparent != 1) image.nTransparentIndex = -1;
        for (size_t i = 0; i < count; i++) host->pixels[i] = png.pixels[i];
        if (palettised && translucentEntries > 0 && settings.colorFormat == kColorRgb565)
            Say(report->warning, "ColorFormat 1 (RGB565) has no alpha: %u transparent palette entries are written opaque",
                translucentEntries);
    } else {
        for (size_t i = 0; i < count; i++) {
            const uint8_t* rgba = png.kind == kPngIndexed ? png.palette[png.pixels[i]] : png.pixels + 4 * i;
            host->pixels[i] = HostColor(rgba);
            if (rgba[3] != 255) translucent = true;
        }
        image.bAlpha = translucent || png.alpha ? 1 : 0;
        if (translucent && !indexLayout && settings.colorFormat == kColorRgb565)
            Say(report->warning, "ColorFormat 1 (RGB565) has no alpha: the picture's transparency is dropped");
    }
    return 0;
}

namespace {

int ExportChooseSettings(void* context, const HostLayer*, const char*, TextureSettings* settings) {
    *settings = *static_cast<const TextureSettings*>(context);
    return 0;
}

// The export shows its messages to the user of the plug-in; here the
// result code tells the cause.
void ExportShowMessage(void*, const char*, const char*, unsigned) {}

bool EndsWithPvrInAnyCase(const char* path) {
    const size_t length = strlen(path);
    if (length < 4) return false;
    const char* end = path + length - 4;
    if (end[0] != '.') return false;
    static const char kPvr[] = "pvr";
    for (int i = 0; i < 3; i++) {
        char c = end[1 + i];
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != kPvr[i]) return false;
    }
    return true;
}

enum { kLaidOutHere = 1 };   // PlanEncode: a layout the converter wrote itself

// The settings for this picture and output, and the files the export will
// write: -1 (with the reason) when they cannot be written or an existing
// file would be replaced without --force.
int PlanEncode(const EncodeJob& job, const PngImage& png, EncodeOutcome* outcome, ConvertReport* report) {
    const TextureSettings settings = ResolveSettings(job.choice, job.output, png.kind, &outcome->presetName, png.tag);
    outcome->settings = settings;
    if (IsConverterLayout(settings, png.kind))   // laid out and written here, not by the export driver
        return EncodeConverterLayout(png, settings, job.output, job.force, outcome, report) == 0 ? kLaidOutHere : -1;
    if (!IsExportablePair(settings.dataType, settings.colorFormat)) {
        Say(report->message,
            "DataType %u with ColorFormat %u cannot be written: the export writes DataType 1, 5, 7, 9 and 13 with "
            "ColorFormat 0, 1 and 2, and ColorFormat 5 and 6 with DataType 1 and 13 only",
            (unsigned)settings.dataType, (unsigned)settings.colorFormat);
        return -1;
    }
    const bool palettised = settings.dataType == kTypePal4 || settings.dataType == kTypePal8;
    if (palettised && MakePalettePath(job.output, outcome->palettePath, sizeof outcome->palettePath) &&
        strcmp(outcome->palettePath, job.output) != 0)
        outcome->wrotePalette = true;
    if (RefuseExisting(job.output, job.force, report) ||
        (outcome->wrotePalette && RefuseExisting(outcome->palettePath, job.force, report)))
        return -1;
    return 0;
}

// What an export that did not write its files says, by its result code.
void SayExportFailure(int result, const EncodeJob& job, const EncodeOutcome& outcome, int32_t width,
                      int32_t height, int error, ConvertReport* report) {
    switch (result) {
    case kExportNoMemory: Say(report->message, "no memory for the texture"); break;
    case kExportBadPath:
        Say(report->message, "output path of %zu characters: the export takes 4 to %d", strlen(job.output),
            kExportPathRoom - 1);
        break;
    case kExportBadPalettePath:
        Say(report->message,
            "%s does not end in a dot and three characters: its palette would be written as %s, over another "
            "name", job.output, outcome.palettePath);
        break;
    case kExportPaletteNotStaged:
    case kExportPaletteNotCommitted: SayWriteFailure(report->message, outcome.palettePath, error); break;
    case kExportTextureNotStaged:
    case kExportTextureNotCommitted: SayWriteFailure(report->message, job.output, error); break;
    case kExportBadHeight:
        Say(report->message, "height %d is not 128, 256, 512 or 1024 (the picture is %d x %d)", (int)height,
            (int)width, (int)height);
        break;
    case kExportBadWidth:
        Say(report->message, "width %d is not 128, 256, 512 or 1024 (the picture is %d x %d)", (int)width,
            (int)width, (int)height);
        break;
    case kExportTooManyLayers: Say(report->message, "a picture with more than one layer cannot be written"); break;
    default: Say(report->message, "the export refused the picture (code %d)", result); break;
    }
}

}  // namespace

int EncodeImageFile(const EncodeJob& job, EncodeOutcome* outcome, ConvertReport* report) {
    ClearReport(report);
    memset(outcome, 0, sizeof *outcome);
    PngImage png;
    if (ReadPicture(job.input, &png, report) != 0) return -1;
    MemoryHost host;
    InitMemoryHost(&host);
    int result = PlanEncode(job, png, outcome, report);
    if (result == kLaidOutHere) {
        FreePng(&png);
        FreeMemoryHost(&host);
        return 0;
    }
    if (result == 0) result = PngToHost(png, outcome->settings, &host, report);
    FreePng(&png);
    if (result != 0) {
        outcome->wrotePalette = false;
        FreeMemoryHost(&host);
        return -1;
    }

    ExportPlatform platform = ConverterFilePlatform(&outcome->settings);
    platform.ShowMessage = ExportShowMessage;
    platform.ChooseSettings = ExportChooseSettings;
    platform.paletteAlpha = true;   // the PNG's own alpha for every palette entry
    errno = 0;
    const int exported = ExportPicture(job.output, &host.image, &host.services, &platform);
    const int error = errno;
    const int32_t width = host.width, height = host.height;
    FreeMemoryHost(&host);
    if (exported != kExportOk) {
        SayExportFailure(exported, job, *outcome, width, height, error, report);
        outcome->wrotePalette = false;
        return -1;
    }
    if (EndsWithPvrInAnyCase(job.output) && !IsPlainPvrPath(job.output) && report->warning[0] == '\0')
        Say(report->warning, "only a name ending in \".pvr\" (lower case) is written plain: %s is a PVZ container",
            job.output);
    return 0;
}
