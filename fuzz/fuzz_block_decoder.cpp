// Any bytes as one entry's data handed straight to the decoder, so that block
// sizes the reader would refuse (negative, larger than the data) reach it
// too: the fast paths must match the reference loop and stay inside the data.
//
// Layout of an input: one byte n (blocks, 0..255), n little-endian 16-bit
// sizes, then the compressed bytes (whatever is left).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "archive/block_decoder.h"
#include "archive/byte_order.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    buildDecodeTables();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size == 0) return 0;
    const uint32_t blockCount = bytes[0];
    if (size < 1 + 2 * static_cast<size_t>(blockCount)) return 0;
    SourceEntryData data;
    data.blockCount = blockCount;
    data.blockSizes.reset(new int16_t[blockCount]);
    for (uint32_t b = 0; b < blockCount; ++b) {
        const uint8_t* p = bytes + 1 + 2 * b;
        // Sizes of 1024 (raw) and near it are rare in random bytes: map a few
        // high values onto them so every path gets its share.
        uint16_t raw = readLe16(p);
        if ((raw & 0xF000) == 0x7000) raw = static_cast<uint16_t>(1024 + (raw & 0x7) - 3);
        data.blockSizes[b] = static_cast<int16_t>(raw);
    }
    // The compressed bytes in a buffer of their own size, so any read past
    // them is caught by the address sanitizer.
    const size_t length = size - 1 - 2 * static_cast<size_t>(blockCount);
    data.compressedLength = length;
    data.compressedBytes.reset(new uint8_t[length]);
    if (length != 0) std::memcpy(data.compressedBytes.get(), bytes + 1 + 2 * blockCount, length);

    DecodedEntry fast;
    DecodedEntry reference;
    const bool fastOk = decodeSourceEntry(data, &fast);
    const bool referenceOk = decodeSourceEntryReference(data, &reference);
    if (fastOk != referenceOk) std::abort();
    if (!fastOk) return 0;
    if (fast.sampleCount != reference.sampleCount) std::abort();
    if (fast.sampleCount > fast.sampleCapacity) std::abort();
    if (fast.sampleCount != 0 &&
        std::memcmp(fast.samples.get(), reference.samples.get(), 2 * fast.sampleCount) != 0) {
        std::abort();
    }
    return 0;
}
