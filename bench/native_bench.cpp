// The C++ side of the benchmark, in the JVM's process and through the same
// libportula64.so the Java side uses: CHIDDevice round trips and hidapi's
// bare enumeration.
#include <jni.h>

#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstring>
#include <vector>

#include <hidapi.h>

#include "CHIDDevice.h"
#include "CHIDMonitor.h"

extern "C" {
// Nanoseconds for n write+read round trips on the echo device at path, or -1.
JNIEXPORT jlong JNICALL Java_com_orvanta_bench_NativeBench_roundTrips(JNIEnv *env, jclass, jstring path,
                                                                     jint n) {
    const char *chars = env->GetStringUTFChars(path, nullptr);
    if (chars == nullptr) {
        return -1;
    }
    CHIDDevice device;
    const bool opened = device.open_device(chars) != nullptr;
    env->ReleaseStringUTFChars(path, chars);
    if (!opened) {
        return -1;
    }
    unsigned char out[65] = {0};
    unsigned char in[64];
    const auto start = std::chrono::steady_clock::now();
    for (jint i = 0; i < n; ++i) {
        out[1] = static_cast<unsigned char>(i);
        if (device.write(out, sizeof out) < 0 || device.read(in, sizeof in) < 0 ||
            in[0] != out[1]) {
            return -1;
        }
    }
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count();
}

// The arrival time of each of count input reports, read in a bare loop; the
// clock is CLOCK_MONOTONIC, System.nanoTime's.
JNIEXPORT jlongArray JNICALL Java_com_orvanta_bench_NativeBench_arrivals(JNIEnv *env, jclass, jstring path,
                                                                        jint count) {
    const char *chars = env->GetStringUTFChars(path, nullptr);
    if (chars == nullptr) {
        return nullptr;
    }
    CHIDDevice device;
    const bool opened = device.open_device(chars) != nullptr;
    env->ReleaseStringUTFChars(path, chars);
    jlongArray result = opened ? env->NewLongArray(count) : nullptr;
    if (result == nullptr) {
        return nullptr;
    }
    std::vector<jlong> times(static_cast<size_t>(count));
    unsigned char report[64];
    for (jint i = 0; i < count; ++i) {
        while (device.read_timeout(report, sizeof report, 1000) == 0) {
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        times[static_cast<size_t>(i)] = static_cast<jlong>(now.tv_sec) * 1000000000 + now.tv_nsec;
    }
    env->SetLongArrayRegion(result, 0, count, times.data());
    return result;
}

// When each of count hidraw uevents arrived at a bare udev monitor loop
// (CLOCK_MONOTONIC); fewer if none came for 5 s.
JNIEXPORT jlongArray JNICALL Java_com_orvanta_bench_NativeBench_uevents(JNIEnv *env, jclass, jint count) {
    CHIDMonitor monitor;
    std::vector<jlong> times;
    std::vector<CHIDMonitor::Event> events;
    while (monitor.ok() && times.size() < static_cast<size_t>(count)) {
        events.clear();
        if (monitor.wait(5000, events) <= 0) {
            break;
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        for (size_t i = 0; i < events.size(); ++i) {
            times.push_back(static_cast<jlong>(now.tv_sec) * 1000000000 + now.tv_nsec);
        }
    }
    jlongArray result = env->NewLongArray(static_cast<jsize>(times.size()));
    if (result != nullptr) {
        env->SetLongArrayRegion(result, 0, static_cast<jsize>(times.size()), times.data());
    }
    return result;
}

// Nanoseconds for count reads of queued reports with timeout 0, or -1.
JNIEXPORT jlong JNICALL Java_com_orvanta_bench_NativeBench_queuedReads(JNIEnv *env, jclass, jstring path,
                                                                      jint count) {
    const char *chars = env->GetStringUTFChars(path, nullptr);
    if (chars == nullptr) {
        return -1;
    }
    CHIDDevice device;
    const bool opened = device.open_device(chars) != nullptr;
    env->ReleaseStringUTFChars(path, chars);
    if (!opened) {
        return -1;
    }
    unsigned char report[64];
    const auto start = std::chrono::steady_clock::now();
    for (jint i = 0; i < count; ++i) {
        if (device.read_timeout(report, sizeof report, 0) <= 0) {
            return -1;
        }
    }
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count();
}

// Context switches of the whole process, its ended threads' included.
JNIEXPORT jlong JNICALL Java_com_orvanta_bench_NativeBench_contextSwitches(JNIEnv *, jclass) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<jlong>(usage.ru_nvcsw + usage.ru_nivcsw);
}

// Devices that hid_enumerate lists; the list is freed at once.
JNIEXPORT jint JNICALL Java_com_orvanta_bench_NativeBench_bareEnumerate(JNIEnv *, jclass, jint vendor_id,
                                                                       jint product_id) {
    hid_device_info *list = hid_enumerate(static_cast<unsigned short>(vendor_id),
                                          static_cast<unsigned short>(product_id));
    jint count = 0;
    for (const hid_device_info *info = list; info != nullptr; info = info->next) {
        ++count;
    }
    hid_free_enumeration(list);
    return count;
}
}
