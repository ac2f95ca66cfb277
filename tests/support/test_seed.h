// The seed of a randomised test.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// VUD_TEST_SEED when set, else a fixed seed, so that every run of the suite
// is the same; printed so that a failure can be repeated and other seeds
// tried.
inline uint32_t testSeed() {
    constexpr uint32_t FixedSeed = 20261207;
    const char* given = std::getenv("VUD_TEST_SEED");
    const uint32_t seed = given != nullptr && given[0] != '\0'
                              ? static_cast<uint32_t>(std::strtoul(given, nullptr, 10))
                              : FixedSeed;
    std::printf("seed %u (set VUD_TEST_SEED to try another)\n", seed);
    return seed;
}
