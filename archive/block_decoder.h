// Decoding one voice entry's blocks (silent, raw square-law, 4-bit delta with
// escape codes) into signed 16-bit mono PCM.
#pragma once

#include <cstdint>
#include <memory>

#include "archive/source_archive.h"

constexpr int32_t SamplesPerFixedBlock = 1024;
constexpr int16_t RawBlockSize = 1024;
constexpr uint8_t EscapeCode = 15;

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

// 1024 for each block of size 0 or 1024, 2 x s for any other positive size s,
// nothing for a negative size (such a block is passed over).
uint64_t sampleCapacityOf(const SourceEntryData& data);

// false when the samples cannot be reserved (or their byte count does not fit
// 32 bits); nothing else fails.
//
// Where the data does not follow the format, decoding stays inside it: a
// negative block size is passed over (no samples, the cursor stays), bytes
// past compressedLength are never read (a block cut short decodes only the
// bytes present), and an escape code whose value nibbles lie past the last
// byte ends its block without a sample. Within the data, an escape code in
// the last two nibbles of a block takes its value nibbles from the bytes that
// follow the block, while the next block still starts s bytes on.
bool decodeSourceEntry(const SourceEntryData& data, DecodedEntry* decoded);

// The same decoding as a plain loop over nibbles, one sample at a time; the
// definition every faster path is tested against.
bool decodeSourceEntryReference(const SourceEntryData& data, DecodedEntry* decoded);
