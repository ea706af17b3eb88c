/* Test-only preload for 32-bit builds: once armed, the next malloc of the
 * armed size on the arming thread comes from memory at 0x80000000 or above,
 * so that the CHIDDevice that _hid_init makes next has its address's top bit
 * set and its handle reaches Java negative. Ordinary heap objects of a
 * 32-bit JVM land below 2 GiB, and never show that case.
 *
 * Preloaded (before the emulator's libraries), and also loaded by the test
 * with System.load to bind the native method below. */
#define _GNU_SOURCE
#include <jni.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/mman.h>

extern void *__libc_malloc(size_t size);
extern void __libc_free(void *pointer);

#define BLOCK_SIZE 4096u

static __thread size_t armed_size;
static void *high_block;

static void *map_high(void)
{
    /* a hint, not MAP_FIXED: take the first free place at or above 2 GiB */
    for (uintptr_t hint = 0xA0000000u; hint < 0xF0000000u; hint += 0x01000000u) {
        void *block = mmap((void *) hint, BLOCK_SIZE, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED)
            continue;
        if ((uintptr_t) block >= 0x80000000u)
            return block;
        munmap(block, BLOCK_SIZE);
    }
    return NULL;
}

void *malloc(size_t size)
{
    if (armed_size != 0 && size == armed_size && high_block == NULL) {
        armed_size = 0;
        high_block = map_high();
        if (high_block != NULL)
            return high_block;
    }
    return __libc_malloc(size);
}

void free(void *pointer)
{
    if (pointer != NULL && pointer == high_block) {
        munmap(high_block, BLOCK_SIZE);
        high_block = NULL;
        return;
    }
    __libc_free(pointer);
}

/* static native void placeNextAllocationHigh(int size) of com.orvanta.jni.HighHandleProbe */
JNIEXPORT void JNICALL Java_com_orvanta_jni_HighHandleProbe_placeNextAllocationHigh(JNIEnv *env, jclass cls,
                                                                                     jint size)
{
    (void) env;
    (void) cls;
    armed_size = (size_t) size;
}
