// The stand-alone run of a libFuzzer entry: a count of random inputs from a seed, so that the
// sanitizer build exercises the entry on every run and a failure can be replayed from its seed.
// Usage: fuzz_driver [cases] [seed]
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace tavro_test {

inline int runRandomCases(int argc, char** argv, std::size_t maxInputSize) {
    const long cases = argc > 1 ? std::atol(argv[1]) : 200;
    const unsigned long seed = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1;
    std::mt19937 random(seed);
    for (long c = 0; c < cases; ++c) {
        std::vector<std::uint8_t> input(std::uniform_int_distribution<std::size_t>(0, maxInputSize)(random));
        for (auto& b : input) b = std::uint8_t(random());
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%ld random cases from seed %lu passed\n", cases, seed);
    return 0;
}

}  // namespace tavro_test
