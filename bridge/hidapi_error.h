// HIDException with hidapi's own text for a failure beside the fixed message,
// through the exception's __jni_setHidapiError. That method is optional: a
// caller's own older HIDException simply goes without the text.
#pragma once

#include <jni.h>

#include "jni_resources.h"
#include "portula.h"
#include "utf16.h"

namespace portula {

inline void attach_hidapi_error(JNIEnv *env, const wchar_t *text) {
    if (text == nullptr || !env->ExceptionCheck()) {
        return;
    }
    LocalRef<jthrowable> pending(env, env->ExceptionOccurred());
    env->ExceptionClear();
    LocalRef<jclass> cls(env, env->GetObjectClass(pending.get()));
    const jmethodID set = env->GetMethodID(cls.get(), "__jni_setHidapiError", "(Ljava/lang/String;)V");
    if (set != nullptr) {
        Utf16 units(text);
        LocalRef<jstring> string(env, units ? env->NewString(reinterpret_cast<const jchar *>(units.data()),
                                                             static_cast<jsize>(units.size()))
                                            : nullptr);
        if (string) {
            env->CallVoidMethod(pending.get(), set, string.get());
        }
    }
    env->ExceptionClear();  // nothing here may take the exception's place
    env->Throw(pending.get());
}

}  // namespace portula

// PORTULA_THROW, then hidapi's text for device's last failure.
#define PORTULA_THROW_HIDAPI(env, function, message, device) \
    (PORTULA_THROW(env, function, message), portula::attach_hidapi_error((env), (device)->error()))
