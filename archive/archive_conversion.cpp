#include "archive/archive_conversion.h"

#include <cstdint>
#include <cstdio>
#include <limits>

#include "app/shell_state.h"
#include "app/status_services.h"
#include "archive/block_decoder.h"
#include "archive/source_archive.h"
#include "encoder/entry_encoding.h"
#include "platform/console_text.h"
#include "platform/files.h"
#include "platform/owned_file.h"
#include "platform/path_limits.h"
#include "worker/source_scan.h"

namespace {

constexpr uint32_t DefaultSampleRate = 22050;
constexpr int32_t LargeEntryCount = 100000;
// Room for an archive name of a full path's length plus " (nnn/nnn)" with
// counts of any 32-bit width.
constexpr int32_t LabelCapacity = PathCapacity + 32;
constexpr int32_t WarningCapacity = 64;

// The whole block must end below 2^31: every offset of the format is a
// 32-bit field positioned with signed 32-bit seeks.
bool blockFits(int32_t blockOffset, int64_t blockSize) {
    int64_t padded = blockSize + blockPaddingFor(blockSize);
    return int64_t{blockOffset} + padded < OutputArchiveLimit;
}

int64_t audioMilliseconds(uint64_t sampleCount, uint32_t sampleRate) {
    return static_cast<int64_t>(sampleCount * 1000 / sampleRate);
}

}  // namespace

int32_t writeArchiveBlock(const char* archiveName, std::FILE* source, std::FILE* output,
                          int32_t blockOffset, int32_t bitRate) {
    int32_t entryCount = 0;
    uint32_t sampleRate = 0;
    if (readSourceHeader(source, &entryCount, &sampleRate) < 0) return -1;
    if (entryCount < 1) return -1;
    if (sampleRate == 0) sampleRate = DefaultSampleRate;

    int64_t blockSize = int64_t{OutputEntrySize} * entryCount;
    if (blockOffset < 0 || !blockFits(blockOffset, blockSize)) return -1;

    SourceEntryTable table = readSourceEntryTable(source, entryCount);
    if (!table.entries) return -1;
    SourceEntry* entries = table.entries.get();

    if (!writeEntryTable(output, entries, entryCount)) return -1;

    for (int32_t i = 0; i < entryCount; ++i) {
        char label[LabelCapacity];
        int written =
            std::snprintf(label, sizeof(label), "%s (%3d/%3d)", archiveName, i + 1, entryCount);
        if (written < 0 || written >= LabelCapacity) return -1;

        DecodedEntry decoded;
        {
            SourceEntryData data;
            if (!readSourceEntryData(source, entries, i, &data)) return -1;
            if (!decodeSourceEntry(data, &decoded)) return -1;
        }  // the entry's compressed data is released before it is encoded
        const uint64_t decodedSamples = decoded.sampleCount;
        uint64_t byteCount = decoded.sampleCount * sizeof(int16_t);
        if (byteCount > std::numeric_limits<uint32_t>::max()) return -1;

        // The rate's bits reach the library unchanged, whatever their value:
        // the library judges the rate, and its refusal fails this entry.
        int32_t streamSize =
            encodeEntry(label, output, static_cast<int32_t>(sampleRate), decoded.samples.get(),
                        static_cast<uint32_t>(byteCount), bitRate);
        decoded.samples.reset();
        if (streamSize < 0) {
            char warning[WarningCapacity];
            std::snprintf(warning, sizeof(warning), "cant encode/write mp3 (id:%d)\n",
                          static_cast<int>(entries[i].id));
            showWarning(warning);
            return -1;
        }
        entries[i].blockCount = 0;
        entries[i].offset = static_cast<uint32_t>(streamSize);
        blockSize += streamSize;
        if (!blockFits(blockOffset, blockSize)) return -1;

        convertedEntryCount += 1;
        convertedAudioMilliseconds.fetch_add(audioMilliseconds(decodedSamples, sampleRate));
        showProgress();
    }

    if (std::fseek(output, blockOffset, SEEK_SET) != 0) return -1;
    if (!writeEntryTable(output, entries, entryCount)) return -1;
    if (std::fseek(output, 0, SEEK_END) != 0) return -1;
    table.entries.reset();

    int32_t padding = blockPaddingFor(blockSize);
    if (!writeZeroBytes(output, padding)) return -1;
    blockSize += padding;
    if (std::ferror(output) != 0) return -1;
    return static_cast<int32_t>(blockSize);
}

int32_t convertSourceArchive(const char* archiveName, std::FILE* output, int32_t blockOffset,
                             MasterIndexEntry* masterIndex, int32_t archiveIndex) {
    // A path that does not fit is refused, never cut to another file's name.
    char fullPath[PathCapacity];
    int pathLength = std::snprintf(fullPath, sizeof(fullPath), "%s%s", sourceFolder, archiveName);
    if (pathLength < 0 || pathLength >= PathCapacity) return 0;

    int32_t fileNumber = parseSourceFileName(archiveName);
    if (fileNumber < 0) return 0;

    // Never waits on a pipe planted under an archive's name: only a regular
    // file is read.
    OwnedFile source = openSourceFile(fullPath);
    if (!source) return 0;

    int32_t entryCount = 0;
    if (readSourceHeader(source.get(), &entryCount, nullptr) < 0) return 0;
    if (entryCount < 1) return 0;
    if (entryCount >= LargeEntryCount) consolePrint(stderr, "VUD files over (%s)\n", archiveName);

    masterIndex[archiveIndex].archiveKey =
        static_cast<uint32_t>(fileNumber) * ArchiveKeyFileNumberFactor +
        static_cast<uint32_t>(entryCount);
    masterIndex[archiveIndex].blockOffset = static_cast<uint32_t>(blockOffset);

    int32_t row = bitRateSelection.load();
    int32_t blockSize = -1;
    if (row >= 0 && row < BitRateRowCount) {
        blockSize = writeArchiveBlock(archiveName, source.get(), output, blockOffset,
                                      BitRateTable[row].kbps);
    }
    if (blockSize < 0) {
        consolePuts(stderr, "can't convert\n");
        return 0;
    }
    return blockSize;
}
