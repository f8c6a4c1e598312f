#include "audio_math.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

namespace reelwright {
namespace {

// Little-endian bytes of interleaved 16-bit frames.
std::vector<std::uint8_t> pcm16(const std::vector<std::int16_t>& values) {
    std::vector<std::uint8_t> bytes;
    for (std::int16_t v : values) {
        const auto u = static_cast<std::uint16_t>(v);
        bytes.push_back(std::uint8_t(u & 0xFF));
        bytes.push_back(std::uint8_t(u >> 8));
    }
    return bytes;
}

std::vector<std::int16_t> ramp(std::size_t count, std::int16_t first = 1) {
    std::vector<std::int16_t> values(count);
    std::iota(values.begin(), values.end(), first);
    return values;
}

TEST(AudioChunkArithmetic, FixedSettingsGive441Bytes220SamplesAnd10Ms) {
    const AudioChunkLayout layout = audioChunkLayout(22050, 0.01);
    EXPECT_EQ(layout.bytes, 441u);
    EXPECT_EQ(layout.samples, 220u);
    EXPECT_EQ(layout.duration, 100000u);

    const struct { std::uint32_t rate, n; } rates[] = {
        {44100, 441}, {48000, 480}, {22050, 220}, {11025, 110}, {16000, 160}, {8000, 80}, {0, 0}};
    for (const auto& c : rates) EXPECT_EQ(trackSamplesPerChunk(c.rate, 0.01), c.n) << c.rate;
}

TEST(AudioDownmix, FramesBecomeTheFloorOfTheirChannelAverage) {
    const struct {
        std::vector<std::uint8_t> frame;
        PcmFormat format;
        std::int16_t expected;
    } cases[] = {
        {pcm16({-3, 0}), {44100, 16, 2}, -2},          // floor(-1.5)
        {pcm16({1000, 3000}), {44100, 16, 2}, 2000},
        {pcm16({3, 0}), {44100, 16, 2}, 1},            // floor(1.5)
        {pcm16({-32768, -32768}), {44100, 16, 2}, -32768},
        {pcm16({1234}), {44100, 16, 1}, 1234},
        {pcm16({-7, -7, -8}), {44100, 16, 3}, -8},     // floor(-22/3)
        {{0}, {11025, 8, 1}, -32768},
        {{128}, {11025, 8, 1}, 0},
        {{255}, {11025, 8, 1}, 32512},
        {{0, 255}, {11025, 8, 2}, -256},               // floor(127.5) = 127
        {{0xFF, 0xFF, 0x7F}, {48000, 24, 1}, 32767},   // 24-bit keeps its top 16 bits
        {{0x00, 0x00, 0x80}, {48000, 24, 1}, -32768},
        {{0x00, 0x01, 0xFF, 0xFF, 0x00, 0x02, 0x00, 0x00}, {48000, 32, 2}, -1},  // -1 and 0 → floor(-0.5)
    };
    for (const auto& c : cases) {
        EXPECT_EQ(downmixFrame(c.frame.data(), c.format), c.expected)
            << c.format.channels << " channels of " << c.format.bitsPerSample << " bits";
    }
}

TEST(AudioDownmix, ConsumptionContinuesWhereTheLastChunkStopped) {
    // 1000 stereo frames whose left channel is the frame number and right channel its double.
    std::vector<std::int16_t> interleaved;
    for (std::int16_t i = 0; i < 1000; ++i) {
        interleaved.push_back(i);
        interleaved.push_back(std::int16_t(i * 2));
    }
    const std::vector<std::uint8_t> bytes = pcm16(interleaved);
    const PcmFormat format{44100, 16, 2};
    std::vector<std::int16_t> out(441);
    std::size_t position = 0;

    ASSERT_EQ(downmixFrames(bytes.data(), bytes.size(), position, format, out.data(), 441), 441u);
    EXPECT_EQ(out.front(), 0);
    EXPECT_EQ(out.back(), std::int16_t(440 * 3 / 2));
    EXPECT_EQ(position, 441u * 4);

    ASSERT_EQ(downmixFrames(bytes.data(), bytes.size(), position, format, out.data(), 441), 441u);
    EXPECT_EQ(out.front(), std::int16_t(441 * 3 / 2)) << "the second chunk begins at frame 441";

    // 118 frames remain.
    EXPECT_EQ(downmixFrames(bytes.data(), bytes.size(), position, format, out.data(), 441), 118u);
    EXPECT_EQ(position, bytes.size());
}

TEST(AudioDownmix, APartialFrameAtTheEndIsNeverRead) {
    const PcmFormat format{44100, 16, 2};
    // Two whole frames and half a frame: the buffer is exactly this long, so a read of the half
    // frame's missing channel would be caught by the address sanitizer.
    std::vector<std::uint8_t> bytes = pcm16({10, 20, 30, 40, 50});
    std::vector<std::int16_t> out(8, 99);
    std::size_t position = 0;
    EXPECT_EQ(downmixFrames(bytes.data(), bytes.size(), position, format, out.data(), out.size()), 2u);
    EXPECT_EQ(out[0], 15);
    EXPECT_EQ(out[1], 35);
    EXPECT_EQ(out[2], 99);
    EXPECT_EQ(position, 8u);
}

TEST(AudioFormat, OnlyFormatsThatCanBeDownmixedAndResampledAreReadable) {
    EXPECT_TRUE(isReadableFormat({44100, 16, 2}));
    EXPECT_TRUE(isReadableFormat({11025, 8, 1}));
    EXPECT_TRUE(isReadableFormat({48000, 24, 6}));
    EXPECT_FALSE(isReadableFormat({0, 16, 2}));
    EXPECT_FALSE(isReadableFormat({44100, 0, 2}));
    EXPECT_FALSE(isReadableFormat({44100, 16, 0}));
    EXPECT_FALSE(isReadableFormat({44100, 12, 1}));
    EXPECT_FALSE(isReadableFormat({4'000'000'000u, 16, 1}));
}

// Resamples an exactly sized source, so any read past its n samples is caught.
std::vector<std::int16_t> resampled(std::uint32_t trackRate, std::size_t n) {
    const std::vector<std::int16_t> source = ramp(n);
    std::vector<std::int16_t> out(220, -1);
    resampleToMix(source.data(), source.size(), trackRate, 22050, out.data(), out.size());
    return out;
}

TEST(AudioResample, HigherRatesKeepEveryRatioThSampleFromTheStart) {
    const std::vector<std::int16_t> from44100 = resampled(44100, 441);
    for (std::size_t o = 0; o < 220; ++o) ASSERT_EQ(from44100[o], std::int16_t(1 + 2 * o)) << o;
    EXPECT_EQ(from44100.back(), 1 + 438) << "samples 0, 2, ..., 438";

    const std::vector<std::int16_t> from48000 = resampled(48000, 480);
    EXPECT_EQ(from48000.back(), 1 + 438);

    EXPECT_EQ(resampled(22050, 220), ramp(220)) << "the mix rate is copied as is";
}

TEST(AudioResample, LowerRatesInsertZerosAndNeverReadPastTheChunk) {
    const std::vector<std::int16_t> from11025 = resampled(11025, 110);
    for (std::size_t o = 0; o < 220; ++o)
        ASSERT_EQ(from11025[o], o % 2 == 0 ? std::int16_t(1 + o / 2) : 0) << o;

    // 16000 Hz does not divide 22050: ratio 1, 160 samples for 220 places; silence after them.
    const std::vector<std::int16_t> from16000 = resampled(16000, 160);
    for (std::size_t o = 0; o < 220; ++o) ASSERT_EQ(from16000[o], o < 160 ? std::int16_t(1 + o) : 0) << o;

    // 8000 Hz: ratio 2, 80 samples at every other place, then silence.
    const std::vector<std::int16_t> from8000 = resampled(8000, 80);
    for (std::size_t o = 0; o < 220; ++o)
        ASSERT_EQ(from8000[o], (o % 2 == 0 && o / 2 < 80) ? std::int16_t(1 + o / 2) : 0) << o;

    EXPECT_EQ(resampled(0, 0), std::vector<std::int16_t>(220, 0)) << "no rate, no sound";
}

TEST(AudioMix, SumIsDividedTruncatingTowardZeroAndKeptIn16Bits) {
    const struct {
        std::vector<std::vector<std::int16_t>> tracks;
        int divisor;
        std::int16_t expected;
    } cases[] = {
        {{{3}, {0}}, 2, 1},
        {{{-3}, {0}}, 2, -1},
        {{{32767}, {32767}}, 1, 32767},       // a loud overlap saturates instead of wrapping
        {{{-32768}, {-32768}}, 1, -32768},
        {{{30000}, {30000}, {30000}}, 2, 32767},
        {{{30000}, {30000}}, 2, 30000},
        {{{5}}, 0, 5},                         // no divisor below one
        {{}, 1, 0},                            // no track: silence
    };
    for (const auto& c : cases) {
        std::vector<const std::int16_t*> sources;
        for (const auto& t : c.tracks) sources.push_back(t.data());
        std::int16_t out = -99;
        mixChunks(sources, c.divisor, &out, 1);
        EXPECT_EQ(out, c.expected) << c.tracks.size() << " tracks / " << c.divisor;
    }
}

constexpr std::uint64_t kSecond = 10'000'000;

TEST(AudioOverlap, CountsTheTracksThatSoundAtOneInstant) {
    const TimeSpan same{0, 5 * kSecond};
    const struct {
        const char* name;
        std::vector<TimeSpan> spans;
        int expected;
    } cases[] = {
        {"no track", {}, 1},
        {"two equal", {same, same}, 2},
        {"three equal", {same, same, same}, 3},
        {"four equal", {same, same, same, same}, 4},
        {"five end to end",
         {{0, 1 * kSecond}, {1 * kSecond, 2 * kSecond}, {2 * kSecond, 3 * kSecond},
          {3 * kSecond, 4 * kSecond}, {4 * kSecond, 5 * kSecond}},
         1},
        {"end to end, later one first", {{kSecond, 2 * kSecond}, {0, kSecond}}, 1},
        {"one inside another, listed second", {{kSecond, 2 * kSecond}, {0, 3 * kSecond}}, 2},
        {"chain whose ends never meet all at once",
         {{0, 2 * kSecond}, {kSecond, 3 * kSecond}, {2 * kSecond, 4 * kSecond}},
         2},
        {"empty and reversed spans never sound", {{kSecond, kSecond}, {2 * kSecond, kSecond}}, 1},
    };
    for (const auto& c : cases) {
        std::vector<TimeSpan> spans = c.spans;
        std::sort(spans.begin(), spans.end(),
                  [](const TimeSpan& a, const TimeSpan& b) { return a.start < b.start || (a.start == b.start && a.end < b.end); });
        // Every order of the same tracks gives the same count.
        do {
            ASSERT_EQ(largestOverlap(spans), c.expected) << c.name;
        } while (std::next_permutation(spans.begin(), spans.end(), [](const TimeSpan& a, const TimeSpan& b) {
            return a.start < b.start || (a.start == b.start && a.end < b.end);
        }));
    }
}

TEST(AudioTrackEnd, ATrackEndsPastItsOwnLength) {
    const struct {
        std::int64_t timestamp;
        std::uint64_t start, end;
        bool past;
    } cases[] = {
        {10 * std::int64_t(kSecond), 0, 10 * kSecond, false},
        {10 * std::int64_t(kSecond) + 1, 0, 10 * kSecond, true},
        // Starting at 5 s and ending at 15 s is 10 s of the file, not 15.
        {12 * std::int64_t(kSecond), 5 * kSecond, 15 * kSecond, true},
        {9 * std::int64_t(kSecond), 5 * kSecond, 15 * kSecond, false},
        {-1000, 0, 0, false},  // stamps before the file's start are not past anything
        {0, 0, 0, false},
        {1, 0, 0, true},
        {1, 3 * kSecond, kSecond, true},  // an end before the start leaves no length
    };
    for (const auto& c : cases)
        EXPECT_EQ(isPastTrackEnd(c.timestamp, c.start, c.end), c.past)
            << c.timestamp << " in [" << c.start << ", " << c.end << ")";
}

TEST(AacChoice, CandidatesAreJudgedByChannelsRateAndByteRate) {
    const AudioTypeFacts stereo44{2u, 44100u, 176400u};
    const AudioTypeFacts mono22{1u, 22050u, 44100u};
    const AudioTypeFacts mono32{1u, 32000u, 64000u};  // mix: 22050 Hz, 44100 bytes a second
    const AudioTypeFacts bare{};
    const struct {
        const char* name;
        AudioTypeFacts candidate, current;
        bool acceptable;
    } cases[] = {
        {"stereo source, AAC below the mix's byte rate", {2u, 44100u, 24000u}, stereo44, false},
        {"stereo source, byte rate nearer than the mix's", {2u, 44100u, 176400u}, stereo44, true},
        {"stereo source takes a mono candidate", {1u, 44100u, 176400u}, stereo44, true},
        {"mono source refuses stereo", {2u, 22050u, 44100u}, mono22, false},
        {"mono source takes mono", {1u, 22050u, 44100u}, mono22, true},
        {"candidate without channels", {std::nullopt, 22050u, 44100u}, mono22, false},
        {"a source at the mix's rate takes only that rate", {1u, 22051u, 44100u}, mono22, false},
        {"a source at the mix's byte rate takes only that", {1u, 22050u, 44000u}, mono22, false},
        {"rate nearer than the mix rate", {1u, 24000u, 48000u}, mono32, true},
        {"rate farther than the mix rate", {1u, 44100u, 48000u}, mono32, false},
        {"byte rate nearer than the mix's", {1u, 32000u, 48000u}, mono32, true},
        {"byte rate farther than the mix's", {1u, 32000u, 40000u}, mono32, false},
        {"byte rate below the source's while the mix's is above",
         {2u, 44100u, 12000u}, AudioTypeFacts{2u, 44100u, 16000u}, false},
        {"nothing known of the source", {std::nullopt, std::nullopt, std::nullopt}, bare, true},
        {"source without a byte rate", {2u, 44100u, 12000u}, AudioTypeFacts{2u, 44100u, 0u}, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isAcceptableAacType(c.candidate, c.current, 22050), c.acceptable) << c.name;
}

TEST(AacChoice, FirstFetchableOfferIsReplacedByEveryLaterAcceptableOne) {
    const AudioTypeFacts stereo44{2u, 44100u, 176400u};
    // The encoder's usual offers: every byte rate well below a 16-bit stereo source's.
    std::vector<std::optional<AudioTypeFacts>> offers;
    for (std::uint32_t channels : {1u, 2u})
        for (std::uint32_t rate : {44100u, 48000u})
            for (std::uint32_t bytes : {12000u, 16000u, 20000u, 24000u})
                offers.push_back(AudioTypeFacts{channels, rate, bytes});
    EXPECT_EQ(chooseAacCandidates(offers, stereo44, 22050), std::vector<std::size_t>{0});

    const AudioTypeFacts mono32{1u, 32000u, 64000u};
    const std::vector<std::optional<AudioTypeFacts>> mixed = {
        std::nullopt,                         // not fetchable: passed over
        AudioTypeFacts{2u, 48000u, 24000u},   // first fetchable: chosen whatever it is
        AudioTypeFacts{1u, 32000u, 60000u},   // acceptable
        AudioTypeFacts{2u, 32000u, 60000u},   // stereo for a mono source
        AudioTypeFacts{1u, 24000u, 50000u},   // acceptable
        std::nullopt};
    EXPECT_EQ(chooseAacCandidates(mixed, mono32, 22050), (std::vector<std::size_t>{1, 2, 4}));
    EXPECT_TRUE(chooseAacCandidates({std::nullopt, std::nullopt}, mono32, 22050).empty());
    EXPECT_TRUE(chooseAacCandidates({}, mono32, 22050).empty());
}

TEST(AudioTypeTexts, DepthIsAskedOnlyOfDeeperSourcesAndTypesPrintTheirFields) {
    EXPECT_FALSE(asksForSixteenBits(std::nullopt));
    EXPECT_FALSE(asksForSixteenBits(8u));
    EXPECT_FALSE(asksForSixteenBits(16u));
    EXPECT_TRUE(asksForSixteenBits(24u));
    EXPECT_TRUE(asksForSixteenBits(32u));
    EXPECT_EQ(describeAudioType("Native Info:  ", 1, 2, 44100, 24),
              "Native Info:  1, channels: 2, samples per second: 44100, bits per sample: 24");
}

}  // namespace
}  // namespace reelwright
