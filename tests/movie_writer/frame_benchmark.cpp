// Time per 640 x 480 frame through addFrameN (Java array -> native copy -> media buffer ->
// a sink writer that checks and drops the sample) next to one memcpy of the frame's bytes.
// Run under Wine: reelwright_frame_benchmark [frames]
#include <com_vyk_win_jni_Reelwright.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "java_vm_standin.h"
#include "media_standins.h"
#include "writer.h"

namespace {

double seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

template <typename Step>
double bestMicrosecondsPerRun(int runs, int repeats, Step&& step) {
    double best = 1e30;
    for (int r = 0; r < repeats; ++r) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        for (int i = 0; i < runs; ++i) step(i);
        QueryPerformanceCounter(&end);
        best = std::min(best, seconds(start, end) * 1e6 / runs);
    }
    return best;
}

// The part of a Java VM that addFrameN uses, handing out the array's own storage as the
// real VM pins it (the test stand-in hands out copies, which would dominate the figure).
struct PinnedIntArray {
    std::vector<jint> values;
};

jsize JNICALL pinnedLength(JNIEnv*, jarray array) {
    return jsize(reinterpret_cast<PinnedIntArray*>(array)->values.size());
}
void* JNICALL pinnedElements(JNIEnv*, jarray array, jboolean* isCopy) {
    if (isCopy) *isCopy = JNI_FALSE;
    return reinterpret_cast<PinnedIntArray*>(array)->values.data();
}
void JNICALL pinnedRelease(JNIEnv*, jarray, void*, jint) {}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 250;
    constexpr jint width = 640, height = 480;
    constexpr size_t bytes = size_t(width) * height * 4;

    HMODULE library = LoadLibraryW(L"Reelwright.dll");
    if (!library) {
        std::printf("Reelwright.dll did not load\n");
        return 1;
    }
    auto function = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(library, name)); };
    const auto initializeN = reinterpret_cast<decltype(&Java_com_vyk_win_jni_Reelwright_initializeN)>(
        function("Java_com_vyk_win_jni_Reelwright_initializeN"));
    const auto initializeVideoStreamN =
        reinterpret_cast<decltype(&Java_com_vyk_win_jni_Reelwright_initializeVideoStreamN)>(
            function("Java_com_vyk_win_jni_Reelwright_initializeVideoStreamN"));
    const auto addFrameN = reinterpret_cast<decltype(&Java_com_vyk_win_jni_Reelwright_addFrameN)>(
        function("Java_com_vyk_win_jni_Reelwright_addFrameN"));
    const auto closeN = reinterpret_cast<decltype(&Java_com_vyk_win_jni_Reelwright_closeN)>(
        function("Java_com_vyk_win_jni_Reelwright_closeN"));

    StandInSinkWriterReset();
    StandInSinkWriterRecord()->keepSampleBytes = false;
    tavro::test::JavaVmStandIn java;
    JNIEnv* env = java.env();
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"reelwright-benchmark.mp4";
    if (!initializeN(env, nullptr, java.newString(std::u16string(path.begin(), path.end()))) ||
        !initializeVideoStreamN(env, nullptr, width, height)) {
        std::printf("the movie could not be opened\n");
        return 1;
    }
    const jintArray pixels = java.newIntArray(std::vector<jint>(size_t(width) * height, 0x00336699));

    JNINativeInterface_ pinningFunctions{};
    pinningFunctions.GetArrayLength = pinnedLength;
    pinningFunctions.GetPrimitiveArrayCritical = pinnedElements;
    pinningFunctions.ReleasePrimitiveArrayCritical = pinnedRelease;
    JNIEnv_ pinningEnv{};
    pinningEnv.functions = &pinningFunctions;
    PinnedIntArray pinned{std::vector<jint>(size_t(width) * height, 0x00336699)};
    const auto pinnedArray = reinterpret_cast<jintArray>(&pinned);

    // The frame and the plain copy are timed in alternating rounds, so that a busy machine
    // slows both alike; the best round of each counts.
    std::vector<unsigned char> source(bytes, 0x5A), target(bytes);
    bool allWritten = true;
    double frameUs = 1e30, copyUs = 1e30;
    const int rounds = 10, perRound = std::max(1, frames / rounds);
    for (int round = 0; round < rounds; ++round) {
        frameUs = std::min(frameUs, bestMicrosecondsPerRun(perRound, 1, [&](int i) {
            pinned.values[size_t(i)] = i;  // a frame that changes, as a real one does
            allWritten = addFrameN(&pinningEnv, nullptr, pinnedArray, 400'000) && allWritten;
        }));
        copyUs = std::min(copyUs, bestMicrosecondsPerRun(perRound, 1, [&](int i) {
            source[size_t(i) % bytes] = static_cast<unsigned char>(i);
            std::memcpy(target.data(), source.data(), bytes);
        }));
    }
    const double standInFrameUs = bestMicrosecondsPerRun(frames / 4 + 1, 1, [&](int) {
        allWritten = addFrameN(env, nullptr, pixels, 400'000) && allWritten;
    });
    closeN(env, nullptr);
    DeleteFileW(path.c_str());

    // The parts: the stand-in VM's critical region alone, and the writer alone on native pixels.
    const double criticalUs = bestMicrosecondsPerRun(frames, 3, [&](int) {
        void* elements = env->GetPrimitiveArrayCritical(pixels, nullptr);
        env->ReleasePrimitiveArrayCritical(pixels, elements, JNI_ABORT);
    });
    std::vector<UINT32> native(size_t(width) * height, 0x00336699);
    double writerUs = 0;
    {
        Writer writer;
        const std::string ansiPath(path.begin(), path.end());
        if (SUCCEEDED(writer.initialize(ansiPath.c_str())) && SUCCEEDED(writer.initializeVideo(width, height))) {
            writerUs = bestMicrosecondsPerRun(frames, 3, [&](int) { writer.addFrame(native.data(), 400'000, true); });
        }
        writer.closeup();
        DeleteFileW(path.c_str());
    }

    std::printf("frames written: %s (%d in all, best of 10 rounds)\n", allWritten ? "all" : "NOT ALL", frames);
    std::printf("addFrameN 640x480 (array pinned as the Java VM does): %.1f us per frame\n", frameUs);
    std::printf("addFrameN 640x480 through the test stand-in VM: %.1f us per frame\n", standInFrameUs);
    std::printf("  of which the stand-in VM's critical region: %.1f us\n", criticalUs);
    std::printf("  Writer::addFrame on native pixels: %.1f us\n", writerUs);
    std::printf("memcpy 1228800 bytes: %.1f us\n", copyUs);
    std::printf("ratio: %.2f x one memcpy\n", frameUs / copyUs);
    return allWritten ? 0 : 1;
}
