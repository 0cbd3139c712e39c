// The converter's journal of a pair: what makes a texture and its palette (a
// PNG and its raw pixels) go in together even when the run is killed or the
// machine stops between the two.
//
// A pair, the first file P (the palette) and the last T (the texture), goes
// in in this order, each step a rename or a removal:
//   0. the new files P~ and T~ staged (their data flushed), and, when there
//      is an old P, an empty file A reserved for it;
//   1. the journal written and flushed, its folder synced: the names of P,
//      P~, A (empty when P had no old file), T and T~, each a name in the
//      journal's own folder. Where P and T are in two folders, a journal in
//      each under one name "~<run>-j<n>.tmp": P's naming P, P~ and A, T's
//      naming T and T~;
//   2. P moved to A;  3. P~ moved to P;  4. T~ moved to T (the pair is in);
//   5. A removed, then the journals.
// T~ exists until step 4, so the pair is in exactly when T~ is gone.
// Recovery, and a commit that fails without a crash, go by that, in an order
// that may itself be cut at any point and run again:
//   - T~ exists: roll back. A exists: it holds the old P (moved back), unless
//     P and P~ both still exist (step 2 not reached: A is the empty reserved
//     file, removed). No A was listed: P is the new one when P~ is gone
//     (removed). Then P~, then T~, then the journals (P's first).
//   - T~ is gone: complete: A and P~ removed, then the journals.
// P's journal is written before T's and removed before it. A journal of P
// found without T's (cut between the two, or T's folder is one this run does
// not write to) rolls its side back while P~ is there (step 3 not reached,
// so neither was step 4), is removed once none of its staged files is left,
// and is left alone otherwise; one of T is removed once T~ is gone and left
// alone while it is there.
//
// A journal is only ever acted on by a run that holds the lock of its folder
// (and of its other half's): a journal exists only while its run holds that
// lock, so it belongs to a run that is gone. It is only acted on when it is
// this user's, and only when every name in it is a plain name in its folder:
// the targets, and staged names of the run its own name carries. Anything
// else is refused and left as it is.
#include <stdio.h>
#include <string.h>

#include "pair_journal.h"

namespace {

enum { kPalette, kPaletteStaged, kAside, kTexture, kTextureStaged, kNames };
enum { kNameRoom = 256, kWhole = 100 };

const char kJournalHead[] = "ombr pair journal 2\n";
const char kJournalEnd[] = "end\n";
const uint8_t kNothing[1] = {0};

enum { kJournalRoom = sizeof kJournalHead + kNames * kNameRoom + sizeof kJournalEnd };

typedef char JournalNames[kNames][kNameRoom];

// A pair's files by full path ("" where there is none) and its journals:
// the one naming P (or the only one), and the one naming T ("" with one).
struct PairPaths {
    char path[kNames][kExportPathBuffer];
    char journal[2][kExportPathBuffer];
};

bool Exists(const ExportFiles& files, void* context, const char* path) {
    uint8_t none[1];
    return path[0] && files.ReadFile(context, path, none, 0) >= 0;
}

void Remove(const ExportFiles& files, void* context, const char* path) {
    if (path[0]) files.RemoveFile(context, path);
}

void Sync(const ExportFiles& files, void* context, const char* path) {
    if (path[0] && files.SyncFolder) files.SyncFolder(context, path);
}

const char* BaseOf(const ExportFiles& files, const char* path) {
    return path + FolderLength(files.pathStyle, path, strlen(path));
}

bool SameFolder(const ExportFiles& files, const char* a, const char* b) {
    const size_t x = FolderLength(files.pathStyle, a, strlen(a)), y = FolderLength(files.pathStyle, b, strlen(b));
    return x == y && memcmp(a, b, x) == 0;
}

// `name` in the folder of `beside`: false when it does not fit.
bool Place(const ExportFiles& files, const char* beside, const char* name, char out[kExportPathBuffer]) {
    out[0] = '\0';
    if (!name[0]) return true;
    const size_t folder = FolderLength(files.pathStyle, beside, strlen(beside));
    const size_t length = strlen(name);
    if (folder + length >= kExportPathBuffer) return false;
    memcpy(out, beside, folder);
    memcpy(out + folder, name, length + 1);
    return true;
}

// Steps the pair to its end: the new files completed, or the old ones back
// (`in` false). 0, or -1 when the old P cannot be put back (everything is
// then left as it is, the journals too, for a later try).
int Resolve(const ExportFiles& files, void* context, const PairPaths& p, bool in) {
    const char* palette = p.path[kPalette];
    const char* staged = p.path[kPaletteStaged];
    const char* aside = p.path[kAside];
    if (in) {
        Remove(files, context, aside);
        Remove(files, context, staged);
    } else if (palette[0]) {
        const bool stagedThere = Exists(files, context, staged);
        if (Exists(files, context, aside)) {
            if (stagedThere && Exists(files, context, palette)) files.RemoveFile(context, aside);
            else if (files.ReplaceTarget(context, aside, palette) != 0) return -1;
        } else if (!aside[0] && !stagedThere) {
            Remove(files, context, palette);
        }
        Remove(files, context, staged);
    }
    Sync(files, context, palette);
    if (!in) Remove(files, context, p.path[kTextureStaged]);
    Sync(files, context, p.path[kTexture]);
    Remove(files, context, p.journal[0]);
    Sync(files, context, p.journal[0]);
    Remove(files, context, p.journal[1]);
    Sync(files, context, p.journal[1]);
    return 0;
}

bool PlainName(int style, const char* name) {
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return false;
    for (const char* c = name; *c; c++) {
        const unsigned char u = (unsigned char)*c;
        if (u < 0x20 || u == 0x7F || u == '/') return false;
        if (style != kPathsPosix && (u == '\\' || u == ':')) return false;
    }
    return true;
}

// Every name of a journal of run `run`: plain names, the staged ones of
// that run, the targets none of the run's staging names nor the lock file.
bool NamesAreOwn(int style, const JournalNames& names, unsigned long run) {
    const bool palette = names[kPalette][0], texture = names[kTexture][0];
    if (!palette && !texture) return false;
    if (palette != (names[kPaletteStaged][0] != 0) || texture != (names[kTextureStaged][0] != 0)) return false;
    if (!palette && names[kAside][0]) return false;
    for (int i = 0; i < kNames; i++) {
        if (!names[i][0]) continue;
        if (!PlainName(style, names[i])) return false;
        unsigned long of = 0;
        bool journal = false;
        const bool stagedName = ParseStagedName(names[i], &of, &journal);
        const bool target = i == kPalette || i == kTexture;
        if (target ? stagedName || strcmp(names[i], kFolderLockName) == 0 : !stagedName || journal || of != run)
            return false;
        for (int k = 0; k < i; k++)
            if (strcmp(names[i], names[k]) == 0) return false;
    }
    return true;
}

// Reads and checks the journal at `path`: kWhole with its names and run,
// kRecoverCut when it is no whole journal, else kRecoverRefused.
int ReadJournal(const ExportFiles& files, void* context, const char* path, JournalNames* names, unsigned long* run) {
    memset(names, 0, sizeof *names);
    bool journal = false;
    if (!ParseStagedName(BaseOf(files, path), run, &journal) || !journal) return kRecoverRefused;
    if (files.OwnFile && !files.OwnFile(context, path)) return kRecoverRefused;
    uint8_t text[kJournalRoom];
    const long length = files.ReadFile(context, path, text, sizeof text);
    if (length < 0 || length > (long)sizeof text) return kRecoverRefused;
    const size_t n = (size_t)length, headLength = sizeof kJournalHead - 1, endLength = sizeof kJournalEnd - 1;
    const bool ends = n >= endLength && memcmp(text + n - endLength, kJournalEnd, endLength) == 0;
    // Not a whole journal: cut short while it was written, the zeros a
    // machine that stopped may leave of a file it had not flushed, or no
    // journal at all. Nothing was moved by it.
    if (!ends || n < headLength + endLength || memcmp(text, kJournalHead, headLength) != 0) return kRecoverCut;
    size_t at = headLength;
    for (int i = 0; i < kNames; i++) {
        const uint8_t* end = at < n ? (const uint8_t*)memchr(text + at, '\n', n - at) : nullptr;
        const size_t line = end ? (size_t)(end - (text + at)) : (size_t)kNameRoom;
        if (line >= kNameRoom || memchr(text + at, '\0', line)) return kRecoverRefused;
        memcpy((*names)[i], text + at, line);
        at += line + 1;
    }
    if (at + endLength != n || !NamesAreOwn(files.pathStyle, *names, *run)) return kRecoverRefused;
    return kWhole;
}

// The journal's part of the pair, placed in its folder.
bool PlacePart(const ExportFiles& files, const char* journal, const JournalNames& names, PairPaths* p) {
    bool placed = true;
    for (int i = 0; i < kNames && placed; i++)
        if (names[i][0]) placed = Place(files, journal, names[i], p->path[i]);
    return placed;
}

size_t JournalText(const char* const names[kNames], char* text, size_t room) {
    int used = snprintf(text, room, "%s", kJournalHead);
    for (int i = 0; i < kNames && used > 0 && (size_t)used < room; i++) {
        const int n = snprintf(text + used, room - (size_t)used, "%s\n", names[i]);
        used = n < 0 ? -1 : used + n;
    }
    if (used > 0 && (size_t)used < room) {
        const int n = snprintf(text + used, room - (size_t)used, "%s", kJournalEnd);
        used = n < 0 ? -1 : used + n;
    }
    return used > 0 && (size_t)used < room ? (size_t)used : 0;
}

// The journals of step 1, one name in both folders: true with their paths
// in `p`, false with none left.
bool WriteJournals(const ExportFiles& files, void* context, const char* first, const char* last, bool twoFolders,
                   const char* textFirst, size_t lengthFirst, const char* textLast, size_t lengthLast, PairPaths* p) {
    for (unsigned tries = 0; tries < 4096; tries++) {
        const unsigned long n = files.NextNumber ? files.NextNumber(context) : tries;
        int written = StageNumbered(files, context, first, n, true, (const uint8_t*)textFirst, lengthFirst,
                                    p->journal[0]);
        if (written == kWriteExists) continue;
        if (written != 0) break;
        if (!twoFolders) return true;
        written = StageNumbered(files, context, last, n, true, (const uint8_t*)textLast, lengthLast, p->journal[1]);
        if (written == 0) return true;
        files.RemoveFile(context, p->journal[0]);
        if (written != kWriteExists) break;
    }
    p->journal[0][0] = p->journal[1][0] = '\0';
    return false;
}

}  // namespace

int CommitJournaledPair(const ExportFiles& files, void* context, StagedFile* palette, StagedFile* texture) {
    if (!files.HoldsFolder || !files.RunId || !files.ReadFile || !files.HoldsFolder(context, palette->target) ||
        !files.HoldsFolder(context, texture->target))
        return CommitPairInOrder(files, context, palette, texture);
    const bool twoFolders = !SameFolder(files, palette->target, texture->target);
    StagedFile aside = {};
    const bool hadOld = Exists(files, context, palette->target);
    if (hadOld && StageFile(files, context, palette->target, kNothing, 0, &aside) != 0) return kCommitFirstNotIn;
    PairPaths p;
    memset(&p, 0, sizeof p);
    const char* full[kNames] = {palette->target, palette->temp, hadOld ? aside.temp : "", texture->target,
                                texture->temp};
    const char* names[kNames];
    bool named = true;
    for (int i = 0; i < kNames; i++) {
        named = named && strlen(full[i]) < kExportPathBuffer;
        if (named) snprintf(p.path[i], kExportPathBuffer, "%s", full[i]);
        names[i] = full[i][0] ? BaseOf(files, full[i]) : "";
        // A name no journal line can hold (a line break in it, say) goes in order only.
        named = named && strlen(names[i]) < kNameRoom && PlainName(files.pathStyle, names[i]);
    }
    char first[kJournalRoom], last[kJournalRoom];
    size_t firstLength = 0, lastLength = 0;
    if (named && !twoFolders) {
        firstLength = JournalText(names, first, sizeof first);
    } else if (named) {
        const char* firstNames[kNames] = {names[kPalette], names[kPaletteStaged], names[kAside], "", ""};
        const char* lastNames[kNames] = {"", "", "", names[kTexture], names[kTextureStaged]};
        firstLength = JournalText(firstNames, first, sizeof first);
        lastLength = JournalText(lastNames, last, sizeof last);
        named = lastLength > 0;
    }
    named = named && firstLength > 0 &&
            WriteJournals(files, context, palette->target, texture->target, twoFolders, first, firstLength, last,
                          lastLength, &p);
    if (!named) {
        // No journal (a folder with no room for its name, say): the pair goes
        // in in order only, as the plug-in's does.
        DiscardFile(files, context, &aside);
        return CommitPairInOrder(files, context, palette, texture);
    }
    Sync(files, context, p.journal[0]);
    Sync(files, context, p.journal[1]);

    int result = 0;
    if (hadOld && files.ReplaceTarget(context, palette->target, aside.temp) != 0) result = kCommitFirstNotIn;
    if (result == 0) {
        if (files.ReplaceTarget(context, palette->temp, palette->target) != 0) result = kCommitFirstNotIn;
        else palette->staged = false;
    }
    if (result == 0) {
        Sync(files, context, palette->target);
        if (files.ReplaceTarget(context, texture->temp, texture->target) != 0) result = kCommitLastNotIn;
        else texture->staged = false;
    }
    // In: the old palette goes, then the journals. Not in: both old again;
    // should the old palette not go back, the journals and the files they
    // name stay for the next run to finish.
    Resolve(files, context, p, result == 0);
    palette->staged = texture->staged = aside.staged = false;
    return result;
}

int RecoverPairJournal(const ExportFiles& files, void* context, const char* path, const char* partner) {
    JournalNames names, other;
    unsigned long run = 0, otherRun = 0;
    const int read = ReadJournal(files, context, path, &names, &run);
    if (read == kRecoverCut) {
        files.RemoveFile(context, path);
        return kRecoverCut;
    }
    if (read != kWhole) return read;
    PairPaths p;
    memset(&p, 0, sizeof p);
    if (!PlacePart(files, path, names, &p)) return kRecoverRefused;
    const bool palettePart = names[kPalette][0] != 0, texturePart = names[kTexture][0] != 0;
    snprintf(p.journal[palettePart ? 0 : 1], kExportPathBuffer, "%s", path);
    if (!palettePart || !texturePart) {
        // Half of a pair across two folders: its other half, under the same
        // name and of the same run, holds the other part.
        const int otherRead = partner ? ReadJournal(files, context, partner, &other, &otherRun) : kRecoverRefused;
        const bool paired = otherRead == kWhole && otherRun == run &&
                            strcmp(BaseOf(files, partner), BaseOf(files, path)) == 0 &&
                            (other[kPalette][0] != 0) == texturePart && (other[kTexture][0] != 0) == palettePart;
        if (paired && PlacePart(files, partner, other, &p)) {
            snprintf(p.journal[palettePart ? 1 : 0], kExportPathBuffer, "%s", partner);
        } else if (palettePart && Exists(files, context, p.path[kPaletteStaged])) {
            // P~ not moved in yet, so T~ was not either: the pair is old,
            // whatever the other folder holds (its T~ goes as a dead run's).
            return Resolve(files, context, p, false) == 0 ? kRecoverRolledBack : kRecoverFailed;
        } else {
            const bool done = palettePart ? !Exists(files, context, p.path[kAside])
                                          : !Exists(files, context, p.path[kTextureStaged]);
            if (!done) return kRecoverWaiting;
            files.RemoveFile(context, path);
            Sync(files, context, path);
            return kRecoverFinished;
        }
    }
    const bool in = !Exists(files, context, p.path[kTextureStaged]);
    if (Resolve(files, context, p, in) != 0) return kRecoverFailed;
    return in ? kRecoverCompleted : kRecoverRolledBack;
}
