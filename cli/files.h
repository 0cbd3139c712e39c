// The converter's system edge: whole-file reads, writes that never leave a
// half-written file behind, folder listings, the terminal and the worker
// threads of a batch. One
// implementation for POSIX systems (files_posix.cpp), one for Windows
// (files_win32.cpp).
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdarg.h>
#include <stdio.h>

#include <string>
#include <vector>

enum {
    kFileOk = 0,
    kFileNotOpened = -1,
    kFileNoMemory = -2,
    kFileShortRead = -3,
    kFileTooLarge = -4,
    kFileNotRegular = -5,   // a folder, FIFO or device: never opened
};

// The system's side of reading: a regular file opened (a folder, FIFO or
// device is refused before it is opened: kFileNotRegular), read and closed.
typedef intptr_t FileHandle;
int OpenRegularFile(const char* path, FileHandle* file, uint64_t* length);
int ReadOpenedFile(FileHandle file, uint8_t* out, size_t length);   // all of it, or kFileShortRead
void CloseOpenedFile(FileHandle file);

// Reads a whole file into a new malloc block (freed with free); a file of
// length 0 gives a non-null block of 1 byte and length 0. Sets *data and
// *length to null and 0 first.
int ReadWholeFile(const char* path, uint8_t** data, size_t* length);
// The same for at most the first `limit` bytes; `fileLength` receives the
// whole file's length.
int ReadFilePart(const char* path, uint64_t limit, uint8_t** data, size_t* length, uint64_t* fileLength);
// The first bytes of a file, at most `room`, into `out`.
int ReadFileHead(const char* path, uint8_t* out, size_t room, size_t* length, uint64_t* fileLength);
// ExportFiles::ReadFile with ReadFileHead: the bytes read, room + 1 for a
// longer file, -1 for none.
long ReadFilePrefix(void* context, const char* path, uint8_t* out, size_t room);
// The length of a regular file: kFileOk, or the kFile... reason.
int FileLength(const char* path, uint64_t* length);
// The length and the time of the last change (in the system's own units:
// nanoseconds since 1970 on POSIX, 100 ns since 1601 on Windows) of a
// regular file: kFileOk, or the kFile... reason.
int FileStamp(const char* path, uint64_t* length, int64_t* modified);

// An existing file of this name: true with the name it goes by in `found`
// (`room` bytes) — the name itself, or where names are case-sensitive, one
// that differs from it only in ASCII letter case (the first in byte order).
bool FindFile(const char* path, char* found, size_t room);
// FindFile where the file goes by another name than `path`.
bool FindOtherCase(const char* path, char* found, size_t room);
// True when both paths name one file: the same file where both exist, else
// the same text.
bool SamePath(const char* a, const char* b);
// A key for an output name: equal keys are one file on this system.
std::string OutputKey(const char* path);

// The converter's files for the export's staged writing.
struct ExportFiles;
extern const ExportFiles kConverterFiles;

// Moves `temp` over `target`, replacing it: 0, or -1 with `target` untouched.
int MoveOver(const char* temp, const char* target);

// This run's id (the process id), the one its staged names carry.
unsigned long CurrentRunId();

// True when the file system of `folder` takes names that differ only in
// ASCII letter case for one file: on Windows always; elsewhere found out by
// creating a file of our own there and looking it up in another case.
bool FolderFoldsCase(const char* folder);

bool PathExists(const char* path);
bool IsDirectory(const char* path);

// Creates a folder and its missing parents: 0, or -1.
int MakeDirectories(const char* path);

// The entries of a folder (names only, without "." and ".."), sorted by
// byte value, each marked as a folder or not: 0, or -1 when it cannot be
// read.
struct FolderEntry {
    std::string name;
    bool folder;
};
int ListFolder(const char* path, std::vector<FolderEntry>* entries);

// Who a folder is, whatever path or link leads to it: device and inode on
// POSIX, volume serial number and file index on Windows. 0, or -1 when it
// cannot be told.
struct FolderIdentity {
    uint64_t volume;
    uint64_t index;
};
int IdentifyFolder(const char* path, FolderIdentity* identity);

// The processors this process may run on (at least 1).
unsigned ProcessorCount();

// Threads for batches. A lock held by one thread at a time (null when no
// memory can be had for it):
struct ThreadLock;
ThreadLock* NewThreadLock();
void FreeThreadLock(ThreadLock* lock);
void LockThreads(ThreadLock* lock);
void UnlockThreads(ThreadLock* lock);
// Runs entry(argument) on up to `more` new threads (fewer when the system
// gives no more) and on the calling thread; returns when all have returned.
void RunOnThreads(unsigned more, void (*entry)(void*), void* argument);

// A condition threads wait on under a ThreadLock until another wakes them
// all (null when no memory can be had for it).
struct ThreadSignal;
ThreadSignal* NewThreadSignal();
void FreeThreadSignal(ThreadSignal* signal);
void WaitThreadSignal(ThreadSignal* signal, ThreadLock* lock);
void WakeThreadSignal(ThreadSignal* signal);

// The machine's memory in bytes, 0 when unknown.
uint64_t PhysicalMemory();

// From CatchInterruptions on, Ctrl-C, SIGTERM and SIGHUP (on Windows Ctrl-C,
// Ctrl-Break and a closed console) only set Interrupted(); a second Ctrl-C
// ends the program at once with `secondExit`. ReleaseInterruptions gives them
// back their usual effect (on Windows a closed console waits for it, for as
// long as the system lets it).
void CatchInterruptions(int secondExit);
void ReleaseInterruptions();
bool Interrupted();

// printf to `stream` of UTF-8 text, its control characters shown as escapes
// (ShownText): on a Windows console as UTF-16, whatever its code page;
// elsewhere the bytes as they are.
#ifdef _WIN32
void Say(FILE* stream, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
#else
void Say(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
#endif

// `text` with every control character but tab, line feed and carriage return
// (the C0 ones and DEL as "\xHH", the C1 ones of UTF-8 as "\u00HH") written
// out, so that no name or text of a file reaches a terminal as a command.
std::string ShownText(const std::string& text);
// vsnprintf into a string ("" when the format fails).
std::string FormatText(const char* format, va_list args);

// The program's arguments in UTF-8: on Windows from the wide command line
// (any name, whatever the ANSI code page), elsewhere argv as it is.
std::vector<std::string> CommandLineUtf8(int argc, char** argv);

// True when `stream` is an interactive terminal; its width in columns
// (80 when unknown).
bool IsTerminal(FILE* stream);
int TerminalColumns(FILE* stream);

// The separator written between a folder and a name on this system.
extern const char kPathSeparator;
// True for every separator this system accepts ("/", and "\" on Windows).
bool IsPathSeparator(char c);
