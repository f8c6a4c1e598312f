// Icons as size x size arrays of 0xAARRGGBB pixels for the Java side.
#pragma once

#include <jni.h>

namespace korvix {

// The shell's large icon for the file; transparency from the icon's alpha, else its mask.
jintArray fileIconPixels(JNIEnv* env, const char* path, int size);
// The file's icon from the system image list of extra-large icons, drawn at size.
jintArray imageListIconPixels(JNIEnv* env, const char* path, int size);
// Icon number index of an executable, library or icon file; transparent pixels turn white.
jintArray extractedIconPixels(JNIEnv* env, const char* file, int index, int size);

}  // namespace korvix
