// The exported class Writer against the recording sink writer: streams and their types, frame
// samples and their times, the end-of-segment cadence, BeginWriting's retry, the teardown and
// calls out of order.
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "audio_mixer.h"
#include "audio_test_support.h"
#include "media_standins.h"
#include "test_folder.h"
#include "writer.h"

using standin::SinkCall;

namespace {

const standin::SinkWriterRecord& sink() { return *StandInSinkWriterRecord(); }

// A small frame whose every byte differs from its neighbours, so reordering would show.
std::vector<UINT32> patternFrame(UINT32 width, UINT32 height, UINT32 seed = 0) {
    std::vector<UINT32> pixels(size_t{width} * height);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = UINT32(0x00010203u * (i + 1) + seed * 0x01000000u);
    return pixels;
}

std::vector<BYTE> bytesOf(const std::vector<UINT32>& pixels) {
    const BYTE* first = reinterpret_cast<const BYTE*>(pixels.data());
    return {first, first + pixels.size() * 4};
}

class WriterTest : public testing::Test {
protected:
    void SetUp() override { StandInSinkWriterReset(); }
    void TearDown() override {
        if (writer.sinkWriter) writer.closeup();
    }

    // A movie with a 8 x 4 video stream, ready for frames.
    void openMovie() {
        ASSERT_EQ(writer.initialize(moviePath.c_str()), S_OK);
        ASSERT_EQ(writer.initializeVideo(8, 4), S_OK);
    }

    TestFolder folder;
    std::string moviePath = folder.ansiFile(L"movie.mp4");
    Writer writer;
    std::vector<UINT32> frame = patternFrame(8, 4);
};

TEST(WriterConstruction, FixedSettingsAndTheConstructorLine) {
    StdoutCapture out;
    Writer writer;
    EXPECT_EQ(out.text(), "WMF: in writer constructor\n");
    EXPECT_EQ(writer.frameRate, 25);
    EXPECT_EQ(writer.audioSampleRate, 22050);
    EXPECT_EQ(writer.audioChunkSeconds, 0.01);
    EXPECT_FALSE(writer.sinkWriter);
    EXPECT_FALSE(writer.video);
    EXPECT_FALSE(writer.mixer);
    EXPECT_EQ(writer.framesSinceNotify, 0);
    EXPECT_EQ(writer.notifyInterval, 0);
}

TEST_F(WriterTest, InitializeOpensOneSinkWriterOnThePath) {
    ASSERT_EQ(writer.initialize(moviePath.c_str()), S_OK);
    ASSERT_EQ(sink().urls.size(), 1u);
    EXPECT_EQ(sink().urls[0], folder.file(L"movie.mp4"));
    EXPECT_FALSE(sink().byteStreamGiven);
    EXPECT_FALSE(sink().attributesGiven);
    EXPECT_TRUE(TestFolder::exists(folder.file(L"movie.mp4")));
    EXPECT_TRUE(writer.sinkWriter);
    EXPECT_EQ(writer.notifyInterval, 25);
    EXPECT_EQ(sink().writersAlive, 1);
}

TEST_F(WriterTest, InitializeWhoseComStartFailsOpensNothing) {
    HRESULT status = S_OK;
    bool opened = true;
    // A thread already in the multithreaded apartment cannot enter a single-threaded one.
    std::thread caller([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            Writer other;
            status = other.initialize(moviePath.c_str());
            opened = bool(other.sinkWriter);
        }
        CoUninitialize();
    });
    caller.join();
    EXPECT_EQ(status, RPC_E_CHANGED_MODE);
    EXPECT_FALSE(opened);
    EXPECT_TRUE(sink().urls.empty());
}

TEST_F(WriterTest, AFailedSinkWriterLeavesNothingToWriteTo) {
    StandInSinkWriterFail(SinkCall::CreateWriter, MF_E_UNSUPPORTED_BYTESTREAM_TYPE, 0, -1);
    EXPECT_EQ(writer.initialize(moviePath.c_str()), MF_E_UNSUPPORTED_BYTESTREAM_TYPE);
    EXPECT_FALSE(writer.sinkWriter);
    EXPECT_LT(writer.initializeVideo(8, 4), 0);
    EXPECT_LT(writer.addFrame(frame.data(), 400'000, true), 0);
    EXPECT_LT(writer.notify(), 0);
    EXPECT_EQ(sink().calls.size(), 1u);  // only the failed creation
    EXPECT_GE(writer.closeup(), 0);
}

TEST_F(WriterTest, VideoTypesCarryExactlyTheirAttributesInOrder) {
    ASSERT_EQ(writer.initialize(moviePath.c_str()), S_OK);
    ASSERT_EQ(writer.initializeVideo(640, 480), S_OK);
    ASSERT_EQ(sink().outputTypes.size(), 1u);
    ASSERT_EQ(sink().inputTypes.size(), 1u);
    EXPECT_EQ(sink().inputTypes[0].first, writer.video->streamIndex);

    struct Expected {
        GUID key;
        MF_ATTRIBUTE_TYPE type;
        UINT64 number;  // UINT32 and UINT64 values
        GUID guid;
    };
    const UINT64 size = (UINT64{640} << 32) | 480;
    const UINT64 rate = (UINT64{25} << 32) | 1;
    const UINT64 square = (UINT64{1} << 32) | 1;
    const std::vector<Expected> output = {
        {MF_MT_MAJOR_TYPE, MF_ATTRIBUTE_GUID, 0, MFMediaType_Video},
        {MF_MT_SUBTYPE, MF_ATTRIBUTE_GUID, 0, MFVideoFormat_H264},
        {MF_MT_AVG_BITRATE, MF_ATTRIBUTE_UINT32, 3'200'000, GUID_NULL},
        {MF_MT_INTERLACE_MODE, MF_ATTRIBUTE_UINT32, 2, GUID_NULL},
        {MF_MT_FRAME_SIZE, MF_ATTRIBUTE_UINT64, size, GUID_NULL},
        {MF_MT_FRAME_RATE, MF_ATTRIBUTE_UINT64, rate, GUID_NULL},
        {MF_MT_PIXEL_ASPECT_RATIO, MF_ATTRIBUTE_UINT64, square, GUID_NULL},
    };
    const std::vector<Expected> input = {
        {MF_MT_MAJOR_TYPE, MF_ATTRIBUTE_GUID, 0, MFMediaType_Video},
        {MF_MT_SUBTYPE, MF_ATTRIBUTE_GUID, 0, MFVideoFormat_RGB32},
        {MF_MT_INTERLACE_MODE, MF_ATTRIBUTE_UINT32, 2, GUID_NULL},
        {MF_MT_FRAME_SIZE, MF_ATTRIBUTE_UINT64, size, GUID_NULL},
        {MF_MT_FRAME_RATE, MF_ATTRIBUTE_UINT64, rate, GUID_NULL},
        {MF_MT_PIXEL_ASPECT_RATIO, MF_ATTRIBUTE_UINT64, square, GUID_NULL},
    };
    const std::pair<const char*, std::pair<const standin::MediaTypeRecord*, const std::vector<Expected>*>> types[] = {
        {"output", {&sink().outputTypes[0], &output}}, {"input", {&sink().inputTypes[0].second, &input}}};
    for (const auto& [name, pair] : types) {
        SCOPED_TRACE(name);
        const auto& actual = pair.first->attributes;
        const auto& wanted = *pair.second;
        ASSERT_EQ(actual.size(), wanted.size());  // nothing else, in particular no stride
        for (size_t i = 0; i < wanted.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_TRUE(IsEqualGUID(actual[i].key, wanted[i].key));
            ASSERT_EQ(actual[i].type, wanted[i].type);
            if (wanted[i].type == MF_ATTRIBUTE_GUID) {
                EXPECT_TRUE(IsEqualGUID(actual[i].guid, wanted[i].guid));
            } else if (wanted[i].type == MF_ATTRIBUTE_UINT32) {
                EXPECT_EQ(actual[i].u32, wanted[i].number);
            } else {
                EXPECT_EQ(actual[i].u64, wanted[i].number);
            }
        }
        EXPECT_EQ(pair.first->find(MF_MT_DEFAULT_STRIDE), nullptr);
    }
}

TEST_F(WriterTest, FramesFollowOneAnotherOnTheVideoTimeLine) {
    openMovie();
    const UINT64 durations[] = {400'000, 400'000, 200'000};
    std::vector<std::vector<UINT32>> frames;
    for (UINT32 i = 0; i < 3; ++i) {
        frames.push_back(patternFrame(8, 4, i));
        EXPECT_EQ(writer.addFrame(frames.back().data(), durations[i], true), S_OK);
    }
    EXPECT_EQ(writer.video->nextSampleTime, 1'000'000u);

    EXPECT_EQ(sink().count(SinkCall::BeginWriting), 1);
    const auto samples = sink().samplesOf(writer.video->streamIndex);
    ASSERT_EQ(samples.size(), 3u);
    const LONGLONG times[] = {0, 400'000, 800'000};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(samples[i]->hasTime && samples[i]->hasDuration);
        EXPECT_EQ(samples[i]->time, times[i]);
        EXPECT_EQ(samples[i]->duration, LONGLONG(durations[i]));
        EXPECT_EQ(samples[i]->bufferCount, 1u);
        EXPECT_EQ(samples[i]->bytes, bytesOf(frames[i]));  // rows in the order given, no gaps
    }
}

// Frames the sink writer still holds keep their own pixels while later frames are written.
TEST_F(WriterTest, FramesStillHeldByTheSinkWriterAreNeverOverwritten) {
    openMovie();
    StandInSinkWriterRecord()->retainSamples = true;
    std::vector<std::vector<UINT32>> frames;
    for (UINT32 i = 0; i < 12; ++i) {  // more frames in flight than the pool keeps blocks for
        frames.push_back(patternFrame(8, 4, i));
        ASSERT_EQ(writer.addFrame(frames.back().data(), 400'000, true), S_OK);
    }
    ASSERT_EQ(sink().retained.size(), 12u);
    for (size_t i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        tavro::ComPtr<IMFMediaBuffer> buffer;
        ASSERT_EQ(sink().retained[i]->GetBufferByIndex(0, &buffer), S_OK);
        BYTE* data = nullptr;
        DWORD length = 0;
        ASSERT_EQ(buffer->Lock(&data, nullptr, &length), S_OK);
        EXPECT_EQ(std::vector<BYTE>(data, data + length), bytesOf(frames[i]));
        buffer->Unlock();
    }
    // Once let go, the memory serves the next frames.
    StandInSinkWriterReset();
    for (UINT32 i = 0; i < 3; ++i) {
        const auto next = patternFrame(8, 4, 100 + i);
        ASSERT_EQ(writer.addFrame(next.data(), 400'000, true), S_OK);
        EXPECT_EQ(sink().samples.back().bytes, bytesOf(next));
    }
}

TEST_F(WriterTest, AMissingFrameWritesNothingAndTheNextTakesItsTime) {
    openMovie();
    {
        StdoutCapture out;
        EXPECT_EQ(writer.addFrame(nullptr, 400'000, true), -1);
        EXPECT_EQ(out.text(), "Reelwright: No frame buffer to write.\n");
    }
    EXPECT_TRUE(sink().samples.empty());
    EXPECT_EQ(writer.video->nextSampleTime, 0u);
    EXPECT_EQ(writer.framesSinceNotify, 1);  // it still counts towards the cadence

    EXPECT_EQ(writer.addFrame(frame.data(), 400'000, true), S_OK);
    ASSERT_EQ(sink().samples.size(), 1u);
    EXPECT_EQ(sink().samples[0].time, 0);
}

TEST_F(WriterTest, AFailedWriteLeavesNoGapOnTheTimeLine) {
    openMovie();
    StandInSinkWriterFail(SinkCall::WriteSample, MF_E_NOTACCEPTING, 1, 1);
    EXPECT_EQ(writer.addFrame(frame.data(), 400'000, true), S_OK);
    EXPECT_EQ(writer.addFrame(frame.data(), 300'000, true), MF_E_NOTACCEPTING);
    EXPECT_EQ(writer.addFrame(frame.data(), 200'000, true), S_OK);
    ASSERT_EQ(sink().samples.size(), 2u);
    EXPECT_EQ(sink().samples[1].time, 400'000);
    EXPECT_EQ(writer.video->nextSampleTime, 600'000u);
}

TEST_F(WriterTest, EveryTwentyFifthFrameEndsASegmentOnAllStreams) {
    openMovie();
    // The first notification fails: the 25th frame reports that, whatever its own write did.
    StandInSinkWriterFail(SinkCall::NotifyEndOfSegment, MF_E_NOTACCEPTING, 0, 1);
    for (int n = 1; n <= 75; ++n) {
        SCOPED_TRACE(n);
        const HRESULT status = writer.addFrame(frame.data(), 400'000, true);
        EXPECT_EQ(status, n == 25 ? MF_E_NOTACCEPTING : S_OK);
        EXPECT_EQ(writer.framesSinceNotify, n % 25);
        EXPECT_EQ(sink().count(SinkCall::NotifyEndOfSegment), n / 25);
    }
    for (const auto& call : sink().calls) {
        if (call.call == SinkCall::NotifyEndOfSegment) {
            EXPECT_EQ(call.stream, MF_SINK_WRITER_ALL_STREAMS);
        }
    }
    EXPECT_EQ(sink().notifications.size(), 2u);  // the 50th and the 75th
    EXPECT_EQ(sink().samples.size(), 75u);
}

TEST_F(WriterTest, NotifyEndsASegmentOnAllStreamsAtOnce) {
    openMovie();
    EXPECT_EQ(writer.notify(), S_OK);
    ASSERT_EQ(sink().notifications.size(), 1u);
    EXPECT_EQ(sink().notifications[0], MF_SINK_WRITER_ALL_STREAMS);
    EXPECT_EQ(writer.framesSinceNotify, 0);
}

TEST_F(WriterTest, AFailedBeginWritingIsTriedAgainByTheNextFrame) {
    openMovie();
    StandInSinkWriterFail(SinkCall::BeginWriting, E_UNEXPECTED, 0, 1);
    {
        StdoutCapture out;
        // The frame is still offered; the sink writer refuses it before writing began.
        EXPECT_EQ(writer.addFrame(frame.data(), 400'000, true), MF_E_INVALIDREQUEST);
        EXPECT_EQ(out.text(), "FAILED: begun writing -2147418113\n-2147418113 (8000FFFF) begun writing\n");
    }
    EXPECT_EQ(sink().count(SinkCall::WriteSample), 1);
    EXPECT_TRUE(sink().samples.empty());

    EXPECT_EQ(writer.addFrame(frame.data(), 400'000, true), S_OK);
    EXPECT_EQ(writer.addFrame(frame.data(), 400'000, true), S_OK);
    EXPECT_EQ(sink().count(SinkCall::BeginWriting), 2);  // once more, then never again
    ASSERT_EQ(sink().samples.size(), 2u);
    EXPECT_EQ(sink().samples[0].time, 0);
}

TEST_F(WriterTest, WithoutAMovieNothingIsTouched) {
    EXPECT_EQ(writer.initializeVideo(8, 4), MF_E_NOT_INITIALIZED);
    EXPECT_EQ(writer.initializeAudio(), S_OK);
    EXPECT_FALSE(writer.mixer);
    EXPECT_EQ(writer.addAudioTrack("sound.wav", 0, 10'000'000), MF_E_NOT_INITIALIZED);
    EXPECT_EQ(writer.addFrame(frame.data(), 400'000, true), MF_E_NOT_INITIALIZED);
    EXPECT_EQ(writer.writeAllAudio(), MF_E_NOT_INITIALIZED);
    EXPECT_EQ(writer.notify(), MF_E_NOT_INITIALIZED);
    EXPECT_EQ(writer.framesSinceNotify, 0);
    EXPECT_TRUE(sink().calls.empty());
}

TEST_F(WriterTest, ATrackBeforeTheMixerIsRefused) {
    openMovie();
    EXPECT_EQ(writer.addAudioTrack("sound.wav", 0, 10'000'000), MF_E_NOT_INITIALIZED);
    EXPECT_EQ(sink().outputTypes.size(), 1u);
    EXPECT_EQ(sink().sourceReadersCreated, 0);
}

TEST_F(WriterTest, FramesAfterAFailedVideoSetUpGoNowhere) {
    const SinkCall failing[] = {SinkCall::AddStream, SinkCall::SetInputMediaType};
    for (SinkCall call : failing) {
        SCOPED_TRACE(standin::sinkCallName(call));
        StandInSinkWriterReset();
        ASSERT_EQ(writer.initialize(moviePath.c_str()), S_OK);
        StandInSinkWriterFail(call, MF_E_INVALIDMEDIATYPE, 0, -1);
        EXPECT_EQ(writer.initializeVideo(8, 4), MF_E_INVALIDMEDIATYPE);
        EXPECT_LT(writer.addFrame(frame.data(), 400'000, true), 0);
        EXPECT_EQ(sink().count(SinkCall::WriteSample), 0);
        EXPECT_GE(writer.closeup(), 0);
    }
}

TEST_F(WriterTest, AFrameNoBufferCanHoldIsRefusedBeforeAnyStream) {
    ASSERT_EQ(writer.initialize(moviePath.c_str()), S_OK);
    EXPECT_EQ(writer.initializeVideo(65536, 16384), MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(writer.initializeVideo(0, 480), MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(sink().count(SinkCall::AddStream), 0);
    EXPECT_LT(writer.addFrame(frame.data(), 400'000, true), 0);
    EXPECT_EQ(sink().count(SinkCall::WriteSample), 0);
}

// A caller that stopped without closeup must not block every later movie: the next initialize
// lets the open one go, whole, and opens the new one.
TEST_F(WriterTest, ASecondInitializeLetsTheOpenMovieGoAndOpensTheNew) {
    openMovie();
    ASSERT_EQ(writer.initializeAudio(), S_OK);
    const std::wstring sound = folder.file(L"tone.wav");
    ASSERT_TRUE(audiotest::writeWav(sound, 22050, 16, 1, std::vector<std::uint8_t>(22050 * 2, 7)));
    ASSERT_GE(writer.addAudioTrack(TestFolder::toAnsi(sound).c_str(), 0, 10'000'000), 0);
    for (int n = 0; n < 3; ++n) ASSERT_EQ(writer.addFrame(frame.data(), 400'000, true), S_OK);
    ASSERT_EQ(sink().writersAlive, 1);
    ASSERT_EQ(sink().sourceReadersAlive, 1);

    StandInSinkWriterReset();
    ASSERT_EQ(writer.initialize(folder.ansiFile(L"other.mp4").c_str()), S_OK);
    EXPECT_EQ(sink().writersAlive, 1);  // the new one only
    EXPECT_EQ(sink().sourceReadersAlive, 0);
    EXPECT_FALSE(writer.video);
    EXPECT_FALSE(writer.mixer);
    EXPECT_EQ(sink().count(SinkCall::Finalize), 0);  // the abandoned file is left unfinished
    EXPECT_TRUE(TestFolder::exists(folder.file(L"movie.mp4")));

    ASSERT_EQ(writer.initializeVideo(8, 4), S_OK);
    for (int n = 1; n <= 25; ++n) ASSERT_EQ(writer.addFrame(frame.data(), 400'000, true), S_OK);
    EXPECT_EQ(sink().count(SinkCall::BeginWriting), 1);
    EXPECT_EQ(sink().samples.size(), 25u);
    EXPECT_EQ(sink().samples.front().time, 0);
    EXPECT_EQ(sink().notifications.size(), 1u);
    EXPECT_EQ(writer.closeup(), S_OK);
    EXPECT_EQ(sink().writersAlive, 0);
    EXPECT_EQ(sink().count(SinkCall::Finalize), 1);
}

// Longer than an hour (a negative Java duration among them) is refused before anything is
// written or counted; the hour itself is a frame like any other.
TEST_F(WriterTest, FrameDurationsBeyondAnHourAreRefusedUnwritten) {
    openMovie();
    constexpr UINT64 hour = 36'000'000'000;
    struct Case {
        UINT64 duration;
        HRESULT expected;
    } cases[] = {
        {UINT64(-1), E_INVALIDARG},               // -1 from Java
        {UINT64(INT64_MIN), E_INVALIDARG},
        {hour + 1, E_INVALIDARG},
        {0, S_OK},
        {hour, S_OK},
    };
    UINT64 videoClock = 0;
    size_t samples = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.duration);
        const int counted = writer.framesSinceNotify;
        EXPECT_EQ(writer.addFrame(frame.data(), c.duration, true), c.expected);
        const bool written = c.expected == S_OK;
        samples += written;
        videoClock += written ? c.duration : 0;
        EXPECT_EQ(sink().samples.size(), samples);
        EXPECT_EQ(writer.video->nextSampleTime, videoClock);
        EXPECT_EQ(writer.framesSinceNotify, counted + (written ? 1 : 0));
    }
    EXPECT_EQ(sink().samples.back().duration, LONGLONG(hour));
}

TEST_F(WriterTest, CloseupFinalizesReleasesAndAllowsTheNextMovie) {
    openMovie();
    for (int n = 0; n < 10; ++n) ASSERT_EQ(writer.addFrame(frame.data(), 400'000, true), S_OK);
    // Finalize's own failure does not change the answer: the platform's shut-down does.
    StandInSinkWriterFail(SinkCall::Finalize, E_FAIL, 0, 1);
    EXPECT_EQ(writer.closeup(), S_OK);
    EXPECT_EQ(sink().count(SinkCall::Finalize), 1);
    EXPECT_EQ(sink().writersAlive, 0);
    EXPECT_FALSE(writer.sinkWriter);
    EXPECT_FALSE(writer.video);
    EXPECT_EQ(writer.framesSinceNotify, 0);

    StandInSinkWriterReset();
    ASSERT_EQ(writer.initialize(folder.ansiFile(L"second.mp4").c_str()), S_OK);
    ASSERT_EQ(writer.initializeVideo(8, 4), S_OK);
    for (int n = 1; n <= 25; ++n) {
        ASSERT_EQ(writer.addFrame(frame.data(), 400'000, true), S_OK);
        EXPECT_EQ(sink().count(SinkCall::NotifyEndOfSegment), n == 25 ? 1 : 0) << n;
    }
    EXPECT_EQ(sink().count(SinkCall::BeginWriting), 1);  // the new movie begins writing anew
    EXPECT_EQ(sink().samples.front().time, 0);
    EXPECT_EQ(writer.closeup(), S_OK);
    EXPECT_EQ(sink().writersAlive, 0);
}

// Audio chunks per frame: whole chunks of 10 ms, the rest of each frame's time carried on.
TEST_F(WriterTest, AudioKeepsPaceWithTheVideoAtAnyFrameRate) {
    openMovie();
    const std::wstring sound = folder.file(L"tone.wav");
    std::vector<std::uint8_t> second(22050 * 2);
    for (size_t i = 0; i < second.size(); ++i) second[i] = std::uint8_t(i * 37);
    ASSERT_TRUE(audiotest::writeWav(sound, 22050, 16, 1, second));
    ASSERT_EQ(writer.initializeAudio(), S_OK);
    ASSERT_GE(writer.addAudioTrack(TestFolder::toAnsi(sound).c_str(), 0, 10'000'000), 0);
    ASSERT_TRUE(writer.mixer->audioStreamReady);
    const DWORD audio = writer.mixer->audioStreamIndex;
    ASSERT_NE(audio, writer.video->streamIndex);

    struct Case {
        UINT64 duration;
        std::vector<size_t> chunks;
    };
    const Case cases[] = {
        {400'000, {4, 4, 4}},                          // 25 frames a second: exactly 4 each
        {333'333, {3, 3, 3, 4, 3, 3, 4, 3, 3, 4}},     // about 30 a second
    };
    for (const auto& c : cases) {
        for (size_t i = 0; i < c.chunks.size(); ++i) {
            SCOPED_TRACE(testing::Message() << c.duration << " frame " << i);
            const size_t before = sink().samplesOf(audio).size();
            ASSERT_EQ(writer.addFrame(frame.data(), c.duration, true), S_OK);
            EXPECT_EQ(sink().samplesOf(audio).size() - before, c.chunks[i]);
            const UINT64 videoClock = writer.video->nextSampleTime;
            const UINT64 audioClock = writer.mixer->nextSampleTime;
            EXPECT_LE(audioClock, videoClock);
            EXPECT_LT(videoClock - audioClock, 100'000u);
        }
    }
}


// closeup undoes only what initialize started: an apartment the thread had before, or one
// that initialize could not enter, stays as it was.
TEST(WriterPlatformStart, CloseupEndsOnlyTheApartmentInitializeBegan) {
    TestFolder folder;
    const std::string path = folder.ansiFile(L"movie.mp4");
    StandInSinkWriterReset();
    // The calling thread's apartment once a Writer has been used on it, with COM started on it
    // before (comStart) or not (-1).
    auto apartmentAfter = [](DWORD comStart, const std::function<void(Writer&)>& use) -> std::string {
        APTTYPE type = APTTYPE_CURRENT;
        HRESULT query = E_FAIL;
        std::thread caller([&] {
            const bool began = comStart != DWORD(-1) && SUCCEEDED(CoInitializeEx(nullptr, comStart));
            {
                Writer writer;
                use(writer);
            }
            APTTYPEQUALIFIER qualifier{};
            query = CoGetApartmentType(&type, &qualifier);
            if (began) CoUninitialize();
        });
        caller.join();
        if (FAILED(query)) return "none";
        return type == APTTYPE_MTA ? "multithreaded" : "single-threaded";
    };
    const auto openAndClose = [&](Writer& writer) {
        EXPECT_EQ(writer.initialize(path.c_str()), S_OK);
        EXPECT_EQ(writer.closeup(), S_OK);
    };
    // The thread's own multithreaded apartment: initialize cannot enter one of its own.
    EXPECT_EQ(apartmentAfter(COINIT_MULTITHREADED,
                             [&](Writer& writer) {
                                 EXPECT_EQ(writer.initialize(path.c_str()), RPC_E_CHANGED_MODE);
                                 EXPECT_EQ(writer.closeup(), S_OK);
                             }),
              "multithreaded");
    // A closeup without any initialize, on a thread in its own single-threaded apartment.
    EXPECT_EQ(apartmentAfter(COINIT_APARTMENTTHREADED, [](Writer& writer) { EXPECT_EQ(writer.closeup(), S_OK); }),
              "single-threaded");
    // The apartment initialize began ends with closeup; one the thread had stays.
    EXPECT_EQ(apartmentAfter(DWORD(-1), openAndClose), "none");
    EXPECT_EQ(apartmentAfter(COINIT_APARTMENTTHREADED, openAndClose), "single-threaded");
}

}  // namespace
