// One file at a time: what `ombr info`, `ombr decode` and `ombr encode` do
// with it. Decoding runs the import driver (ImportTexture) on an in-memory
// host; encoding builds the host picture from a PNG and runs the export
// driver (ExportTexture); the texture rules are theirs alone.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "import_core.h"
#include "memory_host.h"
#include "png.h"
#include "settings.h"

enum { kReportRoom = 640 };

// Why a file failed, and what the user should know about one that did not.
struct ConvertReport {
    char message[kReportRoom];
    char warning[kReportRoom];
};

// ---- info

struct TextureSummary {
    int readResult;          // kFile... of files.h
    size_t fileLength;
    int checkResult;         // kTexture... of decode.h (CheckTexture)
    TextureCheck check;
    bool decodable;          // a layout decodes it into pixels
    bool paletteNeeded;
    bool paletteFound;
    uint32_t paletteEntries; // entries the import takes from the palette file
    char palettePath[kImportPathCapacity];
};

// Reads the texture at `path` and checks it as the import does; never fails
// as a call: the results are in the summary.
void InspectTexture(const char* path, TextureSummary* summary);

// What a PNG carries for `ombr encode`: prints `path`'s size, kind and the
// settings of its tag (text after a blank line, or one JSON object after a
// ",", unless `first`).
// Gives -1, printing nothing, when the path does not end in ".png" (in any
// letter case); 0 when it was read; 1 when it is no PNG it can read.
int PrintPictureInfo(FILE* out, const char* path, bool json, bool first);

// The converter's files for the export's staged writing: each output a new
// file beside its target, moved over it when complete.
struct ExportPlatform;
ExportPlatform ConverterFilePlatform(void* context);

// ---- decode

struct DecodeJob {
    const char* input;
    const char* output;     // PNG to write, or null
    const char* rawOutput;  // host pixel values to write (little-endian 32-bit, row by row), or null
    const char* palette;    // palette file to use, or null for the .pvp beside the texture
    bool force;             // replace existing outputs
    int pngLevel = kPngDefaultLevel;   // PNG compression, 0 to 9
};

// The picture the import hands the host, in `host` (initialised by the
// call; free it with FreeMemoryHost even on failure): 0, or -1 with the
// reason in the report.
int ImportToHost(const char* input, const char* palette, MemoryHost* host, TextureCheck* check,
                 ConvertReport* report);

// The PNG of an imported picture: indexed pictures as palette images (the
// host palette, extended to cover every index used), colour pictures as
// RGBA. 0, or -1 when no memory can be had.
int HostToPng(const MemoryHost* host, PngImage* png);

// The host's pixel values, little-endian 32-bit words row by row, in a new
// malloc block of width x height x 4 bytes.
int HostToRaw(const MemoryHost* host, uint8_t** data, size_t* length);

int DecodeTextureFile(const DecodeJob& job, ConvertReport* report);

// ---- encode

// What the command line asked for; -1 where it said nothing.
struct SettingsChoice {
    int dataType;
    int colorFormat;
    int32_t globalIndex;
    bool presets;   // --preset auto: fill what is missing from the preset table
};
inline SettingsChoice NoSettingsChoice() {
    SettingsChoice c = {-1, -1, -1, true};
    return c;
}

// The settings for a texture written to `outputPath` from a picture of PNG
// kind `pngKind`: each field from the command line, else from the picture's
// `tag` (the layer tag that decode writes into the PNG; may be null), else
// from the PresetTable row of the output's file name (when presets are on), else the
// default: DataType 7 for palette pictures and 1 for others, ColorFormat 0
// (ARGB1555), ID 0. `presetName` receives the row's name when a field came
// from it, else null.
TextureSettings ResolveSettings(const SettingsChoice& choice, const char* outputPath, int pngKind,
                                const char** presetName, const char* tag = nullptr);

// True for the layouts that store palette indices: DataType 5 and 7, and
// DataType 1 and 13 with ColorFormat 5 or 6.
bool IsIndexLayout(unsigned dataType, unsigned colorFormat);
// Indices such a layout keeps: 16 (4-bit) or 256.
unsigned IndexLimit(unsigned dataType, unsigned colorFormat);

// Builds the host picture for the settings: a palette PNG becomes an
// indexed picture (nColorMode 3, its palette and count, and as
// nTransparentIndex the one entry that is fully transparent, if exactly one
// is) for index layouts and a direct-colour picture of its colours for
// colour layouts; a grey PNG a grey picture (nColorMode 2) whose values hold
// the grey level in red, green and blue (so also in the index byte) and the
// alpha; a colour PNG a direct-colour picture. Refuses (-1, with the reason)
// what the layout cannot hold: colours where indices are stored, or indices
// beyond 15 in a 4-bit layout.
int PngToHost(const PngImage& png, const TextureSettings& settings, MemoryHost* host, ConvertReport* report);

struct EncodeJob {
    const char* input;    // PNG
    const char* output;   // texture: .pvr (exactly) is written plain, anything else as a PVZ container
    SettingsChoice choice;
    bool force;
};

struct EncodeOutcome {
    TextureSettings settings;
    const char* presetName;   // the PresetTable row used, or null
    bool wrotePalette;
    char palettePath[kImportPathCapacity];
};

int EncodeImageFile(const EncodeJob& job, EncodeOutcome* outcome, ConvertReport* report);
