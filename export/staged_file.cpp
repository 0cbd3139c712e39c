// Files are written whole under a name of their own beside their target and
// only then moved over it, so a failed export never destroys a file. A staged
// name is always a new file: an existing file of that name is never written,
// replaced or removed. A texture and its palette go in together, and with a
// journal (below) even a crash between the two leaves them whole.
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
    kJournalRoom = 8 * kExportPathBuffer,
};

static bool IsSeparator(int style, unsigned char c) { return c == '/' || (c == '\\' && style != kPathsPosix); }

// Length of the folder part of `path`: up to and including its last
// separator. The plug-in's Windows paths are ANSI, in the system's code
// page: the second byte of a double-byte character is never a separator
// (and under a single-byte code page no byte leads one). In UTF-8
// every byte of a non-ASCII character is 0x80 or above, so none is.
static size_t FolderLength(int style, const char* path, size_t length) {
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
static bool StagedName(const ExportPlatform* platform, const char* target, unsigned n, bool journal,
                       char out[kExportPathBuffer]) {
    const ExportFiles& files = platform->files;
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
        char name[48];
        const int named = snprintf(name, sizeof name, "~%lu-%s%u.tmp", files.RunId(platform->context), journal ? "j" : "", n);
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
    if (n >= (1u << (4 * digits))) return false;
    snprintf(out + folder, kExportPathBuffer - folder, "~%0*x%s", digits, n, room >= 9 ? ".tmp" : "");
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

// Creates a new file under the first free staged name for `target`.
static int CreateStaged(const ExportPlatform* platform, const char* target, const uint8_t* data, size_t length,
                        bool journal, char out[kExportPathBuffer]) {
    for (unsigned n = 0; n < kStagedNameTries && StagedName(platform, target, n, journal, out); n++) {
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
    if (CreateStaged(platform, target, data, length, false, file->temp) != 0) return -1;
    file->staged = true;
    return 0;
}

static void SyncFolderOf(const ExportPlatform* platform, const char* path) {
    if (platform->files.SyncFolder) platform->files.SyncFolder(platform->context, path);
}

int CommitFile(const ExportPlatform* platform, StagedFile* file) {
    if (!file->staged) return -1;
    file->staged = false;
    if (platform->files.KeepAttributes) platform->files.KeepAttributes(platform->context, file->target, file->temp);
    if (platform->files.ReplaceTarget(platform->context, file->temp, file->target) == 0) {
        SyncFolderOf(platform, file->target);
        return 0;
    }
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

static bool Exists(const ExportPlatform* platform, const char* path) {
    uint8_t none[1];
    return platform->files.ReadFile && platform->files.ReadFile(platform->context, path, none, 0) >= 0;
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

// The pair without a journal: the old palette moved aside, the new palette
// in, then the texture; the old palette put back when the texture cannot be.
static int CommitInOrder(const ExportPlatform* platform, StagedFile* palette, StagedFile* texture) {
    StagedFile old = {};
    const int kept = MoveAside(platform, palette->target, &old);
    int result = kept < 0 ? kExportPaletteNotCommitted : kExportOk;
    if (result == kExportOk && CommitFile(platform, palette) != 0) result = kExportPaletteNotCommitted;
    else if (result == kExportOk && CommitFile(platform, texture) != 0) result = kExportTextureNotCommitted;

    const bool newPaletteIn = result == kExportTextureNotCommitted && !palette->staged;
    if (newPaletteIn && kept == 0) platform->files.RemoveFile(platform->context, palette->target);
    if (kept == 1 && result != kExportOk) {
        // The old palette goes back; should even that fail, it stays under
        // its staged name rather than be lost.
        platform->files.ReplaceTarget(platform->context, old.temp, palette->target);
        old.staged = false;
    }
    DiscardFile(platform, &old);   // after a commit: the old palette, replaced
    return result;
}

// ---- the journal
//
// A pair is committed in this order, each step a rename or a removal:
//   0. the new palette P~ and texture T~ staged (their data flushed), and,
//      when there is an old palette P, an empty file A reserved for it;
//   1. the journal written, flushed, and its folder synced: the full paths
//      of T, T~, P, P~ and A (empty when P had no old file); where P and T
//      are in two folders, a copy in each (so that a run writing to either
//      finds it), each naming both copies;
//   2. P moved to A;  3. P~ moved to P;  4. T~ moved to T (the pair is in);
//   5. the journals removed, then A.
// T~ exists until step 4 and is removed only once the journals are gone,
// so a journal whose T~ still exists belongs to a pair that is not in, and
// one whose T~ is gone to a pair that is. Recovery (RecoverPairJournal)
// and a commit that fails without a crash both go by that, in an order that
// may itself be cut at any point and run again:
//   - T~ exists: roll back. A exists: it holds the old palette (moved to P),
//     unless P and P~ both still exist (step 2 not reached: A is the empty
//     reserved file, removed). No A was listed: P is ours when P~ is gone
//     (removed). Then the journals, then P~ and T~.
//   - T~ is gone: complete. A, then P~ and the journals are removed.
// Files a run left under its staged names without a journal naming them are
// a dead run's and are removed (by the converter, before it writes there).

enum { kJournalTexture, kJournalTextureStaged, kJournalPalette, kJournalPaletteStaged, kJournalAside,
       kJournalFirstCopy, kJournalSecondCopy, kJournalPaths };

static const char kJournalHead[] = "ombr pair journal 1\n";
static const char kJournalEnd[] = "end\n";

struct PairJournal {
    char path[kJournalPaths][kExportPathBuffer];   // "" where there is none
};

static int RemoveJournals(const ExportPlatform* platform, const PairJournal& j) {
    for (int i = kJournalFirstCopy; i <= kJournalSecondCopy; i++)
        if (j.path[i][0]) platform->files.RemoveFile(platform->context, j.path[i]);
    return 0;
}

// Steps back to the old pair: 0, or -1 when the old palette cannot be put
// back (everything is then left as it is, the journals too, for a later try).
static int RollBack(const ExportPlatform* platform, const PairJournal& j) {
    const ExportFiles& files = platform->files;
    const char* palette = j.path[kJournalPalette];
    const char* aside = j.path[kJournalAside];
    const char* staged = j.path[kJournalPaletteStaged];
    if (aside[0] && Exists(platform, aside)) {
        if (Exists(platform, palette) && Exists(platform, staged)) files.RemoveFile(platform->context, aside);
        else if (files.ReplaceTarget(platform->context, aside, palette) != 0) return -1;
    } else if (!aside[0] && !Exists(platform, staged) && Exists(platform, palette)) {
        files.RemoveFile(platform->context, palette);
    }
    SyncFolderOf(platform, palette);
    RemoveJournals(platform, j);
    files.RemoveFile(platform->context, staged);
    files.RemoveFile(platform->context, j.path[kJournalTextureStaged]);
    return 0;
}

static void Complete(const ExportPlatform* platform, const PairJournal& j) {
    RemoveJournals(platform, j);
    if (j.path[kJournalAside][0]) platform->files.RemoveFile(platform->context, j.path[kJournalAside]);
    platform->files.RemoveFile(platform->context, j.path[kJournalPaletteStaged]);
}

static bool Journaled(const ExportPlatform* platform) {
    const ExportFiles& f = platform->files;
    return f.RunId && f.FullPath && f.ReadFile;
}

// Writes the journal text; false when a path does not fit.
static bool JournalText(const PairJournal& j, char* text, size_t room, size_t* length) {
    size_t used = 0;
    int n = snprintf(text, room, "%s", kJournalHead);
    used = (size_t)n;
    for (int i = 0; i < kJournalPaths; i++) {
        n = snprintf(text + used, room - used, "%s\n", j.path[i]);
        if (n < 0 || (size_t)n >= room - used) return false;
        used += (size_t)n;
    }
    n = snprintf(text + used, room - used, "%s", kJournalEnd);
    if (n < 0 || (size_t)n >= room - used) return false;
    *length = used + (size_t)n;
    return true;
}

static bool SameFolder(int style, const char* a, const char* b) {
    const size_t x = FolderLength(style, a, strlen(a)), y = FolderLength(style, b, strlen(b));
    return x == y && memcmp(a, b, x) == 0;
}

// Steps 1 to 5 above; `palette` and `texture` staged and checked.
static int CommitJournaled(const ExportPlatform* platform, StagedFile* palette, StagedFile* texture) {
    const ExportFiles& files = platform->files;
    PairJournal j;
    memset(&j, 0, sizeof j);
    StagedFile aside = {};
    static const uint8_t kNothing[1] = {0};
    const bool hadOld = Exists(platform, palette->target);
    if (hadOld && StageFile(platform, palette->target, kNothing, 0, &aside) != 0) return kExportPaletteNotCommitted;
    const char* names[kJournalAside + 1] = {texture->target, texture->temp, palette->target, palette->temp,
                                            hadOld ? aside.temp : nullptr};
    bool named = true;
    for (int i = 0; i <= kJournalAside && named; i++)
        if (names[i]) named = files.FullPath(platform->context, names[i], j.path[i], kExportPathBuffer);
    // The journal's copies: beside the texture, and beside the palette when
    // that is another folder. Two copies name each other, so their names
    // are reserved first (empty files); one copy is read from where it is
    // and needs no name of its own in it.
    StagedFile copies[2] = {};
    const bool twoFolders = !SameFolder(files.pathStyle, palette->target, texture->target);
    const char* copyTargets[2] = {texture->target, twoFolders ? palette->target : nullptr};
    for (int i = 0; i < 2 && named && twoFolders; i++) {
        named = CreateStaged(platform, copyTargets[i], kNothing, 0, true, copies[i].temp) == 0;
        copies[i].staged = named;
        copies[i].target = copyTargets[i];
        if (named) named = files.FullPath(platform->context, copies[i].temp, j.path[kJournalFirstCopy + i],
                                          kExportPathBuffer);
    }
    char text[kJournalRoom];
    size_t length = 0;
    if (named) named = JournalText(j, text, sizeof text, &length);
    if (named && !twoFolders) {
        named = CreateStaged(platform, texture->target, (const uint8_t*)text, length, true, copies[0].temp) == 0;
        copies[0].staged = named;
        copies[0].target = texture->target;
    }
    // Each reserved copy replaced whole, its bytes flushed, before any rename.
    for (int i = 0; i < 2 && named && twoFolders; i++) {
        StagedFile full = {};
        named = StageFile(platform, copyTargets[i], (const uint8_t*)text, length, &full) == 0 &&
                files.ReplaceTarget(platform->context, full.temp, copies[i].temp) == 0;
        if (!named) DiscardFile(platform, &full);
    }
    for (int i = 0; i < 2 && named; i++)
        if (copyTargets[i]) SyncFolderOf(platform, copyTargets[i]);
    if (!named) {
        // No journal (a folder with no room for its name, say): the pair is
        // committed in order only, as without a run id.
        DiscardFile(platform, &copies[0]);
        DiscardFile(platform, &copies[1]);
        DiscardFile(platform, &aside);
        return CommitInOrder(platform, palette, texture);
    }

    int result = kExportOk;
    if (hadOld && files.ReplaceTarget(platform->context, palette->target, aside.temp) != 0)
        result = kExportPaletteNotCommitted;
    if (result == kExportOk) {
        if (files.ReplaceTarget(platform->context, palette->temp, palette->target) != 0)
            result = kExportPaletteNotCommitted;
        else palette->staged = false;
    }
    if (result == kExportOk) {
        SyncFolderOf(platform, palette->target);
        if (files.ReplaceTarget(platform->context, texture->temp, texture->target) != 0)
            result = kExportTextureNotCommitted;
        else texture->staged = false;
    }
    if (result == kExportOk) {
        SyncFolderOf(platform, texture->target);
        // In: the journals go first, then the old palette.
        DiscardFile(platform, &copies[0]);
        DiscardFile(platform, &copies[1]);
        DiscardFile(platform, &aside);
        return kExportOk;
    }
    // The run's own paths, as the journal names them.
    PairJournal own;
    memset(&own, 0, sizeof own);
    const char* ownNames[kJournalPaths] = {texture->target, texture->temp, palette->target, palette->temp,
                                           hadOld ? aside.temp : "",  copies[0].temp, copies[1].temp};
    for (int i = 0; i < kJournalPaths; i++) snprintf(own.path[i], kExportPathBuffer, "%s", ownNames[i]);
    // Both old again; should the old palette not go back, the journal and
    // the files it names stay for the next run to finish.
    RollBack(platform, own);
    palette->staged = texture->staged = aside.staged = copies[0].staged = copies[1].staged = false;
    return result;
}

int CommitPair(const ExportPlatform* platform, StagedFile* palette, StagedFile* texture) {
    const bool withPalette = palette->staged;
    // A target that would be refused is found before the other one is replaced.
    int result = kExportOk;
    if (withPalette && !CanReplace(platform, palette->target)) result = kExportPaletteNotCommitted;
    else if (!CanReplace(platform, texture->target)) result = kExportTextureNotCommitted;
    if (result == kExportOk && !withPalette && CommitFile(platform, texture) != 0) result = kExportTextureNotCommitted;
    if (result == kExportOk && withPalette) {
        if (platform->files.KeepAttributes) {
            platform->files.KeepAttributes(platform->context, palette->target, palette->temp);
            platform->files.KeepAttributes(platform->context, texture->target, texture->temp);
        }
        result = Journaled(platform) ? CommitJournaled(platform, palette, texture)
                                     : CommitInOrder(platform, palette, texture);
    }
    DiscardFile(platform, palette);
    DiscardFile(platform, texture);
    return result;
}

int RecoverPairJournal(const ExportPlatform* platform, const char* path) {
    static_assert(kJournalRoom > kJournalPaths * kExportPathBuffer + sizeof kJournalHead + sizeof kJournalEnd,
                  "a whole journal fits");
    uint8_t text[kJournalRoom];
    const long length = platform->files.ReadFile ? platform->files.ReadFile(platform->context, path, text, sizeof text - 1)
                                                 : -1;
    if (length < 0) return kRecoverUnreadable;
    PairJournal j;
    memset(&j, 0, sizeof j);
    // A journal cut short was being written: nothing had been renamed yet.
    const size_t headLength = sizeof kJournalHead - 1, endLength = sizeof kJournalEnd - 1;
    bool whole = (size_t)length < sizeof text - 1 && (size_t)length >= headLength + endLength &&
                 memcmp(text, kJournalHead, headLength) == 0 &&
                 memcmp(text + length - endLength, kJournalEnd, endLength) == 0;
    size_t at = headLength;
    for (int i = 0; i < kJournalPaths && whole; i++) {
        const uint8_t* end = (const uint8_t*)memchr(text + at, '\n', (size_t)length - at);
        const size_t n = end ? (size_t)(end - (text + at)) : 0;
        whole = end && n < kExportPathBuffer;
        if (whole) memcpy(j.path[i], text + at, n);
        at += n + 1;
    }
    whole = whole && at + endLength == (size_t)length && j.path[kJournalTexture][0] &&
            j.path[kJournalTextureStaged][0] && j.path[kJournalPalette][0] && j.path[kJournalPaletteStaged][0];
    if (!whole) {
        platform->files.RemoveFile(platform->context, path);
        return kRecoverUnreadable;
    }
    // A journal that names no copy of itself is the only one.
    if (!j.path[kJournalFirstCopy][0]) snprintf(j.path[kJournalFirstCopy], kExportPathBuffer, "%s", path);
    if (!Exists(platform, j.path[kJournalTextureStaged])) {
        Complete(platform, j);
        return kRecoverCompleted;
    }
    return RollBack(platform, j) == 0 ? kRecoverRolledBack : kRecoverFailed;
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
                                 kPathsAnsi,     0};
