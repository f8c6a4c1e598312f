// Time to make one 10 ms chunk of the mix from four tracks whose decoded samples are already in
// memory (44100, 48000, 22050 and 11025 Hz): resampling each to 22050 Hz and mixing them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "audio_math.h"

using namespace reelwright;

static void BM_MixChunkOfFourTracks(benchmark::State& state) {
    const AudioChunkLayout layout = audioChunkLayout(22050, 0.01);
    const std::uint32_t rates[] = {44100, 48000, 22050, 11025};
    std::mt19937 random(7);
    std::vector<std::vector<std::int16_t>> decoded;
    for (std::uint32_t rate : rates) {
        std::vector<std::int16_t> samples(trackSamplesPerChunk(rate, 0.01));
        for (auto& s : samples) s = std::int16_t(random());
        decoded.push_back(std::move(samples));
    }
    std::vector<std::vector<std::int16_t>> resampled(4, std::vector<std::int16_t>(layout.samples));
    std::vector<const std::int16_t*> sources;
    for (const auto& r : resampled) sources.push_back(r.data());
    std::vector<std::int16_t> mix(layout.samples);

    for (auto _ : state) {
        for (std::size_t t = 0; t < 4; ++t)
            resampleToMix(decoded[t].data(), decoded[t].size(), rates[t], 22050, resampled[t].data(),
                          layout.samples);
        mixChunks(sources, 4, mix.data(), mix.size());
        benchmark::DoNotOptimize(mix.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MixChunkOfFourTracks)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
