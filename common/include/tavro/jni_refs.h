// Scoped access to what a JNI environment hands out: each type gives back exactly what it
// took, on every path, so exports can return early without leaking pinned strings or arrays.
#pragma once

#include <jni.h>

#include <cstddef>
#include <string>
#include <utility>

namespace tavro {

// Modified UTF-8 bytes of a Java string (GetStringUTFChars / ReleaseStringUTFChars).
// A null string, or characters the VM cannot give, leave get() null.
class JniUtfChars {
public:
    JniUtfChars(JNIEnv* env, jstring text)
        : env_(env), text_(text), chars_(text ? env->GetStringUTFChars(text, nullptr) : nullptr) {}
    ~JniUtfChars() {
        if (chars_) env_->ReleaseStringUTFChars(text_, chars_);
    }
    JniUtfChars(const JniUtfChars&) = delete;
    JniUtfChars& operator=(const JniUtfChars&) = delete;

    const char* get() const { return chars_; }
    explicit operator bool() const { return chars_ != nullptr; }
    // Byte length as the VM reports it (0 for a null string).
    jsize length() const { return chars_ ? env_->GetStringUTFLength(text_) : 0; }

private:
    JNIEnv* env_;
    jstring text_;
    const char* chars_;
};

// UTF-16 units of a Java string (GetStringChars / ReleaseStringChars); not NUL-terminated.
class JniStringChars {
public:
    JniStringChars(JNIEnv* env, jstring text)
        : env_(env), text_(text), chars_(text ? env->GetStringChars(text, nullptr) : nullptr),
          length_(chars_ ? env->GetStringLength(text) : 0) {}
    ~JniStringChars() {
        if (chars_) env_->ReleaseStringChars(text_, chars_);
    }
    JniStringChars(const JniStringChars&) = delete;
    JniStringChars& operator=(const JniStringChars&) = delete;

    const jchar* get() const { return chars_; }
    jsize length() const { return length_; }
    explicit operator bool() const { return chars_ != nullptr; }

private:
    JNIEnv* env_;
    jstring text_;
    const jchar* chars_;
    jsize length_;
};

// A Java string's exact UTF-16 characters (embedded NULs kept); null gives an empty string.
inline std::u16string javaStringToUtf16(JNIEnv* env, jstring text) {
    JniStringChars chars(env, text);
    if (!chars) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(chars.get()),
                          static_cast<std::size_t>(chars.length()));
}

// A Java string's modified UTF-8 bytes, unconverted; null gives an empty string.
inline std::string javaStringToModifiedUtf8(JNIEnv* env, jstring text) {
    JniUtfChars chars(env, text);
    if (!chars) return {};
    return std::string(chars.get(), static_cast<std::size_t>(chars.length()));
}

// Direct access to a primitive array's elements (Get/ReleasePrimitiveArrayCritical).
// The region is released with JNI_ABORT unless commit() was called: nothing is written
// back to Java by default. No JNI call may be made while it is held.
class JniCriticalArray {
public:
    JniCriticalArray(JNIEnv* env, jarray array)
        : env_(env), array_(array),
          elements_(array ? env->GetPrimitiveArrayCritical(array, nullptr) : nullptr) {}
    ~JniCriticalArray() {
        if (elements_) env_->ReleasePrimitiveArrayCritical(array_, elements_, mode_);
    }
    JniCriticalArray(const JniCriticalArray&) = delete;
    JniCriticalArray& operator=(const JniCriticalArray&) = delete;

    void* get() const { return elements_; }
    explicit operator bool() const { return elements_ != nullptr; }
    void commit() { mode_ = 0; }

private:
    JNIEnv* env_;
    jarray array_;
    void* elements_;
    jint mode_ = JNI_ABORT;
};

// A local reference deleted when it goes out of scope (for loops that make many of them).
template <typename T = jobject>
class JniLocalRef {
public:
    JniLocalRef(JNIEnv* env, T ref) : env_(env), ref_(ref) {}
    ~JniLocalRef() {
        if (ref_) env_->DeleteLocalRef(ref_);
    }
    JniLocalRef(const JniLocalRef&) = delete;
    JniLocalRef& operator=(const JniLocalRef&) = delete;

    T get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }
    // Hands the reference to the caller (for a result returned to Java).
    T release() { return std::exchange(ref_, nullptr); }

private:
    JNIEnv* env_;
    T ref_;
};

}  // namespace tavro
