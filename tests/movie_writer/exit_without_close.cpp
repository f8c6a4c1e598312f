// A Java application that ends while its movie is still open: the library is loaded, a movie
// with sound is opened and written to, and the process exits without closeN, as it does when
// the Java application exits while a movie export is under way. Exits with 0 when every call succeeded, 2
// when one failed; a crash or a hang at exit shows to the test that runs it.
//   exit_without_close <movie path> <WAV path>
#include <com_vyk_win_jni_Reelwright.h>

#include <windows.h>

#include <string>
#include <vector>

#include "java_vm_standin.h"

namespace {

template <typename F>
F exportOf(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 3;
    const HMODULE library = LoadLibraryW(L"Reelwright.dll");  // stays loaded, as under the Java VM
    if (!library) return 2;
    const auto initializeN = exportOf<decltype(&Java_com_vyk_win_jni_Reelwright_initializeN)>(
        library, "Java_com_vyk_win_jni_Reelwright_initializeN");
    const auto initializeVideoStreamN = exportOf<decltype(&Java_com_vyk_win_jni_Reelwright_initializeVideoStreamN)>(
        library, "Java_com_vyk_win_jni_Reelwright_initializeVideoStreamN");
    const auto initializeAudioN = exportOf<decltype(&Java_com_vyk_win_jni_Reelwright_initializeAudioN)>(
        library, "Java_com_vyk_win_jni_Reelwright_initializeAudioN");
    const auto addAudioTrackN = exportOf<decltype(&Java_com_vyk_win_jni_Reelwright_addAudioTrackN)>(
        library, "Java_com_vyk_win_jni_Reelwright_addAudioTrackN");
    const auto addFrameN = exportOf<decltype(&Java_com_vyk_win_jni_Reelwright_addFrameN)>(
        library, "Java_com_vyk_win_jni_Reelwright_addFrameN");
    if (!initializeN || !initializeVideoStreamN || !initializeAudioN || !addAudioTrackN || !addFrameN) return 2;

    tavro::test::JavaVmStandIn java;
    JNIEnv* env = java.env();
    constexpr jint width = 64, height = 48;
    bool written = initializeN(env, nullptr, java.newStringUtf8(argv[1])) &&
                   initializeVideoStreamN(env, nullptr, width, height) && initializeAudioN(env, nullptr) &&
                   addAudioTrackN(env, nullptr, java.newStringUtf8(argv[2]), 0, 10'000'000);
    // More than one segment's worth of frames, each with its audio chunks.
    const jintArray pixels = java.newIntArray(std::vector<jint>(size_t(width) * height, 0x00336699));
    for (int frame = 0; written && frame < 30; ++frame) written = addFrameN(env, nullptr, pixels, 400'000);
    return written ? 0 : 2;
}
