#include "archive/entry_decoding.h"

#include <limits>

EntryOutcome readAndDecodeEntry(std::FILE* source, const SourceEntry* table, int32_t index,
                                DecodedEntry* decoded, EntryReadResult* why) {
    SourceEntryData data;
    *why = readSourceEntryDataChecked(source, table, index, &data, false);
    if (*why == EntryReadResult::NoMemory) return EntryOutcome::NoMemory;
    if (*why != EntryReadResult::Ok) return EntryOutcome::Unreadable;
    // The library takes the PCM's byte count as 32 bits.
    if (sampleCapacityOf(data) * sizeof(int16_t) > std::numeric_limits<uint32_t>::max()) {
        return EntryOutcome::Unreadable;
    }
    // The entry's compressed data is released before it is encoded.
    return decodeSourceEntry(data, decoded) ? EntryOutcome::Decoded : EntryOutcome::NoMemory;
}
