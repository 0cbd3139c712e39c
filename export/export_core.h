// The export driver: checks a host image, asks for the texture settings,
// writes the palette and the texture. Everything that touches the user or the
// disk goes through an ExportPlatform, so the plug-in and the command-line
// converter share this driver and the tests can run it in memory.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "alloc.h"
#include "encode.h"
#include "export_palette.h"
#include "host_api.h"
#include "safe_files.h"
#include "settings.h"

enum {
    kSizeCaptionRoom = 128,
};

// Message box flags, with the values of MB_OK and MB_ICONERROR.
enum { kMessageOk = 0x00, kMessageIconError = 0x10 };

struct LayoutEncoders;

struct ExportPlatform {
    void* context;
    // A modal message to the user.
    void (*ShowMessage)(void* context, const char* text, const char* caption, unsigned flags);
    // The settings dialog: 0 with `settings` filled, -1 when cancelled.
    // `layer` may carry a layer tag; `path` is the file being written.
    int (*ChooseSettings)(void* context, const HostLayer* layer, const char* path, TextureSettings* settings);
    // The heap for the texture buffer, the PVZ container and the palette's work.
    Allocator allocator;
    ExportFiles files;
    // The layouts this program writes.
    const LayoutEncoders* encoders;
};

// Every export platform is filled here: the program's files and encoders,
// the heap, no messages and a dialog that cancels until the caller sets its own.
void InitExportPlatform(ExportPlatform* platform, void* context, const ExportFiles& files,
                        const LayoutEncoders& encoders);

// How an export treats the palette of DataType 5 and 7 (export_palette.h).
struct ExportOptions {
    const char* knownPalette;   // a .pvp to keep instead of the one beside the texture; null: that one
    bool mapIndexed;            // an indexed picture maps onto the known palette too
    int unmapped;               // kUnmapped...: colours the known palette does not hold
    TexelReference* reference;  // the texture being replaced, to keep what did not change; null: none
};
// The plug-in's: the .pvp beside the texture is kept for a picture without a
// palette of its own when every colour is in it; otherwise a new one is made.
extern const ExportOptions kPluginExportOptions;

// What an export wrote.
struct ExportOutcome {
    TextureSettings settings;
    int container;                     // kContainerPvr or kContainerPvz
    int32_t width, height;
    bool wrotePalette;
    char palettePath[kExportPathBuffer];
    int paletteSource;                 // kPaletteSource... of export_palette.h
    uint64_t unmappedPixels;           // pixels outside the known palette
    uint32_t unmappedColours;
    uint64_t approximatedPixels;       // a new palette: pixels whose colour it does not hold
};

// Why an export ended: 0, or a failure (negative).
enum {
    kExportOk = 0,
    kExportNoMemory = -1,              // the texture buffer or the PVZ container
    kExportBadPath = -2,               // fewer than 4 characters or more than the platform's limit
    kExportBadPalettePath = -3,        // palettised, and the path does not end in a dot and three characters
    kExportPaletteNotStaged = -4,
    kExportPaletteNotCommitted = -5,
    kExportTextureNotStaged = -6,
    kExportTextureNotCommitted = -7,
    kExportNoLayer = -8,               // no image, layer or pixel service
    kExportBadPictureSize = -9,        // a side of 0 or above 65535, or more pixels than any texture holds
    kExportBadLayoutSize = -10,        // a size the chosen layout does not take
    kExportTooManyLayers = -11,
    kExportCancelled = -12,
    kExportUnwritableSettings = -13,   // a DataType / ColorFormat pair with nothing to write it with
    kExportUnmappedColours = -14,      // colours outside the palette to keep, and the caller refuses them
};

// Exports the single layer of `image` to `path` (and its .pvp palette for
// DataType 5 and 7): a path whose last three characters are "pvr" in any
// letter case is written plain, any other as a PVZ container. The size,
// layer-count and palette-path refusals show their message first. A failed
// export leaves every existing file as it was and nothing staged. `options`
// null: the plug-in's; `outcome` may be null. Gives a kExport... code.
[[nodiscard]]
int ExportPicture(const char* path, HostImage* image, const HostServices* services, const ExportPlatform* platform,
                  const ExportOptions* options = nullptr, ExportOutcome* outcome = nullptr);

// The status code of host_api.h for a kExport... code:
//   0 done; 1 no memory; 3 the path is unusable, or the texture file cannot
//   be written or replaced; 4 no layer, a bad size, settings that cannot
//   be written, or colours refused; 5 the palette file cannot be written or
//   replaced; 7 more than one layer, or cancelled.
int ExportStatus(int result);

// What the user is told of a save that failed: the file it names (the
// texture, or its .pvp) and the message (Shift-JIS, "%s" standing for that
// file). `folderExists` tells a missing folder from one that refuses the
// file. False for results that are no failed save or say theirs already.
struct SaveFailure {
    const char* file;
    const char* text;
};
bool DescribeSaveFailure(int result, const char* path, const ExportOutcome& outcome,
                         bool (*folderExists)(const char* path), SaveFailure* failure);

// ExportPicture with the result as the plug-in returns it (ExportStatus).
[[nodiscard]] int ExportTexture(const char* path, HostImage* image, const HostServices* services,
                                const ExportPlatform* platform);
