// The process-wide epoch of com.orvanta.hid's biased read gate: a read that
// armed with an epoch goes to its device only while the epoch is still that.
#pragma once

#include <atomic>
#include <cstdint>

#include <jni.h>

namespace portula {

extern std::atomic<int64_t> g_gate_epoch;
static_assert(std::atomic<int64_t>::is_always_lock_free, "the epoch is read on every owner's read");

// Call after the caller has marked its read in flight. A compiler barrier
// only: whoever moves the epoch pays for the fence, on every thread at once.
inline bool gate_still(jlong epoch) {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    const bool same = g_gate_epoch.load(std::memory_order_relaxed) == epoch;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    return same;
}

}  // namespace portula
