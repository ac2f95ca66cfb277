#include "archive/block_decoder.h"

#include <cstring>
#include <new>

#include "archive/block_decoder_paths.h"

DecodeTables decodeTables;

void buildDecodeTables() {
    for (int32_t i = 0; i < 256; ++i) {
        const int32_t v = i - 128;
        decodeTables.sampleTable[i] = static_cast<int16_t>(2 * v * (v < 0 ? -v : v));
        const int32_t step = (i & 1) != 0 ? (i + 1) / 2 : -i / 2;
        decodeTables.deltaTable[i] = static_cast<int8_t>(static_cast<uint8_t>(step & 0xFF));
    }
    buildFastDecodeTables();
}

uint64_t sampleCapacityOf(const SourceEntryData& data) {
    uint64_t capacity = 0;
    for (uint32_t b = 0; b < data.blockCount; ++b) {
        const int32_t s = data.blockSizes[b];
        if (s == 0 || s == RawBlockSize) {
            capacity += SamplesPerFixedBlock;
        } else if (s > 0) {
            capacity += 2 * static_cast<uint64_t>(s);
        }
    }
    return capacity;
}

namespace {

// Reserves the one output buffer of an entry; false when it cannot be had.
bool reserveSamples(const SourceEntryData& data, DecodedEntry* decoded) {
    const uint64_t capacity = sampleCapacityOf(data);
    if (capacity * 2 > UINT32_MAX) return false;
    std::unique_ptr<int16_t[]> samples(new (std::nothrow) int16_t[static_cast<size_t>(capacity)]);
    if (!samples) return false;
    decoded->samples = std::move(samples);
    decoded->sampleCount = 0;
    decoded->sampleCapacity = capacity;
    return true;
}

}  // namespace

uint64_t decodeDeltaBlockReference(const uint8_t* bytes, uint64_t length, uint64_t start,
                                   uint64_t size, int16_t* out) {
    // Nibble j lies in byte start + j / 2; it exists while that is below length.
    const uint64_t available = length > start ? (length - start) * 2 : 0;
    const uint8_t* block = bytes + start;
    auto nibble = [block](uint64_t j) -> uint8_t {
        const uint8_t byte = block[j / 2];
        return (j & 1) != 0 ? byte >> 4 : byte & 0x0F;
    };
    uint8_t accumulator = 0;
    uint64_t count = 0;
    uint64_t j = 0;
    while (j < 2 * size) {
        if (j >= available) break;
        const uint8_t code = nibble(j++);
        uint8_t value = code;
        if (code == EscapeCode) {
            if (j + 1 >= available) break;  // the value nibbles are missing
            value = static_cast<uint8_t>(nibble(j) | (nibble(j + 1) << 4));
            j += 2;
        }
        accumulator = static_cast<uint8_t>(accumulator + decodeTables.deltaTable[value]);
        out[count++] = decodeTables.sampleTable[accumulator];
    }
    return count;
}

uint64_t decodeDeltaNibbles(const uint8_t* block, uint64_t available, uint64_t j, uint64_t end,
                            uint8_t accumulator, int16_t* out) {
    auto nibble = [block](uint64_t n) -> uint8_t {
        const uint8_t byte = block[n / 2];
        return (n & 1) != 0 ? byte >> 4 : byte & 0x0F;
    };
    uint64_t count = 0;
    while (j < end && j < available) {
        const uint8_t code = nibble(j++);
        uint8_t value = code;
        if (code == EscapeCode) {
            if (j + 1 >= available) break;
            value = static_cast<uint8_t>(nibble(j) | (nibble(j + 1) << 4));
            j += 2;
        }
        accumulator = static_cast<uint8_t>(accumulator + decodeTables.deltaTable[value]);
        out[count++] = decodeTables.sampleTable[accumulator];
    }
    return count;
}

uint64_t decodeRawBlockReference(const uint8_t* bytes, uint64_t length, uint64_t start,
                                 int16_t* out) {
    const uint64_t available = length > start ? length - start : 0;
    const uint64_t count = available < SamplesPerFixedBlock ? available : SamplesPerFixedBlock;
    for (uint64_t k = 0; k < count; ++k) out[k] = decodeTables.sampleTable[bytes[start + k]];
    return count;
}

bool decodeSourceEntryReference(const SourceEntryData& data, DecodedEntry* decoded) {
    if (!reserveSamples(data, decoded)) return false;
    const uint8_t* bytes = data.compressedBytes.get();
    const uint64_t length = data.compressedLength;
    int16_t* out = decoded->samples.get();
    uint64_t count = 0;
    uint64_t cursor = 0;
    for (uint32_t b = 0; b < data.blockCount; ++b) {
        const int32_t s = data.blockSizes[b];
        if (s < 0) continue;
        if (s == 0) {
            for (int32_t k = 0; k < SamplesPerFixedBlock; ++k) out[count++] = 0;
        } else if (s == RawBlockSize) {
            count += decodeRawBlockReference(bytes, length, cursor, out + count);
        } else {
            count += decodeDeltaBlockReference(bytes, length, cursor, static_cast<uint64_t>(s),
                                               out + count);
        }
        cursor += static_cast<uint64_t>(s);
    }
    decoded->sampleCount = count;
    return true;
}

bool decodeSourceEntry(const SourceEntryData& data, DecodedEntry* decoded) {
    if (!reserveSamples(data, decoded)) return false;
    const uint8_t* bytes = data.compressedBytes.get();
    const uint64_t length = data.compressedLength;
    int16_t* out = decoded->samples.get();
    DeltaChunkScratch scratch;
    uint64_t count = 0;
    uint64_t cursor = 0;
    for (uint32_t b = 0; b < data.blockCount; ++b) {
        const int32_t s = data.blockSizes[b];
        if (s < 0) continue;
        if (s == 0) {
            std::memset(out + count, 0, SamplesPerFixedBlock * sizeof(int16_t));
            count += SamplesPerFixedBlock;
        } else if (s == RawBlockSize) {
            count += decodeRawBlock(bytes, length, cursor, out + count);
        } else {
            count += decodeDeltaBlock(bytes, length, cursor, static_cast<uint64_t>(s), out + count,
                                      &scratch);
        }
        cursor += static_cast<uint64_t>(s);
    }
    decoded->sampleCount = count;
    return true;
}
