// JNI side of com.orvanta.testbed.EmulatedHid. C++ exceptions end here and
// become IllegalStateException.
#include <jni.h>

#include <cstring>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "hid_testbed.h"

namespace {

// A Java exception is pending: unwind to the JNI boundary and return.
struct JavaExceptionPending {};

void check(JNIEnv* env) {
  if (env->ExceptionCheck()) throw JavaExceptionPending{};
}

void throw_illegal_state(JNIEnv* env, const char* message) {
  if (env->ExceptionCheck()) return;  // keep the first one
  jclass type = env->FindClass("java/lang/IllegalStateException");
  if (!type) return;  // FindClass threw already
  env->ThrowNew(type, message);
  env->DeleteLocalRef(type);
}

template <typename Result, typename Body>
Result guarded(JNIEnv* env, Result fallback, Body&& body) {
  try {
    return body();
  } catch (const JavaExceptionPending&) {
  } catch (const std::exception& error) {
    throw_illegal_state(env, error.what());
  } catch (...) {
    throw_illegal_state(env, "unknown C++ exception");
  }
  return fallback;
}

template <typename Body>
void guarded_void(JNIEnv* env, Body&& body) {
  guarded(env, 0, [&] {
    body();
    return 0;
  });
}

template <typename T>
jlong to_handle(T* object) {
  return static_cast<jlong>(reinterpret_cast<std::intptr_t>(object));
}

template <typename T>
T& from_handle(jlong handle) {
  if (handle == 0) throw std::logic_error("null native handle");
  return *reinterpret_cast<T*>(static_cast<std::intptr_t>(handle));
}

class StringChars {
 public:
  StringChars(JNIEnv* env, jstring text)
      : env_(env), text_(text), chars_(env->GetStringChars(text, nullptr)) {
    check(env);
    if (!chars_) throw std::bad_alloc();
    length_ = env->GetStringLength(text);
  }
  StringChars(const StringChars&) = delete;
  StringChars& operator=(const StringChars&) = delete;
  ~StringChars() { env_->ReleaseStringChars(text_, chars_); }

  const jchar* data() const { return chars_; }
  jsize size() const { return length_; }

 private:
  JNIEnv* env_;
  jstring text_;
  const jchar* chars_;
  jsize length_ = 0;
};

class ByteArrayElements {
 public:
  ByteArrayElements(JNIEnv* env, jbyteArray array)
      : env_(env), array_(array), bytes_(env->GetByteArrayElements(array, nullptr)) {
    check(env);
    if (!bytes_) throw std::bad_alloc();
    length_ = env->GetArrayLength(array);
  }
  ByteArrayElements(const ByteArrayElements&) = delete;
  ByteArrayElements& operator=(const ByteArrayElements&) = delete;
  ~ByteArrayElements() { env_->ReleaseByteArrayElements(array_, bytes_, JNI_ABORT); }

  std::vector<std::uint8_t> copy() const {
    const auto* first = reinterpret_cast<const std::uint8_t*>(bytes_);
    return std::vector<std::uint8_t>(first, first + length_);
  }

 private:
  JNIEnv* env_;
  jbyteArray array_;
  jbyte* bytes_;
  jsize length_ = 0;
};

void append_utf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Standard UTF-8: GetStringUTFChars would give modified UTF-8, which encodes
// characters outside the BMP (emoji) as two 3-byte surrogates.
std::optional<std::string> to_utf8(JNIEnv* env, jstring text) {
  if (!text) return std::nullopt;
  StringChars units(env, text);
  std::string out;
  out.reserve(static_cast<std::size_t>(units.size()));
  for (jsize i = 0; i < units.size(); ++i) {
    char32_t code = units.data()[i];
    const bool high = code >= 0xD800 && code <= 0xDBFF;
    if (high && i + 1 < units.size() && units.data()[i + 1] >= 0xDC00 &&
        units.data()[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (units.data()[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;  // unpaired surrogate
    }
    append_utf8(out, code);
  }
  return out;
}

std::vector<std::uint8_t> to_bytes(JNIEnv* env, jbyteArray array) {
  if (!array) return {};
  return ByteArrayElements(env, array).copy();
}

jbyteArray to_java(JNIEnv* env, const std::optional<std::vector<std::uint8_t>>& bytes) {
  if (!bytes) return nullptr;
  const auto length = static_cast<jsize>(bytes->size());
  jbyteArray array = env->NewByteArray(length);
  check(env);
  env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte*>(bytes->data()));
  check(env);
  return array;
}

std::uint16_t to_u16(jint value, const char* what) {
  if (value < 0 || value > 0xFFFF) throw std::out_of_range(std::string(what) + " is 0 to 0xFFFF");
  return static_cast<std::uint16_t>(value);
}

testbed::Device& device(jlong handle) { return from_handle<testbed::Device>(handle); }

// Java's byte[] as the bytes of a C++ string; null stays unset.
std::optional<std::string> to_raw(JNIEnv* env, jbyteArray array) {
  if (!array) return std::nullopt;
  const std::vector<std::uint8_t> bytes = to_bytes(env, array);
  return std::string(bytes.begin(), bytes.end());
}

jbyteArray element(JNIEnv* env, jobjectArray array, jsize index) {
  auto* item = static_cast<jbyteArray>(env->GetObjectArrayElement(array, index));
  check(env);
  return item;
}

// Parallel arrays of keys and values (null: removed) into a map.
std::map<std::string, std::optional<std::string>> to_map(JNIEnv* env, jobjectArray keys,
                                                         jobjectArray values) {
  std::map<std::string, std::optional<std::string>> out;
  const jsize count = env->GetArrayLength(keys);
  for (jsize i = 0; i < count; ++i) {
    auto* key = static_cast<jstring>(env->GetObjectArrayElement(keys, i));
    check(env);
    jbyteArray value = element(env, values, i);
    out[to_utf8(env, key).value_or("")] = to_raw(env, value);
    env->DeleteLocalRef(key);
    if (value) env->DeleteLocalRef(value);
  }
  return out;
}

// Requests of the devices whose requests Java answers: umockdev's thread
// waits in ask() within a time limit, while the emulator's Java thread takes
// each and answers it. One per process, never freed: a Java thread that
// answers late may still reach it after its emulator is gone.
class RequestChannel {
 public:
  std::optional<std::vector<std::uint8_t>> ask(jlong device, testbed::RequestKind kind, std::uint8_t report_id,
                                               std::chrono::milliseconds limit) {
    auto request = std::make_shared<Request>();
    request->device = device;
    request->kind = kind;
    request->report_id = report_id;
    std::unique_lock<std::mutex> lock(mutex_);
    request->token = next_token_++;
    waiting_.push_back(request);
    requests_.notify_all();
    if (!answered_.wait_for(lock, limit, [&request] { return request->answered; })) {
      waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), request), waiting_.end());
      taken_.erase(request->token);
      return std::nullopt;  // too late: the request stalls
    }
    return std::move(request->report);
  }

  // The next request within timeout_ms, as {token, device, kind (0 feature,
  // 1 input), report ID}, or none.
  std::optional<std::vector<jlong>> take(int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!requests_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return !waiting_.empty(); }))
      return std::nullopt;
    std::shared_ptr<Request> request = waiting_.front();
    waiting_.pop_front();
    taken_[request->token] = request;
    return std::vector<jlong>{request->token, request->device,
                              request->kind == testbed::RequestKind::feature ? 0 : 1, request->report_id};
  }

  // A request's answer; one that waited too long is gone, and this does nothing.
  void answer(jlong token, std::optional<std::vector<std::uint8_t>> report) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = taken_.find(token);
    if (found == taken_.end()) return;
    found->second->report = std::move(report);
    found->second->answered = true;
    taken_.erase(found);
    answered_.notify_all();
  }

 private:
  struct Request {
    jlong token = 0;
    jlong device = 0;
    testbed::RequestKind kind = testbed::RequestKind::feature;
    std::uint8_t report_id = 0;
    bool answered = false;
    std::optional<std::vector<std::uint8_t>> report;
  };
  std::mutex mutex_;
  std::condition_variable requests_, answered_;
  std::deque<std::shared_ptr<Request>> waiting_;
  std::map<jlong, std::shared_ptr<Request>> taken_;
  jlong next_token_ = 1;
};

RequestChannel& requests() {
  static RequestChannel* const channel = new RequestChannel();
  return *channel;
}

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL Java_com_orvanta_testbed_EmulatedHid_preloadActive(JNIEnv*, jclass) {
  return testbed::preload_active() ? JNI_TRUE : JNI_FALSE;
}

// The C library's text for an errno in the process's own locale: what
// hidapi's messages would say there.
JNIEXPORT jstring JNICALL Java_com_orvanta_testbed_EmulatedHid_strerror(JNIEnv* env, jclass, jint number) {
  return env->NewStringUTF(std::strerror(number));
}

JNIEXPORT jlong JNICALL Java_com_orvanta_testbed_EmulatedHid_nativeCreate(JNIEnv* env, jclass) {
  return guarded(env, jlong{0}, [] { return to_handle(new testbed::Testbed()); });
}

JNIEXPORT void JNICALL Java_com_orvanta_testbed_EmulatedHid_nativeDestroy(JNIEnv* env, jclass,
                                                                          jlong handle) {
  guarded_void(env, [&] { delete &from_handle<testbed::Testbed>(handle); });
}

JNIEXPORT jlong JNICALL Java_com_orvanta_testbed_EmulatedHid_nativeAddDevice(
    JNIEnv* env, jclass, jlong handle, jint vendor_id, jint product_id, jint bus, jint release,
    jint interface_number, jstring manufacturer, jstring product, jstring serial,
    jbyteArray report_descriptor, jint flags, jint node_mode, jobjectArray raw_names,
    jobjectArray attribute_keys, jobjectArray attribute_values, jobjectArray uevent_keys,
    jobjectArray uevent_values) {
  return guarded(env, jlong{0}, [&] {
    testbed::DeviceConfig config;
    config.vendor_id = to_u16(vendor_id, "vendorId");
    config.product_id = to_u16(product_id, "productId");
    config.bus = static_cast<testbed::Bus>(to_u16(bus, "bus"));
    config.release = to_u16(release, "release");
    config.interface_number = interface_number;
    config.manufacturer = to_utf8(env, manufacturer);
    config.product = to_utf8(env, product);
    config.serial = to_utf8(env, serial);
    for (jsize i = 0; i < 3; ++i) {  // bytes given instead of a String
      jbyteArray raw = element(env, raw_names, i);
      if (!raw) continue;
      (i == 0 ? config.manufacturer : i == 1 ? config.product : config.serial) = to_raw(env, raw);
      env->DeleteLocalRef(raw);
    }
    config.report_descriptor = to_bytes(env, report_descriptor);
    config.attributes = to_map(env, attribute_keys, attribute_values);
    config.hid_uevent = to_map(env, uevent_keys, uevent_values);
    // the bits of EmulatedHid.DeviceBuilder's FLAG_ constants
    config.echo = (flags & 1) != 0;
    config.numbered_reports = (flags & 2) != 0;
    config.device_node = (flags & 4) == 0;
    config.raw_descriptor = (flags & 8) != 0;
    config.vanish_on_open = (flags & 16) != 0;
    config.node_mode = static_cast<unsigned>(node_mode) & 07777u;
    return to_handle(&from_handle<testbed::Testbed>(handle).add(config));
  });
}

JNIEXPORT void JNICALL Java_com_orvanta_testbed_EmulatedHid_nativeRemove(JNIEnv* env, jclass,
                                                                        jlong testbed, jlong handle) {
  guarded_void(env, [&] { from_handle<testbed::Testbed>(testbed).remove(device(handle)); });
}

JNIEXPORT jint JNICALL Java_com_orvanta_testbed_EmulatedHid_nativeCloseOrphanedSockets(JNIEnv* env, jclass) {
  return guarded(env, jint{0}, [] { return jint{testbed::Testbed::close_orphaned_sockets()}; });
}

JNIEXPORT jstring JNICALL Java_com_orvanta_testbed_EmulatedHid_nativePath(JNIEnv* env, jclass,
                                                                         jlong handle) {
  return guarded(env, jstring{nullptr}, [&] {
    jstring path = env->NewStringUTF(device(handle).path().c_str());  // ASCII
    check(env);
    return path;
  });
}

JNIEXPORT jint JNICALL Java_com_orvanta_testbed_EmulatedHid_nativePushInput(JNIEnv* env, jclass,
                                                                           jlong handle,
                                                                           jbyteArray report) {
  return guarded(env, jint{testbed::Device::kUnplugged},
                 [&] { return jint{device(handle).push_input(to_bytes(env, report))}; });
}

JNIEXPORT jbyteArray JNICALL Java_com_orvanta_testbed_EmulatedHid_nativePopOutput(
    JNIEnv* env, jclass, jlong handle, jint timeout_ms) {
  return guarded(env, jbyteArray{nullptr},
                 [&] { return to_java(env, device(handle).pop_output(timeout_ms)); });
}

JNIEXPORT jbyteArray JNICALL Java_com_orvanta_testbed_EmulatedHid_nativePopFeature(
    JNIEnv* env, jclass, jlong handle, jint timeout_ms) {
  return guarded(env, jbyteArray{nullptr},
                 [&] { return to_java(env, device(handle).pop_feature(timeout_ms)); });
}

// limit_ms > 0: the device's requests go to Java, each answered within it;
// 0: back to the reports set.
JNIEXPORT void JNICALL Java_com_orvanta_testbed_EmulatedHid_nativeAnswerRequests(JNIEnv* env, jclass,
                                                                                jlong handle, jint limit_ms) {
  guarded_void(env, [&] {
    if (limit_ms <= 0) {
      device(handle).answer_requests(nullptr);
      return;
    }
    const std::chrono::milliseconds limit(limit_ms);
    device(handle).answer_requests([handle, limit](testbed::RequestKind kind, std::uint8_t report_id) {
      return requests().ask(handle, kind, report_id, limit);
    });
  });
}

JNIEXPORT jlongArray JNICALL Java_com_orvanta_testbed_EmulatedHid_nativeTakeRequest(JNIEnv* env, jclass,
                                                                                   jint timeout_ms) {
  return guarded(env, jlongArray{nullptr}, [&]() -> jlongArray {
    const auto request = requests().take(timeout_ms);
    if (!request) return nullptr;
    jlongArray array = env->NewLongArray(static_cast<jsize>(request->size()));
    check(env);
    env->SetLongArrayRegion(array, 0, static_cast<jsize>(request->size()), request->data());
    check(env);
    return array;
  });
}

// report null: the request stalls
JNIEXPORT void JNICALL Java_com_orvanta_testbed_EmulatedHid_nativeAnswerRequest(JNIEnv* env, jclass, jlong token,
                                                                               jbyteArray report) {
  guarded_void(env, [&] {
    std::optional<std::vector<std::uint8_t>> answer;
    if (report) answer = to_bytes(env, report);
    requests().answer(token, std::move(answer));
  });
}

JNIEXPORT jint JNICALL Java_com_orvanta_testbed_EmulatedHid_nativePendingOutputs(JNIEnv* env,
                                                                                jclass,
                                                                                jlong handle) {
  return guarded(env, jint{0},
                 [&] { return static_cast<jint>(device(handle).pending_outputs()); });
}

JNIEXPORT void JNICALL Java_com_orvanta_testbed_EmulatedHid_nativeSetFeatureReport(
    JNIEnv* env, jclass, jlong handle, jbyteArray report) {
  guarded_void(env, [&] { device(handle).set_feature_report(to_bytes(env, report)); });
}

JNIEXPORT void JNICALL Java_com_orvanta_testbed_EmulatedHid_nativeSetInputReport(JNIEnv* env, jclass,
                                                                                jlong handle,
                                                                                jbyteArray report) {
  guarded_void(env, [&] { device(handle).set_input_report(to_bytes(env, report)); });
}

JNIEXPORT jstring JNICALL Java_com_orvanta_testbed_EmulatedHid_nativeRootDir(JNIEnv* env, jclass,
                                                                            jlong handle) {
  return guarded(env, jstring{nullptr}, [&] {
    jstring root = env->NewStringUTF(from_handle<testbed::Testbed>(handle).root_dir().c_str());
    check(env);
    return root;
  });
}

JNIEXPORT void JNICALL Java_com_orvanta_testbed_EmulatedHid_nativeShare(JNIEnv* env, jclass, jlong handle) {
  guarded_void(env, [&] { from_handle<testbed::Testbed>(handle).share(); });
}

JNIEXPORT jbyteArray JNICALL Java_com_orvanta_testbed_EmulatedHid_nativeFeatureReport(
    JNIEnv* env, jclass, jlong handle, jint report_id) {
  return guarded(env, jbyteArray{nullptr}, [&] {
    if (report_id < 0 || report_id > 255) throw std::out_of_range("reportId is 0 to 255");
    return to_java(env, device(handle).feature_report(static_cast<std::uint8_t>(report_id)));
  });
}

JNIEXPORT void JNICALL Java_com_orvanta_testbed_EmulatedHid_nativeUnplug(JNIEnv* env, jclass,
                                                                        jlong handle) {
  guarded_void(env, [&] { device(handle).unplug(); });
}

JNIEXPORT void JNICALL Java_com_orvanta_testbed_EmulatedHid_nativeReplug(JNIEnv* env, jclass,
                                                                        jlong handle) {
  guarded_void(env, [&] { device(handle).replug(); });
}

JNIEXPORT jboolean JNICALL Java_com_orvanta_testbed_EmulatedHid_nativePlugged(JNIEnv* env, jclass,
                                                                             jlong handle) {
  return guarded(env, jboolean{JNI_FALSE},
                 [&] { return device(handle).plugged() ? jboolean{JNI_TRUE} : jboolean{JNI_FALSE}; });
}

JNIEXPORT jlong JNICALL Java_com_orvanta_testbed_EmulatedHid_nativeWrites(JNIEnv* env, jclass,
                                                                         jlong handle) {
  return guarded(env, jlong{0}, [&] { return static_cast<jlong>(device(handle).writes()); });
}

JNIEXPORT jlong JNICALL Java_com_orvanta_testbed_EmulatedHid_nativeReads(JNIEnv* env, jclass,
                                                                        jlong handle) {
  return guarded(env, jlong{0}, [&] { return static_cast<jlong>(device(handle).reads()); });
}

}  // extern "C"
