// The converter's pairs that survive a crash: a journal beside the pair says
// what a later run finds half done, and that run puts back both old files or
// completes the new ones. A journal lives in one folder and names only that
// folder's files, by name: its targets and the staged names of its own run.
// A pair across two folders has a journal in each, under one name.
#pragma once

#include "safe_files.h"

// ExportFiles::CommitJournaled: the pair, checked and staged, goes in with a
// journal where this run holds the lock of both folders (HoldsFolder), in
// order only elsewhere or where no journal can be written. 0 or kCommit...
[[nodiscard]] int CommitJournaledPair(const ExportFiles& files, void* context, StagedFile* first, StagedFile* last);

// What recovery did with a journal.
enum {
    kRecoverRolledBack = 0,   // both old files back
    kRecoverCompleted,        // both new files in
    kRecoverCut,              // not a whole journal (cut short while it was written): nothing moved by it, removed
    kRecoverFinished,         // its folder's part of a pair was done: removed
    kRecoverWaiting,          // half of a pair whose other half (`partner`) is not at hand: left
    kRecoverRefused,          // names anything but its folder's files of its run, or is not this user's: left
    kRecoverFailed,           // an old file could not be put back: left for a later try
};

// Finishes what the journal at `path`, left by a run that is gone, had begun,
// and removes the journal. `partner` is the journal of the same name in the
// pair's other folder, or null. The caller holds the lock of the journal's
// folder (and of the partner's), so that no live run writes there.
[[nodiscard]] int RecoverPairJournal(const ExportFiles& files, void* context, const char* path, const char* partner);
