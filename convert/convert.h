// One file at a time: what `ombr info`, `ombr decode` and `ombr encode` do
// with it, each a plain function from a job to its outcome. Decoding runs the
// import driver (ImportTexture) on an in-memory host; encoding builds the
// host picture from a PNG and runs the export driver (ExportPicture) with the
// converter's encoders; the texture rules are theirs alone. Nothing here
// prints: the outcomes carry every message (report.h prints them).
#pragma once

#include <stddef.h>
#include <stdio.h>
#include <stdint.h>

#include <string>

#include "choice.h"
#include "export_core.h"
#include "import_core.h"
#include "memory_host.h"
#include "settings.h"

enum { kPathRoom = kExportPathBuffer, kReportRoom = 2 * kPathRoom + 256, kWarningsRoom = 2048 };
// A PNG's settings and source texts, as png.h keeps them (picture.cpp checks).
enum { kPictureTagRoom = 80, kPictureSourceRoom = 260 };

// What a conversion gives: kConvertDone, or a failure (negative) with its
// reason in the report's message.
enum { kConvertDone = 0, kConvertFailed = -1, kConvertRefused = -2 };

// Why a file failed, and what the user should know about one that did not
// (warnings: lines, each ended by a line break).
struct ConvertReport {
    char message[kReportRoom];
    char warning[kWarningsRoom];
};
void ClearReport(ConvertReport* report);
#ifdef _WIN32
#define OMBR_PRINTF gnu_printf   // the MinGW build uses its own C99 printf
#else
#define OMBR_PRINTF printf
#endif
void AddWarning(ConvertReport* report, const char* format, ...) __attribute__((format(OMBR_PRINTF, 2, 3)));
// The message of a failed read (a kFile... result) and of an output that
// exists without --force, or is a folder (true: refused).
void SayReadFailure(char* out, const char* path, int result, int error);
bool RefuseExisting(const char* path, bool force, ConvertReport* report);
// A texture file, or as much of it as a reader can use (PlanTextureRead), in
// a new malloc block: a kFile... result, with `checked` the kTexture... of a
// file refused unread (a .pvz longer than its size field allows).
[[nodiscard]] int ReadTexture(const char* path, uint8_t** file, size_t* length, uint64_t* fileLength, int* checked);

// ---- info

struct TextureSummary {
    int readResult;          // kFile... of files.h
    uint64_t fileLength;
    int checkResult;         // kTexture... (CheckTextureFile)
    TextureCheck check;
    bool decodable;          // a layout decodes it into pixels
    bool paletteNeeded;
    bool paletteFound;
    uint32_t paletteEntries; // entries the import takes from the palette file
    char palettePath[kPathRoom];
};

// Reads the texture at `path` and checks it as the import does; never fails
// as a call: the results are in the summary.
void InspectTexture(const char* path, TextureSummary* summary);

// Where a setting of `ombr encode` comes from.
enum { kFromCommandLine = 0, kFromTag, kFromTexture, kFromPreset, kFromDefault };
const char* SettingSourceName(int source);

// The texture an encode replaces: its header, when the output exists.
struct ReplacedTexture {
    bool exists;
    int container;
    TextureInfo info;
};

struct ResolvedSettings {
    TextureSettings settings;
    int source[3];            // kFrom... of the DataType, ColorFormat and GlobalIndex
    const char* presetName;   // the known-texture row used, or null
    unsigned refusedTag;      // kTag... times kTagRefused: the PNG's settings that name a field but no code
};

// The settings for a texture written to `outputPath` from a picture of PNG
// kind `pngKind`: each field from the command line, else from the picture's
// `tag` (its settings chunk; may be null), else from the texture being
// replaced, else from the known-texture table by the output's file name (when
// presets are on), else the default: DataType 7 for palette pictures and 1
// for others, ColorFormat 0 (ARGB1555), ID 0.
ResolvedSettings ResolveSettings(const SettingsChoice& choice, const char* outputPath, int pngKind, const char* tag,
                                 const ReplacedTexture* replaced);

// The texture an encode replaces, held against the new picture.
enum {
    kReplacedNone = 0,     // no texture there: a new one
    kReplacedRewritten,    // other settings, size or container (or another palette given): written anew
    kReplacedUnchanged,    // the picture shows what it shows, as its layout holds it: nothing to write
    kReplacedChanged,      // some pixels differ: only those are encoded
};
struct ReplacedComparison {
    int state;                 // kReplaced...
    uint64_t pixels;
    uint64_t changedPixels;
    uint32_t changedColours;   // distinct colours (indices) of the changed pixels
    bool levelsRemade;         // a mip chain's smaller levels are made again
    uint8_t* changed;          // a flag a pixel (malloc)
    uint8_t* indices;          // palette layouts: the old index of each pixel (malloc)
    uint8_t* texelBlock;       // VQ: the old file's texel data (malloc)
    TexelReference texels;     // what the export keeps of it
};
// Reads the texture at `output` as the import does (with its palette) and
// compares each pixel of `picture` with it: where a colour layout's pixel
// shows the old texel's colour as the layout holds it (in a format with
// alpha, any fully transparent colour for another), the picture gets the old
// colour back, so that the texel packs as it was. Gives the state; free
// with FreeReplacedComparison.
[[nodiscard]]
int CompareWithReplaced(const char* output, const ReplacedTexture& replaced, const TextureSettings& settings,
                        const char* palette, MemoryHost* picture, ReplacedComparison* comparison);
void FreeReplacedComparison(ReplacedComparison* comparison);


// ---- decode

struct DecodeJob {
    const char* input;
    const char* output;     // PNG to write, or null
    const char* rawOutput;  // host pixel values to write (little-endian 32-bit, row by row), or null
    const char* palette;    // palette file to use, or null for the .pvp beside the texture
    bool force;             // replace existing outputs
    int pngLevel;           // PNG compression, 0 to 9, or kPngLevelDefault
};

// The picture the import hands the host, in `host` (initialised by the
// call; free it with FreeMemoryHost even on failure): kConvertDone, or
// kConvertFailed with the reason in the report. `outcome` tells what the
// import found and did.
[[nodiscard]] int ImportToHost(const char* input, const char* palette, MemoryHost* host, ImportOutcome* outcome,
                               ConvertReport* report);

[[nodiscard]] int DecodeTextureFile(const DecodeJob& job, ConvertReport* report);

// The bytes decoding `input` takes at most, told from its header alone (0
// for a file that is refused unread): for a batch's memory budget.
uint64_t DecodeNeed(const char* input, bool raw);

// ---- encode

struct EncodeJob {
    const char* input;        // PNG
    const char* output;       // the texture to write; with `pickName`, its folder and stem
    bool pickName;            // the name is the PNG's own texture's, or the one already there (below)
    int container;            // kContainerChoice...: the extension given when nothing else names one
    SettingsChoice choice;
    const char* palette;      // the palette to keep, or null: the .pvp of the texture being replaced
    int unmapped;             // kUnmapped...
    bool force;
    bool dryRun;              // plan and compare only: nothing is written
};

struct EncodeOutcome {
    ResolvedSettings resolved;
    char output[kPathRoom];   // the texture written
    bool containerByDefault;  // its name had no container of its own: .pvz
    bool wrotePalette;
    char palettePath[kPathRoom];
    int paletteSource;        // kPaletteSource... of export_palette.h
    // Held against the texture being replaced (ReplacedComparison).
    int replacedState;        // kReplaced...
    uint64_t changedPixels;
    uint32_t changedColours;
    uint64_t nearestPixels;   // changed pixels given the nearest entry of the kept palette
    bool levelsRemade;
    bool vq;                  // a VQ texture held against its codebook
    bool codebookKept;        // its codebook kept, changed blocks given their nearest code (else trained anew)
    uint64_t changedBlocks;
    uint64_t blockError;      // their summed squared difference (red, green, blue) from the kept code nearest
    uint64_t keptBlocks;      // the other blocks, and theirs from the code they kept
    uint64_t keptError;
    uint64_t trainedError;    // the whole picture's on a codebook trained anew
    bool dryRun;              // planned only: nothing written
};

// What a PNG is to `ombr encode`.
struct PictureSummary {
    int readResult;           // kConvertDone, or kConvertFailed with the reason in `error`
    char error[kReportRoom];
    uint32_t width, height;
    int kind;                 // kPng... of png.h
    uint32_t paletteEntries;
    char tag[kPictureTagRoom];
    char source[kPictureSourceRoom];
    char output[kPathRoom];   // the texture encode would write (beside the picture)
    bool outputExists;
    ResolvedSettings resolved;
    // What encode would do (EncodeImageFile with dryRun): planned, or the
    // reason it would fail in `planError`, with its warnings.
    bool planned;
    EncodeOutcome plan;
    char planError[kReportRoom];
    char planWarnings[kWarningsRoom];
};
// `job`: the encode of the picture that is planned (its output the stem where
// encode would put the texture, with pickName; dryRun set).
void InspectPicture(const EncodeJob& job, PictureSummary* summary);

// The texture name for a picture when the command line gives none: the
// picture's folder (or `folder`) and base name without ".png"; a name that
// then ends in ".pvr" or ".pvz" is kept, otherwise the PNG's own texture name
// (its source chunk) when it has the same stem, else the name of a texture of
// that stem already there (in any letter case), else the stem with the
// extension of `container` (".pvz" when none). kConvertDone, or
// kConvertFailed with the reason (textures of both containers there and
// nothing to choose).
// `byDefault` (may be null) tells whether the container came from the default.
[[nodiscard]] int PickTextureName(const char* stemPath, const char* source, int container, char* out, size_t room,
                                  bool* byDefault, ConvertReport* report);

// The texture the picture's name and `containerChoice` give: "a.pvr.png"
// gives "a.pvr" whatever the choice; "a.png" gives "a.pvz" or "a.pvr" by the
// choice, and "" without one (kContainerChoiceNone).
std::string TextureNameFor(const std::string& picture, int containerChoice);

[[nodiscard]] int EncodeImageFile(const EncodeJob& job, EncodeOutcome* outcome, ConvertReport* report);

// The bytes encoding the PNG `input` takes at most, told from its IHDR
// chunk alone (0 for a picture refused unread: more pixels than
// kMaxPicturePixels).
uint64_t EncodeNeed(const char* input);

// ---- palettes

// `ombr palette`: a palette from one file kind to another, by their names'
// endings: the game's .pvp, the Adobe Color Table .act and the GIMP palette
// .gpl both ways, and a .png swatch (formats/editor_palettes.h). The entries
// of a .pvp are in `colorFormat`, or (-1) in the ColorFormat of the
// palettised texture of its stem beside it.
struct PaletteJob {
    const char* input;
    const char* output;
    int colorFormat;
    bool force;
};
// Says what went wrong on `err`, what was written on `out` (null: nothing):
// kConvertDone, kConvertFailed, or kConvertRefused when the files named are
// no such conversion.
[[nodiscard]] int ConvertPaletteFile(const PaletteJob& job, FILE* out, FILE* err);

// ---- pictures

// The grey level index i of a texture of `entries` (16 or 256) indices
// without a palette file is shown as: i x 255 / (entries - 1).
inline uint32_t IndexGrey(uint32_t i, uint32_t entries) {
    return 0xFF000000u | (i * (255 / (entries - 1))) * 0x010101u;
}
