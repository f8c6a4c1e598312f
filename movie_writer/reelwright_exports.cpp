// The native methods of com.vyk.win.jni.Reelwright: one shared Writer, driven by one Java
// thread at a time; every status becomes true (zero or more) or false.
#include <com_vyk_win_jni_Reelwright.h>

#include <algorithm>
#include <cstring>
#include <iostream>  // the standard streams exist before sharedWriter's constructor prints
#include <new>
#include <string>
#include <vector>

#include <tavro/boundary.h>
#include <tavro/jni_refs.h>

#include "frame_math.h"
#include "trace.h"
#include "writer.h"

namespace {

// Built when the library loads (its constructor line shows that once) and never destroyed: at
// process exit a destructor would release the sink writer and source readers from inside the
// loader, after the platform's worker threads are gone. The end of the process reclaims it.
alignas(Writer) unsigned char sharedWriterStorage[sizeof(Writer)];
Writer& sharedWriter = *::new (sharedWriterStorage) Writer;
jint frameWidth = 0;
jint frameHeight = 0;
// The native copy of the latest frame, kept between frames so that each frame does not pay
// for fresh pages; the pixels are encoded from here after the Java array is let go.
std::vector<UINT32> frameCopy;

jboolean succeeded(HRESULT status) { return status >= 0 ? JNI_TRUE : JNI_FALSE; }

// Fixed movie of the self-test, written into the current directory from a WAV file there.
constexpr char kTestMoviePath[] = "Reelwright self-test.mp4";
constexpr char kTestSoundPath[] = "Reelwright self-test.wav";
constexpr UINT64 kTestTrackLength = 723'060'000;  // 72.306 s
constexpr int kTestTracks = 5;
constexpr UINT32 kTestWidth = 640;
constexpr UINT32 kTestHeight = 480;
constexpr int kTestFrames = 8325;  // 333 s at 25 frames per second
constexpr UINT64 kTestFrameDuration = 400'000;

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL Java_com_vyk_win_jni_Reelwright_testN(JNIEnv*, jclass) {
    // Only memory can run out here; the self-test reports through its trace lines.
    tavro::guardBoundary([] {
        Writer writer;
        writer.initialize(kTestMoviePath);
        writer.initializeAudio();
        for (int k = 0; k < kTestTracks; ++k) {
            writer.addAudioTrack(kTestSoundPath, UINT64(k) * kTestTrackLength, UINT64(k + 1) * kTestTrackLength);
        }
        writer.initializeVideo(kTestWidth, kTestHeight);
        std::vector<UINT32> frame(size_t{kTestWidth} * kTestHeight);
        for (int i = 0; i < kTestFrames; ++i) {
            // Full green, blue rising with the frame number.
            std::fill(frame.begin(), frame.end(), 0x0000FF00u + UINT32(i % 256));
            writer.addFrame(frame.data(), kTestFrameDuration, true);
            if (i % 10 == 0) reelwright::traceLine("Adding frame: " + std::to_string(i));
        }
        writer.closeup();
    });
    return JNI_TRUE;
}

JNIEXPORT jboolean JNICALL Java_com_vyk_win_jni_Reelwright_initializeN(JNIEnv* env, jclass, jstring path) {
    return tavro::guardBoundary(jboolean(JNI_FALSE), [&] {
        std::string moviePath;
        {
            tavro::JniUtfChars chars(env, path);
            // Characters the runtime cannot give: the movie goes to the current directory.
            moviePath = chars ? chars.get() : "output.mp4";
        }
        return succeeded(sharedWriter.initialize(moviePath.c_str()));
    });
}

JNIEXPORT jboolean JNICALL Java_com_vyk_win_jni_Reelwright_initializeVideoStreamN(JNIEnv*, jclass, jint width,
                                                                                jint height) {
    // A failure is reported as false below; the size is taken all the same.
    const HRESULT status = tavro::guardBoundary(HRESULT(E_OUTOFMEMORY), [&] {
        return sharedWriter.initializeVideo(UINT32(width), UINT32(height));
    });
    frameWidth = width;
    frameHeight = height;
    return succeeded(status);
}

JNIEXPORT jboolean JNICALL Java_com_vyk_win_jni_Reelwright_initializeAudioN(JNIEnv*, jclass) {
    // A mixer that could not be made leaves the movie without sound.
    tavro::guardBoundary([] { sharedWriter.initializeAudio(); });
    return JNI_TRUE;
}

JNIEXPORT jboolean JNICALL Java_com_vyk_win_jni_Reelwright_addAudioTrackN(JNIEnv* env, jclass, jstring path,
                                                                        jlong start, jlong end) {
    return tavro::guardBoundary(jboolean(JNI_FALSE), [&]() -> jboolean {
        std::string trackPath;
        {
            tavro::JniUtfChars chars(env, path);
            if (!chars) return JNI_FALSE;
            trackPath = chars.get();
        }
        return succeeded(sharedWriter.addAudioTrack(trackPath.c_str(), UINT64(start), UINT64(end)));
    });
}

JNIEXPORT jboolean JNICALL Java_com_vyk_win_jni_Reelwright_addFrameN(JNIEnv* env, jclass, jintArray pixels,
                                                                   jlong duration) {
    return tavro::guardBoundary(jboolean(JNI_FALSE), [&]() -> jboolean {
        const auto count = reelwright::framePixelCount(frameWidth, frameHeight);
        if (!count || !pixels) return JNI_FALSE;
        // Never read past the Java array: a short one is no frame at all.
        if (size_t(env->GetArrayLength(pixels)) < *count) return JNI_FALSE;
        frameCopy.resize(*count);
        {
            tavro::JniCriticalArray region(env, pixels);
            if (!region) return JNI_FALSE;
            if (*count) std::memcpy(frameCopy.data(), region.get(), *count * sizeof(UINT32));
        }
        return succeeded(sharedWriter.addFrame(frameCopy.data(), UINT64(duration), true));
    });
}

JNIEXPORT jboolean JNICALL Java_com_vyk_win_jni_Reelwright_closeN(JNIEnv*, jclass) {
    return tavro::guardBoundary(jboolean(JNI_FALSE), [] { return succeeded(sharedWriter.closeup()); });
}

}  // extern "C"
