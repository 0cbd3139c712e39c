// Windows side of files.h: ANSI paths, as the plug-ins take them.
#include <windows.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "files.h"

const char kPathSeparator = '\\';

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

int ReadWholeFile(const char* path, uint8_t** data, size_t* length) {
    *data = nullptr;
    *length = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return kFileNotOpened;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return kFileNotOpened;
    }
    if ((uint64_t)size.QuadPart >= 0x7FFFFFFFu) {
        CloseHandle(file);
        return kFileTooLarge;
    }
    const DWORD bytes = (DWORD)size.QuadPart;
    uint8_t* block = (uint8_t*)malloc(bytes > 0 ? bytes : 1);
    if (!block) {
        CloseHandle(file);
        return kFileNoMemory;
    }
    DWORD read = 0;
    const BOOL ok = bytes == 0 || ReadFile(file, block, bytes, &read, nullptr);
    CloseHandle(file);
    if (!ok || read != bytes) {
        free(block);
        return kFileShortRead;
    }
    *data = block;
    *length = bytes;
    return kFileOk;
}

int MoveOver(const char* temp, const char* target) {
    return MoveFileExA(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -1;
}

bool PathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int MakeDirectories(const char* path) {
    std::string partial;
    const size_t length = strlen(path);
    for (size_t i = 0; i <= length; i++) {
        if (i == length || (IsPathSeparator(path[i]) && i > 0 && path[i - 1] != ':')) {
            partial.assign(path, i);
            if (!IsDirectory(partial.c_str()) && !CreateDirectoryA(partial.c_str(), nullptr) &&
                GetLastError() != ERROR_ALREADY_EXISTS)
                return -1;
        }
    }
    return IsDirectory(path) ? 0 : -1;
}

int ListFolder(const char* path, std::vector<FolderEntry>* entries) {
    entries->clear();
    std::string pattern(path);
    if (pattern.empty() || !IsPathSeparator(pattern.back())) pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : -1;
    do {
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0) continue;
        entries->push_back({found.cFileName, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(entries->begin(), entries->end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return 0;
}

// The folder a link or junction leads to, opened for its identity only.
int IdentifyFolder(const char* path, FolderIdentity* identity) {
    HANDLE folder = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return -1;
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL known = GetFileInformationByHandle(folder, &info);
    CloseHandle(folder);
    if (!known || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return -1;
    identity->volume = info.dwVolumeSerialNumber;
    identity->index = (uint64_t)info.nFileIndexHigh << 32 | info.nFileIndexLow;
    return 0;
}

unsigned ProcessorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? (unsigned)info.dwNumberOfProcessors : 1u;
}

// Threads by CreateThread: the MinGW build's C++ library has no std::thread.
struct ThreadLock {
    CRITICAL_SECTION section;
};

ThreadLock* NewThreadLock() {
    ThreadLock* lock = (ThreadLock*)malloc(sizeof(ThreadLock));
    if (lock) InitializeCriticalSection(&lock->section);
    return lock;
}

void FreeThreadLock(ThreadLock* lock) {
    if (!lock) return;
    DeleteCriticalSection(&lock->section);
    free(lock);
}

void LockThreads(ThreadLock* lock) { EnterCriticalSection(&lock->section); }
void UnlockThreads(ThreadLock* lock) { LeaveCriticalSection(&lock->section); }

namespace {

struct ThreadEntry {
    void (*entry)(void*);
    void* argument;
};

DWORD WINAPI StartThread(void* start) {
    const ThreadEntry* e = static_cast<const ThreadEntry*>(start);
    e->entry(e->argument);
    return 0;
}

}  // namespace

void RunOnThreads(unsigned more, void (*entry)(void*), void* argument) {
    ThreadEntry start = {entry, argument};
    std::vector<HANDLE> started;
    for (unsigned i = 0; i < more; i++) {
        HANDLE thread = CreateThread(nullptr, 0, StartThread, &start, 0, nullptr);
        if (!thread) break;
        started.push_back(thread);
    }
    entry(argument);
    for (HANDLE thread : started) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

bool IsTerminal(FILE* stream) { return _isatty(_fileno(stream)) != 0; }

int TerminalColumns(FILE* stream) {
    HANDLE console = (HANDLE)_get_osfhandle(_fileno(stream));
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (console != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(console, &info)) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns >= 20) return columns;
    }
    return 80;
}
