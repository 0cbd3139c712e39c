// Windows side of run_locks.h: LockFileEx on the lock file. A run that lets
// go marks the file for deletion while it holds it; a lock got on a file
// marked so is let go and taken anew.
#include <windows.h>

#include <string>

#include "run_locks.h"

static std::wstring WidePath(const char* path) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    std::wstring wide(n > 0 ? (size_t)n : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, path, -1, &wide[0], n);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

int LockFileAt(const char* path, bool wait, intptr_t* handle) {
    const std::wstring wide = WidePath(path);
    for (unsigned tries = 0; tries < 100000; tries++) {
        HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() != ERROR_ACCESS_DENIED) return kFolderNotLockable;
            Sleep(10);   // marked for deletion by a run letting go: gone in a moment
            continue;
        }
        OVERLAPPED at = {};
        const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
        if (!LockFileEx(file, flags, 0, 1, 0, &at)) {
            const DWORD error = GetLastError();
            CloseHandle(file);
            return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? kFolderBusy : kFolderNotLockable;
        }
        FILE_STANDARD_INFO info = {};
        if (GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info) && !info.DeletePending) {
            *handle = (intptr_t)file;
            return kFolderHeld;
        }
        CloseHandle(file);
    }
    return kFolderNotLockable;
}

void LetGoLockFile(const char*, intptr_t handle) {
    HANDLE file = (HANDLE)handle;
    FILE_DISPOSITION_INFO gone = {TRUE};
    SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone);
    CloseHandle(file);
}

bool OwnedByThisUser(void*, const char*) { return true; }
