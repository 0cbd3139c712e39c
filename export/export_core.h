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
#include "settings.h"

enum {
    kExportPathRoom = 260,      // the plug-in's paths, terminator included (ExportFiles::pathLimit)
    kExportPathBuffer = 1024,   // every path buffer: the longest path of any platform's rules, terminator included
    kSizeCaptionRoom = 128,
};

// How a platform writes its paths (ExportFiles::pathStyle).
enum {
    kPathsAnsi = 0,       // the plug-in's: ANSI bytes, "\" and "/" separators; on Windows in the system's
                          // code page, where the byte after a lead byte is never a separator
    kPathsPosix,          // bytes, "/" the only separator
    kPathsWindowsUtf8,    // UTF-8, "\" and "/" separators; the limit counts UTF-16 units, as Windows does
};

#ifdef _WIN32
// True for the first byte of a double-byte character in the system's ANSI
// code page (IsDBCSLeadByte), the code page of kPathsAnsi paths.
bool IsAnsiLeadByte(unsigned char c);
#endif

// Message box flags, with the values of MB_OK and MB_ICONERROR.
enum { kMessageOk = 0x00, kMessageIconError = 0x10 };

// What WriteWholeFile gives besides 0 and -1: a file of that name exists.
enum { kWriteExists = 1 };

// A program's files.
struct ExportFiles {
    // Creates `path` as a new file holding `length` bytes, only if no file of
    // that name exists: 0; kWriteExists, the file there untouched; or -1
    // with nothing of that name left behind.
    int (*WriteWholeFile)(void* context, const char* path, const uint8_t* data, size_t length);
    // Replaces `target` by the file `temp`: 0, or -1 with `target` untouched.
    int (*ReplaceTarget)(void* context, const char* temp, const char* target);
    // Deletes a file written by WriteWholeFile.
    void (*RemoveFile)(void* context, const char* path);
    // 1 when ReplaceTarget may replace `target` (nothing there, or a file that
    // may be overwritten), 0 when it would refuse. Asked for both targets
    // before either is replaced; null: always 1.
    int (*CanReplace)(void* context, const char* target);
    // Reads at most `room` bytes of the file at `path` into `out`: the
    // number read, room + 1 when the file is longer, or -1 when there is no
    // such file to read. Null: no file is ever read (no palette is kept).
    long (*ReadFile)(void* context, const char* path, uint8_t* out, size_t room);
    // The name of an existing file that the file system holds under another
    // letter case of `path` (a "TEX.PVP" for "TEX.pvp" where names are
    // case-sensitive), copied into `found`: true; false when there is none.
    // Null: names are taken as they are.
    bool (*FindOtherCase)(void* context, const char* path, char* found, size_t room);

    // What makes a pair survive a crash of the program (see CommitPair). All
    // null: staged names "~hhhh.tmp", the pair committed in order only.
    //
    // This run's id (the process id): staged names carry it, so that a later
    // run can tell the files and journals of a run that died.
    unsigned long (*RunId)(void* context);
    // `path` made absolute, for the journal: true; false when it cannot be.
    bool (*FullPath)(void* context, const char* path, char* out, size_t room);
    // Makes the entries of the folder of `path` durable (renames, new files):
    // fsync of the folder where the system allows it. Null: nothing.
    void (*SyncFolder)(void* context, const char* path);
    // Gives the staged file `temp` what the file `target` it replaces keeps
    // besides its bytes: mode and owner (POSIX), attributes (Windows). Null: nothing.
    void (*KeepAttributes)(void* context, const char* target, const char* temp);

    int pathStyle;        // kPaths...
    unsigned pathLimit;   // the longest path, in the style's units; 0: kExportPathRoom - 1
};

// The standard library's files (rename replaces: POSIX systems).
extern const ExportFiles kStdioFiles;

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

// A complete file written under a name of its own in its target's folder,
// waiting to replace the target.
struct StagedFile {
    char temp[kExportPathBuffer];
    const char* target;
    bool staged;
};

// Writes `data` to a new file in the target's folder, named "~<run>-<n>.tmp"
// with the platform's RunId, else "~hhhh.tmp" (shorter where the folder
// leaves less room), trying further names while one exists: 0, or -1 with
// nothing left behind.
int StageFile(const ExportPlatform* platform, const char* target, const uint8_t* data, size_t length,
              StagedFile* file);
// Moves a staged file over its target: 0, or -1 (the staged file removed,
// the target untouched).
int CommitFile(const ExportPlatform* platform, StagedFile* file);
// Removes a staged file; does nothing when none is staged.
void DiscardFile(const ExportPlatform* platform, StagedFile* file);

// A texture and its palette, staged, committed as one: both replace their
// targets or neither does (an old palette is put back when the texture
// cannot be committed). `palette` may be unstaged. Gives 0 or a kExport...
// code; nothing stays staged. With a RunId and FullPath the pair also
// survives a crash at any point: a journal is written first, and
// RecoverPairJournal, run by a later run, puts back both old files or
// completes the new ones.
int CommitPair(const ExportPlatform* platform, StagedFile* palette, StagedFile* texture);

// True when `path` has 4 or more bytes and is within the platform's limit.
bool ExportPathFits(const ExportFiles& files, const char* path);

// A name StageFile gives with a RunId, "~<run>-<n>.tmp" or a journal's
// "~<run>-j<n>.tmp" (".tmp" may be missing): true with its run and kind.
bool ParseStagedName(const char* name, unsigned long* run, bool* journal);

// Finishes what the journal at `path`, left by a run that died, had begun:
// both old files put back (the texture was not yet replaced) or the new
// pair completed, the journal and the run's staged files of the pair
// removed. kRecover... codes.
enum { kRecoverRolledBack = 0, kRecoverCompleted, kRecoverUnreadable, kRecoverFailed };
int RecoverPairJournal(const ExportPlatform* platform, const char* path);

// Why an export ended.
enum {
    kExportOk = 0,
    kExportNoMemory,              // the texture buffer or the PVZ container
    kExportBadPath,               // fewer than 4 characters or more than the platform's limit
    kExportBadPalettePath,        // palettised, and the path does not end in a dot and three characters
    kExportPaletteNotStaged,
    kExportPaletteNotCommitted,
    kExportTextureNotStaged,
    kExportTextureNotCommitted,
    kExportNoLayer,               // no image, layer or pixel service
    kExportBadPictureSize,        // a side of 0 or above 65535, or more pixels than any texture holds
    kExportBadLayoutSize,         // a size the chosen layout does not take
    kExportTooManyLayers,
    kExportCancelled,
    kExportUnwritableSettings,    // a DataType / ColorFormat pair with nothing to write it with
    kExportUnmappedColours,       // colours outside the palette to keep, and the caller refuses them
};

// Exports the single layer of `image` to `path` (and its .pvp palette for
// DataType 5 and 7): a path whose last three characters are "pvr" in any
// letter case is written plain, any other as a PVZ container. The size,
// layer-count and palette-path refusals show their message first. A failed
// export leaves every existing file as it was and nothing staged. `options`
// null: the plug-in's; `outcome` may be null. Gives a kExport... code.
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
int ExportTexture(const char* path, HostImage* image, const HostServices* services,
                  const ExportPlatform* platform);

// The standard library's file functions (kStdioFiles): WriteWholeFile with
// an exclusive open, fwrite and fclose, each result checked; RemoveFile with
// remove; ReadFile with fread.
int WriteFileStdio(void* context, const char* path, const uint8_t* data, size_t length);
void RemoveFileStdio(void* context, const char* path);
long ReadFileStdio(void* context, const char* path, uint8_t* out, size_t room);
// CanReplace with the standard library: a target that exists must open for
// update (a folder or a read-only file does not).
int CanReplaceStdio(void* context, const char* target);
// ReplaceTarget with rename: replaces an existing target on POSIX systems only
// (the plug-in uses MoveFileExA instead).
int RenameFileStdio(void* context, const char* temp, const char* target);
