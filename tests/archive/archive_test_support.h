// Helpers shared by the archive tests: archives in temporary files, entry
// data built by hand, and decoding with a check against the reference loop.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "archive/block_decoder.h"
#include "archive/source_archive.h"
#include "platform/owned_file.h"
#include "tests/support/test_seed.h"

// An anonymous temporary file holding bytes, positioned at its start.
inline OwnedFile fileWithBytes(const std::vector<uint8_t>& bytes) {
    OwnedFile file(std::tmpfile());
    if (!file) return file;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        return OwnedFile();
    }
    std::rewind(file.get());
    return file;
}

// Entry data as the reader would hand it over; length may be cut below the
// sizes' sum to stand for data that ended early.
inline SourceEntryData entryData(const std::vector<int16_t>& sizes,
                                 const std::vector<uint8_t>& bytes) {
    SourceEntryData data;
    data.blockCount = static_cast<uint32_t>(sizes.size());
    data.blockSizes.reset(new int16_t[sizes.size()]);
    if (!sizes.empty()) std::memcpy(data.blockSizes.get(), sizes.data(), 2 * sizes.size());
    data.compressedLength = bytes.size();
    data.compressedBytes.reset(new uint8_t[bytes.size()]);
    if (!bytes.empty()) std::memcpy(data.compressedBytes.get(), bytes.data(), bytes.size());
    return data;
}

inline std::vector<int16_t> samplesOf(const DecodedEntry& decoded) {
    return std::vector<int16_t>(decoded.samples.get(), decoded.samples.get() + decoded.sampleCount);
}

// Decodes with the reference loop and with decodeSourceEntry, expects both to
// agree and to stay within the capacity, and returns the samples.
inline std::vector<int16_t> decodeBoth(const SourceEntryData& data) {
    static const bool built = (buildDecodeTables(), true);
    (void)built;
    DecodedEntry reference;
    DecodedEntry fast;
    EXPECT_TRUE(decodeSourceEntryReference(data, &reference));
    EXPECT_TRUE(decodeSourceEntry(data, &fast));
    EXPECT_LE(reference.sampleCount, reference.sampleCapacity);
    EXPECT_EQ(reference.sampleCapacity, fast.sampleCapacity);
    const std::vector<int16_t> expected = samplesOf(reference);
    const std::vector<int16_t> actual = samplesOf(fast);
    EXPECT_EQ(expected.size(), actual.size());
    if (expected.size() == actual.size()) {
        for (size_t k = 0; k < expected.size(); ++k) {
            if (expected[k] != actual[k]) {
                ADD_FAILURE() << "sample " << k << ": reference " << expected[k] << ", fast "
                              << actual[k];
                break;
            }
        }
    }
    return expected;
}
