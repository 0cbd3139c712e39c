// The converter's system edge, its files: whole-file reads, writes that
// never leave a half-written file behind, folder listings and names. One
// implementation for POSIX systems (files_posix.cpp), one for Windows
// (files_win32.cpp), which also hold threads.h and console.h.
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
[[nodiscard]] int OpenRegularFile(const char* path, FileHandle* file, uint64_t* length);
[[nodiscard]] int ReadOpenedFile(FileHandle file, uint8_t* out, size_t length);   // all of it, or kFileShortRead
void CloseOpenedFile(FileHandle file);

// Reads a whole file into a new malloc block (freed with free); a file of
// length 0 gives a non-null block of 1 byte and length 0. Sets *data and
// *length to null and 0 first.
[[nodiscard]] int ReadWholeFile(const char* path, uint8_t** data, size_t* length);
// The same for at most the first `limit` bytes; `fileLength` receives the
// whole file's length.
[[nodiscard]] int ReadFilePart(const char* path, uint64_t limit, uint8_t** data, size_t* length, uint64_t* fileLength);
// The first bytes of a file, at most `room`, into `out`.
[[nodiscard]] int ReadFileHead(const char* path, uint8_t* out, size_t room, size_t* length, uint64_t* fileLength);
// ExportFiles::ReadFile with ReadFileHead: the bytes read, room + 1 for a
// longer file, -1 for none.
long ReadFilePrefix(void* context, const char* path, uint8_t* out, size_t room);
// The length of a regular file: kFileOk, or the kFile... reason.
[[nodiscard]] int FileLength(const char* path, uint64_t* length);
// The length and the time of the last change (in the system's own units:
// nanoseconds since 1970 on POSIX, 100 ns since 1601 on Windows) of a
// regular file: kFileOk, or the kFile... reason.
[[nodiscard]] int FileStamp(const char* path, uint64_t* length, int64_t* modified);

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
[[nodiscard]] int MoveOver(const char* temp, const char* target);

// This run's id (the process id), the one its staged names carry.
unsigned long CurrentRunId();

// True when the file system of `folder` takes names that differ only in
// ASCII letter case for one file: on Windows always; elsewhere found out by
// creating a file of our own there and looking it up in another case.
bool FolderFoldsCase(const char* folder);

bool PathExists(const char* path);
bool IsDirectory(const char* path);

// Creates a folder and its missing parents: 0, or -1.
[[nodiscard]] int MakeDirectories(const char* path);

// The entries of a folder (names only, without "." and ".."), sorted by
// byte value, each marked as a folder or not: 0, or -1 when it cannot be
// read.
struct FolderEntry {
    std::string name;
    bool folder;
};
[[nodiscard]] int ListFolder(const char* path, std::vector<FolderEntry>* entries);

// Who a folder is, whatever path or link leads to it: device and inode on
// POSIX, volume serial number and file index on Windows. 0, or -1 when it
// cannot be told.
struct FolderIdentity {
    uint64_t volume;
    uint64_t index;
};
[[nodiscard]] int IdentifyFolder(const char* path, FolderIdentity* identity);

// The separator written between a folder and a name on this system.
extern const char kPathSeparator;
// True for every separator this system accepts ("/", and "\" on Windows).
bool IsPathSeparator(char c);
