// Windows side of files.h: ANSI paths, as the plug-ins take them.
#include <windows.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "export_core.h"
#include "files.h"

const char kPathSeparator = '\\';

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

// A regular file opened for reading, never anything else (a device or pipe
// name is refused before it is opened).
static int OpenRegular(const char* path, HANDLE* file, uint64_t* length) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return kFileNotOpened;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return kFileNotRegular;
    *file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (*file == INVALID_HANDLE_VALUE) return kFileNotOpened;
    LARGE_INTEGER size;
    if (GetFileType(*file) != FILE_TYPE_DISK || !GetFileSizeEx(*file, &size)) {
        CloseHandle(*file);
        return kFileNotRegular;
    }
    *length = (uint64_t)size.QuadPart;
    return kFileOk;
}

static int ReadAll(HANDLE file, uint8_t* out, size_t length) {
    size_t done = 0;
    while (done < length) {
        const DWORD chunk = length - done > 0x40000000u ? 0x40000000u : (DWORD)(length - done);
        DWORD read = 0;
        if (!ReadFile(file, out + done, chunk, &read, nullptr) || read == 0) return kFileShortRead;
        done += read;
    }
    return kFileOk;
}

int ReadFilePart(const char* path, uint64_t limit, uint8_t** data, size_t* length, uint64_t* fileLength) {
    *data = nullptr;
    *length = 0;
    *fileLength = 0;
    HANDLE file;
    int result = OpenRegular(path, &file, fileLength);
    if (result != kFileOk) return result;
    const uint64_t wanted = *fileLength < limit ? *fileLength : limit;
    if (wanted >= 0x7FFFFFFFu) {
        CloseHandle(file);
        return kFileTooLarge;
    }
    uint8_t* block = (uint8_t*)malloc(wanted > 0 ? (size_t)wanted : 1);
    if (!block) {
        CloseHandle(file);
        return kFileNoMemory;
    }
    result = ReadAll(file, block, (size_t)wanted);
    CloseHandle(file);
    if (result != kFileOk) {
        free(block);
        return result;
    }
    *data = block;
    *length = (size_t)wanted;
    return kFileOk;
}

int ReadWholeFile(const char* path, uint8_t** data, size_t* length) {
    uint64_t fileLength;
    return ReadFilePart(path, UINT64_MAX, data, length, &fileLength);
}

int ReadFileHead(const char* path, uint8_t* out, size_t room, size_t* length, uint64_t* fileLength) {
    *length = 0;
    *fileLength = 0;
    HANDLE file;
    int result = OpenRegular(path, &file, fileLength);
    if (result != kFileOk) return result;
    const size_t wanted = *fileLength < room ? (size_t)*fileLength : room;
    result = ReadAll(file, out, wanted);
    CloseHandle(file);
    if (result == kFileOk) *length = wanted;
    return result;
}

int FileLength(const char* path, uint64_t* length) {
    *length = 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return kFileNotOpened;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return kFileNotRegular;
    *length = (uint64_t)data.nFileSizeHigh << 32 | data.nFileSizeLow;
    return kFileOk;
}

int FileStamp(const char* path, uint64_t* length, int64_t* modified) {
    *length = 0;
    *modified = 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return kFileNotOpened;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return kFileNotRegular;
    *length = (uint64_t)data.nFileSizeHigh << 32 | data.nFileSizeLow;
    *modified = (int64_t)((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32 | data.ftLastWriteTime.dwLowDateTime);
    return kFileOk;
}

// Names that differ in letter case are one file here.
bool FindFile(const char* path, char* found, size_t room) {
    const size_t length = strlen(path);
    if (length >= room || !PathExists(path)) return false;
    memcpy(found, path, length + 1);
    return true;
}

bool FindOtherCase(const char*, char*, size_t) { return false; }

bool SamePath(const char* a, const char* b) { return OutputKey(a) == OutputKey(b); }

std::string OutputKey(const char* path) {
    std::string key;
    for (const char* p = path; *p; p++) {
        char c = *p == '/' ? '\\' : *p;
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        key += c;
    }
    while (key.compare(0, 2, ".\\") == 0) key.erase(0, 2);
    return key;
}

static int ReplaceByMove(void*, const char* temp, const char* target) { return MoveOver(temp, target); }

static long ReadPalette(void*, const char* path, uint8_t* out, size_t room) {
    size_t length = 0;
    uint64_t fileLength = 0;
    if (ReadFileHead(path, out, room, &length, &fileLength) != kFileOk) return -1;
    return fileLength > room ? (long)room + 1 : (long)length;
}

const ExportFiles kConverterFiles = {WriteFileStdio, ReplaceByMove, RemoveFileStdio, CanReplaceStdio, ReadPalette,
                                     nullptr};

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
