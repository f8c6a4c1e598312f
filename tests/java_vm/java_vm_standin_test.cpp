#include "java_vm_standin.h"

#include <tavro/jni_refs.h>

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <ostream>

using tavro::test::JavaVmStandIn;

namespace {

const char* const kStringSig = "(Ljava/lang/String;)Ljava/lang/String;";

// --- strings ---------------------------------------------------------------------------

struct Utf8Case {
    const char* what;
    std::u16string text;
    std::string modified;
};

class ModifiedUtf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(ModifiedUtf8, ConvertsBothWaysThroughTheEnv) {
    const Utf8Case& c = GetParam();
    JavaVmStandIn vm;
    JNIEnv* env = vm.env();

    EXPECT_EQ(tavro::test::toModifiedUtf8(c.text), c.modified);
    EXPECT_EQ(tavro::test::fromModifiedUtf8(c.modified), c.text);

    jstring s = vm.newString(c.text);
    EXPECT_EQ(env->GetStringUTFLength(s), static_cast<jsize>(c.modified.size()));
    jboolean isCopy = JNI_FALSE;
    const char* chars = env->GetStringUTFChars(s, &isCopy);
    ASSERT_NE(chars, nullptr);
    EXPECT_EQ(std::string(chars), c.modified);  // terminated, and no raw NUL inside
    env->ReleaseStringUTFChars(s, chars);

    std::string region(c.modified.size() + 1, '\xFF');
    env->GetStringUTFRegion(s, 0, static_cast<jsize>(c.text.size()), &region[0]);
    EXPECT_EQ(region, c.modified + '\0');

    EXPECT_EQ(env->GetStringLength(s), static_cast<jsize>(c.text.size()));
    std::u16string units(c.text.size(), u'?');
    env->GetStringRegion(s, 0, static_cast<jsize>(units.size()), reinterpret_cast<jchar*>(&units[0]));
    EXPECT_EQ(units, c.text);

    // modified UTF-8 terminated by its only NUL, as a native caller hands it in
    jstring back = env->NewStringUTF(c.modified.c_str());
    EXPECT_EQ(vm.stringValue(back), c.text);
    EXPECT_EQ(vm.outstandingAcquisitions(), 0);
    EXPECT_FALSE(vm.exceptionPending());
}

INSTANTIATE_TEST_SUITE_P(
    Table, ModifiedUtf8,
    ::testing::Values(Utf8Case{"ascii", u"Tavro 1.0", "Tavro 1.0"},
                      Utf8Case{"nul", std::u16string(u"a\0b", 3), "a\xC0\x80" "b"},
                      Utf8Case{"e_acute", u"caf\u00E9", "caf\xC3\xA9"},
                      Utf8Case{"euro", u"\u20AC", "\xE2\x82\xAC"},
                      Utf8Case{"emoji", u"\U0001F600", "\xED\xA0\xBD\xED\xB8\x80"},
                      Utf8Case{"empty", u"", ""}),
    [](const auto& param) { return std::string(param.param.what); });

TEST(JavaVmStandInStrings, StandardUtf8FourByteFormIsNotModifiedUtf8) {
    // The VM reads each byte of an undecodable sequence as a character of its own, so code
    // that hands standard UTF-8 to NewStringUTF shows up as mojibake.
    JavaVmStandIn vm;
    jstring s = vm.env()->NewStringUTF("\xF0\x9F\x98\x80");
    EXPECT_EQ(vm.stringValue(s), u"\u00F0\u009F\u0098\u0080");
    EXPECT_EQ(vm.stringUtf8(vm.newStringUtf8("\xF0\x9F\x98\x80")), "\xF0\x9F\x98\x80");
}

TEST(JavaVmStandInStrings, BadStringRegionLeavesExceptionAndBufferAlone) {
    JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    jstring s = vm.newString(u"abc");
    jchar units[4] = {'x', 'x', 'x', 'x'};
    env->GetStringRegion(s, 2, 2, units);
    EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/StringIndexOutOfBoundsException");
    EXPECT_EQ(units[0], 'x');
    vm.clearException();
    char bytes[4] = {'x', 'x', 'x', 'x'};
    env->GetStringUTFRegion(s, -1, 1, bytes);
    EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/StringIndexOutOfBoundsException");
    EXPECT_EQ(bytes[0], 'x');
}

// --- arrays ----------------------------------------------------------------------------

struct RegionCase {
    jsize start;
    jsize len;
    bool valid;
};

// Names the case in test output (the default byte dump would show padding bytes).
void PrintTo(const RegionCase& c, std::ostream* os) {
    *os << "start " << c.start << ", length " << c.len << (c.valid ? ", valid" : ", out of bounds");
}

class ArrayRegion : public ::testing::TestWithParam<RegionCase> {};

TEST_P(ArrayRegion, OutOfBoundsLeavesExceptionAndDoesNothing) {
    const RegionCase& c = GetParam();
    JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    jintArray ints = vm.newIntArray({1, 2, 3, 4});

    std::vector<jint> out(8, -1);
    env->GetIntArrayRegion(ints, c.start, c.len, out.data());
    if (c.valid) {
        EXPECT_FALSE(vm.exceptionPending());
        for (jsize i = 0; i < c.len; ++i) EXPECT_EQ(out[i], c.start + i + 1);
    } else {
        EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/ArrayIndexOutOfBoundsException");
        EXPECT_EQ(out, std::vector<jint>(8, -1));
        vm.clearException();
    }

    const std::vector<jint> in(8, 9);
    env->SetIntArrayRegion(ints, c.start, c.len, in.data());
    std::vector<jint> expected{1, 2, 3, 4};
    if (c.valid) {
        EXPECT_FALSE(vm.exceptionPending());
        for (jsize i = 0; i < c.len; ++i) expected[static_cast<std::size_t>(c.start + i)] = 9;
    } else {
        EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/ArrayIndexOutOfBoundsException");
    }
    EXPECT_EQ(vm.intArrayValue(ints), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ArrayRegion,
                         ::testing::Values(RegionCase{0, 4, true}, RegionCase{1, 2, true}, RegionCase{4, 0, true},
                                           RegionCase{3, 2, false}, RegionCase{-1, 1, false},
                                           RegionCase{0, -1, false}, RegionCase{5, 0, false},
                                           RegionCase{2, 0x7FFFFFFF, false}));

TEST(JavaVmStandInArrays, ByteRegionsAndLengths) {
    JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    jbyteArray bytes = env->NewByteArray(3);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(env->GetArrayLength(bytes), 3);
    const jbyte in[] = {-1, 0, 127};
    env->SetByteArrayRegion(bytes, 0, 3, in);
    EXPECT_EQ(vm.byteArrayValue(bytes), (std::vector<jbyte>{-1, 0, 127}));
    EXPECT_EQ(vm.classNameOf(bytes), "[B");
    EXPECT_EQ(env->NewIntArray(-1), nullptr);
    EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/NegativeArraySizeException");
}

TEST(JavaVmStandInArrays, CriticalAccessCopiesAndWritesBackByMode) {
    JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    jintArray ints = vm.newIntArray({1, 2, 3});

    auto* abort = static_cast<jint*>(env->GetPrimitiveArrayCritical(ints, nullptr));
    ASSERT_NE(abort, nullptr);
    abort[0] = 100;
    EXPECT_EQ(vm.outstandingAcquisitions(), 1);
    env->ReleasePrimitiveArrayCritical(ints, abort, JNI_ABORT);
    EXPECT_EQ(vm.lastReleaseMode(), JNI_ABORT);
    EXPECT_EQ(vm.intArrayValue(ints), (std::vector<jint>{1, 2, 3}));

    auto* commit = static_cast<jint*>(env->GetPrimitiveArrayCritical(ints, nullptr));
    commit[1] = 200;
    env->ReleasePrimitiveArrayCritical(ints, commit, JNI_COMMIT);
    EXPECT_EQ(vm.intArrayValue(ints), (std::vector<jint>{1, 200, 3}));
    EXPECT_EQ(vm.outstandingAcquisitions(), 1);  // JNI_COMMIT keeps the copy handed out
    commit[2] = 300;
    env->ReleasePrimitiveArrayCritical(ints, commit, 0);
    EXPECT_EQ(vm.lastReleaseMode(), 0);
    EXPECT_EQ(vm.intArrayValue(ints), (std::vector<jint>{1, 200, 300}));
    EXPECT_EQ(vm.outstandingAcquisitions(), 0);
    EXPECT_EQ(vm.callsInsideCritical(), 0);

    vm.failCriticalAccess(true);
    EXPECT_EQ(env->GetPrimitiveArrayCritical(ints, nullptr), nullptr);
    EXPECT_EQ(env->GetStringCritical(vm.newString(u"x"), nullptr), nullptr);
    EXPECT_EQ(vm.outstandingAcquisitions(), 0);
}

TEST(JavaVmStandInArrays, ElementsReleaseModes) {
    JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    jlongArray longs = vm.newLongArray({1, 2});
    jlong* elements = env->GetLongArrayElements(longs, nullptr);
    elements[0] = 5;
    env->ReleaseLongArrayElements(longs, elements, JNI_ABORT);
    EXPECT_EQ(vm.longArrayValue(longs), (std::vector<jlong>{1, 2}));
    elements = env->GetLongArrayElements(longs, nullptr);
    elements[0] = 5;
    env->ReleaseLongArrayElements(longs, elements, 0);
    EXPECT_EQ(vm.longArrayValue(longs), (std::vector<jlong>{5, 2}));
    EXPECT_EQ(vm.lastReleaseMode(), 0);
    EXPECT_EQ(vm.outstandingAcquisitions(), 0);
}

TEST(JavaVmStandInArrays, JniCallInsideCriticalRegionIsCounted) {
    JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    jintArray ints = vm.newIntArray({1});
    void* held = env->GetPrimitiveArrayCritical(ints, nullptr);
    env->GetArrayLength(ints);
    env->ReleasePrimitiveArrayCritical(ints, held, JNI_ABORT);
    EXPECT_EQ(vm.callsInsideCritical(), 1);
}

TEST(JavaVmStandInArrays, ObjectArraysCheckBoundsAndElementClass) {
    JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    jclass stringClass = env->FindClass("java/lang/String");
    jstring fill = vm.newString(u"-");
    jobjectArray a = env->NewObjectArray(2, stringClass, fill);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(vm.classNameOf(a), "[Ljava/lang/String;");
    EXPECT_EQ(vm.stringArrayValue(a), (std::vector<std::u16string>{u"-", u"-"}));

    env->SetObjectArrayElement(a, 1, vm.newString(u"b"));
    env->SetObjectArrayElement(a, 0, nullptr);
    EXPECT_EQ(vm.nullableStringArrayValue(a),
              (std::vector<std::optional<std::u16string>>{std::nullopt, u"b"}));

    EXPECT_EQ(env->GetObjectArrayElement(a, 2), nullptr);
    EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/ArrayIndexOutOfBoundsException");
    vm.clearException();
    env->SetObjectArrayElement(a, 0, vm.newObject("com/example/Other"));
    EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/ArrayStoreException");
    vm.clearException();

    // String[][] as the file chooser's filters arrive
    jobjectArray rows = vm.newObjectArray("[Ljava/lang/String;", {vm.newStringArray({u"Text", u"*.txt"})});
    EXPECT_EQ(vm.classNameOf(rows), "[[Ljava/lang/String;");
    jobject row = env->GetObjectArrayElement(rows, 0);
    EXPECT_EQ(vm.stringArrayValue(static_cast<jobjectArray>(row))[1], u"*.txt");
}

// --- classes, methods, calls -------------------------------------------------------------

TEST(JavaVmStandInClasses, UnknownOrFailingClassAndMethodGiveNullAndPendingError) {
    JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    vm.defineMethod("com/example/Base", "name", "()Ljava/lang/String;",
                    [](JavaVmStandIn& v, jobject, const std::vector<jvalue>&) {
                        jvalue r{};
                        r.l = v.newString(u"base");
                        return r;
                    });
    vm.defineClass("com/example/Derived", "com/example/Base");
    vm.failFindClass("com/example/Broken");
    vm.defineClass("com/example/Broken");

    struct ClassCase {
        const char* name;
        bool found;
    } classes[] = {{"com/example/Derived", true}, {"com/example/Missing", false},
                   {"com.example.Derived", false}, {"com/example/Broken", false},
                   {"[Lcom/example/Derived;", true}, {"[[I", true}, {"[Lcom/example/Missing;", false}};
    for (const ClassCase& c : classes) {
        SCOPED_TRACE(c.name);
        jclass cls = env->FindClass(c.name);
        EXPECT_EQ(cls != nullptr, c.found);
        EXPECT_EQ(vm.pendingExceptionClass(), c.found ? "" : "java/lang/NoClassDefFoundError");
        vm.clearException();
    }

    jclass derived = env->FindClass("com/example/Derived");
    struct MethodCase {
        const char* name;
        const char* sig;
        bool isStatic;
        bool found;
    } methods[] = {{"name", "()Ljava/lang/String;", false, true},  // inherited
                   {"name", "()Ljava/lang/String;", true, false},  // not static
                   {"name", "()I", false, false},
                   {"nope", "()V", false, false}};
    for (const MethodCase& m : methods) {
        SCOPED_TRACE(std::string(m.name) + m.sig);
        jmethodID id = m.isStatic ? env->GetStaticMethodID(derived, m.name, m.sig)
                                  : env->GetMethodID(derived, m.name, m.sig);
        EXPECT_EQ(id != nullptr, m.found);
        EXPECT_EQ(vm.pendingExceptionClass(), m.found ? "" : "java/lang/NoSuchMethodError");
        vm.clearException();
    }
    EXPECT_EQ(vm.callsWithPendingException(), 0);

    jobject object = vm.newObject("com/example/Derived");
    EXPECT_TRUE(env->IsInstanceOf(object, env->FindClass("com/example/Base")));
    EXPECT_TRUE(env->IsSameObject(env->GetObjectClass(object), derived));
    jstring name = static_cast<jstring>(
        env->CallObjectMethod(object, env->GetMethodID(derived, "name", "()Ljava/lang/String;")));
    EXPECT_EQ(vm.stringValue(name), u"base");
}

// Arguments of every kind, to see that each variadic form reads them at their promoted size.
jvalue recordMixed(JavaVmStandIn& v, jobject, const std::vector<jvalue>& a, std::string* seen) {
    *seen = std::to_string(a[0].z) + "," + std::to_string(a[1].b) + "," + std::to_string(a[2].c) + "," +
            std::to_string(a[3].s) + "," + std::to_string(a[4].i) + "," + std::to_string(a[5].j) + "," +
            std::to_string(a[6].f) + "," + std::to_string(a[7].d) + "," + v.stringUtf8(static_cast<jstring>(a[8].l));
    jvalue r{};
    r.j = a[5].j + a[4].i;
    return r;
}

jlong callThroughVaList(JNIEnv* env, jclass cls, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    jlong r = env->CallStaticLongMethodV(cls, id, args);
    va_end(args);
    return r;
}

TEST(JavaVmStandInCalls, EveryArgumentFormPassesMixedTypes) {
    JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    std::string seen;
    const char* sig = "(ZBCSIJFDLjava/lang/String;)J";
    vm.defineMethod("com/example/Mixed", "mix", sig,
                    [&seen](JavaVmStandIn& v, jobject self, const std::vector<jvalue>& a) {
                        return recordMixed(v, self, a, &seen);
                    },
                    true);
    jclass cls = env->FindClass("com/example/Mixed");
    jmethodID id = env->GetStaticMethodID(cls, "mix", sig);
    ASSERT_NE(id, nullptr);
    jstring text = vm.newString(u"t\u00E9");
    const std::string expected = "1,-2,65535,-3,-70000,8589934592,1.500000,-2.250000,t\xC3\xA9";
    const jlong sum = 8589934592LL - 70000;

    EXPECT_EQ(env->CallStaticLongMethod(cls, id, JNI_TRUE, jbyte(-2), jchar(0xFFFF), jshort(-3), jint(-70000),
                                        jlong(8589934592LL), jfloat(1.5f), jdouble(-2.25), text),
              sum);
    EXPECT_EQ(seen, expected);
    seen.clear();
    EXPECT_EQ(callThroughVaList(env, cls, id, JNI_TRUE, jbyte(-2), jchar(0xFFFF), jshort(-3), jint(-70000),
                                jlong(8589934592LL), jfloat(1.5f), jdouble(-2.25), text),
              sum);
    EXPECT_EQ(seen, expected);
    seen.clear();
    jvalue args[9];
    args[0].z = JNI_TRUE;
    args[1].b = -2;
    args[2].c = 0xFFFF;
    args[3].s = -3;
    args[4].i = -70000;
    args[5].j = 8589934592LL;
    args[6].f = 1.5f;
    args[7].d = -2.25;
    args[8].l = text;
    EXPECT_EQ(env->CallStaticLongMethodA(cls, id, args), sum);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(vm.callCount("com/example/Mixed", "mix", sig), 3);
}

TEST(JavaVmStandInCalls, InstanceCallsConstructorsAndOverrides) {
    JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    auto answer = [](jint value) {
        return [value](JavaVmStandIn&, jobject, const std::vector<jvalue>&) {
            jvalue r{};
            r.i = value;
            return r;
        };
    };
    vm.defineMethod("com/example/Shape", "sides", "()I", answer(0));
    vm.defineClass("com/example/Square", "com/example/Shape");
    vm.defineMethod("com/example/Square", "sides", "()I", answer(4));
    vm.defineMethod("com/example/Square", "<init>", "(I)V",
                    [](JavaVmStandIn& v, jobject self, const std::vector<jvalue>& a) {
                        v.payload(self) = a[0].i;
                        return jvalue{};
                    });
    jclass square = env->FindClass("com/example/Square");
    jobject made = env->NewObject(square, env->GetMethodID(square, "<init>", "(I)V"), jint(7));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(std::any_cast<jint>(vm.payload(made)), 7);
    // an id taken from the superclass still dispatches on the object's class
    jmethodID sides = env->GetMethodID(env->FindClass("com/example/Shape"), "sides", "()I");
    EXPECT_EQ(env->CallIntMethod(made, sides), 4);
    EXPECT_EQ(env->CallIntMethod(vm.newObject("com/example/Shape"), sides), 0);
}

TEST(JavaVmStandInCalls, ThrowingMethodLeavesExceptionAndZeroResult) {
    JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    vm.defineMethod("com/example/Chooser", "isMultiSelectionEnabled", "()Z",
                    [](JavaVmStandIn& v, jobject, const std::vector<jvalue>&) {
                        v.throwNew("java/lang/IllegalStateException", "closed");
                        jvalue r{};
                        r.z = JNI_TRUE;  // ignored: the method threw
                        return r;
                    });
    jobject chooser = vm.newObject("com/example/Chooser");
    jclass runtimeException = env->FindClass("java/lang/RuntimeException");
    jmethodID id = env->GetMethodID(env->GetObjectClass(chooser), "isMultiSelectionEnabled", "()Z");
    EXPECT_EQ(env->CallBooleanMethod(chooser, id), JNI_FALSE);
    EXPECT_TRUE(env->ExceptionCheck());
    EXPECT_EQ(vm.pendingExceptionMessage(), "closed");
    jthrowable thrown = env->ExceptionOccurred();
    EXPECT_EQ(vm.callsWithPendingException(), 0);
    EXPECT_TRUE(env->IsInstanceOf(thrown, runtimeException));  // not allowed with one pending
    EXPECT_EQ(vm.callsWithPendingException(), 1);

    env->ExceptionDescribe();
    EXPECT_FALSE(vm.exceptionPending());
    EXPECT_EQ(vm.describedExceptions(), 1);
    EXPECT_EQ(vm.describedLines(), (std::vector<std::string>{"java.lang.IllegalStateException: closed"}));
    env->ExceptionDescribe();  // nothing pending: nothing described
    EXPECT_EQ(vm.describedExceptions(), 1);

    EXPECT_EQ(env->ThrowNew(env->FindClass("java/lang/IllegalArgumentException"), "bad"), 0);
    EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/IllegalArgumentException");
    env->ExceptionClear();
    EXPECT_EQ(env->Throw(thrown), 0);
    EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/IllegalStateException");
}

TEST(JavaVmStandInCalls, SystemGetProperty) {
    JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    vm.setSystemProperty("java.version", std::string("17.0.2"));
    jclass system = env->FindClass("java/lang/System");
    jmethodID get = env->GetStaticMethodID(system, "getProperty", kStringSig);
    ASSERT_NE(get, nullptr);
    auto ask = [&](const char* key) {
        return static_cast<jstring>(env->CallStaticObjectMethod(system, get, env->NewStringUTF(key)));
    };
    EXPECT_EQ(vm.stringUtf8(ask("java.version")), "17.0.2");
    EXPECT_EQ(ask("user.home"), nullptr);
    vm.setSystemProperty("java.version", std::nullopt);
    EXPECT_EQ(ask("java.version"), nullptr);
    EXPECT_FALSE(vm.exceptionPending());
}

// --- acquisitions and references -----------------------------------------------------

TEST(JavaVmStandInAcquisitions, SharedOwnersGiveBackEverything) {
    JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    jstring s = vm.newString(std::u16string(u"x\0y", 3));
    {
        tavro::JniUtfChars utf(env, s);
        tavro::JniStringChars units(env, s);
        tavro::JniCriticalArray pixels(env, vm.newIntArray({1, 2}));
        EXPECT_EQ(vm.outstandingAcquisitions(), 3);
        EXPECT_EQ(utf.length(), 4);
        EXPECT_EQ(units.length(), 3);
    }
    EXPECT_EQ(vm.outstandingAcquisitions(), 0);
    EXPECT_EQ(vm.lastReleaseMode(), JNI_ABORT);
    EXPECT_EQ(tavro::javaStringToUtf16(env, s), std::u16string(u"x\0y", 3));
    EXPECT_EQ(tavro::javaStringToModifiedUtf8(env, s), "x\xC0\x80y");

    vm.failStringChars(true);
    EXPECT_EQ(env->GetStringUTFChars(s, nullptr), nullptr);
    EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/OutOfMemoryError");
    EXPECT_EQ(vm.outstandingAcquisitions(), 0);
}

TEST(JavaVmStandInAcquisitions, ForgottenReleaseIsSeen) {
    JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    jstring s = vm.newString(u"leak");
    const char* utf = env->GetStringUTFChars(s, nullptr);
    const jchar* critical = env->GetStringCritical(s, nullptr);
    EXPECT_EQ(vm.outstandingAcquisitions(), 2);
    env->ReleaseStringCritical(s, critical);
    EXPECT_EQ(vm.outstandingAcquisitions(), 1);
    env->ReleaseStringUTFChars(s, utf);
    EXPECT_EQ(vm.outstandingAcquisitions(), 0);
}

TEST(JavaVmStandInAcquisitions, LocalReferencesAreCounted) {
    JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    jobjectArray names = vm.newStringArray({u"a", u"b", u"c"});
    for (jsize i = 0; i < 3; ++i) {
        tavro::JniLocalRef<jstring> name(env, static_cast<jstring>(env->GetObjectArrayElement(names, i)));
    }
    EXPECT_EQ(vm.liveLocalReferences(), 0);
    ASSERT_EQ(env->PushLocalFrame(4), JNI_OK);
    env->NewStringUTF("dropped");
    jobject kept = env->PopLocalFrame(env->NewStringUTF("kept"));
    EXPECT_EQ(vm.stringUtf8(static_cast<jstring>(kept)), "kept");
    EXPECT_EQ(vm.liveLocalReferences(), 1);
}

// --- the VM ------------------------------------------------------------------------------

TEST(JavaVmStandInVm, InvocationInterfaceAndHooks) {
    JavaVmStandIn first;
    JavaVmStandIn second;
    EXPECT_NE(first.env(), second.env());
    EXPECT_EQ(&JavaVmStandIn::from(second.env()), &second);
    EXPECT_EQ(&JavaVmStandIn::from(first.vm()), &first);

    JavaVM* vm = nullptr;
    ASSERT_EQ(first.env()->GetJavaVM(&vm), JNI_OK);
    EXPECT_EQ(vm, first.vm());
    void* env = nullptr;
    EXPECT_EQ(vm->GetEnv(&env, JNI_VERSION_1_8), JNI_OK);
    EXPECT_EQ(env, first.env());
    EXPECT_EQ(vm->GetEnv(&env, 0x30010000), JNI_EVERSION);
    env = nullptr;
    EXPECT_EQ(vm->AttachCurrentThread(&env, nullptr), JNI_OK);
    EXPECT_EQ(env, first.env());

    EXPECT_EQ(vm->DestroyJavaVM(), JNI_OK);
    first.onDestroy([] { return jint(JNI_ERR); });
    EXPECT_EQ(vm->DestroyJavaVM(), JNI_ERR);
    EXPECT_EQ(first.destroyCalls(), 2);

    std::string handled;
    first.onFatalError([&handled](const std::string& message) { handled = message; });
    first.env()->FatalError("no main method");
    EXPECT_EQ(handled, "no main method");
    EXPECT_EQ(first.fatalErrors(), (std::vector<std::string>{"no main method"}));
}

TEST(JavaVmStandInVm, EverySlotIsFilled) {
    JavaVmStandIn vm;
    const auto* slots = reinterpret_cast<void* const*>(vm.env()->functions);
    const std::size_t count = sizeof(JNINativeInterface_) / sizeof(void*);
    for (std::size_t i = 4; i < count; ++i) EXPECT_NE(slots[i], nullptr) << "slot " << i;
    const auto* vmSlots = reinterpret_cast<void* const*>(vm.vm()->functions);
    for (std::size_t i = 3; i < sizeof(JNIInvokeInterface_) / sizeof(void*); ++i) EXPECT_NE(vmSlots[i], nullptr);
}

using JavaVmStandInDeathTest = ::testing::Test;

TEST_F(JavaVmStandInDeathTest, MisuseAndUnmodelledFunctionsAbortWithTheirName) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    jclass object = env->FindClass("java/lang/Object");
    EXPECT_DEATH(env->GetFieldID(object, "x", "I"), "GetFieldID is not modelled");
    EXPECT_DEATH(env->RegisterNatives(object, nullptr, 0), "RegisterNatives is not modelled");
    jstring s = vm.newString(u"s");
    EXPECT_DEATH(env->ReleaseStringUTFChars(s, "never handed out"), "ReleaseStringUTFChars");
    const jchar* units = env->GetStringChars(s, nullptr);
    EXPECT_DEATH(env->ReleaseStringUTFChars(s, reinterpret_cast<const char*>(units)), "different Get function");
    env->ReleaseStringChars(s, units);
    EXPECT_DEATH(env->GetStringLength(nullptr), "null reference");
    jmethodID getProperty = env->GetStaticMethodID(env->FindClass("java/lang/System"), "getProperty", kStringSig);
    EXPECT_DEATH(env->CallStaticIntMethod(env->FindClass("java/lang/System"), getProperty, s), "returns another type");
    EXPECT_DEATH(env->FatalError("stop"), "FATAL ERROR in native method: stop");
}

}  // namespace
