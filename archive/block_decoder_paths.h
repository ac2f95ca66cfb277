// The per-block decoding paths behind decodeSourceEntry. Every path decodes
// one block that starts at byte `start` of an entry's `length` compressed
// bytes, appends its samples at out and returns how many; none reads at or
// past bytes + length, and none writes past the block's share of the
// capacity (1024 samples for a raw block, 2 x size for a delta block).
#pragma once

#include <cstdint>

// The plain nibble loop: the definition the other paths are tested against.
uint64_t decodeDeltaBlockReference(const uint8_t* bytes, uint64_t length, uint64_t start,
                                   uint64_t size, int16_t* out);
uint64_t decodeRawBlockReference(const uint8_t* bytes, uint64_t length, uint64_t start,
                                 int16_t* out);

// The nibble loop resumed inside a block: nibbles j up to (not including)
// end, from accumulator `accumulator`; nibbles at or past `available` do not
// exist. Used for the ends of blocks that the chunked path leaves over.
uint64_t decodeDeltaNibbles(const uint8_t* block, uint64_t available, uint64_t j, uint64_t end,
                            uint8_t accumulator, int16_t* out);

// The faster paths (block_decoder_fast.cpp). A delta block is decoded in
// chunks of 32 nibbles: the escape codes of a chunk are found all at once
// from its 15-nibbles, a chunk without escape codes writes its 32 samples
// straight out, and a chunk with escape codes drops their value nibbles as it
// writes. What is left at the end of the block, or too near the end of the
// data for 17-byte loads, goes through decodeDeltaNibbles.
constexpr uint32_t DeltaChunkNibbles = 32;
// Per chunk, the sample of each nibble and where it goes.
// The caller provides it so that it lives in memory, where reading it back
// byte by byte is one load each (as a local it would be kept in vector
// registers and spilled for every byte).
struct DeltaChunkScratch {
    alignas(16) int16_t samples[DeltaChunkNibbles];
    alignas(16) uint8_t positions[DeltaChunkNibbles];
};
uint64_t decodeDeltaBlock(const uint8_t* bytes, uint64_t length, uint64_t start, uint64_t size,
                          int16_t* out, DeltaChunkScratch* scratch);
uint64_t decodeRawBlock(const uint8_t* bytes, uint64_t length, uint64_t start, int16_t* out);

// Derived tables of the faster paths; built by buildDecodeTables.
void buildFastDecodeTables();
