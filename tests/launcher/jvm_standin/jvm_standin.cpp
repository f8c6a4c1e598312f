// jvm.dll for tests: JNI_CreateJavaVM over the Java VM stand-in, with a main class whose
// static main records the arguments it receives.
//
// Record file: the path in the environment variable TAVRO_JVM_RECORD (nothing is recorded
// when it is unset). UTF-8 text, appended, one "key=value" or "key" item per line ending in
// LF; a CR or LF inside a value is written as the two characters \r or \n. In order of events:
//   version=0x00010004          JavaVMInitArgs.version, 8 hex digits
//   option=<text>               each option string, in order (from the ANSI code page)
//   ignoreUnrecognized=0|1
//   cwd=<directory>             the current directory when the VM was created
//   created | createFailed=<code>
//   findClass=<name>            each FindClass call
//   method=<name> <signature>   each GetStaticMethodID/GetMethodID call
//   mainArgs=<count>            main was called with a String[] of that length ("null" for none)
//   arg=<element>               each element of that array ("(null)" for a null element)
//   mainThrew=<class>           main left this exception pending (mode main-throws)
//   mainReturned                main returned to its caller
//   described=<line>            ExceptionDescribe printed this ("java.lang.X: message")
//   fatal=<message>             FatalError was called; the process then ends with code 3
//   jniMisuse=<count>           JNI calls made with an exception pending or in a critical region
//   destroyed                   DestroyJavaVM was called
//
// TAVRO_JVM_MODE (comma-separated) changes the VM:
//   fail-create      JNI_CreateJavaVM answers -6 (JNI_EINVAL)
//   no-main-class    FindClass("com/vyk/ov/tavro/Tavro") fails with NoClassDefFoundError
//   no-main-method   the class has no main: GetStaticMethodID fails with NoSuchMethodError
//   main-throws      main leaves a java.lang.IllegalStateException pending
// In the normal mode main prints "Tavro main: <n> argument(s)" and each argument (UTF-8) on
// a line of its own to standard output.
//
// The "-Dname=value" options become system properties of the VM.
#include "java_vm_standin.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tavro::test::JavaVmStandIn;

const char* const kMainClass = "com/vyk/ov/tavro/Tavro";

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::string ansiToUtf8(const char* text) {
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (size <= 1) return {};
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], size);
    wide.resize(static_cast<std::size_t>(size - 1));
    return utf8(wide);
}

std::wstring environmentVariable(const wchar_t* name) {
    const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(name, &value[0], size);
    value.resize(length < size ? length : 0);
    return value;
}

bool modeIs(const std::wstring& modes, const std::wstring& mode) {
    std::wstringstream list(modes);
    std::wstring item;
    while (std::getline(list, item, L',')) {
        if (item == mode) return true;
    }
    return false;
}

// Each item is appended and the file closed at once: FatalError ends the process without
// running any destructor.
void record(const std::string& key, const std::string* value = nullptr) {
    const std::wstring path = environmentVariable(L"TAVRO_JVM_RECORD");
    if (path.empty()) return;
    std::string line = key;
    if (value) {
        line += '=';
        for (char c : *value) {
            if (c == '\n') {
                line += "\\n";
            } else if (c == '\r') {
                line += "\\r";
            } else {
                line += c;
            }
        }
    }
    line += '\n';
    if (std::FILE* file = ::_wfopen(path.c_str(), L"ab")) {
        std::fwrite(line.data(), 1, line.size(), file);
        std::fclose(file);
    }
}

void record(const std::string& key, const std::string& value) { record(key, &value); }

// One VM per process, as with the real library.
JavaVmStandIn* g_vm = nullptr;
std::wstring g_modes;
const JNINativeInterface_* g_modelled = nullptr;
JNINativeInterface_ g_recording;

jclass JNICALL recordFindClass(JNIEnv* env, const char* name) {
    record("findClass", name ? name : "(null)");
    return g_modelled->FindClass(env, name);
}

jmethodID JNICALL recordGetStaticMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    record("method", std::string(name ? name : "(null)") + " " + (sig ? sig : "(null)"));
    return g_modelled->GetStaticMethodID(env, cls, name, sig);
}

jmethodID JNICALL recordGetMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    record("method", std::string(name ? name : "(null)") + " " + (sig ? sig : "(null)"));
    return g_modelled->GetMethodID(env, cls, name, sig);
}

void JNICALL recordExceptionDescribe(JNIEnv* env) {
    const std::size_t before = g_vm->describedLines().size();
    g_modelled->ExceptionDescribe(env);
    const std::vector<std::string> lines = g_vm->describedLines();
    for (std::size_t i = before; i < lines.size(); ++i) record("described", lines[i]);
}

jint destroy() {
    record("jniMisuse", std::to_string(g_vm->callsWithPendingException() + g_vm->callsInsideCritical()));
    record("destroyed");
    return JNI_OK;
}

jvalue runMain(JavaVmStandIn& vm, jobject, const std::vector<jvalue>& args) {
    auto array = static_cast<jobjectArray>(args[0].l);
    std::vector<std::string> arguments;
    if (!array) {
        record("mainArgs", "null");
    } else {
        for (jobject element : vm.arrayElements(array))
            arguments.push_back(element ? vm.stringUtf8(static_cast<jstring>(element)) : "(null)");
        record("mainArgs", std::to_string(arguments.size()));
        for (const std::string& argument : arguments) record("arg", argument);
    }
    if (modeIs(g_modes, L"main-throws")) {
        vm.throwNew("java/lang/IllegalStateException", "Tavro main failed");
        record("mainThrew", vm.pendingExceptionClass());
    } else {
        std::printf("Tavro main: %u argument(s)\n", static_cast<unsigned>(arguments.size()));
        for (const std::string& argument : arguments) std::printf("%s\n", argument.c_str());
        std::fflush(stdout);
    }
    record("mainReturned");
    return jvalue{};
}

void onFatalError(const std::string& message) {
    record("fatal", message);
    std::fprintf(stderr, "FATAL ERROR in native method: %s\n", message.c_str());
    std::fflush(stderr);
    ::ExitProcess(3);  // the real VM does not return from FatalError either
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* args) {
    if (!pvm || !penv || !args) return JNI_EINVAL;
    *pvm = nullptr;
    *penv = nullptr;
    g_modes = environmentVariable(L"TAVRO_JVM_MODE");
    const auto* init = static_cast<const JavaVMInitArgs*>(args);
    char version[16];
    std::snprintf(version, sizeof version, "0x%08lx", static_cast<unsigned long>(init->version));
    record("version", version);
    std::vector<std::pair<std::string, std::string>> properties;
    for (jint i = 0; i < init->nOptions; ++i) {
        const char* text = init->options[i].optionString;
        const std::string option = text ? ansiToUtf8(text) : "(null)";
        record("option", option);
        if (option.rfind("-D", 0) == 0) {
            const std::size_t equals = option.find('=');
            if (equals != std::string::npos)
                properties.emplace_back(option.substr(2, equals - 2), option.substr(equals + 1));
        }
    }
    record("ignoreUnrecognized", init->ignoreUnrecognized ? "1" : "0");
    std::wstring cwd(MAX_PATH, L'\0');
    DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), &cwd[0]);
    if (length >= cwd.size()) {
        cwd.resize(length);
        length = ::GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), &cwd[0]);
    }
    cwd.resize(length < cwd.size() ? length : 0);
    record("cwd", utf8(cwd));

    if (g_vm) {
        record("createFailed", std::to_string(JNI_EEXIST));
        return JNI_EEXIST;
    }
    if (modeIs(g_modes, L"fail-create")) {
        record("createFailed", std::to_string(JNI_EINVAL));
        return JNI_EINVAL;
    }

    g_vm = new JavaVmStandIn();  // lives as long as the process
    for (const auto& [name, value] : properties) g_vm->setSystemProperty(name, value);
    g_vm->defineClass(kMainClass);
    if (modeIs(g_modes, L"no-main-class")) g_vm->failFindClass(kMainClass);
    if (!modeIs(g_modes, L"no-main-method"))
        g_vm->defineMethod(kMainClass, "main", "([Ljava/lang/String;)V", runMain, true);
    g_vm->onFatalError(onFatalError);
    g_vm->onDestroy(destroy);

    JNIEnv* env = g_vm->env();
    g_modelled = env->functions;
    g_recording = *g_modelled;
    g_recording.FindClass = &recordFindClass;
    g_recording.GetStaticMethodID = &recordGetStaticMethodID;
    g_recording.GetMethodID = &recordGetMethodID;
    g_recording.ExceptionDescribe = &recordExceptionDescribe;
    env->functions = &g_recording;

    record("created");
    *pvm = g_vm->vm();
    *penv = env;
    return JNI_OK;
}

JNIEXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** vmBuf, jsize bufLen, jsize* nVMs) {
    const jsize count = g_vm ? 1 : 0;
    if (nVMs) *nVMs = count;
    if (count && vmBuf && bufLen > 0) vmBuf[0] = g_vm->vm();
    return JNI_OK;
}

}  // extern "C"
