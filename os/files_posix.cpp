// POSIX side of files.h.
#include <dirent.h>
#include <pthread.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <strings.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "console.h"
#include "export_core.h"
#include "files.h"
#include "pair_journal.h"
#include "run_locks.h"
#include "threads.h"

const char kPathSeparator = '/';

bool IsPathSeparator(char c) { return c == '/'; }

// A regular file opened for reading, never anything else: the type is
// looked at before the open (which would wait on a FIFO) and again on the
// descriptor.
int OpenRegularFile(const char* path, FileHandle* file, uint64_t* length) {
    struct stat info;
    if (stat(path, &info) != 0) return kFileNotOpened;
    if (!S_ISREG(info.st_mode)) return kFileNotRegular;
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kFileNotOpened;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return kFileNotRegular;
    }
    *file = fd;
    *length = (uint64_t)info.st_size;
    return kFileOk;
}

int ReadOpenedFile(FileHandle file, uint8_t* out, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t got = read((int)file, out + done, length - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return kFileShortRead;
        done += (size_t)got;
    }
    return kFileOk;
}

void CloseOpenedFile(FileHandle file) { close((int)file); }

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

// The folder of `path` whose last "/" is at `slash` (may be null): "." for a
// bare name, "/" for a name in the root.
static std::string FolderPart(const char* path, const char* slash) {
    return slash ? std::string(path, (size_t)(slash - path) + (slash == path ? 1 : 0)) : ".";
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
    const std::string folder = FolderPart(path, slash);
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

bool SamePath(const char* a, const char* b) {
    struct stat x, y;
    if (stat(a, &x) == 0 && stat(b, &y) == 0) return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
    return strcmp(a, b) == 0;
}

std::string OutputKey(const char* path) {
    while (path[0] == '.' && path[1] == '/') path += 2;
    return path;
}

// ---- the export's files

// A new file, its bytes flushed to the disk before it is closed: a staged
// file is complete on the disk before any rename can put it in place.
static int WriteFlushed(void*, const char* path, const uint8_t* data, size_t length) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno == EEXIST ? kWriteExists : -1;
    size_t done = 0;
    while (done < length) {
        const ssize_t put = write(fd, data + done, length - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += (size_t)put;
    }
    // An empty file (a name reserved) has no bytes to flush: its entry is
    // flushed with its folder's.
    bool written = done == length && (length == 0 || fsync(fd) == 0);
    const int error = errno;
    written = close(fd) == 0 && written;
    if (written) return 0;
    unlink(path);
    errno = error;
    return -1;
}

int MoveOver(const char* temp, const char* target) { return rename(temp, target) == 0 ? 0 : -1; }

static int ReplaceByMove(void*, const char* temp, const char* target) { return MoveOver(temp, target); }

static void RemoveStaged(void*, const char* path) { unlink(path); }

// Nothing there, or a regular file that opens for writing. A folder, FIFO or
// device is refused before anything opens it (an open would wait on a FIFO).
static int CanReplaceTarget(void*, const char* target) {
    struct stat info;
    if (stat(target, &info) != 0) return errno == ENOENT ? 1 : 0;
    if (!S_ISREG(info.st_mode)) return 0;
    const int fd = open(target, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 0;
    close(fd);
    return 1;
}

static bool FindOtherCaseFile(void*, const char* path, char* found, size_t room) {
    return FindOtherCase(path, found, room);
}

static unsigned long ThisRun(void*) { return CurrentRunId(); }

static void SyncFolder(void*, const char* path) {
    const char* slash = strrchr(path, '/');
    const std::string folder = FolderPart(path, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// The replaced file's owner (where this process may give it) and its
// permission bits, never its set-user-id, set-group-id or sticky bits: the
// new file is not the program someone made set-id (nor, through a link,
// ever becomes one).
static void KeepMode(void*, const char* target, const char* temp) {
    struct stat info;
    if (stat(target, &info) != 0 || !S_ISREG(info.st_mode)) return;
    if (chown(temp, info.st_uid, info.st_gid) != 0) {
        // Not ours to give: the group alone may still be.
        if (chown(temp, (uid_t)-1, info.st_gid) != 0) {}
    }
    chmod(temp, info.st_mode & 0777);
}

const ExportFiles kConverterFiles = {WriteFlushed,  ReplaceByMove, RemoveStaged, CanReplaceTarget,
                                     ReadFilePrefix, FindOtherCaseFile, ThisRun,  NextStagedNumber,
                                     SyncFolder,    KeepMode,      kPathsPosix,  PATH_MAX - 1,
                                     CommitJournaledPair, RunHoldsFolderOf, OwnedByThisUser};

unsigned long CurrentRunId() { return (unsigned long)getpid(); }

bool FolderFoldsCase(const char* folder) {
    // A probe file of our own, looked up under another case of its name.
    const std::string base = std::string(folder[0] ? folder : ".") + "/";
    for (unsigned n = 0; n < 16; n++) {
        char name[64], other[64];
        snprintf(name, sizeof name, "~%lu-%u.tmp", CurrentRunId(), 1000000u + n);
        snprintf(other, sizeof other, "~%lu-%u.TMP", CurrentRunId(), 1000000u + n);
        const std::string path = base + name;
        const int written = WriteFlushed(nullptr, path.c_str(), nullptr, 0);
        if (written == kWriteExists) continue;
        if (written != 0) return false;
        struct stat a, b;
        const bool folds = stat(path.c_str(), &a) == 0 && stat((base + other).c_str(), &b) == 0 &&
                           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
        unlink(path.c_str());
        return folds;
    }
    return false;
}

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

struct ThreadSignal {
    pthread_cond_t condition;
};

ThreadSignal* NewThreadSignal() {
    ThreadSignal* signal = (ThreadSignal*)malloc(sizeof(ThreadSignal));
    if (signal && pthread_cond_init(&signal->condition, nullptr) != 0) {
        free(signal);
        signal = nullptr;
    }
    return signal;
}

void FreeThreadSignal(ThreadSignal* signal) {
    if (!signal) return;
    pthread_cond_destroy(&signal->condition);
    free(signal);
}

void WaitThreadSignal(ThreadSignal* signal, ThreadLock* lock) { pthread_cond_wait(&signal->condition, &lock->mutex); }
void WakeThreadSignal(ThreadSignal* signal) { pthread_cond_broadcast(&signal->condition); }

uint64_t PhysicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? (uint64_t)pages * (uint64_t)size : 0;
}

// ---- interruptions

static volatile sig_atomic_t g_interrupts = 0;
static volatile sig_atomic_t g_secondExit = 130;
static const int kCaught[] = {SIGINT, SIGTERM, SIGHUP};
static struct sigaction g_before[3];

static void OnInterrupt(int) {
    if (g_interrupts) _exit(g_secondExit);   // the journals finish what is cut here
    g_interrupts = 1;
}

void CatchInterruptions(int secondExit) {
    g_interrupts = 0;
    g_secondExit = secondExit;
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; i++) sigaction(kCaught[i], &action, &g_before[i]);
}

void ReleaseInterruptions() {
    for (int i = 0; i < 3; i++) sigaction(kCaught[i], &g_before[i], nullptr);
}

bool Interrupted() { return g_interrupts != 0; }

void Say(FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string shown = ShownText(FormatText(format, args));
    va_end(args);
    fwrite(shown.data(), 1, shown.size(), stream);
}

std::vector<std::string> CommandLineUtf8(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) != 0; }

int TerminalColumns(FILE* stream) {
    struct winsize size;
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
    return 80;
}

void UseConsoleCodePageForFiles() {}

bool UserLanguageIsJapanese() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = getenv(name);
        if (value && *value) return strncmp(value, "ja", 2) == 0;
    }
    return false;
}

// A terminal is never the program's own window here.
bool OwnsConsole() { return false; }
void WaitForKey() {}
