// `ombr palette`: one palette file into another kind.
#include "convert.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "editor_palettes.h"
#include "encode.h"
#include "export_core.h"
#include "files.h"
#include "layout.h"
#include "palette.h"
#include "paths.h"
#include "png.h"

namespace {

enum { kKindNone = 0, kKindPvp, kKindAct, kKindGpl, kKindPng };
enum : uint64_t { kPaletteFileLimit = 1u << 20 };   // a .gpl of 256 entries and many comments

int KindOf(const std::string& path) {
    if (EndsWithNoCase(path, ".pvp")) return kKindPvp;
    if (EndsWithNoCase(path, ".act")) return kKindAct;
    if (EndsWithNoCase(path, ".gpl")) return kKindGpl;
    if (EndsWithNoCase(path, ".png")) return kKindPng;
    return kKindNone;
}

// The ColorFormat of a .pvp's entries: --color, else the header of the
// palettised texture of the same stem beside it (as the import reads it),
// else 0, said on `err`.
unsigned EntryFormat(const PaletteJob& job, const std::string& pvp, FILE* err) {
    if (job.colorFormat >= 0) return (unsigned)job.colorFormat;
    const std::string stem = pvp.substr(0, pvp.size() - 4);
    for (const int container : {kContainerPvz, kContainerPvr}) {
        char found[kPathRoom];
        if (!FindFile((stem + ContainerEnding(container)).c_str(), found, sizeof found)) continue;
        TextureSummary summary;
        InspectTexture(found, &summary);
        const TextureCheck& c = summary.check;
        if (summary.readResult == kFileOk && summary.checkResult != kTextureShortFile &&
            summary.checkResult != kTextureBadMagic && HasPaletteFile(c.info.dataType) && HasChannelRow(c.colorFormat))
            return c.colorFormat;
    }
    fprintf(err, "ombr: %s: no palettised texture of its name beside it tells the ColorFormat of the entries: "
            "taken as 0 (ARGB1555); --color N chooses\n", pvp.c_str());
    return kColorArgb1555;
}

int ReadPalette(const PaletteJob& job, const std::string& path, int kind, EditorPalette* palette, unsigned* format,
                FILE* err) {
    uint8_t* data = nullptr;
    size_t length = 0;
    uint64_t fileLength = 0;
    errno = 0;
    const int read = ReadFilePart(path.c_str(), kPaletteFileLimit, &data, &length, &fileLength);
    if (read != kFileOk || fileLength > kPaletteFileLimit) {
        char message[kReportRoom];
        if (read != kFileOk) SayReadFailure(message, path.c_str(), read, errno);
        else snprintf(message, sizeof message, "%s is too large for a palette", path.c_str());
        fprintf(err, "ombr: %s\n", message);
        free(data);
        return kConvertFailed;
    }
    int result;
    uint32_t line = 0;
    if (kind == kKindPvp) result = PaletteFromPvp(data, length, *format = EntryFormat(job, path, err), palette);
    else if (kind == kKindAct) result = ReadAct(data, length, palette);
    else result = ReadGpl(reinterpret_cast<const char*>(data), length, palette, &line);
    free(data);
    if (result == kEditorPaletteOk) return kConvertDone;
    if (line) fprintf(err, "ombr: %s, line %u: %s\n", path.c_str(), line, EditorPaletteErrorText(result));
    else fprintf(err, "ombr: %s: %s\n", path.c_str(), EditorPaletteErrorText(result));
    return kConvertFailed;
}

// The swatch as a palette PNG: the entries with their alpha, and a
// transparent one more where the last row is short.
int SwatchPng(const EditorPalette& palette, std::vector<uint8_t>* bytes) {
    PngImage png;
    InitPng(&png);
    SwatchSize(palette.count, &png.width, &png.height);
    png.kind = kPngIndexed;
    png.pixels = (uint8_t*)malloc((size_t)png.width * png.height);
    if (!png.pixels) return -1;
    LayOutSwatch(palette.count, png.pixels);
    png.paletteCount = palette.count + (palette.count % kSwatchColumns ? 1 : 0);
    memset(png.palette, 0, sizeof png.palette);
    for (uint32_t i = 0; i < palette.count; i++) {
        const uint32_t c = palette.colors[i];
        png.palette[i][0] = (uint8_t)(c >> 16);
        png.palette[i][1] = (uint8_t)(c >> 8);
        png.palette[i][2] = (uint8_t)c;
        png.palette[i][3] = (uint8_t)(c >> 24);
    }
    uint8_t* data = nullptr;
    size_t length = 0;
    const int result = EncodePng(&png, &data, &length);
    FreePng(&png);
    if (result == 0) bytes->assign(data, data + length);
    free(data);
    return result;
}

// The output file's bytes, with a warning for what its kind cannot keep.
int WritePalette(const PaletteJob& job, const std::string& in, const std::string& path, int kind,
                 const EditorPalette& palette, unsigned* format, std::vector<uint8_t>* bytes, FILE* err) {
    if (kind == kKindPvp) {
        *format = EntryFormat(job, path, err);
        bytes->resize(kPaletteMaxFileSize);
        bytes->resize(PvpFromPalette(palette, *format, bytes->data()));
        const uint32_t changed = PvpColorsChanged(palette, *format);
        if (changed)
            fprintf(err, "ombr: %s: warning: %u of %u entries are rounded to what ColorFormat %u (%s) holds\n",
                    path.c_str(), changed, palette.count, *format, ColorFormatName(*format));
    } else if (kind == kKindAct) {
        bytes->resize(kActFileBytes);
        bytes->resize(WriteAct(palette, bytes->data()));
        const uint32_t lost = ActAlphaLost(palette);
        if (lost)
            fprintf(err, "ombr: %s: warning: a colour table keeps one transparent entry: %u entries come back opaque\n",
                    path.c_str(), lost);
    } else if (kind == kKindGpl) {
        const size_t base = BaseNameStart(in);
        const size_t dot = in.rfind('.');
        const std::string name = in.substr(base, dot != std::string::npos && dot > base ? dot - base : std::string::npos);
        bytes->resize(kGplMaxBytes);
        bytes->resize(WriteGpl(palette, name.c_str(), reinterpret_cast<char*>(bytes->data()), bytes->size()));
    } else if (SwatchPng(palette, bytes) != 0) {
        fprintf(err, "ombr: no memory for the swatch\n");
        return kConvertFailed;
    }
    return bytes->empty() ? -1 : 0;
}

}  // namespace

int ConvertPaletteFile(const PaletteJob& job, FILE* out, FILE* err) {
    const std::string in = job.input, path = job.output;
    const int inKind = KindOf(in), outKind = KindOf(path);
    if (inKind == kKindNone || inKind == kKindPng || outKind == kKindNone) {
        fprintf(err, "ombr palette: reads a .pvp, .act or .gpl and writes a .pvp, .act, .gpl or .png\n");
        return kConvertRefused;
    }
    if (SamePath(in.c_str(), path.c_str())) {
        fprintf(err, "ombr palette: -o names the palette read\n");
        return kConvertRefused;
    }
    ConvertReport report;
    ClearReport(&report);
    if (RefuseExisting(path.c_str(), job.force, &report)) {
        fprintf(err, "ombr: %s\n", report.message);
        return kConvertFailed;
    }
    EditorPalette palette;
    unsigned inFormat = 0, outFormat = 0;
    std::vector<uint8_t> bytes;
    if (ReadPalette(job, in, inKind, &palette, &inFormat, err) != 0 ||
        WritePalette(job, in, path, outKind, palette, &outFormat, &bytes, err) != 0)
        return kConvertFailed;
    errno = 0;
    const int result = WriteFileSafely(kConverterFiles, nullptr, path.c_str(), bytes.data(), bytes.size());
    if (result != 0) {
        fprintf(err, "ombr: cannot write %s%s%s\n", path.c_str(), errno ? ": " : "", errno ? strerror(errno) : "");
        return kConvertFailed;
    }
    if (out) {
        fprintf(out, "ombr palette: %s", in.c_str());
        if (inKind == kKindPvp) fprintf(out, " (ColorFormat %u, %s)", inFormat, ColorFormatName(inFormat));
        fprintf(out, " -> %s", path.c_str());
        if (outKind == kKindPvp) fprintf(out, " (ColorFormat %u, %s)", outFormat, ColorFormatName(outFormat));
        fprintf(out, ": %u entries\n", palette.count);
    }
    return kConvertDone;
}
