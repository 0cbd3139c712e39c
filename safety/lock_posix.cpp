// POSIX side of run_locks.h: flock on the lock file (on network file systems
// the system carries it to the server).
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "run_locks.h"

int LockFileAt(const char* path, bool wait, intptr_t* handle) {
    // A run that lets go removes the file while it holds it: a lock got on
    // a file that is no longer the one of that name is let go and taken anew.
    for (;;) {
        // Never waiting on a FIFO put there under the lock file's name.
        int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
        if (fd < 0 && errno == EACCES) fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) return kFolderNotLockable;
        struct stat opened, named;
        int locked;
        while ((locked = flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB))) != 0 && errno == EINTR) {}
        if (locked != 0) {
            const int error = errno;
            close(fd);
            return error == EWOULDBLOCK ? kFolderBusy : kFolderNotLockable;
        }
        if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            close(fd);
            return kFolderNotLockable;
        }
        if (lstat(path, &named) == 0 && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino) {
            *handle = fd;
            return kFolderHeld;
        }
        close(fd);
    }
}

void LetGoLockFile(const char* path, intptr_t handle) {
    unlink(path);
    close((int)handle);
}

bool OwnedByThisUser(void*, const char* path) {
    struct stat info;
    return lstat(path, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid();
}
