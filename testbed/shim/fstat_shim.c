/* Preloaded before libumockdev-preload. umockdev 0.17 redirects stat() but
 * not fstat(), so an open emulated node looks like the FIFO behind it and
 * hidapi's string getters (fstat, then /sys/dev/char/MAJ:MIN) fail. For fds
 * on $UMOCKDEV_DIR/dev/<name> this reports S_IFCHR with the major:minor that
 * umockdev keeps in $UMOCKDEV_DIR/dev/.node/<name>.
 *
 * hidapi calls fstat() and libudev fstat64(); on i386 the two take different
 * structs, so each is wrapped with its own type. Both libraries are built
 * against glibc >= 2.33, which exports fstat and fstat64 directly; but
 * libportula's hidapi goes through the old __fxstat (bridge/glibc_compat.c),
 * so that is wrapped too.
 *
 * umockdev's fstatfs() maps the fd to a path in static buffers, unlocked:
 * two threads at once (a watch's thread listing a device while the test
 * plugs the next one) can garble both, libudev then takes the mocked /sys
 * for some other file system and a uevent is never sent. This shim, ahead
 * of it, lets one call in at a time.
 *
 * poll() reports a node whose device was unplugged as hidraw does: at once,
 * with POLLERR | POLLHUP. The emulator unlinks such a node before it wakes
 * the pollers. */
#define _GNU_SOURCE
#include <pthread.h>
#include <dlfcn.h>
#include <poll.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "old_glibc.h"

#ifdef __USE_FILE_OFFSET64
#error "build without _FILE_OFFSET_BITS=64: fstat and fstat64 must stay distinct"
#endif

typedef int (*fstat_fn)(int, struct stat *);
typedef int (*fstat64_fn)(int, struct stat64 *);
typedef int (*fxstat_fn)(int, int, struct stat *);
typedef int (*fstatfs_fn)(int, struct statfs *);
typedef int (*fstatfs64_fn)(int, struct statfs64 *);
typedef int (*poll_fn)(struct pollfd *, nfds_t, int);

/* Looked up on first use: another preload's constructor may call fstat
 * before ours would run. */
static void *next_symbol(void **slot, const char *name, const char *version)
{
    void *fn = __atomic_load_n(slot, __ATOMIC_ACQUIRE);
    if (!fn) {
        fn = version ? dlvsym(RTLD_NEXT, name, version) : dlsym(RTLD_NEXT, name);
        __atomic_store_n(slot, fn, __ATOMIC_RELEASE);
    }
    return fn;
}

/* What fd is open on (a path, or "socket:[N]" and the like), or 0. */
static int fd_target(int fd, char *target, size_t size)
{
    char fd_link[64];
    if (fd < 0)
        return 0;
    snprintf(fd_link, sizeof fd_link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(fd_link, target, size - 1);
    if (length <= 0)
        return 0;
    target[length] = '\0';
    return 1;
}

/* The emulator's root when target lies in its dev/, else 0. Asked last: the
 * emulator sets and unsets UMOCKDEV_DIR, and a getenv() meanwhile on another
 * thread (GLib's, polling all the time) may read a freed environment. */
static const char *emulated_root(const char *target)
{
    if (target[0] != '/' || !strstr(target + 1, "/dev/"))
        return 0;
    const char *root = getenv("UMOCKDEV_DIR");
    size_t root_length = root ? strlen(root) : 0;
    return root && strncmp(target, root, root_length) == 0 && strncmp(target + root_length, "/dev/", 5) == 0
               ? root : 0;
}

/* Whether fd is an emulated node, and an unlinked one: its device was unplugged. */
static int unplugged_node(int fd)
{
    static const char deleted[] = " (deleted)";
    char target[PATH_MAX];
    if (!fd_target(fd, target, sizeof target))
        return 0;
    size_t length = strlen(target);
    return length > sizeof deleted - 1 && strcmp(target + length - (sizeof deleted - 1), deleted) == 0 &&
           emulated_root(target);
}

/* The emulated node's major:minor, or 0 when fd is not one. */
static int emulated_devnum(int fd, unsigned *major_out, unsigned *minor_out)
{
    char target[PATH_MAX], info[PATH_MAX], devnum[32];
    if (!fd_target(fd, target, sizeof target))
        return 0;
    const char *root = emulated_root(target);
    if (!root)
        return 0;
    size_t root_length = strlen(root);
    ssize_t length;
    /* umockdev names the info link after the node, '/' turned into '_' */
    int used = snprintf(info, sizeof info, "%s/dev/.node/", root);
    if (used < 0 || (size_t) used >= sizeof info)
        return 0;
    for (const char *c = target + root_length + 5; *c && (size_t) used < sizeof info - 1; c++)
        info[used++] = *c == '/' ? '_' : *c;
    info[used] = '\0';
    length = readlink(info, devnum, sizeof devnum - 1);
    if (length <= 0)
        return 0;
    devnum[length] = '\0';
    return sscanf(devnum, "%u:%u", major_out, minor_out) == 2;
}

static void fix_up(int fd, mode_t *mode, dev_t *rdev)
{
    if (!(S_ISFIFO(*mode) || S_ISREG(*mode)))
        return;
    int saved_errno = errno;
    unsigned major_number, minor_number;
    if (emulated_devnum(fd, &major_number, &minor_number)) {
        *mode = S_IFCHR | (*mode & 07777);
        *rdev = makedev(major_number, minor_number);
    }
    errno = saved_errno;
}

int fstat(int fd, struct stat *buf)
{
    static void *real;
    fstat_fn next = (fstat_fn) next_symbol(&real, "fstat", NULL);
    if (!next) {
        errno = ENOSYS;
        return -1;
    }
    int result = next(fd, buf);
    if (result == 0)
        fix_up(fd, &buf->st_mode, &buf->st_rdev);
    return result;
}

int fstat64(int fd, struct stat64 *buf)
{
    static void *real;
    fstat64_fn next = (fstat64_fn) next_symbol(&real, "fstat64", NULL);
    if (!next) {
        errno = ENOSYS;
        return -1;
    }
    int result = next(fd, buf);
    if (result == 0)
        fix_up(fd, &buf->st_mode, &buf->st_rdev);
    return result;
}

/* Unversioned, so it also serves callers bound to __fxstat@<first version>;
 * glibc has that one only as an old version, which dlsym does not see. */
int __fxstat(int version, int fd, struct stat *buf)
{
    static void *real;
    fxstat_fn next = (fxstat_fn) next_symbol(&real, "__fxstat", PORTULA_GLIBC_BASE);
    if (!next) {
        errno = ENOSYS;
        return -1;
    }
    int result = next(version, fd, buf);
    if (result == 0)
        fix_up(fd, &buf->st_mode, &buf->st_rdev);
    return result;
}

static pthread_mutex_t fstatfs_lock = PTHREAD_MUTEX_INITIALIZER;

int fstatfs(int fd, struct statfs *buf)
{
    static void *real;
    fstatfs_fn next = (fstatfs_fn) next_symbol(&real, "fstatfs", NULL);
    if (!next) {
        errno = ENOSYS;
        return -1;
    }
    pthread_mutex_lock(&fstatfs_lock);
    int result = next(fd, buf);
    pthread_mutex_unlock(&fstatfs_lock);
    return result;
}

int fstatfs64(int fd, struct statfs64 *buf)
{
    static void *real;
    fstatfs64_fn next = (fstatfs64_fn) next_symbol(&real, "fstatfs64", NULL);
    if (!next) {
        errno = ENOSYS;
        return -1;
    }
    pthread_mutex_lock(&fstatfs_lock);
    int result = next(fd, buf);
    pthread_mutex_unlock(&fstatfs_lock);
    return result;
}

int poll(struct pollfd *fds, nfds_t count, int timeout)
{
    static void *real;
    poll_fn next = (poll_fn) next_symbol(&real, "poll", NULL);
    if (!next) {
        errno = ENOSYS;
        return -1;
    }
    int saved_errno = errno;
    int hung_up = 0;
    for (nfds_t i = 0; i < count; i++)
        hung_up |= unplugged_node(fds[i].fd);
    errno = saved_errno;
    int ready = next(fds, count, hung_up ? 0 : timeout);
    if (ready < 0)
        return ready;
    saved_errno = errno;
    ready = 0;
    for (nfds_t i = 0; i < count; i++) {
        /* a poller the unplug woke sees the doorbell: look again */
        if ((hung_up || fds[i].revents) && unplugged_node(fds[i].fd))
            fds[i].revents |= POLLERR | POLLHUP;
        ready += fds[i].revents != 0;
    }
    errno = saved_errno;
    return ready;
}
