// The Java bridge of Reelwright.dll, driven through its exports with a stand-in Java VM and
// the recording sink writer: loading, the seven native methods, pixel arrays end to end, the
// "output.mp4" fallback and calls out of order.
#include <com_vyk_win_jni_Reelwright.h>

#include <gtest/gtest.h>

#include <vector>

#include "audio_test_support.h"
#include "java_vm_standin.h"
#include "media_standins.h"
#include "test_folder.h"

using standin::SinkCall;
using tavro::test::JavaVmStandIn;

namespace {

const standin::SinkWriterRecord& sink() { return *StandInSinkWriterRecord(); }

// Reelwright.dll, loaded once per process with its load-time output captured.
struct Library {
    HMODULE module = nullptr;
    std::string loadOutput;
    decltype(&Java_com_vyk_win_jni_Reelwright_testN) testN = nullptr;
    decltype(&Java_com_vyk_win_jni_Reelwright_initializeN) initializeN = nullptr;
    decltype(&Java_com_vyk_win_jni_Reelwright_initializeVideoStreamN) initializeVideoStreamN = nullptr;
    decltype(&Java_com_vyk_win_jni_Reelwright_initializeAudioN) initializeAudioN = nullptr;
    decltype(&Java_com_vyk_win_jni_Reelwright_addAudioTrackN) addAudioTrackN = nullptr;
    decltype(&Java_com_vyk_win_jni_Reelwright_addFrameN) addFrameN = nullptr;
    decltype(&Java_com_vyk_win_jni_Reelwright_closeN) closeN = nullptr;

    static Library& get() {
        static Library library;
        return library;
    }

private:
    template <typename F>
    void resolve(F& function, const char* name) {
        function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    Library() {
        {
            StdoutCapture out;
            module = LoadLibraryW(L"Reelwright.dll");  // stays loaded, as under the Java VM
            loadOutput = out.text();
        }
        if (!module) return;
        resolve(testN, "Java_com_vyk_win_jni_Reelwright_testN");
        resolve(initializeN, "Java_com_vyk_win_jni_Reelwright_initializeN");
        resolve(initializeVideoStreamN, "Java_com_vyk_win_jni_Reelwright_initializeVideoStreamN");
        resolve(initializeAudioN, "Java_com_vyk_win_jni_Reelwright_initializeAudioN");
        resolve(addAudioTrackN, "Java_com_vyk_win_jni_Reelwright_addAudioTrackN");
        resolve(addFrameN, "Java_com_vyk_win_jni_Reelwright_addFrameN");
        resolve(closeN, "Java_com_vyk_win_jni_Reelwright_closeN");
    }
};

class BridgeTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib.module) << "Reelwright.dll did not load";
        ASSERT_TRUE(lib.testN && lib.initializeN && lib.initializeVideoStreamN && lib.initializeAudioN &&
                    lib.addAudioTrackN && lib.addFrameN && lib.closeN);
        StandInSinkWriterReset();
        GetCurrentDirectoryW(MAX_PATH, previousDirectory_);
        SetCurrentDirectoryW(folder.path().c_str());
    }
    void TearDown() override {
        if (opened_) lib.closeN(env(), nullptr);
        SetCurrentDirectoryW(previousDirectory_);
    }

    JNIEnv* env() { return java.env(); }
    jstring javaString(const std::wstring& text) {
        return java.newString(std::u16string(text.begin(), text.end()));
    }
    bool openMovie(const std::wstring& name, jint width, jint height) {
        opened_ = true;
        return lib.initializeN(env(), nullptr, javaString(folder.file(name))) &&
               lib.initializeVideoStreamN(env(), nullptr, width, height);
    }
    jintArray pixels(size_t count, jint value = 0x00336699) {
        return java.newIntArray(std::vector<jint>(count, value));
    }

    Library& lib = Library::get();
    JavaVmStandIn java;
    TestFolder folder;

private:
    wchar_t previousDirectory_[MAX_PATH] = {};
    bool opened_ = false;
};

TEST_F(BridgeTest, LoadingBuildsTheSharedWriterOnce) {
    EXPECT_EQ(lib.loadOutput, "WMF: in writer constructor\n");
}

TEST_F(BridgeTest, JavaPixelsReachTheSinkWriterAsRgb32RowsInOrder) {
    constexpr jint width = 640, height = 480;
    ASSERT_TRUE(openMovie(L"movie.mp4", width, height));
    // A different colour on every row (0x00RRGGBB), a little variation along it.
    std::vector<jint> values(size_t(width) * height);
    for (jint y = 0; y < height; ++y)
        for (jint x = 0; x < width; ++x)
            values[size_t(y) * width + x] = jint((y & 0xFF) << 16 | ((y * 7 + x) & 0xFF) << 8 | (255 - (y >> 1)));
    const jintArray array = java.newIntArray(values);

    EXPECT_TRUE(lib.addFrameN(env(), nullptr, array, 400'000));

    ASSERT_EQ(sink().samples.size(), 1u);
    const auto& sample = sink().samples[0];
    EXPECT_EQ(sample.time, 0);
    EXPECT_EQ(sample.duration, 400'000);
    ASSERT_EQ(sample.bytes.size(), 1'228'800u);
    for (size_t i = 0; i < values.size(); ++i) {
        const UINT32 pixel = UINT32(values[i]);
        const BYTE expected[4] = {BYTE(pixel), BYTE(pixel >> 8), BYTE(pixel >> 16), 0};  // blue, green, red
        if (memcmp(&sample.bytes[i * 4], expected, 4) != 0) {
            ADD_FAILURE() << "pixel " << i % width << "," << i / width << " differs";
            break;
        }
    }
    // The array was only read, and given back at once.
    EXPECT_EQ(java.intArrayValue(array), values);
    EXPECT_EQ(java.lastReleaseMode(), JNI_ABORT);
    EXPECT_EQ(java.outstandingAcquisitions(), 0);
    EXPECT_EQ(java.callsInsideCritical(), 0);
}

TEST_F(BridgeTest, ARefusedCriticalRegionIsNoFrameAtAll) {
    ASSERT_TRUE(openMovie(L"movie.mp4", 8, 4));
    java.failCriticalAccess(true);
    EXPECT_FALSE(lib.addFrameN(env(), nullptr, pixels(32), 400'000));
    EXPECT_TRUE(sink().calls.size() == 3u);  // creation, AddStream, SetInputMediaType: nothing since
    java.failCriticalAccess(false);
    // Nor did it count towards the cadence: the 25th frame written ends the first segment.
    for (int n = 1; n <= 25; ++n) {
        ASSERT_TRUE(lib.addFrameN(env(), nullptr, pixels(32), 400'000));
        EXPECT_EQ(sink().count(SinkCall::NotifyEndOfSegment), n == 25 ? 1 : 0) << n;
    }
    EXPECT_EQ(sink().samples.front().time, 0);
}

TEST_F(BridgeTest, AnArrayShorterThanTheFrameIsRefusedUnread) {
    ASSERT_TRUE(openMovie(L"movie.mp4", 640, 480));
    EXPECT_FALSE(lib.addFrameN(env(), nullptr, pixels(307'199), 400'000));
    EXPECT_FALSE(lib.addFrameN(env(), nullptr, pixels(0), 400'000));
    EXPECT_FALSE(lib.addFrameN(env(), nullptr, nullptr, 400'000));
    EXPECT_EQ(java.lastReleaseMode(), -1);  // no element was even asked for
    EXPECT_EQ(sink().count(SinkCall::BeginWriting), 0);
    EXPECT_TRUE(sink().samples.empty());
    // A longer array is fine: the frame takes what it needs.
    EXPECT_TRUE(lib.addFrameN(env(), nullptr, pixels(307'201), 400'000));
    EXPECT_EQ(sink().samples.size(), 1u);
}

TEST_F(BridgeTest, APathWithoutCharactersBecomesOutputMp4InTheCurrentFolder) {
    java.failStringChars(true);
    EXPECT_TRUE(lib.initializeN(env(), nullptr, javaString(L"ignored.mp4")));
    java.failStringChars(false);
    ASSERT_EQ(sink().urls.size(), 1u);
    EXPECT_EQ(sink().urls[0], L"output.mp4");
    EXPECT_TRUE(TestFolder::exists(folder.file(L"output.mp4")));
    EXPECT_TRUE(lib.closeN(env(), nullptr));
}

TEST_F(BridgeTest, PathsArriveAsTheyAreAndTheirCharactersGoBack) {
    EXPECT_TRUE(lib.initializeN(env(), nullptr, javaString(folder.file(L"My Movie (1).mp4"))));
    ASSERT_EQ(sink().urls.size(), 1u);
    EXPECT_EQ(sink().urls[0], folder.file(L"My Movie (1).mp4"));
    EXPECT_EQ(java.outstandingAcquisitions(), 0);
    EXPECT_TRUE(lib.closeN(env(), nullptr));
}

TEST_F(BridgeTest, AFailedStartAnswersFalseAndLaterCallsTouchNothing) {
    StandInSinkWriterFail(SinkCall::CreateWriter, E_ACCESSDENIED, 0, -1);
    EXPECT_FALSE(lib.initializeN(env(), nullptr, javaString(folder.file(L"movie.mp4"))));
    EXPECT_FALSE(lib.initializeVideoStreamN(env(), nullptr, 8, 4));
    EXPECT_TRUE(lib.initializeAudioN(env(), nullptr));
    EXPECT_FALSE(lib.addAudioTrackN(env(), nullptr, javaString(L"sound.wav"), 0, 10'000'000));
    EXPECT_FALSE(lib.addFrameN(env(), nullptr, pixels(32), 400'000));
    EXPECT_EQ(sink().calls.size(), 1u);
    EXPECT_EQ(sink().sourceReadersCreated, 0);
    EXPECT_TRUE(lib.closeN(env(), nullptr));  // the platform started all the same and shuts down
}

TEST_F(BridgeTest, ATrackWithoutMixerOrPathAnswersFalse) {
    ASSERT_TRUE(openMovie(L"movie.mp4", 8, 4));
    EXPECT_FALSE(lib.addAudioTrackN(env(), nullptr, javaString(L"sound.wav"), 0, 10'000'000));
    EXPECT_TRUE(lib.initializeAudioN(env(), nullptr));
    java.failStringChars(true);
    EXPECT_FALSE(lib.addAudioTrackN(env(), nullptr, javaString(L"sound.wav"), 0, 10'000'000));
    java.failStringChars(false);
    EXPECT_EQ(sink().sourceReadersCreated, 0);
    EXPECT_EQ(sink().outputTypes.size(), 1u);
}

TEST_F(BridgeTest, CloseThenInitializeStartsANewMovieFromTheFirstSegment) {
    ASSERT_TRUE(openMovie(L"first.mp4", 8, 4));
    for (int n = 0; n < 10; ++n) ASSERT_TRUE(lib.addFrameN(env(), nullptr, pixels(32), 400'000));
    EXPECT_TRUE(lib.closeN(env(), nullptr));
    EXPECT_EQ(sink().count(SinkCall::Finalize), 1);
    EXPECT_EQ(sink().writersAlive, 0);

    StandInSinkWriterReset();
    ASSERT_TRUE(openMovie(L"second.mp4", 8, 4));
    for (int n = 1; n <= 25; ++n) {
        ASSERT_TRUE(lib.addFrameN(env(), nullptr, pixels(32), 400'000));
        EXPECT_EQ(sink().count(SinkCall::NotifyEndOfSegment), n == 25 ? 1 : 0) << n;
    }
    EXPECT_EQ(sink().samples.front().time, 0);
    EXPECT_EQ(sink().urls[0], folder.file(L"second.mp4"));
}

// A Java export that stopped without closeN: the next initializeN opens the new movie and the
// first one's sink writer and readers are let go.
TEST_F(BridgeTest, AnAbandonedMovieGivesWayToTheNextOne) {
    const std::wstring sound = folder.file(L"tone.wav");
    ASSERT_TRUE(audiotest::writeWav(sound, 22050, 16, 1, std::vector<std::uint8_t>(22050 * 2, 9)));
    ASSERT_TRUE(openMovie(L"abandoned.mp4", 8, 4));
    ASSERT_TRUE(lib.initializeAudioN(env(), nullptr));
    ASSERT_TRUE(lib.addAudioTrackN(env(), nullptr, javaString(sound), 0, 10'000'000));
    for (int n = 0; n < 3; ++n) ASSERT_TRUE(lib.addFrameN(env(), nullptr, pixels(32), 400'000));
    ASSERT_EQ(sink().writersAlive, 1);
    ASSERT_EQ(sink().sourceReadersAlive, 1);

    StandInSinkWriterReset();
    ASSERT_TRUE(openMovie(L"second.mp4", 8, 4));
    EXPECT_EQ(sink().writersAlive, 1);
    EXPECT_EQ(sink().sourceReadersAlive, 0);
    for (int n = 0; n < 30; ++n) ASSERT_TRUE(lib.addFrameN(env(), nullptr, pixels(32), 400'000));
    EXPECT_TRUE(lib.closeN(env(), nullptr));
    EXPECT_EQ(sink().writersAlive, 0);
    EXPECT_EQ(sink().count(SinkCall::Finalize), 1);
    EXPECT_EQ(sink().urls, std::vector<std::wstring>{folder.file(L"second.mp4")});
    ASSERT_EQ(sink().samples.size(), 30u);  // video only: the new movie has no mixer
    EXPECT_EQ(sink().samples.front().time, 0);
    EXPECT_EQ(sink().samples.back().time, 29 * 400'000);
}

TEST_F(BridgeTest, NegativeAndOverlongDurationsAreRefusedUnwritten) {
    ASSERT_TRUE(openMovie(L"movie.mp4", 8, 4));
    for (jlong duration : {jlong{-1}, jlong{-400'000}, INT64_MIN, jlong{36'000'000'001}}) {
        SCOPED_TRACE(duration);
        EXPECT_FALSE(lib.addFrameN(env(), nullptr, pixels(32), duration));
    }
    EXPECT_EQ(sink().count(SinkCall::BeginWriting), 0);
    EXPECT_TRUE(sink().samples.empty());
    EXPECT_TRUE(lib.addFrameN(env(), nullptr, pixels(32), 0));
    ASSERT_EQ(sink().samples.size(), 1u);
    EXPECT_EQ(sink().samples[0].duration, 0);
}

// The self-test's fixed files live in the current folder: it reads "Reelwright self-test.wav"
// and writes "Reelwright self-test.mp4".
TEST_F(BridgeTest, SelfTestWritesItsFixedMovieWithItsOwnWriter) {
    std::vector<std::uint8_t> second(22050 * 2);
    for (size_t i = 0; i < second.size(); ++i) second[i] = std::uint8_t(i * 13);
    ASSERT_TRUE(audiotest::writeWav(folder.file(L"Reelwright self-test.wav"), 22050, 16, 1, second));
    StandInSinkWriterRecord()->keepSampleBytes = false;
    std::string printed;
    {
        StdoutCapture out;
        EXPECT_TRUE(lib.testN(env(), nullptr));
        printed = out.text();
    }
    auto occurrences = [&](const std::string& text) {
        size_t n = 0;
        for (size_t at = printed.find(text); at != std::string::npos; at = printed.find(text, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(printed.rfind("WMF: in writer constructor\n", 0), 0u);
    EXPECT_EQ(occurrences("WMF: in writer constructor"), 1u);
    EXPECT_EQ(occurrences("Adding frame: "), 833u);  // every tenth of 8325 frames
    EXPECT_NE(printed.find("Adding frame: 0\n"), std::string::npos);
    EXPECT_NE(printed.find("Adding frame: 8320\n"), std::string::npos);

    ASSERT_EQ(sink().urls.size(), 1u);
    EXPECT_EQ(sink().urls[0], L"Reelwright self-test.mp4");
    EXPECT_TRUE(TestFolder::exists(folder.file(L"Reelwright self-test.mp4")));
    EXPECT_EQ(sink().sourceReadersCreated, 5);  // the sound five times, end to end

    size_t frames = 0, chunks = 0;
    LONGLONG lastFrameTime = -1;
    for (const auto& sample : sink().samples) {
        if (sample.totalLength == 640u * 480u * 4u) {
            ++frames;
            lastFrameTime = sample.time;
        } else {
            ++chunks;
        }
    }
    EXPECT_EQ(frames, 8325u);
    EXPECT_EQ(lastFrameTime, 8324LL * 400'000);
    EXPECT_EQ(chunks, 8325u * 4);
    EXPECT_EQ(sink().count(SinkCall::Finalize), 1);
    EXPECT_EQ(sink().writersAlive, 0);
}

}  // namespace
