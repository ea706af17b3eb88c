// JNI entry points of com.orvanta.jni.HIDNatives for hot-plug: a udev monitor
// of hidraw devices that the Java side waits on from a thread of its own, and
// wakes for closing. Failures leave one HIDException pending and return at once.
#include <cstdio>
#include <new>
#include <vector>

#include "CHIDMonitor.h"
#include "com_orvanta_jni_HIDNatives.h"
#include "handle.h"
#include "jni_resources.h"
#include "portula.h"

using portula::from_handle;
using portula::LocalRef;
using portula::to_handle;

// static native long _monitor_open() throws HIDException
JNIEXPORT jlong JNICALL Java_com_orvanta_jni_HIDNatives__1monitor_1open(JNIEnv *env, jclass) {
    CHIDMonitor *monitor = new (std::nothrow) CHIDMonitor();
    if (monitor == nullptr) {
        PORTULA_THROW(env, __func__, "Unable to allocate memory.");
        return 0;
    }
    if (!monitor->ok()) {
        delete monitor;
        PORTULA_THROW(env, __func__, "Unable to watch for devices.");
        return 0;
    }
    return to_handle(monitor);
}

// static native String[] _monitor_wait(long monitor, int timeoutMillis) throws HIDException
// Three strings an event: "add" or "remove", the device node ("" if none),
// "VVVV:PPPP" ("" where unknown). Empty when the time ran out; null once woken.
JNIEXPORT jobjectArray JNICALL Java_com_orvanta_jni_HIDNatives__1monitor_1wait(JNIEnv *env, jclass, jlong handle,
                                                                               jint timeout) {
    CHIDMonitor *monitor = from_handle<CHIDMonitor>(handle);
    if (monitor == nullptr) {
        PORTULA_THROW(env, __func__, "Invalid handle passed.");
        return nullptr;
    }
    std::vector<CHIDMonitor::Event> events;
    if (monitor->wait(timeout, events) < 0) {
        return nullptr;
    }
    LocalRef<jclass> string_class(env, env->FindClass("java/lang/String"));
    LocalRef<jobjectArray> result(
        env, string_class ? env->NewObjectArray(static_cast<jsize>(3 * events.size()), string_class.get(), nullptr)
                          : nullptr);
    jsize index = 0;
    for (const CHIDMonitor::Event &event : events) {
        char ids[16] = "";
        if (event.vendor_id >= 0) {
            std::snprintf(ids, sizeof ids, "%04x:%04x", event.vendor_id, event.product_id);
        }
        for (const char *text : {event.added ? "add" : "remove", event.devnode.c_str(), static_cast<const char *>(ids)}) {
            LocalRef<jstring> string(env, result ? env->NewStringUTF(text) : nullptr);
            if (!string) {
                env->ExceptionClear();
                PORTULA_THROW(env, __func__, "Unable to allocate memory.");
                return nullptr;
            }
            env->SetObjectArrayElement(result.get(), index++, string.get());
        }
    }
    if (!result) {
        env->ExceptionClear();
        PORTULA_THROW(env, __func__, "Unable to allocate memory.");
        return nullptr;
    }
    return result.release();
}

// static native void _monitor_wake(long monitor)
// Ends the current and every later _monitor_wait; from any thread.
JNIEXPORT void JNICALL Java_com_orvanta_jni_HIDNatives__1monitor_1wake(JNIEnv *, jclass, jlong handle) {
    if (CHIDMonitor *monitor = from_handle<CHIDMonitor>(handle)) {
        monitor->wake();
    }
}

// static native void _monitor_close(long monitor)
// Once no thread waits on it any more.
JNIEXPORT void JNICALL Java_com_orvanta_jni_HIDNatives__1monitor_1close(JNIEnv *, jclass, jlong handle) {
    delete from_handle<CHIDMonitor>(handle);
}
