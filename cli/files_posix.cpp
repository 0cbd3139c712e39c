// POSIX side of files.h.
#include <dirent.h>
#include <pthread.h>
#include <errno.h>
#include <fcntl.h>
#include <strings.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "export_core.h"
#include "files.h"

const char kPathSeparator = '/';

bool IsPathSeparator(char c) { return c == '/'; }

// A regular file opened for reading, never anything else: the type is
// looked at before the open (which would wait on a FIFO) and again on the
// descriptor.
static int OpenRegular(const char* path, int* fd, uint64_t* length) {
    struct stat info;
    if (stat(path, &info) != 0) return kFileNotOpened;
    if (!S_ISREG(info.st_mode)) return kFileNotRegular;
    *fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (*fd < 0) return kFileNotOpened;
    if (fstat(*fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(*fd);
        return kFileNotRegular;
    }
    *length = (uint64_t)info.st_size;
    return kFileOk;
}

static int ReadAll(int fd, uint8_t* out, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t got = read(fd, out + done, length - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return kFileShortRead;
        done += (size_t)got;
    }
    return kFileOk;
}

int ReadFilePart(const char* path, uint64_t limit, uint8_t** data, size_t* length, uint64_t* fileLength) {
    *data = nullptr;
    *length = 0;
    *fileLength = 0;
    int fd = -1;
    int result = OpenRegular(path, &fd, fileLength);
    if (result != kFileOk) return result;
    const uint64_t wanted = *fileLength < limit ? *fileLength : limit;
    if (wanted >= (uint64_t)SIZE_MAX / 2) {
        close(fd);
        return kFileTooLarge;
    }
    uint8_t* block = (uint8_t*)malloc(wanted > 0 ? (size_t)wanted : 1);
    if (!block) {
        close(fd);
        return kFileNoMemory;
    }
    result = ReadAll(fd, block, (size_t)wanted);
    close(fd);
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
    int fd = -1;
    int result = OpenRegular(path, &fd, fileLength);
    if (result != kFileOk) return result;
    const size_t wanted = *fileLength < room ? (size_t)*fileLength : room;
    result = ReadAll(fd, out, wanted);
    close(fd);
    if (result == kFileOk) *length = wanted;
    return result;
}

int FileLength(const char* path, uint64_t* length) {
    struct stat info;
    *length = 0;
    if (stat(path, &info) != 0) return kFileNotOpened;
    if (!S_ISREG(info.st_mode)) return kFileNotRegular;
    *length = (uint64_t)info.st_size;
    return kFileOk;
}

int FileStamp(const char* path, uint64_t* length, int64_t* modified) {
    struct stat info;
    *length = 0;
    *modified = 0;
    if (stat(path, &info) != 0) return kFileNotOpened;
    if (!S_ISREG(info.st_mode)) return kFileNotRegular;
    *length = (uint64_t)info.st_size;
    *modified = (int64_t)info.st_mtim.tv_sec * 1000000000 + info.st_mtim.tv_nsec;
    return kFileOk;
}

bool FindFile(const char* path, char* found, size_t room) {
    const size_t length = strlen(path);
    if (length >= room) return false;
    if (PathExists(path)) {
        memcpy(found, path, length + 1);
        return true;
    }
    // Names are case-sensitive here: look for the name in another case.
    const char* slash = strrchr(path, '/');
    const std::string folder = slash ? std::string(path, (size_t)(slash - path) + (slash == path ? 1 : 0)) : ".";
    const char* base = slash ? slash + 1 : path;
    std::vector<FolderEntry> entries;
    if (ListFolder(folder.c_str(), &entries) != 0) return false;
    for (const FolderEntry& entry : entries) {
        if (entry.folder || strcasecmp(entry.name.c_str(), base) != 0) continue;
        const size_t prefix = (size_t)(base - path);
        if (prefix + entry.name.size() >= room) return false;
        memcpy(found, path, prefix);
        memcpy(found + prefix, entry.name.c_str(), entry.name.size() + 1);
        return true;
    }
    return false;
}

bool FindOtherCase(const char* path, char* found, size_t room) {
    return FindFile(path, found, room) && strcmp(found, path) != 0;
}

bool SamePath(const char* a, const char* b) {
    struct stat x, y;
    if (stat(a, &x) == 0 && stat(b, &y) == 0) return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
    return strcmp(a, b) == 0;
}

std::string OutputKey(const char* path) {
    while (path[0] == '.' && path[1] == '/') path += 2;
    return path;
}

static int ReplaceByMove(void*, const char* temp, const char* target) { return MoveOver(temp, target); }

static bool FindOtherCaseFile(void*, const char* path, char* found, size_t room) {
    return FindOtherCase(path, found, room);
}

static long ReadPalette(void*, const char* path, uint8_t* out, size_t room) {
    size_t length = 0;
    uint64_t fileLength = 0;
    if (ReadFileHead(path, out, room, &length, &fileLength) != kFileOk) return -1;
    return fileLength > room ? (long)room + 1 : (long)length;
}

const ExportFiles kConverterFiles = {WriteFileStdio,  ReplaceByMove, RemoveFileStdio,
                                     CanReplaceStdio, ReadPalette,   FindOtherCaseFile};

int MoveOver(const char* temp, const char* target) { return rename(temp, target) == 0 ? 0 : -1; }

bool PathExists(const char* path) {
    struct stat info;
    return stat(path, &info) == 0;
}

bool IsDirectory(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

int MakeDirectories(const char* path) {
    std::string partial;
    const size_t length = strlen(path);
    for (size_t i = 0; i <= length; i++) {
        if (i == length || (path[i] == '/' && i > 0)) {
            partial.assign(path, i);
            if (!IsDirectory(partial.c_str()) && mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST)
                return -1;
        }
    }
    return IsDirectory(path) ? 0 : -1;
}

int ListFolder(const char* path, std::vector<FolderEntry>* entries) {
    entries->clear();
    DIR* dir = opendir(path);
    if (!dir) return -1;
    while (const dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        std::string full(path);
        if (full.empty() || full.back() != '/') full += '/';
        full += entry->d_name;
        entries->push_back({entry->d_name, IsDirectory(full.c_str())});
    }
    closedir(dir);
    std::sort(entries->begin(), entries->end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return 0;
}

int IdentifyFolder(const char* path, FolderIdentity* identity) {
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISDIR(info.st_mode)) return -1;
    identity->volume = (uint64_t)info.st_dev;
    identity->index = (uint64_t)info.st_ino;
    return 0;
}

unsigned ProcessorCount() {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? (unsigned)online : 1u;
}

struct ThreadLock {
    pthread_mutex_t mutex;
};

ThreadLock* NewThreadLock() {
    ThreadLock* lock = (ThreadLock*)malloc(sizeof(ThreadLock));
    if (lock && pthread_mutex_init(&lock->mutex, nullptr) != 0) {
        free(lock);
        lock = nullptr;
    }
    return lock;
}

void FreeThreadLock(ThreadLock* lock) {
    if (!lock) return;
    pthread_mutex_destroy(&lock->mutex);
    free(lock);
}

void LockThreads(ThreadLock* lock) { pthread_mutex_lock(&lock->mutex); }
void UnlockThreads(ThreadLock* lock) { pthread_mutex_unlock(&lock->mutex); }

namespace {

struct ThreadEntry {
    void (*entry)(void*);
    void* argument;
};

void* StartThread(void* start) {
    const ThreadEntry* e = static_cast<const ThreadEntry*>(start);
    e->entry(e->argument);
    return nullptr;
}

}  // namespace

void RunOnThreads(unsigned more, void (*entry)(void*), void* argument) {
    ThreadEntry start = {entry, argument};
    std::vector<pthread_t> started;
    for (unsigned i = 0; i < more; i++) {
        pthread_t thread;
        if (pthread_create(&thread, nullptr, StartThread, &start) != 0) break;
        started.push_back(thread);
    }
    entry(argument);
    for (pthread_t thread : started) pthread_join(thread, nullptr);
}

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) != 0; }

int TerminalColumns(FILE* stream) {
    struct winsize size;
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
    return 80;
}
