// Raising HIDException from native code.
#pragma once

#include <jni.h>

// Leaves a com.orvanta.jni.exceptions.HIDException pending in the calling
// thread, carrying the message and the native location. When the class or one
// of its methods cannot be found, or an exception is already pending, the
// VM's pending error stays as it is.
__attribute__((visibility("default"))) void _throwHIDExpcetion(JNIEnv *env, const char *function,
                                                               const char *file, int line,
                                                               const char *message);

namespace portula {
// The bare file name, whatever path the build passed to the compiler.
constexpr const char *base_name(const char *path) {
    const char *name = path;
    for (const char *p = path; *p != 0; ++p) {
        if (*p == '/') {
            name = p + 1;
        }
    }
    return name;
}
}  // namespace portula

#define PORTULA_THROW(env, function, message) \
    _throwHIDExpcetion((env), (function), portula::base_name(__FILE__), __LINE__, (message))
