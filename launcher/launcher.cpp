// Tavro.exe: finds the Java runtime inside the application directory, writes the security
// policy, creates the Java VM in this process and runs the application's main class.
#include "launch_report.h"
#include "launch_texts.h"

#include <tavro/jni_refs.h>
#include <tavro/win_handles.h>

#include <jni.h>
#include <shellapi.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

namespace tavro::launcher {

namespace {

using CreateJavaVmFunction = jint(JNICALL*)(JavaVM**, void**, void*);
// Called exactly as jni.h declares it: __stdcall in the 32-bit runtime.
static_assert(std::is_same_v<CreateJavaVmFunction, decltype(&JNI_CreateJavaVM)>);

constexpr bool kTraceEnabled = true;

// The single-instance guard. Written before the guard thread starts; from then on only the
// guard thread touches it, and it closes it.
HANDLE guardHandle = nullptr;
// The JVM library once found, and the class path that the library-folder scan extends.
std::string runtimeLib;
std::string classPath;

__attribute__((format(printf, 1, 2))) void trace(const char* format, ...) {
    if (!kTraceEnabled) return;
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    // The VM writes to the same stream through its own runtime; keep the order readable.
    std::fflush(stdout);
}

void traceLine(const char* text) {
    if (!kTraceEnabled) return;
    std::puts(text);
    std::fflush(stdout);
}

class IRunnable {
public:
    virtual ~IRunnable() = default;
    virtual void run() = 0;
};

// Ends the guard 30 seconds after start: a later start is no longer refused, even while this
// instance still runs. The primary thread owns the mutex, so the release itself may be
// refused; closing the last handle is what frees the name.
class MutexRunnable : public IRunnable {
public:
    void run() override {
        ::Sleep(30000);
        ::ReleaseMutex(guardHandle);
        ::CloseHandle(guardHandle);
        guardHandle = nullptr;
    }
};

// At namespace scope: constant-initialised, so no guarded first use (whose guard allocates).
MutexRunnable guardRunnable;

DWORD WINAPI runGuardThread(void* runnable) {
    static_cast<IRunnable*>(runnable)->run();
    return 0;
}

bool statusReadable(const std::string& path, struct __stat64& status) {
    return ::_stat64(path.c_str(), &status) == 0;
}

bool exists(const std::string& path) {
    struct __stat64 status;
    return statusReadable(path, status);
}

bool isDirectory(const std::string& path) {
    struct __stat64 status;
    return statusReadable(path, status) && (status.st_mode & _S_IFDIR) != 0;
}

// The launcher's own path, read whole even when it is longer than MAX_PATH: a cut-off path
// would name a different folder to load the runtime from.
std::string ownFilePath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        ::SetLastError(0);
        const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size() || path.size() >= 32768) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// Appends every archive below `folder` (which ends with a backslash), depth first in
// listing order. A folder that is a junction or symbolic link is not entered: one that leads
// back to a folder above it would make the scan endless.
void addArchivesToClassPath(const std::string& folder) {
    WIN32_FIND_DATAA entry;
    const UniqueFindHandle listing = adoptFindHandle(::FindFirstFileA((folder + "*").c_str(), &entry));
    if (!listing) return;
    do {
        const std::string path = folder + entry.cFileName;
        if (isDirectory(path)) {
            const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (!link && !isSelfOrParentEntry(entry.cFileName)) addArchivesToClassPath(path + "\\");
        } else if (isArchivePath(path)) {
            classPath += path + ";";
        }
    } while (::FindNextFileA(listing.get(), &entry));
}

template <typename Function>
Function exportedFunction(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

// The command-line arguments after the program path, each with exactly its UTF-16 characters.
jobjectArray javaArguments(JNIEnv* env, jclass stringClass) {
    int count = 0;
    const LocalMemory<wchar_t*> entries(::CommandLineToArgvW(::GetCommandLineW(), &count));
    const jsize length = entries && count > 1 ? static_cast<jsize>(count - 1) : 0;
    const jobjectArray arguments = env->NewObjectArray(length, stringClass, nullptr);
    if (!arguments) return nullptr;
    for (jsize i = 0; i < length; ++i) {
        const wchar_t* entry = entries.get()[i + 1];
        const JniLocalRef<jstring> argument(
            env, env->NewString(reinterpret_cast<const jchar*>(entry), static_cast<jsize>(std::wcslen(entry))));
        env->SetObjectArrayElement(arguments, i, argument.get());
    }
    return arguments;
}

int launch(const char* commandLineTail) {
    guardHandle = ::CreateMutexA(nullptr, TRUE, kGuardName);
    if (::GetLastError() == ERROR_ALREADY_EXISTS) return 1;
    const UniqueHandle guardThread(::CreateThread(nullptr, 0, runGuardThread, &guardRunnable, 0, nullptr));

    trace("Arguments: %s \n", commandLineTail);

    const std::string ownPath = ownFilePath();
    if (::GetLastError() != 0) showSystemError();
    const std::string applicationDirectory = ownPath.substr(0, ownPath.find_last_of('\\'));

    const std::string jreCurrent = applicationDirectory + "\\Java";
    if (!exists(jreCurrent)) reportFatalLaunchError("Can't locate JRE");
    const std::string jvmPath = jreCurrent + "\\bin\\client\\jvm.dll";
    if (!exists(jvmPath)) reportFatalLaunchError("Could not load jvm.dll");
    runtimeLib = jvmPath;

    // Libraries loaded here stay loaded for the life of the process: the VM runs from them.
    const std::string dllCurrent = jreCurrent + "\\bin\\msvcr100.dll";
    trace("jreCurrent: %s \n", jreCurrent.c_str());
    trace("dllCurrent: %s \n", dllCurrent.c_str());
    const int dllCurrentStat = exists(dllCurrent) ? 0 : -1;
    trace("dllCurrent stat: %i \n", dllCurrentStat);
    if (dllCurrentStat == 0 && !::LoadLibraryA(dllCurrent.c_str()))
        reportLaunchError("Error loading msvcr100.dll", false);
    traceLine("dllCurrent loaded! ");

    const HMODULE jvm = ::LoadLibraryA(runtimeLib.c_str());
    if (!jvm) reportFatalLaunchError("Error loading JVM");
    trace("runtimeLib: %s \n", runtimeLib.c_str());

    exportedFunction<FARPROC>(jvm, "JNI_GetCreatedJavaVMs");
    traceLine("JNI_GetCreatedJavaVMs ");
    const auto createJavaVm = exportedFunction<CreateJavaVmFunction>(jvm, "JNI_CreateJavaVM");
    traceLine("JNI_CreateJavaVM ");
    // A library without the entry point is as unusable as one that does not load.
    if (!createJavaVm) reportFatalLaunchError("Error loading JVM");

    const std::string path = cleanPathVariable(environmentValue("PATH").value_or(""));

    const std::string qtHome = applicationDirectory + "\\lib\\";
    trace("qtHome: %s \n", qtHome.c_str());
    for (const char* name : {"QTJNative.dll", "QTJavaNative.dll"}) {
        const std::string library = qtHome + name;
        if (!::LoadLibraryA(library.c_str())) trace("Error loading %s: %s \n", name, library.c_str());
    }

    // Without the policy the security manager would refuse the application everything.
    const auto policyPath = writePolicyFile(applicationDirectory, qtHome);
    if (!policyPath) reportFatalLaunchError("Can't write policy file");

    std::string securityParam = kSecurityParam;
    std::string polParam = policyOption(*policyPath);
    trace("securityParam: %s \n", securityParam.c_str());
    trace("polParam: %s \n", polParam.c_str());

    std::string libPath = libraryPathOption(applicationDirectory, path);
    trace("libPath: %s \n", libPath.c_str());

    classPath = classPathPrefix(applicationDirectory, qtHome);
    addArchivesToClassPath(qtHome);
    trace("classPath: %s \n", classPath.c_str());

    const auto userProfile = environmentValue("USERPROFILE");
    std::string errorFile = errorFileOption(userProfile.value_or(""));
    std::string initialHeap = "-Xms256m";
    std::string maximumHeap = "-Xmx512m";
    std::string disableMixing = "-Dsun.awt.disableMixing=true";
    std::string preferIpv4 = "-Djava.net.preferIPv4Stack=true";

    if (userProfile) ::SetCurrentDirectoryA(userProfile->c_str());

    JavaVMOption options[] = {
        {classPath.data(), nullptr},   {libPath.data(), nullptr},     {securityParam.data(), nullptr},
        {polParam.data(), nullptr},    {errorFile.data(), nullptr},   {initialHeap.data(), nullptr},
        {maximumHeap.data(), nullptr}, {disableMixing.data(), nullptr}, {preferIpv4.data(), nullptr},
    };
    JavaVMInitArgs initArguments{};
    initArguments.version = JNI_VERSION_1_4;
    initArguments.nOptions = static_cast<jint>(sizeof options / sizeof options[0]);
    initArguments.options = options;
    initArguments.ignoreUnrecognized = JNI_TRUE;

    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    const jint created = createJavaVm(&vm, reinterpret_cast<void**>(&env), &initArguments);
    if (created < 0) {
        trace("Can't create Java VM [Code:%d]\n", static_cast<int>(created));
        reportFatalLaunchError("Can't create Java VM ");
    }

    const jclass mainClass = env->FindClass(kMainClass);
    if (!mainClass) {
        env->ExceptionDescribe();
        trace("Failed to find class:\n   mainClass: %s\n   classPath: %s\n   libPath: %s\n\n", kMainClass,
              classPath.c_str(), libPath.c_str());
        reportFatalLaunchError("Failed to find main class");
    }
    const jmethodID mainMethod = env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V");
    if (!mainMethod) {
        if (env->ExceptionOccurred()) env->ExceptionDescribe();
        env->FatalError("Failed to find jmethodID of 'main'");
        return 1;  // FatalError does not return
    }
    const jclass stringClass = env->FindClass("java/lang/String");
    if (!stringClass) {
        if (env->ExceptionOccurred()) env->ExceptionDescribe();
        env->FatalError("Failed to find java/lang/String");
        return 1;
    }

    env->CallStaticVoidMethod(mainClass, mainMethod, javaArguments(env, stringClass));
    if (env->ExceptionOccurred()) env->ExceptionDescribe();

    // Returns once the application's last non-daemon thread has ended.
    vm->DestroyJavaVM();
    return 0;
}

}  // namespace

}  // namespace tavro::launcher

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLineTail, int) {
    return tavro::launcher::launch(commandLineTail);
}
