// Arithmetic of the movie's sound that needs no platform call: the chunk layout, turning
// interleaved PCM frames into mono 16-bit samples, resampling a track's chunk to the mix
// rate, the mix itself, how many tracks sound at once, when a track ends, and the rule that
// picks the AAC output type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace reelwright {

// One chunk of the mix, from the mix rate and the chunk length in seconds.
struct AudioChunkLayout {
    std::uint32_t bytes;           // rate × seconds × 2, truncated: 441
    std::uint32_t samples;         // 16-bit samples written, one per even byte below bytes − 2: 220
    std::uint64_t duration;        // seconds × 10,000,000, truncated: 100000
};
AudioChunkLayout audioChunkLayout(int mixRate, double chunkSeconds);

// Samples a track of this rate gives per chunk: rate × seconds, truncated (441 at 44100 Hz).
std::uint32_t trackSamplesPerChunk(std::uint32_t trackRate, double chunkSeconds);

// The decoded format of a track.
struct PcmFormat {
    std::uint32_t sampleRate = 0;
    std::uint32_t bitsPerSample = 0;
    std::uint32_t channels = 0;
};

// Whether frames of this format can be turned into mono samples and resampled: a rate of
// 1 Hz to 1 MHz, 8/16/24/32-bit integer samples and 1 to 1024 channels.
bool isReadableFormat(const PcmFormat& format);

// One interleaved frame as one mono sample: the channels' average, rounded toward minus
// infinity. 8-bit samples are unsigned and become (value − 128) × 256; samples deeper than
// 16 bits keep their top 16 bits. format must be readable; frame holds one whole frame.
std::int16_t downmixFrame(const std::uint8_t* frame, const PcmFormat& format);

// Converts the whole frames of data[position, length) into out[0, capacity), advancing
// position by one frame per sample. A partial frame at the end of data is never read.
// Answers the number of samples written.
std::size_t downmixFrames(const std::uint8_t* data, std::size_t length, std::size_t& position,
                          const PcmFormat& format, std::int16_t* out, std::size_t capacity);

// Fills out[0, outCount) from a track's chunk source[0, n) at trackRate for the mix at
// mixRate: a rate at or above the mix rate keeps every ratio-th sample from the start
// (ratio = trackRate / mixRate), a lower rate is followed by ratio − 1 zeros per sample
// (ratio = mixRate / trackRate). Never reads past source[n − 1]; silence fills the rest.
void resampleToMix(const std::int16_t* source, std::size_t n, std::uint32_t trackRate,
                   std::uint32_t mixRate, std::int16_t* out, std::size_t outCount);

// out[i] = the sum of sources[k][i] divided by divisor (truncated toward zero), kept within
// the 16-bit range. divisor < 1 counts as 1.
void mixChunks(const std::vector<const std::int16_t*>& sources, int divisor, std::int16_t* out,
               std::size_t count);

// A track's place on the movie time line: it sounds from start up to, not including, end.
struct TimeSpan {
    std::uint64_t start;
    std::uint64_t end;
};

// The largest number of spans that cover one instant; at least 1. Independent of order.
int largestOverlap(const std::vector<TimeSpan>& spans);

// Whether a decoded sample stamped at timestamp (the file's own time) lies past the track's
// length, end − start (nothing when end is not after start).
bool isPastTrackEnd(std::int64_t timestamp, std::uint64_t start, std::uint64_t end);

// What the platform tells of an audio type; a missing attribute is nothing.
struct AudioTypeFacts {
    std::optional<std::uint32_t> channels;
    std::optional<std::uint32_t> sampleRate;
    std::optional<std::uint32_t> bytesPerSecond;
};

// Whether an AAC candidate suits the first track's decoded type and the mix: channels that
// match (a mono source takes only mono), a rate no farther from the source's than the mix
// rate is, a byte rate no farther from the source's than the mix's byte rate is.
bool isAcceptableAacType(const AudioTypeFacts& candidate, const AudioTypeFacts& current,
                         int mixRate);

// Walks the encoders' list (nothing where an element could not be fetched): the first
// fetchable element is chosen, then every later one that is acceptable. Answers the indexes
// chosen, in order; the last one is the type to use, none when the list gave none.
std::vector<std::size_t> chooseAacCandidates(const std::vector<std::optional<AudioTypeFacts>>& list,
                                             const AudioTypeFacts& current, int mixRate);

// Whether a source whose native type has this depth is asked for 16-bit PCM explicitly.
bool asksForSixteenBits(std::optional<std::uint32_t> nativeBitsPerSample);

// ", channels: <c>, samples per second: <r>, bits per sample: <b>" after a prefix and a
// stream index, as the media-type traces print it (missing values as 0).
std::string describeAudioType(const std::string& prefix, std::uint32_t streamIndex,
                              std::uint32_t channels, std::uint32_t sampleRate,
                              std::uint32_t bitsPerSample);

}  // namespace reelwright
