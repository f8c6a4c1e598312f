// A whole movie through Reelwright's exports (open, video stream, audio, a track, two frames,
// close) with every failure point failing in turn: each allocation of the library, each media
// platform call it imports, each call of the stand-in sink writer and each failing VM call.
// Every run answers true only where the work was done, and leaves no writer, reader, handle or
// block behind.
#include <com_vyk_win_jni_Reelwright.h>

#include <tavro_test/fault_sweep.h>
#include <tavro_test/soak.h>
#include <tavro_test/vm_fault_points.h>

#include <gtest/gtest.h>

#include "audio_test_support.h"
#include "java_vm_standin.h"
#include "media_standins.h"
#include "test_folder.h"

using standin::SinkCall;
using tavro::test::failedPoint;

namespace {

struct Exports {
    HMODULE module = ::LoadLibraryW(L"Reelwright.dll");  // stays loaded, as under the Java VM
    template <typename F>
    F find(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    }
    decltype(&Java_com_vyk_win_jni_Reelwright_initializeN) initializeN =
        find<decltype(initializeN)>("Java_com_vyk_win_jni_Reelwright_initializeN");
    decltype(&Java_com_vyk_win_jni_Reelwright_initializeVideoStreamN) initializeVideoStreamN =
        find<decltype(initializeVideoStreamN)>("Java_com_vyk_win_jni_Reelwright_initializeVideoStreamN");
    decltype(&Java_com_vyk_win_jni_Reelwright_initializeAudioN) initializeAudioN =
        find<decltype(initializeAudioN)>("Java_com_vyk_win_jni_Reelwright_initializeAudioN");
    decltype(&Java_com_vyk_win_jni_Reelwright_addAudioTrackN) addAudioTrackN =
        find<decltype(addAudioTrackN)>("Java_com_vyk_win_jni_Reelwright_addAudioTrackN");
    decltype(&Java_com_vyk_win_jni_Reelwright_addFrameN) addFrameN =
        find<decltype(addFrameN)>("Java_com_vyk_win_jni_Reelwright_addFrameN");
    decltype(&Java_com_vyk_win_jni_Reelwright_closeN) closeN =
        find<decltype(closeN)>("Java_com_vyk_win_jni_Reelwright_closeN");
};

std::vector<tavro::test::FailingImportEntry> platformFailures() {
    return {
        TAVRO_FAILING_IMPORT("ole32.dll", CoInitializeEx, E_OUTOFMEMORY, 0),
        TAVRO_FAILING_IMPORT("mfplat.dll", MFStartup, E_OUTOFMEMORY, 0),
        TAVRO_FAILING_IMPORT("mfplat.dll", MFCreateMediaType, E_OUTOFMEMORY, 0),
        TAVRO_FAILING_IMPORT("mfplat.dll", MFCreateMemoryBuffer, E_OUTOFMEMORY, 0),
        TAVRO_FAILING_IMPORT("mfplat.dll", MFCreateSample, E_OUTOFMEMORY, 0),
        TAVRO_FAILING_IMPORT("mfplat.dll", MFCopyImage, E_OUTOFMEMORY, 0),
        TAVRO_FAILING_IMPORT("mfreadwrite.dll", MFCreateSourceReaderFromURL, E_OUTOFMEMORY, 0),
        TAVRO_FAILING_IMPORT("mf.dll", MFTranscodeGetAudioOutputAvailableTypes, E_OUTOFMEMORY, 0),
    };
}

bool sinkPointFails(const char* call) { return tavro::test::faultPointFails(call); }

TEST(ReelwrightFaultSweep, AWholeMovie) {
    static const Exports lib;
    ASSERT_TRUE(lib.module && lib.initializeN && lib.initializeVideoStreamN && lib.initializeAudioN &&
                lib.addAudioTrackN && lib.addFrameN && lib.closeN);
    const tavro::test::AllocationFaults allocations(lib.module);
    ASSERT_TRUE(allocations.active());
    const tavro::test::ImportFaults imports(lib.module, platformFailures());
    EXPECT_TRUE(imports.missing().empty()) << ::testing::PrintToString(imports.missing());

    TestFolder folder;
    const std::wstring sound = folder.file(L"tone.wav");
    std::vector<std::uint8_t> pcm(22050 * 2);  // half a second of 16-bit mono at 44.1 kHz
    for (size_t i = 0; i < pcm.size(); i += 2) pcm[i + 1] = std::uint8_t((i / 200) % 2 ? 0x20 : 0xE0);
    ASSERT_TRUE(audiotest::writeWav(sound, 44100, 16, 1, pcm));
    StandInAacUseDocumentedTypes();

    tavro::test::JavaVmStandIn java;
    tavro::test::VmFaultPoints vmFaults(java);
    JNIEnv* const env = java.env();
    auto javaString = [&](const std::wstring& text) { return java.newString(std::u16string(text.begin(), text.end())); };
    const jintArray frame = java.newIntArray(std::vector<jint>(8 * 4, 0x00336699));
    auto settled = [&](jboolean answer) {
        vmFaults.settle();
        return answer == JNI_TRUE;
    };

    const auto summary = tavro::test::sweepThenSoak("a whole movie", [&] {
        StandInSinkWriterReset();
        StandInSinkWriterFailWhen(sinkPointFails, E_OUTOFMEMORY);
        StdoutCapture traces;  // the writer's traces are its own business

        const bool opened = settled(lib.initializeN(env, nullptr, javaString(folder.file(L"movie.mp4"))));
        const bool video = settled(lib.initializeVideoStreamN(env, nullptr, 8, 4));
        EXPECT_TRUE(settled(lib.initializeAudioN(env, nullptr)));
        settled(lib.addAudioTrackN(env, nullptr, javaString(sound), 0, 4'000'000));
        settled(lib.addFrameN(env, nullptr, frame, 400'000));
        settled(lib.addFrameN(env, nullptr, frame, 400'000));
        settled(lib.closeN(env, nullptr));
        traces.finish();

        const standin::SinkWriterRecord& sink = *StandInSinkWriterRecord();
        StandInSinkWriterFailWhen(nullptr, S_OK);
        auto succeededCalls = [&](SinkCall kind) {
            int n = 0;
            for (const auto& call : sink.calls) n += call.call == kind && call.result >= 0;
            return n;
        };
        // Where an answer vouches for work, the work was done. (A track, a frame with sound and
        // the close answer success by design whatever their platform calls did: their traces
        // tell the failures.)
        if (opened) {
            EXPECT_EQ(succeededCalls(SinkCall::CreateWriter), 1) << "opened without a writer at " << failedPoint();
        }
        if (video) {
            EXPECT_GE(succeededCalls(SinkCall::AddStream), 1) << "a video stream never added at " << failedPoint();
            EXPECT_GE(succeededCalls(SinkCall::SetInputMediaType), 1) << failedPoint();
        }
        EXPECT_EQ(sink.writersAlive, 0) << "a sink writer left at " << failedPoint();
        EXPECT_EQ(sink.sourceReadersAlive, 0) << "a source reader left at " << failedPoint();
        EXPECT_EQ(java.outstandingAcquisitions(), 0) << failedPoint();
        EXPECT_EQ(java.callsWithPendingException(), 0) << failedPoint();
    }, {}, [] {
        tavro::test::SoakTolerance tolerance;  // the VM stand-in keeps each cycle's strings
        tolerance.privateBytesPerCycle = 16 * 1024;
        return tolerance;
    }());
    EXPECT_GT(summary.points, 30);
}

}  // namespace
