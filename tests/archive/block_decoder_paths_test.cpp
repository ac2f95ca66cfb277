// Every faster decoding path against the plain nibble loop: decodeBoth()
// decodes with both and reports the first sample where they differ.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "archive/block_decoder.h"
#include "tests/archive/archive_test_support.h"

namespace {

// Bytes of one delta block whose nibbles are escape codes with probability
// escapeShare, other codes otherwise.
std::vector<uint8_t> deltaBytes(std::mt19937& random, size_t size, double escapeShare) {
    std::bernoulli_distribution escape(escapeShare);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& byte : bytes) {
        const uint8_t low = escape(random) ? 15 : static_cast<uint8_t>(random() % 15);
        const uint8_t high = escape(random) ? 15 : static_cast<uint8_t>(random() % 15);
        byte = static_cast<uint8_t>(low | (high << 4));
    }
    return bytes;
}

void setNibble(std::vector<uint8_t>& bytes, size_t j, uint8_t value) {
    uint8_t& byte = bytes[j / 2];
    byte = (j & 1) != 0 ? static_cast<uint8_t>((byte & 0x0F) | (value << 4))
                        : static_cast<uint8_t>((byte & 0xF0) | value);
}

// Decodes the entry as given and cut short by up to `cuts` bytes.
void checkWithCuts(const std::vector<int16_t>& sizes, const std::vector<uint8_t>& bytes,
                   size_t cuts) {
    for (size_t cut = 0; cut <= cuts && cut <= bytes.size(); ++cut) {
        decodeBoth(entryData(sizes, std::vector<uint8_t>(bytes.begin(), bytes.end() - cut)));
        if (testing::Test::HasFailure()) {
            ADD_FAILURE() << "cut " << cut << " of " << bytes.size() << " bytes, " << sizes.size()
                          << " blocks";
            return;
        }
    }
}

}  // namespace

TEST(DecoderPaths, EveryByteAloneAndBeforeEveryByte) {
    for (int first = 0; first < 256; ++first) {
        decodeBoth(entryData({1}, {static_cast<uint8_t>(first)}));
        for (int second = 0; second < 256; ++second) {
            const std::vector<uint8_t> bytes = {static_cast<uint8_t>(first),
                                                static_cast<uint8_t>(second)};
            decodeBoth(entryData({1, 1}, bytes));
            decodeBoth(entryData({2}, bytes));
            ASSERT_FALSE(testing::Test::HasFailure()) << first << " " << second;
        }
    }
}

TEST(DecoderPaths, EscapeAtEveryPositionOfEveryBlockSize) {
    std::mt19937 random(testSeed());
    const size_t sizes[] = {1,   2,   3,   4,   7,   8,   9,   15,   16,   17,
                            31,  32,  33,  63,  64,  65,  100, 255,  256,  300,
                            511, 512, 513, 520, 600, 700, 900, 1023, 1025, 2000};
    for (size_t size : sizes) {
        const std::vector<uint8_t> base = deltaBytes(random, size + 40, 0.0);
        for (size_t j = 0; j < 2 * size; ++j) {
            // Every position near both ends of the block, every 5th between
            // (which still meets each position within a 32-nibble chunk).
            if (j >= 80 && j + 80 < 2 * size && j % 5 != 0) continue;
            std::vector<uint8_t> bytes = base;
            setNibble(bytes, j, 15);
            // Value nibbles of 15 are data, not escape codes.
            if (j % 3 == 0 && j + 1 < 2 * bytes.size()) setNibble(bytes, j + 1, 15);
            const auto s = static_cast<int16_t>(size);
            // The block alone (escape near its end reaches the end of the entry),
            // then followed by a delta block and by a raw block.
            checkWithCuts({s}, std::vector<uint8_t>(bytes.begin(), bytes.begin() + size), 2);
            checkWithCuts({s, 40}, bytes, 0);
            std::vector<uint8_t> withRaw(bytes.begin(), bytes.begin() + size);
            withRaw.resize(size + 1024, 0xF7);
            checkWithCuts({s, 1024}, withRaw, 0);
            ASSERT_FALSE(testing::Test::HasFailure()) << "size " << size << ", escape at " << j;
        }
    }
}

TEST(DecoderPaths, TwoEscapesAtEveryDistance) {
    std::mt19937 random(testSeed());
    for (size_t size : {24u, 512u, 530u}) {
        const std::vector<uint8_t> base = deltaBytes(random, size, 0.0);
        for (size_t first = 0; first < 40; ++first) {
            for (size_t distance = 1; distance < 40 && first + distance < 2 * size; ++distance) {
                std::vector<uint8_t> bytes = base;
                setNibble(bytes, first, 15);
                setNibble(bytes, first + distance, 15);
                decodeBoth(entryData({static_cast<int16_t>(size)}, bytes));
                ASSERT_FALSE(testing::Test::HasFailure()) << first << " " << distance;
            }
        }
    }
}

TEST(DecoderPaths, RandomEntriesOfEveryEscapeDensity) {
    std::mt19937 random(testSeed());
    const double shares[] = {0.0, 0.002, 0.01, 0.03, 0.06, 0.1, 0.15, 0.2, 0.3, 0.5, 0.8, 1.0};
    for (int round = 0; round < 300; ++round) {
        std::vector<int16_t> sizes;
        std::vector<uint8_t> bytes;
        const size_t blocks = random() % 12;
        for (size_t b = 0; b < blocks; ++b) {
            const uint32_t kind = random() % 8;
            if (kind == 0) {
                sizes.push_back(0);
            } else if (kind == 1) {
                sizes.push_back(1024);
                for (int k = 0; k < 1024; ++k) bytes.push_back(static_cast<uint8_t>(random()));
            } else {
                // Mostly the sizes of 1024-sample blocks (512 + escapes), some short ones.
                const double share = shares[random() % 12];
                size_t size = kind == 2 ? random() % 64 + 1 : 512 + random() % 511;
                if (size == 1024) size = 1023;
                sizes.push_back(static_cast<int16_t>(size));
                const std::vector<uint8_t> block = deltaBytes(random, size, share);
                bytes.insert(bytes.end(), block.begin(), block.end());
            }
        }
        checkWithCuts(sizes, bytes, random() % 3 == 0 ? 20 : 0);
        ASSERT_FALSE(testing::Test::HasFailure()) << "round " << round;
    }
}

TEST(DecoderPaths, RawBlocksAtEveryAlignment) {
    std::vector<uint8_t> ramp(1024);
    for (size_t k = 0; k < ramp.size(); ++k) ramp[k] = static_cast<uint8_t>(k * 7 + k / 256);
    for (int16_t lead = 1; lead < 40; ++lead) {
        std::vector<uint8_t> bytes(static_cast<size_t>(lead), 0x21);
        bytes.insert(bytes.end(), ramp.begin(), ramp.end());
        bytes.insert(bytes.end(), ramp.begin(), ramp.end());
        checkWithCuts({lead, 1024, 0, 1024}, bytes, lead == 1 ? 1030 : 40);
        ASSERT_FALSE(testing::Test::HasFailure()) << lead;
    }
}
