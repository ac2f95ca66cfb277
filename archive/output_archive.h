// The output archive ("VUDMP3"): header, master index and archive blocks.
// Records are written through little-endian helpers; the structs pin the
// on-disk layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "archive/source_archive.h"

constexpr int32_t OutputHeaderSize = 32;
constexpr int32_t MasterIndexEntrySize = 8;
constexpr int32_t OutputEntrySize = 8;
constexpr uint32_t ArchiveKeyFileNumberFactor = 100000;
// Offsets are 32-bit fields positioned with signed 32-bit seeks.
constexpr int64_t OutputArchiveLimit = int64_t{1} << 31;

struct OutputHeader {
    char magic[6];  // "VUDMP3"
    uint8_t reserved1[10];
    uint32_t archiveCount;
    uint8_t reserved2[12];
};
static_assert(sizeof(OutputHeader) == 32);
static_assert(offsetof(OutputHeader, archiveCount) == 16);

struct MasterIndexEntry {
    uint32_t archiveKey;  // file number * 100000 + entry count
    uint32_t blockOffset;
};
static_assert(sizeof(MasterIndexEntry) == 8);
static_assert(offsetof(MasterIndexEntry, blockOffset) == 4);

// The source entry record with new meanings: blockCount 0, streamSize.
struct OutputEntry {
    uint16_t id;
    uint16_t blockCount;
    uint32_t streamSize;
};
static_assert(sizeof(OutputEntry) == 8);
static_assert(offsetof(OutputEntry, streamSize) == 4);
static_assert(sizeof(OutputEntry) == sizeof(SourceEntry));

constexpr char OutputMagic[6] = {'V', 'U', 'D', 'M', 'P', '3'};
constexpr int32_t OutputBlockAlignment = 8;

// Zero bytes that pad a block of blockSize bytes to the next multiple of 8.
inline int32_t blockPaddingFor(int64_t blockSize) {
    return static_cast<int32_t>((OutputBlockAlignment - blockSize % OutputBlockAlignment) %
                                OutputBlockAlignment);
}

// Whether a block of blockSize bytes at blockOffset, padded, ends below 2^31:
// every offset of the format is a 32-bit field positioned with signed 32-bit
// seeks.
inline bool outputBlockFits(int64_t blockOffset, int64_t blockSize) {
    return blockOffset + blockSize + blockPaddingFor(blockSize) < OutputArchiveLimit;
}

// The 32 header bytes: magic, archiveCount at byte 16, every other byte zero.
void encodeOutputHeader(uint8_t bytes[OutputHeaderSize], uint32_t archiveCount);

// Every writer below returns false unless all its bytes were handed to the
// stream; a stream that reports an error afterwards is treated the same way.
bool writeOutputHeader(std::FILE* output, uint32_t archiveCount);
bool writeMasterIndex(std::FILE* output, const MasterIndexEntry* records, uint32_t count);
// count records of an archive block's entry table, exactly as they stand in
// memory (the placeholder copy of the source's table, or the rewritten one).
bool writeEntryTable(std::FILE* output, const SourceEntry* table, int32_t count);
bool writeZeroBytes(std::FILE* output, int64_t count);
// Start of a run: 32 zero bytes for the header, then 8 * archiveCount for the index.
bool writeOutputPlaceholders(std::FILE* output, uint32_t archiveCount);

// --- Reading an output archive back (vudinfo and tests; the converter never
// reads its output).

struct OutputStreamExtent {
    uint16_t id;
    uint16_t blockCount;  // 0 in a valid archive
    uint32_t streamSize;
    int64_t streamOffset;  // absolute
};

struct OutputArchiveBlock {
    uint32_t archiveKey;
    uint32_t blockOffset;
    int32_t fileNumber;
    int32_t entryCount;
    int64_t blockSize;  // padding included
    int32_t padding;
    std::unique_ptr<OutputStreamExtent[]> entries;
};

constexpr int32_t OutputReasonCapacity = 256;

struct OutputArchiveLayout {
    uint32_t archiveCount = 0;
    int64_t fileLength = 0;
    std::unique_ptr<OutputArchiveBlock[]> blocks;  // archiveCount blocks
    char reason[OutputReasonCapacity] = {};        // why the archive is invalid
};

// Reads the header, the master index and every block's table, and checks
// every invariant of the format: magic and zero reserved bytes, blocks back
// to back from 32 + 8 * archiveCount to the end of the file, each a multiple
// of 8 with zero padding, tables whose stream sizes fill their block, every
// blockCount 0, file numbers 0..999, a file shorter than 2^31 bytes.
// false with layout->reason filled when the file is not a valid archive.
bool readOutputArchive(std::FILE* file, OutputArchiveLayout* layout);
