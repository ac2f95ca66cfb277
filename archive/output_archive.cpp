#include "archive/output_archive.h"

#include <cstdarg>
#include <cstring>
#include <new>

#include "archive/byte_order.h"
#include "platform/owned_file.h"

namespace {

// Records are encoded into a small stack buffer and written in runs, so a
// table of any length needs no allocation.
constexpr int32_t RecordsPerRun = 512;

bool writeAll(std::FILE* output, const void* bytes, size_t count) {
    if (count == 0) return std::ferror(output) == 0;
    return std::fwrite(bytes, 1, count, output) == count && std::ferror(output) == 0;
}

void encodeEntryRecord(uint8_t* p, const SourceEntry& entry) {
    writeLe16(p, entry.id);
    writeLe16(p + 2, entry.blockCount);
    writeLe32(p + 4, entry.offset);
}

void encodeIndexRecord(uint8_t* p, const MasterIndexEntry& record) {
    writeLe32(p, record.archiveKey);
    writeLe32(p + 4, record.blockOffset);
}

// Both record kinds are 8 bytes, so one run buffer serves them.
static_assert(MasterIndexEntrySize == OutputEntrySize);

template <typename Record>
bool writeRecords(std::FILE* output, const Record* records, uint32_t count,
                  void (*encode)(uint8_t*, const Record&)) {
    uint8_t run[RecordsPerRun * OutputEntrySize];
    uint32_t done = 0;
    while (done < count) {
        uint32_t n = count - done < RecordsPerRun ? count - done : RecordsPerRun;
        for (uint32_t i = 0; i < n; ++i) encode(run + i * OutputEntrySize, records[done + i]);
        if (!writeAll(output, run, size_t{n} * OutputEntrySize)) return false;
        done += n;
    }
    return std::ferror(output) == 0;
}

}  // namespace

void encodeOutputHeader(uint8_t bytes[OutputHeaderSize], uint32_t archiveCount) {
    std::memset(bytes, 0, OutputHeaderSize);
    std::memcpy(bytes, OutputMagic, sizeof(OutputMagic));
    writeLe32(bytes + offsetof(OutputHeader, archiveCount), archiveCount);
}

bool writeOutputHeader(std::FILE* output, uint32_t archiveCount) {
    uint8_t bytes[OutputHeaderSize];
    encodeOutputHeader(bytes, archiveCount);
    return writeAll(output, bytes, sizeof(bytes));
}

bool writeMasterIndex(std::FILE* output, const MasterIndexEntry* records, uint32_t count) {
    return writeRecords(output, records, count, encodeIndexRecord);
}

bool writeEntryTable(std::FILE* output, const SourceEntry* table, int32_t count) {
    if (count < 0) return false;
    return writeRecords(output, table, static_cast<uint32_t>(count), encodeEntryRecord);
}

bool writeZeroBytes(std::FILE* output, int64_t count) {
    static const uint8_t zeros[4096] = {};
    if (count < 0) return false;
    while (count > 0) {
        size_t n = count < static_cast<int64_t>(sizeof(zeros)) ? static_cast<size_t>(count)
                                                               : sizeof(zeros);
        if (!writeAll(output, zeros, n)) return false;
        count -= static_cast<int64_t>(n);
    }
    return std::ferror(output) == 0;
}

bool writeOutputPlaceholders(std::FILE* output, uint32_t archiveCount) {
    return writeZeroBytes(output, OutputHeaderSize + int64_t{MasterIndexEntrySize} * archiveCount);
}

// ---------------------------------------------------------------------------
// Reading back.

namespace {

bool invalid(OutputArchiveLayout* layout, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(layout->reason, sizeof(layout->reason), format, arguments);
    va_end(arguments);
    return false;
}

bool readExactly(std::FILE* file, int64_t offset, void* bytes, size_t count) {
    if (!seekFile(file, offset, SEEK_SET)) return false;
    return std::fread(bytes, 1, count, file) == count;
}

bool readNextRecord(std::FILE* file, SourceEntry* entry) {
    uint8_t p[OutputEntrySize];
    if (std::fread(p, 1, sizeof(p), file) != sizeof(p)) return false;
    entry->id = readLe16(p);
    entry->blockCount = readLe16(p + 2);
    entry->offset = readLe32(p + 4);
    return true;
}

int64_t roundUpToBlock(int64_t size) {
    return size + blockPaddingFor(size);
}

// The key holds file number * 100000 + entry count, so a count of 100000 or
// more reaches into the file-number part. The block's size settles it: only
// one candidate count (key mod 100000, plus multiples of 100000) can have a
// table whose stream sizes fill the block exactly, because each further
// candidate adds at least 800000 table bytes. 0 when none fits.
int32_t findEntryCount(std::FILE* file, uint32_t key, int64_t blockOffset, int64_t blockSize) {
    constexpr uint32_t Factor = ArchiveKeyFileNumberFactor;
    constexpr uint32_t LargestFileNumber = 999;
    uint64_t candidate = key % Factor == 0 ? Factor : key % Factor;
    while (candidate + uint64_t{LargestFileNumber} * Factor < key) candidate += Factor;
    if (candidate > key) return 0;
    if (!seekFile(file, blockOffset, SEEK_SET)) return 0;
    int64_t used = 0;  // table and streams of the records read so far
    for (uint64_t count = 1; count <= key; ++count) {
        SourceEntry entry;
        if (!readNextRecord(file, &entry)) return 0;
        used += OutputEntrySize + int64_t{entry.offset};
        if (used > blockSize) return 0;
        if (count < candidate) continue;
        if (roundUpToBlock(used) == blockSize) return static_cast<int32_t>(count);
        candidate += Factor;
        if (candidate > key) return 0;
    }
    return 0;
}

bool readBlock(std::FILE* file, OutputArchiveLayout* layout, uint32_t k, int64_t blockSize) {
    OutputArchiveBlock& block = layout->blocks[k];
    block.blockSize = blockSize;
    block.entryCount = findEntryCount(file, block.archiveKey, block.blockOffset, blockSize);
    if (block.entryCount < 1) {
        return invalid(layout,
                       "archive %u (key %u, offset %u): no entry count fits its key and its "
                       "block of %lld bytes",
                       k, block.archiveKey, block.blockOffset, static_cast<long long>(blockSize));
    }
    block.fileNumber = static_cast<int32_t>(
        (block.archiveKey - static_cast<uint32_t>(block.entryCount)) / ArchiveKeyFileNumberFactor);
    block.entries.reset(new (std::nothrow) OutputStreamExtent[block.entryCount]);
    if (!block.entries) return invalid(layout, "archive %u: no memory for its table", k);
    if (!seekFile(file, block.blockOffset, SEEK_SET)) {
        return invalid(layout, "archive %u: cannot seek to its block", k);
    }
    int64_t streamOffset = int64_t{block.blockOffset} + int64_t{OutputEntrySize} * block.entryCount;
    for (int32_t i = 0; i < block.entryCount; ++i) {
        SourceEntry record;
        if (!readNextRecord(file, &record)) return invalid(layout, "archive %u: short table", k);
        if (record.blockCount != 0) {
            return invalid(layout, "archive %u entry %d (id %u): block count %u, not 0", k, i,
                           record.id, record.blockCount);
        }
        block.entries[i] = {record.id, record.blockCount, record.offset, streamOffset};
        streamOffset += record.offset;
    }
    block.padding = static_cast<int32_t>(int64_t{block.blockOffset} + blockSize - streamOffset);
    uint8_t padding[OutputBlockAlignment];
    if (!readExactly(file, streamOffset, padding, static_cast<size_t>(block.padding))) {
        return invalid(layout, "archive %u: cannot read its padding", k);
    }
    for (int32_t i = 0; i < block.padding; ++i) {
        if (padding[i] != 0)
            return invalid(layout, "archive %u: padding byte %d is not zero", k, i);
    }
    return true;
}

}  // namespace

bool readOutputArchive(std::FILE* file, OutputArchiveLayout* layout) {
    layout->reason[0] = '\0';
    layout->archiveCount = 0;
    layout->blocks.reset();
    if (!seekFile(file, 0, SEEK_END)) return invalid(layout, "cannot seek");
    layout->fileLength = tellFile(file);
    if (layout->fileLength < 0) return invalid(layout, "cannot tell the file's length");
    if (layout->fileLength >= OutputArchiveLimit) {
        return invalid(layout, "%lld bytes: an archive is shorter than 2^31 bytes",
                       static_cast<long long>(layout->fileLength));
    }
    uint8_t header[OutputHeaderSize];
    if (!readExactly(file, 0, header, sizeof(header))) return invalid(layout, "no 32-byte header");
    if (std::memcmp(header, OutputMagic, sizeof(OutputMagic)) != 0) {
        return invalid(layout, "magic is not VUDMP3");
    }
    for (int32_t i = sizeof(OutputMagic); i < OutputHeaderSize; ++i) {
        bool countByte = i >= 16 && i < 20;
        if (!countByte && header[i] != 0) {
            return invalid(layout, "reserved header byte %d is not zero", i);
        }
    }
    layout->archiveCount = readLe32(header + offsetof(OutputHeader, archiveCount));
    if (layout->archiveCount == 0) return invalid(layout, "archive count is 0");
    int64_t indexEnd = OutputHeaderSize + int64_t{MasterIndexEntrySize} * layout->archiveCount;
    if (indexEnd > layout->fileLength) {
        return invalid(layout, "master index of %u records runs past the end of the file",
                       layout->archiveCount);
    }
    layout->blocks.reset(new (std::nothrow) OutputArchiveBlock[layout->archiveCount]);
    if (!layout->blocks) return invalid(layout, "no memory for the master index");
    for (uint32_t k = 0; k < layout->archiveCount; ++k) {
        uint8_t p[MasterIndexEntrySize];
        if (!readExactly(file, OutputHeaderSize + int64_t{MasterIndexEntrySize} * k, p,
                         sizeof(p))) {
            return invalid(layout, "cannot read index record %u", k);
        }
        layout->blocks[k].archiveKey = readLe32(p);
        layout->blocks[k].blockOffset = readLe32(p + 4);
    }
    int64_t expected = indexEnd;
    for (uint32_t k = 0; k < layout->archiveCount; ++k) {
        OutputArchiveBlock& block = layout->blocks[k];
        if (int64_t{block.blockOffset} != expected) {
            return invalid(layout, "index record %u (key %u): block offset %u, expected %lld", k,
                           block.archiveKey, block.blockOffset, static_cast<long long>(expected));
        }
        int64_t end = k + 1 < layout->archiveCount ? int64_t{layout->blocks[k + 1].blockOffset}
                                                   : layout->fileLength;
        int64_t blockSize = end - expected;
        if (blockSize < OutputEntrySize || blockSize % OutputBlockAlignment != 0) {
            return invalid(layout, "archive %u (key %u): block of %lld bytes", k, block.archiveKey,
                           static_cast<long long>(blockSize));
        }
        if (!readBlock(file, layout, k, blockSize)) return false;
        expected = end;
    }
    return true;
}
