// Reading and decoding one entry of a source archive, as a run does before
// it encodes the entry and as a check of a folder does instead of encoding.
#pragma once

#include <cstdint>
#include <cstdio>

#include "archive/block_decoder.h"
#include "archive/source_archive.h"

// How reading and decoding one entry ended.
enum class EntryOutcome {
    Decoded,
    Unreadable,  // the entry breaks the format, or its PCM would not fit 32 bits
    NoMemory,    // its data or samples could not be reserved
};

// Reads entry index of table from source and decodes it, without a word to
// the user: why an entry could not be read is kept in *why (Ok for PCM too
// long for the encoder's 32-bit byte count).
EntryOutcome readAndDecodeEntry(std::FILE* source, const SourceEntry* table, int32_t index,
                                DecodedEntry* decoded, EntryReadResult* why);

// The sample rate an archive's header field stands for.
inline uint32_t effectiveSampleRate(uint32_t headerRate) {
    return headerRate != 0 ? headerRate : SourceDefaultSampleRate;
}

// Length of sampleCount samples at sampleRate (not 0), in milliseconds.
inline int64_t audioMilliseconds(uint64_t sampleCount, uint32_t sampleRate) {
    return static_cast<int64_t>(sampleCount * 1000 / sampleRate);
}
