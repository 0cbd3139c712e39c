// `ombr encode` of one picture, and what `ombr info` tells of a PNG.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "picture.h"
#include "files.h"
#include "layout.h"
#include "palette.h"
#include "paths.h"
#include "presets.h"
#include "texture.h"

enum { kPngMaxSide = 0xFFFF };   // a texture's sides are 16-bit

enum { kPngHeadBytes = 33 };   // the signature and the whole IHDR chunk

// A picture no texture can hold is refused from its header, before its file
// is read or any pixel memory taken: true with the reason.
static bool RefuseLargePicture(const char* path, char* message) {
    uint8_t head[kPngHeadBytes];
    size_t length = 0;
    uint64_t fileLength = 0;
    uint32_t width, height;
    int kind;
    if (ReadFileHead(path, head, sizeof head, &length, &fileLength) != kFileOk ||
        PeekPng(head, length, &width, &height, &kind) != 0 || (uint64_t)width * height <= kMaxPicturePixels)
        return false;
    snprintf(message, kReportRoom, "a %u x %u picture: more pixels than any texture holds (%u)", width, height,
             (unsigned)kMaxPicturePixels);
    return true;
}

uint64_t EncodeNeed(const char* input) {
    uint8_t head[kPngHeadBytes];
    size_t length = 0;
    uint64_t fileLength = 0;
    uint32_t width, height;
    int kind;
    if (ReadFileHead(input, head, sizeof head, &length, &fileLength) != kFileOk) return 0;
    if (PeekPng(head, length, &width, &height, &kind) != 0) return fileLength;
    const uint64_t pixels = (uint64_t)width * height;
    // The file, its pixels decoded, the host picture and the texture (with
    // its PVZ container and the encoders' work): about 4 bytes a pixel each;
    // the texture being replaced, read back, and the comparison with it
    // about 12 more; and its text chunks, as far as the decoder keeps them.
    return pixels > kMaxPicturePixels ? 0 : fileLength + 28 * pixels + kPngTextLimit;
}

static int ReadPicture(const char* path, PngImage* png, char* message) {
    InitPng(png);
    if (RefuseLargePicture(path, message)) return kConvertFailed;
    errno = 0;
    uint8_t* file = nullptr;
    size_t fileLength = 0;
    uint64_t length = 0;
    const int read = ReadFilePart(path, UINT64_MAX, &file, &fileLength, &length);
    if (read != kFileOk) {
        SayReadFailure(message, path, read, errno);
        return kConvertFailed;
    }
    char pngError[kPngErrorRoom];
    const int decoded = DecodePng(file, fileLength, kPngMaxSide, kMaxPicturePixels, png, pngError, sizeof pngError);
    free(file);
    if (decoded != 0) snprintf(message, kReportRoom, "%s", pngError);
    return decoded;
}

// The header of the texture at `path`, when there is one.
static void ReadReplaced(const char* path, ReplacedTexture* replaced) {
    memset(replaced, 0, sizeof *replaced);
    uint8_t head[kTextureHeadBytes];
    size_t length = 0;
    uint64_t fileLength = 0;
    if (ReadFileHead(path, head, sizeof head, &length, &fileLength) != kFileOk) return;
    TextureCheck check;
    const int checked = CheckTextureFile(head, length, path, &check);
    if (checked == kTextureShortFile || checked == kTextureBadMagic) return;
    replaced->exists = true;
    replaced->container = check.container;
    replaced->info = check.info;
}

int PickTextureName(const char* stemPath, const char* source, int container, char* out, size_t room,
                    bool* byDefault, ConvertReport* report) {
    if (byDefault) *byDefault = false;
    std::string stem = stemPath;
    if (EndsWithNoCase(stem, ".png") && stem.size() - 4 > BaseNameStart(stem)) stem.resize(stem.size() - 4);
    const std::string folder = FolderOf(stem), base = stem.substr(BaseNameStart(stem));
    std::string name = TextureNameFor(stemPath, container);
    if (name.empty()) {
        // The texture the picture was made from, under its own name (never
        // another folder's, nor another stem's).
        const std::string own = source ? source : "";
        const bool ownName = BaseNameStart(own) == 0 && own.size() == base.size() + 4 &&
                             LowerAscii(own.substr(0, base.size())) == LowerAscii(base) &&
                             HasTextureEnding(own.c_str());
        char pvr[kPathRoom], pvz[kPathRoom];
        const bool hasPvr = FindFile(JoinPath(folder, base + ContainerEnding(kContainerPvr)).c_str(), pvr, sizeof pvr);
        const bool hasPvz = FindFile(JoinPath(folder, base + ContainerEnding(kContainerPvz)).c_str(), pvz, sizeof pvz);
        if (ownName) name = JoinPath(folder, own);
        else if (hasPvr && hasPvz) {
            snprintf(report->message, kReportRoom, "both %s and %s exist: name the output with -o or --container", pvr,
                     pvz);
            return kConvertFailed;
        } else if (hasPvr || hasPvz) {
            name = hasPvr ? pvr : pvz;
        } else {
            name = stem + ContainerEnding(kContainerPvz);
            if (byDefault) *byDefault = true;
        }
        if (ownName && (hasPvr || hasPvz)) {
            // The file already there under the same name in another letter case.
            char found[kPathRoom];
            if (FindFile(name.c_str(), found, sizeof found)) name = found;
        }
    }
    if (name.size() >= room) {
        snprintf(report->message, kReportRoom, "output path %s is too long", name.c_str());
        return kConvertFailed;
    }
    memcpy(out, name.c_str(), name.size() + 1);
    return kConvertDone;
}

std::string TextureNameFor(const std::string& picture, int containerChoice) {
    std::string stem = picture;
    if (EndsWithNoCase(stem, ".png") && stem.size() - 4 > BaseNameStart(stem)) stem.resize(stem.size() - 4);
    if (HasTextureEnding(stem.c_str()) && stem.size() - 4 > BaseNameStart(stem)) return stem;
    if (containerChoice == kContainerChoiceNone) return std::string();
    return stem + ContainerEnding(containerChoice == kContainerChoicePvr ? kContainerPvr : kContainerPvz);
}

namespace {

int GivenSettings(void* context, const HostLayer*, const char*, TextureSettings* settings) {
    *settings = *static_cast<const TextureSettings*>(context);
    return 0;
}

bool Translucent(const PngImage& png) {
    const size_t count = (size_t)png.width * png.height;
    for (size_t i = 0; i < count; i++)
        if ((png.kind == kPngIndexed ? png.palette[png.pixels[i]][3] : png.pixels[4 * i + 3]) != 255) return true;
    return false;
}

// The ColorFormats the converter writes a DataType with: "0, 1 or 2".
std::string WrittenColorFormats(unsigned dataType) {
    std::string list;
    unsigned codes[256], count = 0;
    for (unsigned c = 0; c < 256; c++)
        if (IsWritablePair(dataType, c, kWrittenByConverter)) codes[count++] = c;
    for (unsigned i = 0; i < count; i++)
        list += (i == 0 ? "" : i + 1 == count ? " or " : ", ") + std::to_string(codes[i]);
    return list;
}

// What cannot be written, said before anything is: kConvertDone, or kConvertFailed.
int CheckEncode(const EncodeJob& job, const PngImage& png, EncodeOutcome* outcome, ConvertReport* report) {
    const TextureSettings& s = outcome->resolved.settings;
    uint64_t needed;
    const int writable = CheckWritable(s.dataType, s.colorFormat, png.width, png.height, kWrittenByConverter, &needed);
    if (writable == kTextureNotWritten) {
        if (IsWrittenDataType(s.dataType) && !IsWritablePair(s.dataType, s.colorFormat, kWrittenByConverter))
            snprintf(report->message, kReportRoom, "DataType %u is written with ColorFormat %s, not %u",
                     (unsigned)s.dataType, WrittenColorFormats(s.dataType).c_str(), (unsigned)s.colorFormat);
        else if (const char* why = NotWrittenReason(s.dataType))
            snprintf(report->message, kReportRoom, "DataType %u is not written: %s", (unsigned)s.dataType, why);
        else
            snprintf(report->message, kReportRoom, "DataType %u is not written", (unsigned)s.dataType);
        return kConvertFailed;
    }
    if (writable != kTextureOk) {
        snprintf(report->message, kReportRoom, "a %u x %u picture cannot be DataType %u: %s", png.width, png.height,
                 (unsigned)s.dataType, TextureResultText(writable));
        return kConvertFailed;
    }
    if (HasPaletteFile(s.dataType)) {
        if (!MakePalettePath(outcome->output, outcome->palettePath, sizeof outcome->palettePath)) {
            snprintf(report->message, kReportRoom, "no palette file name can be made from %s", outcome->output);
            return kConvertFailed;
        }
        char found[kPathRoom];
        if (FindOtherCase(outcome->palettePath, found, sizeof found)) memcpy(outcome->palettePath, found, sizeof found);
        if (SamePath(outcome->palettePath, outcome->output)) {
            snprintf(report->message, kReportRoom, "%s would be its own palette file: give the texture another name",
                     outcome->output);
            return kConvertFailed;
        }
    }
    // A palette given to keep must be one: a name that leads nowhere is said,
    // never taken for "none".
    if (HasPaletteFile(s.dataType) && job.palette) {
        uint64_t length = 0;
        errno = 0;
        const int read = FileLength(job.palette, &length);
        if (read != kFileOk) {
            SayReadFailure(report->message, job.palette, read, errno);
            return kConvertFailed;
        }
        if (length < kPaletteHeaderSize || length > kPaletteKeptMaxFileSize) {
            snprintf(report->message, kReportRoom, "--palette %s: %llu bytes, no palette file (16 to %u bytes)",
                     job.palette, (unsigned long long)length, (unsigned)kPaletteKeptMaxFileSize);
            return kConvertFailed;
        }
    }
    if (RefuseExisting(outcome->output, job.force, report)) return kConvertFailed;
    if (HasPaletteFile(s.dataType) && RefuseExisting(outcome->palettePath, job.force, report)) return kConvertFailed;
    return kConvertDone;
}

// What an export that did not write its files says, by its result code.
void SayExportFailure(int result, const EncodeOutcome& outcome, const ExportOutcome& exported, int error,
                      ConvertReport* report) {
    char* m = report->message;
    const char* errorText = error ? strerror(error) : "";
    switch (result) {
    case kExportNoMemory: snprintf(m, kReportRoom, "no memory for the texture"); break;
    case kExportBadPath:
        snprintf(m, kReportRoom, "output path %s: fewer than 4 characters, or longer than this system's paths "
                 "(%u %s)", outcome.output, kConverterFiles.pathLimit < kExportPathBuffer ? kConverterFiles.pathLimit
                 : kExportPathBuffer - 1, kConverterFiles.pathStyle == kPathsWindowsUtf8 ? "UTF-16 units" : "bytes");
        break;
    case kExportBadPalettePath:
        snprintf(m, kReportRoom, "%s does not end in a dot and three characters: its palette would be written over "
                 "another name", outcome.output);
        break;
    case kExportUnmappedColours:
        snprintf(m, kReportRoom, "%u colours (%llu pixels) are not in the palette %s (--strict-palette)",
                 exported.unmappedColours, (unsigned long long)exported.unmappedPixels,
                 outcome.palettePath[0] ? outcome.palettePath : "kept");
        break;
    case kExportPaletteNotStaged:
    case kExportPaletteNotCommitted:
        snprintf(m, kReportRoom, "cannot write %s%s%s", outcome.palettePath, error ? ": " : "", errorText);
        break;
    case kExportTextureNotStaged:
    case kExportTextureNotCommitted:
        snprintf(m, kReportRoom, "cannot write %s%s%s", outcome.output, error ? ": " : "", errorText);
        break;
    default: snprintf(m, kReportRoom, "the export refused the picture (code %d)", result); break;
    }
}

// What the user should know of a texture that was written.
void Warn(const EncodeJob& job, const PngImage& png, const EncodeOutcome& outcome, const ExportOutcome& exported,
          ConvertReport* report) {
    const ResolvedSettings& r = outcome.resolved;
    const TextureSettings& s = r.settings;
    const struct {
        unsigned field;
        const char* key;
    } refusable[] = {{kTagType, "#TYPE"}, {kTagColor, "#COLOR"}, {kTagId, "#ID"}};
    char refused[32] = "";
    for (const auto& f : refusable)
        if (r.refusedTag & f.field * kTagRefused)
            snprintf(refused + strlen(refused), sizeof refused - strlen(refused), "%s%s", refused[0] ? ", " : "", f.key);
    if (refused[0])
        AddWarning(report, "the PNG's settings (\"%s\") give no valid number for %s: not taken", png.tag, refused);
    if (r.source[0] == kFromDefault || r.source[1] == kFromDefault || r.source[2] == kFromDefault ||
        outcome.containerByDefault) {
        char which[160] = "";
        if (outcome.containerByDefault) snprintf(which, sizeof which, "the container (PVZ)");
        const char* names[3] = {"DataType", "ColorFormat", "ID"};
        const unsigned values[3] = {s.dataType, s.colorFormat, (unsigned)s.globalIndex};
        for (int i = 0; i < 3; i++)
            if (r.source[i] == kFromDefault)
                snprintf(which + strlen(which), sizeof which - strlen(which), "%s%s %u", which[0] ? ", " : "",
                         names[i], values[i]);
        AddWarning(report, "%s from the defaults: neither the PNG nor a texture being replaced gives %s", which,
                   strchr(which, ',') ? "them" : "it");
    }
    const unsigned format = PaletteFormat(exported.container, s.dataType, s.colorFormat);
    if (HasPaletteFile(s.dataType) && format != s.colorFormat)
        AddWarning(report, "a plain .pvr of DataType %u that says ColorFormat %u has its palette read as %s: it is "
                   "written so", (unsigned)s.dataType, (unsigned)s.colorFormat, ColorFormatName(format));
    if (exported.unmappedPixels > 0)
        AddWarning(report, "%u colours (%llu pixels) are not in the palette %s: %s", exported.unmappedColours,
                   (unsigned long long)exported.unmappedPixels, job.palette ? job.palette : outcome.palettePath,
                   exported.paletteSource == kPaletteSourceKept ? "each got the nearest entry (--new-palette makes a new "
                                                            "palette, --strict-palette refuses)"
                                                          : "a new palette was made");
    if (exported.approximatedPixels > 0)
        AddWarning(report, "the picture has more colours than DataType %u holds (%u): %llu pixels got the nearest "
                   "colour of the palette made for it", (unsigned)s.dataType, PaletteIndexLimit(s.dataType),
                   (unsigned long long)exported.approximatedPixels);
    const unsigned colours = HasPaletteFile(s.dataType) ? format : s.colorFormat;
    if (HasChannelRow(colours) && KeptAlphaBits(s.dataType, colours) == 0 && Translucent(png)) {
        if (IsVqLayout(s.dataType))
            AddWarning(report, "VQ keeps no alpha: the picture's transparency is dropped");
        else
            AddWarning(report, "ColorFormat %u (%s) keeps no alpha: the picture's transparency is dropped", colours,
                       ColorFormatName(colours));
    }
    if (ContainerOfPath(outcome.output) == kContainerPvr && !EndsWithNoCase(outcome.output, ContainerEnding(kContainerPvr)))
        AddWarning(report, "%s ends in \"pvr\": it is written as a plain texture", outcome.output);
}

}  // namespace

int EncodeImageFile(const EncodeJob& job, EncodeOutcome* outcome, ConvertReport* report) {
    ClearReport(report);
    memset(outcome, 0, sizeof *outcome);
    PngImage png;
    if (ReadPicture(job.input, &png, report->message) != 0) return kConvertFailed;
    int result = 0;
    if (job.pickName) {
        result = PickTextureName(job.output, png.source, job.container, outcome->output, sizeof outcome->output,
                                 &outcome->containerByDefault, report);
    } else if (strlen(job.output) >= sizeof outcome->output) {
        snprintf(report->message, kReportRoom, "output path %.64s... is too long", job.output);
        result = -1;
    } else {
        snprintf(outcome->output, sizeof outcome->output, "%s", job.output);
        // Where names fold case, the file replaced keeps the case it has.
        char found[kPathRoom];
        if (kConverterFiles.pathStyle == kPathsWindowsUtf8 && FindFile(outcome->output, found, sizeof found))
            memcpy(outcome->output, found, sizeof found);
    }
    ReplacedTexture replaced;
    if (result == 0) {
        ReadReplaced(outcome->output, &replaced);
        outcome->resolved = ResolveSettings(job.choice, outcome->output, png.kind, png.tag, &replaced);
        result = CheckEncode(job, png, outcome, report);
    }
    MemoryHost host;
    InitMemoryHost(&host);
    if (result == 0) result = PngToHost(png, outcome->resolved.settings, &host, report);
    if (result != 0) {
        FreeMemoryHost(&host);
        FreePng(&png);
        return kConvertFailed;
    }

    // The texture being replaced is the reference: what the picture did not
    // change stays as it was, and an unchanged picture writes nothing.
    ReplacedComparison comparison;
    outcome->replacedState =
        CompareWithReplaced(outcome->output, replaced, outcome->resolved.settings, job.palette, &host, &comparison);
    outcome->changedPixels = comparison.changedPixels;
    outcome->changedColours = comparison.changedColours;
    outcome->levelsRemade = comparison.levelsRemade;
    outcome->dryRun = job.dryRun;
    if (comparison.state == kReplacedUnchanged || job.dryRun) {
        if (HasPaletteFile(outcome->resolved.settings.dataType) && comparison.state != kReplacedUnchanged)
            outcome->paletteSource = job.palette || PathExists(outcome->palettePath) ? kPaletteSourceKept
                                                                                     : kPaletteSourcePicture;
        if (job.dryRun && comparison.state != kReplacedUnchanged) {
            // What encode would warn of before it knows the palette's fit.
            ExportOutcome planned;
            memset(&planned, 0, sizeof planned);
            planned.container = ContainerOfPath(outcome->output);
            Warn(job, png, *outcome, planned, report);
        }
        FreeReplacedComparison(&comparison);
        FreeMemoryHost(&host);
        FreePng(&png);
        return kConvertDone;
    }

    ExportPlatform platform;
    InitExportPlatform(&platform, &outcome->resolved.settings, kConverterFiles, kConverterEncoders);
    platform.ChooseSettings = GivenSettings;
    const ExportOptions options = {job.palette, true, job.unmapped,
                                   comparison.state == kReplacedChanged ? &comparison.texels : nullptr};
    ExportOutcome exported;
    errno = 0;
    result = ExportPicture(outcome->output, &host.image, &host.services, &platform, &options, &exported);
    const int error = errno;
    FreeMemoryHost(&host);
    if (result == kExportOk && comparison.state == kReplacedChanged) {
        if (exported.paletteSource == kPaletteSourceKept) outcome->nearestPixels = exported.unmappedPixels;
        outcome->vq = comparison.texels.texels != nullptr;
        outcome->codebookKept = comparison.texels.codebookKept;
        outcome->changedBlocks = comparison.texels.changedBlocks;
        outcome->blockError = comparison.texels.blockError;
        outcome->keptBlocks = comparison.texels.keptBlocks;
        outcome->keptError = comparison.texels.keptError;
        outcome->trainedError = comparison.texels.trainedError;
    }
    FreeReplacedComparison(&comparison);
    if (result != kExportOk) SayExportFailure(result, *outcome, exported, error, report);
    else Warn(job, png, *outcome, exported, report);
    FreePng(&png);
    outcome->wrotePalette = result == kExportOk && exported.wrotePalette;
    outcome->paletteSource = exported.paletteSource;
    if (outcome->wrotePalette) snprintf(outcome->palettePath, sizeof outcome->palettePath, "%s", exported.palettePath);
    return result == kExportOk ? 0 : -1;
}

void InspectPicture(const EncodeJob& job, PictureSummary* summary) {
    memset(summary, 0, sizeof *summary);
    const char* path = job.input;
    // What encode would do, planned as --dry-run plans it.
    ConvertReport planReport;
    summary->planned = EncodeImageFile(job, &summary->plan, &planReport) == 0;
    memcpy(summary->planError, planReport.message, sizeof summary->planError);
    memcpy(summary->planWarnings, planReport.warning, sizeof summary->planWarnings);
    PngImage png;
    summary->readResult = ReadPicture(path, &png, summary->error);
    if (summary->readResult != 0) return;
    summary->width = png.width;
    summary->height = png.height;
    summary->kind = png.kind;
    summary->paletteEntries = png.kind == kPngIndexed ? png.paletteCount : 0;
    memcpy(summary->tag, png.tag, sizeof summary->tag);
    memcpy(summary->source, png.source, sizeof summary->source);
    ConvertReport report;
    ClearReport(&report);
    if (PickTextureName(job.output, png.source, job.container, summary->output, sizeof summary->output, nullptr,
                        &report) != 0)
        snprintf(summary->output, sizeof summary->output, "%s", "");
    ReplacedTexture replaced;
    ReadReplaced(summary->output, &replaced);
    summary->outputExists = replaced.exists;
    summary->resolved = ResolveSettings(job.choice, summary->output, png.kind, png.tag, &replaced);
    FreePng(&png);
}
