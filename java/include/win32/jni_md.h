/* Machine-dependent JNI types for Windows targets (i686 and x86_64). */
#ifndef TAVRO_JNI_MD_H
#define TAVRO_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif
