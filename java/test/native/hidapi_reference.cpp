// Test-only JNI library: hidapi's own enumeration, through the hidapi copy
// that libportula exports, as raw values (names as UTF-32 code points) so the
// tests compare the bridge's conversion with an independent one; and the
// count of live handles, from libportula's own CHIDDevice.
#include <hidapi.h>
#include <jni.h>

#include <locale.h>

#include <clocale>
#include <cwchar>

#include "CHIDDevice.h"

namespace {
jintArray code_points(JNIEnv *env, const wchar_t *s) {
    if (s == nullptr) {
        return nullptr;
    }
    const jsize n = static_cast<jsize>(std::wcslen(s));
    jintArray a = env->NewIntArray(n);
    if (a != nullptr) {
        env->SetIntArrayRegion(a, 0, n, reinterpret_cast<const jint *>(s));
    }
    return a;
}
}  // namespace

// static native Object[][] enumerate(int vendorId, int productId):
// each row {String path, int[] {vendor, product}, int[] manufacturer, int[] product}
extern "C" JNIEXPORT jobjectArray JNICALL Java_com_orvanta_jni_HidapiReference_enumerate(
    JNIEnv *env, jclass, jint vendor_id, jint product_id) {
    // bare hidapi decodes names in the calling thread's locale: a UTF-8 one
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    const locale_t previous = uselocale(utf8);
    hid_device_info *list = hid_enumerate(static_cast<unsigned short>(vendor_id),
                                          static_cast<unsigned short>(product_id));
    uselocale(previous);
    jsize count = 0;
    for (hid_device_info *d = list; d != nullptr; d = d->next) {
        ++count;
    }
    jclass object = env->FindClass("java/lang/Object");
    jobjectArray rows = env->NewObjectArray(count, env->FindClass("[Ljava/lang/Object;"), nullptr);
    jsize i = 0;
    for (hid_device_info *d = list; d != nullptr; d = d->next, ++i) {
        jobjectArray row = env->NewObjectArray(4, object, nullptr);
        const jint ids[] = {d->vendor_id, d->product_id};
        jintArray id_array = env->NewIntArray(2);
        env->SetIntArrayRegion(id_array, 0, 2, ids);
        jobject cells[] = {d->path != nullptr ? env->NewStringUTF(d->path) : nullptr, id_array,
                           code_points(env, d->manufacturer_string),
                           code_points(env, d->product_string)};
        for (jsize c = 0; c < 4; ++c) {
            env->SetObjectArrayElement(row, c, cells[c]);
            if (env->ExceptionCheck()) {
                break;
            }
            env->DeleteLocalRef(cells[c]);
        }
        env->SetObjectArrayElement(rows, i, row);
        if (env->ExceptionCheck()) {
            break;
        }
        env->DeleteLocalRef(row);
    }
    hid_free_enumeration(list);
    return rows;
}

// static native int count() of com.orvanta.hid.LiveHandles: the CHIDDevice
// objects alive in the process, this one not counted.
extern "C" JNIEXPORT jint JNICALL Java_com_orvanta_hid_LiveHandles_count(JNIEnv *, jclass) {
    CHIDDevice probe;
    return probe.getRefCount() - 1;
}
