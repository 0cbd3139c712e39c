#include "report.h"

#include <math.h>
#include <string.h>

#include "console.h"
#include "files.h"
#include "layout.h"
#include "messages.h"
#include "png.h"

void InitReporter(Reporter* r, FILE* out, FILE* err, bool json, bool progress, size_t total) {
    memset(r, 0, sizeof *r);
    r->out = out;
    r->err = err;
    r->json = json;
    r->progress = progress;
    r->total = total;
    r->columns = TerminalColumns(err);
}

// ---- progress and messages

void ClearProgress(Reporter* r) {
    if (!r->progress || !r->shown) return;
    Say(r->err, "\r%*s\r", r->columns - 1, "");
    fflush(r->err);
    r->shown = false;
}

void ShowProgress(Reporter* r, const char* name) {
    if (!r->progress) return;
    const int barWidth = 24;
    const int filled = r->total ? (int)(barWidth * r->done / r->total) : barWidth;
    char head[96];
    snprintf(head, sizeof head, "[%.*s%.*s] %zu/%zu ", filled, "########################", barWidth - filled,
             "........................", r->done, r->total);
    const int room = r->columns - 1 - (int)strlen(head);
    const size_t length = strlen(name);
    if (room <= 3) Say(r->err, "\r%s%-*s", head, room > 0 ? room : 0, "");
    else if ((int)length > room) Say(r->err, "\r%s...%s", head, name + length - (size_t)(room - 3));
    else Say(r->err, "\r%s%-*s", head, room, name);
    fflush(r->err);
    r->shown = true;
}

void ReportFailure(Reporter* r, const char* path, const char* text) {
    ClearProgress(r);
    Say(r->err, Text(kTextFailure), path, text);
}

void ReportWarnings(Reporter* r, const char* path, const char* lines) {
    if (!lines[0]) return;
    ClearProgress(r);
    for (const char* line = lines; *line;) {
        const char* end = strchr(line, '\n');
        const int length = end ? (int)(end - line) : (int)strlen(line);
        Say(r->err, Text(kTextWarning), path, length, line);
        line += length + (end ? 1 : 0);
    }
}

static void PrintLine(Reporter* r, const char* text) {
    ClearProgress(r);
    Say(r->out, "%s\n", text);
    fflush(r->out);
}

void ReportDecoded(Reporter* r, const char* input, const char* output) {
    char line[2 * kPathRoom + 8];
    snprintf(line, sizeof line, "%s -> %s", input, output);
    PrintLine(r, line);
}

static void DescribeReplacement(const EncodeOutcome& o, char* out, size_t room) {
    const bool plan = o.dryRun;
    switch (o.replacedState) {
    case kReplacedNone: snprintf(out, room, "%s", plan ? "would be new" : "new"); return;
    case kReplacedRewritten:
        snprintf(out, room, "%s (settings, size or container other than the texture replaced)",
                 plan ? "would be written anew" : "written anew");
        return;
    case kReplacedUnchanged: snprintf(out, room, "unchanged"); return;
    default: break;
    }
    size_t n = (size_t)snprintf(out, room, "%llu pixels of %u colour%s %s", (unsigned long long)o.changedPixels,
                                o.changedColours, o.changedColours == 1 ? "" : "s", plan ? "would change" : "changed");
    if (n < room && o.nearestPixels > 0)
        n += (size_t)snprintf(out + n, room - n, "; %llu given the nearest entry of the kept palette",
                              (unsigned long long)o.nearestPixels);
    if (n < room && o.levelsRemade)
        n += (size_t)snprintf(out + n, room - n, "; smaller levels %s", plan ? "would be remade" : "remade");
    if (n < room && o.vq && o.changedBlocks > 0) {
        // RMS error a channel (red, green, blue) of the changed blocks on
        // the kept codebook, and of the others on their kept codes.
        const double changed = sqrt((double)o.blockError / (12.0 * (double)o.changedBlocks));
        const double values = 12.0 * (double)(o.changedBlocks + o.keptBlocks);
        const double whole = sqrt((double)(o.blockError + o.keptError) / values);
        const double trained = sqrt((double)o.trainedError / values);
        if (o.codebookKept)
            n += (size_t)snprintf(out + n, room - n, "; codebook kept, %llu changed blocks given the nearest code "
                                  "(RMS error %.1f; the picture %.1f, on a codebook trained anew %.1f)",
                                  (unsigned long long)o.changedBlocks, changed, whole, trained);
        else
            n += (size_t)snprintf(out + n, room - n, "; codebook trained anew (RMS error of the picture %.1f; on the "
                                  "kept codebook %.1f, its %llu changed blocks %.1f)", trained, whole,
                                  (unsigned long long)o.changedBlocks, changed);
    }
}

void ReportEncoded(Reporter* r, const char* input, const EncodeOutcome& outcome) {
    const TextureSettings& s = outcome.resolved.settings;
    char what[256];
    DescribeReplacement(outcome, what, sizeof what);
    char line[3 * kPathRoom + 256];
    snprintf(line, sizeof line, "%s -> %s (DataType %u, ColorFormat %u, ID %u%s%s)%s%s: %s", input, outcome.output,
             (unsigned)s.dataType, (unsigned)s.colorFormat, (unsigned)s.globalIndex,
             outcome.resolved.presetName ? ", preset " : "",
             outcome.resolved.presetName ? outcome.resolved.presetName : "", outcome.wrotePalette ? " + " : "",
             outcome.wrotePalette ? outcome.palettePath : "", what);
    PrintLine(r, line);
}

void ReportSummary(Reporter* r, const char* command, size_t converted, size_t failed, bool interrupted,
                   const size_t* replaced, bool dryRun) {
    ClearProgress(r);
    char counts[160] = "";
    if (replaced)
        snprintf(counts, sizeof counts, Text(kTextReplacedCounts), replaced[kReplacedUnchanged],
                 replaced[kReplacedChanged], replaced[kReplacedNone], replaced[kReplacedRewritten]);
    Say(r->out, Text(kTextSummary), command, converted, Text(dryRun ? kTextPlanned : kTextConverted), counts, failed,
        interrupted ? Text(kTextInterrupted) : "");
}

void ReportGalleryTexture(Reporter* r, const char* path, const char* what, const char* detail) {
    ClearProgress(r);
    fprintf(r->out, "%s: %s%s\n", path, what, detail ? detail : "");
    fflush(r->out);
}

void ReportGallerySummary(Reporter* r, size_t textures, size_t redone, size_t notDecoded, size_t failed,
                          const char* page) {
    ClearProgress(r);
    fprintf(r->out, "ombr gallery: %zu textures (%zu redone, %zu unchanged), %zu not decoded", textures, redone,
            textures - redone, notDecoded);
    if (failed) fprintf(r->out, ", %zu failed", failed);
    fprintf(r->out, " -> %s\n", page);
}

void ReportFailedFiles(Reporter* r, const std::string* paths, size_t count) {
    for (size_t i = 0; i < count; i++) Say(r->err, Text(kTextFailedFile), paths[i].c_str());
}

// ---- info

static const char* CodeName(const char* name) { return name ? name : "unknown"; }

static void PrintCode(FILE* out, const char* label, unsigned code, const char* name) {
    Say(out, "  %-12s %u (%s)", label, code, CodeName(name));
}

static void PrintTextureText(FILE* out, const char* path, const TextureSummary& s) {
    Say(out, "%s\n", path);
    if (s.readResult != kFileOk) {
        Say(out, "  error:       cannot be read\n");
        return;
    }
    const TextureCheck& c = s.check;
    if (s.checkResult == kTextureShortFile || s.checkResult == kTextureBadMagic) {
        Say(out, "  error:       %s (%llu bytes)\n", TextureResultText(s.checkResult),
                (unsigned long long)s.fileLength);
        return;
    }
    if (c.container == kContainerPvz)
        Say(out, "  %-12s PVZ, %llu bytes (size field %u)\n", "container:", (unsigned long long)s.fileLength,
                c.pvzSize);
    else
        Say(out, "  %-12s PVR, %llu bytes\n", "container:", (unsigned long long)s.fileLength);
    Say(out, "  %-12s %u (ID %d)\n", "GlobalIndex:", c.info.globalIndex, (int)(int32_t)c.info.globalIndex);
    PrintCode(out, "ColorFormat:", c.info.colorFormat, ColorFormatName(c.info.colorFormat));
    if (c.colorFormat != c.info.colorFormat)
        Say(out, ", read as %u (%s)", c.colorFormat, CodeName(ColorFormatName(c.colorFormat)));
    Say(out, "\n");
    PrintCode(out, "DataType:", c.info.dataType, DataTypeName(c.info.dataType));
    Say(out, "\n");
    Say(out, "  %-12s %u x %u\n", "size:", (unsigned)c.info.width, (unsigned)c.info.height);
    Say(out, "  %-12s %llu bytes (the layout reads %llu)\n", "texel data:", (unsigned long long)c.texelBytes,
            (unsigned long long)c.layout.needed);
    if (!s.paletteNeeded)
        Say(out, "  %-12s none used\n", "palette:");
    else if (s.paletteFound)
        Say(out, "  %-12s %s, %u entries%s\n", "palette:", s.palettePath, s.paletteEntries,
                HasChannelRow(c.colorFormat) ? "" : " (no colour conversion for their ColorFormat)");
    else
        Say(out, "  %-12s %s not found\n", "palette:", s.palettePath[0] ? s.palettePath : "(no path)");
    if (s.checkResult != kTextureOk)
        Say(out, "  %-12s refused: %s\n", "import:", TextureResultText(s.checkResult));
    else if (!s.decodable)
        Say(out, "  %-12s nothing to decode (%s)\n", "import:",
                UndecodedText(UndecodedReason(c.layout)));
    else
        Say(out, "  %-12s ok\n", "import:");
}

static std::string JsonCode(unsigned code, const char* name) {
    char text[32];
    snprintf(text, sizeof text, "%u", code);
    return std::string("{\"code\": ") + text + ", \"name\": " + (name ? JsonQuote(name) : "null") + "}";
}

static const char* TextureError(const TextureSummary& s) {
    const TextureCheck& c = s.check;
    if (s.readResult != kFileOk) return "cannot be read";
    if (s.checkResult != kTextureOk) return TextureResultText(s.checkResult);
    if (!s.decodable) return UndecodedText(UndecodedReason(c.layout));
    return nullptr;
}

static void OpenRecord(Reporter* r, const char* path, const char* kind, const char* error) {
    Say(r->out, "%s\n  {\"file\": %s, \"kind\": %s, \"ok\": %s, \"error\": %s", r->printed ? "," : "",
            JsonQuote(path).c_str(), kind ? JsonQuote(kind).c_str() : "null", error ? "false" : "true",
            error ? JsonQuote(error).c_str() : "null");
}

static void PrintTextureJson(Reporter* r, const char* path, const TextureSummary& s) {
    FILE* out = r->out;
    const TextureCheck& c = s.check;
    const bool header = s.readResult == kFileOk && s.checkResult != kTextureShortFile &&
                        s.checkResult != kTextureBadMagic;
    OpenRecord(r, path, "texture", TextureError(s));
    if (s.readResult == kFileOk) Say(out, ", \"fileLength\": %llu", (unsigned long long)s.fileLength);
    if (header) {
        Say(out, ", \"container\": \"%s\"", c.container == kContainerPvz ? "pvz" : "pvr");
        if (c.container == kContainerPvz) Say(out, ", \"pvzSize\": %u", c.pvzSize);
        Say(out, ", \"globalIndex\": %u", c.info.globalIndex);
        Say(out, ", \"colorFormat\": %s", JsonCode(c.info.colorFormat, ColorFormatName(c.info.colorFormat)).c_str());
        Say(out, ", \"importColorFormat\": %s", JsonCode(c.colorFormat, ColorFormatName(c.colorFormat)).c_str());
        Say(out, ", \"dataType\": %s", JsonCode(c.info.dataType, DataTypeName(c.info.dataType)).c_str());
        Say(out, ", \"width\": %u, \"height\": %u", (unsigned)c.info.width, (unsigned)c.info.height);
        Say(out, ", \"texelBytes\": %llu, \"layoutBytes\": %llu", (unsigned long long)c.texelBytes,
                (unsigned long long)c.layout.needed);
        Say(out, ", \"decodable\": %s", s.decodable ? "true" : "false");
        if (s.paletteNeeded)
            Say(out, ", \"palette\": {\"path\": %s, \"found\": %s, \"entries\": %u, \"converted\": %s}",
                    JsonQuote(s.palettePath).c_str(), s.paletteFound ? "true" : "false", s.paletteEntries,
                    HasChannelRow(c.colorFormat) ? "true" : "false");
        else
            Say(out, ", \"palette\": null");
    }
    fputc('}', out);
}

static const char* PngKindName(int kind) {
    return kind == kPngIndexed ? "palette" : kind == kPngGrey ? "grey" : "colour";
}

static void PrintPictureText(FILE* out, const char* path, const PictureSummary& s) {
    Say(out, "%s\n", path);
    if (s.readResult != 0) {
        Say(out, "  %-12s %s\n", "error:", s.error);
        return;
    }
    Say(out, "  %-12s PNG, %u x %u, %s picture\n", "picture:", s.width, s.height, PngKindName(s.kind));
    if (s.source[0]) Say(out, "  %-12s %s\n", "made from:", s.source);
    Say(out, "  %-12s %s%s\n", "encode to:", s.output[0] ? s.output : "(no name: see encode)",
            s.outputExists ? " (exists)" : "");
    const ResolvedSettings& r = s.resolved;
    const TextureSettings& t = r.settings;
    Say(out, "  %-12s %u (%s), from %s\n", "DataType:", (unsigned)t.dataType, CodeName(DataTypeName(t.dataType)),
            SettingSourceName(r.source[0]));
    Say(out, "  %-12s %u (%s), from %s\n", "ColorFormat:", (unsigned)t.colorFormat,
            CodeName(ColorFormatName(t.colorFormat)), SettingSourceName(r.source[1]));
    Say(out, "  %-12s %u, from %s\n", "GlobalIndex:", (unsigned)t.globalIndex, SettingSourceName(r.source[2]));
    if (!s.planned) {
        Say(out, "  %-12s refused: %s\n", "encode:", s.planError);
        return;
    }
    const EncodeOutcome& p = s.plan;
    if (HasPaletteFile(p.resolved.settings.dataType) && p.palettePath[0])
        Say(out, "  %-12s %s (%s)\n", "palette:", p.palettePath,
            p.replacedState == kReplacedUnchanged ? "unchanged"
            : p.paletteSource == kPaletteSourceKept    ? "kept"
                                                  : "made anew");
    char what[256];
    DescribeReplacement(p, what, sizeof what);
    Say(out, "  %-12s %s\n", "encode:", what);
    for (const char* line = s.planWarnings; *line;) {
        const char* end = strchr(line, '\n');
        const int length = end ? (int)(end - line) : (int)strlen(line);
        Say(out, "  %-12s %.*s\n", "warning:", length, line);
        line += length + (end ? 1 : 0);
    }
}

static void PrintPictureJson(Reporter* r, const char* path, const PictureSummary& s) {
    FILE* out = r->out;
    OpenRecord(r, path, "png", s.readResult != 0 ? s.error : nullptr);
    if (s.readResult == 0) {
        Say(out, ", \"picture\": {\"width\": %u, \"height\": %u, \"kind\": \"%s\", \"paletteEntries\": %u}",
                s.width, s.height, PngKindName(s.kind), s.paletteEntries);
        Say(out, ", \"tag\": %s", s.tag[0] ? JsonQuote(s.tag).c_str() : "null");
        Say(out, ", \"source\": %s", s.source[0] ? JsonQuote(s.source).c_str() : "null");
        const ResolvedSettings& rs = s.resolved;
        Say(out, ", \"encode\": {\"output\": %s, \"outputExists\": %s",
                s.output[0] ? JsonQuote(s.output).c_str() : "null", s.outputExists ? "true" : "false");
        const char* names[3] = {"dataType", "colorFormat", "globalIndex"};
        const unsigned values[3] = {rs.settings.dataType, rs.settings.colorFormat, (unsigned)rs.settings.globalIndex};
        for (int i = 0; i < 3; i++)
            Say(out, ", \"%s\": {\"value\": %u, \"from\": \"%s\"}", names[i], values[i],
                    SettingSourceName(rs.source[i]));
        static const char* const kStates[] = {"new", "rewritten", "unchanged", "changed"};
        const EncodeOutcome& p = s.plan;
        if (!s.planned)
            Say(out, ", \"refused\": %s", JsonQuote(s.planError).c_str());
        else
            Say(out, ", \"replaced\": \"%s\", \"changedPixels\": %llu, \"changedColours\": %u, \"palette\": %s",
                kStates[p.replacedState & 3], (unsigned long long)p.changedPixels, p.changedColours,
                HasPaletteFile(p.resolved.settings.dataType) && p.palettePath[0]
                    ? (p.paletteSource == kPaletteSourceKept || p.replacedState == kReplacedUnchanged ? "\"kept\""
                                                                                                : "\"new\"")
                    : "null");
        fputc('}', out);
    }
    fputc('}', out);
}

void BeginInfo(Reporter* r) {
    if (r->json) fputc('[', r->out);
}

void EndInfo(Reporter* r) {
    if (r->json) fputs(r->printed == 0 ? "]\n" : "\n]\n", r->out);
}

void ReportTextureInfo(Reporter* r, const char* path, const TextureSummary& summary) {
    if (r->json) PrintTextureJson(r, path, summary);
    else {
        if (r->printed) fputc('\n', r->out);
        PrintTextureText(r->out, path, summary);
    }
    r->printed++;
}

void ReportPictureInfo(Reporter* r, const char* path, const PictureSummary& summary) {
    if (r->json) PrintPictureJson(r, path, summary);
    else {
        if (r->printed) fputc('\n', r->out);
        PrintPictureText(r->out, path, summary);
    }
    r->printed++;
}

void ReportInfoProblem(Reporter* r, const char* path, const char* problem) {
    if (r->json) {
        OpenRecord(r, path, nullptr, problem);
        fputc('}', r->out);
        r->printed++;
    } else {
        Say(r->err, "ombr: %s: %s\n", path, problem);
    }
}
