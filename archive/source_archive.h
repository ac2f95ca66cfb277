// Reading source voice archives ("VUDPAC"): the file-name rule, the 32-byte
// header, the entry table with its in-memory sentinel, and one entry's data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

constexpr int32_t SourceHeaderSize = 32;
constexpr int32_t SourceEntrySize = 8;
constexpr uint16_t SentinelEntryId = 0xFFFF;
// The rate of an archive whose header's rate field is 0.
constexpr uint32_t SourceDefaultSampleRate = 22050;

// One record of the entry table, kept in memory with exactly the on-disk
// layout because the conversion rewrites it in place and writes it out.
struct SourceEntry {
    uint16_t id;
    uint16_t blockCount;
    uint32_t offset;
};
static_assert(sizeof(SourceEntry) == 8);
static_assert(offsetof(SourceEntry, id) == 0);
static_assert(offsetof(SourceEntry, blockCount) == 2);
static_assert(offsetof(SourceEntry, offset) == 4);

// entryCount records followed by the sentinel; null entries means failure.
struct SourceEntryTable {
    std::unique_ptr<SourceEntry[]> entries;
    int32_t entryCount = 0;
};

// One entry's data as read: the block sizes and the compressed bytes.
// Owned by the caller; both buffers are released with it.
struct SourceEntryData {
    std::unique_ptr<int16_t[]> blockSizes;
    std::unique_ptr<uint8_t[]> compressedBytes;
    uint32_t blockCount = 0;
    uint64_t compressedLength = 0;
};

// File number 0..999 of a bare name "z###.vud" (any letter case), else -1.
int32_t parseSourceFileName(const char* name);

// 0 on success (position 32 afterwards), -1 on failure. Either out-value may be null.
int32_t readSourceHeader(std::FILE* file, int32_t* entryCount, uint32_t* sampleRate);

// entryCount + 1 records (the last one the sentinel); entries is null on failure.
// A table that the file is too short to hold fails before anything is reserved.
SourceEntryTable readSourceEntryTable(std::FILE* file, int32_t entryCount);

// Entry i of table (0 <= i < entryCount). Returns false on failure; a size-rule
// failure has already written "invalid vud size (id:%d)\n" to standard error.
bool readSourceEntryData(std::FILE* file, const SourceEntry* table, int32_t i,
                         SourceEntryData* data);

// Why one entry could not be read, for tools that explain a bad archive.
enum class EntryReadResult {
    Ok,
    NoMemory,       // the size list or the compressed bytes could not be reserved
    SeekFailed,     // the entry's offset cannot be reached
    ShortSizeList,  // the file ends inside the size list
    NegativeSize,   // a block size of 0x8000..0xFFFF (reported like SizeRule)
    SizeRule,       // the sizes add up to more than the room up to the next entry
    ShortData,      // the file ends before the compressed bytes the sizes promise
};

// readSourceEntryData with the reason of a failure. The size-rule message is
// written only when reportSizeRule is set (readSourceEntryData sets it).
EntryReadResult readSourceEntryDataChecked(std::FILE* file, const SourceEntry* table, int32_t i,
                                           SourceEntryData* data, bool reportSizeRule);

// What a run says of an entry that breaks the size rule (its id fills %u).
constexpr const char* SizeRuleMessageFormat = "invalid vud size (id:%u)";

// Writes what a run says of an entry that could not be read: the size-rule
// message for a size-rule failure, nothing for any other result.
void reportEntryReadResult(const SourceEntry& entry, EntryReadResult result);

// A short English text for a result, e.g. "size list cut short by the end of the file".
const char* describeEntryReadResult(EntryReadResult result);
