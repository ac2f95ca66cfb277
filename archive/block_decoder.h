// Decoding one voice entry's blocks (silent, raw square-law, 4-bit delta with
// escape codes) into signed 16-bit mono PCM.
#pragma once

#include <cstdint>
#include <memory>

#include "archive/source_archive.h"

constexpr int32_t SamplesPerFixedBlock = 1024;
constexpr int16_t RawBlockSize = 1024;

struct DecodeTables {
    int16_t sampleTable[256];
    int8_t deltaTable[256];
};

// Filled once by buildDecodeTables before the worker exists; read-only afterwards.
extern DecodeTables decodeTables;

void buildDecodeTables();

// The decoded samples of one entry; the caller owns them.
struct DecodedEntry {
    std::unique_ptr<int16_t[]> samples;
    uint64_t sampleCount = 0;
    uint64_t sampleCapacity = 0;
};

// false when the samples cannot be reserved (or their byte count does not fit
// 32 bits); nothing else fails.
bool decodeSourceEntry(const SourceEntryData& data, DecodedEntry* decoded);
