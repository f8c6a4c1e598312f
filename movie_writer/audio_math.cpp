#include "audio_math.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <utility>

namespace reelwright {

namespace {

constexpr std::uint32_t kHighestTrackRate = 1'000'000;
constexpr std::uint32_t kMostChannels = 1024;

std::int64_t distance(std::int64_t a, std::int64_t b) { return a > b ? a - b : b - a; }

// One channel's sample as a number: 0..255 for 8-bit, a signed 16-bit value otherwise (the
// top two bytes of deeper samples).
std::int32_t channelValue(const std::uint8_t* sample, std::uint32_t bytesPerSample) {
    if (bytesPerSample == 1) return sample[0];
    const std::uint8_t* top = sample + bytesPerSample - 2;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(top[0] | (top[1] << 8)));
}

std::int64_t floorDivide(std::int64_t sum, std::int64_t divisor) {
    std::int64_t quotient = sum / divisor;
    if (sum % divisor != 0 && sum < 0) --quotient;
    return quotient;
}

}  // namespace

AudioChunkLayout audioChunkLayout(int mixRate, double chunkSeconds) {
    AudioChunkLayout layout{};
    const double bytes = double(mixRate) * chunkSeconds * 2;
    layout.bytes = bytes > 0 && bytes < 4e9 ? static_cast<std::uint32_t>(bytes) : 0;
    // One sample at every even byte position below bytes − 2.
    layout.samples = layout.bytes > 2 ? (layout.bytes - 2 + 1) / 2 : 0;
    const double duration = chunkSeconds * 10'000'000.0;
    layout.duration = duration > 0 ? static_cast<std::uint64_t>(duration) : 0;
    return layout;
}

std::uint32_t trackSamplesPerChunk(std::uint32_t trackRate, double chunkSeconds) {
    const double samples = double(trackRate) * chunkSeconds;
    return samples > 0 && samples < 4e9 ? static_cast<std::uint32_t>(samples) : 0;
}

bool isReadableFormat(const PcmFormat& format) {
    const bool knownDepth = format.bitsPerSample == 8 || format.bitsPerSample == 16 ||
                            format.bitsPerSample == 24 || format.bitsPerSample == 32;
    return knownDepth && format.sampleRate > 0 && format.sampleRate <= kHighestTrackRate &&
           format.channels > 0 && format.channels <= kMostChannels;
}

std::int16_t downmixFrame(const std::uint8_t* frame, const PcmFormat& format) {
    const std::uint32_t bytesPerSample = format.bitsPerSample / 8;
    std::int64_t sum = 0;
    for (std::uint32_t channel = 0; channel < format.channels; ++channel)
        sum += channelValue(frame + std::size_t{channel} * bytesPerSample, bytesPerSample);
    std::int64_t mono = floorDivide(sum, format.channels);
    if (bytesPerSample == 1) mono = (mono - 128) * 256;
    return static_cast<std::int16_t>(mono);
}

std::size_t downmixFrames(const std::uint8_t* data, std::size_t length, std::size_t& position,
                          const PcmFormat& format, std::int16_t* out, std::size_t capacity) {
    const std::size_t frameBytes = std::size_t{format.channels} * (format.bitsPerSample / 8);
    if (frameBytes == 0) return 0;
    std::size_t written = 0;
    while (written < capacity && position <= length && length - position >= frameBytes) {
        out[written++] = downmixFrame(data + position, format);
        position += frameBytes;
    }
    return written;
}

void resampleToMix(const std::int16_t* source, std::size_t n, std::uint32_t trackRate,
                   std::uint32_t mixRate, std::int16_t* out, std::size_t outCount) {
    std::size_t o = 0;
    if (trackRate > 0 && mixRate > 0) {
        std::size_t s = 0;
        if (trackRate >= mixRate) {
            const std::size_t ratio = trackRate / mixRate;
            for (; o < outCount && s < n; ++o, s += ratio) out[o] = source[s];
        } else {
            const std::size_t ratio = mixRate / trackRate;
            for (; o < outCount; ++o) out[o] = (o % ratio == 0 && s < n) ? source[s++] : 0;
        }
    }
    std::fill(out + o, out + outCount, std::int16_t{0});
}

void mixChunks(const std::vector<const std::int16_t*>& sources, int divisor, std::int16_t* out,
               std::size_t count) {
    const std::int64_t by = divisor < 1 ? 1 : divisor;
    constexpr std::int64_t lowest = std::numeric_limits<std::int16_t>::min();
    constexpr std::int64_t highest = std::numeric_limits<std::int16_t>::max();
    for (std::size_t i = 0; i < count; ++i) {
        std::int64_t sum = 0;
        for (const std::int16_t* source : sources) sum += source[i];
        out[i] = static_cast<std::int16_t>(std::clamp(sum / by, lowest, highest));
    }
}

int largestOverlap(const std::vector<TimeSpan>& spans) {
    // Ends sort before starts at the same instant: a span is over at its end.
    std::vector<std::pair<std::uint64_t, int>> edges;
    edges.reserve(spans.size() * 2);
    for (const TimeSpan& span : spans) {
        if (span.end <= span.start) continue;
        edges.emplace_back(span.start, +1);
        edges.emplace_back(span.end, -1);
    }
    std::sort(edges.begin(), edges.end());
    int sounding = 0;
    int largest = 1;
    for (const auto& edge : edges) {
        sounding += edge.second;
        largest = std::max(largest, sounding);
    }
    return largest;
}

bool isPastTrackEnd(std::int64_t timestamp, std::uint64_t start, std::uint64_t end) {
    const std::uint64_t length = end > start ? end - start : 0;
    return timestamp > 0 && static_cast<std::uint64_t>(timestamp) > length;
}

bool isAcceptableAacType(const AudioTypeFacts& candidate, const AudioTypeFacts& current,
                         int mixRate) {
    const std::uint32_t sourceChannels = current.channels.value_or(0);
    if (sourceChannels != 0) {
        const std::uint32_t channels = candidate.channels.value_or(0);
        if (channels == 0) return false;
        if (channels != sourceChannels && sourceChannels == 1) return false;
    }
    const std::int64_t sourceRate = current.sampleRate.value_or(0);
    if (sourceRate != 0) {
        const std::int64_t rate = candidate.sampleRate.value_or(0);
        if (distance(sourceRate, rate) > distance(sourceRate, mixRate)) return false;
    }
    const std::int64_t sourceBytes = current.bytesPerSecond.value_or(0);
    if (sourceBytes == 0) return true;
    const std::int64_t bytes = candidate.bytesPerSecond.value_or(0);
    const std::int64_t mixBytes = std::int64_t{mixRate} * 16 / 8;
    if (sourceBytes - bytes > 0 && sourceBytes - mixBytes < 0) return false;
    return distance(sourceBytes, bytes) <= distance(sourceBytes, mixBytes);
}

std::vector<std::size_t> chooseAacCandidates(const std::vector<std::optional<AudioTypeFacts>>& list,
                                             const AudioTypeFacts& current, int mixRate) {
    std::vector<std::size_t> chosen;
    for (std::size_t index = 0; index < list.size(); ++index) {
        if (!list[index]) continue;
        if (chosen.empty() || isAcceptableAacType(*list[index], current, mixRate))
            chosen.push_back(index);
    }
    return chosen;
}

bool asksForSixteenBits(std::optional<std::uint32_t> nativeBitsPerSample) {
    return nativeBitsPerSample && *nativeBitsPerSample > 16;
}

std::string describeAudioType(const std::string& prefix, std::uint32_t streamIndex,
                              std::uint32_t channels, std::uint32_t sampleRate,
                              std::uint32_t bitsPerSample) {
    return prefix + std::to_string(streamIndex) + ", channels: " + std::to_string(channels) +
           ", samples per second: " + std::to_string(sampleRate) +
           ", bits per sample: " + std::to_string(bitsPerSample);
}

}  // namespace reelwright
