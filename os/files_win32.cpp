// Windows side of files.h. Paths are UTF-8 inside the converter and go to
// the system through its wide-character functions, so that any name
// Windows holds can be read and written whatever the ANSI code page (the
// plug-ins keep their ANSI paths).
#include <windows.h>
#include <shellapi.h>
#include <io.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console.h"
#include "export_core.h"
#include "files.h"
#include "pair_journal.h"
#include "paths.h"
#include "run_locks.h"
#include "threads.h"

const char kPathSeparator = '\\';

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

static std::wstring Wide(const char* text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide((size_t)n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], n);
    wide.resize((size_t)n - 1);
    return wide;
}

static std::string Utf8(const wchar_t* text, int length = -1) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string narrow((size_t)n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, &narrow[0], n, nullptr, nullptr);
    if (length < 0) narrow.resize((size_t)n - 1);
    return narrow;
}

std::vector<std::string> CommandLineUtf8(int argc, char** argv) {
    std::vector<std::string> args;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) {
        for (int i = 0; i < argc; i++) args.push_back(argv[i]);
        return args;
    }
    for (int i = 0; i < count; i++) args.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return args;
}

// A device's name (NUL, COM1, \\.\pipe\x): the full path Windows makes
// of it is in the device namespace.
static bool IsDevice(const std::wstring& path) {
    wchar_t full[MAX_PATH + 8];
    const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH + 8, full, nullptr);
    const wchar_t* kDevices = L"\\\\.\\";
    return wcsncmp(path.c_str(), kDevices, 4) == 0 || (n > 0 && n < MAX_PATH + 8 && wcsncmp(full, kDevices, 4) == 0);
}

// A regular file opened for reading, never anything else (a folder, device
// or pipe name is refused before it is opened).
int OpenRegularFile(const char* path, FileHandle* file, uint64_t* length) {
    const std::wstring wide = Wide(path);
    if (IsDevice(wide)) return kFileNotRegular;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return kFileNotOpened;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return kFileNotRegular;
    HANDLE opened = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return kFileNotOpened;
    LARGE_INTEGER size;
    if (GetFileType(opened) != FILE_TYPE_DISK || !GetFileSizeEx(opened, &size)) {
        CloseHandle(opened);
        return kFileNotRegular;
    }
    *file = (FileHandle)opened;
    *length = (uint64_t)size.QuadPart;
    return kFileOk;
}

int ReadOpenedFile(FileHandle file, uint8_t* out, size_t length) {
    size_t done = 0;
    while (done < length) {
        const DWORD chunk = length - done > 0x40000000u ? 0x40000000u : (DWORD)(length - done);
        DWORD read = 0;
        if (!ReadFile((HANDLE)file, out + done, chunk, &read, nullptr) || read == 0) return kFileShortRead;
        done += read;
    }
    return kFileOk;
}

void CloseOpenedFile(FileHandle file) { CloseHandle((HANDLE)file); }

int FileLength(const char* path, uint64_t* length) {
    *length = 0;
    const std::wstring wide = Wide(path);
    if (IsDevice(wide)) return kFileNotRegular;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return kFileNotOpened;
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
    // The file's name in the letter case the folder holds it in, so that a
    // file replaced keeps its name (TEX.PVP stays TEX.PVP).
    if (strpbrk(path, "*?")) return true;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(Wide(path).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return true;
    FindClose(search);
    const std::string name = Utf8(data.cFileName);
    const size_t start = BaseNameStart(path);
    if (start + name.size() == length && OutputKey(name.c_str()) == OutputKey(path + start))
        memcpy(found + start, name.c_str(), name.size() + 1);
    return true;
}

static bool FindOtherCaseFile(void*, const char* path, char* found, size_t room) {
    return FindOtherCase(path, found, room);
}


bool SamePath(const char* a, const char* b) { return OutputKey(a) == OutputKey(b); }

// Letter case folded as Windows folds file names (every script, not ASCII
// alone), "/" as "\\".
std::string OutputKey(const char* path) {
    std::wstring wide = Wide(path);
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    if (!wide.empty()) CharUpperBuffW(&wide[0], (DWORD)wide.size());
    while (wide.compare(0, 2, L".\\") == 0) wide.erase(0, 2);
    return Utf8(wide.c_str());
}

bool FolderFoldsCase(const char*) { return true; }

// ---- the export's files

// A new file, its bytes flushed to the disk before it is closed.
static int WriteFlushed(void*, const char* path, const uint8_t* data, size_t length) {
    const std::wstring wide = Wide(path);
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS ? kWriteExists : -1;
    size_t done = 0;
    while (done < length) {
        const DWORD chunk = length - done > 0x40000000u ? 0x40000000u : (DWORD)(length - done);
        DWORD put = 0;
        if (!WriteFile(file, data + done, chunk, &put, nullptr) || put == 0) break;
        done += put;
    }
    const bool written = done == length && (length == 0 || FlushFileBuffers(file));   // nothing to flush when empty
    const bool closed = CloseHandle(file) != 0;
    if (written && closed) return 0;
    DeleteFileW(wide.c_str());
    return -1;
}

int MoveOver(const char* temp, const char* target) {
    return MoveFileExW(Wide(temp).c_str(), Wide(target).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : -1;
}

static int ReplaceByMove(void*, const char* temp, const char* target) { return MoveOver(temp, target); }

static void RemoveStaged(void*, const char* path) { DeleteFileW(Wide(path).c_str()); }

// Nothing there, or a file that is not read-only and opens for writing; a
// folder or a device is refused before anything opens it.
static int CanReplaceTarget(void*, const char* target) {
    const std::wstring wide = Wide(target);
    if (IsDevice(wide)) return 0;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND ? 1 : 0;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DEVICE)) return 0;
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    const bool disk = GetFileType(file) == FILE_TYPE_DISK;
    CloseHandle(file);
    return disk ? 1 : 0;
}

static unsigned long ThisRun(void*) { return CurrentRunId(); }

// The attributes a user may have set on the replaced file (read-only ones
// are refused before this).
static void KeepAttributes(void*, const char* target, const char* temp) {
    const DWORD attributes = GetFileAttributesW(Wide(target).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    SetFileAttributesW(Wide(temp).c_str(), kept ? kept : FILE_ATTRIBUTE_NORMAL);
}

// Renames go through with MOVEFILE_WRITE_THROUGH; a folder cannot be flushed
// here without rights a user seldom has.
const ExportFiles kConverterFiles = {WriteFlushed, ReplaceByMove,  RemoveStaged, CanReplaceTarget,
                                     ReadFilePrefix, FindOtherCaseFile, ThisRun,   NextStagedNumber,
                                     nullptr,      KeepAttributes, kPathsWindowsUtf8, MAX_PATH - 1,
                                     CommitJournaledPair, RunHoldsFolderOf, OwnedByThisUser};

unsigned long CurrentRunId() { return GetCurrentProcessId(); }

bool PathExists(const char* path) { return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const char* path) {
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int MakeDirectories(const char* path) {
    std::string partial;
    const size_t length = strlen(path);
    for (size_t i = 0; i <= length; i++) {
        if (i == length || (IsPathSeparator(path[i]) && i > 0 && path[i - 1] != ':')) {
            partial.assign(path, i);
            if (!IsDirectory(partial.c_str()) && !CreateDirectoryW(Wide(partial.c_str()).c_str(), nullptr) &&
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
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide(pattern.c_str()).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : -1;
    do {
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
        entries->push_back({Utf8(found.cFileName), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(entries->begin(), entries->end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return 0;
}

// The folder a link or junction leads to, opened for its identity only.
int IdentifyFolder(const char* path, FolderIdentity* identity) {
    HANDLE folder = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
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

struct ThreadSignal {
    CONDITION_VARIABLE condition;
};

ThreadSignal* NewThreadSignal() {
    ThreadSignal* signal = (ThreadSignal*)malloc(sizeof(ThreadSignal));
    if (signal) InitializeConditionVariable(&signal->condition);
    return signal;
}

void FreeThreadSignal(ThreadSignal* signal) { free(signal); }

void WaitThreadSignal(ThreadSignal* signal, ThreadLock* lock) {
    SleepConditionVariableCS(&signal->condition, &lock->section, INFINITE);
}

void WakeThreadSignal(ThreadSignal* signal) { WakeAllConditionVariable(&signal->condition); }

uint64_t PhysicalMemory() {
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? (uint64_t)status.ullTotalPhys : 0;
}

// ---- interruptions

static volatile LONG g_interrupts = 0;
static int g_secondExit = 130;
static HANDLE g_released = nullptr;   // set once the batch has ended

// On the console's own thread. A closed console, a log-off or a shut-down
// ends the process when this returns: it waits for the batch to end first,
// within the few seconds the system allows.
static BOOL WINAPI OnConsoleEvent(DWORD event) {
    const LONG count = InterlockedIncrement(&g_interrupts);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        if (count > 1) _exit(g_secondExit);   // the journals finish what is cut here
        return TRUE;
    }
    if (g_released) WaitForSingleObject(g_released, 4500);
    return FALSE;
}

void CatchInterruptions(int secondExit) {
    g_interrupts = 0;
    g_secondExit = secondExit;
    if (!g_released) g_released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    else ResetEvent(g_released);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void ReleaseInterruptions() {
    if (g_released) SetEvent(g_released);
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

bool Interrupted() { return g_interrupts != 0; }

// The code page of text to files and pipes: 0 for UTF-8 as it is
// (UseConsoleCodePageForFiles sets another before any thread starts).
static UINT g_fileCodePage = 0;

void UseConsoleCodePageForFiles() {
    const UINT console = GetConsoleOutputCP();
    g_fileCodePage = console ? console : GetOEMCP();
    if (g_fileCodePage == CP_UTF8) g_fileCodePage = 0;
}

bool UserLanguageIsJapanese() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE; }

bool OwnsConsole() {
    DWORD processes[2];
    DWORD mode;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    return input != INVALID_HANDLE_VALUE && input && GetConsoleMode(input, &mode) &&
           GetConsoleProcessList(processes, 2) == 1;
}

void WaitForKey() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    FlushConsoleInputBuffer(input);
    for (;;) {
        INPUT_RECORD record;
        DWORD read = 0;
        if (!ReadConsoleInputW(input, &record, 1, &read) || read == 0) return;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
    }
}

// The text as UTF-16 on a console, whatever its code page; elsewhere (a
// file, a pipe) the UTF-8 bytes, or in the code page asked for.
void Say(FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = ShownText(FormatText(format, args));
    va_end(args);
    HANDLE handle = (HANDLE)_get_osfhandle(_fileno(stream));
    DWORD mode;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        fflush(stream);   // what went before through the C library first
        const std::wstring wide = Wide(text.c_str());
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), (DWORD)wide.size(), &written, nullptr);
        return;
    }
    if (g_fileCodePage != 0) {
        const std::wstring wide = Wide(text.c_str());
        const int n = WideCharToMultiByte(g_fileCodePage, 0, wide.data(), (int)wide.size(), nullptr, 0, nullptr, nullptr);
        if (n > 0) {
            std::string local((size_t)n, '\0');
            WideCharToMultiByte(g_fileCodePage, 0, wide.data(), (int)wide.size(), &local[0], n, nullptr, nullptr);
            fwrite(local.data(), 1, local.size(), stream);
        }
        return;
    }
    fwrite(text.data(), 1, text.size(), stream);
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
