// JNI entry points of com.orvanta.jni.HIDNatives for reports: reads with a
// time limit into a caller's array, and their wake; feature reports both ways,
// input reports on request. Failures leave one HIDException pending, with
// hidapi's text where it has one, and return at once.
#include <cstddef>

#include "CHIDDevice.h"
#include "com_orvanta_jni_HIDNatives.h"
#include "handle.h"
#include "hidapi_error.h"
#include "jni_resources.h"
#include "portula.h"

using portula::ByteArrayElements;
using portula::from_handle;
using portula::LocalRef;

namespace {

// hidraw's largest report (HID_MAX_BUFFER_SIZE), report ID included.
constexpr jint kMaxReport = 16384;
// A feature or input report request goes as an ioctl whose 14-bit size
// field holds at most this: hidapi passes a larger length on, corrupting the
// request's number.
constexpr jint kMaxRequest = (1 << 14) - 1;

using GetReport = int (CHIDDevice::*)(unsigned char *, size_t);

// A feature or input report asked for by ID: what the device sent, report ID first.
jbyteArray get_report(JNIEnv *env, const char *function, jlong handle, jint report_id, jint max_length,
                      GetReport get, const char *failed) {
    CHIDDevice *device = from_handle(handle);
    if (device == nullptr) {
        PORTULA_THROW(env, function, "Invalid handle passed.");
        return nullptr;
    }
    if (report_id < 0 || report_id > 255) {
        PORTULA_THROW(env, function, "Report ID is invalid.");
        return nullptr;
    }
    if (max_length < 1 || max_length > kMaxRequest) {
        PORTULA_THROW(env, function, "Report length is invalid.");
        return nullptr;
    }
    unsigned char report[kMaxReport];
    report[0] = static_cast<unsigned char>(report_id);
    const int received = (device->*get)(report, static_cast<size_t>(max_length));
    if (received < 0) {
        PORTULA_THROW_HIDAPI(env, function, failed, device);
        return nullptr;
    }
    LocalRef<jbyteArray> result(env, env->NewByteArray(received));
    if (!result) {
        env->ExceptionClear();
        PORTULA_THROW(env, function, "Unable to allocate memory.");
        return nullptr;
    }
    env->SetByteArrayRegion(result.get(), 0, received, reinterpret_cast<const jbyte *>(report));
    return result.release();
}

}  // namespace

// private static native int _hid_read_timeout0(long handle, byte[] buffer, int offset,
//     int length, int timeoutMillis) throws HIDException
// The bytes received into buffer from offset, or 0 when the time ran out or
// _hid_wake ended the wait; a timeout below 0 waits until a report comes.
// Java has checked the bounds, and passes null for a buffer they do not fit.
JNIEXPORT jint JNICALL Java_com_orvanta_jni_HIDNatives__1hid_1read_1timeout0(JNIEnv *env, jclass, jlong handle,
                                                                             jbyteArray buffer, jint offset,
                                                                             jint length, jint timeout) {
    CHIDDevice *device = from_handle(handle);
    if (device == nullptr) {
        PORTULA_THROW(env, __func__, "Invalid handle passed.");
        return 0;
    }
    if (buffer == nullptr || offset < 0 || length <= 0) {  // hidraw's read of 0 bytes drops reports and waits
        PORTULA_THROW(env, __func__, "Buffer is invalid.");
        return 0;
    }
    unsigned char report[kMaxReport];
    const int received = device->read_timeout(report, static_cast<size_t>(length < kMaxReport ? length : kMaxReport),
                                              timeout);
    if (received < 0) {
        PORTULA_THROW_HIDAPI(env, __func__, "Read from device failed.", device);
        return 0;
    }
    env->SetByteArrayRegion(buffer, offset, received, reinterpret_cast<const jbyte *>(report));
    return received;
}

// static native void _hid_wake(long handle)
// Ends the handle's read under way as if its time ran out, or its next one.
JNIEXPORT void JNICALL Java_com_orvanta_jni_HIDNatives__1hid_1wake(JNIEnv *, jclass, jlong handle) {
    if (CHIDDevice *device = from_handle(handle)) {
        device->wake();
    }
}

// static native boolean _hid_wake_works(long handle)
JNIEXPORT jboolean JNICALL Java_com_orvanta_jni_HIDNatives__1hid_1wake_1works(JNIEnv *, jclass, jlong handle) {
    CHIDDevice *device = from_handle(handle);
    return device != nullptr && device->wakeable() ? JNI_TRUE : JNI_FALSE;
}

// static native void _hid_send_feature_report(long handle, byte[] data) throws HIDException
// data[0] is the report ID (0 for a device without numbered reports).
JNIEXPORT void JNICALL Java_com_orvanta_jni_HIDNatives__1hid_1send_1feature_1report(JNIEnv *env, jclass,
                                                                                    jlong handle,
                                                                                    jbyteArray data) {
    CHIDDevice *device = from_handle(handle);
    if (device == nullptr) {
        PORTULA_THROW(env, __func__, "Invalid handle passed.");
        return;
    }
    const jsize length = data == nullptr ? 0 : env->GetArrayLength(data);
    if (length == 0) {
        PORTULA_THROW(env, __func__, "No data to write.");
        return;
    }
    if (length > kMaxRequest) {
        PORTULA_THROW(env, __func__, "Report length is invalid.");
        return;
    }
    ByteArrayElements elements(env, data);
    if (!elements) {
        env->ExceptionClear();
        PORTULA_THROW(env, __func__, "Unable to allocate memory.");
        return;
    }
    if (device->send_feature_report(elements.bytes(), static_cast<size_t>(length)) < 0) {
        PORTULA_THROW_HIDAPI(env, __func__, "Send feature report failed.", device);
    }
}

// static native byte[] _hid_get_feature_report(long handle, int reportId, int maxLength)
//     throws HIDException
JNIEXPORT jbyteArray JNICALL Java_com_orvanta_jni_HIDNatives__1hid_1get_1feature_1report(
    JNIEnv *env, jclass, jlong handle, jint report_id, jint max_length) {
    return get_report(env, __func__, handle, report_id, max_length, &CHIDDevice::get_feature_report,
                      "Get feature report failed.");
}

// static native byte[] _hid_get_input_report(long handle, int reportId, int maxLength)
//     throws HIDException
JNIEXPORT jbyteArray JNICALL Java_com_orvanta_jni_HIDNatives__1hid_1get_1input_1report(
    JNIEnv *env, jclass, jlong handle, jint report_id, jint max_length) {
    return get_report(env, __func__, handle, report_id, max_length, &CHIDDevice::get_input_report,
                      "Get input report failed.");
}
