#include "java_strings.h"

#include <windows.h>

#include <climits>

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

std::optional<std::wstring> javaStringFromUtf8(JNIEnv* env, jstring text) {
    if (!text || env->ExceptionCheck()) return std::nullopt;
    const tavro::JniUtfChars bytes(env, text);
    if (!bytes) return std::nullopt;
    const int byteCount = bytes.length();
    if (byteCount == 0) return std::wstring();
    const int unitCount = ::MultiByteToWideChar(CP_UTF8, 0, bytes.get(), byteCount, nullptr, 0);
    if (unitCount <= 0) return std::wstring();
    std::wstring decoded(static_cast<std::size_t>(unitCount), L'\0');
    const int decodedCount = ::MultiByteToWideChar(CP_UTF8, 0, bytes.get(), byteCount, decoded.data(), unitCount);
    decoded.resize(static_cast<std::size_t>(decodedCount));
    return decoded;
}

jstring newStringFromUtf8(JNIEnv* env, const std::wstring& text) {
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
    const int unitCount = static_cast<int>(text.size());
    std::string encoded;
    if (unitCount > 0) {
        const int byteCount = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), unitCount, nullptr, 0, nullptr, nullptr);
        if (byteCount <= 0) return nullptr;
        encoded.resize(static_cast<std::size_t>(byteCount));
        const int encodedCount =
            ::WideCharToMultiByte(CP_UTF8, 0, text.data(), unitCount, encoded.data(), byteCount, nullptr, nullptr);
        encoded.resize(static_cast<std::size_t>(encodedCount));
    }
    return env->NewStringUTF(encoded.c_str());
}

jstring newStringFromWide(JNIEnv* env, const std::wstring& text) {
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
    return env->NewString(reinterpret_cast<const jchar*>(text.data()), static_cast<jsize>(text.size()));
}

}  // namespace korvix
