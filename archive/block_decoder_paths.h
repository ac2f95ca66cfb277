// The per-block decoding paths behind decodeSourceEntry. Every path decodes
// one block that starts at byte `start` of an entry's `length` compressed
// bytes, appends its samples at out and returns how many; none reads at or
// past bytes + length. The *Reference paths are the plain nibble loop.
#pragma once

#include <cstdint>

uint64_t decodeDeltaBlockReference(const uint8_t* bytes, uint64_t length, uint64_t start,
                                   uint64_t size, int16_t* out);
uint64_t decodeRawBlockReference(const uint8_t* bytes, uint64_t length, uint64_t start,
                                 int16_t* out);

// The faster paths: each picks its own way by the block's size and hands a
// block that ends too near the end of the data to the reference loop.
uint64_t decodeDeltaBlock(const uint8_t* bytes, uint64_t length, uint64_t start, uint64_t size,
                          int16_t* out);
uint64_t decodeRawBlock(const uint8_t* bytes, uint64_t length, uint64_t start, int16_t* out);

// Derived tables of the faster paths; built by buildDecodeTables.
void buildFastDecodeTables();
