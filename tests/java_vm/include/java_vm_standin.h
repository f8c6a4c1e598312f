// A Java VM for tests: complete JNIEnv and JavaVM function tables over a small in-memory
// object model (classes, instances, strings, arrays, exceptions, methods written in C++).
//
// Every JNI function the model does not cover prints its name to stderr and aborts, so a
// test never gets a plausible but invented answer. Misuse that a real VM would crash on or
// silently survive (a null or foreign reference, a release of a pointer it did not hand out,
// a Call<Type>Method whose type differs from the method's) also aborts, naming the fault.
// Objects live as long as the stand-in; references are plain pointers to them, so
// local/global reference calls simply work and the same object always has the same jobject.
//
// Strings are UTF-16 inside; the modified UTF-8 forms (U+0000 as C0 80, supplementary
// characters as two 3-byte surrogates) are produced and parsed exactly as the real VM does.
// String and array elements are handed out as copies, so a test can see whether (and
// how) they were given back: outstandingAcquisitions() and lastReleaseMode().
#pragma once

#include <jni.h>

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavro::test {

class JavaVmStandIn {
public:
    JavaVmStandIn();  // several may exist at once, each with its own tables and objects
    ~JavaVmStandIn();
    JavaVmStandIn(const JavaVmStandIn&) = delete;
    JavaVmStandIn& operator=(const JavaVmStandIn&) = delete;

    JNIEnv* env();
    JavaVM* vm();
    // The stand-in behind an env or VM made by one (aborts for any other pointer).
    static JavaVmStandIn& from(JNIEnv* env);
    static JavaVmStandIn& from(JavaVM* vm);

    // --- classes and methods -----------------------------------------------------------
    // A Java method written in C++. `self` is the instance, or the class for a static method.
    // Arguments arrive as the signature declares them; the result's member for the return
    // type is read (ignored for V). To throw, call throwNew() and return jvalue{}.
    using Method = std::function<jvalue(JavaVmStandIn&, jobject self, const std::vector<jvalue>& args)>;

    // Idempotent; FindClass then finds it. The superclass is used by method lookup,
    // IsInstanceOf and IsAssignableFrom (it is defined too when unknown).
    jclass defineClass(const std::string& name, const std::string& superclass = "java/lang/Object");
    // Defines (or replaces) a method; the class is defined when unknown. Constructors are
    // methods named "<init>" with a V result (NewObject calls them).
    void defineMethod(const std::string& cls, const std::string& name, const std::string& sig,
                      Method m, bool isStatic = false);
    jclass findClass(const std::string& name) const;  // null when not defined (no exception)
    // How many times JNI calls reached a defined method (by class, name and signature).
    int callCount(const std::string& cls, const std::string& name, const std::string& sig) const;

    // --- objects -------------------------------------------------------------------------
    // An instance of a class (defined when unknown), carrying an optional test payload.
    jobject newObject(const std::string& cls, std::any payload = {});
    std::any& payload(jobject o);  // the payload given to newObject (empty otherwise)

    jstring newString(const std::u16string& text);
    jstring newStringUtf8(const std::string& utf8);  // from standard UTF-8 (test convenience)
    std::u16string stringValue(jstring s) const;     // s must be a string
    std::string stringUtf8(jstring s) const;         // standard UTF-8 (unpaired surrogates as U+FFFD)

    // Object arrays; the element class is defined when unknown. Null elements are allowed.
    jobjectArray newObjectArray(const std::string& elementClass, const std::vector<jobject>& elements);
    jobjectArray newStringArray(const std::vector<std::u16string>& elements);
    jobjectArray newNullableStringArray(const std::vector<std::optional<std::u16string>>& elements);  // nullopt: null
    std::vector<jobject> arrayElements(jobjectArray a) const;
    std::vector<std::u16string> stringArrayValue(jobjectArray a) const;  // elements must be strings
    std::vector<std::optional<std::u16string>> nullableStringArrayValue(jobjectArray a) const;

    // Primitive arrays.
    jbooleanArray newBooleanArray(const std::vector<jboolean>& v);
    jbyteArray newByteArray(const std::vector<jbyte>& v);
    jcharArray newCharArray(const std::vector<jchar>& v);
    jshortArray newShortArray(const std::vector<jshort>& v);
    jintArray newIntArray(const std::vector<jint>& v);
    jlongArray newLongArray(const std::vector<jlong>& v);
    jfloatArray newFloatArray(const std::vector<jfloat>& v);
    jdoubleArray newDoubleArray(const std::vector<jdouble>& v);
    std::vector<jboolean> booleanArrayValue(jbooleanArray a) const;
    std::vector<jbyte> byteArrayValue(jbyteArray a) const;
    std::vector<jchar> charArrayValue(jcharArray a) const;
    std::vector<jshort> shortArrayValue(jshortArray a) const;
    std::vector<jint> intArrayValue(jintArray a) const;
    std::vector<jlong> longArrayValue(jlongArray a) const;
    std::vector<jfloat> floatArrayValue(jfloatArray a) const;
    std::vector<jdouble> doubleArrayValue(jdoubleArray a) const;

    bool isString(jobject o) const;
    bool isArray(jobject o) const;
    std::string classNameOf(jobject o) const;  // "java/lang/String", "[I", "[Ljava/lang/String;"
    // How many objects the stand-in holds (every string, array, instance and class).
    std::size_t objectCount() const;

    // --- failure injection ---------------------------------------------------------------
    void failCriticalAccess(bool fail);           // GetPrimitiveArrayCritical/GetStringCritical answer null
    void failFindClass(const std::string& name);  // FindClass(name) answers null, NoClassDefFoundError pending
    void failStringChars(bool fail);              // GetStringUTFChars/GetStringChars answer null, OutOfMemoryError pending
    void failArrayElements(bool fail);            // Get<Prim>ArrayElements answer null, OutOfMemoryError pending
    void failNewObjects(bool fail);               // NewString*, New*Array, NewObject* answer null, OutOfMemoryError pending
    // Every call that one of the switches above can fail also fails when `decide`, asked with
    // the JNI function's name, says so (a fault sweep's point); an empty function stops it.
    void failWhen(std::function<bool(const char* jniFunction)> decide);

    // --- system properties (java/lang/System.getProperty) -------------------------------
    void setSystemProperty(const std::string& name, const std::optional<std::string>& value);

    // --- exceptions ----------------------------------------------------------------------
    // Leaves a new exception of class `cls` (defined under java/lang/RuntimeException when
    // unknown) pending, as a method that throws does.
    void throwNew(const std::string& cls, const std::string& message);
    bool exceptionPending() const;
    std::string pendingExceptionClass() const;    // empty when none
    std::string pendingExceptionMessage() const;  // UTF-8; empty when none or no message
    void clearException();
    int describedExceptions() const;              // ExceptionDescribe calls that had one to describe
    // JNI calls made while an exception was pending, other than the ones the JNI rules allow
    // then (exception queries, releases, reference deletion, local frames). A real VM may
    // crash or misbehave on these.
    int callsWithPendingException() const;

    // --- acquisitions --------------------------------------------------------------------
    int outstandingAcquisitions() const;  // strings/arrays taken and not given back
    jint lastReleaseMode() const;         // of the last Release<Prim>ArrayElements/ReleasePrimitiveArrayCritical; -1 before any
    // JNI calls (other than releases) made while a critical region was held.
    int callsInsideCritical() const;
    // Local references created by JNI calls minus those deleted (DeleteLocalRef, PopLocalFrame).
    // Objects made through this class (the arguments a test passes in) are not counted.
    int liveLocalReferences() const;

    // --- VM-wide events ------------------------------------------------------------------
    std::vector<std::string> fatalErrors() const;  // messages given to FatalError, in order
    // Called by FatalError after recording; default prints the message and calls std::abort().
    // The real VM never returns from FatalError: a handler that returns lets the caller go on.
    void onFatalError(std::function<void(const std::string&)> handler);
    void onDestroy(std::function<jint()> hook);  // DestroyJavaVM's answer; default JNI_OK
    int destroyCalls() const;

    // Lines written to stderr by ExceptionDescribe and the default FatalError go here too.
    std::vector<std::string> describedLines() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Modified UTF-8 as JNI defines it, from UTF-16 code units (each unit on its own:
// U+0000 as C0 80, surrogates as 3-byte sequences).
std::string toModifiedUtf8(const std::u16string& text);
// Parses modified UTF-8 the way the VM does; a malformed byte stands for itself as one
// character (U+0080..U+00FF), so standard UTF-8 4-byte sequences come out as mojibake.
std::u16string fromModifiedUtf8(const std::string& bytes);
// Standard UTF-8 <-> UTF-16 (test conveniences; unpaired surrogates/invalid bytes as U+FFFD).
std::string utf16ToUtf8(const std::u16string& text);
std::u16string utf8ToUtf16(const std::string& text);

}  // namespace tavro::test
