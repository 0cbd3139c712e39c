// Files written whole under a name of their own beside their target and only
// then moved over it, one at a time or two that go in together, through a
// small interface to the program's file system (ExportFiles). The plug-in
// and the converter share it; what makes a pair survive a crash (the journal,
// pair_journal.h) is the converter's alone and reached through the interface.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum {
    kExportPathRoom = 260,      // the plug-in's paths, terminator included (ExportFiles::pathLimit)
    kExportPathBuffer = 1024,   // every path buffer: the longest path of any platform's rules, terminator included
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

// What the safe writes, the pairs and the folder locks give: 0 done, every
// failure negative, one value each.
enum {
    kSafeDone = 0,
    kSafeFailed = -1,          // nothing changed
    kWriteExists = -2,         // an exclusive create met a file of that name, left untouched
    kCommitFirstNotIn = -3,    // a pair: neither file went in
    kCommitLastNotIn = -4,     // a pair: the last did not go in, the first's old file is back
    kFolderBusy = -5,          // another run holds the folder's lock
    kFolderNotLockable = -6,   // no lock file can be had in the folder
    kFolderHeld = kSafeDone,
};

// The lock file a run holds in each folder it journals in (pair_journal.h).
#define kFolderLockName "~ombr.lock"

struct StagedFile;

// A program's files.
struct ExportFiles {
    // Creates `path` as a new file holding `length` bytes, only if no file of
    // that name exists (an exclusive create): 0; kWriteExists, the file there
    // untouched; or -1 with nothing of that name left behind.
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

    // This run's id (the process id): staged names carry it. Null: staged
    // names "~hhhh.tmp", the first free one.
    unsigned long (*RunId)(void* context);
    // The number of this run's next staged name: never the same twice in a
    // run, so that no name a journal holds is ever given again. Null: the
    // first free name from 0.
    unsigned long (*NextNumber)(void* context);
    // Makes the entries of the folder of `path` durable (renames, new files):
    // fsync of the folder where the system allows it. Null: nothing.
    void (*SyncFolder)(void* context, const char* path);
    // Gives the staged file `temp` what the file `target` it replaces keeps
    // besides its bytes: mode and owner (POSIX), attributes (Windows). Null: nothing.
    void (*KeepAttributes)(void* context, const char* target, const char* temp);

    int pathStyle;        // kPaths...
    unsigned pathLimit;   // the longest path, in the style's units; 0: kExportPathRoom - 1

    // What makes a pair survive a crash (the converter's; all null in the
    // plug-in, whose pairs go in in order only).
    //
    // Commits a checked pair with a journal: CommitJournaledPair of pair_journal.h.
    int (*CommitJournaled)(const ExportFiles& files, void* context, StagedFile* first, StagedFile* last);
    // True when this run holds the lock of the folder of `path` (and so may
    // journal there: no other run writes or recovers there meanwhile).
    bool (*HoldsFolder)(void* context, const char* path);
    // True when `path` is a regular file of the user this run is: a journal
    // of anyone else is never acted on. Null: every journal is this user's.
    bool (*OwnFile)(void* context, const char* path);
};

// The standard library's files (rename replaces: POSIX systems).
extern const ExportFiles kStdioFiles;

// A complete file written under a name of its own in its target's folder,
// waiting to replace the target.
struct StagedFile {
    char temp[kExportPathBuffer];
    const char* target;
    bool staged;
};

// Writes `data` to a new file in the target's folder, named "~<run>-<n>.tmp"
// with the platform's RunId (<n> from NextNumber where there is one), else
// "~hhhh.tmp" (shorter where the folder leaves less room), trying further
// names while one exists: 0, or -1 with nothing left behind.
[[nodiscard]]
int StageFile(const ExportFiles& files, void* context, const char* target, const uint8_t* data, size_t length,
              StagedFile* file);
// Moves a staged file over its target: 0, or -1 (the staged file removed,
// the target untouched).
[[nodiscard]] int CommitFile(const ExportFiles& files, void* context, StagedFile* file);
// Removes a staged file; does nothing when none is staged.
void DiscardFile(const ExportFiles& files, void* context, StagedFile* file);
// One whole file in place of `target`, or nothing changed: 0, or -1.
[[nodiscard]]
int WriteFileSafely(const ExportFiles& files, void* context, const char* target, const uint8_t* data, size_t length);

// Two staged files committed as one: both replace their targets or neither
// does (the first's old file is put back when the last cannot go in).
// `first` may be unstaged. Both targets are checked before either is
// replaced. Gives 0 or a kCommit... code; nothing stays staged. With
// CommitJournaled, in folders the run holds, the pair survives a crash at
// any point too.
[[nodiscard]] int CommitPair(const ExportFiles& files, void* context, StagedFile* first, StagedFile* last);

// True when `path` has 4 or more bytes and is within the platform's limit.
bool ExportPathFits(const ExportFiles& files, const char* path);

// A name StageFile gives with a RunId, "~<run>-<n>.tmp" or a journal's
// "~<run>-j<n>.tmp" (".tmp" may be missing): true with its run and kind.
bool ParseStagedName(const char* name, unsigned long* run, bool* journal);

// ---- for the journal (pair_journal.cpp)

// The length of the folder part of `path`, up to and including its last separator.
size_t FolderLength(int style, const char* path, size_t length);
// Stages `data` beside `target` under the name of number `n` ("~<run>-<n>",
// a journal's "~<run>-j<n>"): WriteWholeFile's result, -1 when no such name fits.
[[nodiscard]]
int StageNumbered(const ExportFiles& files, void* context, const char* target, unsigned long n, bool journal,
                  const uint8_t* data, size_t length, char out[kExportPathBuffer]);
// CommitPair without a journal: the first's old file moved aside, the new
// one in, then the last; the old one put back when the last cannot go in.
[[nodiscard]] int CommitPairInOrder(const ExportFiles& files, void* context, StagedFile* first, StagedFile* last);

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
