// `ombr decode` and `ombr info` of one texture.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "picture.h"
#include "files.h"
#include "layout.h"
#include "messages.h"
#include "palette.h"
#include "pvz.h"
#include "texture.h"

void ClearReport(ConvertReport* report) {
    report->message[0] = '\0';
    report->warning[0] = '\0';
}

void AddWarning(ConvertReport* report, const char* format, ...) {
    const size_t used = strnlen(report->warning, sizeof report->warning);
    if (used + 2 >= sizeof report->warning) return;
    va_list args;
    va_start(args, format);
    vsnprintf(report->warning + used, sizeof report->warning - used - 1, format, args);
    va_end(args);
    strcat(report->warning, "\n");
}

static const char* ColorName(unsigned code) {
    const char* name = ColorFormatName(code);
    return name ? name : "unknown";
}

void SayReadFailure(char* out, const char* path, int result, int error) {
    switch (result) {
    case kFileNotOpened:
        snprintf(out, kReportRoom, "cannot open %s: %s", path, error ? strerror(error) : "not a file");
        break;
    case kFileNotRegular: snprintf(out, kReportRoom, "%s is not a regular file", path); break;
    case kFileNoMemory: snprintf(out, kReportRoom, "no memory to read %s", path); break;
    case kFileTooLarge: snprintf(out, kReportRoom, "%s is too large", path); break;
    default: snprintf(out, kReportRoom, "cannot read %s", path); break;
    }
}

int ReadTexture(const char* path, uint8_t** file, size_t* length, uint64_t* fileLength, int* checked) {
    *checked = kTextureOk;
    uint8_t head[kTextureHeadBytes];
    size_t headLength = 0;
    int result = ReadFileHead(path, head, sizeof head, &headLength, fileLength);
    if (result != kFileOk) return result;
    uint64_t readBytes = 0;
    *checked = PlanTextureRead(head, headLength, *fileLength, path, &readBytes);
    if (*checked != kTextureOk) return kFileOk;
    return ReadFilePart(path, readBytes, file, length, fileLength);
}

uint64_t DecodeNeed(const char* input, bool raw) {
    uint8_t head[kTextureHeadBytes];
    size_t headLength = 0;
    uint64_t fileLength = 0, readBytes = 0;
    if (ReadFileHead(input, head, sizeof head, &headLength, &fileLength) != kFileOk ||
        PlanTextureRead(head, headLength, fileLength, input, &readBytes) != kTextureOk)
        return 0;   // refused unread
    TextureCheck check;
    // As far as the head tells: its texel data is not there.
    const int checked = CheckTextureFile(head, headLength, input, &check);
    if (checked == kTextureShortFile || checked == kTextureBadMagic) return 0;
    uint64_t pixels = (uint64_t)check.info.width * check.info.height;
    if (pixels > kMaxPicturePixels) pixels = 0;   // refused before any picture is made
    // A .pvz's block is as its size field says, but only what the stream
    // expands to is ever touched: at most a record's longest run for each
    // record the file holds.
    uint64_t expanded = 0;
    if (check.container == kContainerPvz) {
        const unsigned unit = PvzUnitSize(check.info.dataType);
        const uint64_t most = kPvzStream + readBytes / (unit + 1) * kPvzMaxRunUnits * unit;
        expanded = check.pvzBlockSize < most ? check.pvzBlockSize : most;
    }
    // The file, its expansion, the host picture, the PNG's rows and the PNG
    // file (4 bytes a pixel each), and the --raw pixels.
    return readBytes + expanded + pixels * (raw ? 16 : 12);
}

void InspectTexture(const char* path, TextureSummary* summary) {
    memset(summary, 0, sizeof *summary);
    uint8_t* file = nullptr;
    size_t length = 0;
    summary->readResult = ReadTexture(path, &file, &length, &summary->fileLength, &summary->checkResult);
    if (summary->readResult != kFileOk || summary->checkResult != kTextureOk) {
        free(file);
        return;
    }
    summary->checkResult = CheckTextureFile(file, length, path, &summary->check);
    free(file);
    TextureCheck& check = summary->check;
    // What lies past what the layout reads was not read, but is there.
    if (check.container == kContainerPvr && summary->fileLength >= kTextureHeaderSize)
        check.texelBytes = summary->fileLength - kTextureHeaderSize;
    // Without a header there is nothing more to tell.
    if (summary->checkResult == kTextureShortFile || summary->checkResult == kTextureBadMagic) return;

    summary->decodable = summary->checkResult == kTextureOk && LayoutPaints(check.layout);
    summary->paletteNeeded = ReadsPaletteFile(check.info.dataType, check.info.colorFormat);
    char palette[kPathRoom];
    if (summary->paletteNeeded && MakePalettePath(path, palette, sizeof palette)) {
        if (!FindOtherCase(palette, summary->palettePath, sizeof summary->palettePath))
            snprintf(summary->palettePath, sizeof summary->palettePath, "%s", palette);
        uint64_t paletteLength = 0;
        if (FileLength(summary->palettePath, &paletteLength) == kFileOk) {
            summary->paletteFound = true;
            const uint64_t entries = paletteLength < kPaletteHeaderSize ? 0 : (paletteLength - kPaletteHeaderSize) / 2;
            summary->paletteEntries = entries > kPaletteMaxEntries ? (uint32_t)kPaletteMaxEntries : (uint32_t)entries;
        }
    }
}

namespace {

// What the import driver asks of its surroundings, answered from the files
// and the command line. A palette that is not there is the import's to
// find out (it reads nothing then), so that the texture is checked once.
struct ImportContext {
    const char* paletteOverride;
    bool paletteTooLong;
    int paletteRead;           // kFile... of the palette read
};

int ImportReadFile(void* context, const char* path, size_t limit, uint8_t** block, size_t* size) {
    ImportContext* c = static_cast<ImportContext*>(context);
    uint64_t fileLength = 0;
    const int result = ReadFilePart(path, limit, block, size, &fileLength);
    c->paletteRead = result;
    switch (result) {
    case kFileOk: return 0;
    case kFileNotOpened:
    case kFileNotRegular: return -1;
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
        if (length >= capacity) {
            c->paletteTooLong = true;
            return -1;
        }
        memcpy(path, c->paletteOverride, length + 1);
        return 0;
    }
    // As the plug-in looks for it: the palette beside the texture (in any
    // letter case, where names are case-sensitive).
    char found[kImportPathCapacity];
    if (FindOtherCase(path, found, sizeof found)) memcpy(path, found, sizeof found);
    return 0;
}

void ImportShowLayerNull(void*) {}

// What an import that ran tells the user: 0, or -1 with the reason.
int SayImported(int status, const ImportContext& context, const ImportOutcome& outcome, const MemoryHost& host,
                ConvertReport* report) {
    const TextureCheck& check = outcome.check;
    if (status == kStatusCancelled) {
        snprintf(report->message, kReportRoom, "palette path %s is too long", context.paletteOverride);
        return kConvertFailed;
    }
    if (status != kStatusDone) {
        snprintf(report->message, kReportRoom, "not a texture the import reads: %s", TextureResultText(outcome.checked));
        return kConvertFailed;
    }
    if (host.outOfMemory) {
        snprintf(report->message, kReportRoom, "no memory for a %u x %u picture", (unsigned)check.info.width,
                 (unsigned)check.info.height);
        return kConvertFailed;
    }
    if (outcome.palette == kPaletteUnread && HasChannelRow(check.colorFormat)) {
        if (context.paletteRead == kFileNotOpened && !context.paletteOverride)
            snprintf(report->message, kReportRoom, "palette %s not found (give one with --palette)", outcome.palettePath);
        else
            snprintf(report->message, kReportRoom, "cannot read palette %s", outcome.palettePath);
        return kConvertFailed;
    }
    if (outcome.decoded == kDecodeNothing) {
        const int reason = UndecodedReason(check.layout);
        if (reason == kUndecodedNoLayout)
            snprintf(report->message, kReportRoom, "DataType %u has %s: nothing to decode",
                     (unsigned)check.info.dataType, UndecodedText(reason));
        else
            snprintf(report->message, kReportRoom, "ColorFormat %u (%s) has %s: nothing to decode",
                     check.colorFormat, ColorName(check.colorFormat), UndecodedText(reason));
        return kConvertFailed;
    }
    if (outcome.decoded != kDecodeDone) {
        snprintf(report->message, kReportRoom, "not decoded: %s", TextureResultText(outcome.decoded));
        return kConvertFailed;
    }
    if (check.decision.indexed && !HasChannelRow(check.colorFormat) && HasPaletteFile(check.info.dataType))
        AddWarning(report, "palette entries in ColorFormat %u (%s) have no colour conversion: palette left black",
                   check.colorFormat, ColorName(check.colorFormat));
    return kConvertDone;
}

// Indices stored without a palette file show as distinct grey levels,
// index i as i x 255 / (entries - 1), which encode reads back as indices
// whatever a tool does to the PNG's palette.
void ShowIndicesAsGrey(const TextureCheck& check, MemoryHost* host) {
    if (!check.decision.indexed || HasChannelRow(check.colorFormat) || HasPaletteFile(check.info.dataType)) return;
    const uint32_t entries = (uint32_t)check.decision.paletteCount;
    for (uint32_t i = 0; i < entries; i++) host->image.aPalette[i] = IndexGrey(i, entries);
    host->image.nPaletteCount = (int32_t)entries;
}

}  // namespace

int ImportToHost(const char* input, const char* palette, MemoryHost* host, ImportOutcome* outcome,
                 ConvertReport* report) {
    InitMemoryHost(host);
    memset(outcome, 0, sizeof *outcome);
    ClearReport(report);
    const size_t pathLength = strlen(input);
    if (pathLength < 4 || pathLength >= kImportPathCapacity) {
        snprintf(report->message, kReportRoom, "path of %zu characters: the import takes 4 to %d", pathLength,
                 kImportPathCapacity - 1);
        return kConvertFailed;
    }
    uint8_t* file = nullptr;
    size_t length = 0;
    uint64_t fileLength = 0;
    int checked = kTextureOk;
    errno = 0;
    const int read = ReadTexture(input, &file, &length, &fileLength, &checked);
    if (read != kFileOk) {
        SayReadFailure(report->message, input, read, errno);
        return kConvertFailed;
    }
    if (checked != kTextureOk) {
        snprintf(report->message, kReportRoom, "not a texture the import reads: %s", TextureResultText(checked));
        return kConvertFailed;
    }
    ImportContext context = {palette, false, kFileOk};
    const ImportPlatform platform = {
        &context,        ImportReadFile,          ImportAllocBlock,
        ImportFreeBlock, ImportChoosePaletteFile, ImportShowLayerNull,
    };
    const int status = ImportTexture(input, file, length, &host->image, &host->services, &platform, outcome);
    free(file);
    const int said = SayImported(status, context, *outcome, *host, report);
    if (said == 0) ShowIndicesAsGrey(outcome->check, host);
    return said;
}

// ---- decode

static void SayWriteFailure(char* out, const char* path, int error) {
    snprintf(out, kReportRoom, "cannot write %s%s%s", path, error ? ": " : "", error ? strerror(error) : "");
}

bool RefuseExisting(const char* path, bool force, ConvertReport* report) {
    if (path && IsDirectory(path)) {   // never replaced, whatever --force says
        snprintf(report->message, kReportRoom, "%s is a folder, not a file: nothing is written over it", path);
        return true;
    }
    if (!path || force || !PathExists(path)) return false;
    snprintf(report->message, kReportRoom, Text(kTextExists), path);
    return true;
}

void TagPicture(const char* input, const TextureCheck& check, PngImage* png) {
    char tag[kLayerTagRoom];
    const TextureInfo& info = check.info;
    FormatLayerTag(tag, sizeof tag, info.dataType, check.decision.tagColor, info.globalIndex, info.colorFormat);
    snprintf(png->tag, sizeof png->tag, "%s", tag[0] == ' ' ? tag + 1 : tag);
    const char* base = input;
    for (const char* p = input; *p; p++)
        if (IsPathSeparator(*p)) base = p + 1;
    snprintf(png->source, sizeof png->source, "%s", base);
}

// One output's bytes, staged beside it: 0, or -1 with the reason.
static int StageOutput(const char* path, const uint8_t* bytes, size_t length, StagedFile* file,
                       ConvertReport* report) {
    errno = 0;
    if (StageFile(kConverterFiles, nullptr, path, bytes, length, file) == 0) return kConvertDone;
    SayWriteFailure(report->message, path, errno);
    return kConvertFailed;
}

static int StagePicture(const MemoryHost& host, const char* input, const TextureCheck& check, const char* path,
                        int level, StagedFile* file, ConvertReport* report) {
    PngImage png;
    uint8_t* bytes = nullptr;
    size_t length = 0;
    int result = HostToPng(&host, &png);
    if (result == 0) {
        TagPicture(input, check, &png);
        result = EncodePngAtLevel(&png, level, &bytes, &length);
    }
    if (result != 0) snprintf(report->message, kReportRoom, "no memory to encode the PNG");
    else result = StageOutput(path, bytes, length, file, report);
    free(bytes);
    FreePng(&png);
    return result;
}

static int StageRaw(const MemoryHost& host, const char* path, StagedFile* file, ConvertReport* report) {
    uint8_t* bytes = nullptr;
    size_t length = 0;
    int result = HostToRaw(&host, &bytes, &length);
    if (result != 0) snprintf(report->message, kReportRoom, "no memory for the raw pixels");
    else result = StageOutput(path, bytes, length, file, report);
    free(bytes);
    return result;
}

// Both outputs replace their targets, or neither does: two single files,
// with a journal in each folder.
static int CommitOutputs(StagedFile* picture, StagedFile* raw, ConvertReport* report) {
    StagedFile none = {};
    StagedFile* first = raw->staged ? picture : &none;
    StagedFile* last = raw->staged ? raw : picture;
    const char* firstPath = first->target;
    const char* lastPath = last->target;
    errno = 0;
    const int committed = CommitPair(kConverterFiles, nullptr, first, last);
    if (committed == 0) return kConvertDone;
    SayWriteFailure(report->message, committed == kCommitFirstNotIn ? firstPath : lastPath, errno);
    return kConvertFailed;
}

int DecodeTextureFile(const DecodeJob& job, ConvertReport* report) {
    ClearReport(report);
    if (RefuseExisting(job.output, job.force, report) || RefuseExisting(job.rawOutput, job.force, report))
        return kConvertFailed;
    MemoryHost host;
    ImportOutcome imported;
    if (ImportToHost(job.input, job.palette, &host, &imported, report) != 0) {
        FreeMemoryHost(&host);
        return kConvertFailed;
    }
    StagedFile picture = {}, raw = {};
    int result = 0;
    if (job.output) result = StagePicture(host, job.input, imported.check, job.output, job.pngLevel, &picture, report);
    if (result == 0 && job.rawOutput) result = StageRaw(host, job.rawOutput, &raw, report);
    FreeMemoryHost(&host);
    if (result == 0 && (picture.staged || raw.staged)) result = CommitOutputs(&picture, &raw, report);
    DiscardFile(kConverterFiles, nullptr, &picture);
    DiscardFile(kConverterFiles, nullptr, &raw);
    return result;
}
