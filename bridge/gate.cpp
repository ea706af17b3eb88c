// JNI entry points of com.orvanta.jni.HIDNatives for the biased read gate.
// Its owner marks a read in flight with a plain store and checks the epoch
// with no fence; moving the epoch runs a full barrier on every thread of the
// process (membarrier), so that afterwards either the owner sees the new
// epoch, or the mover sees the owner's mark and waits for it.
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "com_orvanta_jni_HIDNatives.h"
#include "gate.h"

std::atomic<int64_t> portula::g_gate_epoch{0};

namespace {

// 1 once this process may use the expedited barrier, -1 if it may not.
std::atomic<int> g_barrier{0};

long membarrier(int command) {
#ifdef __NR_membarrier
    return syscall(__NR_membarrier, command, 0);
#else
    (void)command;
    return -1;
#endif
}

bool barrier_ready() {
    int ready = g_barrier.load(std::memory_order_acquire);
    if (ready == 0) {
        ready = membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0 &&
                        membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0
                    ? 1
                    : -1;
        g_barrier.store(ready, std::memory_order_release);
    }
    return ready == 1;
}

}  // namespace

// static native long _gate_epoch()
// The epoch now, or -1 when the heavy barrier is not to be had (an old
// kernel, a sandbox, an emulator without it): then no read may be biased.
JNIEXPORT jlong JNICALL Java_com_orvanta_jni_HIDNatives__1gate_1epoch(JNIEnv *, jclass) {
    if (!barrier_ready()) {
        return -1;
    }
    return portula::g_gate_epoch.load(std::memory_order_seq_cst);
}

// static native void _gate_advance()
// Moves the epoch, then waits until every thread has run a full barrier.
JNIEXPORT void JNICALL Java_com_orvanta_jni_HIDNatives__1gate_1advance(JNIEnv *, jclass) {
    portula::g_gate_epoch.fetch_add(1, std::memory_order_seq_cst);
    if (!barrier_ready() || membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED) != 0) {
        // Registered, the expedited barrier cannot fail; the global one
        // stands in all the same, slower.
        membarrier(MEMBARRIER_CMD_GLOBAL);
    }
}
