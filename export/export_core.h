// The export driver: checks a host image, asks for the texture settings,
// writes the palette and the texture. Everything that touches the user or the
// disk goes through an ExportPlatform, so the plug-in and the command-line
// converter share this driver and the tests can run it in memory.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "alloc.h"
#include "encode.h"
#include "host_api.h"
#include "settings.h"

enum {
    kExportPathRoom = 260,                    // texture and palette paths, terminator included
    kTempSuffixLength = 5,                    // ".~tmp"
    kTempPathRoom = kExportPathRoom + kTempSuffixLength,
    kSizeCaptionRoom = 128,
};

// Message box flags, with the values of MB_OK and MB_ICONERROR.
enum { kMessageOk = 0x00, kMessageIconError = 0x10 };

struct ExportPlatform {
    void* context;
    // A modal message to the user.
    void (*ShowMessage)(void* context, const char* text, const char* caption, unsigned flags);
    // The settings dialog: 0 with `settings` filled, -1 when cancelled.
    // `layer` may carry a layer tag; `path` is the file being written.
    int (*ChooseSettings)(void* context, const HostLayer* layer, const char* path, TextureSettings* settings);
    // The heap for the texture buffer and the PVZ container.
    Allocator allocator;
    // Writes `length` bytes as the whole of a new file `path`, replacing one of
    // that name: 0, or -1 with no file of that name left behind.
    int (*WriteWholeFile)(void* context, const char* path, const uint8_t* data, size_t length);
    // Replaces `target` by the file `temp`: 0, or -1 with `target` untouched.
    int (*ReplaceTarget)(void* context, const char* temp, const char* target);
    // Deletes a file written by WriteWholeFile.
    void (*RemoveFile)(void* context, const char* path);
    // 1 when ReplaceTarget may replace `target` (nothing there, or a file that
    // may be overwritten), 0 when it would refuse. Asked for both targets
    // before either is replaced; null: always 1.
    int (*CanReplace)(void* context, const char* target);
};

// A complete file written under a temporary name beside its target, waiting
// to replace it.
struct StagedFile {
    char temp[kTempPathRoom];
    const char* target;
    bool staged;
};

// Writes `data` to "<target>.~tmp": 0, or -1 with nothing left behind. The
// target must be shorter than kExportPathRoom.
int StageFile(const ExportPlatform* platform, const char* target, const uint8_t* data, size_t length,
              StagedFile* file);
// Moves a staged file over its target: 0, or -1 (the temporary file removed,
// the target untouched).
int CommitFile(const ExportPlatform* platform, StagedFile* file);
// Removes a staged file; does nothing when none is staged.
void DiscardFile(const ExportPlatform* platform, StagedFile* file);

// Builds the .pvp bytes for the palette and stages them at `path` (see
// BuildPaletteBytes): 0, or -1 when the file cannot be written (count
// unchanged).
int WritePalette(const ExportPlatform* platform, const char* path, unsigned colorFormat, unsigned kind,
                 const uint8_t palette[kExportPaletteBytes], int32_t* count, StagedFile* file);

// True when the path ends with ".pvr" exactly (case-sensitive): written raw;
// anything else is written as a PVZ container.
bool IsPlainPvrPath(const char* path);

// Exports the single layer of `image` to `path` (and its .pvp palette for
// DataType 5 and 7). Returns a status code of host_api.h:
//   0 done; 1 no memory for the texture buffer or the container;
//   3 the path is unusable (fewer than 4 or 260 and more characters) or the
//     texture file cannot be written or replaced;
//   4 no layer, a side other than 128, 256, 512 or 1024 (with a message), or
//     settings that cannot be written;
//   5 the palette file cannot be written or replaced;
//   7 more than one layer (with a message), or the settings were cancelled.
// A failed export leaves every existing file as it was and no temporary file.
int ExportTexture(const char* path, HostImage* image, const HostServices* services,
                  const ExportPlatform* platform);

// The standard library's file functions for ExportPlatform: WriteWholeFile with
// fopen "wb", fwrite and fclose, each result checked; RemoveFile with remove.
int WriteFileStdio(void* context, const char* path, const uint8_t* data, size_t length);
void RemoveFileStdio(void* context, const char* path);
// CanReplace with the standard library: a target that exists must open for
// update (a folder or a read-only file does not).
int CanReplaceStdio(void* context, const char* target);
// ReplaceTarget with rename: replaces an existing target on POSIX systems only
// (the plug-in uses MoveFileExA instead).
int RenameFileStdio(void* context, const char* temp, const char* target);
