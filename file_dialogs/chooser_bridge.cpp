#include "chooser_bridge.h"

#include <tavro/jawt_refs.h>
#include <tavro/jni_refs.h>

#include <cstdio>

namespace pickora {
namespace {

// The accessor's exported name: decorated for __stdcall in the 32-bit runtime, plain in 64-bit.
#if defined(_WIN64)
constexpr char kJawtAccessorName[] = "JAWT_GetAWT";
#else
constexpr char kJawtAccessorName[] = "_JAWT_GetAWT@8";
#endif
using JawtGetAwt = jboolean(JNICALL*)(JNIEnv*, JAWT*);

// A Java exception raised while looking up the owner window.
struct JavaExceptionRaised {};

void throwIfJavaException(JNIEnv* env) {
    if (env->ExceptionCheck()) throw JavaExceptionRaised{};
}

// A getter that throws (or is missing) leaves its field at the default; no exception may
// stay pending when the export returns.
bool clearJavaException(JNIEnv* env) {
    if (!env->ExceptionCheck()) return false;
    env->ExceptionClear();
    return true;
}

jmethodID chooserMethod(ChooserContext& chooser, const char* name, const char* signature) {
    tavro::JniLocalRef<jclass> chooserClass(chooser.env, chooser.env->GetObjectClass(chooser.chooserObject));
    if (!chooserClass) {
        clearJavaException(chooser.env);
        return nullptr;
    }
    jmethodID method = chooser.env->GetMethodID(chooserClass.get(), name, signature);
    if (!method) clearJavaException(chooser.env);
    return method;
}

std::u16string callStringGetter(ChooserContext& chooser, const char* name) {
    jmethodID method = chooserMethod(chooser, name, "()Ljava/lang/String;");
    if (!method) return {};
    tavro::JniLocalRef<jstring> text(chooser.env,
                                     static_cast<jstring>(chooser.env->CallObjectMethod(chooser.chooserObject, method)));
    if (clearJavaException(chooser.env)) return {};
    return tavro::javaStringToUtf16(chooser.env, text.get());
}

bool callBooleanGetter(ChooserContext& chooser, const char* name) {
    jmethodID method = chooserMethod(chooser, name, "()Z");
    if (!method) return false;
    const jboolean value = chooser.env->CallBooleanMethod(chooser.chooserObject, method);
    if (clearJavaException(chooser.env)) return false;
    return value != JNI_FALSE;
}

jint callIntGetter(ChooserContext& chooser, const char* name) {
    jmethodID method = chooserMethod(chooser, name, "()I");
    if (!method) return 0;
    const jint value = chooser.env->CallIntMethod(chooser.chooserObject, method);
    if (clearJavaException(chooser.env)) return 0;
    return value;
}

void readFileFilters(ChooserContext& chooser) {
    JNIEnv* env = chooser.env;
    jmethodID method = chooserMethod(chooser, "getFileFilters", "()[[Ljava/lang/String;");
    if (!method) return;
    tavro::JniLocalRef<jobjectArray> filters(env,
                                             static_cast<jobjectArray>(env->CallObjectMethod(chooser.chooserObject, method)));
    if (clearJavaException(env)) return;
    if (!filters) {
        writeLine("Dialog: error reading filters (C)");
        return;
    }
    const jsize count = env->GetArrayLength(filters.get());
    for (jsize i = 0; i < count; ++i) {
        tavro::JniLocalRef<jobjectArray> pair(env, static_cast<jobjectArray>(env->GetObjectArrayElement(filters.get(), i)));
        const jsize length = pair ? env->GetArrayLength(pair.get()) : 0;
        if (length != 2) writeLine("Dialog: error reading filters (C)");
        // A longer row still gives its first two texts; a shorter one has no pair to read.
        if (length < 2) continue;
        tavro::JniLocalRef<jstring> text(env, static_cast<jstring>(env->GetObjectArrayElement(pair.get(), 0)));
        tavro::JniLocalRef<jstring> pattern(env, static_cast<jstring>(env->GetObjectArrayElement(pair.get(), 1)));
        chooser.fileFilters.push_back(
            {tavro::javaStringToUtf16(env, text.get()), tavro::javaStringToUtf16(env, pattern.get())});
    }
}

HMODULE loadJawtFromBootLibraryPath(JNIEnv* env) {
    tavro::JniLocalRef<jclass> systemClass(env, env->FindClass("java/lang/System"));
    throwIfJavaException(env);
    if (!systemClass) throw JavaExceptionRaised{};
    jmethodID getProperty =
        env->GetStaticMethodID(systemClass.get(), "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
    throwIfJavaException(env);
    if (!getProperty) throw JavaExceptionRaised{};
    tavro::JniLocalRef<jstring> key(env, env->NewStringUTF("sun.boot.library.path"));
    throwIfJavaException(env);
    if (!key) throw JavaExceptionRaised{};
    tavro::JniLocalRef<jstring> libraryPath(
        env, static_cast<jstring>(env->CallStaticObjectMethod(systemClass.get(), getProperty, key.get())));
    throwIfJavaException(env);

    if (!libraryPath) {
        writeLine("Dialquist: Failed to find java boot library path.  Bailing.");
        return nullptr;
    }
    {
        tavro::JniUtfChars text(env, libraryPath.get());
        if (!text || text.length() == 0) {
            clearJavaException(env);
            writeLine("Dialquist: Failed to find java boot library path (1).  Bailing.");
            return nullptr;
        }
    }
    std::u16string jawtPath = tavro::javaStringToUtf16(env, libraryPath.get());
    clearJavaException(env);
    if (jawtPath.empty()) {
        writeLine("Dialquist: Failed to find java boot library path (2).  Bailing.");
        return nullptr;
    }
    jawtPath += u"\\jawt.dll";
    writeLine(narrowForOutput(jawtPath));
    // Stays loaded for the life of the process, like the runtime's own copy would.
    HMODULE jawt = ::LoadLibraryW(wide(jawtPath));
    if (!jawt) {
        writeLine("VistaFileChooser: Failed to load jawt.dll.  Bummer.");
        return nullptr;
    }
    writeLine("loaded for bear!");
    return jawt;
}

HWND lookupJawtWindow(ChooserContext& chooser) {
    JNIEnv* env = chooser.env;
    HMODULE jawt = ::GetModuleHandleW(L"jawt.dll");
    if (!jawt) {
        writeLine("Dialquist: Failed to load jawt.dll the easy way.  Trying the hard way.");
        jawt = loadJawtFromBootLibraryPath(env);
        if (!jawt) return nullptr;
    }
    auto getAwt = reinterpret_cast<JawtGetAwt>(reinterpret_cast<void*>(::GetProcAddress(jawt, kJawtAccessorName)));
    if (!getAwt) {
        writeLine("Dialquist: Failed to locate JAWT accessor");
        return nullptr;
    }
    JAWT awt{};
    awt.version = JAWT_VERSION_1_4;
    if (getAwt(env, &awt) == JNI_FALSE) {
        throwIfJavaException(env);
        writeLine("Dialquist: Failed to access JAWT");
        return nullptr;
    }
    tavro::JawtDrawingSurface surface(awt, env, chooser.parentComponent);
    throwIfJavaException(env);
    if (!surface) return nullptr;
    tavro::JawtSurfaceLock lock(surface.get());
    tavro::JawtSurfaceInfo info(surface.get());
    if (!info || !info.get()->platformInfo) return nullptr;
    return static_cast<JAWT_Win32DrawingSurfaceInfo*>(info.get()->platformInfo)->hwnd;
}

}  // namespace

void writeLine(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string narrowForOutput(const std::u16string& text) {
    if (text.empty()) return {};
    const int units = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, wide(text), units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide(text), units, narrow.data(), bytes, nullptr, nullptr);
    return narrow;
}

void readChooserContext(ChooserContext& chooser) {
    chooser.currentDirectory = callStringGetter(chooser, "getCurrentDirectoryString");
    chooser.selectedShortFileName = callStringGetter(chooser, "getSelectedShortFileName");
    chooser.dialogTitle = callStringGetter(chooser, "getDialogTitle");
    chooser.multiSelectionEnabled = callBooleanGetter(chooser, "isMultiSelectionEnabled");
    chooser.directorySelectionEnabled = callBooleanGetter(chooser, "isDirectorySelectionEnabled");
    chooser.fileFilterIndex = storedFilterIndex(callIntGetter(chooser, "getFileFilterIndex"));
    readFileFilters(chooser);
    chooser.fileFilterString = callStringGetter(chooser, "getFileFilterString");
    findOwnerWindow(chooser);
}

void findOwnerWindow(ChooserContext& chooser) {
    HWND owner = nullptr;
    if (chooser.parentComponent) {
        try {
            owner = lookupJawtWindow(chooser);
        } catch (...) {
            clearJavaException(chooser.env);
            writeLine("Dialquist: an error occurred initializing Java window");
            owner = nullptr;
        }
    }
    if (!owner) {
        writeLine("Dialquist: Using foreground window as fallback");
        owner = ::GetForegroundWindow();
    }
    chooser.owner = owner;
}

namespace {
bool failDelivery(JNIEnv* env) {
    clearJavaException(env);
    return false;
}
}  // namespace

bool deliverSelection(ChooserContext& chooser, const std::vector<std::u16string>& paths) {
    JNIEnv* env = chooser.env;
    tavro::JniLocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
    if (!stringClass) return failDelivery(env);
    tavro::JniLocalRef<jstring> emptyText(env, env->NewStringUTF(""));
    if (!emptyText) return failDelivery(env);
    tavro::JniLocalRef<jobjectArray> jstrings(
        env, env->NewObjectArray(static_cast<jsize>(paths.size()), stringClass.get(), emptyText.get()));
    if (!jstrings) return failDelivery(env);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        tavro::JniLocalRef<jstring> jfile(
            env, env->NewString(reinterpret_cast<const jchar*>(paths[i].data()), static_cast<jsize>(paths[i].size())));
        if (!jfile) return failDelivery(env);
        env->SetObjectArrayElement(jstrings.get(), static_cast<jsize>(i), jfile.get());
    }
    jmethodID setSelectedFiles = chooserMethod(chooser, "setSelectedFiles", "([Ljava/lang/String;)V");
    if (!setSelectedFiles) return false;
    env->CallVoidMethod(chooser.chooserObject, setSelectedFiles, jstrings.get());
    clearJavaException(env);
    return true;
}

}  // namespace pickora
