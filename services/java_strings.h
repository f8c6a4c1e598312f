// How Korvix passes text between Java and the platform.
//
// Byte form: the Java string's modified UTF-8 bytes go unconverted to the platform's 8-bit
// (ANSI) calls, and 8-bit results come back through the JNI UTF constructor unconverted, so
// only ASCII passes unchanged. The other forms copy the string out and give it back at once.
// The UTF-8 forms read the modified UTF-8 bytes as if they were standard UTF-8, as the proxy
// lookup always has: U+0000 and characters beyond U+FFFF (which the VM writes as surrogate
// triples) do not survive, everything else does.
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

// UTF-8 decoding: the Java string's modified UTF-8 bytes decoded as UTF-8 into UTF-16.
// Nothing for a null string, or when the VM cannot give the bytes (an exception is then
// pending, and nothing is asked of the VM while one is).
std::optional<std::wstring> javaStringFromUtf8(JNIEnv* env, jstring text);

// UTF-8 encoding: platform UTF-16 text encoded whole as UTF-8 for the JNI UTF constructor
// (null when the VM refuses).
jstring newStringFromUtf8(JNIEnv* env, const std::wstring& text);

// UTF-16 result: the characters and their length through the JNI UTF-16 constructor.
jstring newStringFromWide(JNIEnv* env, const std::wstring& text);

}  // namespace korvix
