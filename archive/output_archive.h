// The output archive ("VUDMP3"): header, master index and archive blocks.
// Records are written through little-endian helpers; the structs pin the
// on-disk layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

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
