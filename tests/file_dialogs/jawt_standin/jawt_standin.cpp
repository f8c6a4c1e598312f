// A jawt.dll for the dialog suite: an AWT native interface whose drawing surfaces report a
// window the test chose, and which can be told to fail at each step.
#include "jawt_standin.h"

#include <jawt_md.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <type_traits>

namespace {

JawtStandInCounts counts{};
JAWT_DrawingSurface theSurface{};
JAWT_DrawingSurfaceInfo theInfo{};
JAWT_Win32DrawingSurfaceInfo theWin32Info{};

std::wstring environmentValue(const wchar_t* name) {
    wchar_t value[256] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 256);
    return length > 0 && length < 256 ? std::wstring(value, length) : std::wstring();
}

bool failsAt(const wchar_t* step) { return environmentValue(L"TAVRO_JAWT_FAIL") == step; }

jint JNICALL lockSurface(JAWT_DrawingSurface*) {
    ++counts.locks;
    return 0;
}

void JNICALL unlockSurface(JAWT_DrawingSurface*) { ++counts.unlocks; }

JAWT_DrawingSurfaceInfo* JNICALL getSurfaceInfo(JAWT_DrawingSurface*) {
    if (failsAt(L"info")) return nullptr;
    ++counts.infosGiven;
    const std::wstring window = environmentValue(L"TAVRO_JAWT_WINDOW");
    theWin32Info.hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::wcstoull(window.c_str(), nullptr, 16)));
    theInfo.platformInfo = &theWin32Info;
    theInfo.ds = &theSurface;
    return &theInfo;
}

void JNICALL freeSurfaceInfo(JAWT_DrawingSurfaceInfo*) { ++counts.infosFreed; }

JAWT_DrawingSurface* JNICALL getDrawingSurface(JNIEnv* env, jobject target) {
    if (failsAt(L"throw")) {
        jclass error = env->FindClass("java/lang/IllegalStateException");
        if (error) env->ThrowNew(error, "no peer");
        return nullptr;
    }
    if (failsAt(L"surface")) return nullptr;
    ++counts.surfacesGiven;
    theSurface.env = env;
    theSurface.target = target;
    theSurface.Lock = lockSurface;
    theSurface.GetDrawingSurfaceInfo = getSurfaceInfo;
    theSurface.FreeDrawingSurfaceInfo = freeSurfaceInfo;
    theSurface.Unlock = unlockSurface;
    return &theSurface;
}

void JNICALL freeDrawingSurface(JAWT_DrawingSurface*) { ++counts.surfacesFreed; }

}  // namespace

// Exported through the .def files under the runtime's own names: "JAWT_GetAWT" in 64-bit,
// "_JAWT_GetAWT@8" (decorated __stdcall) in the 32-bit runtime.
extern "C" jboolean JNICALL standInGetAwt(JNIEnv*, JAWT* awt);
static_assert(std::is_same_v<decltype(&standInGetAwt), decltype(&JAWT_GetAWT)>, "the accessor as jawt.h declares it");

extern "C" jboolean JNICALL standInGetAwt(JNIEnv*, JAWT* awt) {
    ++counts.accessorCalls;
    counts.lastRequestedVersion = awt->version;
    if (failsAt(L"access")) return JNI_FALSE;
    awt->GetDrawingSurface = getDrawingSurface;
    awt->FreeDrawingSurface = freeDrawingSurface;
    return JNI_TRUE;
}

extern "C" __declspec(dllexport) void jawtStandInCounts(JawtStandInCounts* out) { *out = counts; }
