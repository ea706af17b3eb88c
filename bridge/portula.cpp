// JNI entry points of com.orvanta.jni.HIDClassConnector, and _throwHIDExpcetion.
// Every failure leaves one HIDException pending and returns at once; what an
// entry point holds is released by its owner's destructor on the way out.
#include "portula.h"

#include <new>

#include "CHIDDevice.h"
#include "com_orvanta_jni_HIDClassConnector.h"
#include "device_records.h"
#include "handle.h"
#include "jni_resources.h"

using portula::ByteArrayElements;
using portula::DeviceRecords;
using portula::EnumerationList;
using portula::from_handle;
using portula::LocalRef;
using portula::ReadBuffer;
using portula::StringUTFChars;
using portula::to_handle;

void _throwHIDExpcetion(JNIEnv *env, const char *function, const char *file, int line,
                        const char *message) {
    if (env->ExceptionCheck()) {
        return;
    }
    LocalRef<jclass> cls(env, env->FindClass("com/orvanta/jni/exceptions/HIDException"));
    if (!cls) {
        return;
    }
    const jmethodID init = env->GetMethodID(cls.get(), "<init>", "(Ljava/lang/String;)V");
    if (init == nullptr) {
        return;
    }
    const jmethodID set_location = env->GetMethodID(
        cls.get(), "__jni_setLocation", "(Ljava/lang/String;Ljava/lang/String;I)V");
    if (set_location == nullptr) {
        return;
    }
    LocalRef<jstring> text(env, env->NewStringUTF(message));
    if (!text) {
        return;
    }
    LocalRef<jthrowable> exception(
        env, static_cast<jthrowable>(env->NewObject(cls.get(), init, text.get())));
    if (!exception) {
        return;
    }
    LocalRef<jstring> file_name(env, env->NewStringUTF(file));
    if (!file_name) {
        return;
    }
    LocalRef<jstring> function_name(env, env->NewStringUTF(function));
    if (!function_name) {
        return;
    }
    env->CallVoidMethod(exception.get(), set_location, function_name.get(), file_name.get(),
                        static_cast<jint>(line));
    if (env->ExceptionCheck()) {
        return;
    }
    env->Throw(exception.get());
}

// static native long _hid_init() throws HIDException
JNIEXPORT jlong JNICALL Java_com_orvanta_jni_HIDClassConnector__1hid_1init(JNIEnv *env, jclass) {
    CHIDDevice *device = nullptr;
    try {
        device = new CHIDDevice();
    } catch (const std::bad_alloc &e) {
        PORTULA_THROW(env, __func__, e.what());
        return 0;
    }
    if (device == nullptr) {
        PORTULA_THROW(env, __func__, "Unable to allocate memory.");
        return 0;
    }
    return to_handle(device);
}

// static native void _free(long handle)
JNIEXPORT void JNICALL Java_com_orvanta_jni_HIDClassConnector__1free(JNIEnv *, jclass,
                                                                     jlong handle) {
    delete from_handle(handle);
}

// static native void _hid_open(long handle, String path) throws HIDException
JNIEXPORT void JNICALL Java_com_orvanta_jni_HIDClassConnector__1hid_1open__JLjava_lang_String_2(
    JNIEnv *env, jclass, jlong handle, jstring path) {
    CHIDDevice *device = from_handle(handle);
    if (device == nullptr) {
        PORTULA_THROW(env, __func__, "Invalid handle passed.");
        return;
    }
    if (path == nullptr) {
        PORTULA_THROW(env, __func__, "Path is invalid.");
        return;
    }
    StringUTFChars chars(env, path);
    if (!chars) {
        env->ExceptionClear();  // the VM's OutOfMemoryError becomes our message
        PORTULA_THROW(env, __func__, "Path is invalid.");
        return;
    }
    if (device->open_device(chars.get()) == nullptr) {
        PORTULA_THROW(env, __func__, "requested device is unavailable.");
    }
}

// static native void _hid_open(long handle, int vendorId, int productId) throws HIDException
// Bound by its long name only: a short name would capture the path overload too.
JNIEXPORT void JNICALL Java_com_orvanta_jni_HIDClassConnector__1hid_1open__JII(
    JNIEnv *env, jclass, jlong handle, jint vendor_id, jint product_id) {
    static const char kName[] = "Java_com_orvanta_jni_HIDClassConnector__1hid_1open";
    CHIDDevice *device = from_handle(handle);
    if (device == nullptr) {
        PORTULA_THROW(env, kName, "Invalid handle passed.");
        return;
    }
    if (device->open_device(vendor_id, product_id) == nullptr) {
        PORTULA_THROW(env, kName, "requested device is unavailable.");
    }
}

// static native void _hid_close(long handle) throws HIDException
JNIEXPORT void JNICALL Java_com_orvanta_jni_HIDClassConnector__1hid_1close(JNIEnv *env, jclass,
                                                                           jlong handle) {
    CHIDDevice *device = from_handle(handle);
    if (device == nullptr) {
        PORTULA_THROW(env, __func__, "Invalid handle passed.");
        return;
    }
    device->close_device();
}

// static native void _hid_write(long handle, byte[] data) throws HIDException
JNIEXPORT void JNICALL Java_com_orvanta_jni_HIDClassConnector__1hid_1write(JNIEnv *env, jclass,
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
    ByteArrayElements elements(env, data);
    if (!elements) {
        env->ExceptionClear();
        PORTULA_THROW(env, __func__, "Unable to allocate memory.");
        return;
    }
    if (device->write(elements.bytes(), static_cast<size_t>(length)) < 0) {
        PORTULA_THROW(env, __func__, "Write to device failed.");
    }
}

// static native byte[] _hid_read(long handle, int length) throws HIDException
// The array has the requested length; bytes past the report are 0.
JNIEXPORT jbyteArray JNICALL Java_com_orvanta_jni_HIDClassConnector__1hid_1read(JNIEnv *env,
                                                                                jclass,
                                                                                jlong handle,
                                                                                jint length) {
    CHIDDevice *device = from_handle(handle);
    if (device == nullptr) {
        PORTULA_THROW(env, __func__, "Invalid handle passed.");
        return nullptr;
    }
    if (length < 0) {
        PORTULA_THROW(env, __func__, "Read length is invalid.");
        return nullptr;
    }
    // Made before reading, so that a length the VM cannot hold loses no report.
    LocalRef<jbyteArray> result(env, env->NewByteArray(length));
    if (!result) {
        env->ExceptionClear();  // the VM's OutOfMemoryError becomes our message
        PORTULA_THROW(env, __func__, "Unable to allocate memory.");
        return nullptr;
    }
    // At least one byte: hidraw's read of 0 bytes would drop every report and
    // wait for good, where 0 means one report waited for and nothing kept.
    const size_t size = length > 0 ? static_cast<size_t>(length) : 1;
    ReadBuffer buffer(size);
    if (!buffer) {
        PORTULA_THROW(env, __func__, "Unable to allocate memory.");
        return nullptr;
    }
    const int received = device->read(buffer.data(), size);
    if (received < 0) {
        PORTULA_THROW(env, __func__, "Read from device failed.");
        return nullptr;
    }
    if (received > 0) {
        const jsize count = received < length ? received : length;
        env->SetByteArrayRegion(result.get(), 0, count, reinterpret_cast<const jbyte *>(buffer.data()));
    }
    return result.release();
}

// static native HIDDevice[] _enumerateDevices(long handle, int vendorId, int productId)
//     throws HIDException
// A missing class or method, or a setter that throws, returns null with the
// VM's exception pending.
JNIEXPORT jobjectArray JNICALL Java_com_orvanta_jni_HIDClassConnector__1enumerateDevices(
    JNIEnv *env, jclass, jlong handle, jint vendor_id, jint product_id) {
    CHIDDevice *device = from_handle(handle);
    if (device == nullptr) {
        PORTULA_THROW(env, __func__, "Invalid handle passed.");
        return nullptr;
    }
    DeviceRecords records(env);
    if (!records.find()) {
        return nullptr;
    }
    EnumerationList list(*device, device->enumerate_devices(vendor_id, product_id));
    jsize count = 0;
    for (const hid_device_info *info = list.get(); info != nullptr; info = info->next) {
        ++count;
    }
    LocalRef<jobjectArray> result(env, env->NewObjectArray(count, records.type(), nullptr));
    DeviceRecords::Result made = result ? DeviceRecords::Result::ok : DeviceRecords::Result::no_memory;
    jsize index = 0;
    for (const hid_device_info *info = list.get(); info != nullptr && made == DeviceRecords::Result::ok;
         info = info->next, ++index) {
        jobject object = nullptr;
        made = records.make(*info, &object);
        LocalRef<jobject> element(env, object);  // one device's reference at a time
        if (element) {
            env->SetObjectArrayElement(result.get(), index, element.get());
        }
    }
    if (made == DeviceRecords::Result::no_memory) {
        env->ExceptionClear();
        PORTULA_THROW(env, __func__, "Unable to allocate memory.");
    }
    return made == DeviceRecords::Result::ok ? result.release() : nullptr;
}
