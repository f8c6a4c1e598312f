// A small uncompressed AVI file made in memory: an optional 24-bit RGB video stream and an
// optional 16-bit PCM audio stream, with a few frames and a fraction of a second of silence.
#pragma once

#include <cstdint>
#include <string>

namespace tavro::test {

struct AviVideo {
    std::uint32_t width = 0;  // 0: no video stream
    std::uint32_t height = 0;
    std::uint32_t framesPerSecond = 0;
    std::uint32_t frames = 0;
};

struct AviAudio {
    std::uint32_t samplesPerSecond = 0;  // 0: no audio stream
    std::uint16_t channels = 0;
    std::uint32_t milliseconds = 0;
};

// The file's bytes; the streams are listed video first.
std::string tinyAvi(const AviVideo& video, const AviAudio& audio);

}  // namespace tavro::test
