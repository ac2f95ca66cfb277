#include "archive/block_decoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/archive/archive_test_support.h"

namespace {

class BlockDecoder : public testing::Test {
protected:
    void SetUp() override { buildDecodeTables(); }
};

std::vector<int16_t> repeat(int16_t value, size_t count) {
    return std::vector<int16_t>(count, value);
}

}  // namespace

TEST_F(BlockDecoder, SampleTableIsSquareLaw) {
    const int16_t* t = decodeTables.sampleTable;
    const int indices[] = {0, 1, 2, 64, 126, 127, 128, 129, 130, 192, 254, 255};
    const int16_t values[] = {-32768, -32258, -31752, -8192, -8, -2, 0, 2, 8, 8192, 31752, 32258};
    for (size_t k = 0; k < 12; ++k) EXPECT_EQ(t[indices[k]], values[k]) << indices[k];
    for (int k = 1; k <= 127; ++k) EXPECT_EQ(t[128 - k], -t[128 + k]) << k;
    for (int i = 1; i < 256; ++i) EXPECT_LT(t[i - 1], t[i]) << i;
}

TEST_F(BlockDecoder, DeltaTableStepsUpOnOddAndDownOnEvenIndices) {
    const int8_t* d = decodeTables.deltaTable;
    const int indices[] = {0, 1, 2, 3, 4, 13, 14, 15, 16, 127, 128, 253, 254, 255};
    const int steps[] = {0, 1, -1, 2, -2, 7, -7, 8, -8, 64, -64, 127, -127, -128};
    for (size_t k = 0; k < 14; ++k) EXPECT_EQ(d[indices[k]], steps[k]) << indices[k];
    const int codeSteps[] = {0, 1, -1, 2, -2, 3, -3, 4, -4, 5, -5, 6, -6, 7, -7};
    for (int c = 0; c < 15; ++c) EXPECT_EQ(d[c], codeSteps[c]) << c;
}

TEST_F(BlockDecoder, SilentAndRawBlocks) {
    EXPECT_EQ(decodeBoth(entryData({0}, {})), repeat(0, 1024));
    EXPECT_EQ(decodeBoth(entryData({1024}, std::vector<uint8_t>(1024, 128))), repeat(0, 1024));
    EXPECT_EQ(decodeBoth(entryData({1024}, std::vector<uint8_t>(1024, 0))), repeat(-32768, 1024));
    EXPECT_EQ(decodeBoth(entryData({1024}, std::vector<uint8_t>(1024, 255))), repeat(32258, 1024));

    std::vector<uint8_t> ramp(1024);
    for (size_t k = 0; k < ramp.size(); ++k) ramp[k] = static_cast<uint8_t>(k);
    const std::vector<int16_t> samples = decodeBoth(entryData({1024}, ramp));
    ASSERT_EQ(samples.size(), 1024u);
    for (size_t k = 0; k < 1024; ++k) EXPECT_EQ(samples[k], decodeTables.sampleTable[k & 255]);
}

TEST_F(BlockDecoder, WorkedDeltaExamples) {
    EXPECT_EQ(decodeBoth(entryData({1}, {0x21})), (std::vector<int16_t>{-32258, -32768}));
    // Escape with value 0x83 (step +66), then code 0.
    EXPECT_EQ(decodeBoth(entryData({2}, {0x3F, 0x08})), (std::vector<int16_t>{-7688, -7688}));
    // Code 1, then an escape taking 0x52 (step -41) from the third and fourth nibbles.
    EXPECT_EQ(decodeBoth(entryData({2}, {0xF1, 0x52})), (std::vector<int16_t>{-32258, 15488}));
    // Escape 255 (step -128) from accumulator 0 reaches the zero sample.
    EXPECT_EQ(decodeBoth(entryData({2}, {0xFF, 0x0F})), (std::vector<int16_t>{0, 0}));
    // Each block starts again from accumulator 0.
    EXPECT_EQ(decodeBoth(entryData({1, 1}, {0x21, 0x11})),
              (std::vector<int16_t>{-32258, -32768, -32258, -31752}));
}

TEST_F(BlockDecoder, SilentBlockTakesNoBytes) {
    const std::vector<int16_t> samples = decodeBoth(entryData({2, 0, 1}, {0x3F, 0x08, 0x21}));
    ASSERT_EQ(samples.size(), 2u + 1024u + 2u);
    EXPECT_EQ(samples[0], -7688);
    EXPECT_EQ(samples[1], -7688);
    EXPECT_EQ(samples[2], 0);
    EXPECT_EQ(samples[1025], 0);
    EXPECT_EQ(samples[1026], -32258);  // the third block reads the third byte
    EXPECT_EQ(samples[1027], -32768);
}

TEST_F(BlockDecoder, CapacityComesFromTheSizes) {
    const SourceEntryData data = entryData({0, 1024, 600}, std::vector<uint8_t>(1624, 0x11));
    EXPECT_EQ(sampleCapacityOf(data), 3248u);
    DecodedEntry decoded;
    ASSERT_TRUE(decodeSourceEntry(data, &decoded));
    EXPECT_EQ(decoded.sampleCapacity, 3248u);
    EXPECT_EQ(decoded.sampleCount, 3248u);

    DecodedEntry empty;
    ASSERT_TRUE(decodeSourceEntry(entryData({}, {}), &empty));
    EXPECT_EQ(empty.sampleCount, 0u);
    EXPECT_EQ(sampleCapacityOf(entryData({-1, 0x7FFF}, {})), 2u * 0x7FFF);
}

TEST_F(BlockDecoder, EscapeInTheLastNibblesOfABlockReadsOnIntoTheNextBytes) {
    // Block 1 (1 byte 0xF0): code 0, then an escape whose value 0x21 (step +17)
    // comes from block 2's byte; block 2 still starts at that byte.
    const int16_t after = decodeTables.sampleTable[17];
    EXPECT_EQ(decodeBoth(entryData({1, 1}, {0xF0, 0x21})),
              (std::vector<int16_t>{-32768, after, -32258, -32768}));
    // Escape in the second-to-last nibble: the low value nibble is the block's
    // own last nibble, the high one comes from the following byte.
    EXPECT_EQ(decodeBoth(entryData({1, 1}, {0x1F, 0x02})).front(),
              decodeTables.sampleTable[static_cast<uint8_t>(decodeTables.deltaTable[0x21])]);
}

TEST_F(BlockDecoder, EscapeWithoutValueAtTheEndOfTheEntryEndsTheBlock) {
    EXPECT_EQ(decodeBoth(entryData({1}, {0xF1})), (std::vector<int16_t>{-32258}));
    EXPECT_TRUE(decodeBoth(entryData({1}, {0x1F})).empty());
    EXPECT_EQ(decodeBoth(entryData({2}, {0x11, 0xF1})),
              (std::vector<int16_t>{-32258, -31752, -31250}));
    // Escape one nibble short: the low value nibble exists, the high one does not.
    EXPECT_EQ(decodeBoth(entryData({2}, {0x11, 0x1F})), (std::vector<int16_t>{-32258, -31752}));
    // A silent block after such an escape still decodes.
    EXPECT_EQ(decodeBoth(entryData({1, 0}, {0xF1})).size(), 1u + 1024u);
}

TEST_F(BlockDecoder, StaysInsideDataThatDoesNotFollowTheFormat) {
    // A negative size is passed over: no samples, the cursor stays.
    EXPECT_EQ(decodeBoth(entryData({-5, 1}, {0x21})), (std::vector<int16_t>{-32258, -32768}));
    EXPECT_EQ(decodeBoth(entryData({static_cast<int16_t>(0x8000), 0}, {})).size(), 1024u);
    // Fewer bytes than the sizes promise: only the bytes present decode.
    EXPECT_EQ(decodeBoth(entryData({1024}, std::vector<uint8_t>(10, 128))), repeat(0, 10));
    EXPECT_EQ(decodeBoth(entryData({4}, {0x11})), (std::vector<int16_t>{-32258, -31752}));
    EXPECT_EQ(decodeBoth(entryData({600, 1024, 0, 3}, std::vector<uint8_t>(700, 0x00))).size(),
              1200u + 100u + 1024u);
}
