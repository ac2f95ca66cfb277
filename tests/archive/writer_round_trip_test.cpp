// writer -> file -> reader -> decoder gives exactly what the writer says it
// encoded, for made-up signals and for the bundled speech samples.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "archive/block_decoder.h"
#include "archive/source_archive.h"
#include "tests/archive/archive_test_support.h"
#include "tools/source_writer/source_writer.h"

namespace {

std::vector<int16_t> makeSignal(std::mt19937& random, size_t count) {
    std::vector<int16_t> pcm(count);
    std::uniform_int_distribution<int> kindOf(0, 4);
    size_t at = 0;
    while (at < count) {
        const size_t run = std::min(count - at, static_cast<size_t>(random() % 3000 + 1));
        const int kind = kindOf(random);
        const double amplitude = static_cast<double>(random() % 32768);
        const double frequency = 0.001 + (random() % 1000) / 2000.0;
        for (size_t k = 0; k < run; ++k, ++at) {
            switch (kind) {
                case 0:
                    pcm[at] = 0;
                    break;
                case 1:
                    pcm[at] = static_cast<int16_t>(amplitude * std::sin(frequency * k));
                    break;
                case 2:
                    pcm[at] = static_cast<int16_t>(random());
                    break;
                case 3:
                    pcm[at] = static_cast<int16_t>(amplitude * std::sin(frequency * k) / 16);
                    break;
                default:
                    pcm[at] = k % 2 == 0 ? INT16_MIN : INT16_MAX;
                    break;
            }
        }
    }
    return pcm;
}

// Writes the entries as an archive, reads every entry back, decodes it and
// compares with the writer's reconstruction.
void expectRoundTrip(const std::vector<EncodedEntry>& entries, uint32_t rate) {
    const ArchiveImage image = buildSourceArchive(entries, rate);
    OwnedFile file = fileWithBytes(image.bytes);
    ASSERT_TRUE(file);
    int32_t count = 0;
    uint32_t storedRate = 0;
    ASSERT_EQ(readSourceHeader(file.get(), &count, &storedRate), 0);
    ASSERT_EQ(count, static_cast<int32_t>(entries.size()));
    EXPECT_EQ(storedRate, rate);
    SourceEntryTable table = readSourceEntryTable(file.get(), count);
    ASSERT_TRUE(table.entries);
    for (int32_t i = 0; i < count; ++i) {
        SourceEntryData data;
        ASSERT_TRUE(readSourceEntryData(file.get(), table.entries.get(), i, &data)) << i;
        EXPECT_EQ(table.entries[i].id, entries[i].id);
        ASSERT_EQ(data.blockCount, entries[i].blockSizes.size());
        for (uint32_t b = 0; b < data.blockCount; ++b) {
            const int16_t s = data.blockSizes[b];
            ASSERT_EQ(s, entries[i].blockSizes[b]);
            EXPECT_GE(s, 0);
        }
        const std::vector<int16_t> decoded = decodeBoth(data);
        ASSERT_EQ(decoded.size(), entries[i].reconstruction.size()) << "entry " << i;
        EXPECT_TRUE(decoded == entries[i].reconstruction) << "entry " << i;
    }
}

}  // namespace

TEST(WriterRoundTrip, RandomSignalsInEveryMode) {
    std::mt19937 random(testSeed());
    for (int round = 0; round < 20; ++round) {
        std::vector<EncodedEntry> entries;
        const BlockChoice choices[] = {BlockChoice::Automatic, BlockChoice::DeltaOnly,
                                       BlockChoice::RawOnly};
        for (uint16_t id = 0; id < 4; ++id) {
            WriterOptions options;
            options.choice = choices[random() % 3];
            options.escapeTolerance = static_cast<int32_t>(random() % 4 == 0 ? random() % 300 : 0);
            const std::vector<int16_t> pcm = makeSignal(random, random() % 9000);
            entries.push_back(encodeVoiceEntry(static_cast<uint16_t>(id * 1000 + round), pcm.data(),
                                               pcm.size(), options));
        }
        expectRoundTrip(entries, static_cast<uint32_t>(random() % 48001));
    }
}

TEST(WriterRoundTrip, FollowsTheSignalAsCloselyAsTheSampleTableAllows) {
    // With no tolerance every decoded sample is the table value nearest the input.
    std::mt19937 random(testSeed());
    const std::vector<int16_t> pcm = makeSignal(random, 20000);
    for (BlockChoice choice :
         {BlockChoice::Automatic, BlockChoice::DeltaOnly, BlockChoice::RawOnly}) {
        WriterOptions options;
        options.choice = choice;
        const EncodedEntry entry = encodeVoiceEntry(1, pcm.data(), pcm.size(), options);
        ASSERT_GE(entry.reconstruction.size(), pcm.size());
        for (size_t k = 0; k < pcm.size(); ++k) {
            ASSERT_EQ(entry.reconstruction[k], writerSampleValue(nearestSampleIndex(pcm[k]))) << k;
        }
        expectRoundTrip({entry}, 22050);
    }
}

TEST(WriterRoundTrip, ChoosesBlockKindsByContent) {
    std::vector<int16_t> pcm(4096, 0);
    for (size_t k = 1024; k < 2048; ++k) pcm[k] = static_cast<int16_t>(k * 37 % 2000);  // smooth
    for (size_t k = 2048; k < 3072; ++k) pcm[k] = k % 2 == 0 ? 30000 : -30000;          // jumps
    pcm[3072] = 1;  // almost silent: not a silent block
    const EncodedEntry entry = encodeVoiceEntry(3, pcm.data(), pcm.size(), WriterOptions());
    ASSERT_EQ(entry.blockSizes.size(), 4u);
    EXPECT_EQ(entry.blockSizes[0], 0);
    EXPECT_GT(entry.blockSizes[1], 0);
    EXPECT_LT(entry.blockSizes[1], 1024);
    EXPECT_EQ(entry.blockSizes[2], 1024);
    EXPECT_GT(entry.blockSizes[3], 0);
    EXPECT_LT(entry.blockSizes[3], 1024);
    EXPECT_EQ(entry.silentBlocks + entry.rawBlocks + entry.deltaBlocks, 4u);

    // Without escapes a 1024-sample delta block takes 512 bytes; each escape one more.
    WriterOptions loose;
    loose.escapeTolerance = 1000;
    const EncodedEntry noEscapes = encodeVoiceEntry(4, pcm.data() + 2048, 1024, loose);
    EXPECT_EQ(noEscapes.blockSizes[0], 512);
    EXPECT_EQ(noEscapes.escapeCodes, 0u);
    const EncodedEntry smooth = encodeVoiceEntry(5, pcm.data() + 1024, 1024, WriterOptions());
    EXPECT_EQ(smooth.blockSizes[0], 512 + static_cast<int32_t>(smooth.escapeCodes));
    EXPECT_GT(smooth.escapeCodes, 0u);
    expectRoundTrip({entry, noEscapes, smooth}, 11025);
}

TEST(WriterRoundTrip, ShortLastBlocksAndPaddingNibbles) {
    // An odd nibble count pads the last byte with a code that decodes too.
    for (size_t count : {1u, 2u, 3u, 1023u, 1025u, 2047u}) {
        std::vector<int16_t> pcm(count);
        for (size_t k = 0; k < count; ++k) pcm[k] = static_cast<int16_t>(k * 811 % 9000 - 4500);
        for (BlockChoice choice :
             {BlockChoice::Automatic, BlockChoice::DeltaOnly, BlockChoice::RawOnly}) {
            WriterOptions options;
            options.choice = choice;
            const EncodedEntry entry = encodeVoiceEntry(9, pcm.data(), count, options);
            EXPECT_GE(entry.reconstruction.size(), count);
            expectRoundTrip({entry}, 0);
        }
    }
    expectRoundTrip({encodeVoiceEntry(1, nullptr, 0, WriterOptions())}, 0);
}

TEST(WriterRoundTrip, EscapeValuesCoverEveryStep) {
    for (int step = -127; step <= 128; ++step) {
        const uint8_t value = escapeValueForStep(step);
        EXPECT_EQ(writerDeltaStep(value), step);
        buildDecodeTables();
        EXPECT_EQ(static_cast<uint8_t>(decodeTables.deltaTable[value]), static_cast<uint8_t>(step));
    }
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(nearestSampleIndex(writerSampleValue(static_cast<uint8_t>(i))), i);
    }
}

TEST(WriterRoundTrip, BundledSamplesDecodeAlikeOnEveryPath) {
    const char* source = std::getenv("VUD_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    int archives = 0;
    for (const char* name : {"z001.vud", "z002.vud", "z003.vud"}) {
        const std::string path = std::string(source) + "/samples/voice/" + name;
        OwnedFile file = openFile(path.c_str(), "rb");
        ASSERT_TRUE(file) << path;
        int32_t count = 0;
        ASSERT_EQ(readSourceHeader(file.get(), &count, nullptr), 0);
        ASSERT_GT(count, 0);
        SourceEntryTable table = readSourceEntryTable(file.get(), count);
        ASSERT_TRUE(table.entries);
        for (int32_t i = 0; i < count; ++i) {
            SourceEntryData data;
            ASSERT_TRUE(readSourceEntryData(file.get(), table.entries.get(), i, &data));
            const std::vector<int16_t> samples = decodeBoth(data);
            EXPECT_GT(samples.size(), 10000u);
        }
        ++archives;
    }
    EXPECT_EQ(archives, 3);
}
