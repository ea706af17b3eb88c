// The least a JNI write or read of a byte array can cost: the same array
// work as the bridge, and nothing else.
#include <jni.h>

#include <dlfcn.h>

#include <cstdint>
#include <cstring>

namespace {
unsigned char g_report[16384];
}

extern "C" {
JNIEXPORT void JNICALL Java_com_orvanta_bench_Floor_write(JNIEnv *env, jclass, jlong, jbyteArray data) {
    jbyte *bytes = env->GetByteArrayElements(data, nullptr);
    if (bytes != nullptr) {
        env->ReleaseByteArrayElements(data, bytes, JNI_ABORT);
    }
}

JNIEXPORT jint JNICALL Java_com_orvanta_bench_Floor_readInto(JNIEnv *env, jclass, jlong, jbyteArray buffer,
                                                              jint offset, jint length) {
    std::memset(g_report, 0x5a, static_cast<size_t>(length));
    env->SetByteArrayRegion(buffer, offset, length, reinterpret_cast<const jbyte *>(g_report));
    return length;
}

// A C++ program's read loop, through the hid_read_timeout the JVM loaded.
JNIEXPORT jint JNICALL Java_com_orvanta_bench_Floor_bareReads(JNIEnv *, jclass, jint n) {
    using ReadTimeout = int (*)(void *, unsigned char *, size_t, int);
    static const auto read = reinterpret_cast<ReadTimeout>(dlsym(RTLD_DEFAULT, "hid_read_timeout"));
    if (read == nullptr) {
        return -1;
    }
    unsigned char report[64];
    jint full = 0;
    for (jint i = 0; i < n; ++i) {
        full += read(&g_report, report, sizeof report, 0) == static_cast<int>(sizeof report);
    }
    return full;
}

JNIEXPORT jbyteArray JNICALL Java_com_orvanta_bench_Floor_read(JNIEnv *env, jclass, jlong, jint length) {
    jbyteArray result = env->NewByteArray(length);
    if (result != nullptr) {
        std::memset(g_report, 0x5a, static_cast<size_t>(length));
        env->SetByteArrayRegion(result, 0, length, reinterpret_cast<const jbyte *>(g_report));
    }
    return result;
}
}
