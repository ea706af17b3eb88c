/* Test-only JVMTI agent: counts the JNI local references that a native
 * method holds while it calls back into Java, so that a test sees whether an
 * entry point lets go of each device's references inside its loop. Loaded
 * with -agentpath, and with System.load to bind the native method below. */
#include <jni.h>
#include <jvmti.h>
#include <string.h>

static jvmtiEnv *jvmti;

JNIEXPORT jint JNICALL Agent_OnLoad(JavaVM *vm, char *options, void *reserved)
{
    (void) options;
    (void) reserved;
    if ((*vm)->GetEnv(vm, (void **) &jvmti, JVMTI_VERSION_1_2) != JNI_OK)
        return JNI_ERR;
    jvmtiCapabilities capabilities;
    memset(&capabilities, 0, sizeof capabilities);
    capabilities.can_tag_objects = 1;
    return (*jvmti)->AddCapabilities(jvmti, &capabilities) == JVMTI_ERROR_NONE ? JNI_OK : JNI_ERR;
}

struct count {
    jlong thread_id;
    jint found;
};

/* Only roots are reported: no object is visited further. */
static jint JNICALL on_reference(jvmtiHeapReferenceKind kind, const jvmtiHeapReferenceInfo *info,
                                 jlong class_tag, jlong referrer_class_tag, jlong size, jlong *tag,
                                 jlong *referrer_tag, jint length, void *data)
{
    (void) class_tag;
    (void) referrer_class_tag;
    (void) size;
    (void) tag;
    (void) referrer_tag;
    (void) length;
    struct count *count = data;
    /* the thread's native frames: in the tests, only the entry point's */
    if (kind == JVMTI_HEAP_REFERENCE_JNI_LOCAL && info->jni_local.thread_id == count->thread_id)
        count->found++;
    return 0;
}

/* static native int localReferences(long threadId) of com.orvanta.jni.HIDDevice */
JNIEXPORT jint JNICALL Java_com_orvanta_jni_HIDDevice_localReferences(JNIEnv *env, jclass cls, jlong thread_id)
{
    (void) env;
    (void) cls;
    struct count count = {thread_id, 0};
    jvmtiHeapCallbacks callbacks;
    memset(&callbacks, 0, sizeof callbacks);
    callbacks.heap_reference_callback = on_reference;
    jvmtiError error = (*jvmti)->FollowReferences(jvmti, 0, NULL, NULL, &callbacks, &count);
    return error == JVMTI_ERROR_NONE ? count.found : -1;
}
