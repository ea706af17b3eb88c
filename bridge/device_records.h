// Java HIDDevice objects made from hidapi's records, for the enumeration and
// for an open device's own record. The constructor and the five setters every
// HIDDevice has are required. The later ones are looked up optionally: a
// caller that ships its own older HIDDevice is simply not given those fields.
#pragma once

#include <jni.h>

#include <hidapi.h>

#include "jni_resources.h"
#include "utf16.h"

namespace portula {

class DeviceRecords {
public:
    enum class Result { ok, pending, no_memory };

    // Finds the class and its setters; false with the VM's
    // NoClassDefFoundError or NoSuchMethodError pending.
    explicit DeviceRecords(JNIEnv *env)
        : env_(env), cls_(env, env->FindClass("com/orvanta/jni/HIDDevice")) {}

    bool find() {
        if (!cls_) {
            return false;
        }
        jclass c = cls_.get();
        init_ = env_->GetMethodID(c, "<init>", "()V");
        set_path_ = init_ ? env_->GetMethodID(c, "setPath", kString) : nullptr;
        set_vendor_id_ = set_path_ ? env_->GetMethodID(c, "setVendor_id", kInt) : nullptr;
        set_product_id_ = set_vendor_id_ ? env_->GetMethodID(c, "setProduct_id", kInt) : nullptr;
        set_manufacturer_ =
            set_product_id_ ? env_->GetMethodID(c, "setManufacturer", kString) : nullptr;
        set_product_string_ =
            set_manufacturer_ ? env_->GetMethodID(c, "setProduct_string", kString) : nullptr;
        if (set_product_string_ == nullptr) {
            return false;
        }
        set_serial_number_ = optional("setSerial_number", kString);
        set_release_number_ = optional("setRelease_number", kInt);
        set_usage_page_ = optional("setUsage_page", kInt);
        set_usage_ = optional("setUsage", kInt);
        set_interface_number_ = optional("setInterface_number", kInt);
        set_bus_type_ = optional("setBus_type", kInt);
        return true;
    }

    jclass type() const { return cls_.get(); }

    // A new local reference to a HIDDevice describing info in *out. A setter
    // is not called for a value the record lacks (a null path or name).
    Result make(const hid_device_info &info, jobject *out) {
        *out = nullptr;
        LocalRef<jobject> object(env_, env_->NewObject(cls_.get(), init_));
        if (!object || env_->ExceptionCheck()) {
            return Result::pending;  // the constructor threw
        }
        Result r = set_path(object.get(), info.path);
        r = r != Result::ok ? r : set_int(object.get(), set_vendor_id_, info.vendor_id);
        r = r != Result::ok ? r : set_int(object.get(), set_product_id_, info.product_id);
        r = r != Result::ok ? r : set_name(object.get(), set_manufacturer_, info.manufacturer_string);
        r = r != Result::ok ? r : set_name(object.get(), set_product_string_, info.product_string);
        r = r != Result::ok ? r : set_name(object.get(), set_serial_number_, info.serial_number);
        r = r != Result::ok ? r : set_int(object.get(), set_release_number_, info.release_number);
        r = r != Result::ok ? r : set_int(object.get(), set_usage_page_, info.usage_page);
        r = r != Result::ok ? r : set_int(object.get(), set_usage_, info.usage);
        r = r != Result::ok ? r : set_int(object.get(), set_interface_number_, info.interface_number);
        r = r != Result::ok ? r : set_int(object.get(), set_bus_type_, info.bus_type);
        if (r == Result::ok) {
            *out = object.release();
        }
        return r;
    }

private:
    static constexpr const char *kString = "(Ljava/lang/String;)V";
    static constexpr const char *kInt = "(I)V";

    jmethodID optional(const char *name, const char *signature) {
        const jmethodID method = env_->GetMethodID(cls_.get(), name, signature);
        if (method == nullptr) {
            env_->ExceptionClear();  // NoSuchMethodError: an older HIDDevice
        }
        return method;
    }

    Result call(jobject object, jmethodID setter, jstring value) {
        LocalRef<jstring> string(env_, value);
        if (!string) {
            return Result::no_memory;
        }
        env_->CallVoidMethod(object, setter, string.get());
        return env_->ExceptionCheck() ? Result::pending : Result::ok;
    }

    Result set_path(jobject object, const char *path) {
        // hidapi lists a device whose node udev does not know with a null path
        return path == nullptr ? Result::ok : call(object, set_path_, env_->NewStringUTF(path));
    }

    Result set_name(jobject object, jmethodID setter, const wchar_t *name) {
        if (name == nullptr || setter == nullptr) {
            return Result::ok;  // the property keeps its Java default
        }
        Utf16 units(name);
        if (!units) {
            return Result::no_memory;
        }
        return call(object, setter,
                    env_->NewString(reinterpret_cast<const jchar *>(units.data()),
                                    static_cast<jsize>(units.size())));
    }

    Result set_int(jobject object, jmethodID setter, jint value) {
        if (setter == nullptr) {
            return Result::ok;
        }
        env_->CallVoidMethod(object, setter, value);
        return env_->ExceptionCheck() ? Result::pending : Result::ok;
    }

    JNIEnv *env_;
    LocalRef<jclass> cls_;
    jmethodID init_ = nullptr;
    jmethodID set_path_ = nullptr, set_vendor_id_ = nullptr, set_product_id_ = nullptr;
    jmethodID set_manufacturer_ = nullptr, set_product_string_ = nullptr;
    jmethodID set_serial_number_ = nullptr, set_release_number_ = nullptr;
    jmethodID set_usage_page_ = nullptr, set_usage_ = nullptr;
    jmethodID set_interface_number_ = nullptr, set_bus_type_ = nullptr;
};

}  // namespace portula
