// JNI entry points of com.orvanta.jni.HIDNatives for what an open device says
// about itself: its strings, its record, its report descriptor, the kernel's
// own record of its node, and hidapi's text and errno for the last failure. Failures leave one HIDException pending and return at once.
#include <algorithm>
#include <cwchar>

#include "CHIDDevice.h"
#include "com_orvanta_jni_HIDNatives.h"
#include "device_records.h"
#include "handle.h"
#include "hidapi_error.h"
#include "jni_resources.h"
#include "portula.h"
#include "utf16.h"

using portula::DeviceRecords;
using portula::from_handle;
using portula::LocalRef;
using portula::StringUTFChars;
using portula::Utf16;

namespace {

// USB string descriptors hold at most 126 characters; a longer sysfs string is cut.
constexpr size_t kMaxString = 1024;
// The kernel's HID_MAX_DESCRIPTOR_SIZE.
constexpr size_t kMaxDescriptor = 4096;
// The kernel keeps a HID name of 128 bytes and a physical path of 64.
constexpr size_t kMaxRawText = 256;

// A wide string as a Java string; null with "Unable to allocate memory." raised.
jstring java_string(JNIEnv *env, const char *function, const wchar_t *text) {
    Utf16 units(text);
    jstring string = units ? env->NewString(reinterpret_cast<const jchar *>(units.data()),
                                            static_cast<jsize>(units.size()))
                           : nullptr;
    if (string == nullptr) {
        env->ExceptionClear();
        PORTULA_THROW(env, function, "Unable to allocate memory.");
    }
    return string;
}

using GetString = int (CHIDDevice::*)(wchar_t *, size_t);

jstring get_string(JNIEnv *env, const char *function, jlong handle, GetString get) {
    CHIDDevice *device = from_handle(handle);
    if (device == nullptr) {
        PORTULA_THROW(env, function, "Invalid handle passed.");
        return nullptr;
    }
    wchar_t text[kMaxString] = {};
    if ((device->*get)(text, kMaxString) < 0) {
        PORTULA_THROW_HIDAPI(env, function, "Device string is unavailable.", device);
        return nullptr;
    }
    text[kMaxString - 1] = 0;
    return java_string(env, function, text);
}

}  // namespace

// static native String _hid_get_manufacturer_string(long handle) throws HIDException
JNIEXPORT jstring JNICALL Java_com_orvanta_jni_HIDNatives__1hid_1get_1manufacturer_1string(JNIEnv *env, jclass,
                                                                                           jlong handle) {
    return get_string(env, __func__, handle, &CHIDDevice::get_manufacturer_string);
}

// static native String _hid_get_product_string(long handle) throws HIDException
JNIEXPORT jstring JNICALL Java_com_orvanta_jni_HIDNatives__1hid_1get_1product_1string(JNIEnv *env, jclass,
                                                                                      jlong handle) {
    return get_string(env, __func__, handle, &CHIDDevice::get_product_string);
}

// static native String _hid_get_serial_number_string(long handle) throws HIDException
JNIEXPORT jstring JNICALL Java_com_orvanta_jni_HIDNatives__1hid_1get_1serial_1number_1string(
    JNIEnv *env, jclass, jlong handle) {
    return get_string(env, __func__, handle, &CHIDDevice::get_serial_number_string);
}

// static native String _hid_get_indexed_string(long handle, int index) throws HIDException
JNIEXPORT jstring JNICALL Java_com_orvanta_jni_HIDNatives__1hid_1get_1indexed_1string(JNIEnv *env, jclass,
                                                                                      jlong handle,
                                                                                      jint index) {
    CHIDDevice *device = from_handle(handle);
    if (device == nullptr) {
        PORTULA_THROW(env, __func__, "Invalid handle passed.");
        return nullptr;
    }
    wchar_t text[kMaxString] = {};
    if (device->get_indexed_string(index, text, kMaxString) < 0) {
        PORTULA_THROW_HIDAPI(env, __func__, "Device string is unavailable.", device);
        return nullptr;
    }
    text[kMaxString - 1] = 0;
    return java_string(env, __func__, text);
}

// static native HIDDevice _hid_get_device_info(long handle) throws HIDException
// A missing HIDDevice class or method, or a setter that throws, returns null
// with the VM's exception pending.
JNIEXPORT jobject JNICALL Java_com_orvanta_jni_HIDNatives__1hid_1get_1device_1info(JNIEnv *env, jclass,
                                                                                   jlong handle) {
    CHIDDevice *device = from_handle(handle);
    if (device == nullptr) {
        PORTULA_THROW(env, __func__, "Invalid handle passed.");
        return nullptr;
    }
    DeviceRecords records(env);
    if (!records.find()) {
        return nullptr;
    }
    const hid_device_info *info = device->get_device_info();
    if (info == nullptr) {
        PORTULA_THROW_HIDAPI(env, __func__, "Device info is unavailable.", device);
        return nullptr;
    }
    jobject object = nullptr;
    if (records.make(*info, &object) == DeviceRecords::Result::no_memory) {
        env->ExceptionClear();
        PORTULA_THROW(env, __func__, "Unable to allocate memory.");
    }
    return object;
}

// static native String _hid_error(long handle) throws HIDException
JNIEXPORT jstring JNICALL Java_com_orvanta_jni_HIDNatives__1hid_1error(JNIEnv *env, jclass, jlong handle) {
    CHIDDevice *device = from_handle(handle);
    if (device == nullptr) {
        PORTULA_THROW(env, __func__, "Invalid handle passed.");
        return nullptr;
    }
    const wchar_t *text = device->error();
    return java_string(env, __func__, text != nullptr ? text : L"");
}

// static native int _hid_errno(long handle) throws HIDException
JNIEXPORT jint JNICALL Java_com_orvanta_jni_HIDNatives__1hid_1errno(JNIEnv *env, jclass, jlong handle) {
    CHIDDevice *device = from_handle(handle);
    if (device == nullptr) {
        PORTULA_THROW(env, __func__, "Invalid handle passed.");
        return 0;
    }
    return device->error_number();
}

// static native byte[] _hid_get_report_descriptor(long handle, String path) throws HIDException
// The report descriptor of the hidraw node at path, from sysfs; the handle
// keeps the failure's errno.
JNIEXPORT jbyteArray JNICALL Java_com_orvanta_jni_HIDNatives__1hid_1get_1report_1descriptor(JNIEnv *env, jclass,
                                                                                           jlong handle,
                                                                                           jstring path) {
    CHIDDevice *device = from_handle(handle);
    if (device == nullptr) {
        PORTULA_THROW(env, __func__, "Invalid handle passed.");
        return nullptr;
    }
    if (path == nullptr) {
        PORTULA_THROW(env, __func__, "Path is invalid.");
        return nullptr;
    }
    StringUTFChars chars(env, path);
    if (!chars) {
        env->ExceptionClear();  // the VM's OutOfMemoryError becomes our message
        PORTULA_THROW(env, __func__, "Path is invalid.");
        return nullptr;
    }
    unsigned char descriptor[kMaxDescriptor];
    const int length = device->get_report_descriptor(chars.get(), descriptor, sizeof descriptor);
    if (length < 0) {
        PORTULA_THROW(env, __func__, "Report descriptor is unavailable.");
        return nullptr;
    }
    LocalRef<jbyteArray> result(env, env->NewByteArray(length));
    if (!result) {
        env->ExceptionClear();
        PORTULA_THROW(env, __func__, "Unable to allocate memory.");
        return nullptr;
    }
    env->SetByteArrayRegion(result.get(), 0, length, reinterpret_cast<const jbyte *>(descriptor));
    return result.release();
}

// static native int[] _hid_get_raw_info(long handle, String path, byte[] name, byte[] phys) throws HIDException
// The kernel's record of the hidraw node at path, from its ioctls: name and
// phys receive NUL-terminated text, cut to fit (at most 256 bytes of each
// array are written); the handle keeps the failure's errno.
JNIEXPORT jintArray JNICALL Java_com_orvanta_jni_HIDNatives__1hid_1get_1raw_1info(JNIEnv *env, jclass, jlong handle,
                                                                                 jstring path, jbyteArray name,
                                                                                 jbyteArray phys) {
    CHIDDevice *device = from_handle(handle);
    if (device == nullptr) {
        PORTULA_THROW(env, __func__, "Invalid handle passed.");
        return nullptr;
    }
    if (path == nullptr) {
        PORTULA_THROW(env, __func__, "Path is invalid.");
        return nullptr;
    }
    if (name == nullptr || phys == nullptr || env->GetArrayLength(name) < 2 || env->GetArrayLength(phys) < 2) {
        PORTULA_THROW(env, __func__, "Buffer is invalid.");
        return nullptr;
    }
    StringUTFChars chars(env, path);
    if (!chars) {
        env->ExceptionClear();  // the VM's OutOfMemoryError becomes our message
        PORTULA_THROW(env, __func__, "Path is invalid.");
        return nullptr;
    }
    const size_t name_size = std::min(static_cast<size_t>(env->GetArrayLength(name)), kMaxRawText);
    const size_t phys_size = std::min(static_cast<size_t>(env->GetArrayLength(phys)), kMaxRawText);
    char name_text[kMaxRawText];
    char phys_text[kMaxRawText];
    jint ids[3];
    if (device->get_raw_info(chars.get(), name_text, name_size, phys_text, phys_size, &ids[0], &ids[1], &ids[2]) <
        0) {
        PORTULA_THROW(env, __func__, "Raw device info is unavailable.");
        return nullptr;
    }
    LocalRef<jintArray> result(env, env->NewIntArray(3));
    if (!result) {
        env->ExceptionClear();
        PORTULA_THROW(env, __func__, "Unable to allocate memory.");
        return nullptr;
    }
    env->SetIntArrayRegion(result.get(), 0, 3, ids);
    env->SetByteArrayRegion(name, 0, static_cast<jsize>(name_size), reinterpret_cast<const jbyte *>(name_text));
    env->SetByteArrayRegion(phys, 0, static_cast<jsize>(phys_size), reinterpret_cast<const jbyte *>(phys_text));
    return result.release();
}
