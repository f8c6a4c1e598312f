// Arithmetic of the movie writer that needs no platform call: frame sizes, the number of
// audio chunks each frame carries, the failure trace text and the retry of a failing step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace reelwright {

// One second in the platform's reference time (100-ns units).
constexpr std::uint64_t kTicksPerSecond = 10'000'000;

// The longest frame the writer takes: one hour. Its audio is 360,000 chunks, written in seconds;
// a negative Java duration arrives as a time near 2^64, whose chunks would take days.
constexpr std::uint64_t kLongestFrameDuration = 3600 * kTicksPerSecond;

// Byte layout of one RGB32 frame: rows of width × 4 bytes with no gap between them.
struct FrameLayout {
    std::uint32_t stride;  // bytes per row
    std::uint32_t size;    // bytes per frame
};

// The layout of a width × height frame, or nothing when the frame is empty or its bytes
// do not fit the 32-bit sizes the platform's buffers take.
std::optional<FrameLayout> frameLayoutFor(std::uint32_t width, std::uint32_t height);

// How many 32-bit pixels a frame of the Java side's width × height holds, or nothing for a
// negative size or one whose bytes exceed what a buffer can take.
std::optional<std::size_t> framePixelCount(std::int32_t width, std::int32_t height);

// Length of one audio chunk in reference time: seconds × 10,000,000, truncated.
std::uint64_t audioChunkDuration(double chunkSeconds);

// Hands out whole audio chunks per video frame and carries what is left of each frame's
// duration to the next, so the audio clock stays less than one chunk behind the video clock
// whatever the frame rate.
class AudioChunkPacer {
public:
    explicit AudioChunkPacer(std::uint64_t chunkDuration) : chunk_(chunkDuration) {}

    // Chunks due for a frame of this duration (counting the time carried from earlier frames).
    std::uint64_t chunksForFrame(std::uint64_t frameDuration);
    std::uint64_t carried() const { return carried_; }
    void reset() { carried_ = 0; }

private:
    std::uint64_t chunk_;
    std::uint64_t carried_ = 0;
};

// The two lines a failed status is reported with ("FAILED: <label> <status>" and
// "<status> (<hex>) <label>"), each ended with a line feed; empty for a success.
std::string failureTraceText(const std::string& label, std::int32_t status);

// Runs attempt() up to `attempts` times, calling pause() between two failed attempts;
// answers the last status (negative statuses are failures).
template <typename Attempt, typename Pause>
std::int32_t retryWithPause(int attempts, Attempt&& attempt, Pause&& pause) {
    std::int32_t status = attempt();
    for (int done = 1; status < 0 && done < attempts; ++done) {
        pause();
        status = attempt();
    }
    return status;
}

}  // namespace reelwright
