// Faults of the disk on demand, for tests: a shared library that stands in for fsync and
// fdatasync (linked into a test program, or loaded into login.fcgi with LD_PRELOAD). Every sync
// is noted, one line "PATH ok" or "PATH ERROR", in the file ENTRAVO_SYNC_LOG names; a sync of a
// file whose path ends with SUFFIX fails while the file ENTRAVO_SYNC_FAULTS holds "ERROR COUNT
// SUFFIX" with COUNT above zero (ERROR: EIO or ENOSPC), and counts COUNT down. Without those
// variables every sync is the system's own.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

typedef int (*SyncFunction)(int);

static void PathOf(int fd, char* path, size_t size)
{
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, path, size - 1);
    path[length > 0 ? length : 0] = '\0';
}

static int EndsWith(const char* text, const char* suffix)
{
    const size_t a = strlen(text), b = strlen(suffix);
    return a >= b && strcmp(text + a - b, suffix) == 0;
}

// The error this sync of path is to fail with, taken from the faults file; 0 for none. The
// file is locked while it is read and counted down, so processes and threads take turns.
static int TakeFault(const char* path)
{
    const char* faults = getenv("ENTRAVO_SYNC_FAULTS");
    if (!faults)
        return 0;
    const int file = open(faults, O_RDWR | O_CLOEXEC);
    if (file < 0)
        return 0;
    int error = 0;
    char text[256] = {0}, name[16] = {0}, suffix[200] = {0};
    int count = 0;
    flock(file, LOCK_EX);
    const ssize_t length = pread(file, text, sizeof text - 1, 0);
    if (length > 0 && sscanf(text, "%15s %d %199s", name, &count, suffix) == 3 && count > 0 && EndsWith(path, suffix)) {
        error = strcmp(name, "ENOSPC") == 0 ? ENOSPC : EIO;
        const int written = snprintf(text, sizeof text, "%s %d %s\n", name, count - 1, suffix);
        if (ftruncate(file, 0) != 0 || pwrite(file, text, (size_t)written, 0) != written)
            error = EIO;
    }
    flock(file, LOCK_UN);
    close(file);
    return error;
}

static void Note(const char* path, int error)
{
    const char* log = getenv("ENTRAVO_SYNC_LOG");
    if (!log)
        return;
    const int file = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (file < 0)
        return;
    char line[4200];
    const int length = snprintf(line, sizeof line, "%s %s\n", path, error == 0 ? "ok" : strerror(error));
    if (write(file, line, (size_t)length) != length) {
        // A note that cannot be written changes nothing of the sync itself.
    }
    close(file);
}

static int Sync(int fd, const char* name)
{
    char path[4096];
    PathOf(fd, path, sizeof path);
    const int fault = TakeFault(path);
    int result = -1;
    if (fault) {
        errno = fault;
    } else {
        const SyncFunction real = (SyncFunction)dlsym(RTLD_NEXT, name);
        result = real(fd);
    }
    const int error = result == 0 ? 0 : errno;
    Note(path, error);
    errno = error;
    return result;
}

int fsync(int fd)
{
    return Sync(fd, "fsync");
}

int fdatasync(int fd)
{
    return Sync(fd, "fdatasync");
}
