// A handle is the address of a CHIDDevice in a Java long. In the 32-bit build
// the address is sign-extended on the way out, and only its low 32 bits are
// read on the way in, so a long whose low 32 bits are 0 is no handle.
#pragma once

#include <cstdint>

#include <jni.h>

class CHIDDevice;

namespace portula {

// The same rule serves every object Java holds by address (CHIDMonitor too).
template <typename T>
jlong to_handle(T *object) {
    // intptr_t is 32 bits wide in the 32-bit build: widening sign-extends.
    return static_cast<jlong>(reinterpret_cast<intptr_t>(object));
}

template <typename T = CHIDDevice>
T *from_handle(jlong handle) {
    // Conversion to a 32-bit uintptr_t keeps the low 32 bits.
    return reinterpret_cast<T *>(static_cast<uintptr_t>(handle));
}

}  // namespace portula
