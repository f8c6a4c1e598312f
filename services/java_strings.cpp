#include "java_strings.h"

// Windows wide strings are UTF-16, so the units copy across one for one.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

namespace korvix {

jstring newByteFormString(JNIEnv* env, const char* text) {
    return env->NewStringUTF(text ? text : "");
}

std::wstring javaStringToWide(JNIEnv* env, jstring text) {
    if (env->ExceptionCheck()) return {};
    const std::u16string units = tavro::javaStringToUtf16(env, text);
    return std::wstring(units.begin(), units.end());
}

std::string javaStringToBytes(JNIEnv* env, jstring text) {
    if (env->ExceptionCheck()) return {};
    return tavro::javaStringToModifiedUtf8(env, text);
}

}  // namespace korvix
