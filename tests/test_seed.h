// The seed of a randomised test.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

// VUD_TEST_SEED when set, else a fresh one; printed so that a failure can be
// repeated.
inline uint32_t testSeed() {
    const char* fixed = std::getenv("VUD_TEST_SEED");
    const uint32_t seed = fixed != nullptr ? static_cast<uint32_t>(std::strtoul(fixed, nullptr, 10))
                                           : std::random_device{}();
    std::printf("seed %u (set VUD_TEST_SEED to repeat)\n", seed);
    return seed;
}
