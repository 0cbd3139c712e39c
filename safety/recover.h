// The converter's folders, held and recovered before a batch writes there.
#pragma once

#include <stdio.h>

#include <string>
#include <vector>

// Holds the lock of each folder (run_locks.h), waiting for another run that
// holds one unless `wait` is false, then finishes or removes in each what
// runs that died there left: a pair cut by a crash comes back whole, old or
// new, and their staged files are removed. Says on `err` what it waited
// for and what it finished. 0, or -1 when a folder is busy and `wait` false.
// LetGoFolders (run_locks.h) ends the hold.
[[nodiscard]] int GuardFolders(const std::vector<std::string>& folders, bool wait, FILE* err);
