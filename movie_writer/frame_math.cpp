#include "frame_math.h"

#include <cinttypes>
#include <cstdio>
#include <limits>

namespace reelwright {

std::optional<FrameLayout> frameLayoutFor(std::uint32_t width, std::uint32_t height) {
    if (width == 0 || height == 0) return std::nullopt;
    const std::uint64_t stride = std::uint64_t{width} * 4;
    const std::uint64_t size = stride * height;
    // The copy takes the stride as a signed 32-bit value, the buffer its size as an unsigned one.
    if (stride > std::uint64_t(std::numeric_limits<std::int32_t>::max()) ||
        size > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    return FrameLayout{static_cast<std::uint32_t>(stride), static_cast<std::uint32_t>(size)};
}

std::optional<std::size_t> framePixelCount(std::int32_t width, std::int32_t height) {
    if (width < 0 || height < 0) return std::nullopt;
    const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
    if (pixels * 4 > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::size_t>(pixels);
}

std::uint64_t audioChunkDuration(double chunkSeconds) {
    return static_cast<std::uint64_t>(chunkSeconds * double(kTicksPerSecond));
}

std::uint64_t AudioChunkPacer::chunksForFrame(std::uint64_t frameDuration) {
    if (chunk_ == 0) return 0;
    // carried_ < chunk_ and the remainder < chunk_, so their sum cannot overflow.
    const std::uint64_t whole = frameDuration / chunk_;
    const std::uint64_t rest = carried_ + frameDuration % chunk_;
    carried_ = rest % chunk_;
    return whole + rest / chunk_;
}

std::string failureTraceText(const std::string& label, std::int32_t status) {
    if (status >= 0) return {};
    char number[16];
    char hex[16];
    std::snprintf(number, sizeof number, "%" PRId32, status);
    std::snprintf(hex, sizeof hex, "%" PRIX32, static_cast<std::uint32_t>(status));
    return "FAILED: " + label + " " + number + "\n" + number + " (" + hex + ") " + label + "\n";
}

}  // namespace reelwright
