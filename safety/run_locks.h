// The converter's hold on the folders a run writes: a lock on a lock file
// (kFolderLockName) in each, held for as long as the run may write there.
// The system drops it when the process ends however it ends (in any
// container, on any machine of a network share, across a reboot), so a
// journal found in a folder whose lock this run holds belongs to a run that
// is gone. Everything here is the converter's; the plug-in never locks.
#pragma once

#include <stdint.h>

#include "safe_files.h"   // kFolderHeld, kFolderBusy, kFolderNotLockable

// Takes the lock of `folder`. Held by another run: kFolderBusy at once
// unless `wait`, else `waiting(argument, folder)` is called and the lock
// waited for. kFolderNotLockable where no lock file can be had (a read-only
// folder, a file system without locks): the run writes there without
// journals. A folder already held (by another path) is held once.
[[nodiscard]]
int HoldFolder(const char* folder, bool wait, void (*waiting)(void* argument, const char* folder), void* argument);
// Lets go of every folder, their lock files removed.
void LetGoFolders();

// ExportFiles::HoldsFolder: this run holds the folder of `path`.
bool RunHoldsFolderOf(void* context, const char* path);
// ExportFiles::NextNumber: one more number for this run's staged names.
unsigned long NextStagedNumber(void* context);
// ExportFiles::OwnFile: a regular file of this process's (effective) user;
// on Windows every file.
bool OwnedByThisUser(void* context, const char* path);

// The system's side (lock_posix.cpp, lock_win32.cpp): the lock file at
// `path` created or opened and locked, `*handle` kept for LetGoLockFile;
// kFolder... codes.
[[nodiscard]] int LockFileAt(const char* path, bool wait, intptr_t* handle);
// The lock file removed, then its lock dropped.
void LetGoLockFile(const char* path, intptr_t handle);
