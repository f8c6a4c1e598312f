// The library's load entries. Loading creates none of the services' state: those that keep any
// make it on first use.
#include <windows.h>

#include <jni.h>

namespace {

// The C++ runtime makes its exception machinery on the first throw of the process: the
// thread-local storage behind its per-thread exception state and, in the 32-bit product, the
// unwinder's lock and frame tables, through allocations it does not check (a failed one
// crashes or aborts). The first exception an export throws is usually an out-of-memory one, so
// one throw here, while the Java VM loads the library outside the loader lock, makes that
// machinery before it can be short of memory.
void prepareExceptions() noexcept {
    try {
        throw 0;
    } catch (int) {
    }
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* /*vm*/, void* /*reserved*/) {
    prepareExceptions();
    return JNI_VERSION_1_4;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD /*reason*/, LPVOID /*reserved*/) {
    return TRUE;
}
