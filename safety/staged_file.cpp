// Files are written whole under a name of their own beside their target and
// only then moved over it, so a failed write never destroys a file. A staged
// name is always a new file: an existing file of that name is never written,
// replaced or removed. Two files (a texture and its palette) go in together;
// with the converter's journal (pair_journal.cpp) even a crash between the
// two leaves them whole.
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

#include "safe_files.h"

enum {
    kStagedNameDigits = 4,     // "~hhhh.tmp"
    kStagedNameTries = 4096,   // names tried before giving up
};

static bool IsSeparator(int style, unsigned char c) { return c == '/' || (c == '\\' && style != kPathsPosix); }

// The plug-in's Windows paths are ANSI, in the system's code page: the
// second byte of a double-byte character is never a separator (and under a
// single-byte code page no byte leads one). In UTF-8 every byte of a
// non-ASCII character is 0x80 or above, so none is.
size_t FolderLength(int style, const char* path, size_t length) {
    size_t folder = 0;
    for (size_t i = 0; i < length; i++) {
        const unsigned char c = (unsigned char)path[i];
#ifdef _WIN32
        if (style == kPathsAnsi && IsAnsiLeadByte(c)) {
            i++;
            continue;
        }
#endif
        if (IsSeparator(style, c)) folder = i + 1;
    }
    return folder;
}

// The length of the first `length` bytes of `path` in the style's units:
// UTF-16 units for UTF-8 paths on Windows (4-byte sequences take two), bytes
// otherwise.
static size_t PathUnits(int style, const char* path, size_t length) {
    if (style != kPathsWindowsUtf8) return length;
    size_t units = 0;
    for (size_t i = 0; i < length; i++) {
        const unsigned char c = (unsigned char)path[i];
        if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

static size_t PathLimit(const ExportFiles& files) {
    const size_t limit = files.pathLimit ? files.pathLimit : kExportPathRoom - 1;
    return limit < kExportPathBuffer - 1 ? limit : kExportPathBuffer - 1;
}

bool ExportPathFits(const ExportFiles& files, const char* path) {
    const size_t length = strnlen(path, kExportPathBuffer);
    return length >= 4 && length < kExportPathBuffer && PathUnits(files.pathStyle, path, length) <= PathLimit(files);
}

// The staged name number `n` in the folder of `target`. With a run id:
// "~<run>-<n>.tmp" ("~<run>-j<n>.tmp" for a journal), without ".tmp" where
// the folder leaves too little room for it. Without one, or without room
// even for that (never for a journal): "~hhhh.tmp", or fewer characters
// where the folder leaves less room (never more than the target's own name
// takes, so every usable target can be staged). False when `n` is past the
// names that fit.
static bool StagedName(const ExportFiles& files, void* context, const char* target, unsigned long n, bool journal,
                       char out[kExportPathBuffer]) {
    const size_t length = strnlen(target, kExportPathBuffer);
    if (length >= kExportPathBuffer) return false;
    const size_t folder = FolderLength(files.pathStyle, target, length);
    if (folder == length) return false;   // no file name
    const size_t used = PathUnits(files.pathStyle, target, folder);
    const size_t limit = PathLimit(files);
    if (used >= limit) return false;
    // Staged names are ASCII: a unit is a byte.
    size_t room = limit - used;
    if (room > kExportPathBuffer - 1 - folder) room = kExportPathBuffer - 1 - folder;
    memcpy(out, target, folder);
    if (files.RunId) {
        char name[64];
        const int named = snprintf(name, sizeof name, "~%lu-%s%lu.tmp", files.RunId(context), journal ? "j" : "", n);
        size_t nameLength = named > 0 ? (size_t)named : sizeof name;
        if (nameLength > room && nameLength - 4 <= room) nameLength -= 4;   // without ".tmp"
        if (nameLength <= room) {
            memcpy(out + folder, name, nameLength);
            out[folder + nameLength] = '\0';
            return true;
        }
    }
    if (journal) return false;
    const int digits = room >= 1 + kStagedNameDigits ? kStagedNameDigits : (int)room - 1;
    if (n >= (1ul << (4 * digits))) return false;
    snprintf(out + folder, kExportPathBuffer - folder, "~%0*lx%s", digits, n, room >= 9 ? ".tmp" : "");
    if (digits == 0) out[folder + 1] = '\0';
    return true;
}

bool ParseStagedName(const char* name, unsigned long* run, bool* journal) {
    const char* p = name;
    if (*p++ != '~' || !(*p >= '0' && *p <= '9')) return false;
    unsigned long value = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        if (value > (~0ul - 9) / 10) return false;
        value = value * 10 + (unsigned long)(*p - '0');
    }
    if (*p++ != '-') return false;
    *journal = *p == 'j';
    if (*journal) p++;
    if (!(*p >= '0' && *p <= '9')) return false;
    while (*p >= '0' && *p <= '9') p++;
    if (*p != '\0' && strcmp(p, ".tmp") != 0) return false;
    *run = value;
    return true;
}

int StageNumbered(const ExportFiles& files, void* context, const char* target, unsigned long n, bool journal,
                  const uint8_t* data, size_t length, char out[kExportPathBuffer]) {
    if (!StagedName(files, context, target, n, journal, out)) return -1;
    return files.WriteWholeFile(context, out, data, length);
}

// Creates a new file under a free staged name for `target`: with NextNumber
// one never given before in this run, else the first free one.
static int CreateStaged(const ExportFiles& files, void* context, const char* target, const uint8_t* data,
                        size_t length, char out[kExportPathBuffer]) {
    for (unsigned tries = 0; tries < kStagedNameTries; tries++) {
        const unsigned long n = files.NextNumber && files.RunId ? files.NextNumber(context) : tries;
        const int written = StageNumbered(files, context, target, n, false, data, length, out);
        if (written == 0) return 0;
        if (written != kWriteExists) break;
    }
    out[0] = '\0';
    return -1;
}

int StageFile(const ExportFiles& files, void* context, const char* target, const uint8_t* data, size_t length,
              StagedFile* file) {
    file->staged = false;
    file->target = target;
    if (CreateStaged(files, context, target, data, length, file->temp) != 0) return -1;
    file->staged = true;
    return 0;
}

static void SyncFolderOf(const ExportFiles& files, void* context, const char* path) {
    if (files.SyncFolder) files.SyncFolder(context, path);
}

int CommitFile(const ExportFiles& files, void* context, StagedFile* file) {
    if (!file->staged) return -1;
    file->staged = false;
    if (files.KeepAttributes) files.KeepAttributes(context, file->target, file->temp);
    if (files.ReplaceTarget(context, file->temp, file->target) == 0) {
        SyncFolderOf(files, context, file->target);
        return 0;
    }
    files.RemoveFile(context, file->temp);
    return -1;
}

void DiscardFile(const ExportFiles& files, void* context, StagedFile* file) {
    if (!file->staged) return;
    file->staged = false;
    files.RemoveFile(context, file->temp);
}

int WriteFileSafely(const ExportFiles& files, void* context, const char* target, const uint8_t* data, size_t length) {
    StagedFile file = {};
    if (files.CanReplace && files.CanReplace(context, target) == 0) return -1;
    int result = StageFile(files, context, target, data, length, &file);
    if (result == 0) result = CommitFile(files, context, &file);
    DiscardFile(files, context, &file);
    return result;
}

static bool CanReplace(const ExportFiles& files, void* context, const char* target) {
    return !files.CanReplace || files.CanReplace(context, target) != 0;
}

// Moves the file at `target` aside under a staged name of its own (an empty
// new file reserved first, then replaced): 1 with `aside` staged, 0 when
// there is nothing there to keep, -1 when no name can be reserved.
static int MoveAside(const ExportFiles& files, void* context, const char* target, StagedFile* aside) {
    static const uint8_t kNothing[1] = {0};
    if (StageFile(files, context, target, kNothing, 0, aside) != 0) return -1;
    if (files.ReplaceTarget(context, target, aside->temp) == 0) return 1;
    DiscardFile(files, context, aside);
    return 0;
}

int CommitPairInOrder(const ExportFiles& files, void* context, StagedFile* first, StagedFile* last) {
    StagedFile old = {};
    const int kept = MoveAside(files, context, first->target, &old);
    int result = kept < 0 ? kCommitFirstNotIn : 0;
    if (result == 0 && CommitFile(files, context, first) != 0) result = kCommitFirstNotIn;
    else if (result == 0 && CommitFile(files, context, last) != 0) result = kCommitLastNotIn;

    const bool newFirstIn = result == kCommitLastNotIn && !first->staged;
    if (newFirstIn && kept == 0) files.RemoveFile(context, first->target);
    if (kept == 1 && result != 0) {
        // The old file goes back; should even that fail, it stays under its
        // staged name rather than be lost.
        files.ReplaceTarget(context, old.temp, first->target);
        old.staged = false;
    }
    DiscardFile(files, context, &old);   // after a commit: the old file, replaced
    return result;
}

int CommitPair(const ExportFiles& files, void* context, StagedFile* first, StagedFile* last) {
    const bool both = first->staged;
    // A target that would be refused is found before the other one is replaced.
    int result = 0;
    if (both && !CanReplace(files, context, first->target)) result = kCommitFirstNotIn;
    else if (!CanReplace(files, context, last->target)) result = kCommitLastNotIn;
    if (result == 0 && !both && CommitFile(files, context, last) != 0) result = kCommitLastNotIn;
    if (result == 0 && both) {
        if (files.KeepAttributes) {
            files.KeepAttributes(context, first->target, first->temp);
            files.KeepAttributes(context, last->target, last->temp);
        }
        result = files.CommitJournaled ? files.CommitJournaled(files, context, first, last)
                                       : CommitPairInOrder(files, context, first, last);
    }
    DiscardFile(files, context, first);
    DiscardFile(files, context, last);
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
                                 nullptr,        nullptr,         nullptr,         nullptr,         nullptr,
                                 kPathsAnsi,     0,               nullptr,         nullptr,         nullptr};
