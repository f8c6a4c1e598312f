// A jvm.dll that loads but has no JNI_CreateJavaVM, as a damaged or foreign runtime may.
#define _JNI_IMPLEMENTATION_
#include <jni.h>

_JNI_IMPORT_OR_EXPORT_ jint JNICALL JNI_GetCreatedJavaVMs(JavaVM**, jsize, jsize* count) {
    if (count) *count = 0;
    return JNI_OK;
}
