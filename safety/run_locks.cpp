// The folders a run holds, and the numbers of its staged names. Filled
// before a batch's jobs start and read by them; let go after they end.
#include "run_locks.h"

#include <atomic>
#include <string>
#include <vector>

#include "files.h"
#include "paths.h"
#include "safe_files.h"

namespace {

struct HeldFolder {
    FolderIdentity identity;
    std::string lockPath;
    intptr_t handle;
};

std::vector<HeldFolder> g_held;
std::atomic<unsigned long> g_nextNumber(0);

bool SameIdentity(const FolderIdentity& a, const FolderIdentity& b) {
    return a.volume == b.volume && a.index == b.index;
}

bool Held(const FolderIdentity& identity) {
    for (const HeldFolder& held : g_held)
        if (SameIdentity(held.identity, identity)) return true;
    return false;
}

}  // namespace

int HoldFolder(const char* folder, bool wait, void (*waiting)(void*, const char*), void* argument) {
    FolderIdentity identity;
    if (IdentifyFolder(folder, &identity) != 0) return kFolderNotLockable;
    if (Held(identity)) return kFolderHeld;
    HeldFolder held = {identity, JoinPath(folder, kFolderLockName), 0};
    int result = LockFileAt(held.lockPath.c_str(), false, &held.handle);
    if (result == kFolderBusy && wait) {
        if (waiting) waiting(argument, folder);
        result = LockFileAt(held.lockPath.c_str(), true, &held.handle);
    }
    if (result == kFolderHeld) g_held.push_back(held);
    return result;
}

void LetGoFolders() {
    for (const HeldFolder& held : g_held) LetGoLockFile(held.lockPath.c_str(), held.handle);
    g_held.clear();
}

bool RunHoldsFolderOf(void*, const char* path) {
    if (g_held.empty()) return false;
    std::string folder = FolderOf(path);
    if (folder.empty()) folder = BaseNameStart(path) == 1 ? std::string(path, 1) : ".";
    FolderIdentity identity;
    return IdentifyFolder(folder.c_str(), &identity) == 0 && Held(identity);
}

unsigned long NextStagedNumber(void*) { return g_nextNumber++; }
