// Owners of what an entry point holds during one call, so that every return
// path, the failing ones included, gives it back.
#pragma once

#include <cstddef>
#include <new>

#include <jni.h>

#include "CHIDDevice.h"

namespace portula {

// A local reference, deleted when it goes out of scope unless released to
// the caller: loops over many objects then hold a bounded number of them.
template <typename T>
class LocalRef {
public:
    LocalRef(JNIEnv *env, T ref) : env_(env), ref_(ref) {}
    ~LocalRef() {
        if (ref_ != nullptr) {
            env_->DeleteLocalRef(ref_);
        }
    }
    LocalRef(const LocalRef &) = delete;
    LocalRef &operator=(const LocalRef &) = delete;

    T get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }
    T release() {
        T ref = ref_;
        ref_ = nullptr;
        return ref;
    }

private:
    JNIEnv *env_;
    T ref_;
};

// Elements of a Java byte array, given back with JNI_ABORT: nothing is
// copied back into the array.
class ByteArrayElements {
public:
    ByteArrayElements(JNIEnv *env, jbyteArray array)
        : env_(env), array_(array), elements_(env->GetByteArrayElements(array, nullptr)) {}
    ~ByteArrayElements() {
        if (elements_ != nullptr) {
            env_->ReleaseByteArrayElements(array_, elements_, JNI_ABORT);
        }
    }
    ByteArrayElements(const ByteArrayElements &) = delete;
    ByteArrayElements &operator=(const ByteArrayElements &) = delete;

    // False when the VM could not provide them; its OutOfMemoryError is pending.
    explicit operator bool() const { return elements_ != nullptr; }
    const unsigned char *bytes() const { return reinterpret_cast<const unsigned char *>(elements_); }

private:
    JNIEnv *env_;
    jbyteArray array_;
    jbyte *elements_;
};

// Modified UTF-8 characters of a non-null Java string.
class StringUTFChars {
public:
    StringUTFChars(JNIEnv *env, jstring string)
        : env_(env), string_(string), chars_(env->GetStringUTFChars(string, nullptr)) {}
    ~StringUTFChars() {
        if (chars_ != nullptr) {
            env_->ReleaseStringUTFChars(string_, chars_);
        }
    }
    StringUTFChars(const StringUTFChars &) = delete;
    StringUTFChars &operator=(const StringUTFChars &) = delete;

    explicit operator bool() const { return chars_ != nullptr; }
    const char *get() const { return chars_; }

private:
    JNIEnv *env_;
    jstring string_;
    const char *chars_;
};

// Native buffer for one input report; a report of ordinary size needs no
// allocation.
class ReadBuffer {
public:
    explicit ReadBuffer(size_t size)
        : heap_(size > kInline ? new (std::nothrow) unsigned char[size] : nullptr),
          ok_(size <= kInline || heap_ != nullptr) {}
    ~ReadBuffer() { delete[] heap_; }
    ReadBuffer(const ReadBuffer &) = delete;
    ReadBuffer &operator=(const ReadBuffer &) = delete;

    explicit operator bool() const { return ok_; }
    unsigned char *data() { return heap_ != nullptr ? heap_ : inline_; }

private:
    static constexpr size_t kInline = 1024;
    unsigned char *heap_;
    bool ok_;
    unsigned char inline_[kInline];
};

// A list from CHIDDevice::enumerate_devices, freed through the same object.
class EnumerationList {
public:
    EnumerationList(CHIDDevice &device, hid_device_info *list) : device_(device), list_(list) {}
    ~EnumerationList() { device_.free_enumerations(list_); }
    EnumerationList(const EnumerationList &) = delete;
    EnumerationList &operator=(const EnumerationList &) = delete;

    const hid_device_info *get() const { return list_; }

private:
    CHIDDevice &device_;
    hid_device_info *list_;
};

}  // namespace portula
