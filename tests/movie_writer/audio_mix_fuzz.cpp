// Random tracks through the chunk arithmetic: per chunk each started track gives its n samples
// (fewer at its end, then silence), which are resampled to the mix rate and mixed. Checks that
// nothing is read out of bounds (the sanitizers watch exact-size buffers), that every output
// sample is what the track's source says it is, that the mix saturates, and that the overlap
// count ignores the tracks' order.
//
// With clang, -fsanitize=fuzzer,address -DREELWRIGHT_LIBFUZZER makes LLVMFuzzerTestOneInput the
// entry of a libFuzzer program; otherwise the program is its own driver:
// `movie_writer_audio_mix_fuzz <cases> <seed>`.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "audio_math.h"

#include <tavro_test/random_cases.h>

using namespace reelwright;

namespace {

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint32_t take(std::uint32_t below) {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = (value << 8) | (at_ < size_ ? data_[at_++] : 0);
        return below ? value % below : value;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

struct Track {
    std::uint32_t rate;
    std::vector<std::int16_t> samples;  // the whole decoded track
    std::uint64_t start;                // on the chunk grid's time line
    std::size_t consumed = 0;
};

void fail(const char* what, long long a, long long b) {
    std::fprintf(stderr, "audio mix fuzz: %s (%lld, %lld)\n", what, a, b);
    std::abort();
}

// What output place o of a track's chunk must hold, from its chunk source src[0, n).
std::int16_t expectedAt(const std::vector<std::int16_t>& src, std::size_t n, std::uint32_t rate,
                        std::size_t o) {
    if (rate >= 22050) {
        const std::size_t s = o * (rate / 22050);
        return s < n ? src[s] : 0;
    }
    const std::size_t ratio = 22050 / rate;
    return (o % ratio == 0 && o / ratio < n) ? src[o / ratio] : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::uint32_t kRates[] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000, 96000};
    Bytes in(data, size);
    const AudioChunkLayout layout = audioChunkLayout(22050, 0.01);
    const std::size_t trackCount = in.take(6);
    std::vector<Track> tracks;
    std::vector<TimeSpan> spans;
    for (std::size_t t = 0; t < trackCount; ++t) {
        Track track;
        const std::uint32_t pick = in.take(12);
        track.rate = pick < 9 ? kRates[pick] : 1 + in.take(200000);  // also odd rates
        track.samples.resize(in.take(3000));
        const bool loud = in.take(2) == 1;
        for (auto& s : track.samples)
            s = loud ? std::int16_t(in.take(2) ? 32767 : -32768)
                     : std::int16_t(int(in.take(65536)) - 32768);
        track.start = std::uint64_t(in.take(8)) * 50000;
        spans.push_back({track.start, track.start + std::uint64_t(in.take(20)) * 100000});
        tracks.push_back(std::move(track));
    }

    const int overlap = largestOverlap(spans);
    if (overlap < 1 || overlap > int(std::max<std::size_t>(1, spans.size()))) fail("overlap range", overlap, 0);
    std::vector<TimeSpan> reversed(spans.rbegin(), spans.rend());
    if (largestOverlap(reversed) != overlap) fail("overlap depends on order", overlap, largestOverlap(reversed));

    for (std::uint64_t clock = 0; clock < 12 * layout.duration; clock += layout.duration) {
        std::vector<std::vector<std::int16_t>> chunks;
        for (Track& track : tracks) {
            if (track.start > clock) continue;
            const std::uint32_t n = trackSamplesPerChunk(track.rate, 0.01);
            std::vector<std::int16_t> src(n, 0);  // exactly n: a read past it is caught
            const std::size_t left = track.samples.size() - track.consumed;
            const std::size_t got = std::min<std::size_t>(n, left);
            std::copy_n(track.samples.begin() + std::ptrdiff_t(track.consumed), got, src.begin());
            track.consumed += got;
            std::vector<std::int16_t> out(layout.samples);
            resampleToMix(src.data(), src.size(), track.rate, 22050, out.data(), out.size());
            for (std::size_t o = 0; o < out.size(); ++o)
                if (out[o] != expectedAt(src, n, track.rate, o)) fail("resampled sample", long(o), out[o]);
            chunks.push_back(std::move(out));
        }
        std::vector<const std::int16_t*> sources;
        for (const auto& c : chunks) sources.push_back(c.data());
        std::vector<std::int16_t> mix(layout.samples);
        mixChunks(sources, overlap, mix.data(), mix.size());
        for (std::size_t i = 0; i < mix.size(); ++i) {
            long long sum = 0;
            for (const auto* s : sources) sum += s[i];
            const long long want = std::clamp<long long>(sum / overlap, -32768, 32767);
            if (mix[i] != want) fail("mixed sample", long(i), mix[i]);
        }
    }
    return 0;
}

#ifndef REELWRIGHT_LIBFUZZER
int main(int argc, char** argv) { return tavro_test::runRandomCases(argc, argv, 16384); }
#endif
