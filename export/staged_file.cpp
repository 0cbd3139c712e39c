// Files are written whole under a name of their own beside their target and
// only then moved over it, so a failed export never destroys a file. A staged
// name is always a new file: an existing file of that name is never written,
// replaced or removed.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "export_core.h"

enum {
    kStagedNameDigits = 4,     // "~hhhh.tmp"
    kStagedNameTries = 4096,   // names tried before giving up
};

// Length of the folder part of `path`: up to and including its last "\" or
// "/". Windows paths are ANSI (code page 932): the second byte of a
// double-byte character is never a separator.
static size_t FolderLength(const char* path, size_t length) {
    size_t folder = 0;
    for (size_t i = 0; i < length; i++) {
        const unsigned char c = (unsigned char)path[i];
#ifdef _WIN32
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
            i++;
            continue;
        }
#endif
        if (c == '\\' || c == '/') folder = i + 1;
    }
    return folder;
}

// The staged name number `n` in the folder of `target`: "~hhhh.tmp", or
// fewer characters where the folder leaves less room than that (never more
// than the target's own name takes, so every usable target can be staged).
// False when `n` is past the names that fit.
static bool StagedName(const char* target, unsigned n, char out[kExportPathRoom]) {
    const size_t length = strnlen(target, kExportPathRoom);
    if (length >= kExportPathRoom) return false;
    const size_t folder = FolderLength(target, length);
    if (folder == length) return false;   // no file name
    const size_t room = kExportPathRoom - 1 - folder;
    const int digits = room >= 1 + kStagedNameDigits ? kStagedNameDigits : (int)room - 1;
    if (n >= (1u << (4 * digits))) return false;
    memcpy(out, target, folder);
    snprintf(out + folder, kExportPathRoom - folder, "~%0*x%s", digits, n, room >= 9 ? ".tmp" : "");
    if (digits == 0) out[folder + 1] = '\0';
    return true;
}

// Creates a new file under the first free staged name for `target`.
static int CreateStaged(const ExportPlatform* platform, const char* target, const uint8_t* data, size_t length,
                        char out[kExportPathRoom]) {
    for (unsigned n = 0; n < kStagedNameTries && StagedName(target, n, out); n++) {
        const int written = platform->files.WriteWholeFile(platform->context, out, data, length);
        if (written == 0) return 0;
        if (written != kWriteExists) break;
    }
    out[0] = '\0';
    return -1;
}

int StageFile(const ExportPlatform* platform, const char* target, const uint8_t* data, size_t length,
              StagedFile* file) {
    file->staged = false;
    file->target = target;
    if (CreateStaged(platform, target, data, length, file->temp) != 0) return -1;
    file->staged = true;
    return 0;
}

int CommitFile(const ExportPlatform* platform, StagedFile* file) {
    if (!file->staged) return -1;
    file->staged = false;
    if (platform->files.ReplaceTarget(platform->context, file->temp, file->target) == 0) return 0;
    platform->files.RemoveFile(platform->context, file->temp);
    return -1;
}

void DiscardFile(const ExportPlatform* platform, StagedFile* file) {
    if (!file->staged) return;
    file->staged = false;
    platform->files.RemoveFile(platform->context, file->temp);
}

static bool CanReplace(const ExportPlatform* platform, const char* target) {
    return !platform->files.CanReplace || platform->files.CanReplace(platform->context, target) != 0;
}

// Moves the file at `target` aside under a staged name of its own (an empty
// new file reserved first, then replaced): 1 with `aside` staged, 0 when
// there is nothing there to keep, -1 when no name can be reserved.
static int MoveAside(const ExportPlatform* platform, const char* target, StagedFile* aside) {
    static const uint8_t kNothing[1] = {0};
    if (StageFile(platform, target, kNothing, 0, aside) != 0) return -1;
    if (platform->files.ReplaceTarget(platform->context, target, aside->temp) == 0) return 1;
    DiscardFile(platform, aside);
    return 0;
}

int CommitPair(const ExportPlatform* platform, StagedFile* palette, StagedFile* texture) {
    const bool withPalette = palette->staged;
    // A target that would be refused is found before the other one is replaced.
    int result = kExportOk;
    if (withPalette && !CanReplace(platform, palette->target)) result = kExportPaletteNotCommitted;
    else if (!CanReplace(platform, texture->target)) result = kExportTextureNotCommitted;
    StagedFile old = {};
    const int kept = result == kExportOk && withPalette ? MoveAside(platform, palette->target, &old) : 0;
    if (kept < 0) result = kExportPaletteNotCommitted;

    if (result == kExportOk && withPalette && CommitFile(platform, palette) != 0)
        result = kExportPaletteNotCommitted;
    else if (result == kExportOk && CommitFile(platform, texture) != 0)
        result = kExportTextureNotCommitted;

    const bool newPaletteIn = withPalette && result == kExportTextureNotCommitted && !palette->staged;
    if (newPaletteIn && kept == 0) platform->files.RemoveFile(platform->context, palette->target);
    if (kept == 1 && result != kExportOk) {
        // The old palette goes back; should even that fail, it stays under
        // its staged name rather than be lost.
        platform->files.ReplaceTarget(platform->context, old.temp, palette->target);
        old.staged = false;
    }
    DiscardFile(platform, &old);   // after a commit: the old palette, replaced
    DiscardFile(platform, palette);
    DiscardFile(platform, texture);
    return result;
}

int WriteFileStdio(void*, const char* path, const uint8_t* data, size_t length) {
#ifdef _WIN32
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_BINARY, _S_IREAD | _S_IWRITE);
#else
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
#endif
    if (fd < 0) return errno == EEXIST ? kWriteExists : -1;
    FILE* f = fdopen(fd, "wb");
    if (!f) {
        close(fd);
        remove(path);
        return -1;
    }
    // Some C libraries report a failed final flush (a full disk) from neither
    // fwrite nor fclose: flush first and look at the stream's error flag.
    const bool written = (length == 0 || fwrite(data, 1, length, f) == length) && fflush(f) == 0 && !ferror(f);
    const bool closed = fclose(f) == 0;
    if (written && closed) return 0;
    remove(path);
    return -1;
}

void RemoveFileStdio(void*, const char* path) { remove(path); }

int CanReplaceStdio(void*, const char* target) {
    FILE* existing = fopen(target, "rb");
    if (!existing) return 1;   // nothing there (or nothing readable) to keep
    fclose(existing);
    // Opening for update changes nothing, and fails for a folder or a
    // read-only file.
    FILE* update = fopen(target, "r+b");
    if (!update) return 0;
    fclose(update);
    return 1;
}

int RenameFileStdio(void*, const char* temp, const char* target) { return rename(temp, target) == 0 ? 0 : -1; }

long ReadFileStdio(void*, const char* path, uint8_t* out, size_t room) {
    FILE* f = fopen(path, "rb");
    if (!f) return -1;
    const size_t read = fread(out, 1, room, f);
    const bool longer = read == room && fgetc(f) != EOF;
    fclose(f);
    return longer ? (long)room + 1 : (long)read;
}

const ExportFiles kStdioFiles = {WriteFileStdio, RenameFileStdio, RemoveFileStdio, CanReplaceStdio, ReadFileStdio,
                                 nullptr};
