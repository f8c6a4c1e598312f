// How Korvix passes text between Java and the platform.
//
// Byte form: the Java string's modified UTF-8 bytes go unconverted to the platform's 8-bit
// (ANSI) calls, and 8-bit results come back through the JNI UTF constructor unconverted, so
// only ASCII passes unchanged. The other forms copy the string out and give it back at once.
#pragma once

#include <tavro/jni_refs.h>

#include <jni.h>

#include <optional>
#include <string>

namespace korvix {

// A Java string held in the byte form for the length of one export; given back on scope exit.
// get() is null for a null Java string, or when the VM cannot give the bytes: it then leaves
// an exception pending, and later strings of the same call are not asked for.
class ByteFormString {
public:
    ByteFormString(JNIEnv* env, jstring text) {
        if (!env->ExceptionCheck()) chars_.emplace(env, text);
    }

    const char* get() const { return chars_ ? chars_->get() : nullptr; }
    explicit operator bool() const { return get() != nullptr; }

private:
    std::optional<tavro::JniUtfChars> chars_;
};

inline jboolean toJava(bool value) { return value ? JNI_TRUE : JNI_FALSE; }

// Platform 8-bit text as a new Java string, bytes unconverted (null when the VM refuses).
jstring newByteFormString(JNIEnv* env, const char* text);

// The Java string's UTF-16 characters, exactly its length; a null string gives "" (so does
// one the VM cannot give, or any string while an exception is pending).
std::wstring javaStringToWide(JNIEnv* env, jstring text);

// The Java string's modified UTF-8 bytes, exactly its byte length; a null string gives "" (as
// above).
std::string javaStringToBytes(JNIEnv* env, jstring text);

}  // namespace korvix
