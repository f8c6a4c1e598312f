#include "frame_math.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <vector>

#include "trace.h"

namespace reelwright {
namespace {

TEST(FrameLayout, RowsOfFourBytesPerPixelWithoutGaps) {
    struct Case {
        std::uint32_t width, height;
        std::optional<std::uint32_t> stride, size;
    };
    const Case cases[] = {
        {640, 480, 2560, 1'228'800},
        {1, 1, 4, 4},
        {1920, 1080, 7680, 8'294'400},
        {0, 480, std::nullopt, std::nullopt},          // an empty frame is no frame
        {640, 0, std::nullopt, std::nullopt},
        {65536, 16384, std::nullopt, std::nullopt},    // 4 GiB: beyond a 32-bit buffer size
        {0x40000000, 1, std::nullopt, std::nullopt},   // stride alone beyond 32 bits
        {0x20000000, 1, std::nullopt, std::nullopt},   // stride beyond a signed 32-bit stride
        {0xFFFFFFFF, 0xFFFFFFFF, std::nullopt, std::nullopt},
        {16384, 65535, 65536, 4'294'901'760},          // the largest that still fits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        const auto layout = frameLayoutFor(c.width, c.height);
        ASSERT_EQ(layout.has_value(), c.stride.has_value());
        if (layout) {
            EXPECT_EQ(layout->stride, *c.stride);
            EXPECT_EQ(layout->size, *c.size);
        }
    }
}

TEST(FramePixelCount, RefusesSizesNoBufferCanHold) {
    EXPECT_EQ(framePixelCount(640, 480), std::optional<std::size_t>(307'200));
    EXPECT_EQ(framePixelCount(0, 0), std::optional<std::size_t>(0));
    EXPECT_EQ(framePixelCount(-640, 480), std::nullopt);
    EXPECT_EQ(framePixelCount(640, -480), std::nullopt);
    EXPECT_EQ(framePixelCount(-1, -1), std::nullopt);  // a positive product of two negatives
    EXPECT_EQ(framePixelCount(65536, 16384), std::nullopt);
    EXPECT_EQ(framePixelCount(0x7FFFFFFF, 0x7FFFFFFF), std::nullopt);
}

TEST(AudioChunkDuration, TenMillisecondsIsOneHundredThousandTicks) {
    EXPECT_EQ(audioChunkDuration(0.01), 100'000u);
    EXPECT_EQ(audioChunkDuration(0.02), 200'000u);
    EXPECT_EQ(audioChunkDuration(1.0), 10'000'000u);
}

std::vector<std::uint64_t> chunksForFrames(std::uint64_t duration, int frames) {
    AudioChunkPacer pacer(100'000);
    std::vector<std::uint64_t> chunks;
    for (int i = 0; i < frames; ++i) chunks.push_back(pacer.chunksForFrame(duration));
    return chunks;
}

TEST(AudioChunkPacer, WholeChunksPerFrameWithTheRestCarried) {
    using V = std::vector<std::uint64_t>;
    EXPECT_EQ(chunksForFrames(400'000, 4), (V{4, 4, 4, 4}));
    // About 1/30 s: 3, 3, 3, 4 and then 3, 3, 4 over and over.
    EXPECT_EQ(chunksForFrames(333'333, 13), (V{3, 3, 3, 4, 3, 3, 4, 3, 3, 4, 3, 3, 4}));
    EXPECT_EQ(chunksForFrames(399'999, 3), (V{3, 4, 4}));
    EXPECT_EQ(chunksForFrames(99'999, 4), (V{0, 1, 1, 1}));  // short frames still add up
    EXPECT_EQ(chunksForFrames(0, 2), (V{0, 0}));
}

TEST(AudioChunkPacer, AudioClockStaysWithinOneChunkOfTheVideoClock) {
    for (std::uint64_t duration : {333'333ull, 416'667ull, 666'667ull, 400'000ull, 12'345ull, 1'001'000ull}) {
        SCOPED_TRACE(duration);
        AudioChunkPacer pacer(100'000);
        std::uint64_t video = 0, audio = 0;
        for (int frame = 0; frame < 10'000; ++frame) {
            video += duration;
            audio += pacer.chunksForFrame(duration) * 100'000;
            ASSERT_LE(audio, video);
            ASSERT_LT(video - audio, 100'000u) << "frame " << frame;
            ASSERT_EQ(video - audio, pacer.carried());
        }
    }
}

TEST(AudioChunkPacer, HugeDurationsDoNotOverflowAndResetStartsAfresh) {
    AudioChunkPacer pacer(100'000);
    EXPECT_EQ(pacer.chunksForFrame(99'999), 0u);
    const std::uint64_t huge = ~std::uint64_t{0};
    EXPECT_EQ(pacer.chunksForFrame(huge), huge / 100'000 + (99'999 + huge % 100'000) / 100'000);
    pacer.reset();
    EXPECT_EQ(pacer.carried(), 0u);
    EXPECT_EQ(pacer.chunksForFrame(99'999), 0u);
}

TEST(FailureTrace, TwoLinesWithSignedDecimalAndBareHex) {
    EXPECT_EQ(failureTraceText("begun writing", std::int32_t(0xC00D36B4)),
              "FAILED: begun writing -1072875852\n-1072875852 (C00D36B4) begun writing\n");
    EXPECT_EQ(failureTraceText("x", -1), "FAILED: x -1\n-1 (FFFFFFFF) x\n");
    EXPECT_EQ(failureTraceText("x", 0), "");
    EXPECT_EQ(failureTraceText("x", 1), "");  // S_FALSE is a success
}

TEST(FailureTrace, GoesToStandardOutputOnlyForFailures) {
    std::ostringstream captured;
    std::streambuf* previous = std::cout.rdbuf(captured.rdbuf());
    traceFailure("quiet", 0);
    traceFailure("Failed creating video sample buffer", std::int32_t(0x8007000E));
    traceLine("Reelwright: No frame buffer to write.");
    std::cout.rdbuf(previous);
    EXPECT_EQ(captured.str(),
              "FAILED: Failed creating video sample buffer -2147024882\n"
              "-2147024882 (8007000E) Failed creating video sample buffer\n"
              "Reelwright: No frame buffer to write.\n");
}

TEST(RetryWithPause, GivesUpAfterTheLastAttemptWithItsStatus) {
    int attempts = 0, pauses = 0;
    const std::int32_t status = retryWithPause(
        101, [&] { return ++attempts == 101 ? std::int32_t(-7) : std::int32_t(-1); }, [&] { ++pauses; });
    EXPECT_EQ(status, -7);
    EXPECT_EQ(attempts, 101);
    EXPECT_EQ(pauses, 100);  // a pause between two attempts, none after the last
}

TEST(RetryWithPause, StopsAtTheFirstSuccess) {
    int attempts = 0, pauses = 0;
    EXPECT_EQ(retryWithPause(101, [&] { return ++attempts < 3 ? std::int32_t(-1) : std::int32_t(0); },
                             [&] { ++pauses; }),
              0);
    EXPECT_EQ(attempts, 3);
    EXPECT_EQ(pauses, 2);

    attempts = pauses = 0;
    EXPECT_EQ(retryWithPause(101, [&] { return ++attempts, std::int32_t(1); }, [&] { ++pauses; }), 1);
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(pauses, 0);
}

}  // namespace
}  // namespace reelwright
