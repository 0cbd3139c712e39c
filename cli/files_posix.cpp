// POSIX side of files.h.
#include <dirent.h>
#include <pthread.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "files.h"

const char kPathSeparator = '/';

bool IsPathSeparator(char c) { return c == '/'; }

int ReadWholeFile(const char* path, uint8_t** data, size_t* length) {
    *data = nullptr;
    *length = 0;
    FILE* f = fopen(path, "rb");
    if (!f) return kFileNotOpened;
    struct stat info;
    if (fstat(fileno(f), &info) != 0 || !S_ISREG(info.st_mode)) {
        fclose(f);
        return kFileNotOpened;
    }
    if ((uint64_t)info.st_size >= (uint64_t)SIZE_MAX / 2) {
        fclose(f);
        return kFileTooLarge;
    }
    const size_t size = (size_t)info.st_size;
    uint8_t* block = (uint8_t*)malloc(size > 0 ? size : 1);
    if (!block) {
        fclose(f);
        return kFileNoMemory;
    }
    const size_t read = size > 0 ? fread(block, 1, size, f) : 0;
    fclose(f);
    if (read != size) {
        free(block);
        return kFileShortRead;
    }
    *data = block;
    *length = size;
    return kFileOk;
}

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
