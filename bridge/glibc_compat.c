/* The library must load with glibc 2.17 (aarch64's first). Linked against
 * glibc 2.36, the hidapi archive and the static C++ runtime would bind a few
 * calls to versions made since; this file gives each an older road, hidden
 * and so bound only within the library:
 *   fstat, stat            the hidapi archive and CHIDDevice; their GLIBC_2.33
 *                          versions came in as the header inlines over
 *                          __fxstat and __xstat went
 *   pthread_once, __pthread_key_create   libstdc++'s thread checks, moved to
 *                          libc (GLIBC_2.34): their old versions (--wrap)
 *   _dl_find_object        the unwinder's FDE lookup (GLIBC_2.35): the same
 *                          answer from dl_iterate_phdr
 *   __libc_single_threaded libstdc++'s shortcut (GLIBC_2.32): ours says
 *                          "never", which in a JVM is the truth
 *   getentropy, arc4random std::random_device (GLIBC_2.25, 2.36), which the
 *                          runtime's string helpers bring in and the library
 *                          never uses: the getrandom system call itself */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <link.h>
#include <pthread.h>
#include <stdint.h>
#include <string.h>
#include <errno.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "old_glibc.h"

#if defined(__USE_FILE_OFFSET64) || defined(__USE_TIME_BITS64)
#error "hidapi's fstat takes the plain struct stat: build without _FILE_OFFSET_BITS=64"
#endif

#define HIDDEN __attribute__((visibility("hidden")))

extern int __fxstat(int version, int fd, struct stat *buf);
__asm__(".symver __fxstat,__fxstat@" PORTULA_GLIBC_BASE);

HIDDEN int fstat(int fd, struct stat *buf)
{
    return __fxstat(PORTULA_STAT_VERSION, fd, buf);
}

/* Not beside AddressSanitizer, whose runtime defines stat too: GNU ld then
 * writes a corrupt dynamic symbol for it. Sanitizer builds are not shipped. */
#ifndef __SANITIZE_ADDRESS__
extern int __xstat(int version, const char *path, struct stat *buf);
__asm__(".symver __xstat,__xstat@" PORTULA_GLIBC_BASE);

HIDDEN int stat(const char *path, struct stat *buf)
{
    return __xstat(PORTULA_STAT_VERSION, path, buf);
}
#endif

extern int portula_old_pthread_once(pthread_once_t *once, void (*init)(void));
extern int portula_old_pthread_key_create(pthread_key_t *key, void (*destructor)(void *));
__asm__(".symver portula_old_pthread_once,pthread_once@" PORTULA_GLIBC_BASE);
__asm__(".symver portula_old_pthread_key_create,__pthread_key_create@" PORTULA_GLIBC_BASE);

HIDDEN int __wrap_pthread_once(pthread_once_t *once, void (*init)(void))
{
    return portula_old_pthread_once(once, init);
}

HIDDEN int __wrap___pthread_key_create(pthread_key_t *key, void (*destructor)(void *))
{
    return portula_old_pthread_key_create(key, destructor);
}

HIDDEN char __libc_single_threaded = 0;

struct lookup {
    uintptr_t pc;
    struct dl_find_object *result;
};

/* What glibc's _dl_find_object reports, for the loaded object holding pc. */
static int find_object(struct dl_phdr_info *info, size_t size, void *data)
{
    (void) size;
    struct lookup *lookup = data;
    const ElfW(Phdr) *eh = NULL;
    const ElfW(Phdr) *dynamic = NULL;
    uintptr_t start = UINTPTR_MAX, end = 0;
    int holds = 0;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; i++) {
        const ElfW(Phdr) *phdr = &info->dlpi_phdr[i];
        if (phdr->p_type == PT_LOAD) {
            uintptr_t from = info->dlpi_addr + phdr->p_vaddr, to = from + phdr->p_memsz;
            start = from < start ? from : start;
            end = to > end ? to : end;
            holds |= lookup->pc >= from && lookup->pc < to;
        } else if (phdr->p_type == DLFO_EH_SEGMENT_TYPE) {
            eh = phdr;
        } else if (phdr->p_type == PT_DYNAMIC) {
            dynamic = phdr;
        }
    }
    if (!holds)
        return 0;
    struct dl_find_object *result = lookup->result;
    memset(result, 0, sizeof *result);
    result->dlfo_map_start = (void *) start;
    result->dlfo_map_end = (void *) end;
    result->dlfo_eh_frame = eh ? (void *) (info->dlpi_addr + eh->p_vaddr) : NULL;
#if DLFO_STRUCT_HAS_EH_COUNT
    result->dlfo_eh_count = eh ? (int) (eh->p_memsz / 8) : 0;   /* PT_ARM_EXIDX: 8-byte entries */
#endif
#if DLFO_STRUCT_HAS_EH_DBASE
    /* the GOT, as the unwinder's own dl_iterate_phdr path finds it; ld.so
     * has already relocated the dynamic section in place */
    if (dynamic) {
        for (const ElfW(Dyn) *dyn = (const ElfW(Dyn) *) (info->dlpi_addr + dynamic->p_vaddr);
             dyn->d_tag != DT_NULL; dyn++) {
            if (dyn->d_tag == DT_PLTGOT)
                result->dlfo_eh_dbase = (void *) dyn->d_un.d_ptr;
        }
    }
#else
    (void) dynamic;
#endif
    return 1;
}

HIDDEN int _dl_find_object(void *pc, struct dl_find_object *result)
{
    struct lookup lookup = {(uintptr_t) pc, result};
    return dl_iterate_phdr(find_object, &lookup) ? 0 : -1;
}

HIDDEN int getentropy(void *buffer, size_t length)
{
    if (length > 256) {
        errno = EIO;
        return -1;
    }
    for (size_t done = 0; done < length;) {
        long got = syscall(SYS_getrandom, (char *) buffer + done, length - done, 0);
        if (got < 0 && errno != EINTR)
            return -1;
        done += got > 0 ? (size_t) got : 0;
    }
    return 0;
}

HIDDEN uint32_t arc4random(void)
{
    uint32_t value = 0;
    (void) getentropy(&value, sizeof value);
    return value;
}
